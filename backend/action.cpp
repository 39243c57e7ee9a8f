#include "backend/action.h"

#include "platform/core/com_error.h"
#include "platform/core/variant.h"
#include "shared/error_handling.h"

namespace ferrolink {

platform::ObjectPtr OpenComponent(Role role, const std::string& type,
                                  const std::string& component_id, int32_t& error_code,
                                  const ActionSources& sources) {
  error_code = 0;
  try {
    const auto parsed = platform::erp::ParseConnectorType(type);
    if (!parsed) {
      const std::string text = NotSupportedText(type);
      LogError(kUnsupportedConnectorType, std::string(sources.not_supported), text,
               sources.not_supported);
      throw platform::ComError(kUnsupportedConnectorType, std::string(sources.not_supported), text);
    }
    platform::ObjectPtr component = NewComponent(role, *parsed);
    platform::Call(component, "Initialize", {platform::Variant(component_id)});
    return component;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    error_code = e.number() != 0 ? e.number() : kUnsupportedConnectorType;
    try {
      lib_sales::LogFailure(sources.failed, platform::Variant("VTW Type: " + type +
                                                              ", BusComponent: " + component_id));
    } catch (...) {
    }
    return nullptr;
  }
}

void CloseComponent(platform::ObjectPtr& component, std::string_view source) {
  lib_sales::Guarded(source, [&] {
    platform::ObjectPtr held = std::move(component);
    component.reset();
    platform::Call(held, "Close");
  });
}

}  // namespace ferrolink
