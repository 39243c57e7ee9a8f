// SalesParameter ("Vendra.SalesParameter") answers one shop-wide sales
// setting by name: payment, freight, general switches and quotation
// behaviour, kept in sections of VendraConfiguration.xml. It knows which
// section holds each name; every value comes back as text for the caller to
// convert. Objects of the libraries ask through lib_sales::Sls_GetParameterValue.
//
// Thread-safety: holds no state; each call reads the file anew, so any
// number of objects may be used on any threads.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/core/dispatch.h"

namespace vendra {

// One known parameter and the section of VendraConfiguration.xml that holds it.
struct SalesParameterName {
  std::string_view section;
  std::string_view name;
};

class SalesParameter : public platform::Dispatchable<SalesParameter> {
 public:
  static const platform::ClassBinding<SalesParameter>& Binding();

  // The value of the named parameter as text. The name is looked up with
  // surrounding blanks removed, exactly otherwise; a name that is not a sales
  // parameter gives "". A parameter the file lacks, an unreadable file or an
  // item of the wrong type is logged and raised with the configuration's
  // number and a METHOD line saying what went wrong.
  std::string GetParameterValue(std::string& iParameter);

  // Every known parameter, section by section in lookup order.
  static std::span<const SalesParameterName> Names();
};

}  // namespace vendra
