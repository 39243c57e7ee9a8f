// Order submission on PostgreSQL: Vendra.Order.SubmitBasket of a 20-line
// basket on a demo instance whose databases live on the server VENDRA_PG_URL
// names (scripts/pg-server.sh start prints one; without it the program says
// so and ends), against the same statements run through libpq directly, each
// prepared once and run with bound values (the floor), in the same run.
//
// Both sides start each iteration from a stored basket of anna's (billing
// 10011, every line delivered to 10012); storing it, and restoring the
// document the page would hold, is not timed. The floor, like the
// submission, checks and copies the two addresses (reading them from the
// customer master's database on a second connection), inserts the header and
// one row per line, deletes the basket, commits and then asks the instance's
// EXPORTMESSAGETYPE.
//
// Goal: at most 2x. The summary prints the ratio.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
#include "platform/data/postgres/pg_driver.h"
#include "sales/order/order.h"

namespace {

using platform::Variant;
using platform::data::Connection;
using Clock = std::chrono::steady_clock;

std::string g_vendra_cs, g_kelmor_cs;
int g_next_basket = 0;

[[noreturn]] void Die(PGconn* c, const std::string& what) {
  std::fprintf(stderr, "postgres_submit_bench: %s: %s\n", what.c_str(), PQerrorMessage(c));
  std::exit(1);
}

// libpq's conninfo for one of the instance's connection strings
// ("Provider=PostgreSQL;Data Source=host:port;Initial Catalog=db;User ID=u").
std::string ConnInfo(const std::string& cs) {
  std::map<std::string, std::string> keys;
  size_t at = 0;
  while (at < cs.size()) {
    size_t end = cs.find(';', at);
    if (end == std::string::npos) end = cs.size();
    const std::string part = cs.substr(at, end - at);
    const size_t eq = part.find('=');
    if (eq != std::string::npos) keys[part.substr(0, eq)] = part.substr(eq + 1);
    at = end + 1;
  }
  std::string host = keys["Data Source"], port = "5432";
  if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
    port = host.substr(colon + 1);
    host.resize(colon);
  }
  std::string info = "host=" + host + " port=" + port + " dbname=" + keys["Initial Catalog"];
  if (!keys["User ID"].empty()) info += " user=" + keys["User ID"];
  if (!keys["Password"].empty()) info += " password=" + keys["Password"];
  return info;
}

// A libpq connection with its statements prepared once.
struct RawPg {
  explicit RawPg(const std::string& cs) : conn(PQconnectdb(ConnInfo(cs).c_str())) {
    if (PQstatus(conn) != CONNECTION_OK) Die(conn, "connect");
  }
  ~RawPg() { PQfinish(conn); }
  RawPg(const RawPg&) = delete;
  RawPg& operator=(const RawPg&) = delete;
  void Prepare(const char* name, const char* sql) {
    PGresult* r = PQprepare(conn, name, sql, 0, nullptr);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) Die(conn, std::string("prepare ") + name);
    PQclear(r);
  }
  // Runs a prepared statement; the result's rows, when it has any, stay
  // readable until the next call.
  PGresult* Run(const char* name, std::vector<const char*> values) {
    PQclear(last);
    last = PQexecPrepared(conn, name, static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0);
    const ExecStatusType st = PQresultStatus(last);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) Die(conn, name);
    return last;
  }
  PGconn* conn;
  PGresult* last = nullptr;
};

std::string NextBasketId() {
  char id[33];
  std::snprintf(id, sizeof id, "PGBENCH%025d", ++g_next_basket);
  return id;
}

