// The product import against the engine beneath it: the stored import
// package run by the package runner (the Lua transformations once per row,
// lookups and statements through platform/data), and a plain loader written
// directly on the sqlite3 C API doing the same lookups and inserts/updates
// with prepared statements (the floor), on the same generated export of
// items with their units, groups and IDNOs, in the same run.
//
// "first" imports into the demo catalogue (the items are inserted); "second"
// runs again over the same files (everything is updated or skipped). Each
// iteration starts from a copy of the catalogue as that run finds it; the
// copying is not timed. Both sides commit every 1000 rows.
//
// The machine the benchmark runs on may be shared (a loaded machine
// stretches wall-clock time by whatever else runs), so an iteration's time
// is the process's CPU time, user and system, which both sides spend on the
// same files and databases; the wall-clock ratios are printed beside.
//
// The summary prints each run's ratio to its floor (goal: at most 2x).
// --items=N sets the number of items (default 10000; the figures to report
// are those of --items=100000).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "apps/instance/demo_exports.h"
#include "apps/instance/instance_setup.h"
#include "import/command_line.h"
#include "import/prodloader_package.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/dts/package_runner.h"
#include "tests/support/test_instance.h"
#include "bench/support/bench_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vendra_bench::Check;

int g_items = 10000;
fs::path g_home;
fs::path g_pristine;  // the catalogue before any import
fs::path g_imported;  // the catalogue after one import

fs::path BrevaneFile() { return g_home / "data" / "Brevane.db"; }

void PutCatalogue(const fs::path& from) {
  platform::data::ReleasePooledSessions();
  for (const char* suffix : {"-wal", "-shm"}) fs::remove(BrevaneFile().string() + suffix);
  fs::copy_file(from, BrevaneFile(), fs::copy_options::overwrite_existing);
}

prodloader::Settings Settings() {
  prodloader::Settings s;
  s.DbServer = (g_home / "data").string();
  s.KelmorDb = "Kelmor";
  s.BrevaneDb = "Brevane";
  s.VornVersion = "bench";
  s.SchemeFolder = (g_home / "exchange").string();
  s.LogFolder = (g_home / "logs").string();
  return s;
}

void RunPackage() {
  const auto result = platform::dts::PackageRunner(prodloader::BuildPackage(Settings())).Run();
  if (!result.succeeded) {
    std::fprintf(stderr, "the import package failed\n");
    std::abort();
  }
}

// ------------------------------------------------------------ the floor

