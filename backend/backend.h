// Backend ("Ferrolink.Backend") tells the connector version a connector type
// stands for, from a fixed table; it keeps no state.
//
// Thread-safety: no state; any number of objects on any threads.
#pragma once

#include <string>

#include "platform/core/dispatch.h"

namespace ferrolink {

class Backend : public platform::Dispatchable<Backend> {
 public:
  static const platform::ClassBinding<Backend>& Binding();

  // Sets the five outputs as texts for "tw4", "tw5" or "twkt" (exact); any
  // other type is logged and leaves them as the caller passed them.
  void VersionInfo(const std::string& iVTWType, platform::Variant& oVersion,
                   platform::Variant& oRelease, platform::Variant& oSubRelease,
                   platform::Variant& oCustomization, platform::Variant& oErrorCode);
};

}  // namespace ferrolink
