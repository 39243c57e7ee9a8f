// The price lists' answers to the master-data maintenance: whether a product
// or customer price, a freight product, a freight price or a freight zone
// names the master record; before a product, partner or currency is
// deleted, the prices that belong to it go with it.

#include <memory>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/integrity/key_fields.h"
#include "sales/pricing/pricing.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/error_handling.h"

namespace vendra {

namespace {
using integrity::NumberText;
using integrity::QuotedText;
using platform::data::Connection;
using platform::data::Recordset;

// The price lists' own row test.
bool CheckExistenceUsingSQL(const std::string& sql) {
  return integrity::RowExists(sql, "Pricing.CheckExistenceUsingSQL");
}
}  // namespace

bool Pricing::Exists(const std::string& kind, const platform::Variant& keyNames,
                     const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Pricing.IReferentialIntegrity_Exists";
  return lib_sales::Guarded(kSource, [&] {
    const std::string k = integrity::FoldKind(kind);
    bool answer = false;
    for (const integrity::KeyField& f : integrity::KeyFields(keyNames, keyValues, kSource)) {
      if (k == "PRODUCT" && f.name == "PRODUCTID") {
        const std::string id = NumberText(f.value, f.name);
        // A price of the product answers for the whole question.
        if (CheckExistenceUsingSQL("SELECT TOP 1 PRODUCTID FROM PRODUCTPRICE WHERE PRODUCTID = " + id))
          return true;
        if (CheckExistenceUsingSQL("SELECT TOP 1 PRODUCTID FROM CUSTOMERPRICE WHERE PRODUCTID = " + id))
          return true;
        answer = CheckExistenceUsingSQL(
            "SELECT TOP 1 PRODUCTID FROM FREIGHTPRODUCT WHERE PRODUCTID = " + id);
      } else if ((k == "BUSINESSPARTNER" || k == "CUSTOMER") && f.name == "BUSINESSPARTNERID") {
        answer = CheckExistenceUsingSQL(
            "SELECT TOP 1 BUSINESSPARTNERID FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = " +
            NumberText(f.value, f.name));
      } else if (k == "CURRENCY" && f.name == "CURRENCYCODE") {
        const std::string code = QuotedText(f.value);
        answer = CheckExistenceUsingSQL(
            "SELECT TOP 1 CURRENCYCODE FROM PRODUCTPRICE WHERE CURRENCYCODE = '" + code + "'");
        if (!answer)
          answer = CheckExistenceUsingSQL(
              "SELECT TOP 1 CURRENCYCODE FROM CUSTOMERPRICE WHERE CURRENCYCODE = '" + code + "'");
      } else if (k == "TRANSPORTCARRIER" && f.name == "CARRIERCODE") {
        answer = CheckExistenceUsingSQL("SELECT TOP 1 CARRIER FROM FREIGHTPRICE WHERE CARRIER = '" +
                                        QuotedText(f.value) + "'");
      } else if (k == "COUNTRY" && f.name == "COUNTRYCODE") {
        answer = CheckExistenceUsingSQL(
            "SELECT TOP 1 COUNTRY FROM COUNTRIESBYZONE WHERE COUNTRY = '" + QuotedText(f.value) +
            "'");
      }
    }
    return answer;
  });
}

bool Pricing::BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                           const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Pricing.BeforeDelete";
  std::shared_ptr<Connection> connection;
  return lib_sales::Guarded(kSource, [&] {
    const std::string k = integrity::FoldKind(kind);
    const std::vector<integrity::KeyField> fields =
        integrity::KeyFields(keyNames, keyValues, kSource);
    // Every statement is built (and every value checked) before the first runs.
    std::vector<std::string> statements;
    for (const integrity::KeyField& f : fields) {
      if (k == "PRODUCT" && f.name == "PRODUCTID") {
        const std::string id = NumberText(f.value, f.name);
        statements.push_back("DELETE FROM PRODUCTPRICE WHERE PRODUCTID = " + id);
        statements.push_back("DELETE FROM CUSTOMERPRICE WHERE PRODUCTID = " + id);
      } else if ((k == "BUSINESSPARTNER" && f.name == "BUSINESSPARTNERID") ||
                 (k == "CUSTOMER" && f.name == "CUSTOMERID")) {
        statements.push_back("DELETE FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = " +
                             NumberText(f.value, f.name));
      } else if (k == "CURRENCY" && f.name == "CURRENCYCODE") {
        const std::string code = QuotedText(f.value);
        statements.push_back("DELETE FROM PRODUCTPRICE WHERE CURRENCYCODE = '" + code + "'");
        statements.push_back("DELETE FROM CUSTOMERPRICE WHERE CURRENCYCODE = '" + code + "'");
      }
    }
    if (statements.empty()) return true;
    connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    {
      // The price lists lose all of the record's prices or none.
      platform::data::Transaction tx(*connection);
      for (const std::string& sql : statements)
        connection->Execute(sql, nullptr, platform::data::adCmdText | platform::data::adExecuteNoRecords);
      tx.Commit();
    }
    lib_sales::Sls_CloseConnection(connection);
    return true;
  });
}

}  // namespace vendra
