// Vendra.Order.SubmitBasket: what a basket or a quotation becomes, that a
// failure before the commit leaves nothing behind (at every statement), and
// what happens after the commit (the hand-over question and its answers).
#include "sales/order/order.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "shared/components.h"
#include "tests/support/test_instance.h"
#include "tests/support/failure.h"

namespace {

using platform::ComError;
using platform::Dictionary;
using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

// Stands in for the back end's order object, which comes with a later piece
// of work: records what it was handed and refuses on demand.
struct HandOvers {
  int calls = 0;
  platform::ObjectPtr document;
  bool refuse = false;
};

class FakeBackendOrder : public platform::Dispatchable<FakeBackendOrder> {
 public:
  static const platform::ClassBinding<FakeBackendOrder>& Binding() {
    static const auto b = platform::ClassBinding<FakeBackendOrder>("Order").Method(
        "CreateBackendSalesOrder", &FakeBackendOrder::CreateBackendSalesOrder);
    return b;
  }
  std::string CreateBackendSalesOrder(const platform::ObjectPtr& document, bool& error) {
    ++record->calls;
    record->document = document;
    error = record->refuse;
    return {};
  }
  std::shared_ptr<HandOvers> record;
};

class ScopedBackend {
 public:
  ScopedBackend()
      : record_(std::make_shared<HandOvers>()),
        registration_("Ferrolink.Order", [r = record_] {
          auto order = std::make_shared<FakeBackendOrder>();
          order->record = r;
          return platform::ObjectPtr(order);
        }) {}
  HandOvers& record() { return *record_; }

 private:
  std::shared_ptr<HandOvers> record_;
  platform::ScopedRegistration registration_;
};

using vendra_test::Failure;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class OrderSubmitTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override {
    db_ = std::make_shared<Connection>();
    db_->Open(lib_sales::Sls_ConnectionString());
  }
  void TearDown() override { db_->Close(); }

  // A basket of anna's as a page leaves it before submitting: prices,
  // amounts, discounts, a delivery address per line and back-end instance 2
  // (which hands orders over in the periodic run only).
  void StoreBasket(const std::string& id, const std::vector<int32_t>& line_numbers) {
    db_->Execute(
        "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
        "BILLINGADDRESSID, SHIPPINGADDRESSID, BASKETTEXT, CURRENCYCODE, CARRIERCODE, ORDERTYPE, "
        "DISCOUNTPERC, CUSTOMERPONUMBER, KROID, CURRENCYDECIMALS, SUBTOTAL, TOTAL, CUSTOMERCODE, "
        "CUSTOMERNAME) VALUES (?, 'Spring order', '2026-03-02T10:00:00', 'anna', 1001, 10011, "
        "10012, 'Deliver before noon', 'EUR', 'DHL', 'SO', 5, '', 2, 2, 60, 57, 'C1001', "
        "'Hallvard Industrial')",
        {Variant(id)});
    for (int32_t nr : line_numbers) {
      db_->Execute(
          "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, ADDRESSID, "
          "PRODUCTUNITCODE, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, LINEDISCOUNTAMOUNT, "
          "ORDERDISCOUNTAMOUNT, LINEAMOUNT, TAXCODE, PARTNUMBER) VALUES (?, ?, ?, 2, "
          "'2026-04-01T00:00:00', 10012, 'BOX', 12.5, 0, 0.5, 0, 1.25, 24, '01', ?)",
          {Variant(id), Variant(nr), Variant(nr + 10), Variant("P-" + std::to_string(nr))});
    }
  }

