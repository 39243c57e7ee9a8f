// ReferentialChecker ("Orvanta.ReferentialChecker") is the shop platform's
// guard of master data: before a row that refers to master data is written,
// a caller asks CheckReferentialInsert(table, keyColumns, keyValues) whether
// every key value names master data that exists. The answer comes from the
// catalogue (Brevane) and the partner data (Kelmor) themselves, by a fixed
// list of the columns that refer to them:
//
//   PRODUCTID, SKU                                   Brevane PRODUCT
//   UNITCODE, PRODUCTUNITCODE                        Brevane UNIT
//   TAXCODE                                          Brevane TAXCODES
//   MANUFACTURERID                                   Brevane MANUFACTURER
//   CATEGORYID                                       Brevane PRODUCTCATEGORY
//   BUSINESSPARTNERID                                Kelmor BUSINESSPARTNER
//   ADDRESSID, SHIPPINGADDRESSID, BILLINGADDRESSID   Kelmor ADDRESS
//   CURRENCYCODE, HOMECURRENCYCODE                   Kelmor CURRENCY
//   CARRIERCODE                                      Kelmor CARRIER
//   USERID                                           Kelmor USERS
//
// Column names compare without case. A column not in the list, a Null or
// empty value, and a column of the referenced table itself (a new PRODUCT
// row names no existing product) are not references and pass. Any table may
// be asked about: price lists, parameter tables, settings.
//
// Before a row goes, a caller asks CheckReferentialDelete(table, keyColumns,
// keyValues) whether rows of other tables still name the rows the key
// selects; the references of the sales database's parameter tables are kept
// in referential_delete.cpp.
// DeleteMasterRecord(kind, keyNames, keyValues) is the other direction: the
// delete of a master record after every IReferentialIntegrity implementer
// was asked (master_data.h). It answers a Dictionary: "Deleted" (flag),
// "Record", "HeldBy" and "Removed" (arrays of text).
//
// Thread-safety: an object serves one caller at a time (it keeps its
// connections between calls); separate objects may be used on separate
// threads.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/core/dispatch.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace platform::data {
class Connection;
}

namespace platform {

class ReferentialChecker : public Dispatchable<ReferentialChecker> {
 public:
  static const ClassBinding<ReferentialChecker>& Binding();

  ReferentialChecker();
  ~ReferentialChecker() override;

  // True when every value of a referring column names an existing row.
  // keyColumns and keyValues are arrays of the same length (else 5, Invalid
  // procedure call).
  bool CheckReferentialInsert(const std::string& table, const Variant& keyColumns,
                              const Variant& keyValues);

  // True when no row of another table refers to the rows of table that the
  // key columns select (each column = its value, all together). Key columns
  // must be columns of the table (else 5); a table nothing refers to passes.
  bool CheckReferentialDelete(const std::string& table, const Variant& keyColumns,
                              const Variant& keyValues);
  // Deletes a master record unless something refers to it (master_data.cpp).
  ObjectPtr DeleteMasterRecord(const std::string& kind, const Variant& keyNames,
                               const Variant& keyValues);

  // Lets go of the connections; the object stays usable.
  void Release();

 private:
  data::Connection& Db(const std::string& catalog);

  std::map<std::string, std::shared_ptr<data::Connection>> connections_;  // by catalog
};

}  // namespace platform
