// Internal to the PostgreSQL driver: the server connections behind its
// sessions. Errors in the data layer's form with the server's own text,
// the libpq keywords of a connection string (Target), the per-process pool
// of server connections (Handle, Pool; one pool per server, database and
// role) and the helpers every database gets the first time the process opens
// it (citext, the type domains, text + text, instr, julianday,
// total_changes, vendra_names).
//
// Thread-safety: the pool is guarded by its lock; a Handle (and its libpq
// connection) is used by one thread at a time.
#pragma once

#include <libpq-fe.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/data/driver.h"

namespace platform::data::postgres {

inline constexpr size_t kMaxIdlePerPool = 16;
inline constexpr size_t kMaxPreparedPerConnection = 512;

// Server connections opened since start.
extern std::atomic<int64_t> g_connections_opened;
// Bumped by every schema change made through the driver: each connection
// then forgets the columns it described and the statements it prepared (a
// prepared "SELECT *" must not change its columns underneath).
extern std::atomic<uint64_t> g_schema_epoch;

// The ODBC state the system's callers look at, from the server's SQLSTATE.
std::string OdbcState(std::string_view sqlstate);
// A database error with the server's state and text.
[[noreturn]] void Raise(std::string_view sqlstate, std::string message);
// Raises the server's own text of a failed result (the result is cleared).
[[noreturn]] void RaiseResult(PGconn* conn, PGresult* res);

struct PgConnDeleter {
  void operator()(PGconn* c) const { PQfinish(c); }
};

struct PgResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, PgResultDeleter>;

// What the driver knows of one table: its name and columns by attribute number.
struct TableInfo {
  std::string name;
  std::vector<ColumnDescription> columns;  // in declaration order
  std::unordered_map<int, size_t> by_attnum;
  std::string identity;  // the integer column the database numbers, when there is one
};

// The result columns of a server function: the select list that names them
// as the scripts spelled them, and which of them are numeric.
struct ProcedureColumns {
  std::string select;
  std::vector<bool> numeric;
};

struct Handle {
  std::unique_ptr<PGconn, PgConnDeleter> conn;
  std::string key;
  uint64_t generation = 0;
  std::unordered_map<std::string, std::string> prepared;  // text -> statement name
  std::set<std::string> domains;                          // domains known to exist
  std::unordered_map<Oid, std::shared_ptr<const TableInfo>> tables;
  std::unordered_map<std::string, ProcedureColumns> procedures;  // by function name
  uint64_t schema_epoch = 0;
};

struct Pool {
  std::mutex mutex;
  std::unordered_map<std::string, std::vector<std::unique_ptr<Handle>>> idle;
  std::unordered_map<std::string, uint64_t> generation;
  std::set<std::string> prepared_databases;  // keys whose helpers are installed
};

// The libpq keywords of a connection string.
struct Target {
  std::string host, port, dbname, user, password, timeout, statement_timeout;
  std::string Key() const {
    return host + '\n' + port + '\n' + dbname + '\n' + user + '\n' + password + '\n' + statement_timeout;
  }
  std::string Describe() const { return host + (port.empty() ? "" : ":" + port) + "/" + dbname; }
};


Pool& ThePool();
Target TargetOf(const ConnectionSettings& s);
std::unique_ptr<PGconn, PgConnDeleter> Connect(const Target& t);
// Runs SQL as it stands (no translation); raises the server's text on failure.
ResultPtr ExecSimple(PGconn* conn, const std::string& sql);
// The helpers the translated dialect relies on; safe to run again.
void InstallHelpers(PGconn* conn);
// A new server connection, with the database's helpers installed on its
// first use by this process.
std::unique_ptr<Handle> OpenHandle(const Target& t, uint64_t generation);
// Back to the pool (rolled back if a transaction was left open), or closed.
void GiveBack(std::unique_ptr<Handle> h);

}  // namespace platform::data::postgres
