// The order document and the web price against floors in the same run, on
// one demo instance:
//
// - Basket.ConvertToXML of a 100-line basket of anna's (every BASKETHEADER
//   and BASKETLINE column filled as the pages fill them, payment by card so
//   the tax breakdown is built, captions from the I18NMessageManager). Its
//   throughput is reported in bytes of document per second (goal: at least
//   50 MB/s). The floor appends the same document to an empty std::string in
//   the same pieces the conversion writes (every tag and every text), with
//   nothing to look up or format (goal: at most 3x).
// - Pricing.GetWebPrice of 1,000 products for Corvetto (1002) in US dollars,
//   so each euro list price is converted. The floor runs the GetPrice query
//   through one prepared sqlite3 statement per product, with the exchange
//   rate of the day read through a second prepared statement and applied
//   (goal: at most 3x).
//
// The summary prints each ratio; setup (the basket, the 1,000 price rows) is
// not timed.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "sales/basket/basket.h"
#include "sales/pricing/pricing.h"
#include "shared/components.h"
#include "bench/support/bench_support.h"

namespace {

using platform::Variant;
using platform::data::Recordset;
using vendra_bench::Check;

constexpr int kLines = 100;
constexpr int kProducts = 1000;
constexpr int kFirstProduct = 5001;

std::string g_vendra_file;
std::string g_kelmor_file;

// --- ConvertToXML -----------------------------------------------------------------

struct XmlFixture {
  std::shared_ptr<platform::Dictionary> document;
  platform::ObjectPtr messages;
  std::vector<std::string> pieces;  // the document cut before every "<"
  size_t bytes = 0;
};

XmlFixture& Xml() {
  static XmlFixture f = [] {
    XmlFixture x;
    vendra::Basket basket;
    x.document = basket.Create("anna", 1001);
    for (int i = 0; i < kLines; ++i) {
      Variant doc(x.document);
      basket.AddLine(doc, 1 + i % 20, 1 + i % 7, platform::Clock::Today().AddDays(10), false, "");
    }
    auto header = x.document->Item("header").As<Recordset>();
    auto lines = x.document->Item("lines").As<Recordset>();
    double net = 0;
    for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
      const int nr = lines->Value("BASKETLINENR").ToLong();
      const double amount = 10.0 * nr + 0.25;
      const bool reduced = nr % 3 == 0;
      lines->SetValue("LINETEXT", Variant("Deliver with the order, line " + std::to_string(nr)));
      lines->SetValue("PRODUCTUNITCODE", Variant("PCS"));
      lines->SetValue("PRODUCTPRICE", Variant(amount / 2));
      lines->SetValue("DISCOUNTPERC", Variant(0.0));
      lines->SetValue("DISCOUNTAMOUNT", Variant(0.0));
      lines->SetValue("LINEDISCOUNTAMOUNT", Variant(0.0));
      lines->SetValue("ORDERDISCOUNTAMOUNT", Variant(0.0));
      lines->SetValue("LINEAMOUNT", Variant(amount));
      lines->SetValue("FREIGHTAMOUNT", Variant(0.5));
      lines->SetValue("FREIGHTTAXAMOUNT", Variant(0.11));
      lines->SetValue("TAXCODE", Variant(reduced ? "02" : "01"));
      lines->SetValue("TAXPERCENTAGE", Variant(reduced ? 9.0 : 21.0));
      lines->SetValue("TAXCODEDESCRIPTION", Variant(reduced ? "Reduced" : "Standard"));
      lines->SetValue("TAXAMOUNT", Variant(amount * (reduced ? 0.09 : 0.21)));
      lines->SetValue("PARTNUMBER", Variant("PN-" + std::to_string(nr)));
      lines->SetValue("PARTDESCRIPTION", Variant("Part & piece <" + std::to_string(nr) + ">"));
      net += amount;
    }
    header->SetValue("PAYMENTMETHOD", Variant(int16_t{2}));
    header->SetValue("USERLOCALE", Variant(1033));
    header->SetValue("FREIGHTTOTAL", Variant(50.0));
    header->SetValue("FREIGHTTAXTOTAL", Variant(10.5));
    header->SetValue("FREIGHTTAXPERC", Variant(21.0));
    header->SetValue("TOTALNETAMOUNT", Variant(net));
    header->SetValue("SUBTOTAL", Variant(net));
    header->SetValue("TAXTOTAL", Variant(net * 0.17));
    header->SetValue("TOTAL", Variant(net * 1.17 + 60.5));
    x.messages = platform::CreateObject("I18NMessageManager");
    const std::string xml = basket.ConvertToXML(Variant(x.document), x.messages, "1033");
    x.bytes = xml.size();
    size_t start = 0;
    for (size_t i = 1; i <= xml.size(); ++i) {
      if (i == xml.size() || xml[i] == '<' || xml[i - 1] == '>') {
        x.pieces.push_back(xml.substr(start, i - start));
        start = i;
      }
    }
    return x;
  }();
  return f;
}

