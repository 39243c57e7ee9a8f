// The transformation and script-task code of the import package, in the
// package's script language (Lua), as the package stores it: one text per
// task with its Main function. The log folder is written into the
// CreateLogFile script as its constant PATH.
//
// Thread-safety: plain functions.
#pragma once

#include <string>

namespace prodloader {

std::string CreateLogFileScript(const std::string& log_folder);
std::string CloseLogFileScript();
std::string ImportManufacturersScript();
std::string ImportProductsScript();
std::string ImportUnitsScript();
std::string ImportProductCategoriesScript();
std::string ImportProductIdnoScript();
std::string UpdateProductsByCategoryScript();

// text as a Lua long string literal ([==[...]==]) whatever it holds.
std::string LuaLongString(const std::string& text);

}  // namespace prodloader
