// Freight cost and parameter-table maintenance against floors in the same
// run, on one demo instance:
//
// - FreightCost.GetFreightCost for the 100 lines of a basket (products 1 to
//   18 in turn, DHL into zone 6, one to five items). Each call finds the
//   product's freight group and then the price row, on a connection of its
//   own. The floor runs the same two lookups through two prepared sqlite3
//   statements on one handle, each reset once its row is read so that every
//   lookup is a read of its own, as each call of the system is (a statement
//   left open would hold one read transaction across the whole run)
//   (goal: at most 3x).
// - Manager.Update of one CUSTOMERSETTING row (the schema lookup, the checks
//   and rendering of the values, the statement). The floor runs the very
//   statement text Update writes through sqlite3_exec on a raw handle
//   (goal: at most 2x).
//
// The summary prints each ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/support/bench_support.h"
#include "platform/core/variant.h"
#include "sales/admin/freight_cost.h"
#include "sales/admin/manager.h"

namespace {

using platform::Variant;
using platform::VariantArray;
using vendra_bench::Check;

constexpr int kLines = 100;

std::string g_vendra_file;

int Product(int line) { return 1 + line % 18; }
double Quantity(int line) { return 1 + line % 5; }

void BM_GetFreightCost(benchmark::State& state) {
  vendra::FreightCost freight;
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kLines; ++i) {
      Variant product(Product(i)), carrier("DHL"), zone(6), number(Quantity(i));
      sum += freight.GetFreightCost(product, carrier, zone, number);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_GetFreightCost)->Unit(benchmark::kMicrosecond);

void BM_GetFreightCost_PreparedFloor(benchmark::State& state) {
  vendra_bench::RawDb raw(g_vendra_file);
  sqlite3_stmt* group = nullptr;
  sqlite3_stmt* price = nullptr;
  Check(sqlite3_prepare_v2(raw.db,
                           "SELECT g.SHIPFROMZONE, p.FREIGHTGROUPID, p.ADDITIONALCOST "
                           "FROM FREIGHTGROUP g JOIN FREIGHTPRODUCT p ON g.FREIGHTGROUPID = "
                           "p.FREIGHTGROUPID WHERE p.PRODUCTID = ?",
                           -1, &group, nullptr),
        raw.db);
  Check(sqlite3_prepare_v2(raw.db,
                           "SELECT DELIVERYFREIGHTCOST, ITEMFREIGHTCOST FROM FREIGHTPRICE WHERE "
                           "FREIGHTGROUPID = ? AND CARRIER = ? AND SHIPFROMZONEID = ? AND "
                           "SHIPTOZONEID = ?",
                           -1, &price, nullptr),
        raw.db);
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kLines; ++i) {
      sqlite3_reset(group);
      sqlite3_bind_int(group, 1, Product(i));
      if (sqlite3_step(group) != SQLITE_ROW) std::abort();
      const int from = sqlite3_column_int(group, 0);
      const int group_id = sqlite3_column_int(group, 1);
      const double additional = sqlite3_column_double(group, 2);
      sqlite3_reset(group);  // each lookup reads on its own, as a page's call does
      sqlite3_reset(price);
      sqlite3_bind_int(price, 1, group_id);
      sqlite3_bind_text(price, 2, "DHL", -1, SQLITE_STATIC);
      sqlite3_bind_int(price, 3, from);
      sqlite3_bind_int(price, 4, 6);
      if (sqlite3_step(price) != SQLITE_ROW) std::abort();
      sum += sqlite3_column_double(price, 0) + sqlite3_column_double(price, 1) * Quantity(i) +
             additional;
      sqlite3_reset(price);
    }
  }
  benchmark::DoNotOptimize(sum);
  sqlite3_finalize(group);
  sqlite3_finalize(price);
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_GetFreightCost_PreparedFloor)->Unit(benchmark::kMicrosecond);

void BM_ManagerUpdate(benchmark::State& state) {
  vendra::Manager manager;
  const Variant fields(VariantArray{Variant("EXPIRATIONPERIOD"), Variant("ORDERTYPE")});
  const Variant keys(VariantArray{Variant("BUSINESSPARTNERID")});
  const Variant key_values(VariantArray{Variant("1001")});
  int n = 0;
  for (auto _ : state) {
    const Variant values(VariantArray{Variant(std::to_string(30 + n++ % 2)), Variant("SO")});
    manager.Update("CUSTOMERSETTING", fields, values, keys, key_values);
  }
}
BENCHMARK(BM_ManagerUpdate)->Unit(benchmark::kMicrosecond);

void BM_ManagerUpdate_DirectFloor(benchmark::State& state) {
  vendra_bench::RawDb raw(g_vendra_file);
  int n = 0;
  for (auto _ : state) {
    const std::string sql = "UPDATE CUSTOMERSETTING SET EXPIRATIONPERIOD=" +
                            std::to_string(30 + n++ % 2) +
                            ",ORDERTYPE='SO' WHERE BUSINESSPARTNERID=1001 ";
    Check(sqlite3_exec(raw.db, sql.c_str(), nullptr, nullptr, nullptr), raw.db);
    if (sqlite3_changes(raw.db) != 1) std::abort();
  }
}
BENCHMARK(BM_ManagerUpdate_DirectFloor)->Unit(benchmark::kMicrosecond);

void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  r.Ratio(46, "GetFreightCost x100 / two prepared lookups", "BM_GetFreightCost",
          "BM_GetFreightCost_PreparedFloor", "at most 3x");
  r.Ratio(46, "Manager.Update / the statement run directly", "BM_ManagerUpdate",
          "BM_ManagerUpdate_DirectFloor", "at most 2x");
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv,
      [](const std::filesystem::path& home) {
        g_vendra_file = (home / "data" / "Vendra.db").string();
      },
      PrintRatios);
}
