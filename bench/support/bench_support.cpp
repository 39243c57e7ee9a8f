#include "bench_support.h"

#include <cstdio>
#include <cstdlib>

#include "apps/instance/instance_setup.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "shared/components.h"
#include "tests/support/test_instance.h"

namespace vendra_bench {

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite3: %s\n", db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    std::abort();
  }
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite3: %s\n  in %s\n", message ? message : "?", sql.c_str());
    std::abort();
  }
}

namespace {
std::shared_ptr<platform::data::Recordset> ReadDetached(
    const std::shared_ptr<platform::data::Connection>& connection, const std::string& sql) {
  auto rs = std::make_shared<platform::data::Recordset>();
  rs->SetCursorLocation(platform::data::adUseClient);
  rs->Open(sql, connection, platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
  rs->SetActiveConnection(nullptr);
  return rs;
}
}  // namespace

std::shared_ptr<platform::Dictionary> RestoreBasket(const std::string& id) {
  auto connection = std::make_shared<platform::data::Connection>();
  connection->Open(lib_sales::Sls_ConnectionString());
  auto doc = platform::Dictionary::New();
  doc->Add("header", platform::Variant(ReadDetached(
                         connection, "SELECT * FROM BASKETHEADER WHERE BASKETID = '" + id + "'")));
  doc->Add("lines", platform::Variant(ReadDetached(
                        connection, "SELECT * FROM BASKETLINE WHERE BASKETID = '" + id +
                                        "' ORDER BY BASKETLINENR")));
  connection->Close();
  return doc;
}

sqlite3* OpenRaw(const std::string& file, bool foreign_keys) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr), db);
  sqlite3_busy_timeout(db, 5000);
  Check(sqlite3_exec(db,
                     foreign_keys ? "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL;"
                                  : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                     nullptr, nullptr, nullptr),
        db);
  return db;
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& r : runs) {
    if (r.run_type != Run::RT_Iteration) continue;
    times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    auto& counters = counters_[r.benchmark_name()];
    for (const auto& [name, counter] : r.counters) counters[name] = counter.value;
  }
}

const double* RatioReporter::Time(const std::string& name) const {
  auto it = times_.find(name);
  return it == times_.end() ? nullptr : &it->second;
}

const double* RatioReporter::Counter(const std::string& name, const std::string& counter) const {
  auto run = counters_.find(name);
  if (run == counters_.end()) return nullptr;
  auto it = run->second.find(counter);
  return it == run->second.end() ? nullptr : &it->second;
}

void RatioReporter::Ratio(int width, const char* label, const char* a, const char* b, const std::string& goal,
                          const std::string& extra) const {
  const double* x = Time(a);
  const double* y = Time(b);
  if (!x || !y || *y <= 0) return;
  std::printf("%-*s %6.2fx", width, label, *x / *y);
  if (!goal.empty()) std::printf("   (goal: %s)", goal.c_str());
  std::printf("%s\n", extra.c_str());
}

void PrintStatementCache() {
  namespace sqlite = platform::data::sqlite;
  std::printf("statement cache of the idle handles: %.1f KiB, largest %zu of %zu statements\n",
              sqlite::IdleStatementCacheBytes() / 1024.0, sqlite::LargestIdleStatementCache(),
              sqlite::StatementCacheCapacity());
}

int RunOnDemoInstance(int argc, char** argv, const std::function<void(const std::filesystem::path&)>& on_instance,
                      const std::function<void(const RatioReporter&)>& after_runs) {
  benchmark::Initialize(&argc, argv);
  vendra_instance::RegisterAllComponents();
  RatioReporter reporter;
  {
    vendra_test::TestInstance instance;
    if (on_instance) on_instance(instance.home());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (after_runs) after_runs(reporter);
    platform::data::ReleasePooledSessions();
  }
  return 0;
}

}  // namespace vendra_bench