  std::shared_ptr<Recordset> Open(const std::string& sql, const std::string& key) {
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(platform::data::adUseClient);
    std::vector<Variant> params{Variant(key)};
    rs->Open(sql, db_, params, platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
    rs->SetActiveConnection(nullptr);
    return rs;
  }

  // The document a page holds: the stored basket, read back as Restore does.
  std::shared_ptr<Dictionary> Restore(const std::string& id) {
    auto doc = Dictionary::New();
    doc->Add("header", Variant(Open("SELECT * FROM BASKETHEADER WHERE BASKETID = ?", id)));
    doc->Add("lines", Variant(Open(
                          "SELECT * FROM BASKETLINE WHERE BASKETID = ? ORDER BY BASKETLINENR", id)));
    return doc;
  }

  std::shared_ptr<Dictionary> RestoreQuotation(const std::string& id) {
    auto doc = Dictionary::New();
    doc->Add("header", Variant(Open("SELECT * FROM QUOTATIONHEADER WHERE QUOTATIONID = ?", id)));
    doc->Add("lines", Variant(Open(
                          "SELECT * FROM QUOTATIONLINE WHERE QUOTATIONID = ? ORDER BY LINENUMBER", id)));
    doc->Add("origin", Variant(1));
    return doc;
  }

  static std::shared_ptr<Recordset> Set(const std::shared_ptr<Dictionary>& doc, const char* key) {
    return doc->Item(key).As<Recordset>();
  }

  void Submit(const std::shared_ptr<Dictionary>& doc) {
    Variant basket(doc);
    vendra::Order().SubmitBasket(basket);
  }

  int32_t Count(const std::string& table_and_condition, const std::string& key) {
    auto rs = db_->Execute("SELECT COUNT(*) FROM " + table_and_condition, {Variant(key)});
    return rs->fields()[0].Value().ToLong();
  }
  int32_t Orders(const std::string& id) { return Count("ORDERHEADER WHERE ORDERID = ?", id); }
  int32_t OrderLines(const std::string& id) { return Count("ORDERLINE WHERE ORDERID = ?", id); }
  int32_t Addresses(const std::string& id) { return Count("ADDRESSHISTORY WHERE ORDERID = ?", id); }
  int32_t BasketLines(const std::string& id) { return Count("BASKETLINE WHERE BASKETID = ?", id); }
  int32_t Baskets(const std::string& id) { return Count("BASKETHEADER WHERE BASKETID = ?", id); }

  std::shared_ptr<Recordset> Rows(const std::string& sql, const std::string& key) {
    return db_->Execute(sql, {Variant(key)});
  }

  std::shared_ptr<Connection> db_;
};

TEST_F(OrderSubmitTest, ABasketBecomesAnOrderAndIsGone) {
  platform::ScopedFixedClock clock(platform::Date::FromParts(2026, 3, 2, 14, 30, 5));
  StoreBasket("B1", {1, 3, 7});
  auto doc = Restore("B1");
  Set(doc, "header")->SetValue("CALCULATETAX", Variant(true));
  Submit(doc);

  auto h = Rows("SELECT * FROM ORDERHEADER WHERE ORDERID = ?", "B1");
  ASSERT_FALSE(h->Eof());
  EXPECT_EQ(h->Value("CURRENCYCODE"), Variant("EUR"));
  EXPECT_EQ(h->Value("USERID"), Variant("anna"));
  EXPECT_EQ(h->Value("BILLINGADDRESSID"), Variant(10011));
  EXPECT_EQ(h->Value("SHIPPINGADDRESSID"), Variant(10012));
  EXPECT_EQ(h->Value("BUSINESSPARTNERID"), Variant(1001));
  EXPECT_EQ(h->Value("ORDERLISTNAME"), Variant("Spring order"));
  EXPECT_EQ(h->Value("HEADERTEXT"), Variant("Deliver before noon"));
  EXPECT_EQ(h->Value("ORDERSTATUS").ToLong(), static_cast<int32_t>(vendra::OrderStatus::ToBeProcessed));
  EXPECT_EQ(h->Value("ORDERDATE").ToDate(), platform::Date::FromParts(2026, 3, 2, 14, 30, 5));
  EXPECT_EQ(h->Value("SALESORDERNR"), Variant(""));
  EXPECT_TRUE(h->Value("QUOTATIONID").IsNull());
  EXPECT_EQ(h->Value("DISCOUNTPERC"), Variant(5.0));
  EXPECT_TRUE(h->Value("CUSTOMERPONR").IsNull()) << "an empty PO number is stored as NULL";
  EXPECT_TRUE(h->Value("FREIGHTTOTAL").IsNull());
  EXPECT_EQ(h->Value("KROID"), Variant(2));
  EXPECT_EQ(h->Value("WEBPAYMENTMETHOD").ToLong(), 1) << "no payment method means invoice";
  EXPECT_EQ(h->Value("CALCULATETAX"), Variant(true));
  EXPECT_EQ(h->Value("CURRENCYDECIMALS").ToLong(), 2);
  EXPECT_EQ(h->Value("SUBTOTAL").ToDouble(), 60);
  EXPECT_EQ(h->Value("CUSTOMERNAME"), Variant("Hallvard Industrial"));
  EXPECT_EQ(h->Value("ATTEMPTS"), Variant(0));
  // The page's document says so too.
  EXPECT_EQ(Set(doc, "header")->Value("PAYMENTMETHOD").ToLong(), 1);

  // Lines 1, 3 and 7 are the order's lines 1, 2 and 3.
  auto l = Rows("SELECT * FROM ORDERLINE WHERE ORDERID = ? ORDER BY LINENR", "B1");
  std::vector<std::pair<int32_t, int32_t>> numbered;
  for (; !l->Eof(); l->MoveNext())
    numbered.emplace_back(l->Value("LINENR").ToLong(), l->Value("PRODUCTID").ToLong());
  EXPECT_EQ(numbered, (std::vector<std::pair<int32_t, int32_t>>{{1, 11}, {2, 13}, {3, 17}}));
  l->MoveFirst();
  EXPECT_EQ(l->Value("UNITCODE"), Variant("BOX"));
  EXPECT_EQ(l->Value("ADDRESSID"), Variant(10012));
  EXPECT_EQ(l->Value("QUANTITY"), Variant(2.0));
  EXPECT_EQ(l->Value("PRICE").ToDouble(), 12.5);
  EXPECT_EQ(l->Value("DISCOUNTAMOUNT").ToDouble(), 0.5) << "no percentage: the amount";
  EXPECT_EQ(l->Value("AMOUNT").ToDouble(), 24);
  EXPECT_EQ(l->Value("ORDERDISCOUNT").ToDouble(), 1.25);
  EXPECT_EQ(l->Value("REQUESTDATE").ToDate(), platform::Date::FromParts(2026, 4, 1));
  EXPECT_TRUE(l->Value("ALLOCATIONDATE").IsNull());
  EXPECT_TRUE(l->Value("LINETEXT").IsNull());
  EXPECT_EQ(l->Value("LINETAX").ToDouble(), 0);
  EXPECT_EQ(l->Value("TAXPERCENTAGE"), Variant(0.0));
  EXPECT_EQ(l->Value("TAXCODE"), Variant("01"));
  EXPECT_EQ(l->Value("LINESTATUS").ToLong(), static_cast<int32_t>(vendra::OrderLineStatus::NotAllocated));
  EXPECT_EQ(l->Value("PARTNUMBER"), Variant("P-1"));

  // The invoice and the delivery address, frozen with their back-end codes.
  auto a = Rows("SELECT * FROM ADDRESSHISTORY WHERE ORDERID = ? ORDER BY ADDRESSID", "B1");
  ASSERT_EQ(a->RecordCount(), 2);
  EXPECT_EQ(a->Value("ADDRESSID"), Variant(10011));
  EXPECT_EQ(a->Value("KROADDRESSCODE"), Variant("C1001-0010"));
  EXPECT_EQ(a->Value("STREET1"), Variant("Strandveien 40"));
  a->MoveNext();
  EXPECT_EQ(a->Value("STREET2"), Variant("Gate 3"));
  EXPECT_EQ(a->Value("SHORTDESCRIPTION"), Variant("Main warehouse"));

  EXPECT_EQ(Baskets("B1"), 0);
  EXPECT_EQ(BasketLines("B1"), 0);
}

TEST_F(OrderSubmitTest, AddressesAreCopiedOnceInTheOrderTheyAppear) {
  StoreBasket("SAME", {1, 2});
  auto same = Restore("SAME");
  Set(same, "header")->SetValue("BILLINGADDRESSID", Variant(10012));
  Submit(same);
  EXPECT_EQ(Addresses("SAME"), 1);

  StoreBasket("MIXED", {1, 2, 3, 4});
  auto mixed = Restore("MIXED");
  auto lines = Set(mixed, "lines");
  int32_t line = 0;
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext())
    lines->SetValue("ADDRESSID", Variant(std::vector<int32_t>{10032, 10013, 10012, 10032}[line++]));
  Submit(mixed);
  auto a = Rows("SELECT ADDRESSID, KROADDRESSCODE FROM ADDRESSHISTORY WHERE ORDERID = ? "
                "ORDER BY rowid",
                "MIXED");
  std::vector<int32_t> ids;
  for (; !a->Eof(); a->MoveNext()) {
    ids.push_back(a->Value("ADDRESSID").ToLong());
    // Lindqvist's warehouse has no back-end code yet.
    if (ids.back() == 10032) {
      EXPECT_TRUE(a->Value("KROADDRESSCODE").IsNull());
    }
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{10011, 10012, 10032, 10013}));
}

