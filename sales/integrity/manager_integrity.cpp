// The settings' answers to the master-data maintenance: whether a customer
// has a settings row (CUSTOMERSETTING), and removing it before the customer
// is deleted.

#include <memory>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/admin/manager.h"
#include "sales/integrity/key_fields.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"

namespace vendra {

namespace {
using platform::data::Connection;
using platform::data::Recordset;

// The row test the settings share with the order (and report under its name).
bool CheckExistenceUsingSQL(const std::string& sql) {
  return integrity::RowExists(sql, "Order.CheckExistenceUsingSQL");
}
}  // namespace

bool Manager::Exists(const std::string& kind, const platform::Variant& keyNames,
                     const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Manager.IReferentialIntegrity_Exists";
  return lib_sales::Guarded(kSource, [&] {
    const bool customer = integrity::FoldKind(kind) == "CUSTOMER";
    bool answer = false;
    for (const integrity::KeyField& f : integrity::KeyFields(keyNames, keyValues, kSource)) {
      if (customer && f.name == "BUSINESSPARTNERID") {
        answer = CheckExistenceUsingSQL(
            "SELECT TOP 1 BUSINESSPARTNERID FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = " +
            lib_sales::EncVariant(f.value));
      }
    }
    return answer;
  });
}

bool Manager::BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                           const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Manager.IReferentialIntegrity_BeforeDelete";
  std::shared_ptr<Connection> connection;
  return lib_sales::Guarded(kSource, [&] {
    const bool customer = integrity::FoldKind(kind) == "CUSTOMER";
    std::vector<std::string> statements;
    for (const integrity::KeyField& f : integrity::KeyFields(keyNames, keyValues, kSource)) {
      if (customer && f.name == "BUSINESSPARTNERID") {
        statements.push_back("DELETE FROM  CUSTOMERSETTING WHERE BUSINESSPARTNERID = " +
                             lib_sales::EncVariant(f.value));
      }
    }
    if (statements.empty()) return true;
    connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    {
      platform::data::Transaction tx(*connection);
      for (const std::string& sql : statements)
        connection->Execute(sql, nullptr,
                            platform::data::adCmdText | platform::data::adExecuteNoRecords);
      tx.Commit();
    }
    lib_sales::Sls_CloseConnection(connection);
    return true;
  });
}

}  // namespace vendra
