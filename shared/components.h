// Component creation and the per-thread caches of the shared runtime:
// Sls_GetComponent creates a component by identifier, inside the caller's
// activity when there is one; Sls_ConnectionString and Sls_DataFunctions
// keep the sales connection string and the locale-formatting component once
// per thread; NewGuidString gives new record identifiers; ReleasedComponent
// lets go of a component on every way out.
//
// Thread-safety: caches are thread_local; no locks.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/core/object.h"

namespace lib_sales {

platform::ObjectPtr Sls_GetComponent(std::string_view progid);
std::string Sls_ConnectionString();
platform::ObjectPtr Sls_DataFunctions();
// 32 upper-case hexadecimal digits; "00000000" when no GUID can be had.
std::string NewGuidString();

// A component its holder releases on every way out ("Release", or the
// operation named), as the platform's components expect of their callers; a
// failing release is ignored, since the holder is already leaving. Empty
// until reset.
class ReleasedComponent {
 public:
  ReleasedComponent() = default;
  explicit ReleasedComponent(platform::ObjectPtr object, const char* release = "Release")
      : object_(std::move(object)), release_(release) {}
  ~ReleasedComponent();
  ReleasedComponent(const ReleasedComponent&) = delete;
  ReleasedComponent& operator=(const ReleasedComponent&) = delete;

  const platform::ObjectPtr& get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset(platform::ObjectPtr object) { object_ = std::move(object); }

 private:
  platform::ObjectPtr object_;
  const char* release_ = "Release";
};

// Tests only: forget this thread's cached connection string and components.
void ResetThreadCaches();

}  // namespace lib_sales
