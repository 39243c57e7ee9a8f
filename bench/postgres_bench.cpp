// The PostgreSQL driver against libpq directly, in the same run, on the
// server VENDRA_PG_URL names (scripts/pg-server.sh start prints one; without
// it the program says so and ends):
//
//   write_20_lines   one transaction writing 20 basket lines with bound
//                    values through Connection.Execute (the shape of a
//                    submitted basket's writes); the floor runs BEGIN, one
//                    prepared INSERT 20 times and COMMIT through libpq
//   read_one_row     open a pooled connection, read one row, close; the
//                    floor keeps one connection and one prepared SELECT
//
// Goal: at most 2x for both. The summary prints the ratios.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "platform/data/connection.h"
#include "platform/data/postgres/pg_driver.h"
#include "platform/data/recordset.h"

using namespace platform;
using namespace platform::data;

namespace {

std::string g_url, g_cs, g_db;
PGconn* g_raw = nullptr;
int g_next_id = 0;

void Die(const std::string& what) {
  std::fprintf(stderr, "postgres_bench: %s\n", what.c_str());
  std::exit(1);
}

void RawExec(const char* sql) {
  PGresult* r = PQexec(g_raw, sql);
  if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK) Die(PQerrorMessage(g_raw));
  PQclear(r);
}

void Setup() {
  g_db = "vendra_bench_" + std::to_string(std::rand());
  g_cs = postgres::ConnectionStringFromUrl(g_url, g_db);
  CreateDatabaseFile(g_cs);
  Connection c;
  c.Open(g_cs);
  ExecuteScript(c, R"(
    CREATE TABLE BASKETLINE (BASKETID NVARCHAR(32) NOT NULL, BASKETLINENR INT NOT NULL, SKU INT,
                             QUANTITY FLOAT, PRICE MONEY, REQUESTDATE DATETIME, CONFIGURABLE BIT NOT NULL DEFAULT 0,
                             PRIMARY KEY (BASKETID, BASKETLINENR));
    INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU) VALUES ('read', 1, 42);
  )");
  // The floor's connection, from the same connection string.
  const std::string conninfo = [&] {
    std::string rest = g_url.substr(g_url.find("://") + 3);
    const size_t slash = rest.find('/');
    return "postgresql://" + rest.substr(0, slash) + "/" + g_db;
  }();
  g_raw = PQconnectdb(conninfo.c_str());
  if (PQstatus(g_raw) != CONNECTION_OK) Die(PQerrorMessage(g_raw));
  PGresult* r = PQprepare(g_raw, "ins",
                          "INSERT INTO basketline (basketid, basketlinenr, sku, quantity, price, requestdate, "
                          "configurable) VALUES ($1, $2, $3, $4, $5, $6, $7)",
                          7, nullptr);
  PQclear(r);
  r = PQprepare(g_raw, "sel", "SELECT * FROM basketline WHERE basketid = $1", 1, nullptr);
  PQclear(r);
}

void Write20Lines_Vendra(benchmark::State& state) {
  auto c = std::make_shared<Connection>();
  c->Open(g_cs);
  for (auto _ : state) {
    const std::string basket = "v" + std::to_string(++g_next_id);
    c->BeginTrans();
    for (int i = 1; i <= 20; ++i) {
      c->Execute("INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, PRICE, REQUESTDATE, CONFIGURABLE) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?)",
                 {Variant(basket), Variant(i), Variant(1000 + i), Variant(2.0), Variant(Currency::Parse("9.95")),
                  Variant(Date::FromParts(2026, 12, 8)), Variant(false)});
    }
    c->CommitTrans();
  }
}

void Write20Lines_Libpq(benchmark::State& state) {
  for (auto _ : state) {
    const std::string basket = "p" + std::to_string(++g_next_id);
    RawExec("BEGIN");
    for (int i = 1; i <= 20; ++i) {
      const std::string nr = std::to_string(i), sku = std::to_string(1000 + i);
      const char* values[7] = {basket.c_str(), nr.c_str(), sku.c_str(), "2", "9.9500", "2026-12-08T00:00:00", "0"};
      PGresult* r = PQexecPrepared(g_raw, "ins", 7, values, nullptr, nullptr, 0);
      if (PQresultStatus(r) != PGRES_COMMAND_OK) Die(PQerrorMessage(g_raw));
      PQclear(r);
    }
    RawExec("COMMIT");
  }
}

void ReadOneRow_Vendra(benchmark::State& state) {
  for (auto _ : state) {
    auto c = std::make_shared<Connection>();
    c->Open(g_cs);
    auto rs = c->Execute("SELECT * FROM BASKETLINE WHERE BASKETID = ?", {Variant("read")});
    benchmark::DoNotOptimize(rs->fields()[2].Value());
    c->Close();
  }
}

void ReadOneRow_Libpq(benchmark::State& state) {
  for (auto _ : state) {
    const char* values[1] = {"read"};
    PGresult* r = PQexecPrepared(g_raw, "sel", 1, values, nullptr, nullptr, 0);
    benchmark::DoNotOptimize(PQgetvalue(r, 0, 2));
    PQclear(r);
  }
}

BENCHMARK(Write20Lines_Vendra)->Unit(benchmark::kMillisecond);
BENCHMARK(Write20Lines_Libpq)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadOneRow_Vendra)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadOneRow_Libpq)->Unit(benchmark::kMicrosecond);

// Prints each case's ratio to its floor after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-22s %7s   %s\n", "case", "ratio", "goal");
    for (const char* name : {"Write20Lines", "ReadOneRow"}) {
      const double a = times_[std::string(name) + "_Vendra"], b = times_[std::string(name) + "_Libpq"];
      if (b > 0) std::printf("%-22s %6.2fx   at most 2x\n", name, a / b);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  const char* url = std::getenv("VENDRA_PG_URL");
  if (!url || !*url) {
    std::printf("postgres_bench: VENDRA_PG_URL is not set, nothing to measure "
                "(scripts/pg-server.sh start prints one)\n");
    return 0;
  }
  g_url = url;
  benchmark::Initialize(&argc, argv);
  Setup();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PQfinish(g_raw);
  ReleasePooledSessions();
  Connection c;
  c.Open(postgres::ConnectionStringFromUrl(g_url, "postgres"));
  c.Execute("DROP DATABASE IF EXISTS " + g_db + " WITH (FORCE)");
  return 0;
}
