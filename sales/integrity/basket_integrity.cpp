// The basket's answers to the master-data maintenance: whether a stored
// basket (BASKETHEADER, BASKETLINE) names the master record. A basket never
// removes anything for a delete.

#include "platform/core/variant.h"
#include "sales/basket/basket.h"
#include "sales/integrity/key_fields.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"

namespace vendra {

namespace {
using lib_sales::EncDouble;
using lib_sales::EncLong;
using lib_sales::EncVariant;

bool RowTest(const std::string& sql) {
  return lib_sales::Sls_RecordExists(sql, lib_sales::Sls_ConnectionString());
}
}  // namespace

bool Basket::Exists(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Basket.IReferentialIntegrity_Exists failed";
  return lib_sales::Guarded(kSource, [&] {
    const std::string k = integrity::FoldKind(kind);
    bool answer = false;
    // Every matching field asks again; the last one decides.
    for (const integrity::KeyField& f : integrity::KeyFields(keyNames, keyValues, kSource)) {
      if (k == "TRANSPORTCARRIER" && f.name == "CARRIERCODE") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETHEADER WHERE CARRIERCODE = " +
                         EncVariant(f.value));
      } else if (k == "ADDRESS" && f.name == "ADDRESSID") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETHEADER WHERE BILLINGADDRESSID = " +
                         EncLong(f.value) + " OR SHIPPINGADDRESSID = " + EncLong(f.value));
        if (!answer)
          answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETLINE WHERE ADDRESSID = " +
                           EncLong(f.value));
      } else if (k == "CURRENCY" && f.name == "CURRENCYCODE") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETHEADER WHERE CURRENCYCODE = " +
                         EncVariant(f.value));
      } else if (k == "CUSTOMER" && f.name == "BUSINESSPARTNERID") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETHEADER WHERE BUSINESSPARTNERID = " +
                         EncLong(f.value));
      } else if (k == "KROINSTANCE" && f.name == "KROID") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETHEADER WHERE KROID = " +
                         EncLong(f.value));
      } else if (k == "PRODUCT" && f.name == "PRODUCTID") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETLINE WHERE SKU = " + EncDouble(f.value));
      } else if (k == "UNIT" && f.name == "UNITCODE") {
        answer = RowTest("SELECT TOP 1 BASKETID FROM BASKETLINE WHERE " +
                         std::string(" PRODUCTUNITCODE = ") + EncVariant(f.value));
      }
    }
    return answer;
  });
}

bool Basket::BeforeDelete(const std::string&, const platform::Variant&, const platform::Variant&) {
  return lib_sales::Guarded("Basket.IReferentialIntegrity_BeforeDelete", [] { return true; });
}

}  // namespace vendra
