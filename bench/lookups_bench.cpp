// The invoice document of a sales order of 200 lines on instance 1 (tw5):
// Ferrolink.Lookups.GetXML "INV" called late-bound with the instance's
// message manager, the simulated ERP's connector included (it reads the
// order, its lines, the invoice and its lines from its catalog), against a
// floor that appends the same document's bytes to a string piece by piece
// (one append per tag and value), in the same run. A third measure times
// the connector's showsalesorderinvoice alone, so the summary can say how
// much of the document's cost is the ERP's reading and how much the
// rendering. Goal: at most 3x the floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apps/instance/instance_setup.h"
#include "platform/core/clock.h"
#include "platform/core/date.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/erp/components.h"
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

std::string Invoice(const platform::ObjectPtr& lookups, const platform::ObjectPtr& messages) {
  std::vector<Variant> args{Variant("1"), Variant(kOrder), Variant("INV"), Variant(messages),
                            Variant("1033"), Variant()};
  return platform::CallRef(lookups, "GetXML", args).ToString();
}

void BM_InvoiceDocument(benchmark::State& state) {
  const platform::ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const platform::ObjectPtr messages = std::make_shared<platform::I18NMessageManager>();
  size_t bytes = Invoice(lookups, messages).size();
  for (auto _ : state) benchmark::DoNotOptimize(Invoice(lookups, messages));
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_InvoiceDocument)->Unit(benchmark::kMillisecond);

void BM_InvoiceConnectorOnly(benchmark::State& state) {
  platform::erp::ShowSalesOrderComponent<platform::erp::ConnectorType::Tw5> component;
  component.Initialize("ROT-SLS-01");
  for (auto _ : state) benchmark::DoNotOptimize(component.Invoice(kOrder));
}
BENCHMARK(BM_InvoiceConnectorOnly)->Unit(benchmark::kMillisecond);

// The same bytes, one append per tag or value.
void BM_InvoiceAppendFloor(benchmark::State& state) {
  const platform::ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const std::string doc = Invoice(lookups, std::make_shared<platform::I18NMessageManager>());
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t i = 1; i <= doc.size(); ++i) {
    if (i == doc.size() || doc[i] == '<' || doc[i - 1] == '>') {
      pieces.push_back(doc.substr(start, i - start));
      start = i;
    }
  }
  for (auto _ : state) {
    std::string out;
    for (const std::string& p : pieces) out.append(p);
    benchmark::DoNotOptimize(out);
  }
  state.counters["pieces"] = static_cast<double>(pieces.size());
}
BENCHMARK(BM_InvoiceAppendFloor)->Unit(benchmark::kMillisecond);

// The document against its floor, and how much of it is the ERP's reading.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  const double* doc = r.Time("BM_InvoiceDocument");
  const double* erp = r.Time("BM_InvoiceConnectorOnly");
  const double* floor = r.Time("BM_InvoiceAppendFloor");
  if (!doc || !erp || !floor || *floor <= 0) return;
  std::printf("\n%-52s %8.2fx   (goal: at most 3x)\n", "invoice of 200 lines / string append",
              *doc / *floor);
  std::printf("%-52s %8.2fx\n", "  of which the ERP's connector / string append", *erp / *floor);
  std::printf("%-52s %8.2fx\n", "  rendering (document - connector) / string append",
              (*doc - *erp) / *floor);
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv, [](const std::filesystem::path&) { MakeOrder(); }, PrintRatios);
}
