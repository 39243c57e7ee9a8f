#include "platform/data/sqlite/sqlite_driver.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <list>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/clock.h"
#include "platform/host/instance.h"
#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"
#include "platform/data/fault_injection.h"
#include "platform/data/sql_dialect.h"
#include "platform/data/sqlite/busy_wait.h"
#include "platform/data/sqlite/checkpoint.h"
#include "platform/data/sqlite/driver_internal.h"
#include "platform/data/sqlite/literal_lexer.h"
#include "platform/data/sqlite/text_rules.h"
#include "platform/data/sqlite/values.h"

namespace platform::data::sqlite {

using namespace internal;

namespace {

constexpr size_t kMaxIdlePerFile = 16;
constexpr size_t kMaxRealsPerHandle = 4096;

std::atomic<int64_t> g_handles_opened{0};

bool AutoParameterisationFromEnvironment() {
  const char* v = std::getenv("VENDRA_SQLITE_AUTOPARAM");
  return !(v && (std::string_view(v) == "0" || detail::EqualsNoCase(v, "off")));
}
std::atomic<bool> g_autoparam{AutoParameterisationFromEnvironment()};

std::mutex g_recorder_mutex;
std::shared_ptr<const std::function<void(const RecordedStatement&)>> g_recorder;
std::atomic<bool> g_recording{false};

// Bumped by every schema change made through the driver; cached column
// descriptions older than it are read again.
std::atomic<uint64_t> g_schema_epoch{1};

std::string SqlStateOf(int rc) {
  switch (rc & 0xff) {
    case SQLITE_CONSTRAINT: return "23000";
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "HYT00";
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB: return "08001";
    case SQLITE_RANGE:
    case SQLITE_MISMATCH: return "07006";
    default: return "HY000";
  }
}

}  // namespace

namespace internal {

[[noreturn]] void RaiseEngine(int rc, std::string message) {
  DataError e;
  e.number = data_err::kProvider;
  e.description = std::move(message);
  e.source = std::string(kProviderSource);
  e.sql_state = SqlStateOf(rc);
  e.native_error = rc;
  throw DatabaseError(std::move(e));
}

[[noreturn]] void RaiseFrom(sqlite3* db, int rc) {
  const int ext = db ? sqlite3_extended_errcode(db) : rc;
  RaiseEngine(ext ? ext : rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

}  // namespace internal

namespace {

void NowFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  const std::string now = Clock::Now().ToIso();
  sqlite3_result_text(ctx, now.data(), static_cast<int>(now.size()), SQLITE_TRANSIENT);
}

// ---------------------------------------------------------------------------
// Column descriptions of tables, shared by all handles of a file.

struct TableCache {
  std::mutex mutex;
  struct Entry {
    uint64_t epoch;
    std::shared_ptr<const std::vector<ColumnDescription>> columns;
  };
  std::unordered_map<std::string, Entry> entries;
  // The table names of a file, kept the same way (the schema rowsets ask for
  // them on every call).
  std::unordered_map<std::string, std::pair<uint64_t, std::vector<std::string>>> names;
};

TableCache& Tables() {
  static TableCache cache;
  return cache;
}

// ---------------------------------------------------------------------------
// Pooled handles.

struct Pool {
  std::mutex mutex;
  std::unordered_map<std::string, std::vector<std::unique_ptr<Handle>>> idle;
  std::unordered_map<std::string, uint64_t> generation;
};

// Set once the program ends: handles given back from then on close at once.
std::atomic<bool> g_exiting{false};

// Closes the idle handles of every file; handles now lent out close when
// they come back.
void ReleaseIdle(Pool& pool) {
  std::vector<std::unique_ptr<Handle>> closing;  // closed after the lock is let go
  std::lock_guard lock(pool.mutex);
  for (auto& [file, idle] : pool.idle) {
    ++pool.generation[file];
    for (auto& h : idle) closing.push_back(std::move(h));
    idle.clear();
  }
  ++g_schema_epoch;
}

// Closes the idle handles at normal program exit. SQLite checkpoints a
// database when its last handle closes and removes the -wal and -shm files,
// so an instance at rest holds only its .db files. It is made with the pool,
// so objects made before the pool's first use (which may hold connections)
// are destroyed after it: their handles, given back then, close instead of
// waiting in the pool.
struct CloseIdleAtExit {
  Pool& pool;
  ~CloseIdleAtExit() {
    g_exiting = true;
    ReleaseIdle(pool);
  }
};

Pool& ThePool() {
  static Pool* pool = new Pool;  // outlives sessions released during exit
  static CloseIdleAtExit closer{*pool};
  return *pool;
}

std::string PoolKey(const std::filesystem::path& file) {
  return std::filesystem::absolute(file).lexically_normal().string();
}

std::unique_ptr<Handle> OpenHandle(const std::string& file, uint64_t generation) {
  EnableTextRules();  // the instance's text-rule triggers call it
  auto h = std::make_unique<Handle>();
  h->file = file;
  h->generation = generation;
  int rc = sqlite3_open_v2(file.c_str(), &h->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = h->db ? sqlite3_errmsg(h->db) : sqlite3_errstr(rc);
    RaiseEngine(rc, "Cannot open the database file " + file + ": " + msg);
  }
  sqlite3_extended_result_codes(h->db, 1);
  sqlite3_busy_handler(h->db, WaitForLock, h.get());
  char* err = nullptr;
  rc = sqlite3_exec(h->db,
                    "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL;",
                    nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    RaiseEngine(rc, "Cannot open the database file " + file + ": " + msg);
  }
  sqlite3_create_function_v2(h->db, std::string(kNowFunction).c_str(), 0, SQLITE_UTF8, nullptr,
                             NowFunction, nullptr, nullptr, nullptr);
  // Replaces the engine's automatic checkpoint (checkpoint.h).
  sqlite3_wal_hook(h->db, OnWalCommit, &PacingOf(file));
  ++g_handles_opened;
  return h;
}

// An idle handle of the file, or nullptr.
std::unique_ptr<Handle> TakeIdle(const std::string& file) {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  auto& idle = pool.idle[file];
  if (idle.empty()) return nullptr;
  auto h = std::move(idle.back());
  idle.pop_back();
  return h;
}

uint64_t CurrentGeneration(const std::string& file) {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  return pool.generation[file];
}

void GiveBack(std::unique_ptr<Handle> h) {
  if (!sqlite3_get_autocommit(h->db)) sqlite3_exec(h->db, "ROLLBACK", nullptr, nullptr, nullptr);
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  auto& idle = pool.idle[h->file];
  if (h->generation == pool.generation[h->file] && idle.size() < kMaxIdlePerFile && !g_exiting)
    idle.push_back(std::move(h));
  // otherwise the handle closes here
}

// ---------------------------------------------------------------------------

class SqliteSession final : public Session {
 public:
  explicit SqliteSession(std::unique_ptr<Handle> h) : h_(std::move(h)) {}
  ~SqliteSession() override { GiveBack(std::move(h_)); }

  QueryResult Run(std::string_view sql, std::span<const BoundValue> params,
                  int64_t max_rows) override {
    Record(sql, params, false);
    FaultInjection::BeforeStatement();
    Compiled compiled = PrepareForRun(sql, params.empty());
    CachedStatement& cs = *compiled.cs;
    InUse use(cs);
    if (compiled.p.parameterised) {
      BindLiterals(cs.stmt, compiled.p.literals);
    } else {
      BindAll(*h_, cs.stmt, params);
    }
    QueryResult result;
    // Step before looking at the columns: a statement prepared before a
    // schema change is prepared again by its first step.
    int rc = FirstStep(h_->db, cs.stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
    const int columns = sqlite3_column_count(cs.stmt);
    if (columns == 0) {
      while (rc == SQLITE_ROW) rc = sqlite3_step(cs.stmt);
      if (rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
      if (cs.changes_schema) ++g_schema_epoch;
      result.rows_affected = sqlite3_changes64(h_->db);
      return result;
    }
    Describe(cs);
    result.has_rows = true;
    result.rows_affected = -1;
    result.fields = cs.fields;
    result.table = cs.table;
    result.rows.reserve(max_rows > 0 ? std::min<size_t>(cs.last_row_count, static_cast<size_t>(max_rows))
                                      : cs.last_row_count);
    std::vector<int32_t> types(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) types[static_cast<size_t>(c)] = cs.fields[static_cast<size_t>(c)].type;
    while (rc == SQLITE_ROW) {
      if (max_rows > 0 && static_cast<int64_t>(result.rows.size()) >= max_rows) break;
      std::vector<Variant>& values = result.rows.emplace_back().values;
      values.reserve(static_cast<size_t>(columns));
      for (int c = 0; c < columns; ++c)
        values.emplace_back(CellReader{cs.stmt, c, types[static_cast<size_t>(c)]});
      rc = sqlite3_step(cs.stmt);
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
    }
    cs.last_row_count = result.rows.size();
    // An expression has no declared type: its field takes the kind of the
    // first value it holds.
    for (size_t c = 0; c < result.fields.size(); ++c) {
      FieldInfo& f = result.fields[c];
      if (f.type != adVariant) continue;
      for (const Row& r : result.rows) {
        if (!r.values[c].IsNull()) {
          f.type = TypeOfValue(r.values[c]);
          break;
        }
      }
    }
    if (cs.changes_schema) ++g_schema_epoch;
    return result;
  }

  int64_t Exec(std::string_view sql, std::span<const Variant> params) override {
    if (g_recording.load(std::memory_order_relaxed)) {
      std::vector<BoundValue> bound;
      for (const Variant& v : params) bound.push_back({std::string(), v});
      Record(sql, bound, false);
    }
    FaultInjection::BeforeStatement();
    Compiled compiled = PrepareForRun(sql, params.empty());
    CachedStatement& cs = *compiled.cs;
    InUse use(cs);
    if (compiled.p.parameterised) {
      BindLiterals(cs.stmt, compiled.p.literals);
    } else {
      const int count = sqlite3_bind_parameter_count(cs.stmt);
      if (static_cast<int>(params.size()) != count) {
        RaiseEngine(SQLITE_RANGE, std::to_string(params.size()) + " values were given for a statement with " +
                                      std::to_string(count) + " parameters.");
      }
      ReserveDateTexts(*h_, count);
      for (size_t i = 0; i < params.size(); ++i) BindOne(*h_, cs.stmt, static_cast<int>(i) + 1, params[i]);
    }
    StepToEnd(cs);
    if (cs.changes_schema) ++g_schema_epoch;
    return sqlite3_changes64(h_->db);
  }

  void ExecuteScript(std::string_view sql) override {
    Record(sql, {}, true);
    const std::string text = TranslateToSqlite(sql);
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end) {
      sqlite3_stmt* stmt = nullptr;
      const char* tail = nullptr;
      int rc = sqlite3_prepare_v2(h_->db, p, static_cast<int>(end - p), &stmt, &tail);
      if (rc != SQLITE_OK) RaiseFrom(h_->db, rc);
      p = tail;
      if (!stmt) continue;  // blanks or a comment
      std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
      FaultInjection::BeforeStatement();
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
    }
    ++g_schema_epoch;
  }

  void Begin() override { Control("BEGIN IMMEDIATE"); }
  void Commit() override { Control("COMMIT"); }
  void Rollback() override {
    // The engine may have ended the transaction itself after a failure.
    if (!sqlite3_get_autocommit(h_->db)) Control("ROLLBACK");
  }
  void Savepoint(std::string_view name) override { Control("SAVEPOINT " + std::string(name)); }
  void ReleaseSavepoint(std::string_view name) override {
    Control("RELEASE SAVEPOINT " + std::string(name));
  }
  void RollbackToSavepoint(std::string_view name) override {
    if (sqlite3_get_autocommit(h_->db)) return;
    Control("ROLLBACK TO SAVEPOINT " + std::string(name));
    Control("RELEASE SAVEPOINT " + std::string(name));
  }

  int64_t LastInsertId() override { return sqlite3_last_insert_rowid(h_->db); }

  std::vector<ColumnDescription> DescribeTable(std::string_view table) override {
    auto cols = Columns(table);
    return cols ? *cols : std::vector<ColumnDescription>{};
  }

  std::vector<std::string> TableNames() override {
    const uint64_t epoch = g_schema_epoch.load();
    TableCache& cache = Tables();
    {
      std::lock_guard lock(cache.mutex);
      auto it = cache.names.find(h_->file);
      if (it != cache.names.end() && it->second.first == epoch) return it->second.second;
    }
    std::vector<std::string> names;
    CachedStatement& cs = Prepare(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
        "ESCAPE '\\' ORDER BY name");
    InUse use(cs);
    int rc;
    while ((rc = sqlite3_step(cs.stmt)) == SQLITE_ROW)
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(cs.stmt, 0)));
    if (rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
    std::lock_guard lock(cache.mutex);
    cache.names[h_->file] = {epoch, names};
    return names;
  }

  std::string Describe() const override { return h_->file; }

 private:
  // Marks a statement busy (so the cache does not finalize it) and resets it
  // when the work is done, whatever happened. Its bindings stay: every run
  // binds every parameter before the first step (or fails before it), so
  // clearing them would only free what the next run allocates again.
  struct InUse {
    explicit InUse(CachedStatement& s) : s(s) { s.in_use = true; }
    ~InUse() {
      sqlite3_reset(s.stmt);
      s.in_use = false;
    }
    CachedStatement& s;
  };

  // The statement to run for a canonical text: its shape when the literals
  // can be taken out (no values bound by the caller, parameterisation on),
  // else the text as written.
  struct Compiled {
    CachedStatement* cs = nullptr;
    ParameterisedStatement p;
  };
  Compiled PrepareForRun(std::string_view canonical, bool no_params) {
    Compiled c;
    if (no_params && g_autoparam.load(std::memory_order_relaxed)) {
      c.p = Parameterise(canonical);
      if (c.p.parameterised) {
        if (CachedStatement* cs = Find(*h_, c.p.shape)) {
          c.cs = cs;
          return c;
        }
        try {
          c.cs = &Compile(*h_, c.p.shape, CachedSqliteText(c.p.shape));
          return c;
        } catch (const DatabaseError&) {
          // A shape the engine will not compile (a text where it wants a
          // name, too many values): the text runs as written and reports
          // its own error, if it has one.
          c.p = ParameterisedStatement{};
        }
      }
    }
    c.cs = &Prepare(canonical);
    return c;
  }

  void BindLiterals(sqlite3_stmt* stmt, const std::vector<Literal>& literals) {
    for (size_t i = 0; i < literals.size(); ++i) {
      const Literal& l = literals[i];
      const int index = static_cast<int>(i) + 1;
      int rc = SQLITE_OK;
      switch (l.kind) {
        case Literal::Kind::kText:
          rc = sqlite3_bind_text(stmt, index, l.text.data(), static_cast<int>(l.text.size()), SQLITE_STATIC);
          break;
        case Literal::Kind::kBlob:
          rc = l.text.empty() ? sqlite3_bind_zeroblob(stmt, index, 0)
                              : sqlite3_bind_blob(stmt, index, l.text.data(),
                                                  static_cast<int>(l.text.size()), SQLITE_STATIC);
          break;
        case Literal::Kind::kInteger:
          rc = sqlite3_bind_int64(stmt, index, l.integer);
          break;
        case Literal::Kind::kReal: {
          const double v = ReadReal(l.text);
          rc = sqlite3_bind_double(stmt, index, l.negative ? -v : v);
          break;
        }
      }
      if (rc != SQLITE_OK) RaiseFrom(h_->db, rc);
    }
  }

  // The double the engine's parser makes of a real literal. It is not
  // always the correctly rounded one, so the engine is asked, once per
  // literal text and handle.
  double ReadReal(const std::string& literal) {
    auto it = h_->reals.find(literal);
    if (it != h_->reals.end()) return it->second;
    if (!h_->real_reader) {
      const int rc = sqlite3_prepare_v3(h_->db, "SELECT CAST(?1 AS REAL)", -1, SQLITE_PREPARE_PERSISTENT,
                                        &h_->real_reader, nullptr);
      if (rc != SQLITE_OK) RaiseFrom(h_->db, rc);
    }
    sqlite3_bind_text(h_->real_reader, 1, literal.data(), static_cast<int>(literal.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(h_->real_reader);
    const double v = sqlite3_column_double(h_->real_reader, 0);
    sqlite3_reset(h_->real_reader);
    if (rc != SQLITE_ROW) RaiseFrom(h_->db, rc);
    if (h_->reals.size() >= kMaxRealsPerHandle) h_->reals.clear();
    h_->reals.emplace(literal, v);
    return v;
  }

  void Record(std::string_view sql, std::span<const BoundValue> params, bool script) {
    if (!g_recording.load(std::memory_order_relaxed)) return;
    std::shared_ptr<const std::function<void(const RecordedStatement&)>> recorder;
    {
      std::lock_guard lock(g_recorder_mutex);
      recorder = g_recorder;
    }
    if (!recorder) return;
    RecordedStatement r{std::filesystem::path(h_->file).stem().string(), std::string(sql),
                        std::vector<BoundValue>(params.begin(), params.end()), script};
    (*recorder)(r);
  }

  CachedStatement& Prepare(std::string_view canonical) {
    if (CachedStatement* cs = Find(*h_, canonical)) return *cs;
    return Compile(*h_, std::string(canonical), CachedSqliteText(canonical));
  }

  void StepToEnd(CachedStatement& cs) {
    int rc = FirstStep(h_->db, cs.stmt);
    while (rc == SQLITE_ROW) rc = sqlite3_step(cs.stmt);
    if (rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
  }

  void Control(const std::string& sql) {
    const int rc = ExecControl(h_->db, sql);
    if (rc != SQLITE_OK) RaiseFrom(h_->db, rc);
  }

  std::shared_ptr<const std::vector<ColumnDescription>> Columns(std::string_view table) {
    const uint64_t epoch = g_schema_epoch.load();
    const std::string key = h_->file + '\n' + detail::Upper(table);
    TableCache& cache = Tables();
    {
      std::lock_guard lock(cache.mutex);
      auto it = cache.entries.find(key);
      if (it != cache.entries.end() && it->second.epoch == epoch) return it->second.columns;
    }
    auto cols = std::make_shared<std::vector<ColumnDescription>>();
    {
      CachedStatement& cs = Prepare(
          "SELECT name, type, \"notnull\", dflt_value, pk, cid FROM pragma_table_info(?)");
      InUse use(cs);
      const std::string t(table);
      sqlite3_bind_text(cs.stmt, 1, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      int rc;
      while ((rc = sqlite3_step(cs.stmt)) == SQLITE_ROW) {
        ColumnDescription d;
        d.name = reinterpret_cast<const char*>(sqlite3_column_text(cs.stmt, 0));
        const auto* decl = reinterpret_cast<const char*>(sqlite3_column_text(cs.stmt, 1));
        d.declared = decl ? decl : "";
        d.type = TypeFromDeclaration(d.declared);
        d.not_null = sqlite3_column_int(cs.stmt, 2) != 0;
        d.has_default = sqlite3_column_type(cs.stmt, 3) != SQLITE_NULL;
        if (d.has_default) d.default_text = reinterpret_cast<const char*>(sqlite3_column_text(cs.stmt, 3));
        d.key_position = sqlite3_column_int(cs.stmt, 4);
        d.ordinal = sqlite3_column_int(cs.stmt, 5) + 1;
        cols->push_back(std::move(d));
      }
      if (rc != SQLITE_DONE) RaiseFrom(h_->db, rc);
    }
    std::lock_guard lock(cache.mutex);
    cache.entries[key] = {epoch, cols};
    return cols;
  }

  void Describe(CachedStatement& cs) {
    const uint64_t epoch = g_schema_epoch.load();
    const int columns = sqlite3_column_count(cs.stmt);
    // A schema changed by another program shows as a different column count.
    if (cs.described_epoch == epoch && static_cast<int>(cs.fields.size()) == columns) return;
    std::vector<FieldInfo> fields(static_cast<size_t>(columns));
    std::string table;
    bool one_table = true;
    for (int c = 0; c < columns; ++c) {
      FieldInfo& f = fields[static_cast<size_t>(c)];
      const char* name = sqlite3_column_name(cs.stmt, c);
      f.name = name ? name : "";
      const char* decl = sqlite3_column_decltype(cs.stmt, c);
      const DeclaredType dt = TypeFromDeclaration(decl ? decl : "");
      f.type = dt.type;
      f.defined_size = dt.size;
      const char* tname = sqlite3_column_table_name(cs.stmt, c);
      const char* origin = sqlite3_column_origin_name(cs.stmt, c);
      if (!tname || !origin) continue;
      f.base_table = tname;
      f.base_column = origin;
      if (table.empty()) {
        table = f.base_table;
      } else if (!detail::EqualsNoCase(table, f.base_table)) {
        one_table = false;
      }
    }
    std::shared_ptr<const std::vector<ColumnDescription>> described;
    if (!table.empty() && one_table) described = Columns(table);
    if (described) {
      int keys = 0;
      for (const ColumnDescription& d : *described)
        if (d.key_position > 0) ++keys;
      for (FieldInfo& f : fields) {
        if (f.base_column.empty()) continue;
        for (const ColumnDescription& d : *described) {
          if (!detail::EqualsNoCase(d.name, f.base_column)) continue;
          f.key = d.key_position > 0;
          f.nullable = !d.not_null && d.key_position == 0;
          f.has_default = d.has_default;
          f.row_id = keys == 1 && d.key_position == 1 && detail::Upper(d.declared) == "INTEGER";
          break;
        }
      }
    }
    cs.fields = std::move(fields);
    cs.table = one_table ? table : std::string();
    cs.described_epoch = epoch;
  }

  std::unique_ptr<Handle> h_;
};

// The pool key (absolute file name) of a connection string's database. The
// last one is remembered per thread: a thread opens the same database over
// and over. A relative folder depends on the instance home, so that is part
// of what is compared.
std::string FileKey(const ConnectionSettings& settings) {
  struct Last {
    std::string source, catalog, home, key;
  };
  thread_local Last last;
  std::string source = settings.data_source();
  std::string catalog = settings.catalog();
  const bool relative = !source.empty() && source[0] != '/' && source[0] != '\\';
  std::string home = relative && InstanceHome::IsSet() ? InstanceHome::Get().string() : std::string();
  if (!last.key.empty() && last.source == source && last.catalog == catalog && last.home == home)
    return last.key;
  std::string key = PoolKey(DatabaseFile(settings));
  last = Last{std::move(source), std::move(catalog), std::move(home), key};
  return key;
}

class SqliteDriver final : public Driver {
 public:
  std::unique_ptr<Session> Open(const ConnectionSettings& settings) override {
    const std::string key = FileKey(settings);
    if (auto h = TakeIdle(key)) return std::make_unique<SqliteSession>(std::move(h));
    // Only a new handle needs the file checked: a pooled one was opened on it.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(key, ec)) {
      RaiseEngine(SQLITE_CANTOPEN, "Cannot open database \"" + settings.catalog() +
                                       "\": the database file " + key + " does not exist.");
    }
    return std::make_unique<SqliteSession>(OpenHandle(key, CurrentGeneration(key)));
  }

  void CreateDatabase(const ConnectionSettings& settings) override {
    const std::filesystem::path file = DatabaseFile(settings);
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) return;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) {
      RaiseEngine(SQLITE_CANTOPEN, "Cannot create the folder " + file.parent_path().string() +
                                       ": " + ec.message());
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.string().c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    if (rc != SQLITE_OK) RaiseEngine(rc, "Cannot create the database file " + file.string() + ": " + msg);
    ReleasePool(file);
  }
};

}  // namespace

Driver& TheDriver() {
  static SqliteDriver driver;
  return driver;
}

std::filesystem::path DatabaseFile(const ConnectionSettings& settings) {
  const std::string catalog = settings.catalog();
  if (catalog.empty())
    RaiseEngine(SQLITE_CANTOPEN, "The connection string names no Initial Catalog.");
  // The catalog becomes a file name: no folders, no way out of Data Source.
  for (char c : catalog) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ' '))
      RaiseEngine(SQLITE_CANTOPEN, "The catalog name \"" + catalog + "\" is not a valid database name.");
  }
  if (catalog.front() == '.')
    RaiseEngine(SQLITE_CANTOPEN, "The catalog name \"" + catalog + "\" is not a valid database name.");
  const std::string source = settings.data_source();
  if (source.empty())
    RaiseEngine(SQLITE_CANTOPEN, "The connection string names no Data Source.");
  return ResolveInstancePath(source) / (catalog + ".db");
}

void ReleasePool() { ReleaseIdle(ThePool()); }

void ReleasePool(const std::filesystem::path& file) {
  Pool& pool = ThePool();
  const std::string key = PoolKey(file);
  std::vector<std::unique_ptr<Handle>> closing;
  {
    std::lock_guard lock(pool.mutex);
    ++pool.generation[key];
    auto& idle = pool.idle[key];
    for (auto& h : idle) closing.push_back(std::move(h));
    idle.clear();
  }
  ++g_schema_epoch;
}

int64_t HandlesOpened() { return g_handles_opened.load(); }

void SetAutoParameterisation(bool on) { g_autoparam = on; }
bool AutoParameterisation() { return g_autoparam.load(); }

size_t LargestIdleStatementCache() {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  size_t largest = 0;
  for (auto& [file, idle] : pool.idle)
    for (auto& h : idle) largest = std::max(largest, h->statements.size());
  return largest;
}

int64_t IdleStatementCacheBytes() {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  int64_t bytes = 0;
  for (auto& [file, idle] : pool.idle) {
    for (auto& h : idle) {
      int current = 0, highwater = 0;
      sqlite3_db_status(h->db, SQLITE_DBSTATUS_STMT_USED, &current, &highwater, 0);
      bytes += current;
    }
  }
  return bytes;
}

void SetStatementRecorder(std::function<void(const RecordedStatement&)> recorder) {
  std::lock_guard lock(g_recorder_mutex);
  g_recorder = recorder ? std::make_shared<const std::function<void(const RecordedStatement&)>>(
                              std::move(recorder))
                        : nullptr;
  g_recording = g_recorder != nullptr;
}

}  // namespace platform::data::sqlite
