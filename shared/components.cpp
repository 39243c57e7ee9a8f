#include "shared/components.h"

#include <cstdio>

#include "platform/core/com_error.h"
#include "platform/core/guid.h"
#include "platform/host/context.h"
#include "platform/host/registry.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/localisation.h"
#include "shared/parameters.h"

namespace lib_sales {

namespace {

// Each worker thread of the host keeps its own; nothing here needs a lock.
thread_local std::string cached_connection_string;
thread_local platform::ObjectPtr cached_data_functions;

}  // namespace

platform::ObjectPtr Sls_GetComponent(std::string_view progid) {
  try {
    // Inside an activity the object must join it; outside one it is created
    // directly.
    if (platform::ObjectContext* context = platform::GetObjectContext())
      return context->CreateInstance(progid);
    return platform::CreateObject(progid);
  } catch (...) {
    std::string info;
    if (platform::GetObjectContext()) {
      info = "CreateInstance(" + std::string(progid) + ") failed.\r\n" +
             "Note: Objects having 'Instancing=PublicNotCreatable' may only be instantiated "
             "with 'New', not with Sls_GetComponent()";
    } else {
      info = "CreateObject(" + std::string(progid) + ") failed";
    }
    LogAndRaise("Lib_Sales.Sls_GetComponent", platform::Variant(info));
    throw;
  }
}

std::string Sls_ConnectionString() {
  if (!cached_connection_string.empty()) return cached_connection_string;
  return Guarded("Vendra.Lib_Sales.Sls_ConnectionString", [] {
    const platform::ObjectPtr configuration = Sls_GetComponent("Orvanta.Configuration");
    const auto dirs = WebInfoConfigDirs(
        platform::Call(configuration, "GetWebInfo", {platform::Variant("Vendra")}));
    // The first web application is the one whose database the shop uses.
    const std::string config_dir = dirs.empty() ? std::string() : dirs.front().second;
    platform::Call(configuration, "LoadConfigFile",
                   {platform::Variant(config_dir + "\\VendraConfiguration.xml")});
    // Stored only once the whole lookup has succeeded, so a failed attempt is
    // tried again by the next call.
    cached_connection_string =
        platform::Call(configuration, "GetConnectionString", {platform::Variant("Vendra")})
            .ToString();
    return cached_connection_string;
  });
}

platform::ObjectPtr Sls_DataFunctions() {
  if (cached_data_functions) return cached_data_functions;
  return Guarded("Lib_Sales.Sls_DataFunctions", [] {
    cached_data_functions = Sls_GetComponent("Wrenlow.DataFunctions");
    return cached_data_functions;
  });
}

std::string NewGuidString() {
  std::optional<platform::Guid> guid;
  try {
    guid = platform::NewGuid();
  } catch (...) {
    guid.reset();
  }
  if (!guid) return "00000000";
  char text[33];
  std::snprintf(text, sizeof text, "%08X%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(guid->data1), static_cast<unsigned>(guid->data2),
                static_cast<unsigned>(guid->data3), guid->data4[0], guid->data4[1], guid->data4[2],
                guid->data4[3], guid->data4[4], guid->data4[5], guid->data4[6], guid->data4[7]);
  return text;
}

void ResetThreadCaches() {
  cached_connection_string.clear();
  cached_data_functions.reset();
  // The caches of the other shared routines go too, so one call gives a test
  // a thread that has seen nothing yet.
  ResetUserCache();
  ResetLabelEncoder();
}

ReleasedComponent::~ReleasedComponent() {
  if (!object_) return;
  try {
    platform::Call(object_, release_);
  } catch (...) {
  }
}

}  // namespace lib_sales
