// Manager ("Vendra.Manager") answers the settings the administration pages
// keep for customers (CUSTOMERSETTING) and back-end instances
// (ORDEREXPORTFILE): a customer's settings row, one named order-process value
// of an instance, and the order type an order of a customer gets when the
// page names none. The order submission asks it whether an instance takes
// orders at once; the back-end hand-over asks it for order types.
//
// It also maintains the sales database's parameter tables for the
// administration pages: a row of a named table is inserted, updated or
// deleted from parallel arrays of column names and values given as text,
// each value rendered into the statement by its column's type as the schema
// declares it (EncodeFieldValue), and an administrator's query is read with
// GetRecordSet. Table and column names are checked against the schema and
// values against their columns' types before any statement runs;
// docs/administration.md describes the operations for page developers.
//
// Thread-safety: holds no state; every call opens and closes its own
// connection, so any number of objects may be used on any threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"

namespace platform {
class Dictionary;
}

namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace vendra {

// The kind of order GetDefaultOrderType is asked about.
inline constexpr int32_t kCreditCardOrder = 1;

class Manager : public platform::Dispatchable<Manager>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<Manager>& Binding();

  // Parameter-table maintenance. The names arrays and the values arrays are
  // walked together and must have the same, non-zero length; every name must
  // be a column of the table (letters, digits and underscores). A refused
  // call changes nothing and runs no statement.
  //
  // Inserts one row (a Null value cannot be inserted: leave the column out).
  void Create(const std::string& i_sTableName, const platform::Variant& i_aFields,
              const platform::Variant& i_aFieldValues);
  // Deletes the rows the key columns select; refused with ReferentialDelete
  // while rows of other tables refer to them, and with error 5 when the key
  // selects no row.
  void Delete(const std::string& i_sTableName, const platform::Variant& iFields,
              const platform::Variant& iFieldValues);
  // The table's columns: name -> type code (as text), in column order. A
  // connection that is Nothing or closed is opened for the call and closed
  // again.
  std::shared_ptr<platform::Dictionary> GetDataTypes(
      const std::string& iTablename, std::shared_ptr<platform::data::Connection>& i_oConnection);
  // Sets the columns of the rows the key columns select (a Null or empty
  // value writes Null); error 5 when the key selects no row.
  void Update(const std::string& i_sTableName, const platform::Variant& i_aFields,
              const platform::Variant& i_aFieldValues, const platform::Variant& i_aKeyFields,
              const platform::Variant& i_aKeyFieldValues);
  // The rows of an administrator's query, detached. Only a query runs: a
  // statement that would write is refused and nothing of it stays.
  std::shared_ptr<platform::data::Recordset> GetRecordSet(const std::string& i_sQuery);

  // A value given as text rendered as an SQL literal for a column of the type
  // code: 5 and 131 a whole number as a Long (a fraction as a Double, never
  // cut), 11 a byte, 111 a Double, 112 and the date-time types a date, the
  // text types an encoded text literal, the other number types the value
  // unchanged once it has been checked to be a number that fits the type.
  // Anything else raises (13 type mismatch, 6 overflow, 94 Null, 5 a type
  // that cannot be written this way).
  static std::string EncodeFieldValue(const std::string& i_sType, const platform::Variant& i_vValue);
  // IReferentialIntegrity, for the master-data maintenance (sales/integrity/).
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

  // The customer's CUSTOMERSETTING row (none when the customer has no
  // settings), detached and read-only.
  std::shared_ptr<platform::data::Recordset> GetCustomerSettingData(const std::string& i_sBPID);

  // Reads the ORDEREXPORTFILE column named by io_sProperty for the instance
  // and gives its value back in io_sProperty as text: "" when the instance
  // has no row or the value is Null or empty. The name must be a plain column
  // identifier (letters, digits, underscores, not starting with a digit);
  // anything else fails with error 5 and leaves io_sProperty as it was.
  void GetKROOrderProcessParam(int32_t i_lKROID, std::string& io_sProperty);

  // The order type of a customer's order: the customer's own setting
  // (CCORDERTYPE for a credit-card order, i_KindOfOrder 1; ORDERTYPE
  // otherwise); failing that the instance's CREDITCARDORDERTYPE and then the
  // sales parameter "Creditcard Ordertype for Backend" for a card order, the
  // instance's SALESORDERTYPE (possibly "") for any other.
  std::string GetDefaultOrderType(const std::string& i_sBPID, int32_t i_sKROID,
                                  int32_t i_KindOfOrder);
};

}  // namespace vendra
