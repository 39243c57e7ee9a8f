#include "platform/data/postgres/pg_driver.h"

#include <libpq-fe.h>

#include <atomic>
#include <type_traits>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/clock.h"
#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"
#include "platform/data/fault_injection.h"
#include "platform/data/postgres/pg_dialect.h"
#include "platform/data/sqlite/literal_lexer.h"
#include "platform/data/sqlite/sqlite_driver.h"

namespace platform::data::postgres {

namespace {

constexpr size_t kMaxIdlePerPool = 16;
constexpr size_t kMaxPreparedPerConnection = 512;

// Type OIDs of the built-in types the driver reads.
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700, kDateOid = 1082, kTimestampOid = 1114,
              kTimestampTzOid = 1184;

std::atomic<int64_t> g_connections_opened{0};

// Bumped by every schema change made through the driver: each connection
// then forgets the columns it described and the statements it prepared (a
// prepared "SELECT *" must not change its columns underneath).
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

struct Handle {
  std::unique_ptr<PGconn, PgConnDeleter> conn;
  std::string key;
  uint64_t generation = 0;
  std::unordered_map<std::string, std::string> prepared;  // text -> statement name
  std::set<std::string> domains;                          // domains known to exist
  std::unordered_map<Oid, std::shared_ptr<const TableInfo>> tables;
  uint64_t schema_epoch = 0;
};

struct Pool {
  std::mutex mutex;
  std::unordered_map<std::string, std::vector<std::unique_ptr<Handle>>> idle;
  std::unordered_map<std::string, uint64_t> generation;
  std::set<std::string> prepared_databases;  // keys whose helpers are installed
};

Pool& ThePool() {
  static Pool* pool = new Pool;  // outlives sessions released during exit
  return *pool;
}

// The libpq keywords of a connection string.
struct Target {
  std::string host, port, dbname, user, password, timeout, statement_timeout;
  std::string Key() const {
    return host + '\n' + port + '\n' + dbname + '\n' + user + '\n' + password + '\n' + statement_timeout;
  }
  std::string Describe() const { return host + (port.empty() ? "" : ":" + port) + "/" + dbname; }
};

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

// ---------------------------------------------------------------------------
// Values in and out (text form both ways).

std::string DoubleText(double d) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

// The text of a value for the server; false for Null.
bool ParameterText(const Variant& v, std::string& out) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      return false;
    case VarType::Boolean:
      out = *v.Get<bool>() ? "1" : "0";  // flags hold 0/1
      return true;
    case VarType::Byte:
      out = std::to_string(*v.Get<uint8_t>());
      return true;
    case VarType::Integer:
      out = std::to_string(*v.Get<int16_t>());
      return true;
    case VarType::Long:
      out = std::to_string(*v.Get<int32_t>());
      return true;
    case VarType::Double:
      out = DoubleText(*v.Get<double>());
      return true;
    case VarType::Currency:
      out = v.Get<Currency>()->ToFixed4();
      return true;
    case VarType::Date:
      out = v.Get<Date>()->ToIso();
      return true;
    case VarType::String:
      out = *v.Get<std::string>();
      // libpq takes parameters as C strings: a NUL would cut the text short
      // and store the rest silently. The server's own words for it.
      if (out.find('\0') != std::string::npos)
        Raise("22021", "invalid byte sequence for encoding \"UTF8\": 0x00");
      return true;
    default:
      detail::RaiseData(data_err::kTypeNotSupported, "Command",
                        "An object or an array cannot be passed as a statement parameter.");
  }
}

