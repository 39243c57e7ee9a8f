// The order's answers to the master-data maintenance: whether a web order
// (ORDERHEADER, ORDERLINE), a basket or a quotation line names the master
// record, or the record is one the shop itself runs on (the home
// organisation, the freight unit). An order never removes anything for a
// delete: order history outlives its master data only by refusal.

#include "platform/core/text.h"
#include "platform/core/variant.h"
#include "sales/integrity/key_fields.h"
#include "sales/order/order.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/parameters.h"

namespace vendra {

namespace {
using integrity::NumberText;
using integrity::QuotedText;
using lib_sales::EncString;

// Whether the trimmed key value is the trimmed sales parameter.
bool IsParameterValue(const platform::Variant& value, const char* parameter) {
  const std::string own = lib_sales::Sls_GetParameterValue(parameter);
  return platform::text::TrimBlanks(value.ToString()) == platform::text::TrimBlanks(own);
}
}  // namespace

bool Order::Exists(const std::string& kind, const platform::Variant& keyNames,
                   const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Order.IReferentialIntegrity_Exists";
  return lib_sales::Guarded(kSource, [&] {
    const std::string k = integrity::FoldKind(kind);
    // Within one field the queries stop at the first true; across fields the
    // last decides.
    const auto any = [&](std::initializer_list<std::string> queries) {
      for (const std::string& sql : queries)
        if (CheckExistenceUsingSQL(sql)) return true;
      return false;
    };
    bool answer = false;
    for (const integrity::KeyField& f : integrity::KeyFields(keyNames, keyValues, kSource)) {
      if (k == "PRODUCT" && f.name == "PRODUCTID") {
        const std::string id = NumberText(f.value, f.name);
        answer = CheckExistenceUsingSQL("SELECT PRODUCTID FROM ORDERLINE WHERE PRODUCTID = " + id) ||
                 CheckExistenceUsingSQL("SELECT SKU FROM BASKETLINE WHERE SKU = " + id) ||
                 CheckExistenceUsingSQL("SELECT SKU FROM QUOTATIONLINE WHERE SKU = " + id);
      } else if (k == "BUSINESSPARTNER" && f.name == "BUSINESSPARTNERID") {
        const std::string id = NumberText(f.value, f.name);
        answer = any({"SELECT BUSINESSPARTNERID FROM ORDERHEADER WHERE BUSINESSPARTNERID = " + id,
                      "SELECT BUSINESSPARTNERID FROM BASKETHEADER WHERE " +
                          std::string("BUSINESSPARTNERID = ") + id});
        // The shop's own organisation is always in use.
        if (!answer && IsParameterValue(f.value, "HomeOrganisation")) return true;
      } else if (k == "TRANSPORTCARRIER" && f.name == "CARRIERCODE") {
        const std::string code = EncString(f.value.ToString());
        answer = any({"SELECT CARRIERCODE FROM ORDERHEADER WHERE CARRIERCODE = " + code,
                      "SELECT CARRIERCODE FROM BASKETHEADER WHERE CARRIERCODE = " + code});
      } else if (k == "CURRENCY" && f.name == "CURRENCYCODE") {
        const std::string code = EncString(f.value.ToString());
        answer = any({"SELECT CURRENCYCODE  FROM ORDERHEADER WHERE CURRENCYCODE = " + code,
                      "SELECT CURRENCYCODE FROM BASKETHEADER WHERE CURRENCYCODE = " + code,
                      "SELECT CURRENCYCODE FROM MERCHANTIDBYCURRENCY WHERE CURRENCYCODE = " + code});
      } else if (k == "UNIT" && f.name == "UNITCODE") {
        const std::string code = EncString(f.value.ToString());
        answer = any({"SELECT UNITCODE FROM ORDERLINE WHERE UNITCODE = " + code,
                      "SELECT PRODUCTUNITCODE FROM BASKETLINE WHERE PRODUCTUNITCODE = " + code});
        // Freight is charged in the freight unit: it is always in use.
        if (!answer && IsParameterValue(f.value, "Freight Unit-code")) return true;
      } else if (k == "USER" && f.name == "USERID") {
        const std::string user = QuotedText(f.value);
        answer = any({"SELECT USERID FROM ORDERHEADER WHERE USERID = '" + user + "'",
                      "SELECT USERID FROM BASKETHEADER WHERE USERID = '" + user + "'"});
      } else if (k == "ADDRESS" && f.name == "ADDRESSID") {
        const std::string id = EncString(f.value.ToString());
        answer = any({"SELECT * FROM ORDERLINE WHERE ADDRESSID = " + id,
                      "SELECT * FROM ORDERHEADER WHERE SHIPPINGADDRESSID = " + id,
                      "SELECT * FROM ORDERHEADER WHERE BILLINGADDRESSID = " + id});
      }
    }
    return answer;
  });
}

bool Order::BeforeDelete(const std::string&, const platform::Variant&, const platform::Variant&) {
  return lib_sales::Guarded("Order.IReferentialIntegrity_BeforeDelete", [] { return true; });
}

}  // namespace vendra