TEST_F(OrderSubmitTest, ConfigurationsAndDiscountsOfBasketLines) {
  StoreBasket("CFG", {1, 2, 3, 4});
  auto doc = Restore("CFG");
  auto lines = Set(doc, "lines");
  lines->MoveFirst();
  lines->SetValue("PRODUCTCONFIGID", Variant("   "));
  lines->MoveNext();
  lines->SetValue("PRODUCTCONFIGID", Variant("CFG-7 "));
  lines->SetValue("DISCOUNTPERC", Variant(10.0));
  lines->SetValue("LINEDISCOUNTAMOUNT", Variant(1.25));
  lines->MoveNext();
  lines->SetValue("PRODUCTCONFIGID", Variant(""));
  lines->SetValue("LINETEXT", Variant("Urgent"));
  Submit(doc);

  auto l = Rows("SELECT * FROM ORDERLINE WHERE ORDERID = ? ORDER BY LINENR", "CFG");
  EXPECT_TRUE(l->Value("CONFIGID").IsNull()) << "only blanks";
  EXPECT_EQ(l->Value("CONFIGCOMPLETE"), Variant(false));
  l->MoveNext();
  EXPECT_EQ(l->Value("CONFIGID"), Variant("CFG-7 "));
  EXPECT_EQ(l->Value("CONFIGCOMPLETE"), Variant(true));
  EXPECT_EQ(l->Value("DISCOUNTPERC"), Variant(10.0));
  EXPECT_EQ(l->Value("DISCOUNTAMOUNT").ToDouble(), 1.25) << "a percentage: the line's discount";
  l->MoveNext();
  EXPECT_TRUE(l->Value("CONFIGID").IsNull());
  EXPECT_EQ(l->Value("LINETEXT"), Variant("Urgent"));
  l->MoveNext();
  EXPECT_TRUE(l->Value("CONFIGID").IsNull()) << "never configured";
}

