// What the text rules cost the writes of the sales database: the same writes
// on a demo instance's Vendra.db into a table with the generated
// <TABLE>_TEXTRULES_* triggers ("rules") and into a copy of it without them
// ("bare"), interleaved in one loop; the counters give both times (the
// writing thread's CPU time) and the ratio rules / bare.
//
//   Save100Lines       100 new BASKETLINE rows by UpdateBatch in one
//                      transaction (what Basket.Save does with a long basket)
//   HeaderInsert       one BASKETHEADER row (15 text columns) by concatenated
//                      INSERT text, the way the order submission writes (each
//                      such statement is compiled anew, its triggers with it)
//   HeaderInsertBound  the same row with bound values (compiled once)
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <regex>
#include <memory>
#include <string>

#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "tests/support/test_instance.h"

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

namespace {

// The time of the timed work is this thread's CPU time: the machine may be
// shared, and what the rules cost is work, not waiting.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

constexpr char kSales[] = "Provider=SQLite;Data Source=data;Initial Catalog=Vendra";
int g_next_id = 0;

std::shared_ptr<Connection> Open() {
  auto c = std::make_shared<Connection>();
  c->Open(kSales);
  return c;
}

// A copy of each table under another name, with its normalising triggers but
// without text rules: the floor the same writes run against.
void CreateBareCopies() {
  auto c = Open();
  for (const auto& [table, copy] : {std::pair<std::string, std::string>{"BASKETLINE", "BARELINE"},
                                    {"BASKETHEADER", "BAREHEADER"}}) {
    auto rs = c->Execute("SELECT name, sql FROM sqlite_master WHERE tbl_name = '" + table + "'");
    std::string script;
    for (; !rs->Eof(); rs->MoveNext()) {
      if (rs->Value("name").ToString().find("_TEXTRULES_") != std::string::npos) continue;
      if (rs->Value("sql").IsNull()) continue;  // the primary key's own index
      script += std::regex_replace(rs->Value("sql").ToString(), std::regex("\\b" + table + "(?=\\b|_)"),
                                   copy) + ";\n";
    }
    platform::data::ExecuteScript(*c, script);
  }
}

std::shared_ptr<Recordset> NewLines(const std::shared_ptr<Connection>& c, const char* table,
                                    const std::string& id) {
  auto rs = std::make_shared<Recordset>();
  rs->Open(std::string("SELECT * FROM ") + table + " WHERE 1 = 0", c, platform::data::adOpenStatic,
           platform::data::adLockBatchOptimistic);
  for (int32_t nr = 1; nr <= 100; ++nr) {
    rs->AddNew({{"BASKETID", Variant(id)}, {"BASKETLINENR", Variant(nr)},
                {"SKU", Variant(int32_t{nr % 20 + 1})}, {"QUANTITY", Variant(2.0)},
                {"LINETEXT", Variant("Line text of a basket line")},
                {"PRODUCTUNITCODE", Variant("BOX")}, {"TAXCODE", Variant("01")},
                {"PARTNUMBER", Variant("P-" + std::to_string(nr))}});
  }
  rs->Update();
  return rs;
}

double SaveLines(const std::shared_ptr<Connection>& c, const char* table) {
  const std::string id = "BENCH" + std::to_string(++g_next_id);
  auto rs = NewLines(c, table, id);
  const double start = ThreadSeconds();
  {
    platform::data::Transaction tx(*c);
    rs->UpdateBatch();
    tx.Commit();
  }
  const double spent = ThreadSeconds() - start;
  c->Execute(std::string("DELETE FROM ") + table + " WHERE BASKETID = '" + id + "'");
  return spent;
}

double InsertHeader(const std::shared_ptr<Connection>& c, const char* table) {
  const std::string id = "BENCH" + std::to_string(++g_next_id);
  const double start = ThreadSeconds();
  c->Execute(std::string("INSERT INTO ") + table +
             " (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
             "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, ORDERTYPE, "
             "DISCOUNTPERC, CUSTOMERPONUMBER, KROID, CUSTOMERCODE, CUSTOMERNAME, CURRENCYSYMBOL) "
             "VALUES ('" + id + "', 'Bench order', '2026-03-02T10:00:00', 'anna', 1001, 10011, 10012, "
             "'Deliver before noon', 'EUR', 'DHL', 'SO', 5, 'PO-4711', 2, 'C1001', "
             "'Hallvard Industrial', 'EUR')");
  const double spent = ThreadSeconds() - start;
  c->Execute(std::string("DELETE FROM ") + table + " WHERE BASKETID = '" + id + "'");
  return spent;
}

// The same row with its values bound: the statement is prepared once and
// kept, so the trigger program is compiled once too.
double InsertHeaderBound(const std::shared_ptr<Connection>& c, const char* table) {
  const std::string id = "BENCH" + std::to_string(++g_next_id);
  const double start = ThreadSeconds();
  c->Execute(std::string("INSERT INTO ") + table +
                 " (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
                 "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, "
                 "ORDERTYPE, DISCOUNTPERC, CUSTOMERPONUMBER, KROID, CUSTOMERCODE, CUSTOMERNAME, "
                 "CURRENCYSYMBOL) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
             {Variant(id), Variant("Bench order"), Variant("2026-03-02T10:00:00"), Variant("anna"),
              Variant(int32_t{1001}), Variant(int32_t{10011}), Variant(int32_t{10012}),
              Variant("Deliver before noon"), Variant("EUR"), Variant("DHL"), Variant("SO"),
              Variant(5.0), Variant("PO-4711"), Variant(int32_t{2}), Variant("C1001"),
              Variant("Hallvard Industrial"), Variant("EUR")});
  const double spent = ThreadSeconds() - start;
  c->Execute(std::string("DELETE FROM ") + table + " WHERE BASKETID = ?", {Variant(id)});
  return spent;
}

// Each iteration writes to both tables, alternating which goes first, so a
// machine whose load drifts slows both sides alike. The iteration time is
// the rules side; the counters give both and their ratio.
template <class Write>
void Interleaved(benchmark::State& state, const char* rules, const char* bare, Write write) {
  auto c = Open();
  double with = 0, without = 0;
  int64_t n = 0;
  for (auto _ : state) {
    double a, b;
    if (n % 2 == 0) {
      a = write(c, rules);
      b = write(c, bare);
    } else {
      b = write(c, bare);
      a = write(c, rules);
    }
    with += a;
    without += b;
    ++n;
    state.SetIterationTime(a);
  }
  state.counters["rules_us"] = with / static_cast<double>(n) * 1e6;
  state.counters["bare_us"] = without / static_cast<double>(n) * 1e6;
  state.counters["ratio"] = with / without;
}

void Save100Lines(benchmark::State& state) {
  Interleaved(state, "BASKETLINE", "BARELINE", SaveLines);
}
void HeaderInsert(benchmark::State& state) {
  Interleaved(state, "BASKETHEADER", "BAREHEADER", InsertHeader);
}

void HeaderInsertBound(benchmark::State& state) {
  Interleaved(state, "BASKETHEADER", "BAREHEADER", InsertHeaderBound);
}

BENCHMARK(Save100Lines)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(HeaderInsertBound)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(HeaderInsert)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vendra_test::TestInstance instance;
  CreateBareCopies();
  benchmark::RunSpecifiedBenchmarks();
  platform::data::ReleasePooledSessions();
  return 0;
}
