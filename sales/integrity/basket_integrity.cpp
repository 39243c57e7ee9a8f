// The basket's answers to the master-data maintenance: whether a stored
// basket (BASKETHEADER, BASKETLINE) names the master record. A basket never
// removes anything for a delete.

#include "sales/basket/basket.h"
#include "sales/integrity/key_fields.h"
#include "shared/error_handling.h"

namespace vendra {

bool Basket::Exists(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) {
  return integrity::StoredDocumentExists({"BASKETID", "BASKETHEADER", "BASKETLINE", "  "}, kind, keyNames,
                                         keyValues, "Basket.IReferentialIntegrity_Exists failed");
}

bool Basket::BeforeDelete(const std::string&, const platform::Variant&, const platform::Variant&) {
  return lib_sales::Guarded("Basket.IReferentialIntegrity_BeforeDelete", [] { return true; });
}

}  // namespace vendra
