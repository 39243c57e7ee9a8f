// The inline definitions of erp_fixture.h.
#pragma once

#include <fstream>
#include <iterator>

#include "platform/data/recordset.h"
#include "platform/erp/components.h"
#include "sales/order/order.h"
#include "shared/components.h"

namespace vendra_test {

using platform::Variant;

namespace {

struct Item {
  int32_t sku;
  const char* part;
  const char* unit;
  double price;
};
constexpr Item kItems[] = {{1, "FA-M8X30", "BOX", 12.4},   {2, "FA-M10X40", "BOX", 18.9},
                           {5, "HY-PMP-200", "PCS", 385},  {9, "TB-HOSE-12", "M", 14.8},
                           {11, "HT-WR-SET", "SET", 89},   {14, "HT-SCR-SET", "SET", 34.5},
                           {7, "HY-UNIT-CFG", "SET", 4850}};

}  // namespace

inline void ErpTest::SetUp() {
  db_ = std::make_shared<platform::data::Connection>();
  db_->Open(lib_sales::Sls_ConnectionString());
}

inline void ErpTest::TearDown() { db_->Close(); }

inline void ErpTest::StoreBasket(const BasketSpec& s) {
  const bool corvetto = s.partner == 1002;
  const int32_t invoice = corvetto ? 10021 : 10011;
  const int32_t delivery = corvetto ? 10021 : 10012;
  db_->Execute(
      "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
      "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, ORDERTYPE, "
      "DISCOUNTPERC, CUSTOMERPONUMBER, KROID, CURRENCYDECIMALS, SUBTOTAL, TOTAL, CUSTOMERCODE, "
      "CUSTOMERNAME, FREIGHTTOTAL, CALCULATETAX) VALUES (?, 'Spring order', '2026-03-02T10:00:00', ?, ?, ?, ?, ?, "
      "'EUR', 'DHL', 'SO', 5, 'PO-4711', ?, 2, 60, 57, ?, 'Demo customer', ?, ?)",
      {Variant(s.id), Variant(corvetto ? "carla" : "anna"), Variant(s.partner), Variant(invoice),
       Variant(delivery), s.text.empty() ? Variant::Null() : Variant(s.text), Variant(s.kro_id),
       Variant(corvetto ? "C1002" : "C1001"), Variant(s.freight), Variant(s.calculate_tax ? 1 : 0)});
  for (int n = 1; n <= s.lines; ++n) {
    const Item& item = (n == 1 && !s.config.empty()) ? kItems[6] : kItems[(n - 1) % 6];
    db_->Execute(
        "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, ADDRESSID, "
        "PRODUCTUNITCODE, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, LINEDISCOUNTAMOUNT, "
        "ORDERDISCOUNTAMOUNT, LINEAMOUNT, TAXCODE, PARTNUMBER, PRODUCTCONFIGID) VALUES "
        "(?, ?, ?, ?, '2026-04-01T00:00:00', ?, ?, ?, ?, ?, 0, 0, ?, '01', ?, ?)",
        {Variant(s.id), Variant(n), Variant(item.sku), Variant(double(n % 4 + 1)), Variant(delivery),
         Variant(item.unit), Variant(item.price), Variant(n == 2 ? 10.0 : 0.0),
         Variant(n == 3 ? 5.0 : 0.0), Variant(item.price * (n % 4 + 1)), Variant(item.part),
         (n == 1 && !s.config.empty()) ? Variant(s.config) : Variant::Null()});
  }
}

inline void ErpTest::Submit(const BasketSpec& spec) {
  StoreBasket(spec);
  auto read = [&](const std::string& sql) {
    auto rs = std::make_shared<platform::data::Recordset>();
    rs->SetCursorLocation(platform::data::adUseClient);
    std::vector<Variant> params{Variant(spec.id)};
    rs->Open(sql, db_, params, platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
    rs->SetActiveConnection(nullptr);
    return rs;
  };
  auto doc = platform::Dictionary::New();
  doc->Add("header", Variant(read("SELECT * FROM BASKETHEADER WHERE BASKETID = ?")));
  doc->Add("lines", Variant(read("SELECT * FROM BASKETLINE WHERE BASKETID = ? ORDER BY BASKETLINENR")));
  Variant basket(doc);
  vendra::Order().SubmitBasket(basket);
}

inline Variant ErpTest::HeaderValue(const std::string& order_id, const std::string& column) {
  auto rs = db_->Execute("SELECT " + column + " FROM ORDERHEADER WHERE ORDERID = ?", {Variant(order_id)});
  return rs && !rs->Eof() ? rs->Value(column) : Variant();
}

inline int ErpTest::NumberedLines(const std::string& order_id) {
  auto rs = db_->Execute(
      "SELECT COUNT(*) AS N FROM ORDERLINE WHERE ORDERID = ? AND SALESORDERLINENR > 0",
      {Variant(order_id)});
  return rs->Value("N").ToLong();
}

inline int ErpTest::Lines(const std::string& order_id) {
  auto rs = db_->Execute("SELECT COUNT(*) AS N FROM ORDERLINE WHERE ORDERID = ?", {Variant(order_id)});
  return rs->Value("N").ToLong();
}

inline nlohmann::json ErpTest::ErpOrder(int32_t kro_id, const std::string& number) {
  const std::string text = platform::erp::SalesOrderJson(kro_id, number);
  return text.empty() ? nlohmann::json() : nlohmann::json::parse(text);
}

inline int ErpTest::ErpOrderCount(int32_t kro_id) {
  return static_cast<int>(nlohmann::json::parse(platform::erp::SalesOrdersJson(kro_id)).size());
}

inline std::vector<std::filesystem::path> ErpTest::Mails() {
  std::vector<std::filesystem::path> out;
  const auto dir = home() / "mail" / "pickup";
  if (!std::filesystem::exists(dir)) return out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path());
  return out;
}

inline std::string ErpTest::ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace vendra_test
