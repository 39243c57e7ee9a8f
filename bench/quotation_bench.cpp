// Quotation creation against the engine beneath it: Vendra.Quotation.Create
// of a 20-line basket of anna's priced by the shop's price lists, and the
// same reads and writes done directly on the sqlite3 C API with statements
// prepared once (the floor), in the same run on the same demo instance.
//
// Both sides start each iteration from a stored basket (Hallvard, web
// pricing, 20 lines of 18 different products, none configurable); storing
// it, and restoring the document the page would hold, is not timed. The
// floor reads what a quotation needs: the partner's pricing method,
// currency and discount and the home currency (customer master), the
// customer's validity settings, each line's catalogue row (validity, expiry,
// unit) and its price row through the GetPrice procedure's own text; then,
// in one transaction, it inserts the header and the 20 lines and deletes the
// basket.
//
// The summary prints the ratio (goal: at most 3x).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/command.h"
#include "sales/quotation/quotation.h"
#include "shared/components.h"

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;
using Clock = std::chrono::steady_clock;
using vendra_bench::Check;
using vendra_bench::Exec;
using vendra_bench::RawDb;

constexpr int kLines = 20;
// Every stocked, sellable product that is not configurable, then the first two again.
constexpr int kProducts[kLines] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 14, 15, 16, 17, 18, 19, 20, 1, 2};

std::string g_vendra_file;
std::string g_kelmor_file;
std::string g_brevane_file;
std::atomic<int> g_next_basket{0};

std::string NextBasketId() {
  char id[33];
  std::snprintf(id, sizeof id, "QBENCH%026d", ++g_next_basket);
  return id;
}

// The basket as a page leaves it before asking for a quotation.
void StoreBasket(sqlite3* db, const std::string& id) {
  Exec(db, "BEGIN IMMEDIATE");
  Exec(db,
       "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
       "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, KROID, "
       "CUSTOMERCODE, USERLOCALE, PRICINGMETHOD, HOMECURRENCYCODE) VALUES ('" + id + "', "
       "'Bench quotation', '2026-03-02T10:00:00', 'anna', 1001, 10011, 10012, 'Deliver before "
       "noon', 'EUR', 'DHL', 1, 'C1001', 1033, 1, 'EUR')");
  for (int i = 1; i <= kLines; ++i) {
    Exec(db,
         "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, "
         "PRODUCTCONFIGURABLE, PRODUCTCONFIGID, PARTNUMBER, LINETEXT) VALUES ('" + id + "', " +
             std::to_string(i * 2) + ", " + std::to_string(kProducts[i - 1]) +
             ", 3, NULL, 0, '', 'P-" + std::to_string(i) + "', 'Line " + std::to_string(i) + "')");
  }
  Exec(db, "COMMIT");
}

void CreateQuotation(benchmark::State& state) {
  RawDb setup(g_vendra_file);
  for (auto _ : state) {
    const std::string id = NextBasketId();
    StoreBasket(setup.db, id);
    Variant doc(vendra_bench::RestoreBasket(id));
    const auto start = Clock::now();
    vendra::Quotation().Create(doc);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

// A statement prepared once, reset before each use.
struct Prepared {
  Prepared(sqlite3* db, const std::string& sql) : db(db) {
    Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db);
  }
  ~Prepared() { sqlite3_finalize(stmt); }
  sqlite3_stmt* Start() {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return stmt;
  }
  // Steps to the end; the number of rows.
  int Run() {
    int rows = 0, rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) ++rows;
    Check(rc, db);
    return rows;
  }
  sqlite3* db;
  sqlite3_stmt* stmt = nullptr;
};

void Text(sqlite3_stmt* s, int i, const std::string& text) {
  sqlite3_bind_text(s, i, text.c_str(), -1, SQLITE_TRANSIENT);
}

