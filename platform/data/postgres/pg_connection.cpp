#include "platform/data/postgres/pg_connection.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "platform/data/data_util.h"
#include "platform/data/errors.h"
#include "platform/data/postgres/pg_dialect.h"
#include "platform/data/postgres/pg_driver.h"

namespace platform::data::postgres {

std::atomic<int64_t> g_connections_opened{0};

std::atomic<uint64_t> g_schema_epoch{1};

// The ODBC state the system's callers look at, from the server's SQLSTATE.
std::string OdbcState(std::string_view sqlstate) {
  if (sqlstate.substr(0, 2) == "23") return "23000";
  if (sqlstate.substr(0, 2) == "08") return "08001";
  if (sqlstate == "57014" || sqlstate == "55P03" || sqlstate == "40001" || sqlstate == "40P01")
    return "HYT00";
  if (sqlstate.substr(0, 2) == "42") return "42000";
  return "HY000";
}

[[noreturn]] void Raise(std::string_view sqlstate, std::string message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  DataError e;
  e.number = data_err::kProvider;
  e.description = std::move(message);
  e.source = std::string(kPostgresSource);
  e.sql_state = OdbcState(sqlstate);
  // The server's five-character state, as a number where it is one.
  int native = 0;
  std::from_chars(sqlstate.data(), sqlstate.data() + sqlstate.size(), native);
  e.native_error = native;
  throw DatabaseError(std::move(e));
}

// Raises the server's own text of a failed result (the result is cleared).
[[noreturn]] void RaiseResult(PGconn* conn, PGresult* res) {
  std::string state, text;
  if (res) {
    const char* s = PQresultErrorField(res, PG_DIAG_SQLSTATE);
    const char* m = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
    const char* d = PQresultErrorField(res, PG_DIAG_MESSAGE_DETAIL);
    state = s ? s : "";
    if (m) text = m;
    if (d) text += std::string(text.empty() ? "" : " ") + d;
    PQclear(res);
  }
  if (text.empty()) text = PQerrorMessage(conn);
  if (state.empty()) state = PQstatus(conn) == CONNECTION_BAD ? "08006" : "HY000";
  Raise(state, std::move(text));
}





Pool& ThePool() {
  static Pool* pool = new Pool;  // outlives sessions released during exit
  return *pool;
}


Target TargetOf(const ConnectionSettings& s) {
  Target t;
  std::string source = s.data_source();
  if (source.empty()) Raise("08001", "The connection string names no Data Source.");
  const size_t colon = source.rfind(':');
  if (colon != std::string::npos && colon + 1 < source.size() &&
      source.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    t.port = source.substr(colon + 1);
    source.resize(colon);
  }
  t.host = source;
  t.dbname = s.catalog();
  if (t.dbname.empty()) Raise("08001", "The connection string names no Initial Catalog.");
  t.user = s.Has("User ID") ? s.Get("User ID") : s.Get("UID");
  t.password = s.Has("Password") ? s.Get("Password") : s.Get("PWD");
  t.timeout = s.Has("Connect Timeout") ? s.Get("Connect Timeout") : "5";
  // Seconds a statement may run before the server cancels it (0: no limit).
  const std::string command = s.Get("Command Timeout");
  if (!command.empty()) {
    if (command.find_first_not_of("0123456789") != std::string::npos)
      Raise("08001", "Command Timeout must be a whole number of seconds, not \"" + command + "\".");
    t.statement_timeout = command;
  }
  return t;
}

std::unique_ptr<PGconn, PgConnDeleter> Connect(const Target& t) {
  std::vector<const char*> keys, values;
  auto add = [&](const char* k, const std::string& v) {
    if (v.empty()) return;
    keys.push_back(k);
    values.push_back(v.c_str());
  };
  add("host", t.host);
  add("port", t.port);
  add("dbname", t.dbname);
  add("user", t.user);
  add("password", t.password);
  add("connect_timeout", t.timeout);
  std::string options =
      "-c DateStyle=ISO,YMD -c TimeZone=UTC -c extra_float_digits=3 -c client_min_messages=warning";
  if (!t.statement_timeout.empty()) options += " -c statement_timeout=" + t.statement_timeout + "s";
  add("options", options);
  static const std::string app = "vendra";
  add("application_name", app);
  static const std::string encoding = "UTF8";
  add("client_encoding", encoding);
  keys.push_back(nullptr);
  values.push_back(nullptr);
  std::unique_ptr<PGconn, PgConnDeleter> conn(PQconnectdbParams(keys.data(), values.data(), 0));
  if (!conn) Raise("08001", "Out of memory connecting to the PostgreSQL server.");
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(conn.get());
    const bool missing = msg.find("does not exist") != std::string::npos;
    Raise(missing ? "3D000" : "08001",
          "Cannot open database \"" + t.dbname + "\" on " + t.Describe() + ": " + msg);
  }
  ++g_connections_opened;
  return conn;
}

