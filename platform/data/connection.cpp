#include "platform/data/connection.h"

#include <algorithm>

#include "platform/data/data_util.h"
#include "platform/data/instance_databases.h"
#include "platform/data/recordset.h"
#include "platform/data/postgres/pg_driver.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "platform/data/transaction_scope.h"

namespace platform::data {

const ClassBinding<Connection>& Connection::Binding() {
  static const auto b =
      ClassBinding<Connection>("Connection")
          .Property("ConnectionString", &Connection::ConnectionStringCopy,
                    &Connection::PutConnectionString)
          .Property("State", &Connection::State)
          .Method("Open", &Connection::OpenLateBound)
          .Method("Close", &Connection::Close)
          .Method("Execute", &Connection::ExecuteLateBound)
          .Method("BeginTrans", &Connection::BeginTrans)
          .Method("CommitTrans", &Connection::CommitTrans)
          .Method("RollbackTrans", &Connection::RollbackTrans)
          .Property("Errors", &Connection::Errors)
          .Method("OpenSchema", &Connection::OpenSchemaLateBound)
          .Property("CommandTimeout", &Connection::CommandTimeout, &Connection::PutCommandTimeout)
          .Property("ConnectionTimeout", &Connection::ConnectionTimeout,
                    &Connection::PutConnectionTimeout)
          .Property("CursorLocation", &Connection::CursorLocation, &Connection::PutCursorLocation);
  return b;
}

Connection::Connection() = default;

Connection::~Connection() {
  try {
    Close();
  } catch (...) {
    // A failing rollback while the connection goes away has no one to tell.
  }
}

void Connection::SetConnectionString(std::string text) {
  if (session_) detail::RaiseData(data_err::kObjectOpen, "Connection");
  connection_string_ = std::move(text);
}

void Connection::Open(std::string connection_string, std::string, std::string, int32_t) {
  if (session_) detail::RaiseData(data_err::kObjectOpen, "Connection");
  errors_.clear();
  if (!connection_string.empty()) connection_string_ = std::move(connection_string);
  try {
    // Threads open the same connection string over and over: parse it once.
    thread_local std::string last_text;
    thread_local ConnectionSettings last_settings;
    if (last_text != connection_string_ || last_text.empty()) {
      last_settings = ConnectionSettings::Parse(connection_string_);
      last_text = connection_string_;
    }
    // An instance that keeps its catalogs on a server opens them there.
    std::string server;
    const bool elsewhere = InstanceDatabaseFor(last_settings, &server);
    const ConnectionSettings redirected = elsewhere ? ConnectionSettings::Parse(server) : ConnectionSettings();
    const ConnectionSettings& settings = elsewhere ? redirected : last_settings;
    Driver& driver = FindDriver(settings.provider());
    // Inside a transaction scope the connection works in the scope's transaction.
    TransactionScope* scope = TransactionScope::Current();
    session_ = scope ? scope->Join(driver, settings) : driver.Open(settings);
    catalog_ = last_settings.catalog();  // the catalog's name, wherever it is kept
    transaction_level_ = 0;
    rollback_work_.clear();
  } catch (...) {
    RecordCurrentFailure();
    throw;
  }
}

void Connection::Close() {
  if (!session_) return;
  if (transaction_level_ > 0) {
    transaction_level_ = 0;
    UndoFrom(1);
    try {
      session_->Rollback();
    } catch (...) {
      // The session goes back to the pool, which rolls back what is left.
    }
  }
  session_.reset();
  catalog_.clear();
}

Session& Connection::session() {
  if (!session_) detail::RaiseData(data_err::kObjectClosed, "Connection");
  return *session_;
}

void Connection::RecordCurrentFailure() {
  try {
    throw;
  } catch (const DatabaseError& e) {
    errors_.push_back(e.detail());
  } catch (...) {
    const ComError e = CurrentError();
    DataError d;
    d.number = e.number();
    d.description = e.description();
    d.source = e.source();
    d.sql_state = "HY000";
    errors_.push_back(std::move(d));
  }
}

std::shared_ptr<Recordset> Connection::Execute(std::string_view sql, Variant* records_affected,
                                               int32_t options) {
  int64_t affected = 0;
  auto rs = Execute(sql, std::span<const Variant>(), &affected);
  if (records_affected) {
    *records_affected = Variant(static_cast<int32_t>(
        std::clamp<int64_t>(affected, INT32_MIN, INT32_MAX)));
  }
  if (options >= 0 && (options & adExecuteNoRecords)) return nullptr;
  return rs;
}

std::shared_ptr<Recordset> Connection::Execute(std::string_view sql,
                                               std::initializer_list<Variant> params,
                                               int64_t* records_affected) {
  return Execute(sql, std::span<const Variant>(params.begin(), params.size()), records_affected);
}

std::shared_ptr<Recordset> Connection::Execute(std::string_view sql,
                                               std::span<const Variant> params,
                                               int64_t* records_affected) {
  QueryResult result = Recorded([&](Session& s) {
    std::vector<BoundValue> bound;
    bound.reserve(params.size());
    for (const Variant& v : params) bound.push_back({std::string(), v});
    return s.Run(sql, bound, 0);
  });
  if (records_affected) *records_affected = result.rows_affected;
  if (!result.has_rows) return nullptr;
  return Recordset::FromResult(std::move(result),
                               std::dynamic_pointer_cast<Connection>(weak_from_this().lock()));
}

int32_t Connection::BeginTrans() {
  Recorded([&](Session& s) {
    if (transaction_level_ == 0) {
      s.Begin();
    } else {
      s.Savepoint("vendra_level_" + std::to_string(transaction_level_ + 1));
    }
  });
  return ++transaction_level_;
}

// Ending a transaction keeps the error list: a handler reads it after it
// rolled back.
void Connection::CommitTrans() {
  Session& s = session();
  if (transaction_level_ == 0) detail::RaiseData(data_err::kNoTransaction, "Connection");
  try {
    if (transaction_level_ == 1) {
      s.Commit();
    } else {
      s.ReleaseSavepoint("vendra_level_" + std::to_string(transaction_level_));
    }
  } catch (...) {
    // The transaction stays open: the caller's handler rolls it back.
    RecordCurrentFailure();
    throw;
  }
  if (transaction_level_ == 1) {
    rollback_work_.clear();  // written for good
  } else {
    // What the savepoint wrote now stands or falls with the level around it.
    for (RollbackWork& w : rollback_work_)
      if (w.level == transaction_level_) w.level = transaction_level_ - 1;
  }
  --transaction_level_;
}

void Connection::RollbackTrans() {
  Session& s = session();
  if (transaction_level_ == 0) detail::RaiseData(data_err::kNoTransaction, "Connection");
  const int32_t level = transaction_level_--;
  // Whether or not the engine reports a failure here, the rows go back to
  // pending: a retry that finds them written already fails with a clear
  // error, while rows taken for written that are not would be lost.
  UndoFrom(level);
  try {
    if (level == 1) {
      s.Rollback();
    } else {
      s.RollbackToSavepoint("vendra_level_" + std::to_string(level));
    }
  } catch (...) {
    RecordCurrentFailure();
    throw;
  }
}

void Connection::OnRollback(std::function<void()> undo) {
  if (transaction_level_ == 0) detail::RaiseData(data_err::kNoTransaction, "Connection");
  rollback_work_.push_back({transaction_level_, std::move(undo)});
}

void Connection::UndoFrom(int32_t level) noexcept {
  // Latest first: a row written twice goes back through its states in turn.
  while (!rollback_work_.empty() && rollback_work_.back().level >= level) {
    std::function<void()> undo = std::move(rollback_work_.back().undo);
    rollback_work_.pop_back();
    try {
      undo();
    } catch (...) {
      // Putting rows back only moves values; there is nothing to report.
    }
  }
}

std::shared_ptr<ErrorCollection> Connection::Errors() const {
  return std::make_shared<ErrorCollection>(errors_);
}

std::shared_ptr<Recordset> Connection::OpenSchema(int32_t schema, const Variant& criteria) {
  errors_.clear();
  Session& s = session();
  if (schema != adSchemaColumns && schema != adSchemaTables) {
    detail::RaiseData(data_err::kBadArguments, "Connection",
                      "OpenSchema supports adSchemaColumns (4) and adSchemaTables (20).");
  }
  // Criteria: catalog, schema, table[, column]; an Empty entry matches all.
  std::string want_table, want_column;
  if (criteria.IsArray()) {
    const VariantArray& c = criteria.Array();
    if (c.size() > 2 && !c[2].IsMissing()) want_table = c[2].ToString();
    if (c.size() > 3 && !c[3].IsMissing()) want_column = c[3].ToString();
  } else if (!criteria.IsMissing()) {
    detail::RaiseData(data_err::kBadArguments, "Connection");
  }
  auto store = std::make_shared<RowStore>();
  auto field = [&](std::string name, int32_t type, int32_t size) {
    FieldInfo f;
    f.name = std::move(name);
    f.type = type;
    f.defined_size = size;
    store->fields.push_back(std::move(f));
  };
  field("TABLE_CATALOG", adVarWChar, 128);
  field("TABLE_SCHEMA", adVarWChar, 128);
  field("TABLE_NAME", adVarWChar, 128);
  try {
    const std::vector<std::string> tables = s.TableNames();
    if (schema == adSchemaTables) {
      field("TABLE_TYPE", adVarWChar, 32);
      for (const std::string& t : tables) {
        if (!want_table.empty() && !detail::EqualsNoCase(t, want_table)) continue;
        Row r;
        r.values = {Variant(catalog_), Variant("dbo"), Variant(t), Variant("TABLE")};
        store->rows.push_back(std::move(r));
      }
    } else {
      field("COLUMN_NAME", adVarWChar, 128);
      field("ORDINAL_POSITION", adInteger, 4);
      field("COLUMN_HASDEFAULT", adBoolean, 2);
      field("COLUMN_DEFAULT", adVarWChar, 0);
      field("IS_NULLABLE", adBoolean, 2);
      field("DATA_TYPE", adSmallInt, 2);
      field("CHARACTER_MAXIMUM_LENGTH", adInteger, 4);
      field("TYPE_NAME", adVarWChar, 128);
      field("PRIMARY_KEY", adBoolean, 2);
      for (const std::string& t : tables) {
        if (!want_table.empty() && !detail::EqualsNoCase(t, want_table)) continue;
        for (const ColumnDescription& d : s.DescribeTable(t)) {
          if (!want_column.empty() && !detail::EqualsNoCase(d.name, want_column)) continue;
          const bool text = d.type.type == adVarWChar || d.type.type == adVarChar ||
                            d.type.type == adWChar || d.type.type == adChar ||
                            d.type.type == adLongVarWChar || d.type.type == adLongVarChar;
          Row r;
          r.values = {Variant(catalog_),
                      Variant("dbo"),
                      Variant(t),
                      Variant(d.name),
                      Variant(d.ordinal),
                      Variant(d.has_default),
                      d.has_default ? Variant(d.default_text) : Variant::Null(),
                      Variant(!d.not_null && d.key_position == 0),
                      Variant(static_cast<int16_t>(d.type.type)),
                      text ? Variant(d.type.size) : Variant::Null(),
                      Variant(d.declared),
                      Variant(d.key_position > 0)};
          store->rows.push_back(std::move(r));
        }
      }
    }
  } catch (...) {
    RecordCurrentFailure();
    throw;
  }
  store->IndexFields();
  store->RecountLive();
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  rs->OpenStore(std::move(store), adOpenStatic, adLockReadOnly);
  return rs;
}

Variant Connection::ExecuteLateBound(const std::string& sql,
                                     std::optional<Variant>& records_affected,
                                     std::optional<int32_t> options) {
  Variant affected;
  auto rs = Execute(sql, &affected, options.value_or(adCmdText));
  if (records_affected) *records_affected = affected;
  if (!rs) return Variant();
  return Variant(std::move(rs));
}

Variant Connection::OpenLateBound(std::optional<std::string> connection_string,
                                  std::optional<Variant>, std::optional<Variant>,
                                  std::optional<int32_t>) {
  Open(connection_string.value_or(std::string()));
  return Variant();
}

Variant Connection::OpenSchemaLateBound(int32_t schema, std::optional<Variant> criteria) {
  return Variant(OpenSchema(schema, criteria.value_or(Variant())));
}

// ---------------------------------------------------------------------------

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.BeginTrans();
}

