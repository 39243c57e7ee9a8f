// The invoice document of a sales order of 200 lines on instance 1 (tw5):
// Ferrolink.Lookups.GetXML "INV" called late-bound with the instance's
// message manager, the simulated ERP's connector included (it reads the
// order, its lines, the invoice and its lines from its catalog), against a
// floor that appends the same document's bytes to a string piece by piece
// (one append per tag and value), in the same run. A third measure times
// the connector's showsalesorderinvoice alone, so the summary can say how
// much of the document's cost is the ERP's reading and how much the
// rendering. Goal: at most 3x the floor.
//
// The connector keeps a document it built until the ERP's catalog changes
// (CatalogCache), so a page showing the invoice again reads nothing from the
// catalog. Both figures are printed: "warm", the document asked again and
// again as the loop does (the goal's figure), and "cold", the first showing
// after the cache was emptied (the ERP reads the order, its lines and the
// invoice and builds its records, as after a shipment or invoice). Beside
// the real-time ratios the summary prints the same ratios in CPU time of
// the thread, as the machine is shared.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "apps/instance/instance_setup.h"
#include "platform/core/clock.h"
#include "platform/core/date.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/erp/components.h"
#include "platform/erp/catalog_cache.h"
#include "platform/erp/documents.h"
#include "platform/host/registry.h"
#include "platform/services/message_manager.h"
#include "bench/support/bench_support.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;

constexpr char kOrder[] = "1900200";
constexpr int kLines = 200;

void MakeOrder() {
  auto db = platform::erp::OpenErpDatabase();
  db->Execute(
      "INSERT INTO SALESORDER (SALESORDERNR, KROID, CUSTOMERCODE, CREATED, DATA) VALUES (?, 1, "
      "'C1001', ?, ?)",
      {Variant(kOrder), Variant(platform::Clock::Now()),
       Variant(R"({"SoldToBusinessPartner":"C1001","OrderCurrency":"EUR","ReferenceA":"Bench & co",)"
               R"("CustomerOrderNumber":"PO-200","Carrier":"DHL","HeaderText":["Deliver to gate 4"]})")});
  const char* parts[] = {"FA-M8X30", "FA-NUT-M8", "HY-PMP-200", "SV-INSTALL", "TB-HOSE-12"};
  for (int i = 0; i < kLines; ++i) {
    const std::string part = parts[i % 5];
    const std::string data = R"({"Item":"         )" + part +
                             R"(","OrderedQuantity":3,"SalesUnit":"PCS","Price":12.5,)"
                             R"("LineDiscount":{"Disc_1":5},"OrderLineText":["Line )" +
                             std::to_string(i + 1) + R"("]})";
    db->Execute(
        "INSERT INTO SALESORDERLINE (SALESORDERNR, POSITION, PARTNUMBER, QUANTITY, DATA) VALUES "
        "(?, ?, ?, 3, ?)",
        {Variant(kOrder), Variant((i + 1) * 10), Variant(part), Variant(data)});
  }
  platform::erp::ShipSalesOrder(1, kOrder, {});
  platform::erp::InvoiceSalesOrder(1, kOrder);
}

// The document as the late-bound caller receives it.
Variant Invoice(const platform::ObjectPtr& lookups, const platform::ObjectPtr& messages) {
  std::vector<Variant> args{Variant("1"), Variant(kOrder), Variant("INV"), Variant(messages),
                            Variant("1033"), Variant()};
  return platform::CallRef(lookups, "GetXML", args);
}

double ThreadCpuMicros() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Keeps the loop's CPU time per iteration in the counter "cpu_us".
struct CpuClock {
  explicit CpuClock(benchmark::State& s) : state(s), start(ThreadCpuMicros()) {}
  ~CpuClock() {
    if (state.iterations() > 0)
      state.counters["cpu_us"] = (ThreadCpuMicros() - start) / static_cast<double>(state.iterations());
  }
  benchmark::State& state;
  double start;
};

