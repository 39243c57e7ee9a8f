#include "apps/instance/instance_setup.h"

#include <mutex>

#include "backend/register.h"
#include "platform/core/com_error.h"
#include "platform/services/register.h"
#include "sales/register.h"

namespace vendra_instance {

void RegisterAllComponents() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::RegisterPlatformComponents();
    vendra::RegisterComponents();
    ferrolink::RegisterComponents();
  });
}

void CreateInstance(const std::filesystem::path& home, bool demo) {
  platform::Raise(platform::err::kInvalidProcedureCall, "vendra.init",
                  "Instance creation is not available yet");
}

}  // namespace vendra_instance