Transaction::~Transaction() {
  if (done_) return;
  try {
    connection_.RollbackTrans();
  } catch (...) {
    // The failure that is leaving the scope is the one to report.
  }
}

void Transaction::Commit() {
  if (done_) detail::RaiseData(data_err::kNoTransaction, "Connection");
  connection_.CommitTrans();
  done_ = true;
}

void Transaction::Rollback() {
  if (done_) detail::RaiseData(data_err::kNoTransaction, "Connection");
  done_ = true;
  connection_.RollbackTrans();
}

void ExecuteScript(Connection& connection, std::string_view sql) {
  std::optional<Transaction> tx;
  if (!connection.InTransaction()) tx.emplace(connection);
  connection.Recorded([&](Session& s) { s.ExecuteScript(sql); });
  if (tx) tx->Commit();
}

void CreateDatabaseFile(std::string_view connection_string) {
  ConnectionSettings settings = ConnectionSettings::Parse(connection_string);
  if (std::string server; InstanceDatabaseFor(settings, &server))
    settings = ConnectionSettings::Parse(server);
  FindDriver(settings.provider()).CreateDatabase(settings);
}

std::filesystem::path DatabaseFilePath(std::string_view connection_string) {
  const ConnectionSettings settings = ConnectionSettings::Parse(connection_string);
  FindDriver(settings.provider());
  return sqlite::DatabaseFile(settings);
}

void ReleasePooledSessions() {
  sqlite::ReleasePool();
  postgres::ReleasePool();
}
void ReleasePooledSessions(const std::filesystem::path& database_file) {
  sqlite::ReleasePool(database_file);
}

std::shared_ptr<Connection> ConnectionFromVariant(const Variant& value, std::string_view object) {
  if (value.IsObject()) {
    ObjectPtr o = value.ToObject();
    auto connection = std::dynamic_pointer_cast<Connection>(o);
    if (o && !connection)
      detail::RaiseData(data_err::kBadArguments, object, "ActiveConnection must be a Connection.");
    return connection;
  }
  if (value.IsString() && !value.Get<std::string>()->empty()) {
    auto connection = std::make_shared<Connection>();
    connection->Open(*value.Get<std::string>());
    return connection;
  }
  if (value.IsMissing() || value.IsString()) return nullptr;
  detail::RaiseData(data_err::kBadArguments, object, "ActiveConnection must be a Connection.");
}

}  // namespace platform::data
