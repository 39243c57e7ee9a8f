// The open step shared by the action classes (Order, Allocate, PriceTax):
// choose the business component of the class's role for the connector type,
// create it and Initialize it with the component id. A failure is reported
// through the error code and the log, never raised.
//
// Thread-safety: no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backend/connector_classes.h"

namespace ferrolink {

struct ActionSources {
  std::string_view not_supported;  // "Ferrolink.Allocate.InitializeAction"
  std::string_view failed;         // "Allocate.InitializeAction"
};

// The initialized component, or nullptr with error_code set (0 otherwise).
platform::ObjectPtr OpenComponent(Role role, const std::string& type,
                                  const std::string& component_id, int32_t& error_code,
                                  const ActionSources& sources);

// Calls Close on the held component and lets go of it; a failure (no
// component, the connector refusing) is logged and raised under source.
void CloseComponent(platform::ObjectPtr& component, std::string_view source);

}  // namespace ferrolink
