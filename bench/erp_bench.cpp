// The hand-over to the ERP against the engine beneath it:
// Ferrolink.Order.CreateBackendSalesOrder of a stored web order of 20 and
// 100 lines on instance 1 (tw5), connector and simulated ERP included, and a
// floor that does the same database work with prepared sqlite3 statements in
// the same run: read the order's lines, check the customer and each item in
// the ERP's catalog, store the sales order and its lines (with a JSON text
// of their values of the same size) in one ERP transaction, and write the
// numbers back to ORDERHEADER and ORDERLINE in one sales transaction.
//
// A second pair times the periodic run (Vendra.Order's hand-over of every
// waiting order of instance 2) over 100 and 1,000 waiting orders of two
// lines each: its cost should grow linearly.
//
// Storing the orders each iteration hands over is not timed. The summary
// prints the ratios (goals: at most 3x the floor; 100 lines at most 6x 20
// lines; 1,000 orders about 10x 100 orders).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "backend/order.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "bench/support/bench_support.h"

namespace {

using platform::Variant;
using Clock = std::chrono::steady_clock;
using vendra_bench::Check;

std::string g_home;
int g_next = 0;

// The catalog's database of the instance. This floor has always run without
// foreign keys enforced; kept that way so its ratios stay comparable with earlier runs.
sqlite3* OpenRaw(const std::string& catalog) {
  return vendra_bench::OpenRaw(g_home + "/data/" + catalog + ".db", /*foreign_keys=*/false);
}

struct Stmt {
  Stmt(sqlite3* db, const char* sql) : db_(db) { Check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db); }
  ~Stmt() { sqlite3_finalize(s); }
  Stmt& Text(int i, const std::string& t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Int(int i, int64_t v) {
    sqlite3_bind_int64(s, i, v);
    return *this;
  }
  Stmt& Real(int i, double v) {
    sqlite3_bind_double(s, i, v);
    return *this;
  }
  int Step() {
    const int rc = sqlite3_step(s);
    Check(rc, db_);
    return rc;
  }
  void Reset() {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
  sqlite3* db_;
  sqlite3_stmt* s = nullptr;
};

const char* kParts[] = {"FA-M8X30", "FA-M10X40", "HY-PMP-200", "TB-HOSE-12", "HT-WR-SET", "HT-SCR-SET"};

// A stored web order of anna's waiting on the instance (untimed set-up).
std::string StoreOrder(sqlite3* sales, int32_t kro, int lines) {
  const std::string id = "B" + std::to_string(++g_next);
  Stmt h(sales,
         "INSERT INTO ORDERHEADER (ORDERID, CURRENCYCODE, USERID, SHIPPINGADDRESSID, BILLINGADDRESSID, "
         "BUSINESSPARTNERID, CARRIERCODE, ORDERLISTNAME, ORDERSTATUS, ORDERDATE, ORDERTYPE, "
         "DISCOUNTPERC, CUSTOMERPONR, KROID, FREIGHTTOTAL, WEBPAYMENTMETHOD, CALCULATETAX, "
         "CUSTOMERCODE) VALUES (?, 'EUR', 'anna', 10012, 10011, 1001, 'DHL', 'Bench order', 0, "
         "'2026-12-01T10:00:00', 'SO', 0, 'PO-1', ?, 0, 1, 0, 'C1001')");
  h.Text(1, id).Int(2, kro).Step();
  Stmt l(sales,
         "INSERT INTO ORDERLINE (ORDERID, LINENR, PRODUCTID, UNITCODE, ADDRESSID, QUANTITY, PRICE, "
         "DISCOUNTPERC, DISCOUNTAMOUNT, AMOUNT, REQUESTDATE, LINESTATUS, PARTNUMBER, TAXCODE) "
         "VALUES (?, ?, 1, 'BOX', 10012, 2, 12.4, 0, 0, 24.8, '2026-12-20T00:00:00', 0, ?, '01')");
  for (int n = 1; n <= lines; ++n) {
    l.Text(1, id).Int(2, n).Text(3, kParts[(n - 1) % 6]).Step();
    l.Reset();
  }
  return id;
}

void BM_CreateBackendSalesOrder(benchmark::State& state) {
  sqlite3* sales = OpenRaw("Vendra");
  const int lines = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const std::string id = StoreOrder(sales, 1, lines);
    auto document = vendra::Order().Restore(id);
    document->Add("origin", Variant(int16_t{2}));
    const auto start = Clock::now();
    ferrolink::Order backend;
    bool refused = false;
    const std::string number = backend.CreateBackendSalesOrder(document, refused);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (refused || number.empty()) {
      state.SkipWithError("the ERP refused the order");
      break;
    }
  }
  sqlite3_close(sales);
}

// The same reads and writes on the engine, prepared and bound.
void BM_CreateBackendSalesOrder_Floor(benchmark::State& state) {
  sqlite3* sales = OpenRaw("Vendra");
  sqlite3* erp = OpenRaw("Gantrel");
  const int lines = static_cast<int>(state.range(0));
  static int number = 9000000;
  for (auto _ : state) {
    const std::string id = StoreOrder(sales, 1, lines);
    const auto start = Clock::now();
    {
      Stmt head(sales, "SELECT * FROM ORDERHEADER WHERE ORDERID = ?");
      head.Text(1, id).Step();
      Stmt read(sales, "SELECT * FROM ORDERLINE WHERE ORDERID LIKE ? AND (SALESORDERLINENR = 0 OR SALESORDERLINENR IS NULL)");
      read.Text(1, id);
      std::vector<std::string> parts;
      while (read.Step() == SQLITE_ROW)
        parts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(read.s, 23)));
      Stmt customer(erp, "SELECT CUSTOMERCODE, CREDITHOLD, DISCOUNTPERC FROM CUSTOMER WHERE CUSTOMERCODE = ?");
      customer.Text(1, "C1001").Step();
      Stmt item(erp, "SELECT 1 FROM ITEM WHERE PARTNUMBER = ?");
      for (const std::string& p : parts) {
        item.Text(1, p).Step();
        item.Reset();
      }
      const std::string so = std::to_string(++number);
      const std::string header_json(420, 'h');
      const std::string line_json(260, 'l');
      Check(sqlite3_exec(erp, "BEGIN", nullptr, nullptr, nullptr), erp);
      Stmt counter(erp, "UPDATE INSTANCE SET NEXTORDER = NEXTORDER + 1 WHERE KROID = 1");
      counter.Step();
      Stmt dup(erp, "SELECT SALESORDERNR FROM SALESORDER WHERE KROID = 1 AND WEBREFERENCE = ?");
      dup.Text(1, id).Step();
      Stmt order(erp, "INSERT INTO SALESORDER (SALESORDERNR, KROID, WEBREFERENCE, CUSTOMERCODE, CREATED, DATA) VALUES (?, 1, ?, 'C1001', '2026-12-08T10:00:00', ?)");
      order.Text(1, so).Text(2, id).Text(3, header_json).Step();
      Stmt line(erp, "INSERT INTO SALESORDERLINE (SALESORDERNR, POSITION, PARTNUMBER, QUANTITY, DATA) VALUES (?, ?, ?, 2, ?)");
      for (size_t i = 0; i < parts.size(); ++i) {
        line.Text(1, so).Int(2, 10 * (i + 1)).Text(3, parts[i]).Text(4, line_json).Step();
        line.Reset();
      }
      Check(sqlite3_exec(erp, "COMMIT", nullptr, nullptr, nullptr), erp);
      Check(sqlite3_exec(sales, "BEGIN", nullptr, nullptr, nullptr), sales);
      Stmt update(sales, "UPDATE ORDERHEADER SET SALESORDERNR = ?, ORDERSTATUS = 1, ERROR = '' WHERE ORDERID = ?");
      update.Text(1, so).Text(2, id).Step();
      Stmt back(sales, "UPDATE ORDERLINE SET SALESORDERNR = ?, SALESORDERLINENR = ? WHERE ORDERID = ? AND LINENR = ?");
      for (size_t i = 0; i < parts.size(); ++i) {
        back.Text(1, so).Int(2, 10 * (i + 1)).Text(3, id).Int(4, static_cast<int64_t>(i + 1)).Step();
        back.Reset();
      }
      Check(sqlite3_exec(sales, "COMMIT", nullptr, nullptr, nullptr), sales);
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  sqlite3_close(erp);
  sqlite3_close(sales);
}

void BM_PeriodicHandover(benchmark::State& state) {
  sqlite3* sales = OpenRaw("Vendra");
  const int orders = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Check(sqlite3_exec(sales, "BEGIN", nullptr, nullptr, nullptr), sales);
    for (int i = 0; i < orders; ++i) StoreOrder(sales, 2, 2);
    Check(sqlite3_exec(sales, "COMMIT", nullptr, nullptr, nullptr), sales);
    const auto start = Clock::now();
    const auto outcomes = vendra::Order().HandOverWaitingOrders(2);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (static_cast<int>(outcomes.size()) != orders) {
      state.SkipWithError("not every waiting order was handed over");
      break;
    }
  }
  sqlite3_close(sales);
}

