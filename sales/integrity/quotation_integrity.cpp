// The quotation's answers to the master-data maintenance: whether a stored
// quotation (QUOTATIONHEADER, QUOTATIONLINE) names the master record. A
// quotation never removes anything for a delete.

#include "sales/quotation/quotation.h"
#include "sales/integrity/key_fields.h"
#include "shared/error_handling.h"

namespace vendra {

bool Quotation::Exists(const std::string& kind, const platform::Variant& keyNames,
                       const platform::Variant& keyValues) {
  return integrity::StoredDocumentExists({"QUOTATIONID", "QUOTATIONHEADER", "QUOTATIONLINE", " "},
                                         kind, keyNames, keyValues,
                                         "Quotation.IReferentialIntegrity_Exists failed");
}

bool Quotation::BeforeDelete(const std::string&, const platform::Variant&, const platform::Variant&) {
  return lib_sales::Guarded("Quotation.IReferentialIntegrity_BeforeDelete", [] { return true; });
}

}  // namespace vendra
