#include "platform/services/register.h"

#include "platform/core/dictionary.h"
#include "platform/core/text_builder.h"
#include "platform/host/registry.h"
#include "platform/services/configuration.h"
#include "platform/services/data_functions.h"
#include "platform/services/log.h"
#include "platform/services/message_manager.h"

namespace platform {

void RegisterPlatformComponents() {
  RegisterClass<Dictionary>("Scripting.Dictionary");
  RegisterClass<TextBuilder>("StrCat.Catter");
  RegisterClass<Configuration>("Orvanta.Configuration");
  RegisterClass<Log>("Orvanta.Log");
  RegisterClass<DataFunctions>("Wrenlow.DataFunctions");
  RegisterClass<I18NMessageManager>("I18NMessageManager");
}

}  // namespace platform
