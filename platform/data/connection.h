// Connection is the ADO-style connection ("ADODB.Connection"): opened by a
// connection string, it runs statements (Execute), holds transactions
// (BeginTrans/CommitTrans/RollbackTrans, nested ones as savepoints), keeps the
// error list of the last operation (Errors) and answers the schema rowset of
// columns. Opening and closing are cheap: the driver lends a pooled session.
//
//   auto conn = std::make_shared<Connection>();
//   conn->Open("Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
//   Transaction tx(*conn);            // rolls back unless committed
//   conn->Execute("DELETE FROM BASKETLINE WHERE BASKETID = ?", {Variant(id)});
//   tx.Commit();
//
// Record sets and commands attach to a connection through a shared_ptr, so
// create connections with std::make_shared (the registry does).
//
// Every engine failure raises a ComError (number 0x80004005, the engine's
// message, source kProviderSource) and leaves the entry in ErrorList().
//
// Thread-safety: one caller at a time; different connections may be used on
// different threads at once.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/data/ado_types.h"
#include "platform/data/driver.h"
#include "platform/data/errors.h"

namespace platform::data {

class Connection;

// The connection an ActiveConnection assignment names: a Connection, a
// connection string (opened here), or Nothing/Empty/"" for none. Anything
// else is refused; object names the assigning class in the error.
std::shared_ptr<Connection> ConnectionFromVariant(const Variant& value, std::string_view object);

class Recordset;

class Connection : public Dispatchable<Connection> {
 public:
  static const ClassBinding<Connection>& Binding();
  Connection();
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& ConnectionString() const { return connection_string_; }
  // Raises 3705 while open.
  void SetConnectionString(std::string text);
  // Opens with the given string, or the one set before when it is empty. User,
  // password and options are accepted for the classic signature and unused.
  // Raises 3705 when already open, 3706 for a missing or unknown provider, and
  // a database error for a missing catalog or a database that does not exist.
  void Open(std::string connection_string = {}, std::string user = {},
            std::string password = {}, int32_t options = -1);
  // Rolls back a transaction still open and gives the session back to the pool.
  // Closing a closed connection does nothing.
  void Close();
  int32_t State() const { return session_ ? adStateOpen : adStateClosed; }
  bool IsOpen() const { return session_ != nullptr; }

  // Runs one statement. Returns a client-side, forward-only, read-only record
  // set for statements that return rows, nullptr for the others.
  // records_affected receives the rows changed (Long) when given.
  std::shared_ptr<Recordset> Execute(std::string_view sql, Variant* records_affected = nullptr,
                                     int32_t options = adCmdText);
  // The same with values bound to the statement's "?" placeholders, in order.
  std::shared_ptr<Recordset> Execute(std::string_view sql, std::initializer_list<Variant> params,
                                     int64_t* records_affected = nullptr);
  std::shared_ptr<Recordset> Execute(std::string_view sql, std::span<const Variant> params,
                                     int64_t* records_affected = nullptr);

  // Returns the new nesting level (1 for the outer transaction).
  int32_t BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  int32_t TransactionLevel() const { return transaction_level_; }
  bool InTransaction() const { return transaction_level_ > 0; }

  // The entries of the last operation that reported a failure; cleared when
  // the next operation starts.
  const std::vector<DataError>& ErrorList() const { return errors_; }
  std::shared_ptr<ErrorCollection> Errors() const;

  // adSchemaColumns: TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME,
  // ORDINAL_POSITION, COLUMN_HASDEFAULT, COLUMN_DEFAULT, IS_NULLABLE,
  // DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, TYPE_NAME. adSchemaTables:
  // TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE. Criteria is Empty or
  // an array (catalog, schema, table[, column]) whose Empty entries match all.
  std::shared_ptr<Recordset> OpenSchema(int32_t schema, const Variant& criteria = Variant());

  // The initial catalog of the open connection ("Vendra"), as the stored
  // procedures are registered under it.
  const std::string& catalog() const { return catalog_; }