TEST_F(OrderSubmitTest, AQuotationBecomesAnOrderOfItsOwnAndIsKept) {
  db_->Execute(
      "INSERT INTO QUOTATIONHEADER (QUOTATIONID, CUSTOMERREFERENCE, BILLINGADDRESSID, "
      "SHIPPINGADDRESSID, CREATIONDATE, USERID, BUSINESSPARTNERID, CURRENCYCODE, KROID, COMMENTS, "
      "DISCOUNTPERC, CARRIERCODE, PAYMENTMETHOD) VALUES ('Q1', 'Hydraulics refit', 10011, 10012, "
      "'2026-03-01', 'anna', 1001, 'EUR', 2, 'Quote with delivery', 0, 'DHL', 2)");
  db_->Execute(
      "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, SKU, QUANTITY, PRODUCTPRICE, "
      "DISCOUNTPERC, DISCOUNTAMOUNT, LINEAMOUNT, ADDRESSID) VALUES "
      "('Q1', 1, 5, 2, 50, 10, 0, 90, 10012), ('Q1', 2, 6, 1, 80, 0, 4, 76, 10013)");
  auto doc = RestoreQuotation("Q1");
  Submit(doc);

  const std::string order_id = Set(doc, "header")->Value("QUOTATIONID").ToString();
  ASSERT_EQ(order_id.size(), 32u);
  EXPECT_EQ(order_id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  auto lines = Set(doc, "lines");
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext())
    EXPECT_EQ(lines->Value("QUOTATIONID"), Variant(order_id));

  auto h = Rows("SELECT * FROM ORDERHEADER WHERE ORDERID = ?", order_id);
  ASSERT_FALSE(h->Eof());
  EXPECT_EQ(h->Value("QUOTATIONID"), Variant("Q1"));
  EXPECT_EQ(h->Value("ORDERLISTNAME"), Variant("Hydraulics refit"));
  EXPECT_EQ(h->Value("HEADERTEXT"), Variant("Quote with delivery"));
  EXPECT_EQ(h->Value("WEBPAYMENTMETHOD").ToLong(), 2);

  auto l = Rows("SELECT * FROM ORDERLINE WHERE ORDERID = ? ORDER BY LINENR", order_id);
  // 10 % of 50 is 5 per unit; the quotation's own amount is the order discount.
  EXPECT_EQ(l->Value("DISCOUNTAMOUNT").ToDouble(), 5);
  EXPECT_EQ(l->Value("ORDERDISCOUNT").ToDouble(), 0);
  l->MoveNext();
  EXPECT_EQ(l->Value("DISCOUNTAMOUNT").ToDouble(), 4);
  EXPECT_EQ(l->Value("ORDERDISCOUNT").ToDouble(), 4);
  EXPECT_EQ(Addresses(order_id), 3);

  auto q = Rows("SELECT COPIEDTOORDER FROM QUOTATIONHEADER WHERE QUOTATIONID = ?", "Q1");
  ASSERT_FALSE(q->Eof());
  EXPECT_EQ(q->Value("COPIEDTOORDER"), Variant(true));
  EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID = ?", "Q1"), 2);
}

