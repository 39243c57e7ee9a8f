#include "sales/admin/sales_parameter.h"

#include <optional>

#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "shared/parameters.h"
#include "platform/core/text.h"

namespace vendra {

namespace {

constexpr std::string_view kDirectPayment = "DIRECTPAYMENT_PARAMETERS";
constexpr std::string_view kFreight = "FREIGHT_PARAMETERS";
constexpr std::string_view kGeneral = "GENERAL_PARAMETERS";
constexpr std::string_view kQuotation = "QUOTATION_PARAMETERS";

// Rows in lookup order; a name belongs to the first section that lists it.
constexpr SalesParameterName kNames[] = {
    {kDirectPayment, "CyberSource Serverhost"},
    {kDirectPayment, "Authorization Hard Expiration"},
    {kDirectPayment, "Authorization Soft Expiration"},
    {kDirectPayment, "Reallocation"},
    {kDirectPayment, "Creditcard Ordertype for Backend"},
    {kDirectPayment, "BackendSalesOrderType BillingStepNumber"},
    {kDirectPayment, "InvoiceText"},
    {kFreight, "FreightPartNumber"},
    {kFreight, "Freight Unit-code"},
    {kFreight, "Multiple Ship-from Zones"},
    {kFreight, "Ship-from Zone"},
    {kGeneral, "CreditCardUse"},
    {kGeneral, "EnableFreight"},
    {kGeneral, "TaxSource"},
    {kGeneral, "KRC Virtual Directory"},
    {kGeneral, "HomeOrganisation"},
    {kGeneral, "SubmittedOrderListPage"},
    {kGeneral, "EnableGetInventoryButton"},
    {kGeneral, "EnableATPCheckButtons"},
    {kGeneral, "QuotationImplemented"},
    {kQuotation, "Expiration Period"},
    {kQuotation, "Send Notification"},
    {kQuotation, "Notification Period Before Expiry Date"},
    {kQuotation, "Logo"},
    {kQuotation, "Watermark Image"},
    {kQuotation, "Print Configurations"},
};

constexpr std::string_view kMethod = "Vendra.SalesParameter.GetParameterValue(): ";

std::string TrimBlanks(const std::string& s) { return std::string(platform::text::TrimBlanks(s)); }

std::optional<std::string_view> SectionOf(std::string_view name) {
  for (const SalesParameterName& row : kNames)
    if (row.name == name) return row.section;
  return std::nullopt;
}

// What the caller reads in the METHOD line: the configuration's failure
// number told in words.
std::string FailureMessage(const platform::ComError& failure, const std::string& config_dir,
                           const std::string& name) {
  std::string text(kMethod);
  switch (static_cast<uint32_t>(failure.number())) {
    case static_cast<uint32_t>(platform::err::kPermissionDenied):
      return text + "Access denied for configuration file " + config_dir +
             "\\VendraConfiguration.xml";
    case 0x8004000Fu:
      return text + "Parameter '" + name + "' is not found " +
             "in configuration file ..\\config\\VendraConfiguration.xml";
    case 0x80040013u:
      return text + "Configuration store not loaded";
    case 0x80040014u:
      return text + "Type of parameter '" + name + "' is not valid OR " +
             "The datatype of the new value is not equal " + "to the type of the item";
    default:
      return text + "Unknown error " + failure.description();
  }
}

}  // namespace

const platform::ClassBinding<SalesParameter>& SalesParameter::Binding() {
  static const auto b = platform::ClassBinding<SalesParameter>("SalesParameter")
                            .Method("GetParameterValue", &SalesParameter::GetParameterValue);
  return b;
}

std::span<const SalesParameterName> SalesParameter::Names() { return kNames; }

std::string SalesParameter::GetParameterValue(std::string& iParameter) {
  const std::string name = TrimBlanks(iParameter);
  std::string config_dir;
  try {
    const platform::ObjectPtr configuration = lib_sales::Sls_GetComponent("Orvanta.Configuration");
    const auto dirs = lib_sales::WebInfoConfigDirs(
        platform::Call(configuration, "GetWebInfo", {platform::Variant("Vendra")}));
    if (!dirs.empty()) config_dir = dirs.back().second;
    // Read on every call: a changed setting takes effect at once.
    platform::Call(configuration, "LoadConfigFile",
                   {platform::Variant(config_dir + "\\VendraConfiguration.xml")});
    const std::optional<std::string_view> section = SectionOf(name);
    if (!section) {
      // Not a sales parameter. No failure is current here, so the report
      // routine neither logs nor raises; the caller simply gets "".
      lib_sales::LogAndRaise(std::string(kMethod) + "Parameter " + name + " not found");
      return {};
    }
    // The configuration store matches keys without their surrounding blanks,
    // so the name goes to it exactly as the caller wrote it.
    return platform::Call(configuration, "GetValue",
                          {platform::Variant(std::string(*section)), platform::Variant(iParameter)})
        .ToString();
  } catch (...) {
    lib_sales::LogAndRaise(FailureMessage(platform::CurrentError(), config_dir, name));
    throw;
  }
}

}  // namespace vendra