void BM_InvoiceDocument(benchmark::State& state) {
  const platform::ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const platform::ObjectPtr messages = std::make_shared<platform::I18NMessageManager>();
  size_t bytes = Invoice(lookups, messages).ToString().size();
  {
    CpuClock cpu(state);
    for (auto _ : state) benchmark::DoNotOptimize(Invoice(lookups, messages));
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_InvoiceDocument)->Unit(benchmark::kMillisecond);

// The first showing: the connector's kept documents and instances dropped
// before each (Forget itself costs next to nothing).
void BM_InvoiceDocumentCold(benchmark::State& state) {
  const platform::ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const platform::ObjectPtr messages = std::make_shared<platform::I18NMessageManager>();
  CpuClock cpu(state);
  for (auto _ : state) {
    platform::erp::CatalogCache::Instance().Forget();
    benchmark::DoNotOptimize(Invoice(lookups, messages));
  }
}
BENCHMARK(BM_InvoiceDocumentCold)->Unit(benchmark::kMillisecond);

void BM_InvoiceConnectorOnly(benchmark::State& state) {
  platform::erp::ShowSalesOrderComponent<platform::erp::ConnectorType::Tw5> component;
  component.Initialize("ROT-SLS-01");
  CpuClock cpu(state);
  for (auto _ : state) benchmark::DoNotOptimize(component.Invoice(kOrder));
}
BENCHMARK(BM_InvoiceConnectorOnly)->Unit(benchmark::kMillisecond);

void BM_InvoiceConnectorOnlyCold(benchmark::State& state) {
  platform::erp::ShowSalesOrderComponent<platform::erp::ConnectorType::Tw5> component;
  component.Initialize("ROT-SLS-01");
  CpuClock cpu(state);
  for (auto _ : state) {
    platform::erp::CatalogCache::Instance().Forget();
    benchmark::DoNotOptimize(component.Invoice(kOrder));
  }
}
BENCHMARK(BM_InvoiceConnectorOnlyCold)->Unit(benchmark::kMillisecond);

// The same bytes, one append per tag or value.
void BM_InvoiceAppendFloor(benchmark::State& state) {
  const platform::ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const std::string doc =
      Invoice(lookups, std::make_shared<platform::I18NMessageManager>()).ToString();
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t i = 1; i <= doc.size(); ++i) {
    if (i == doc.size() || doc[i] == '<' || doc[i - 1] == '>') {
      pieces.push_back(doc.substr(start, i - start));
      start = i;
    }
  }
  {
    CpuClock cpu(state);
    for (auto _ : state) {
      std::string out;
      for (const std::string& p : pieces) out.append(p);
      benchmark::DoNotOptimize(out);
    }
  }
  state.counters["pieces"] = static_cast<double>(pieces.size());
}
BENCHMARK(BM_InvoiceAppendFloor)->Unit(benchmark::kMillisecond);

// The document against its floor, warm and cold, and how much of it is the
// ERP's reading; in real time and in the thread's CPU time.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  const double* floor = r.Time("BM_InvoiceAppendFloor");
  const double* floor_cpu = r.Counter("BM_InvoiceAppendFloor", "cpu_us");
  if (!floor || *floor <= 0) return;
  auto line = [&](const char* label, const char* run, const char* goal) {
    const double* t = r.Time(run);
    if (!t) return;
    const double* cpu = r.Counter(run, "cpu_us");
    std::printf("%-50s %8.2fx real", label, *t / *floor);
    if (cpu && floor_cpu && *floor_cpu > 0) std::printf(" %8.2fx cpu", *cpu / *floor_cpu);
    std::printf("%s\n", goal);
  };
  std::printf("\n");
  line("invoice of 200 lines, warm / string append", "BM_InvoiceDocument", "   (goal: at most 3x)");
  line("  of which the ERP's connector (warm)", "BM_InvoiceConnectorOnly", "");
  line("invoice of 200 lines, cold / string append", "BM_InvoiceDocumentCold", "");
  line("  of which the ERP's connector (cold)", "BM_InvoiceConnectorOnlyCold", "");
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv, [](const std::filesystem::path&) { MakeOrder(); }, PrintRatios);
}