// The basket as a page leaves it before submitting it (through the driver;
// not timed).
void StoreBasket(const std::string& id, int lines) {
  auto db = std::make_shared<Connection>();
  db->Open(g_vendra_cs);
  platform::data::Transaction tx(*db);
  db->Execute(
      "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
      "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, ORDERTYPE, "
      "DISCOUNTPERC, KROID, PAYMENTMETHOD, CURRENCYDECIMALS, SUBTOTAL, TOTAL, CUSTOMERCODE, "
      "CUSTOMERNAME, CURRENCYSYMBOL) VALUES (?, 'Bench order', '2026-03-02T10:00:00', "
      "'anna', 1001, 10011, 10012, 'Deliver before noon', 'EUR', 'DHL', 'SO', 5, 2, 1, 2, 600, "
      "570, 'C1001', 'Hallvard Industrial', 'EUR')",
      {Variant(id)});
  for (int i = 1; i <= lines; ++i) {
    db->Execute(
        "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, ADDRESSID, "
        "LINETEXT, PRODUCTUNITCODE, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, "
        "LINEDISCOUNTAMOUNT, ORDERDISCOUNTAMOUNT, LINEAMOUNT, TAXCODE, TAXPERCENTAGE, TAXAMOUNT, "
        "PARTNUMBER) VALUES (?, ?, ?, 2, '2026-04-01T00:00:00', 10012, ?, 'BOX', 12.5, 0, 0.5, 0, "
        "1.25, 24, '01', 21, 5.04, ?)",
        {Variant(id), Variant(i), Variant(i % 20 + 1), Variant("Line " + std::to_string(i)),
         Variant("P-" + std::to_string(i))});
  }
  tx.Commit();
  db->Close();
}