// The value of a cell by the server's type of the column.
Variant RawCell(const char* p, int len, Oid type) {
  const std::string_view s(p, static_cast<size_t>(len));
  switch (type) {
    case kBoolOid:
      return Variant(s == "t");
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid: {
      int64_t v = 0;
      std::from_chars(s.data(), s.data() + s.size(), v);
      if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
      return Variant(ParseNumber(s));
    case kDateOid:
    case kTimestampOid:
    case kTimestampTzOid:
      if (auto d = Date::Parse(s.substr(0, 19))) return Variant(*d);
      break;
    default:
      break;
  }
  return Variant(std::string(s));
}

Variant ReadCell(const char* p, int len, Oid oid, int32_t type) {
  if (type == adCurrency && (oid == kNumericOid || oid == kFloat8Oid)) {
    try {
      return Variant(Currency::Parse(std::string_view(p, static_cast<size_t>(len))));
    } catch (const ComError&) {
    }
  }
  Variant raw = RawCell(p, len, oid);
  if (type == adVariant) return raw;
  try {
    return CoerceToFieldType(raw, type);
  } catch (const ComError&) {
    return raw;
  }
}

// A declared type as format_type() writes it, in the spelling the ADO type
// mapping reads ("character varying(20)" -> "VARCHAR(20)", "\"MONEY\"" -> "MONEY").
std::string Declaration(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  std::string args;
  if (auto open = text.find('('); open != std::string::npos) {
    const size_t close = text.find(')', open);
    args = text.substr(open, close == std::string::npos ? std::string::npos : close - open + 1);
    text.erase(open, args.size());
  }
  for (const char* suffix : {" without time zone", " with time zone"}) {
    if (auto at = text.find(suffix); at != std::string::npos) text.erase(at);
  }
  static const std::pair<const char*, const char*> kNames[] = {
      {"character varying", "VARCHAR"}, {"character", "CHAR"}, {"citext", "NVARCHAR"},
      {"timestamp", "DATETIME"},        {"boolean", "BOOLEAN"}, {"integer", "INTEGER"},
      {"smallint", "SMALLINT"},         {"bigint", "BIGINT"},   {"double precision", "FLOAT"},
      {"real", "REAL"},                 {"numeric", "NUMERIC"}, {"text", "TEXT"},
      {"date", "DATE"},                 {"uuid", "UNIQUEIDENTIFIER"}};
  for (const auto& [pg, sql] : kNames) {
    if (text == pg) return std::string(sql) + (std::string(sql) == "DATETIME" ? "" : args);
  }
  return text + args;
}

constexpr const char* kColumnsQuery = R"(
SELECT c.oid, c.relname, a.attnum, COALESCE(nc.spelling, a.attname), format_type(a.atttypid, a.atttypmod), a.attnotnull,
       a.atthasdef OR a.attidentity <> '', pg_get_expr(d.adbin, d.adrelid),
       COALESCE((SELECT k.n FROM unnest(i.indkey) WITH ORDINALITY AS k(attnum, n)
                 WHERE k.attnum = a.attnum), 0),
       a.attidentity <> '' OR COALESCE(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', false)
FROM pg_class c
JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped
LEFT JOIN pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum
LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary
LEFT JOIN vendra_names nc ON nc.folded = a.attname
WHERE )";

// ---------------------------------------------------------------------------

class PgSession final : public Session {
 public:
  PgSession(std::unique_ptr<Handle> h, Target target) : h_(std::move(h)), target_(std::move(target)) {}
  ~PgSession() override { GiveBack(std::move(h_)); }

  QueryResult Run(std::string_view sql, std::span<const BoundValue> params, int64_t max_rows) override {
    FaultInjection::BeforeStatement();
    if (params.empty()) {
      if (auto done = RunParameterised(sql, max_rows)) return std::move(*done);
    }
    auto st = CachedPostgresStatement(sql);
    std::vector<std::string> texts(st->parameters.size());
    std::vector<bool> bound(st->parameters.size(), false), present(st->parameters.size(), false);
    size_t next = 0;
    for (const BoundValue& b : params) {
      size_t index = st->parameters.size();
      if (!b.name.empty()) {
        for (size_t k = 0; k < st->parameters.size(); ++k) {
          const std::string& p = st->parameters[k];
          if (detail::EqualsNoCase(p, b.name) || (!p.empty() && detail::EqualsNoCase(p.substr(1), b.name)))
            index = k;
        }
      }
      if (index == st->parameters.size()) {
        while (next < bound.size() && bound[next]) ++next;
        index = next++;
      }
      if (index >= st->parameters.size()) {
        Raise("07001", std::to_string(params.size()) + " values were given for a statement with " +
                           std::to_string(st->parameters.size()) + " parameters.");
      }
      present[index] = ParameterText(b.value, texts[index]);
      bound[index] = true;
    }
    for (size_t k = 0; k < bound.size(); ++k) {
      if (!bound[k]) {
        Raise("07001", "No value was given for parameter " +
                           (st->parameters[k].empty() ? std::to_string(k + 1) : st->parameters[k]) + ".");
      }
    }
    return Execute(*st, texts, present, max_rows);
  }

  int64_t Exec(std::string_view sql, std::span<const Variant> params) override {
    FaultInjection::BeforeStatement();
    if (params.empty()) {
      if (auto done = RunParameterised(sql, 0)) return done->rows_affected;
    }
    auto st = CachedPostgresStatement(sql);
    if (params.size() != st->parameters.size()) {
      Raise("07001", std::to_string(params.size()) + " values were given for a statement with " +
                         std::to_string(st->parameters.size()) + " parameters.");
    }
    std::vector<std::string> texts(params.size());
    std::vector<bool> present(params.size());
    for (size_t k = 0; k < params.size(); ++k) present[k] = ParameterText(params[k], texts[k]);
    return Execute(*st, texts, present, 0).rows_affected;
  }

  void ExecuteScript(std::string_view sql) override {
    const PgStatement st = TranslateToPostgres(sql);
    EnsureDomains(st);
    WithReconnect([&] { ExecSimple(conn(), Finish(st, {})); });
    SchemaChanged();
    KeepSpellings(st);
    // Rows inserted with their numbers given leave the identity counters
    // behind: they continue after the highest number.
    ExecSimple(conn(), R"(DO $vendra$ DECLARE r record; BEGIN
  FOR r IN SELECT c.relname, a.attname FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid
           WHERE a.attidentity <> '' AND c.relnamespace = current_schema()::regnamespace LOOP
    EXECUTE format('SELECT setval(pg_get_serial_sequence(%L, %L), GREATEST((SELECT max(%I) FROM %I), 0) + 1, false)',
                   quote_ident(r.relname), r.attname, r.attname, r.relname);
  END LOOP; END $vendra$)");
  }

  void Begin() override { Control("BEGIN"); }
  void Commit() override { Control("COMMIT"); }
  // A connection the server dropped has nothing left to roll back: the
  // server ended its transaction with it.
  void Rollback() override {
    if (PQstatus(conn()) == CONNECTION_BAD) return;
    if (PQtransactionStatus(conn()) != PQTRANS_IDLE) Control("ROLLBACK");
  }
  void Savepoint(std::string_view name) override { Control("SAVEPOINT " + std::string(name)); }
  void ReleaseSavepoint(std::string_view name) override { Control("RELEASE SAVEPOINT " + std::string(name)); }
  void RollbackToSavepoint(std::string_view name) override {
    if (PQstatus(conn()) == CONNECTION_BAD || PQtransactionStatus(conn()) == PQTRANS_IDLE) return;
    Control("ROLLBACK TO SAVEPOINT " + std::string(name));
    Control("RELEASE SAVEPOINT " + std::string(name));
  }

  int64_t LastInsertId() override { return last_insert_id_; }

  std::vector<ColumnDescription> DescribeTable(std::string_view table) override {
    auto info = TableByName(std::string(table));
    return info ? info->columns : std::vector<ColumnDescription>{};
  }

  std::vector<std::string> TableNames() override {
    ResultPtr r = ExecSimple(conn(),
                             "SELECT COALESCE(n.spelling, c.relname) FROM pg_class c "
                             "LEFT JOIN vendra_names n ON n.folded = c.relname "
                             "WHERE c.relkind IN ('r', 'p') AND c.relname <> 'vendra_names' AND "
                             "c.relnamespace = current_schema()::regnamespace ORDER BY c.relname");
    std::vector<std::string> names;
    for (int i = 0; i < PQntuples(r.get()); ++i) names.emplace_back(PQgetvalue(r.get(), i, 0));
    return names;
  }

  std::string Describe() const override { return target_.Describe(); }

 private:
  PGconn* conn() const { return h_->conn.get(); }

  // Automatic parameterisation: a statement with its values written into it
  // runs as its shape (each value literal a parameter, shared by every
  // statement that differs only in its values), prepared once per
  // connection. Literals are typed as the server's parser types them:
  // integers int4 (int8 when larger), other numbers numeric, texts unknown.
  // A shape the server will not prepare runs as written. nullopt: not
  // parameterised.
  std::optional<QueryResult> RunParameterised(std::string_view sql, int64_t max_rows) {
    if (!sqlite::AutoParameterisation() || h_->prepared.size() >= kMaxPreparedPerConnection) return std::nullopt;
    sqlite::ParameterisedStatement p = sqlite::Parameterise(sql);
    if (!p.parameterised) return std::nullopt;
    auto st = CachedPostgresStatement(p.shape);
    if (st->parameters.size() != p.literals.size() || !st->now_at.empty()) return std::nullopt;
    std::vector<std::string> texts(p.literals.size());
    std::vector<bool> present(p.literals.size(), true);
    std::vector<Oid> types(p.literals.size(), 0);
    for (size_t k = 0; k < p.literals.size(); ++k) {
      const sqlite::Literal& l = p.literals[k];
      switch (l.kind) {
        case sqlite::Literal::Kind::kText:
          texts[k] = l.text;
          break;
        case sqlite::Literal::Kind::kInteger:
          texts[k] = std::to_string(l.integer);
          types[k] = l.integer >= std::numeric_limits<int32_t>::min() &&
                             l.integer <= std::numeric_limits<int32_t>::max()
                         ? kInt4Oid
                         : kInt8Oid;
          break;
        case sqlite::Literal::Kind::kReal:
          texts[k] = (l.negative ? "-" : "") + l.text;
          types[k] = kNumericOid;
          break;
        case sqlite::Literal::Kind::kBlob:
          return std::nullopt;
      }
    }
    types_ = &types;
    prepare_failed_ = false;
    try {
      QueryResult r = Execute(*st, texts, present, max_rows);
      types_ = nullptr;
      return r;
    } catch (const DatabaseError&) {
      types_ = nullptr;
      if (!prepare_failed_) throw;
      return std::nullopt;  // the text runs as written and reports its own error, if it has one
    }
  }

  // The key of a prepared statement: its text, and the parameter types
  // when they were given.
  std::string PreparedKey(const std::string& text) const {
    if (!types_) return text;
    std::string key = text;
    key += '\0';
    for (Oid t : *types_) key += std::to_string(t) + ',';
    return key;
  }
  const Oid* Types() const { return types_ ? types_->data() : nullptr; }

  // Runs work; a pooled connection the server dropped (a restart) fails its
  // first statement: it is connected again and the work runs once more.
  // Only before anything ran on the session, so no statement runs twice.
  template <typename F>
  std::invoke_result_t<F&> WithReconnect(F&& work) {
    const bool first = !used_;
    used_ = true;
    if (!first) return work();
    try {
      return work();
    } catch (const DatabaseError&) {
      if (PQstatus(conn()) != CONNECTION_BAD) throw;
      h_->prepared.clear();
      PQreset(conn());
      if (PQstatus(conn()) != CONNECTION_OK) {
        Raise("08001", "Cannot open database \"" + target_.dbname + "\" on " + target_.Describe() + ": " +
                           PQerrorMessage(conn()));
      }
      return work();
    }
  }

  void Control(const std::string& sql) {
    WithReconnect([&] { ExecSimple(conn(), sql); });
  }

  // The server folds names to lower case: the spellings of the names a
  // schema statement wrote are kept, so result columns, the schema rowset
  // and table names read as they were declared ("ProdID", not "prodid").
  void KeepSpellings(const PgStatement& st) {
    std::string folded = "{", spelled = "{";
    auto element = [](std::string& out, const std::string& v) {
      if (out.size() > 1) out += ',';
      out += '"';
      for (char c : v) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      out += '"';
    };
    for (const auto& [lower, spelling] : st.spellings) {
      if (lower == spelling) continue;
      element(folded, lower);
      element(spelled, spelling);
    }
    if (folded.size() == 1) return;
    folded += '}';
    spelled += '}';
    const char* values[2] = {folded.c_str(), spelled.c_str()};
    ResultPtr r(PQexecParams(conn(),
                             "INSERT INTO vendra_names SELECT * FROM unnest($1::text[], $2::text[]) "
                             "ON CONFLICT DO NOTHING",
                             2, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) RaiseResult(conn(), r.release());
  }

  void EnsureDomains(const PgStatement& st) {
    for (const std::string& d : st.domains) {
      if (h_->domains.count(d)) continue;
      const std::string def = DomainDefinition(d);
      if (!def.empty()) WithReconnect([&] { ExecSimple(conn(), def); });
      h_->domains.insert(d);
    }
  }

  // The text with the clock and the identity column filled in.
  std::string Finish(const PgStatement& st, const std::string& identity) {
    if (st.now_at.empty() && st.rowid_at.empty()) return st.text;
    std::string out;
    size_t from = 0, n = 0, r = 0;
    const std::string now = "CAST('" + Clock::Now().ToIso() + "' AS timestamp(0))";
    const std::string rowid = identity.empty() ? std::string("ctid") : "\"" + identity + "\"";
    while (n < st.now_at.size() || r < st.rowid_at.size()) {
      const bool take_now = r >= st.rowid_at.size() || (n < st.now_at.size() && st.now_at[n] < st.rowid_at[r]);
      const size_t at = take_now ? st.now_at[n++] : st.rowid_at[r++];
      out.append(st.text, from, at - from);
      out += take_now ? now : rowid;
      from = at;
    }
    out.append(st.text, from);
    return out;
  }

  // The table named after a keyword ("INTO", "FROM") of a translated text.
  static std::string TableAfter(const std::string& text, std::string_view keyword) {
    const std::string upper = detail::Upper(text);
    size_t at = upper.find(" " + std::string(keyword) + " ");
    if (at == std::string::npos) return {};
    size_t j = at + keyword.size() + 2;
    while (j < text.size() && text[j] == ' ') ++j;
    std::string name;
    if (j < text.size() && text[j] == '"') {
      for (++j; j < text.size() && text[j] != '"'; ++j) name += text[j];
    } else {
      for (; j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'); ++j)
        name += text[j];
    }
    return detail::Lower(name);
  }

  // Forgets what a schema change made elsewhere in the process outdated.
  void CheckSchemaEpoch() {
    const uint64_t epoch = g_schema_epoch.load();
    if (h_->schema_epoch == epoch) return;
    h_->tables.clear();
    if (!h_->prepared.empty()) {
      PQclear(PQexec(conn(), "DEALLOCATE ALL"));
      h_->prepared.clear();
    }
    h_->schema_epoch = epoch;
  }

  void SchemaChanged() {
    ++g_schema_epoch;
    CheckSchemaEpoch();
  }

  QueryResult Execute(const PgStatement& st, const std::vector<std::string>& texts,
                      const std::vector<bool>& present, int64_t max_rows) {
    CheckSchemaEpoch();
    EnsureDomains(st);
    // An insert into a table the database numbers returns the number (the
    // batch reads it back as the new row's id); rowid names that column.
    std::string identity;
    const std::string head = detail::Upper(detail::Trim(std::string_view(st.text).substr(0, 12)));
    const bool insert = head.rfind("INSERT", 0) == 0;
    if (insert || !st.rowid_at.empty()) {
      if (auto info = TableByName(TableAfter(st.text, insert ? "INTO" : "FROM"))) identity = info->identity;
    }
    std::string text = Finish(st, identity);
    const bool returning = insert && !identity.empty() &&
                           detail::Upper(text).find("RETURNING") == std::string::npos;
    if (returning) text += " RETURNING \"" + identity + "\"";
    std::vector<const char*> values(texts.size());
    for (size_t k = 0; k < texts.size(); ++k) values[k] = present[k] ? texts[k].c_str() : nullptr;
    const bool prepare = st.now_at.empty();
    ResultPtr res = WithReconnect([&] {
      if (PQtransactionStatus(conn()) == PQTRANS_INTRANS)
        return InStatementSavepoint(text, static_cast<int>(texts.size()), values.data(), prepare);
      PGresult* r = nullptr;
      if (prepare) {
        const std::string& name = Prepared(text, static_cast<int>(texts.size()));
        if (!name.empty()) {
          r = PQexecPrepared(conn(), name.c_str(), static_cast<int>(texts.size()), values.data(), nullptr,
                             nullptr, 0);
        }
      }
      if (!r) {
        r = PQexecParams(conn(), text.c_str(), static_cast<int>(texts.size()), Types(), values.data(), nullptr,
                         nullptr, 0);
      }
      const ExecStatusType s = PQresultStatus(r);
      if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) RaiseResult(conn(), r);
      return ResultPtr(r);
    });
    QueryResult result;
    PGresult* r = res.get();
    const char* tuples = PQcmdTuples(r);
    const int64_t affected = tuples && *tuples ? std::strtoll(tuples, nullptr, 10) : 0;
    if (returning) {
      if (PQntuples(r) > 0 && !PQgetisnull(r, 0, 0)) last_insert_id_ = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
      result.rows_affected = affected;
      return result;
    }
    if (PQresultStatus(r) == PGRES_COMMAND_OK) {
      const std::string_view status = PQcmdStatus(r);
      if (status.rfind("CREATE", 0) == 0 || status.rfind("ALTER", 0) == 0 || status.rfind("DROP", 0) == 0) {
        SchemaChanged();
        KeepSpellings(st);
      }
      result.rows_affected = affected;
      return result;
    }
    Describe(st, r, result);
    const int rows = PQntuples(r);
    const int columns = PQnfields(r);
    const int take = max_rows > 0 ? static_cast<int>(std::min<int64_t>(rows, max_rows)) : rows;
    result.rows.reserve(static_cast<size_t>(take));
    for (int i = 0; i < take; ++i) {
      std::vector<Variant>& values_out = result.rows.emplace_back().values;
      values_out.reserve(static_cast<size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        if (PQgetisnull(r, i, c)) {
          values_out.push_back(Variant::Null());
        } else {
          values_out.push_back(ReadCell(PQgetvalue(r, i, c), PQgetlength(r, i, c), PQftype(r, c),
                                        result.fields[static_cast<size_t>(c)].type));
        }
      }
    }
    // An expression has no declared type: its field takes the kind of the
    // first value it holds.
    for (size_t c = 0; c < result.fields.size(); ++c) {
      FieldInfo& f = result.fields[c];
      if (f.type != adVariant) continue;
      for (const Row& row : result.rows) {
        if (!row.values[c].IsNull()) {
          f.type = TypeOfValue(row.values[c]);
          break;
        }
      }
    }
    return result;
  }

  // Runs a statement inside a transaction within a savepoint of its own,
  // sent with it in one round trip (a pipeline): a failing statement is
  // undone alone and the transaction stays usable, as it does on SQLite,
  // where the server would otherwise refuse everything up to the rollback.
  ResultPtr InStatementSavepoint(const std::string& text, int count, const char* const* values, bool prepare) {
    PGconn* c = conn();
    std::string name;
    bool new_prepare = false;
    if (prepare) {
      auto it = h_->prepared.find(PreparedKey(text));
      if (it != h_->prepared.end()) {
        name = it->second;
      } else if (h_->prepared.size() < kMaxPreparedPerConnection) {
        name = "vendra_" + std::to_string(h_->prepared.size() + 1);
        new_prepare = true;
      }
    }
    if (!PQenterPipelineMode(c)) RaiseResult(c, nullptr);
    bool sent = PQsendQueryParams(c, "SAVEPOINT vendra_statement", 0, nullptr, nullptr, nullptr, nullptr, 0);
    if (new_prepare) sent = sent && PQsendPrepare(c, name.c_str(), text.c_str(), count, Types());
    if (!name.empty()) {
      sent = sent && PQsendQueryPrepared(c, name.c_str(), count, values, nullptr, nullptr, 0);
    } else {
      sent = sent && PQsendQueryParams(c, text.c_str(), count, nullptr, values, nullptr, nullptr, 0);
    }
    sent = sent && PQsendQueryParams(c, "RELEASE SAVEPOINT vendra_statement", 0, nullptr, nullptr, nullptr,
                                     nullptr, 0);
    sent = sent && PQpipelineSync(c);
    const int queries = new_prepare ? 4 : 3;
    ResultPtr statement, failure;
    bool prepared_ok = false;
    for (int q = 0; q < queries && sent; ++q) {
      ResultPtr first;
      while (PGresult* r = PQgetResult(c)) {
        if (!first) {
          first.reset(r);
        } else {
          PQclear(r);
        }
      }
      const ExecStatusType st = first ? PQresultStatus(first.get()) : PGRES_FATAL_ERROR;
      if (new_prepare && q == 1) prepared_ok = st == PGRES_COMMAND_OK;
      if (st == PGRES_FATAL_ERROR || st == PGRES_NONFATAL_ERROR) {
        if (!failure) failure = first ? std::move(first) : ResultPtr();
        if (!first && PQstatus(c) == CONNECTION_BAD) break;
      } else if (q == queries - 2 && !failure) {
        statement = std::move(first);
      }
    }
    if (sent && PQstatus(c) == CONNECTION_OK) {
      // The result of the sync ends the pipeline.
      while (PGresult* r = PQgetResult(c)) {
        const bool end = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (end) break;
      }
    }
    PQexitPipelineMode(c);
    if (prepared_ok) h_->prepared.emplace(PreparedKey(text), name);
    if (new_prepare && !prepared_ok) prepare_failed_ = true;
    if (!sent || failure || !statement) {
      if (PQstatus(c) == CONNECTION_OK && PQtransactionStatus(c) == PQTRANS_INERROR) {
        PQclear(PQexec(c, "ROLLBACK TO SAVEPOINT vendra_statement"));
        PQclear(PQexec(c, "RELEASE SAVEPOINT vendra_statement"));
      }
      RaiseResult(c, failure.release());
    }
    return statement;
  }

  // The name of the prepared statement for a text, preparing it the first
  // time; empty when the connection keeps too many already.
  const std::string& Prepared(const std::string& text, int count) {
    static const std::string none;
    const std::string key = PreparedKey(text);
    auto it = h_->prepared.find(key);
    if (it != h_->prepared.end()) return it->second;
    if (h_->prepared.size() >= kMaxPreparedPerConnection) return none;
    std::string name = "vendra_" + std::to_string(h_->prepared.size() + 1);
    PGresult* r = PQprepare(conn(), name.c_str(), text.c_str(), count, Types());
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
      prepare_failed_ = true;
      RaiseResult(conn(), r);
    }
    PQclear(r);
    return h_->prepared.emplace(key, std::move(name)).first->second;
  }

  void Describe(const PgStatement& st, PGresult* r, QueryResult& result) {
    const int columns = PQnfields(r);
    result.has_rows = true;
    result.rows_affected = -1;
    result.fields.resize(static_cast<size_t>(columns));
    Oid table = InvalidOid;
    bool one_table = true;
    std::shared_ptr<const TableInfo> info;
    for (int c = 0; c < columns; ++c) {
      FieldInfo& f = result.fields[static_cast<size_t>(c)];
      std::string name = PQfname(r, c);
      auto sp = st.spellings.find(name);
      f.name = sp != st.spellings.end() ? sp->second : name;
      const Oid t = PQftable(r, c);
      const int col = PQftablecol(r, c);
      if (t == InvalidOid || col <= 0) {
        f.type = adVariant;
        continue;
      }
      if (table == InvalidOid) {
        table = t;
        info = TableByOid(t);
      } else if (t != table) {
        one_table = false;
      }
      auto tinfo = t == table ? info : TableByOid(t);
      if (!tinfo) continue;
      auto at = tinfo->by_attnum.find(col);
      if (at == tinfo->by_attnum.end()) continue;
      const ColumnDescription& d = tinfo->columns[at->second];
      if (sp == st.spellings.end() && detail::EqualsNoCase(name, d.name)) f.name = d.name;
      f.type = d.type.type;
      f.defined_size = d.type.size;
      f.base_table = tinfo->name;
      f.base_column = d.name;
      int keys = 0;
      for (const ColumnDescription& k : tinfo->columns)
        if (k.key_position > 0) ++keys;
      f.key = d.key_position > 0;
      f.nullable = !d.not_null && d.key_position == 0;
      f.has_default = d.has_default;
      f.row_id = keys == 1 && d.key_position == 1 && detail::EqualsNoCase(tinfo->identity, d.name);
    }
    if (info && one_table) result.table = info->name;
  }

  std::shared_ptr<const TableInfo> TableByOid(Oid oid) {
    auto it = h_->tables.find(oid);
    if (it != h_->tables.end()) return it->second;
    return LoadTable("c.oid = " + std::to_string(oid), {});
  }

  std::shared_ptr<const TableInfo> TableByName(const std::string& name) {
    if (name.empty()) return nullptr;
    const std::string lower = detail::Lower(name);
    for (auto& [oid, info] : h_->tables)
      if (info && info->name == lower) return info;
    return LoadTable("c.relname = $1 AND c.relkind IN ('r', 'p') AND "
                     "c.relnamespace = current_schema()::regnamespace",
                     lower);
  }

  std::shared_ptr<const TableInfo> LoadTable(const std::string& where, const std::string& name) {
    const std::string sql = std::string(kColumnsQuery) + where + " ORDER BY a.attnum";
    const char* values[1] = {name.c_str()};
    ResultPtr r(PQexecParams(conn(), sql.c_str(), name.empty() ? 0 : 1, nullptr, name.empty() ? nullptr : values,
                             nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) RaiseResult(conn(), r.release());
    const int rows = PQntuples(r.get());
    if (rows == 0) return nullptr;
    auto info = std::make_shared<TableInfo>();
    const Oid oid = static_cast<Oid>(std::strtoul(PQgetvalue(r.get(), 0, 0), nullptr, 10));
    info->name = PQgetvalue(r.get(), 0, 1);
    for (int i = 0; i < rows; ++i) {
      ColumnDescription d;
      const int attnum = std::atoi(PQgetvalue(r.get(), i, 2));
      d.name = PQgetvalue(r.get(), i, 3);
      d.declared = Declaration(PQgetvalue(r.get(), i, 4));
      d.type = TypeFromDeclaration(d.declared);
      d.ordinal = i + 1;
      d.not_null = std::string_view(PQgetvalue(r.get(), i, 5)) == "t";
      d.has_default = std::string_view(PQgetvalue(r.get(), i, 6)) == "t";
      if (!PQgetisnull(r.get(), i, 7)) d.default_text = PQgetvalue(r.get(), i, 7);
      d.key_position = std::atoi(PQgetvalue(r.get(), i, 8));
      if (std::string_view(PQgetvalue(r.get(), i, 9)) == "t" && d.type.type == adInteger) info->identity = detail::Lower(d.name);
      info->by_attnum[attnum] = info->columns.size();
      info->columns.push_back(std::move(d));
    }
    h_->tables[oid] = info;
    return info;
  }

  std::unique_ptr<Handle> h_;
  Target target_;
  bool used_ = false;
  int64_t last_insert_id_ = 0;
  const std::vector<Oid>* types_ = nullptr;  // parameter types of the statement running, when given
  bool prepare_failed_ = false;              // the last failure was the server refusing to prepare
};

class PgDriver final : public Driver {
 public:
  std::unique_ptr<Session> Open(const ConnectionSettings& settings) override {
    Target t = TargetOf(settings);
    const std::string key = t.Key();
    Pool& pool = ThePool();
    std::unique_ptr<Handle> h;
    uint64_t generation = 0;
    {
      std::lock_guard lock(pool.mutex);
      auto& idle = pool.idle[key];
      if (!idle.empty()) {
        h = std::move(idle.back());
        idle.pop_back();
      }
      generation = pool.generation[key];
    }
    if (!h) h = OpenHandle(t, generation);
    return std::make_unique<PgSession>(std::move(h), std::move(t));
  }

  void CreateDatabase(const ConnectionSettings& settings) override {
    Target t = TargetOf(settings);
    const std::string name = t.dbname;
    Target maintenance = t;
    maintenance.dbname = "postgres";
    auto conn = Connect(maintenance);
    const char* values[1] = {name.c_str()};
    ResultPtr r(PQexecParams(conn.get(), "SELECT 1 FROM pg_database WHERE datname = $1", 1, nullptr, values,
                             nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) RaiseResult(conn.get(), r.release());
    if (PQntuples(r.get()) == 0) {
      char* quoted = PQescapeIdentifier(conn.get(), name.data(), name.size());
      if (!quoted) RaiseResult(conn.get(), nullptr);
      const std::string sql = std::string("CREATE DATABASE ") + quoted + " TEMPLATE template0 ENCODING 'UTF8'"
                              // A copy of the files: twice as fast as WAL_LOG for a
                              // database as small as template0.
                              " STRATEGY FILE_COPY";
      PQfreemem(quoted);
      ExecSimple(conn.get(), sql);
    }
    auto db = Connect(t);
    InstallHelpers(db.get());
  }
};

}  // namespace

Driver& TheDriver() {
  static PgDriver driver;
  return driver;
}

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
    user = std::string(cred.substr(0, colon));
    if (colon != std::string_view::npos) password = std::string(cred.substr(colon + 1));
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
