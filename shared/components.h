// Component creation and the per-thread caches of the shared runtime:
// Sls_GetComponent creates a component by identifier, inside the caller's
// activity when there is one; Sls_ConnectionString and Sls_DataFunctions
// keep the sales connection string and the locale-formatting component once
// per thread; NewGuidString gives new record identifiers.
//
// Thread-safety: caches are thread_local; no locks.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/object.h"

namespace lib_sales {

platform::ObjectPtr Sls_GetComponent(std::string_view progid);
std::string Sls_ConnectionString();
platform::ObjectPtr Sls_DataFunctions();
// 32 upper-case hexadecimal digits; "00000000" when no GUID can be had.
std::string NewGuidString();

// Tests only: forget this thread's cached connection string and components.
void ResetThreadCaches();

}  // namespace lib_sales