TEST_F(OrderSubmitTest, AQuoteInTheBasketIdStaysInsideItsLiteral) {
  // Unencoded, this id would make the basket delete take every other basket.
  const std::string id = "X' OR BASKETID <> '";
  StoreBasket(id, {1, 2});
  StoreBasket("OTHER", {1});
  Submit(Restore(id));
  EXPECT_EQ(Orders(id), 1);
  EXPECT_EQ(OrderLines(id), 2);
  EXPECT_EQ(Addresses(id), 2);
  EXPECT_EQ(Baskets(id), 0);
  EXPECT_EQ(BasketLines(id), 0);
  EXPECT_EQ(Baskets("OTHER"), 1);
  EXPECT_EQ(BasketLines("OTHER"), 1);
}

TEST_F(OrderSubmitTest, AMissingRequiredValueFailsAndLeavesNothing) {
  StoreBasket("NOADDR", {1, 2, 3});
  auto doc = Restore("NOADDR");
  auto lines = Set(doc, "lines");
  lines->MoveFirst();
  lines->MoveNext();
  lines->SetValue("ADDRESSID", Variant::Null());
  vendra_test::ScopedRecordingLog log;
  const ComError e = Failure([&] { Submit(doc); });
  EXPECT_EQ(e.number(), platform::err::kInvalidUseOfNull);
  EXPECT_TRUE(Contains(e.description(), "line 2 of the order has no ADDRESSID"));
  EXPECT_TRUE(Contains(e.description(), " METHOD: Order.InsertAddresses\r\n"));
  EXPECT_TRUE(Contains(e.description(), " METHOD: Order.SubmitBasket\r\n"));
  EXPECT_EQ(log.entries().size(), 2u) << "the step and the operation each log once";
  EXPECT_EQ(Orders("NOADDR"), 0);
  EXPECT_EQ(Addresses("NOADDR"), 0);
  EXPECT_EQ(Baskets("NOADDR"), 1);
  EXPECT_EQ(BasketLines("NOADDR"), 3);
  auto stored = Rows("SELECT ADDRESSID FROM BASKETLINE WHERE BASKETID = ? AND BASKETLINENR = 2",
                     "NOADDR");
  EXPECT_EQ(stored->Value("ADDRESSID"), Variant(10012)) << "the document's change is not saved";

  // The header's discount has no fallback either; the addresses written
  // before it go again.
  StoreBasket("NODISC", {1});
  auto no_discount = Restore("NODISC");
  Set(no_discount, "header")->SetValue("DISCOUNTPERC", Variant::Null());
  const ComError h = Failure([&] { Submit(no_discount); });
  EXPECT_EQ(h.number(), platform::err::kInvalidUseOfNull);
  EXPECT_TRUE(Contains(h.description(), "the order header has no DISCOUNTPERC"));
  EXPECT_EQ(Addresses("NODISC"), 0);
  EXPECT_EQ(Orders("NODISC"), 0);
}