void SubmitBasket_Postgres(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const std::string id = NextBasketId();
    StoreBasket(id, lines);
    Variant doc(vendra_bench::RestoreBasket(id));
    const auto start = Clock::now();
    vendra::Order().SubmitBasket(doc);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

void SubmitBasket_Libpq(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  RawPg sales(g_vendra_cs), kelmor(g_kelmor_cs);
  sales.Prepare("begin", "BEGIN");
  sales.Prepare("commit", "COMMIT");
  sales.Prepare("copied", "SELECT * FROM ADDRESSHISTORY WHERE ORDERID = $1 AND ADDRESSID = $2");
  kelmor.Prepare("address",
                 "SELECT COUNTRYCODE, NAME1, NAME2, STREET1, STREET2, CITY1, CITY2, STATEPROVINCE, "
                 "ZIPCODE, PHONE, FAX, COUNTRYNAME, SHORTDESCRIPTION FROM ADDRESS WHERE ADDRESSID = $1");
  kelmor.Prepare("code", "SELECT KROADDRESSCODE FROM ADDRESS WHERE ADDRESSID = $1");
  sales.Prepare("copy",
                "INSERT INTO ADDRESSHISTORY (ORDERID, ADDRESSID, COUNTRYCODE, NAME1, NAME2, STREET1, "
                "STREET2, CITY1, CITY2, STATEPROVINCE, ZIPCODE, PHONE, FAX, COUNTRYNAME, "
                "SHORTDESCRIPTION, KROADDRESSCODE) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, "
                "$11, $12, $13, $14, $15, $16)");
  sales.Prepare("header",
                "INSERT INTO ORDERHEADER (ORDERID, CURRENCYCODE, USERID, SHIPPINGADDRESSID, "
                "BILLINGADDRESSID, BUSINESSPARTNERID, CARRIERCODE, ORDERLISTNAME, ORDERSTATUS, "
                "ORDERDATE, ORDERTYPE, HEADERTEXT, SALESORDERNR, QUOTATIONID, DISCOUNTPERC, "
                "CUSTOMERPONR, ACKNOWLEDGEMENTURL, KROID, FREIGHTTOTAL, WEBPAYMENTMETHOD, FREIGHTTAX, "
                "CALCULATETAX, CURRENCYDECIMALS, CUSTOMERCODE, CUSTOMERNAME, FREIGHTTAXCODE, "
                "FREIGHTTAXCODEDESCRIPTION, FREIGHTTAXPERC, SUBTOTAL, TAXTOTAL, TOTAL, "
                "TOTALNETAMOUNT, DISCOUNTTOTAL, CURRENCYSYMBOL) VALUES ($1, 'EUR', 'anna', 10012, "
                "10011, 1001, 'DHL', 'Bench order', 0, '2026-03-02T10:00:00', 'SO', "
                "'Deliver before noon', '', NULL, 5, NULL, NULL, 2, NULL, 1, NULL, 0, 2, 'C1001', "
                "'Hallvard Industrial', NULL, NULL, NULL, 600, NULL, 570, NULL, NULL, 'EUR')");
  sales.Prepare("line",
                "INSERT INTO ORDERLINE (ORDERID, LINENR, PRODUCTID, UNITCODE, ADDRESSID, QUANTITY, "
                "PRICE, DISCOUNTPERC, DISCOUNTAMOUNT, AMOUNT, CONFIGID, CONFIGCOMPLETE, LINETEXT, "
                "REQUESTDATE, ALLOCATIONDATE, LINETAX, LINEFREIGHT, TAXCODE, TAXPERCENTAGE, "
                "TAXCODEDESCRIPTION, LINEFREIGHTTAX, LINESTATUS, ORDERDISCOUNT, PARTNUMBER) VALUES "
                "($1, $2, $3, 'BOX', 10012, 2, 12.5, 0, 0.5, 24, NULL, 0, $4, '2026-04-01T00:00:00', "
                "NULL, 5.04, 0, '01', 21, NULL, 0, 0, 1.25, $5)");
  sales.Prepare("lines_gone", "DELETE FROM BASKETLINE WHERE BASKETID = $1");
  sales.Prepare("basket_gone", "DELETE FROM BASKETHEADER WHERE BASKETID = $1");
  sales.Prepare("message_type", "SELECT EXPORTMESSAGETYPE FROM ORDEREXPORTFILE WHERE KROID = $1");
  for (auto _ : state) {
    const std::string id = NextBasketId();
    StoreBasket(id, lines);
    const auto start = Clock::now();

    sales.Run("begin", {});
    for (const char* address : {"10011", "10012"}) {
      if (PQntuples(sales.Run("copied", {id.c_str(), address})) > 0) continue;
      PGresult* a = kelmor.Run("address", {address});
      std::vector<std::string> values;
      for (int c = 0; c < 13; ++c) values.emplace_back(PQgetvalue(a, 0, c));
      const std::string code = PQgetvalue(kelmor.Run("code", {address}), 0, 0);
      std::vector<const char*> row{id.c_str(), address};
      for (const std::string& v : values) row.push_back(v.c_str());
      row.push_back(code.c_str());
      sales.Run("copy", row);
    }
    sales.Run("header", {id.c_str()});
    for (int i = 1; i <= lines; ++i) {
      const std::string nr = std::to_string(i), sku = std::to_string(i % 20 + 1), text = "Line " + nr,
                        part = "P-" + nr;
      sales.Run("line", {id.c_str(), nr.c_str(), sku.c_str(), text.c_str(), part.c_str()});
    }
    sales.Run("lines_gone", {id.c_str()});
    sales.Run("basket_gone", {id.c_str()});
    sales.Run("commit", {});
    benchmark::DoNotOptimize(PQgetvalue(sales.Run("message_type", {"2"}), 0, 0));

    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  PQclear(sales.last);
  PQclear(kelmor.last);
}

BENCHMARK(SubmitBasket_Postgres)->Arg(20)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(SubmitBasket_Libpq)->Arg(20)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  const char* url = std::getenv("VENDRA_PG_URL");
  if (!url || !*url) {
    std::printf("postgres_submit_bench: VENDRA_PG_URL is not set, nothing to measure "
                "(scripts/pg-server.sh start prints one)\n");
    return 0;
  }
  // The demo instance the runs share is made on that server.
  setenv("VENDRA_TEST_PG_URL", url, 1);
  return vendra_bench::RunOnDemoInstance(
      argc, argv,
      [](const std::filesystem::path& home) {
        const auto listed = platform::data::ReadInstanceDatabases(home / "platform.xml");
        g_vendra_cs = listed.at("Vendra");
        g_kelmor_cs = listed.at("Kelmor");
      },
      [](const vendra_bench::RatioReporter& r) {
        std::printf("\n");
        r.Ratio(46, "SubmitBasket 20 lines / libpq prepared floor", "SubmitBasket_Postgres/20/manual_time",
                "SubmitBasket_Libpq/20/manual_time", "at most 2x");
      });
}