BENCHMARK(BM_CreateBackendSalesOrder)->Arg(20)->Arg(100)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateBackendSalesOrder_Floor)->Arg(20)->Arg(100)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeriodicHandover)->Arg(100)->Arg(1000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each hand-over against its floor, and how the cost grows with the lines
// and the orders.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  r.Ratio(52, "CreateBackendSalesOrder 20 lines / floor", "BM_CreateBackendSalesOrder/20/manual_time",
          "BM_CreateBackendSalesOrder_Floor/20/manual_time", "at most 3x");
  r.Ratio(52, "CreateBackendSalesOrder 100 lines / floor", "BM_CreateBackendSalesOrder/100/manual_time",
          "BM_CreateBackendSalesOrder_Floor/100/manual_time", "at most 3x");
  r.Ratio(52, "CreateBackendSalesOrder 100 lines / 20 lines", "BM_CreateBackendSalesOrder/100/manual_time",
          "BM_CreateBackendSalesOrder/20/manual_time", "at most 6x");
  r.Ratio(52, "periodic hand-over 1,000 orders / 100 orders", "BM_PeriodicHandover/1000/iterations:2/manual_time",
          "BM_PeriodicHandover/100/iterations:2/manual_time", "about 10x: linear");
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv, [](const std::filesystem::path& home) { g_home = home.string(); }, PrintRatios);
}