TEST_F(OrderSubmitTest, AFailingStatementIsReportedWithItsText) {
  StoreBasket("TWICE", {1, 2});
  // An order of that id exists already: the header insert fails.
  db_->Execute("INSERT INTO ORDERHEADER (ORDERID) VALUES ('TWICE')");
  const ComError e = Failure([&] { Submit(Restore("TWICE")); });
  EXPECT_EQ(e.number(), platform::data::data_err::kProvider);
  EXPECT_TRUE(Contains(e.description(), " METHOD: Order.InsertOrderHeader\r\n"));
  EXPECT_TRUE(Contains(e.description(), "Error(s) from connection object:  (1)"));
  EXPECT_TRUE(Contains(e.description(), " executing: 'INSERT INTO ORDERHEADER (ORDERID, "));
  EXPECT_EQ(Addresses("TWICE"), 0);
  EXPECT_EQ(OrderLines("TWICE"), 0);
  EXPECT_EQ(BasketLines("TWICE"), 2);
}

TEST_F(OrderSubmitTest, AFailureAtAnyStatementBeforeTheCommitLeavesNothingBehind) {
  using platform::data::FaultInjection;
  // Three addresses and three lines, so every kind of statement is there.
  StoreBasket("COUNT", {1, 2, 3});
  StoreBasket("FAULT", {1, 2, 3});
  for (const char* id : {"COUNT", "FAULT"})
    db_->Execute("UPDATE BASKETLINE SET ADDRESSID = 10013 WHERE BASKETLINENR = 3 AND BASKETID = ?",
                 {Variant(id)});
  auto counted = Restore("COUNT");
  FaultInjection::FailNthStatement(0);
  Submit(counted);
  const int32_t total = FaultInjection::StatementsSeen();
  ASSERT_GE(total, 3 * 4 + 1 + 3 + 2 + 1);

  auto doc = Restore("FAULT");
  int32_t failed_before_commit = 0;
  for (int32_t n = 1; n <= total; ++n) {
    {
      platform::data::ScopedFault fault(n);
      EXPECT_THROW(Submit(doc), ComError) << "statement " << n;
    }
    if (Orders("FAULT") == 1) {
      // Only the question asked after the commit may fail with the order kept.
      EXPECT_EQ(n, total);
      break;
    }
    ++failed_before_commit;
    EXPECT_EQ(OrderLines("FAULT"), 0) << "statement " << n;
    EXPECT_EQ(Addresses("FAULT"), 0) << "statement " << n;
    EXPECT_EQ(Baskets("FAULT"), 1) << "statement " << n;
    EXPECT_EQ(BasketLines("FAULT"), 3) << "statement " << n;
  }
  EXPECT_EQ(failed_before_commit, total - 1);
  EXPECT_EQ(OrderLines("FAULT"), 3);
  EXPECT_EQ(BasketLines("FAULT"), 0);
}