void BM_ConvertToXML(benchmark::State& state) {
  XmlFixture& f = Xml();
  vendra::Basket basket;
  for (auto _ : state) {
    std::string xml = basket.ConvertToXML(Variant(f.document), f.messages, "1033");
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
  state.counters["pieces"] = static_cast<double>(f.pieces.size());
}
BENCHMARK(BM_ConvertToXML)->Unit(benchmark::kMicrosecond);

void BM_ConvertToXML_AppendFloor(benchmark::State& state) {
  XmlFixture& f = Xml();
  for (auto _ : state) {
    std::string xml;
    for (const std::string& piece : f.pieces) xml += piece;
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BM_ConvertToXML_AppendFloor)->Unit(benchmark::kMicrosecond);

// --- GetWebPrice ------------------------------------------------------------------

void AddPriceRows() {
  static bool done = false;
  if (done) return;
  done = true;
  auto db = std::make_shared<platform::data::Connection>();
  db->Open(lib_sales::Sls_ConnectionString());
  platform::data::Transaction tx(*db);
  for (int i = 0; i < kProducts; ++i) {
    db->Execute(
        "INSERT INTO PRODUCTPRICE (PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, EXPIRYDATE, PRICE, "
        "DISCOUNTPERC, DISCOUNTAMOUNT) VALUES (?, '2024-01-01T00:00:00', 'EUR', NULL, ?, 0, ?)",
        {Variant(kFirstProduct + i), Variant(10.0 + i * 0.37), Variant(0.5)});
  }
  tx.Commit();
  db->Close();
}

void BM_GetWebPrice(benchmark::State& state) {
  AddPriceRows();
  const platform::Date today = platform::Clock::Today();
  vendra::Pricing pricing;
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kProducts; ++i) {
      if (!pricing.GetWebPrice(kFirstProduct + i, 1002, today, "USD")) std::abort();
      sum += pricing.Price().ToDouble();
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kProducts);
}
BENCHMARK(BM_GetWebPrice)->Unit(benchmark::kMillisecond);

void BM_GetWebPrice_PreparedFloor(benchmark::State& state) {
  AddPriceRows();
  sqlite3* vendra = nullptr;
  sqlite3* kelmor = nullptr;
  Check(sqlite3_open_v2(g_vendra_file.c_str(), &vendra, SQLITE_OPEN_READONLY, nullptr), vendra);
  Check(sqlite3_open_v2(g_kelmor_file.c_str(), &kelmor, SQLITE_OPEN_READONLY, nullptr), kelmor);
  // The procedure's own text, in SQLite's dialect as the driver runs it.
  const std::string sql = platform::data::StoredProcedureSql("Vendra", "GetPrice");
  sqlite3_stmt* price = nullptr;
  Check(sqlite3_prepare_v2(vendra, sql.c_str(), -1, &price, nullptr), vendra);
  sqlite3_stmt* rate = nullptr;
  Check(sqlite3_prepare_v2(kelmor,
                           "SELECT RATE FROM EXCHANGERATE WHERE CURRENCYCODE = ? AND "
                           "EFFECTIVEDATE < ? ORDER BY EFFECTIVEDATE DESC LIMIT 1",
                           -1, &rate, nullptr),
        kelmor);
  const platform::Date today = platform::Clock::Today();
  const std::string day = today.ToIso();
  const std::string next_day = today.AddDays(1).ToIso();
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kProducts; ++i) {
      sqlite3_reset(price);
      sqlite3_bind_int(price, sqlite3_bind_parameter_index(price, "@PRODID"), kFirstProduct + i);
      sqlite3_bind_int(price, sqlite3_bind_parameter_index(price, "@BPID"), 1002);
      sqlite3_bind_text(price, sqlite3_bind_parameter_index(price, "@CURRENCY"), "USD", -1,
                        SQLITE_STATIC);
      sqlite3_bind_text(price, sqlite3_bind_parameter_index(price, "@HOMECURRENCY"), "EUR", -1,
                        SQLITE_STATIC);
      sqlite3_bind_text(price, sqlite3_bind_parameter_index(price, "@ORDERDATE"), day.c_str(), -1,
                        SQLITE_STATIC);
      if (sqlite3_step(price) != SQLITE_ROW) std::abort();
      double amount = sqlite3_column_double(price, 5);
      const std::string currency = reinterpret_cast<const char*>(sqlite3_column_text(price, 2));
      if (currency != "USD") {
        sqlite3_reset(rate);
        sqlite3_bind_text(rate, 1, "USD", -1, SQLITE_STATIC);
        sqlite3_bind_text(rate, 2, next_day.c_str(), -1, SQLITE_STATIC);
        if (sqlite3_step(rate) != SQLITE_ROW) std::abort();
        amount *= sqlite3_column_double(rate, 0);
      }
      sum += amount;
    }
  }
  benchmark::DoNotOptimize(sum);
  sqlite3_finalize(price);
  sqlite3_finalize(rate);
  sqlite3_close(vendra);
  sqlite3_close(kelmor);
  state.SetItemsProcessed(state.iterations() * kProducts);
}
BENCHMARK(BM_GetWebPrice_PreparedFloor)->Unit(benchmark::kMillisecond);

// ConvertToXML's throughput, and each operation against its floor.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  if (const double* rate = r.Counter("BM_ConvertToXML", "bytes_per_second"))
    std::printf("%-46s %6.1f MB/s   (goal: at least 50 MB/s)\n", "ConvertToXML of 100 lines", *rate / 1e6);
  r.Ratio(46, "ConvertToXML / string append of its pieces", "BM_ConvertToXML", "BM_ConvertToXML_AppendFloor",
          "at most 3x");
  r.Ratio(46, "GetWebPrice x1000 / prepared GetPrice + rate", "BM_GetWebPrice", "BM_GetWebPrice_PreparedFloor",
          "at most 3x");
}

}  // namespace

int main(int argc, char** argv) {
  // A document of about 100 KB freed at the top of the heap makes the
  // allocator give that memory back to the system and fault it in again on
  // the next run, on either side, whichever happens to free it there: at
  // several times the cost of writing the document, and varying from run to
  // run with the heap's layout. Both sides measure with the heap kept.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 16 << 20);
  return vendra_bench::RunOnDemoInstance(
      argc, argv,
      [](const std::filesystem::path& home) {
        g_vendra_file = (home / "data" / "Vendra.db").string();
        g_kelmor_file = (home / "data" / "Kelmor.db").string();
      },
      PrintRatios);
}
