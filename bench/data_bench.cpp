// Data access against the engine beneath it: each case runs the same work
// through Connection/Recordset ("vendra") and directly on the sqlite3 C API
// ("sqlite3") in the same run, and the summary prints the ratio.
//
//   open_read_one_row   open a (pooled) connection, read one row into a
//                       detached record set, close; the floor opens the file
//                       with sqlite3_open_v2 each time ("sqlite3_open"), and
//                       the absolute floor keeps one handle and one prepared
//                       statement ("sqlite3_kept")
//   read_10000_rows     10,000 rows into a detached record set; the floor
//                       steps a prepared statement into plain structs
//   insert_1000_rows    1,000 new rows written by UpdateBatch in one
//                       transaction; the floor binds and steps one prepared
//                       INSERT 1,000 times between BEGIN and COMMIT; also
//                       inside the caller's transaction, and with filling
//                       the set (the page's work) timed too
//
// Goals: reading 10,000 rows at most 1.3x, UpdateBatch at most 1.5x, the
// rest at most 2x. The summary also prints what the statement cache holds.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "bench/support/bench_support.h"

using namespace platform;
using namespace platform::data;

namespace {

using vendra_bench::Check;

std::filesystem::path g_dir;
std::string g_cs;
std::string g_file;

void CreateDatabase() {
  g_dir = std::filesystem::temp_directory_path() /
          ("vendra_data_bench_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(g_dir);
  g_cs = "Provider=SQLite;Data Source=" + g_dir.string() + ";Initial Catalog=Bench";
  g_file = (g_dir / "Bench.db").string();
  CreateDatabaseFile(g_cs);
  Connection c;
  c.Open(g_cs);
  ExecuteScript(c, R"(
    CREATE TABLE ITEM (ID INT PRIMARY KEY, NAME NVARCHAR(50), PRICE MONEY, QTY FLOAT,
                       CREATED DATETIME, ACTIVE BIT);
    WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 10000)
    INSERT INTO ITEM SELECT I, 'Item ' || I, I * 0.25, I / 3.0, '2026-12-08T14:30:00', I % 2 FROM N;
  )");
}

// The floor's handle on the benchmark's database.
sqlite3* OpenRaw() { return vendra_bench::OpenRaw(g_file); }

struct PlainRow {
  int id;
  std::string name;
  double price;
  double qty;
  std::string created;
  int active;
};

PlainRow ReadPlain(sqlite3_stmt* s) {
  return PlainRow{sqlite3_column_int(s, 0), reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                  sqlite3_column_double(s, 2), sqlite3_column_double(s, 3),
                  reinterpret_cast<const char*>(sqlite3_column_text(s, 4)), sqlite3_column_int(s, 5)};
}

constexpr const char* kOneRow = "SELECT * FROM ITEM WHERE ID = 4711";
constexpr const char* kAllRows = "SELECT * FROM ITEM";

// --- open a connection, read one row -----------------------------------------

void OpenReadOneRow_Vendra(benchmark::State& state) {
  for (auto _ : state) {
    auto conn = std::make_shared<Connection>();
    conn->Open(g_cs);
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(adUseClient);
    rs->Open(kOneRow, conn, adOpenStatic, adLockBatchOptimistic);
    rs->SetActiveConnection(nullptr);
    conn->Close();
    benchmark::DoNotOptimize(rs->Value("NAME"));
  }
}

void OpenReadOneRow_Sqlite3Open(benchmark::State& state) {
  for (auto _ : state) {
    sqlite3* db = OpenRaw();
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(db, kOneRow, -1, &s, nullptr), db);
    Check(sqlite3_step(s), db);
    PlainRow row = ReadPlain(s);
    sqlite3_finalize(s);
    sqlite3_close(db);
    benchmark::DoNotOptimize(row);
  }
}

void OpenReadOneRow_Sqlite3Kept(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v3(db, kOneRow, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr), db);
  for (auto _ : state) {
    Check(sqlite3_step(s), db);
    PlainRow row = ReadPlain(s);
    sqlite3_reset(s);
    benchmark::DoNotOptimize(row);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
}

// --- 10,000 rows into a detached set ---------------------------------------------

void Read10000Rows_Vendra(benchmark::State& state) {
  auto conn = std::make_shared<Connection>();
  conn->Open(g_cs);
  for (auto _ : state) {
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(adUseClient);
    rs->Open(kAllRows, conn, adOpenStatic, adLockBatchOptimistic);
    rs->SetActiveConnection(nullptr);
    benchmark::DoNotOptimize(rs->RecordCount());
  }
}

void Read10000Rows_Sqlite3(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v3(db, kAllRows, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr), db);
  for (auto _ : state) {
    std::vector<PlainRow> rows;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) rows.push_back(ReadPlain(s));
    Check(rc, db);
    sqlite3_reset(s);
    benchmark::DoNotOptimize(rows.size());
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
}

// --- UpdateBatch of 1,000 new rows -------------------------------------------------

void RemoveInserted(sqlite3* db) {
  Check(sqlite3_exec(db, "DELETE FROM ITEM WHERE ID > 100000", nullptr, nullptr, nullptr), db);
}