TEST_F(OrderSubmitTest, TheInstanceDecidesWhetherTheOrderIsHandedOverAtOnce) {
  ScopedBackend backend;
  StoreBasket("PERIODIC", {1});
  Submit(Restore("PERIODIC"));  // instance 2: the periodic run takes it
  EXPECT_EQ(backend.record().calls, 0);

  StoreBasket("NOROW", {1});
  auto unknown = Restore("NOROW");
  Set(unknown, "header")->SetValue("KROID", Variant(99));
  Submit(unknown);
  EXPECT_EQ(backend.record().calls, 0);

  StoreBasket("AT-ONCE", {1, 2});
  auto doc = Restore("AT-ONCE");
  Set(doc, "header")->SetValue("KROID", Variant(1));
  Submit(doc);
  EXPECT_EQ(backend.record().calls, 1);
  EXPECT_EQ(backend.record().document, platform::ObjectPtr(doc)) << "the very document";

  backend.record().refuse = true;
  StoreBasket("REFUSED", {1});
  auto refused = Restore("REFUSED");
  Set(refused, "header")->SetValue("KROID", Variant(1));
  Submit(refused);  // a refusal is no failure: the instance's mailbox is told
  EXPECT_EQ(Orders("REFUSED"), 1);
  std::vector<std::filesystem::path> mails;
  for (const auto& e : std::filesystem::directory_iterator(home() / "mail" / "pickup"))
    mails.push_back(e.path());
  ASSERT_EQ(mails.size(), 1u);
  std::ifstream in(mails[0], std::ios::binary);
  const std::string mail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(Contains(mail, "To: erp-orders@shop.example\r\n")) << mail;
}

TEST_F(OrderSubmitTest, AFailureAfterTheCommitKeepsTheOrder) {
  // The back end's order object is not there to be created.
  platform::ScopedRegistration gone("Ferrolink.Order", []() -> platform::ObjectPtr {
    platform::Raise(platform::err::kCannotCreateObject, "Ferrolink.Order",
                    "ActiveX component can't create object: Ferrolink.Order");
  });
  StoreBasket("NOBACKEND", {1, 2});
  auto doc = Restore("NOBACKEND");
  Set(doc, "header")->SetValue("KROID", Variant(1));
  const ComError e = Failure([&] { Submit(doc); });
  EXPECT_EQ(e.number(), platform::err::kCannotCreateObject);
  EXPECT_TRUE(Contains(e.description(), " METHOD: Order.SubmitBasket\r\n"));
  EXPECT_EQ(Orders("NOBACKEND"), 1);
  EXPECT_EQ(OrderLines("NOBACKEND"), 2);
  EXPECT_EQ(Baskets("NOBACKEND"), 0);

  // Without an instance the question cannot be asked at all.
  StoreBasket("NOKRO", {1});
  auto no_instance = Restore("NOKRO");
  Set(no_instance, "header")->SetValue("KROID", Variant::Null());
  EXPECT_EQ(Failure([&] { Submit(no_instance); }).number(), platform::err::kInvalidUseOfNull);
  EXPECT_EQ(Orders("NOKRO"), 1);
  auto h = Rows("SELECT KROID FROM ORDERHEADER WHERE ORDERID = ?", "NOKRO");
  EXPECT_TRUE(h->Value("KROID").IsNull());
}

