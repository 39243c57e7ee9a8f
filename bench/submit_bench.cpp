// Order submission against the engine beneath it: Vendra.Order.SubmitBasket
// of a 20-line and a 100-line basket, and the same statements run directly
// on the sqlite3 C API in one transaction (the floor), in the same run on
// the same demo instance.
//
// Both sides start each iteration from a stored basket of anna's (billing
// 10011, every line delivered to 10012); storing it, and restoring the
// document the page would hold, is not timed. The floor, like the
// submission, checks and copies the two addresses (reading them from the
// customer master's database), inserts the header and one statement per
// line, deletes the basket, commits and then asks the instance's
// EXPORTMESSAGETYPE. Its SQL is text with the values in it, as the
// submission's is, and each statement is prepared, stepped and finalized.
//
// The summary prints each submission's ratio to its floor and the 100-line
// cost over the 20-line cost (goal: at most 6x). A second floor inserts the
// lines through one prepared statement with bound values: the driver's
// automatic parameterisation is to keep a submission within 2x of it.
//
// After the timed runs it prints the engine's peak memory during one
// 100-line submission and what the statement cache holds, then lets 8
// threads submit baskets of their own at once against 1 thread doing the
// same work (throughput goal: at least that of one thread).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "bench/support/bench_support.h"

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;
using Clock = std::chrono::steady_clock;
using vendra_bench::Check;
using vendra_bench::Exec;
using vendra_bench::RawDb;

std::string g_vendra_file;
std::string g_kelmor_file;
std::atomic<int> g_next_basket{0};
int64_t g_opened_while_timed = 0;
double g_cpu_per_order[2] = {0, 0};  // summed over the rounds: 1 thread, 8 threads

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Prepares, steps to the end and finalizes, handing each row to on_row.
template <class OnRow>
void Query(sqlite3* db, const std::string& sql, OnRow on_row) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr), db);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) on_row(stmt);
  Check(rc, db);
  sqlite3_finalize(stmt);
}

std::string NextBasketId() {
  char id[33];
  std::snprintf(id, sizeof id, "BENCH%027d", ++g_next_basket);
  return id;
}

// The basket as a page leaves it before submitting it.
void StoreBasket(sqlite3* db, const std::string& id, int lines) {
  Exec(db, "BEGIN IMMEDIATE");
  Exec(db,
       "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
       "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, ORDERTYPE, "
       "DISCOUNTPERC, KROID, PAYMENTMETHOD, CURRENCYDECIMALS, SUBTOTAL, TOTAL, CUSTOMERCODE, "
       "CUSTOMERNAME, CURRENCYSYMBOL) VALUES ('" + id + "', 'Bench order', '2026-03-02T10:00:00', "
       "'anna', 1001, 10011, 10012, 'Deliver before noon', 'EUR', 'DHL', 'SO', 5, 2, 1, 2, 600, "
       "570, 'C1001', 'Hallvard Industrial', 'EUR')");
  for (int i = 1; i <= lines; ++i) {
    const std::string nr = std::to_string(i);
    Exec(db,
         "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, ADDRESSID, "
         "LINETEXT, PRODUCTUNITCODE, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, "
         "LINEDISCOUNTAMOUNT, ORDERDISCOUNTAMOUNT, LINEAMOUNT, TAXCODE, TAXPERCENTAGE, TAXAMOUNT, "
         "PARTNUMBER) VALUES ('" + id + "', " + nr + ", " + std::to_string(i % 20 + 1) +
             ", 2, '2026-04-01T00:00:00', 10012, 'Line " + nr + "', 'BOX', 12.5, 0, 0.5, 0, 1.25, "
             "24, '01', 21, 5.04, 'P-" + nr + "')");
  }
  Exec(db, "COMMIT");
}

