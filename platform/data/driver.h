// The driver interface between the ADO-style objects and a database engine.
// A Session is one open database handle lent to one Connection; the driver
// pools them, so opening and closing a connection is cheap. The system writes
// its SQL in one canonical dialect (SQL Server's); a driver translates what
// its engine reads differently and reports failures with the canonical text.
//
// SQLite is the embedded driver ("Provider=SQLite"); a server database plugs
// in behind the same interface.
//
// Thread-safety: a Session is used by one thread at a time; drivers and the
// connection-string parser may be used from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/variant.h"
#include "platform/data/errors.h"
#include "platform/data/row_store.h"

namespace platform::data {

// A failure reported by the engine: a ComError (0x80004005 and the engine's
// message) that also carries the entry for the connection's Errors list.
class DatabaseError : public ComError {
 public:
  explicit DatabaseError(DataError detail);
  const DataError& detail() const { return detail_; }

 private:
  DataError detail_;
};

// The keys of a connection string, case-insensitive, values trimmed.
// "Provider=SQLite;Data Source=data;Initial Catalog=Vendra".
class ConnectionSettings {
 public:
  static ConnectionSettings Parse(std::string_view text);
  // Empty when absent. Keys compare case-insensitively.
  std::string Get(std::string_view key) const;
  bool Has(std::string_view key) const;
  std::string provider() const { return Get("Provider"); }
  std::string data_source() const { return Get("Data Source"); }
  std::string catalog() const { return Get("Initial Catalog"); }

 private:
  std::map<std::string, std::string> values_;  // folded key -> value
};

struct ColumnDescription {
  std::string name;
  std::string declared;  // the declared type as written in the DDL
  DeclaredType type;
  int32_t ordinal = 0;   // 1-based
  int32_t key_position = 0;  // 1-based position in the primary key, 0 when not a key
  bool not_null = false;
  bool has_default = false;
  std::string default_text;
};

// Result of one statement. has_rows tells a row-returning statement (even one
// that returned no rows) from one that only changes data.
struct QueryResult {
  bool has_rows = false;
  std::vector<FieldInfo> fields;
  std::vector<Row> rows;
  std::string table;  // the one base table of all base columns, when there is one
  int64_t rows_affected = 0;
};

// Values bound to a statement: by position, or by name ("@PRODID") where a
// name is given and the statement uses named parameters.
struct BoundValue {
  std::string name;
  Variant value;
};

class Session {
 public:
  virtual ~Session() = default;

  // Runs one statement of canonical SQL. Row-returning statements read up to
  // max_rows rows (0: all). More than one statement in the text is an error:
  // scripts go through ExecuteScript.
  virtual QueryResult Run(std::string_view sql, std::span<const BoundValue> params,
                          int64_t max_rows = 0) = 0;
  // The same for statements whose rows nobody reads; returns the rows changed.
  virtual int64_t Exec(std::string_view sql, std::span<const Variant> params) = 0;
  // Several statements separated by ";", in one go, for schema scripts.
  virtual void ExecuteScript(std::string_view sql) = 0;

  // Write transactions take the write lock at their start.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual void Savepoint(std::string_view name) = 0;
  virtual void ReleaseSavepoint(std::string_view name) = 0;
  virtual void RollbackToSavepoint(std::string_view name) = 0;

  virtual int64_t LastInsertId() = 0;
  // The columns of a table in declaration order; empty when there is no such table.
  virtual std::vector<ColumnDescription> DescribeTable(std::string_view table) = 0;
  virtual std::vector<std::string> TableNames() = 0;
  // The database a session works on (the file for SQLite), for messages.
  virtual std::string Describe() const = 0;
  // Runs a stored procedure the database keeps itself, such as a server
  // function; nullopt when the procedure runs as its registered statement
  // (SQLite).
  virtual std::optional<QueryResult> RunProcedure(std::string_view name, std::span<const BoundValue> params) {
    (void)name;
    (void)params;
    return std::nullopt;
  }
};

class Driver {
 public:
  virtual ~Driver() = default;
  // Opens (or takes from the pool) a session on an existing database; a
  // database that does not exist is an error, never created here.
  virtual std::unique_ptr<Session> Open(const ConnectionSettings& settings) = 0;
  // Creates the database (an empty file for SQLite) when it does not exist.
  virtual void CreateDatabase(const ConnectionSettings& settings) = 0;
};

// The driver for a provider name (case-insensitive); raises 3706 "Provider
// cannot be found..." for an empty or unknown one.
Driver& FindDriver(std::string_view provider);

}  // namespace platform::data