// The road of the demo: a basket made by Vendra.Basket, filled in by the page.
TEST_F(OrderSubmitTest, FromBasketCreateToStoredOrder) {
  const platform::Date kRequested = platform::Date::FromParts(2026, 12, 20);
  platform::ObjectPtr basket = platform::CreateObject("Vendra.Basket");
  Variant doc = platform::Call(basket, "Create", {Variant("anna"), Variant(1001)});
  auto header = doc.As<Dictionary>()->Item("header").As<Recordset>();
  const std::string id = header->Value("BASKETID").ToString();
  ASSERT_EQ(id.size(), 32u);
  std::vector<Variant> numbers;
  for (int32_t sku : {1, 5, 12}) {
    std::vector<Variant> args{doc,           Variant(sku),  Variant(2.0), Variant(kRequested),
                              Variant(false), Variant("")};
    numbers.push_back(platform::CallRef(basket, "AddLine", args));
    doc = args[0];
  }
  EXPECT_EQ(numbers, (std::vector<Variant>{Variant(1), Variant(2), Variant(3)}));
  std::vector<Variant> del{doc, Variant(platform::VariantArray{Variant(2), Variant(99)})};
  EXPECT_EQ(platform::CallRef(basket, "DeleteLines", del), Variant(true));
  doc = platform::Call(basket, "Restore", {Variant(id)});
  std::vector<Variant> add{doc,           Variant(14),  Variant(1.0), Variant(kRequested),
                           Variant(false), Variant("")};
  EXPECT_EQ(platform::CallRef(basket, "AddLine", add), Variant(4));
  auto restored = add[0].As<Dictionary>();

  auto h = Set(restored, "header");
  h->SetValue("DISCOUNTPERC", Variant(0.0));
  h->SetValue("KROID", Variant(2));
  auto lines = Set(restored, "lines");
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
    for (const char* column : {"DISCOUNTPERC", "DISCOUNTAMOUNT", "ORDERDISCOUNTAMOUNT"})
      lines->SetValue(column, Variant(0.0));
    lines->SetValue("PRODUCTPRICE", Variant(10.0));
    lines->SetValue("LINEAMOUNT", Variant(20.0));
    lines->SetValue("ADDRESSID", Variant(10012));
  }
  Submit(restored);

  auto o = Rows("SELECT * FROM ORDERHEADER WHERE ORDERID = ?", id);
  ASSERT_FALSE(o->Eof());
  EXPECT_EQ(o->Value("ORDERSTATUS").ToLong(), 0);
  EXPECT_EQ(o->Value("WEBPAYMENTMETHOD").ToLong(), 1);
  auto l = Rows("SELECT LINENR, PRODUCTID FROM ORDERLINE WHERE ORDERID = ? ORDER BY LINENR", id);
  std::vector<std::pair<int32_t, int32_t>> stored;
  for (; !l->Eof(); l->MoveNext())
    stored.emplace_back(l->Value("LINENR").ToLong(), l->Value("PRODUCTID").ToLong());
  EXPECT_EQ(stored, (std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {2, 12}, {3, 14}}));
  EXPECT_EQ(Addresses(id), 2);
  EXPECT_EQ(Baskets(id), 0);
  EXPECT_EQ(BasketLines(id), 0);
}

TEST_F(OrderSubmitTest, LateBoundSubmission) {
  StoreBasket("LATE", {2, 5});
  platform::ObjectPtr order = platform::CreateObject("Vendra.Order");
  std::vector<Variant> args{Variant(Restore("LATE"))};
  platform::CallRef(order, "SubmitBasket", args);
  EXPECT_EQ(OrderLines("LATE"), 2);
  // Anything but a document is refused before anything is written.
  std::vector<Variant> nothing{Variant("LATE")};
  EXPECT_THROW(platform::CallRef(order, "SubmitBasket", nothing), ComError);
  auto empty = Dictionary::New();
  std::vector<Variant> no_sets{Variant(empty)};
  EXPECT_EQ(Failure([&] { platform::CallRef(order, "SubmitBasket", no_sets); }).number(),
            platform::err::kObjectRequired);
}

}  // namespace
