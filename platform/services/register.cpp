#include "platform/services/register.h"

#include "platform/core/dictionary.h"
#include "platform/core/text_builder.h"
#include "platform/host/registry.h"

namespace platform {

void RegisterPlatformComponents() {
  RegisterClass<Dictionary>("Scripting.Dictionary");
  RegisterClass<TextBuilder>("StrCat.Catter");
}

}  // namespace platform