// Filling the set is the page's work; with fill false only UpdateBatch and
// the commit are timed, which is what the floor's loop does. UpdateBatch
// alone writes in a transaction of its own; inside the caller's transaction
// it takes a savepoint (so a failing batch leaves nothing of itself there).
// The rows are removed through the connection that wrote them, as the floor
// removes them through its own handle: a write through another handle would
// make the next batch start with the page cache of its handle dropped.
void Insert1000Rows(benchmark::State& state, bool fill, bool in_callers_transaction) {
  auto conn = std::make_shared<Connection>();
  conn->Open(g_cs);
  const Date created = Date::FromParts(2026, 12, 8, 14, 30);
  for (auto _ : state) {
    if (!fill) state.PauseTiming();
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(adUseClient);
    rs->Open("SELECT * FROM ITEM WHERE ID = 0", conn, adOpenKeyset, adLockBatchOptimistic);
    for (int32_t i = 0; i < 1000; ++i) {
      rs->AddNew();
      Recordset& r = *rs;
      r[0] = Variant(100001 + i);
      r[1] = Variant("New item");
      r[2] = Variant(Currency::FromTicks(12500));
      r[3] = Variant(2.5);
      r[4] = Variant(created);
      r[5] = Variant(true);
    }
    if (!fill) state.ResumeTiming();
    if (in_callers_transaction) {
      Transaction tx(*conn);
      rs->UpdateBatch();
      tx.Commit();
    } else {
      rs->UpdateBatch();
    }
    state.PauseTiming();
    rs.reset();  // freeing the set is not the batch's work either
    conn->Execute("DELETE FROM ITEM WHERE ID > 100000");
    state.ResumeTiming();
  }
}

void Insert1000Rows_Vendra(benchmark::State& state) { Insert1000Rows(state, false, false); }
void Insert1000Rows_VendraInTransaction(benchmark::State& state) { Insert1000Rows(state, false, true); }
void Insert1000Rows_VendraFill(benchmark::State& state) { Insert1000Rows(state, true, true); }

void Insert1000Rows_Sqlite3(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v3(db,
                           "INSERT INTO ITEM (ID, NAME, PRICE, QTY, CREATED, ACTIVE) VALUES (?, ?, ?, ?, ?, ?)",
                           -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr),
        db);
  const std::string created = Date::FromParts(2026, 12, 8, 14, 30).ToIso();
  for (auto _ : state) {
    Check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
    for (int i = 0; i < 1000; ++i) {
      sqlite3_bind_int(s, 1, 100001 + i);
      sqlite3_bind_text(s, 2, "New item", -1, SQLITE_STATIC);
      sqlite3_bind_double(s, 3, 1.25);
      sqlite3_bind_double(s, 4, 2.5);
      sqlite3_bind_text(s, 5, created.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(s, 6, 1);
      Check(sqlite3_step(s), db);
      sqlite3_reset(s);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    state.PauseTiming();
    RemoveInserted(db);
    state.ResumeTiming();
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
}

BENCHMARK(OpenReadOneRow_Vendra);
BENCHMARK(OpenReadOneRow_Sqlite3Open);
BENCHMARK(OpenReadOneRow_Sqlite3Kept);
BENCHMARK(Read10000Rows_Vendra)->Unit(benchmark::kMillisecond);
BENCHMARK(Read10000Rows_Sqlite3)->Unit(benchmark::kMillisecond);
BENCHMARK(Insert1000Rows_Vendra)->Unit(benchmark::kMillisecond);
BENCHMARK(Insert1000Rows_VendraInTransaction)->Unit(benchmark::kMillisecond);
BENCHMARK(Insert1000Rows_VendraFill)->Unit(benchmark::kMillisecond);
BENCHMARK(Insert1000Rows_Sqlite3)->Unit(benchmark::kMillisecond);

// Keeps each run's time so the summary can put the pairs side by side. With
// --benchmark_repetitions the median of the repetitions counts (the machine
// may be shared, and one slow repetition should not decide the ratio).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const std::string& name = r.run_name.function_name;
      const std::pair<double, double> t{r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        medians_[name] = t;
      } else if (r.run_type == Run::RT_Iteration) {
        last_[name] = t;
      }
    }
  }
  void Summary() const {
    auto time_of = [&](const char* name) -> const std::pair<double, double>* {
      if (auto m = medians_.find(name); m != medians_.end()) return &m->second;
      if (auto l = last_.find(name); l != last_.end()) return &l->second;
      return nullptr;
    };
    auto ratio = [&](const char* label, const char* ours, const char* floor, const char* goal) {
      const auto* a = time_of(ours);
      const auto* b = time_of(floor);
      if (!a || !b || b->first <= 0 || b->second <= 0) return;
      std::printf("%-50s %6.2fx %6.2fx   %s\n", label, a->first / b->first, a->second / b->second, goal);
    };
    std::printf("\n%-50s %7s %7s   %s\n",
                medians_.empty() ? "ratio to the floor" : "ratio to the floor, medians", "real", "cpu", "goal");
    ratio("open + read one row / sqlite3_open each time", "OpenReadOneRow_Vendra", "OpenReadOneRow_Sqlite3Open",
          "at most 2x");
    ratio("open + read one row / kept handle and statement", "OpenReadOneRow_Vendra", "OpenReadOneRow_Sqlite3Kept",
          "at most 2x");
    ratio("read 10,000 rows detached", "Read10000Rows_Vendra", "Read10000Rows_Sqlite3", "at most 1.3x");
    ratio("UpdateBatch of 1,000 new rows", "Insert1000Rows_Vendra", "Insert1000Rows_Sqlite3", "at most 1.5x");
    ratio("the same, inside the caller's transaction", "Insert1000Rows_VendraInTransaction",
          "Insert1000Rows_Sqlite3", "");
    ratio("the same, filling the set included", "Insert1000Rows_VendraFill", "Insert1000Rows_Sqlite3", "");
    vendra_bench::PrintStatementCache();
  }

 private:
  // real, cpu per benchmark function
  std::map<std::string, std::pair<double, double>> medians_;
  std::map<std::string, std::pair<double, double>> last_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CreateDatabase();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Summary();
  ReleasePooledSessions();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