void CreateQuotation_PreparedFloor(benchmark::State& state) {
  RawDb vendra(g_vendra_file);
  RawDb kelmor(g_kelmor_file);
  RawDb brevane(g_brevane_file);
  sqlite3* db = vendra.db;
  Prepared partner(kelmor.db,
                   "SELECT PRICINGMETHOD, CURRENCYCODE, DISCOUNT FROM BUSINESSPARTNER WHERE "
                   "BUSINESSPARTNERID = ?");
  Prepared home(kelmor.db, "SELECT CURRENCYCODE FROM HOMECURRENCY");
  Prepared settings(db,
                    "SELECT EXPIRATIONPERIOD, NOTIFY, NOTIFICATIONPERIOD FROM CUSTOMERSETTING "
                    "WHERE BUSINESSPARTNERID = ?");
  Prepared product(brevane.db,
                   "SELECT PRODUCT.*, UNIT.UNITDESCRIPTION FROM PRODUCT LEFT JOIN UNIT ON "
                   "UNIT.UNITCODE = PRODUCT.UNITCODE WHERE PRODUCT.PRODUCTID = ?");
  Prepared price(db, platform::data::StoredProcedureSql("Vendra", "GetPrice"));
  Prepared header(db,
                  "INSERT INTO QUOTATIONHEADER (QUOTATIONID, CUSTOMERREFERENCE, BILLINGADDRESSID, "
                  "SHIPPINGADDRESSID, CREATIONDATE, USERID, USERLOCALE, PRICINGMETHOD, CARRIERCODE, "
                  "BUSINESSPARTNERID, CUSTOMERCODE, CUSTOMERNAME, CURRENCYCODE, CURRENCYSYMBOL, "
                  "HOMECURRENCYCODE, KROID, EXPIRYDATE, NOTIFICATIONNEEDED, NOTIFICATIONDATE, "
                  "COMMENTS, NOTIFICATIONSENT, COPIEDTOORDER, DISCOUNTPERC, DISCOUNTTOTAL, "
                  "TOTALNETAMOUNT, SUBTOTAL) VALUES (?, 'Bench quotation', 10011, 10012, ?, 'anna', "
                  "1033, 1, 'DHL', 1001, 'C1001', NULL, 'EUR', '\xE2\x82\xAC', 'EUR', 1, ?, 1, ?, "
                  "'Deliver before noon', 0, 0, ?, ?, ?, ?)");
  Prepared line(db,
                "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, SKU, PARTNUMBER, REQUESTDATE, "
                "PARTDESCRIPTION, QUANTITY, PRODUCTUNITCODE, PRODUCTCONFIGURABLE, PRODUCTCONFIGID, "
                "PRODUCTCONFIGCOMPLETE, CURRENCY, PRODUCTPRICE, COPIEDTOORDER, DISCOUNTPERC, "
                "DISCOUNTAMOUNT, LINEAMOUNT, LINETEXT) VALUES (?, ?, ?, ?, NULL, NULL, 3, ?, 0, NULL, "
                "0, 'EUR', ?, 0, ?, ?, ?, ?)");
  Prepared delete_lines(db, "DELETE FROM BASKETLINE WHERE BASKETID = ?");
  Prepared delete_header(db, "DELETE FROM BASKETHEADER WHERE BASKETID = ?");
  const platform::Date today = platform::Clock::Today();
  const std::string day = today.ToIso();

  RawDb setup(g_vendra_file);
  for (auto _ : state) {
    const std::string id = NextBasketId();
    StoreBasket(setup.db, id);
    const auto start = Clock::now();

    sqlite3_bind_int(partner.Start(), 1, 1001);
    if (partner.Run() != 1) std::abort();
    home.Start();
    home.Run();
    sqlite3_bind_int(settings.Start(), 1, 1001);
    settings.Run();
    Exec(db, "BEGIN IMMEDIATE");
    double total = 0;
    struct Priced {
      double price, perc, amount;
      std::string unit;
    } priced[kLines];
    for (int i = 0; i < kLines; ++i) {
      sqlite3_stmt* p = product.Start();
      sqlite3_bind_int(p, 1, kProducts[i]);
      if (sqlite3_step(p) != SQLITE_ROW) std::abort();
      const unsigned char* unit = sqlite3_column_text(p, 4);
      priced[i].unit = unit ? reinterpret_cast<const char*>(unit) : "";
      sqlite3_reset(p);
      sqlite3_stmt* g = price.Start();
      sqlite3_bind_int(g, sqlite3_bind_parameter_index(g, "@PRODID"), kProducts[i]);
      sqlite3_bind_int(g, sqlite3_bind_parameter_index(g, "@BPID"), 1001);
      Text(g, sqlite3_bind_parameter_index(g, "@CURRENCY"), "EUR");
      Text(g, sqlite3_bind_parameter_index(g, "@HOMECURRENCY"), "EUR");
      Text(g, sqlite3_bind_parameter_index(g, "@ORDERDATE"), day);
      if (sqlite3_step(g) != SQLITE_ROW) std::abort();
      priced[i].price = sqlite3_column_double(g, 5);
      priced[i].perc = sqlite3_column_double(g, 6);
      double discount = sqlite3_column_double(g, 7);
      sqlite3_reset(g);
      if (priced[i].perc != 0) discount = priced[i].price * priced[i].perc / 100;
      priced[i].amount = (priced[i].price - discount) * 3;
      total += priced[i].amount;
    }
    sqlite3_stmt* h = header.Start();
    Text(h, 1, id);
    Text(h, 2, today.ToIso());
    Text(h, 3, today.AddDays(30).ToIso());
    Text(h, 4, today.AddDays(25).ToIso());
    sqlite3_bind_double(h, 5, 5);
    sqlite3_bind_double(h, 6, total * 5 / 100);
    sqlite3_bind_double(h, 7, total);
    sqlite3_bind_double(h, 8, total - total * 5 / 100);
    header.Run();
    for (int i = 0; i < kLines; ++i) {
      sqlite3_stmt* l = line.Start();
      Text(l, 1, id);
      sqlite3_bind_int(l, 2, i + 1);
      sqlite3_bind_int(l, 3, kProducts[i]);
      Text(l, 4, "P-" + std::to_string(i + 1));
      Text(l, 5, priced[i].unit);
      sqlite3_bind_double(l, 6, priced[i].price);
      sqlite3_bind_double(l, 7, priced[i].perc);
      sqlite3_bind_double(l, 8, priced[i].price * priced[i].perc / 100);
      sqlite3_bind_double(l, 9, priced[i].amount);
      Text(l, 10, "Line " + std::to_string(i + 1));
      line.Run();
    }
    Text(delete_lines.Start(), 1, id);
    delete_lines.Run();
    Text(delete_header.Start(), 1, id);
    delete_header.Run();
    Exec(db, "COMMIT");

    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

BENCHMARK(CreateQuotation)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(CreateQuotation_PreparedFloor)->UseManualTime()->Unit(benchmark::kMicrosecond);

void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  r.Ratio(46, "Quotation.Create 20 lines / prepared floor", "CreateQuotation/manual_time",
          "CreateQuotation_PreparedFloor/manual_time", "at most 3x");
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv,
      [](const std::filesystem::path& home) {
        g_vendra_file = (home / "data" / "Vendra.db").string();
        g_kelmor_file = (home / "data" / "Kelmor.db").string();
        g_brevane_file = (home / "data" / "Brevane.db").string();
      },
      PrintRatios);
}
