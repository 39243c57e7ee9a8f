// Sales parameters and the configuration directory of the Vendra web
// application. Sls_GetParameterValue is how every object of the libraries
// reads a shop-wide setting (VendraConfiguration.xml, through the public
// class Vendra.SalesParameter); WebInfoConfigDirs reads the web-application
// records that Orvanta.Configuration.GetWebInfo returns.
//
// Thread-safety: no state; any thread may call.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/core/variant.h"

namespace lib_sales {

// The parameter's value as text; "" for a name the sales parameters do not
// know. Failures are logged and re-raised under
// "Vendra.Lib_Sales.Sls_GetParameterValue" with the parameter named in INFO.
std::string Sls_GetParameterValue(const std::string& name);

// (key, ConfigDir) of every web-application record in enumeration order.
// web_info is the dictionary GetWebInfo returned; a record without ConfigDir
// gives "". Anything but a collection of records raises 424.
std::vector<std::pair<std::string, std::string>> WebInfoConfigDirs(
    const platform::Variant& web_info);

}  // namespace lib_sales