void SubmitBasket(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  RawDb setup(g_vendra_file);
  for (auto _ : state) {
    const std::string id = NextBasketId();
    StoreBasket(setup.db, id, lines);
    Variant doc(vendra_bench::RestoreBasket(id));
    const auto start = Clock::now();
    vendra::Order().SubmitBasket(doc);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

// The same statements on the engine: two handles kept open (the driver pools
// its sessions too). With prepared_lines the line inserts are one prepared
// statement with bound values instead: how much the text statements cost.
void Floor(benchmark::State& state, bool prepared_lines) {
  const int lines = static_cast<int>(state.range(0));
  RawDb vendra(g_vendra_file);
  RawDb kelmor(g_kelmor_file);
  sqlite3* db = vendra.db;
  for (auto _ : state) {
    const std::string id = NextBasketId();
    StoreBasket(db, id, lines);
    const auto start = Clock::now();

    Exec(db, "BEGIN IMMEDIATE");
    for (int address : {10011, 10012}) {
      const std::string a = std::to_string(address);
      bool copied = false;
      Query(db, "SELECT * FROM ADDRESSHISTORY WHERE ORDERID = '" + id + "' AND ADDRESSID = " + a,
            [&](sqlite3_stmt*) { copied = true; });
      if (copied) continue;
      std::vector<std::string> values;
      Query(kelmor.db,
            "SELECT COUNTRYCODE, NAME1, NAME2, STREET1, STREET2, CITY1, CITY2, STATEPROVINCE, "
            "ZIPCODE, PHONE, FAX, COUNTRYNAME, SHORTDESCRIPTION FROM ADDRESS WHERE ADDRESSID = " + a,
            [&](sqlite3_stmt* s) {
              for (int c = 0; c < 13; ++c) {
                const unsigned char* t = sqlite3_column_text(s, c);
                values.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
              }
            });
      std::string code;
      Query(kelmor.db, "SELECT KROADDRESSCODE FROM ADDRESS WHERE ADDRESSID = " + a,
            [&](sqlite3_stmt* s) {
              const unsigned char* t = sqlite3_column_text(s, 0);
              code = t ? reinterpret_cast<const char*>(t) : "";
            });
      sqlite3_stmt* insert = nullptr;
      Check(sqlite3_prepare_v2(db,
                               "INSERT INTO ADDRESSHISTORY (ORDERID, ADDRESSID, COUNTRYCODE, NAME1, "
                               "NAME2, STREET1, STREET2, CITY1, CITY2, STATEPROVINCE, ZIPCODE, PHONE, "
                               "FAX, COUNTRYNAME, SHORTDESCRIPTION, KROADDRESSCODE) VALUES (?, ?, ?, "
                               "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                               -1, &insert, nullptr),
            db);
      sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 2, address);
      for (int c = 0; c < 13; ++c)
        sqlite3_bind_text(insert, c + 3, values[static_cast<size_t>(c)].c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 16, code.c_str(), -1, SQLITE_TRANSIENT);
      Check(sqlite3_step(insert), db);
      sqlite3_finalize(insert);
    }
    Exec(db,
         "INSERT INTO ORDERHEADER (ORDERID, CURRENCYCODE, USERID, SHIPPINGADDRESSID, "
         "BILLINGADDRESSID, BUSINESSPARTNERID, CARRIERCODE, ORDERLISTNAME, ORDERSTATUS, "
         "ORDERDATE, ORDERTYPE, HEADERTEXT, SALESORDERNR, QUOTATIONID, DISCOUNTPERC, "
         "CUSTOMERPONR, ACKNOWLEDGEMENTURL, KROID, FREIGHTTOTAL, WEBPAYMENTMETHOD, FREIGHTTAX, "
         "CALCULATETAX, CURRENCYDECIMALS, CUSTOMERCODE, CUSTOMERNAME, FREIGHTTAXCODE, "
         "FREIGHTTAXCODEDESCRIPTION, FREIGHTTAXPERC, SUBTOTAL, TAXTOTAL, TOTAL, "
         "TOTALNETAMOUNT, DISCOUNTTOTAL, CURRENCYSYMBOL) VALUES ('" + id + "', 'EUR', 'anna', "
         "10012, 10011, 1001, 'DHL', 'Bench order', 0, '2026-03-02T10:00:00', 'SO', "
         "'Deliver before noon', '', NULL, 5, NULL, NULL, 2, NULL, 1, NULL, 0, 2, 'C1001', "
         "'Hallvard Industrial', NULL, NULL, NULL, 600, NULL, 570, NULL, NULL, 'EUR')");
    if (prepared_lines) {
      // The absolute floor: one statement prepared once, values bound.
      sqlite3_stmt* insert = nullptr;
      Check(sqlite3_prepare_v2(
                db,
                "INSERT INTO ORDERLINE (ORDERID, LINENR, PRODUCTID, UNITCODE, ADDRESSID, QUANTITY, "
                "PRICE, DISCOUNTPERC, DISCOUNTAMOUNT, AMOUNT, CONFIGID, CONFIGCOMPLETE, LINETEXT, "
                "REQUESTDATE, ALLOCATIONDATE, LINETAX, LINEFREIGHT, TAXCODE, TAXPERCENTAGE, "
                "TAXCODEDESCRIPTION, LINEFREIGHTTAX, LINESTATUS, ORDERDISCOUNT, PARTNUMBER) VALUES "
                "(?, ?, ?, 'BOX', 10012, 2, 12.5, 0, 0.5, 24, NULL, 0, ?, '2026-04-01T00:00:00', "
                "NULL, 5.04, 0, '01', 21, NULL, 0, 0, 1.25, ?)",
                -1, &insert, nullptr),
            db);
      for (int i = 1; i <= lines; ++i) {
        const std::string nr = std::to_string(i);
        sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, i);
        sqlite3_bind_int(insert, 3, i % 20 + 1);
        sqlite3_bind_text(insert, 4, ("Line " + nr).c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 5, ("P-" + nr).c_str(), -1, SQLITE_TRANSIENT);
        Check(sqlite3_step(insert), db);
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
    }
    for (int i = 1; i <= lines && !prepared_lines; ++i) {
      const std::string nr = std::to_string(i);
      Exec(db,
           "INSERT INTO ORDERLINE (ORDERID, LINENR, PRODUCTID, UNITCODE, ADDRESSID, QUANTITY, "
           "PRICE, DISCOUNTPERC, DISCOUNTAMOUNT, AMOUNT, CONFIGID, CONFIGCOMPLETE, LINETEXT, "
           "REQUESTDATE, ALLOCATIONDATE, LINETAX, LINEFREIGHT, TAXCODE, TAXPERCENTAGE, "
           "TAXCODEDESCRIPTION, LINEFREIGHTTAX, LINESTATUS, ORDERDISCOUNT, PARTNUMBER) VALUES ('" +
               id + "', " + nr + ", " + std::to_string(i % 20 + 1) + ", 'BOX', 10012, 2, 12.5, 0, "
               "0.5, 24, NULL, 0, 'Line " + nr + "', '2026-04-01T00:00:00', NULL, 5.04, 0, '01', "
               "21, NULL, 0, 0, 1.25, 'P-" + nr + "')");
    }
    Exec(db, "DELETE FROM BASKETLINE WHERE BASKETID = '" + id + "'");
    Exec(db, "DELETE FROM BASKETHEADER WHERE BASKETID = '" + id + "'");
    Exec(db, "COMMIT");
    std::string message_type;
    Query(db, "SELECT EXPORTMESSAGETYPE FROM ORDEREXPORTFILE WHERE KROID= '2'",
          [&](sqlite3_stmt* s) {
            const unsigned char* t = sqlite3_column_text(s, 0);
            message_type = t ? reinterpret_cast<const char*>(t) : "";
          });
    benchmark::DoNotOptimize(message_type);

    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

void SubmitBasket_Sqlite3(benchmark::State& state) { Floor(state, false); }
void SubmitBasket_Sqlite3Prepared(benchmark::State& state) { Floor(state, true); }

BENCHMARK(SubmitBasket)->Arg(20)->Arg(100)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(SubmitBasket_Sqlite3)->Arg(20)->Arg(100)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(SubmitBasket_Sqlite3Prepared)
    ->Arg(20)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The submissions against their floors, and how the cost grows with the lines.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  r.Ratio(46, "SubmitBasket 20 lines / sqlite3 floor", "SubmitBasket/20/manual_time",
          "SubmitBasket_Sqlite3/20/manual_time", "at most 2x");
  r.Ratio(46, "SubmitBasket 100 lines / sqlite3 floor", "SubmitBasket/100/manual_time",
          "SubmitBasket_Sqlite3/100/manual_time", "at most 2x");
  r.Ratio(46, "SubmitBasket 100 lines / 20 lines", "SubmitBasket/100/manual_time",
          "SubmitBasket/20/manual_time", "at most 6x");
  r.Ratio(46, "sqlite3 floor 100 lines / 20 lines", "SubmitBasket_Sqlite3/100/manual_time",
          "SubmitBasket_Sqlite3/20/manual_time", "");
  r.Ratio(46, "SubmitBasket 20 lines / prepared-lines floor", "SubmitBasket/20/manual_time",
          "SubmitBasket_Sqlite3Prepared/20/manual_time", "at most 2x");
  r.Ratio(46, "SubmitBasket 100 lines / prepared-lines floor", "SubmitBasket/100/manual_time",
          "SubmitBasket_Sqlite3Prepared/100/manual_time", "at most 2x");
}

// The engine's peak memory while one 100-line basket is submitted, and the
// compiled statements the pool's idle handles keep.
void PrintMemory() {
  RawDb setup(g_vendra_file);
  const std::string id = NextBasketId();
  StoreBasket(setup.db, id, 100);
  Variant doc(vendra_bench::RestoreBasket(id));
  sqlite3_int64 current = 0, peak = 0;
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &current, &peak, 1);  // peak := current
  const sqlite3_int64 before = current;
  vendra::Order().SubmitBasket(doc);
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &current, &peak, 0);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("\nengine memory during a 100-line submission: peak %.1f KiB (%.1f KiB above the start)\n",
              peak / 1024.0, (peak - before) / 1024.0);
  vendra_bench::PrintStatementCache();
  std::printf("process peak resident set: %.1f MiB\n", usage.ru_maxrss / 1024.0);
}

// Orders per second when `threads` threads each submit `each` 20-line
// baskets of their own at once. Storing and restoring the baskets happens
// before the clock starts, as in the timed runs, and so does one submission
// per thread: a host's worker threads live long, and a thread's first call
// fills its caches (configuration, encoder, connection string).
double Throughput(int threads, int each) {
  std::vector<std::vector<Variant>> docs(static_cast<size_t>(threads));
  {
    RawDb setup(g_vendra_file);
    for (auto& mine : docs) {
      for (int i = 0; i <= each; ++i) {
        const std::string id = NextBasketId();
        StoreBasket(setup.db, id, 20);
        mine.emplace_back(vendra_bench::RestoreBasket(id));
      }
    }
  }
  std::atomic<int> failures{0};
  std::latch ready(threads), go(1);
  std::vector<std::thread> pool;
  for (auto& mine : docs) {
    pool.emplace_back([&] {
      for (size_t i = 0; i < mine.size(); ++i) {
        try {
          vendra::Order().SubmitBasket(mine[i]);
        } catch (const platform::ComError& e) {
          std::fprintf(stderr, "%s\n", e.description().c_str());
          ++failures;
        }
        if (i == 0) {
          ready.count_down();
          go.wait();
        }
      }
    });
  }
  ready.wait();
  const int64_t handles_before = platform::data::sqlite::HandlesOpened();
  const double cpu_before = ProcessCpuSeconds();
  const auto start = Clock::now();
  go.count_down();
  for (auto& th : pool) th.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  g_cpu_per_order[threads == 1 ? 0 : 1] += (ProcessCpuSeconds() - cpu_before) / (threads * each);
  if (failures) std::printf("%d submissions failed\n", failures.load());
  // Every handle opened while the clock runs reads the schema and compiles
  // its statements again: a pool that keeps too few shows here.
  g_opened_while_timed += platform::data::sqlite::HandlesOpened() - handles_before;
  return threads * each / seconds;
}

// The machine may be shared, so one run of each says little: the two are
// measured in turns, and each pair's ratio is printed with the median of them.
void PrintThroughput() {
  constexpr int kRounds = 5;
  std::vector<double> ratios;
  double best_one = 0, best_eight = 0;
  for (int round = 0; round < kRounds; ++round) {
    const double one = Throughput(1, 80);
    const double eight = Throughput(8, 20);
    best_one = std::max(best_one, one);
    best_eight = std::max(best_eight, eight);
    ratios.push_back(eight / one);
    std::printf("round %d: 1 thread %.0f orders/s, 8 threads %.0f orders/s   %.2fx\n", round + 1, one, eight,
                eight / one);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("submitters at once: best 1 thread %.0f orders/s, best 8 threads %.0f orders/s; "
              "8 / 1 per round %.2fx-%.2fx, median %.2fx   (goal: at least 1x)\n",
              best_one, best_eight, ratios.front(), ratios.back(), ratios[ratios.size() / 2]);
  std::printf("processor time per order: 1 thread %.0f us, 8 threads %.0f us; database handles opened while timed: %lld\n",
              g_cpu_per_order[0] / kRounds * 1e6, g_cpu_per_order[1] / kRounds * 1e6,
              static_cast<long long>(g_opened_while_timed));
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv,
      [](const std::filesystem::path& home) {
        g_vendra_file = (home / "data" / "Vendra.db").string();
        g_kelmor_file = (home / "data" / "Kelmor.db").string();
      },
      [](const vendra_bench::RatioReporter& reporter) {
        PrintRatios(reporter);
        PrintMemory();
        PrintThroughput();
      });
}