  // For the data objects of this layer: the open session (raises 3704 when
  // closed); errors seen while using it are recorded with RecordFailure.
  Session& session();
  void ClearErrors() { errors_.clear(); }
  // Runs work(session()) as one operation of this connection: the error list
  // starts empty and holds the failure, if work fails.
  template <class Work>
  auto Recorded(Work&& work) -> decltype(work(std::declval<Session&>())) {
    errors_.clear();
    Session& s = session();
    try {
      return work(s);
    } catch (...) {
      RecordCurrentFailure();
      throw;
    }
  }
  // Records the failure being handled (DatabaseError gives its own entry; any
  // other error becomes an entry with its number and text).
  void RecordCurrentFailure();
  void RecordFailure(const DataError& e) { errors_.push_back(e); }
  // Work that puts back, in memory, what a write inside the open transaction
  // took for done (a batch's rows marked written). It runs, latest first,
  // when the transaction level open now rolls back (a savepoint or the whole
  // transaction) or the connection closes with it open; the commit of the
  // outermost transaction drops it. Raises 0x8004D00E outside a transaction.
  void OnRollback(std::function<void()> undo);

 private:
  // Late-bound forms.
  Variant ExecuteLateBound(const std::string& sql, std::optional<Variant>& records_affected,
                           std::optional<int32_t> options);
  Variant OpenLateBound(std::optional<std::string> connection_string, std::optional<Variant> user,
                        std::optional<Variant> password, std::optional<int32_t> options);
  Variant OpenSchemaLateBound(int32_t schema, std::optional<Variant> criteria);
  void PutConnectionString(const Variant& v) { SetConnectionString(v.ToString()); }
  std::string ConnectionStringCopy() const { return connection_string_; }
  // Kept for the classic property set; the driver has its own busy timeout.
  int32_t CommandTimeout() const { return command_timeout_; }
  void PutCommandTimeout(const Variant& v) { command_timeout_ = v.ToLong(); }
  int32_t ConnectionTimeout() const { return connection_timeout_; }
  void PutConnectionTimeout(const Variant& v) { connection_timeout_ = v.ToLong(); }
  int32_t CursorLocation() const { return cursor_location_; }
  void PutCursorLocation(const Variant& v) { cursor_location_ = v.ToLong(); }
  int32_t command_timeout_ = 30;
  int32_t connection_timeout_ = 15;
  int32_t cursor_location_ = adUseServer;

  std::string connection_string_;
  std::string catalog_;
  std::unique_ptr<Session> session_;
  int32_t transaction_level_ = 0;
  std::vector<DataError> errors_;
  // Runs (and forgets) the rollback work registered at level or deeper.
  void UndoFrom(int32_t level) noexcept;
  struct RollbackWork {
    int32_t level;  // the transaction level it belongs to; a released savepoint hands it down
    std::function<void()> undo;
  };
  std::vector<RollbackWork> rollback_work_;
};

// Rolls the connection's transaction back on scope exit unless Commit was
// called; a failure while rolling back in the destructor is swallowed (the
// failure that left the scope is the one worth reporting).
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();
  void Rollback();

 private:
  Connection& connection_;
  bool done_ = false;
};

// Runs a script of several statements (schema creation, demo data) on an open
// connection, inside one transaction of its own when none is open.
void ExecuteScript(Connection& connection, std::string_view sql);

// Creates the database a connection string names (an empty SQLite file; the
// folder is created too). Does nothing when it exists already.
void CreateDatabaseFile(std::string_view connection_string);

// The database file a SQLite connection string names (<dir>/<catalog>.db,
// a relative dir taken against the instance home).
std::filesystem::path DatabaseFilePath(std::string_view connection_string);

// Closes the pooled sessions of every database, or of the one file (tests and
// instance creation call it before they remove or replace a database file).
void ReleasePooledSessions();
void ReleasePooledSessions(const std::filesystem::path& database_file);

}  // namespace platform::data