ResultPtr ExecSimple(PGconn* conn, const std::string& sql) {
  ResultPtr res(PQexec(conn, sql.c_str()));
  const ExecStatusType st = PQresultStatus(res.get());
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) RaiseResult(conn, res.release());
  return res;
}

// The helpers the translated dialect relies on; safe to run again.
constexpr const char* kHelpers = R"(
SELECT pg_advisory_xact_lock(1987654321);
CREATE EXTENSION IF NOT EXISTS citext;
CREATE TABLE IF NOT EXISTS vendra_names (folded text PRIMARY KEY, spelling text NOT NULL);
CREATE OR REPLACE FUNCTION instr(haystack text, needle text) RETURNS integer
  LANGUAGE sql IMMUTABLE AS 'SELECT strpos(haystack, needle)';
-- SQLite's julianday() of a date-time: batch updates find a row by its date
-- read before with it, whatever form the date was written in.
CREATE OR REPLACE FUNCTION julianday(t timestamp) RETURNS double precision LANGUAGE sql IMMUTABLE AS
  'SELECT extract(epoch FROM t)::double precision / 86400.0 + 2440587.5';
-- SQLite's total_changes(), for the current transaction: the rows inserted,
-- updated and deleted in it so far (a statement that must only read is
-- checked by it).
CREATE OR REPLACE FUNCTION total_changes() RETURNS bigint LANGUAGE sql VOLATILE AS
  'SELECT COALESCE(sum(n_tup_ins + n_tup_upd + n_tup_del), 0)::bigint FROM pg_stat_xact_all_tables';
DO $vendra$ BEGIN
  CREATE OPERATOR + (LEFTARG = text, RIGHTARG = text, FUNCTION = textcat);
EXCEPTION WHEN duplicate_function OR duplicate_object OR unique_violation THEN NULL;
END $vendra$;
)";

void InstallHelpers(PGconn* conn) {
  ExecSimple(conn, kHelpers);
  for (const char* d : {"BIT", "TINYINT", "MONEY", "DATETIME", "NVARCHAR", "VARCHAR", "NCHAR", "CHAR",
                        "NTEXT", "TEXT", "UNIQUEIDENTIFIER"})
    ExecSimple(conn, DomainDefinition(d));
  // A database made when BIT took 0 and 1 only: the flag triggers hold that
  // rule now, storing 1 for any non-zero number.
  ExecSimple(conn, "ALTER DOMAIN \"BIT\" DROP CONSTRAINT IF EXISTS \"BIT_check\"");
}

std::unique_ptr<Handle> OpenHandle(const Target& t, uint64_t generation) {
  auto h = std::make_unique<Handle>();
  h->conn = Connect(t);
  h->key = t.Key();
  h->generation = generation;
  bool install = false;
  {
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    install = pool.prepared_databases.insert(h->key).second;
  }
  if (install) {
    try {
      InstallHelpers(h->conn.get());
    } catch (...) {
      std::lock_guard lock(ThePool().mutex);
      ThePool().prepared_databases.erase(h->key);
      throw;
    }
  }
  return h;
}

