#include "shared/data_routines.h"

#include <utility>

#include "platform/core/variant.h"
#include "shared/error_handling.h"

namespace lib_sales {

using platform::data::Connection;
using platform::data::Recordset;

std::string ConnectionErrorsText(const Connection* connection) {
  if (!connection) return {};
  const auto& errors = connection->ErrorList();
  if (errors.empty()) return {};
  // The prefix keeps its own trailing blank and every item starts with one,
  // so two blanks follow the colon; log readers match on this text.
  std::string text = "Error(s) from connection object: ";
  int count = 0;
  for (const auto& e : errors) {
    text += " (" + std::to_string(++count) + ")" + e.description + "[" +
            std::to_string(e.number) + "]";
  }
  return text;
}

std::shared_ptr<Connection> Sls_GetOpenConnection(const std::string& connection_string) {
  return Guarded("Lib_Sales.Sls_GetOpenConnection", [&] {
    auto connection = std::make_shared<Connection>();
    connection->SetConnectionString(connection_string);
    connection->Open({}, {}, {}, -1);
    return connection;
  });
}

std::shared_ptr<Recordset> Sls_GetDisconnectedRecordset(const std::string& sql,
                                                         const std::string& connection_string) {
  // Outside the work, so the handler can still read its error list.
  std::shared_ptr<Connection> connection;
  return Guarded(
      "Lib_Sales.Sls_GetDisconnectedRecordset",
      [&] {
        connection = Sls_GetOpenConnection(connection_string);
        auto recordset = std::make_shared<Recordset>();
        recordset->SetCursorLocation(platform::data::adUseClient);
        recordset->Open(sql, connection, platform::data::adOpenKeyset,
                        platform::data::adLockOptimistic, platform::data::adCmdUnspecified);
        recordset->SetActiveConnection(nullptr);
        Sls_CloseConnection(connection);
        // The caller gets a clone; the first set goes when this returns.
        return recordset->Clone(platform::data::adLockUnspecified);
      },
      [&]() -> Info {
        // Read the errors before closing: the next operation clears them.
        std::string info = ConnectionErrorsText(connection.get()) + " executing: '" + sql + "'";
        try {
          Sls_CloseConnection(connection);
        } catch (...) {
          // The query's failure is the one to report.
        }
        return platform::Variant(std::move(info));
      });
}

bool Sls_RecordExists(const std::string& sql, const std::string& connection_string) {
  return Guarded("Lib_Sales.Sls_GetOpenConnection", [&] {
    auto connection = Sls_GetOpenConnection(connection_string);
    auto recordset = std::make_shared<Recordset>();
    recordset->SetCursorLocation(platform::data::adUseClient);
    // One row answers the question; the rest would only be read to be dropped.
    recordset->SetMaxRecords(1);
    recordset->Open(sql, connection, platform::data::adOpenKeyset, platform::data::adLockReadOnly,
                    platform::data::adCmdText);
    recordset->SetActiveConnection(nullptr);
    Sls_CloseConnection(connection);
    return !recordset->Eof();
  });
}

void Sls_CloseRecordSet(std::shared_ptr<Recordset>& recordset) {
  Guarded("Lib_Sales.Sls_CloseRecordSet", [&] {
    // Taken out first: the reference is cleared even when closing fails.
    std::shared_ptr<Recordset> held = std::exchange(recordset, nullptr);
    if (held && held->State() == platform::data::adStateOpen) held->Close();
  });
}

void Sls_CloseConnection(std::shared_ptr<Connection>& connection) {
  std::shared_ptr<Connection> held = std::exchange(connection, nullptr);
  if (held && held->State() == platform::data::adStateOpen) held->Close();
}

}  // namespace lib_sales