class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    Check(sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_, nullptr), db);
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt& Bind(int i, const std::optional<std::string>& v) {
    if (v)
      sqlite3_bind_text(s_, i, v->data(), static_cast<int>(v->size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(s_, i);
    return *this;
  }
  Stmt& Bind(int i, int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  // Steps once: true when a row came back (its first column is then read).
  bool Row() {
    const int rc = sqlite3_step(s_);
    Check(rc, db_);
    return rc == SQLITE_ROW;
  }
  std::optional<std::string> Text(int c) {
    if (sqlite3_column_type(s_, c) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s_, c)));
  }
  int64_t Int(int c) { return sqlite3_column_int64(s_, c); }
  bool IsNull(int c) { return sqlite3_column_type(s_, c) == SQLITE_NULL; }
  void Done() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  void Run() {
    while (Row()) {
    }
    Done();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

using Fields = std::vector<std::optional<std::string>>;

// Reads a tab-separated file, a row at a time, quotes taken off when asked.
template <class OnRow>
void ReadRows(const fs::path& file, bool qualified, OnRow on_row) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  Fields fields;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    fields.clear();
    size_t start = 0;
    for (;;) {
      size_t end = line.find('\t', start);
      if (end == std::string::npos) end = line.size();
      std::string v = line.substr(start, end - start);
      if (qualified && v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      if (v.empty())
        fields.emplace_back();
      else
        fields.emplace_back(std::move(v));
      if (end == line.size()) break;
      start = end + 1;
    }
    on_row(fields);
  }
}

std::optional<std::string> Trim(const std::optional<std::string>& v) {
  if (!v) return v;
  return std::string(platform::text::TrimBlanks(*v));
}

std::optional<std::string> LTrim(const std::optional<std::string>& v) {
  if (!v) return v;
  const size_t a = v->find_first_not_of(' ');
  return a == std::string::npos ? std::string() : v->substr(a);
}

class Batch {
 public:
  explicit Batch(sqlite3* db) : db_(db) { Check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db); }
  void Row() {
    if (++rows_ % 1000 == 0)
      Check(sqlite3_exec(db_, "COMMIT; BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db_);
  }
  ~Batch() { Check(sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr), db_); }

 private:
  sqlite3* db_;
  int64_t rows_ = 0;
};

void PlainLoader() {
  const fs::path exchange = g_home / "exchange";
  sqlite3* db = vendra_bench::OpenRaw(BrevaneFile().string());
  sqlite3* kelmor = vendra_bench::OpenRaw((g_home / "data" / "Kelmor.db").string());
  {
    // Units.
    Stmt find(db, "SELECT UNITCODE FROM UNIT WHERE UNITCODE = ?");
    Stmt ins(db, "INSERT INTO UNIT (UNITCODE, UNITDESCRIPTION) VALUES (?,?)");
    Stmt upd(db, "UPDATE UNIT SET UNITDESCRIPTION = ? WHERE UNITCODE = ?");
    Batch batch(db);
    ReadRows(exchange / "tcmcs001", false, [&](Fields& f) {
      f.resize(2);
      if (f[0] && f[1]) {
        const bool exists = find.Bind(1, f[0]).Row();
        find.Done();
        if (exists)
          upd.Bind(1, f[1]).Bind(2, f[0]).Run();
        else
          ins.Bind(1, f[0]).Bind(2, f[1]).Run();
      }
      batch.Row();
    });
  }
  {
    // Manufacturers.
    Stmt find(db, "SELECT MANUFACTURERID FROM MANUFACTURER WHERE MANUFACTURERID=?");
    Stmt supplier(kelmor, "SELECT NAME FROM BUSINESSPARTNER WHERE (KROSUPPLIERCODE = ?)");
    Stmt ins(db, "INSERT INTO MANUFACTURER (MANUFACTURERID, MANUFACTURERNAME) VALUES (?,?)");
    Stmt upd(db, "UPDATE MANUFACTURER SET MANUFACTURERNAME = ? WHERE (MANUFACTURERID = ?)");
    Batch batch(db);
    ReadRows(exchange / "tiitm001", false, [&](Fields& f) {
      f.resize(12);
      const auto code = LTrim(f[2]);
      if (code && !code->empty()) {
        const bool exists = find.Bind(1, code).Row();
        find.Done();
        std::optional<std::string> name = supplier.Bind(1, code).Row() ? supplier.Text(0) : code;
        supplier.Done();
        if (exists)
          upd.Bind(1, name).Bind(2, code).Run();
        else
          ins.Bind(1, code).Bind(2, name).Run();
      }
      batch.Row();
    });
  }
  {
    // Products.
    Stmt find(db, "SELECT PRODUCTID FROM PRODUCT WHERE PARTNUMBER = ? AND (COMPANYNR = ? OR COMPANYNR IS NULL OR COMPANYNR='')");
    Stmt supplier(kelmor, "SELECT BUSINESSPARTNERID FROM BUSINESSPARTNER WHERE KROSUPPLIERCODE = ?");
    Stmt commodity(db, "SELECT COMMODITYCODE FROM COMMODITY WHERE COMMODITYCODE = ?");
    Stmt unit(db, "SELECT UNITCODE FROM UNIT WHERE UNITCODE = ?");
    Stmt tax(db, "SELECT TAXCODE FROM TAXCODES WHERE (TAXCODE = ?)");
    Stmt ins(db,
             "INSERT INTO PRODUCT (PARTNUMBER, MANUFACTURERID, PRODUCTDESCRIPTION, UNITCODE, CONFIGURABLE, "
             "COMMODITYCODE, BUSINESSPARTNERID, DISABLED, COMPANYNR, TAXCODE, DELIVERYLEADTIME, SERVICEITEM, "
             "PRODUCTCATEGORY) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Stmt upd(db,
             "UPDATE PRODUCT SET PARTNUMBER = ?, MANUFACTURERID = ?, PRODUCTDESCRIPTION = ?, UNITCODE = ?, "
             "CONFIGURABLE = ?, COMMODITYCODE = ?, BUSINESSPARTNERID = ?, DISABLED = ?, COMPANYNR = ?, "
             "TAXCODE = ?, DELIVERYLEADTIME = ?, SERVICEITEM = ?, PRODUCTCATEGORY = ? WHERE (PRODUCTID = ?)");
    Batch batch(db);
    ReadRows(exchange / "tiitm001", false, [&](Fields& f) {
      f.resize(12);
      batch.Row();
      const auto part = Trim(f[0]);
      const auto& company = f[9];
      auto description = f[1] ? f[1] : part;
      const auto manufacturer = LTrim(f[2]);
      const auto& type = f[4];
      auto taxcode = f[8];
      if (taxcode) {
        taxcode = Trim(taxcode);
        if (taxcode->size() > 2) taxcode = taxcode->substr(taxcode->size() - 2);
        if (!tax.Bind(1, taxcode).Row()) taxcode.reset();
        tax.Done();
      }
      std::optional<int64_t> id;
      if (find.Bind(1, part).Bind(2, company).Row()) id = find.Int(0);
      find.Done();
      std::optional<int64_t> partner;
      if (manufacturer && !manufacturer->empty()) {
        if (supplier.Bind(1, manufacturer).Row()) partner = supplier.Int(0);
        supplier.Done();
      }
      const bool unit_found = unit.Bind(1, f[5]).Row();
      unit.Done();
      if (!unit_found) return;
      auto commodity_code = f[6];
      if (commodity_code) {
        commodity_code = Trim(commodity_code);
        if (!commodity.Bind(1, commodity_code).Row()) commodity_code.reset();
        commodity.Done();
      }
      Stmt& s = id ? upd : ins;
      s.Bind(1, part);
      if (manufacturer && !manufacturer->empty()) s.Bind(2, manufacturer); else s.Bind(2, std::nullopt);
      s.Bind(3, description).Bind(4, f[5]).Bind(5, type && *type == "3" ? 1 : 0).Bind(6, commodity_code);
      if (partner) s.Bind(7, *partner); else s.Bind(7, std::nullopt);
      s.Bind(8, 0).Bind(9, company).Bind(10, taxcode).Bind(11, f[10]);
      s.Bind(12, type && (*type == "1" || *type == "2") ? 1 : 0).Bind(13, f[11]);
      if (id) s.Bind(14, *id);
      s.Run();
    });
  }
  {
    // Identification numbers: mark, import, remove the unmarked.
    Check(sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE PRODUCTIDNO SET CHANGED = 0; COMMIT", nullptr, nullptr, nullptr), db);
    Stmt find(db, "SELECT IDNO, LENGTH FROM PRODUCTIDNO WHERE (IDNO = ?)");
    Stmt ins(db, "INSERT INTO PRODUCTIDNO (IDNO, LENGTH, WAREHOUSE, PACKAGEID, PARTNUMBER, AVAILABLE, CHANGED) VALUES (?, ?, ?, ?, ?, 1,1)");
    Stmt upd(db, "UPDATE PRODUCTIDNO SET LENGTH = ?, WAREHOUSE = ?, PACKAGEID = ?, AVAILABLE = 1, CHANGED=1 WHERE (IDNO = ?)");
    {
      Batch batch(db);
      ReadRows(exchange / "tdlra010", true, [&](Fields& f) {
        f.resize(5);
        const bool exists = find.Bind(1, f[0]).Row();
        find.Done();
        if (exists)
          upd.Bind(1, f[1]).Bind(2, f[2]).Bind(3, f[3]).Bind(4, f[0]).Run();
        else
          ins.Bind(1, f[0]).Bind(2, f[1]).Bind(3, f[2]).Bind(4, f[3]).Bind(5, f[4]).Run();
        batch.Row();
      });
    }
    Check(sqlite3_exec(db, "BEGIN IMMEDIATE; DELETE FROM PRODUCTIDNO WHERE CHANGED=0; COMMIT", nullptr, nullptr, nullptr), db);
  }
  {
    // Categories.
    Stmt find(db, "SELECT CATEGORYID, CATEGORYNAME, CATEGORYCLASSIFICATION FROM PRODUCTCATEGORY WHERE (CATEGORYNAME = ?)");
    Stmt ins(db, "INSERT INTO PRODUCTCATEGORY (CATEGORYNAME, CATEGORYCLASSIFICATION) VALUES (?, ?)");
    Stmt upd(db, "UPDATE PRODUCTCATEGORY SET CATEGORYNAME = ?, CATEGORYCLASSIFICATION = ? WHERE CATEGORYID = ?");
    Batch batch(db);
    ReadRows(exchange / "tcmcs044", true, [&](Fields& f) {
      f.resize(2);
      std::optional<int64_t> id;
      if (find.Bind(1, f[0]).Row()) id = find.Int(0);
      find.Done();
      if (id)
        upd.Bind(1, f[0]).Bind(2, f[1]).Bind(3, *id).Run();
      else
        ins.Bind(1, f[0]).Bind(2, f[1]).Run();
      batch.Row();
    });
  }
  {
    // Products by category, over the products in key order.
    Stmt products(db, "SELECT PARTNUMBER, PRODUCTCATEGORY, PRODUCTID FROM PRODUCT ORDER BY PRODUCTID");
    Stmt available(db, "SELECT CATEGORYID FROM PRODUCTSBYCATEGORY WHERE (PRODUCTID = ?)");
    Stmt category(db, "SELECT CATEGORYID FROM PRODUCTCATEGORY WHERE (CATEGORYNAME = ?)");
    Stmt sequence(db, "SELECT MAX(SEQUENCE) AS Expr1 FROM PRODUCTSBYCATEGORY WHERE (CATEGORYID = ?)");
    Stmt ins(db, "INSERT INTO PRODUCTSBYCATEGORY (PRODUCTID, CATEGORYID, SEQUENCE) VALUES (?, ?, ?)");
    Stmt upd(db, "UPDATE PRODUCTSBYCATEGORY SET CATEGORYID = ?, SEQUENCE = ? WHERE (PRODUCTID = ?)");
    Batch batch(db);
    auto next_sequence = [&](int64_t c) {
      int64_t s = 1;
      if (sequence.Bind(1, c).Row() && !sequence.IsNull(0)) s = sequence.Int(0) + 1;
      sequence.Done();
      return s;
    };
    while (products.Row()) {
      batch.Row();
      const int64_t product = products.Int(2);
      std::optional<int64_t> cat;
      if (category.Bind(1, products.Text(1)).Row() && !category.IsNull(0)) cat = category.Int(0);
      category.Done();
      if (!cat) continue;
      std::optional<int64_t> present;
      if (available.Bind(1, product).Row()) present = available.Int(0);
      available.Done();
      if (!present)
        ins.Bind(1, product).Bind(2, *cat).Bind(3, next_sequence(*cat)).Run();
      else if (*present != *cat)
        upd.Bind(1, *cat).Bind(2, next_sequence(*cat)).Bind(3, product).Run();
    }
    products.Done();
  }
  sqlite3_close(kelmor);
  sqlite3_close(db);
}

// ------------------------------------------------------------ benchmarks

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

template <class Work>
void Timed(benchmark::State& state, const fs::path& start_from, Work work) {
  double wall = 0;
  for (auto _ : state) {
    PutCatalogue(start_from);
    const auto start = Clock::now();
    const double cpu = ProcessCpuSeconds();
    work();
    platform::data::ReleasePooledSessions();
    state.SetIterationTime(ProcessCpuSeconds() - cpu);
    wall += std::chrono::duration<double>(Clock::now() - start).count();
  }
  state.counters["items"] = g_items;
  state.counters["wall_ms"] = 1000 * wall / static_cast<double>(state.iterations());
}

void Import_Package_First(benchmark::State& state) { Timed(state, g_pristine, RunPackage); }
void Import_Sqlite3_First(benchmark::State& state) { Timed(state, g_pristine, PlainLoader); }
void Import_Package_Second(benchmark::State& state) { Timed(state, g_imported, RunPackage); }
void Import_Sqlite3_Second(benchmark::State& state) { Timed(state, g_imported, PlainLoader); }

BENCHMARK(Import_Package_First)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Import_Sqlite3_First)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Import_Package_Second)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Import_Sqlite3_Second)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Each run of the package against the plain loader: the timed (CPU) ratio
// and, beside it, the wall clock's.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  auto ratio = [&](const char* label, const char* a, const char* b) {
    std::string wall;
    const double* wa = r.Counter(a, "wall_ms");
    const double* wb = r.Counter(b, "wall_ms");
    if (wa && wb && *wb > 0) {
      char text[64];
      std::snprintf(text, sizeof text, "   wall clock %.2fx", *wa / *wb);
      wall = text;
    }
    r.Ratio(52, label, a, b, "at most 2x", wall);
  };
  std::printf("\n%d items, %d IDNOs\n", g_items, g_items);
  ratio("import package, first run / sqlite3 loader", "Import_Package_First/iterations:3/manual_time",
        "Import_Sqlite3_First/iterations:3/manual_time");
  ratio("import package, second run / sqlite3 loader", "Import_Package_Second/iterations:3/manual_time",
        "Import_Sqlite3_Second/iterations:3/manual_time");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--items=", 8) == 0)
      g_items = std::max(1, std::atoi(argv[i] + 8));
    else
      rest.push_back(argv[i]);
  }
  // The runs start from a catalogue imported once (the second run's start)
  // and from the one before it (the first run's start), both kept as copies.
  const int rc = vendra_bench::RunOnDemoInstance(
      static_cast<int>(rest.size()), rest.data(),
      [](const fs::path& home) {
        g_home = home;
        vendra_instance::DemoExportSize size;
        size.items = g_items;
        size.idnos = g_items;
        size.units = 50;
        size.groups = 100;
        size.exception_cases = false;
        vendra_instance::WriteDemoExports(g_home / "exchange", size);
        platform::data::ReleasePooledSessions();
        g_pristine = g_home / "pristine.db";
        g_imported = g_home / "imported.db";
        fs::copy_file(BrevaneFile(), g_pristine);
        RunPackage();
        platform::data::ReleasePooledSessions();
        fs::copy_file(BrevaneFile(), g_imported);
      },
      PrintRatios);
  benchmark::Shutdown();
  return rc;
}