void GiveBack(std::unique_ptr<Handle> h) {
  PGconn* c = h->conn.get();
  if (PQstatus(c) != CONNECTION_OK) return;
  const PGTransactionStatusType ts = PQtransactionStatus(c);
  if (ts == PQTRANS_INTRANS || ts == PQTRANS_INERROR) {
    PGresult* r = PQexec(c, "ROLLBACK");
    PQclear(r);
  } else if (ts != PQTRANS_IDLE) {
    return;  // busy or unknown: closed
  }
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  auto& idle = pool.idle[h->key];
  if (h->generation == pool.generation[h->key] && idle.size() < kMaxIdlePerPool) idle.push_back(std::move(h));
}

namespace {

// The text of a URL part with its %XX escapes undone ("p%40ss" -> "p@ss"), so
// a password may hold '@', ':' or '/'. An escape that is not two hex digits
// is refused rather than guessed at.
std::string PercentDecoded(std::string_view part, std::string_view url) {
  std::string out;
  out.reserve(part.size());
  for (size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '%') {
      out += part[i];
      continue;
    }
    int value = 0;
    const char* first = part.data() + i + 1;
    const char* last = part.data() + std::min(part.size(), i + 3);
    const auto r = std::from_chars(first, last, value, 16);
    if (last - first != 2 || r.ptr != last)
      Raise("08001", "\"" + std::string(url) + "\" holds a '%' that is not followed by two hex digits.");
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

}  // namespace

std::string ConnectionStringFromUrl(std::string_view url, std::string_view catalog) {
  std::string_view rest = url;
  bool ok = false;
  for (std::string_view scheme : {"postgresql://", "postgres://"}) {
    if (rest.substr(0, scheme.size()) == scheme) {
      rest.remove_prefix(scheme.size());
      ok = true;
      break;
    }
  }
  if (!ok) Raise("08001", "\"" + std::string(url) + "\" is not a postgresql:// address.");
  if (auto q = rest.find('?'); q != std::string_view::npos) rest = rest.substr(0, q);
  std::string user, password, db;
  if (auto at = rest.rfind('@'); at != std::string_view::npos) {
    std::string_view cred = rest.substr(0, at);
    rest.remove_prefix(at + 1);
    auto colon = cred.find(':');
    user = PercentDecoded(cred.substr(0, colon), url);
    if (colon != std::string_view::npos) password = PercentDecoded(cred.substr(colon + 1), url);
  }
  std::string_view host = rest;
  if (auto slash = rest.find('/'); slash != std::string_view::npos) {
    host = rest.substr(0, slash);
    db = std::string(rest.substr(slash + 1));
  }
  if (host.empty()) host = "localhost";
  const std::string database = catalog.empty() ? (db.empty() ? std::string("postgres") : db) : std::string(catalog);
  auto quote = [](const std::string& v) {
    if (v.find_first_of(";'\"") == std::string::npos) return v;
    std::string out = "\"";
    for (char c : v) {
      if (c == '"') out += '"';
      out += c;
    }
    return out + "\"";
  };
  std::string s = "Provider=PostgreSQL;Data Source=" + std::string(host) + ";Initial Catalog=" + quote(database);
  if (!user.empty()) s += ";User ID=" + quote(user);
  if (!password.empty()) s += ";Password=" + quote(password);
  return s;
}

void ReleasePool() {
  Pool& pool = ThePool();
  std::vector<std::unique_ptr<Handle>> closing;
  std::lock_guard lock(pool.mutex);
  for (auto& [key, idle] : pool.idle) {
    ++pool.generation[key];
    for (auto& h : idle) closing.push_back(std::move(h));
    idle.clear();
  }
}

int64_t ConnectionsOpened() { return g_connections_opened.load(); }

}  // namespace platform::data::postgres
