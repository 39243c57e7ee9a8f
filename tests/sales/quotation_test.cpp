// Vendra.Quotation: a basket becomes a priced quotation (line numbers,
// expiry, reminder day, the three pricing methods against the demo's price
// lists, configurator and simulated ERP), and what showing, saving, copying
// and deleting do with it, bad input and failing statements included.
#include "sales/quotation/quotation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "sales/basket/basket.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace vendra {

struct QuotationTestPeer {
  static std::string FormatDate(platform::Date d) { return Quotation::FormatDateYYYYMMDD(d); }
};

namespace {

using platform::Date;
using platform::Dictionary;
using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;
using lib_sales::Code;
using lib_sales::VendraError;
using vendra_test::ErrorOf;

struct Line {
  int32_t number;
  int32_t sku;
  Variant quantity;
  Variant request = Variant::Null();  // a date, or Null
  std::string part = "";
  bool configurable = false;
  std::string config = "";
  Variant price = Variant::Null();
};

Date Today() { return platform::Clock::Today(); }

class QuotationTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override {
    db_ = std::make_shared<Connection>();
    db_->Open(lib_sales::Sls_ConnectionString());
  }
  void TearDown() override { db_->Close(); }

  void Exec(const std::string& sql, std::initializer_list<Variant> params = {}) {
    db_->Execute(sql, params);
  }
  // The catalogue's database (products that stop being sold), or another.
  void ExecCatalogue(const std::string& sql, const std::string& catalog = "Brevane") {
    Connection c;
    c.Open("Provider=SQLite;Data Source=" + (home() / "data").string() + ";Initial Catalog=" + catalog);
    c.Execute(sql);
    c.Close();
  }
  Variant Value(const std::string& sql, std::initializer_list<Variant> params = {}) {
    auto rs = db_->Execute(sql, params);
    return rs->Eof() ? Variant::Empty() : rs->fields()[0].Value();
  }
  int32_t Count(const std::string& table_and_condition) {
    return Value("SELECT COUNT(*) FROM " + table_and_condition).ToLong();
  }

  // A stored basket of anna's as a page leaves it to be quoted: the header as
  // Basket.Create made it plus locale, back-end instance and customer code;
  // the lines with the numbers given.
  std::shared_ptr<Dictionary> MakeBasket(const std::vector<Line>& lines, int32_t partner = 1001,
                                         int32_t pricing_method = 0) {
    auto doc = basket_.Create("anna", partner);
    basket_id_ = doc->Item("header").As<Recordset>()->Value("BASKETID").ToString();
    Exec("UPDATE BASKETHEADER SET USERLOCALE = 1033, KROID = 1, CUSTOMERCODE = ?, "
         "BASKETNAME = '  Pumps for Bergen  ', BASKETTEXT = 'Deliver to gate 3' WHERE BASKETID = ?",
         {Variant("C" + std::to_string(partner)), Variant(basket_id_)});
    if (pricing_method != 0)
      Exec("UPDATE BASKETHEADER SET PRICINGMETHOD = ? WHERE BASKETID = ?",
           {Variant(pricing_method), Variant(basket_id_)});
    for (const Line& l : lines) {
      Exec("INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, "
           "PARTNUMBER, PRODUCTCONFIGURABLE, PRODUCTCONFIGID, PRODUCTPRICE) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
           {Variant(basket_id_), Variant(l.number), Variant(l.sku), l.quantity, l.request,
            l.part.empty() ? Variant::Null() : Variant(l.part), Variant(l.configurable),
            Variant(l.config), l.price});
    }
    return basket_.Restore(basket_id_);
  }

  // Creates the quotation of the basket; its id is the basket's.
  std::string Quote(const std::vector<Line>& lines, int32_t partner = 1001, int32_t method = 0) {
    auto doc = MakeBasket(lines, partner, method);
    quotation_.Create(Variant(doc));
    return basket_id_;
  }

  static std::shared_ptr<Recordset> Set(const Quotation::Document& doc, const char* key) {
    return doc->Item(key).As<Recordset>();
  }
  // A column of every walkable line, in order.
  static std::vector<Variant> Column(const Quotation::Document& doc, const char* column) {
    std::vector<Variant> values;
    auto lines = Set(doc, "lines");
    if (lines->RecordCount() == 0) return values;
    for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) values.push_back(lines->Value(column));
    return values;
  }
  Variant Header(const std::string& id, const char* column) {
    return Value(std::string("SELECT ") + column + " FROM QUOTATIONHEADER WHERE QUOTATIONID = ?",
                 {Variant(id)});
  }
  Variant LineValue(const std::string& id, int32_t number, const char* column) {
    return Value(std::string("SELECT ") + column +
                     " FROM QUOTATIONLINE WHERE QUOTATIONID = ? AND LINENUMBER = ?",
                 {Variant(id), Variant(number)});
  }

  std::shared_ptr<Connection> db_;
  Basket basket_;
  Quotation quotation_;
  std::string basket_id_;
};

// --- creation -----------------------------------------------------------------------

TEST_F(QuotationTest, ABasketBecomesAQuotationWithRenumberedLinesExpiryAndReminderDay) {
  const std::string id = Quote({{1, 1, Variant(10.0), Variant(Today().AddDays(-1))},
                                {3, 5, Variant(2.0)},
                                {7, 3, Variant(1.4), Variant(Today().AddDays(20))}});
  EXPECT_EQ(Count("BASKETHEADER WHERE BASKETID = '" + id + "'"), 0);
  EXPECT_EQ(Count("BASKETLINE WHERE BASKETID = '" + id + "'"), 0);

  auto doc = quotation_.Show(id, std::nullopt);
  EXPECT_EQ(Column(doc, "LINENUMBER"), (std::vector<Variant>{Variant(1), Variant(2), Variant(3)}));
  EXPECT_EQ(Column(doc, "SKU"), (std::vector<Variant>{Variant(1), Variant(5), Variant(3)}));
  // Yesterday's request becomes today's; none stays none; 1.4 is 1.
  EXPECT_EQ(LineValue(id, 1, "REQUESTDATE"), Variant(Today()));
  EXPECT_TRUE(LineValue(id, 2, "REQUESTDATE").IsNull());
  EXPECT_EQ(LineValue(id, 3, "REQUESTDATE"), Variant(Today().AddDays(20)));
  EXPECT_EQ(LineValue(id, 3, "QUANTITY"), Variant(1));
  EXPECT_EQ(LineValue(id, 1, "PRODUCTUNITCODE"), Variant("BOX"));

  EXPECT_EQ(Header(id, "CUSTOMERREFERENCE"), Variant("Pumps for Bergen"));
  EXPECT_EQ(Header(id, "COMMENTS"), Variant("Deliver to gate 3"));
  EXPECT_EQ(Header(id, "CREATIONDATE"), Variant(Today()));
  EXPECT_EQ(Header(id, "EXPIRYDATE"), Variant(Today().AddDays(30)));
  EXPECT_EQ(Header(id, "NOTIFICATIONNEEDED"), Variant(true));
  EXPECT_EQ(Header(id, "NOTIFICATIONDATE"), Variant(Today().AddDays(25)));
  EXPECT_EQ(Header(id, "NOTIFICATIONSENT"), Variant(false));
  EXPECT_EQ(Header(id, "COPIEDTOORDER"), Variant(false));
  EXPECT_EQ(Header(id, "CURRENCYSYMBOL"), Variant("\xE2\x82\xAC"));
}

TEST_F(QuotationTest, ExpiryAndReminderFollowTheCustomerTheParametersAndTheProducts) {
  struct Case {
    const char* what;
    const char* setting;  // SQL run first
    int32_t sku;
    int expiry;           // days from today
    int notification;     // days from today; -1: no reminder
  } cases[] = {
      {"Hallvard's row", "", 1, 30, 25},
      {"no row: the sales parameters", "DELETE FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1001",
       1, 30, 23},
      {"null validity expires today",
       "UPDATE CUSTOMERSETTING SET EXPIRATIONPERIOD = NULL WHERE BUSINESSPARTNERID = 1001", 1, 0, 0},
      {"a product expiring in 10 days", "", 17, 10, 5},
      {"a reminder period longer than the validity",
       "UPDATE CUSTOMERSETTING SET NOTIFICATIONPERIOD = 40 WHERE BUSINESSPARTNERID = 1001", 1, 30, 0},
      {"no reminder wanted", "UPDATE CUSTOMERSETTING SET NOTIFY = 0 WHERE BUSINESSPARTNERID = 1001",
       1, 30, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exec("DELETE FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1001");
    Exec("INSERT INTO CUSTOMERSETTING (BUSINESSPARTNERID, ORDERTYPE, EXPIRATIONPERIOD, NOTIFY, "
         "NOTIFICATIONPERIOD) VALUES (1001, 'SO', 30, 1, 5)");
    if (*c.setting) Exec(c.setting);
    const std::string id = Quote({{1, c.sku, Variant(1.0)}});
    EXPECT_EQ(Header(id, "EXPIRYDATE"), Variant(Today().AddDays(c.expiry)));
    if (c.notification < 0) {
      EXPECT_EQ(Header(id, "NOTIFICATIONNEEDED"), Variant(false));
      EXPECT_TRUE(Header(id, "NOTIFICATIONDATE").IsNull());
    } else {
      EXPECT_EQ(Header(id, "NOTIFICATIONDATE"), Variant(Today().AddDays(c.notification)));
    }
  }
}

// --- pricing ------------------------------------------------------------------------

TEST_F(QuotationTest, WebPricingTakesThePriceListsAndThePartnersDiscount) {
  // A percentage wins over an amount; a product without a price is priced 0.
  Exec("INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, "
       "EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES (1001, 4, '2024-01-01T00:00:00', "
       "'EUR', NULL, 100, 10, 3)");
  Exec("DELETE FROM PRODUCTPRICE WHERE PRODUCTID = 3");
  const std::string id = Quote({{1, 4, Variant(2.0)}, {2, 3, Variant(5.0)}, {3, 1, Variant(2.0)},
                                {4, 5, Variant(1.0), Variant(Date::FromParts(2020, 1, 1))}});
  EXPECT_EQ(LineValue(id, 1, "PRODUCTPRICE"), Variant(100.0));
  EXPECT_EQ(LineValue(id, 1, "DISCOUNTPERC"), Variant(10.0));
  EXPECT_EQ(LineValue(id, 1, "DISCOUNTAMOUNT"), Variant(10.0));
  EXPECT_EQ(LineValue(id, 1, "LINEAMOUNT"), Variant(180.0));
  for (const char* column : {"PRODUCTPRICE", "DISCOUNTAMOUNT", "DISCOUNTPERC", "LINEAMOUNT"})
    EXPECT_EQ(LineValue(id, 2, column), Variant(0.0)) << column;
  EXPECT_EQ(LineValue(id, 3, "LINEAMOUNT"), Variant(22.5));  // Hallvard's 11.25
  // A request date long past is priced as of today (Hallvard's 412 less 8 %).
  EXPECT_EQ(LineValue(id, 4, "PRODUCTPRICE"), Variant(412.0));
  EXPECT_DOUBLE_EQ(LineValue(id, 4, "LINEAMOUNT").ToDouble(), 379.04);
  // Hallvard's order discount is 5 %.
  EXPECT_DOUBLE_EQ(Header(id, "TOTALNETAMOUNT").ToDouble(), 581.54);
  EXPECT_EQ(Header(id, "DISCOUNTPERC"), Variant(5.0));
  EXPECT_DOUBLE_EQ(Header(id, "DISCOUNTTOTAL").ToDouble(), 581.54 * 5 / 100);
  EXPECT_DOUBLE_EQ(Header(id, "SUBTOTAL").ToDouble(), 581.54 - 581.54 * 5 / 100);
  EXPECT_EQ(Header(id, "PRICINGMETHOD").ToLong(), 1);
}

TEST_F(QuotationTest, ConfigurableLinesArePricedByTheirConfiguration) {
  const std::string id = Quote({{1, 7, Variant(3.0), Variant::Null(), "", true, "CFG7-COMPLETE"},
                                {2, 7, Variant(2.0), Variant::Null(), "", true, "", Variant(99.0)},
                                {3, 7, Variant(1.0), Variant::Null(), "", true, "CFG7-INCOMPLETE",
                                 Variant(3000.0)}});
  EXPECT_EQ(LineValue(id, 1, "PRODUCTPRICE"), Variant(4850.0));
  EXPECT_EQ(LineValue(id, 1, "LINEAMOUNT"), Variant(14550.0));
  EXPECT_EQ(LineValue(id, 1, "DISCOUNTAMOUNT"), Variant(0.0));
  EXPECT_EQ(LineValue(id, 1, "PRODUCTCONFIGCOMPLETE"), Variant(true));
  // Without a configuration, or with an incomplete one, the price stays.
  EXPECT_EQ(LineValue(id, 2, "PRODUCTCONFIGCOMPLETE"), Variant(false));
  EXPECT_EQ(LineValue(id, 2, "LINEAMOUNT"), Variant(198.0));
  EXPECT_EQ(LineValue(id, 3, "PRODUCTCONFIGCOMPLETE"), Variant(false));
  EXPECT_EQ(LineValue(id, 3, "PRODUCTPRICE"), Variant(3000.0));

  // A configured price in EUR is converted for a partner quoting in USD.
  const std::string usd = Quote({{1, 7, Variant(1.0), Variant::Null(), "", true, "CFG7-COMPLETE"}}, 1002);
  EXPECT_NEAR(LineValue(usd, 1, "PRODUCTPRICE").ToDouble(), 4850 * 1.17, 0.01);

  // An incomplete configuration and no price to keep: refused, nothing stored.
  auto doc = MakeBasket({{1, 7, Variant(1.0), Variant::Null(), "", true, "CFG7-INCOMPLETE"}});
  EXPECT_EQ(ErrorOf([&] { quotation_.Create(Variant(doc)); }), platform::err::kInvalidUseOfNull);
  EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID = '" + basket_id_ + "'"), 0);
  EXPECT_EQ(Count("BASKETLINE WHERE BASKETID = '" + basket_id_ + "'"), 1);
}

TEST_F(QuotationTest, BackEndPricingAsksTheErpWithTheOrderQuantityOfTheProduct) {
  // Hallvard gets 8 % on FA-M8X30 from 10 boxes in the whole order, else its 5 %.
  const std::string both = Quote({{1, 1, Variant(4.0), Variant::Null(), "FA-M8X30"},
                                  {2, 1, Variant(6.0), Variant::Null(), "FA-M8X30"}},
                                 1001, 2);
  EXPECT_EQ(LineValue(both, 1, "DISCOUNTPERC"), Variant(8.0));
  EXPECT_EQ(LineValue(both, 2, "DISCOUNTPERC"), Variant(8.0));
  EXPECT_EQ(LineValue(both, 1, "PRODUCTPRICE"), Variant(12.4));
  EXPECT_NEAR(LineValue(both, 1, "LINEAMOUNT").ToDouble(), (12.4 - 3.97 / 4) * 4, 1e-9);
  const std::string alone = Quote({{1, 1, Variant(4.0), Variant::Null(), "FA-M8X30"}}, 1001, 2);
  EXPECT_EQ(LineValue(alone, 1, "DISCOUNTPERC"), Variant(5.0));

  // A refused price, an unknown or missing instance: a clear error, the
  // basket kept and no quotation.
  struct Case {
    const char* part;
    const char* kro;
    VendraError error;
  } cases[] = {{"NO-SUCH-PART", "1", VendraError::UnexpectedGetKROPricing},
               {"FA-M8X30", "99", VendraError::KROIDNotFound},
               {"FA-M8X30", "NULL", VendraError::KROIDNotFound}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.part + std::string(" on ") + c.kro);
    auto doc = MakeBasket({{1, 1, Variant(4.0), Variant::Null(), c.part}}, 1001, 2);
    Set(doc, "header")->SetValue("KROID", std::string(c.kro) == "NULL" ? Variant::Null()
                                                                       : Variant(std::stoi(c.kro)));
    EXPECT_EQ(ErrorOf([&] { quotation_.Create(Variant(doc)); }), Code(c.error));
    EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID = '" + basket_id_ + "'"), 0);
    EXPECT_EQ(Count("BASKETHEADER WHERE BASKETID = '" + basket_id_ + "'"), 1);
  }
  EXPECT_EQ(QuotationTestPeer::FormatDate(Date::FromParts(2027, 5, 9)), "20270509");
  EXPECT_EQ(QuotationTestPeer::FormatDate(Date::FromParts(2026, 12, 20)), "20261220");
}

// --- bad input and atomicity --------------------------------------------------------

TEST_F(QuotationTest, BadBasketsAreRefusedAndNothingIsHalfStored) {
  struct Case {
    const char* what;
    Line line;
    int32_t error;
  } cases[] = {
      {"quantity 0", {2, 1, Variant(0.0)}, platform::err::kInvalidProcedureCall},
      {"negative quantity", {2, 1, Variant(-2.0)}, platform::err::kInvalidProcedureCall},
      {"a product no longer sold", {2, 13, Variant(1.0)}, Code(VendraError::ProductDisabled)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = MakeBasket({{1, 1, Variant(1.0)}, c.line});
    EXPECT_EQ(ErrorOf([&] { quotation_.Create(Variant(doc)); }), c.error);
    EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID = '" + basket_id_ + "'"), 0);
    EXPECT_EQ(Count("BASKETHEADER WHERE BASKETID = '" + basket_id_ + "'"), 1);
  }
  // The same basket twice: the second finds its quotation already there.
  auto twice = MakeBasket({{1, 1, Variant(1.0)}});
  quotation_.Create(Variant(twice));
  EXPECT_NE(ErrorOf([&] { quotation_.Create(Variant(twice)); }), 0);
  EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID = '" + basket_id_ + "'"), 1);

  // Text that is no quantity.
  auto doc = MakeBasket({{1, 1, Variant(1.0)}});
  Set(doc, "lines")->SetValue("QUANTITY", Variant::Null());
  EXPECT_EQ(ErrorOf([&] { quotation_.Create(Variant(doc)); }), platform::err::kInvalidUseOfNull);

  // Whichever statement fails, the basket is still whole and no quotation exists.
  auto probe = MakeBasket({{1, 1, Variant(2.0)}, {2, 5, Variant(1.0)}});
  platform::data::FaultInjection::FailNthStatement(1000000);
  quotation_.Create(Variant(probe));
  const int32_t statements = platform::data::FaultInjection::StatementsSeen();
  platform::data::FaultInjection::Disable();
  ASSERT_GT(statements, 4);
  for (int32_t n = 1; n <= statements; ++n) {
    SCOPED_TRACE("statement " + std::to_string(n));
    auto basket = MakeBasket({{1, 1, Variant(2.0)}, {2, 5, Variant(1.0)}});
    {
      platform::data::ScopedFault fault(n);
      EXPECT_NE(ErrorOf([&] { quotation_.Create(Variant(basket)); }), 0);
    }
    EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID = '" + basket_id_ + "'"), 0);
    EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID = '" + basket_id_ + "'"), 0);
    EXPECT_EQ(Count("BASKETLINE WHERE BASKETID = '" + basket_id_ + "'"), 2);
  }
}

TEST_F(QuotationTest, HostileTextsAreStoredAsTheyAreAndIdsNeverWidenAStatement) {
  auto doc = MakeBasket({{1, 1, Variant(1.0)}});
  const std::string hostile = "O'Brien'); DELETE FROM QUOTATIONLINE; --";
  Set(doc, "header")->SetValue("BASKETNAME", Variant(hostile));
  Set(doc, "lines")->SetValue("LINETEXT", Variant("it's \"quoted\"\r\nand <b>marked</b>"));
  quotation_.Create(Variant(doc));
  EXPECT_EQ(Header(basket_id_, "CUSTOMERREFERENCE"), Variant(hostile));
  EXPECT_EQ(LineValue(basket_id_, 1, "LINETEXT"), Variant("it's \"quoted\"\r\nand <b>marked</b>"));

  EXPECT_EQ(ErrorOf([&] { quotation_.Show("x' OR '1'='1", std::nullopt); }), Code(VendraError::MissingOrderID));
  EXPECT_EQ(ErrorOf([&] { quotation_.Show(basket_id_, Variant(platform::VariantArray{Variant("1 OR 1=1")})); }),
            platform::err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { quotation_.DeleteLine(basket_id_, Variant(platform::VariantArray{Variant(1), Variant(2.5)})); }),
            platform::err::kTypeMismatch);
  quotation_.DeleteLine("x' OR '1'='1", Variant(platform::VariantArray{Variant(1)}));
  Variant bad("x' OR '1'='1");
  EXPECT_EQ(quotation_.GetBPStoredInDB(bad), 0);
  EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID = '" + basket_id_ + "'"), 1);
}

// --- show, save, copy, delete -------------------------------------------------------

TEST_F(QuotationTest, ShowAndGetLinesGiveTheLinesAskedFor) {
  const std::string id = Quote({{1, 1, Variant(1.0)}, {2, 3, Variant(1.0)}, {3, 5, Variant(1.0)}});
  using A = platform::VariantArray;
  EXPECT_EQ(Column(quotation_.Show(id, Variant(A{Variant(1), Variant("3")})), "LINENUMBER"),
            (std::vector<Variant>{Variant(1), Variant(3)}));
  EXPECT_EQ(Column(quotation_.Show(id, Variant(A{})), "LINENUMBER").size(), 3u);
  EXPECT_EQ(Column(quotation_.GetLines(id, Variant(A{Variant(2)})), "LINENUMBER"),
            (std::vector<Variant>{Variant(2)}));
  EXPECT_EQ(ErrorOf([&] { quotation_.GetLines("nope", Variant(A{Variant(2)})); }),
            Code(VendraError::MissingOrderID));
  Variant known(id);
  EXPECT_EQ(quotation_.GetBPStoredInDB(known), 1001);
}

TEST_F(QuotationTest, SaveRepricesChangedLinesAndRefusesBadQuantities) {
  const std::string id = Quote({{1, 1, Variant(10.0), Variant(Today().AddDays(5))},
                                {2, 3, Variant(1.0), Variant(Today().AddDays(5))},
                                {3, 5, Variant(1.0)}});
  // Hallvard's nut price from 40 days on.
  Exec("INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, "
       "EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES (1001, 3, ?, 'EUR', NULL, 5, 0, 0)",
       {Variant(Today().AddDays(40))});
  auto doc = quotation_.Show(id, std::nullopt);
  auto lines = Set(doc, "lines");
  lines->MoveFirst();
  lines->SetValue("QUANTITY", Variant("4"));  // a page's text
  lines->MoveNext();
  lines->SetValue("REQUESTDATE", Variant(Today().AddDays(45)));
  lines->MoveNext();
  lines->Delete();  // the page drops line 3; the others keep their own rows
  Variant v(doc);
  EXPECT_TRUE(quotation_.Save(v));
  EXPECT_EQ(LineValue(id, 1, "QUANTITY"), Variant(4));
  EXPECT_EQ(LineValue(id, 1, "PRODUCTPRICE"), Variant(11.25));
  EXPECT_EQ(LineValue(id, 1, "LINEAMOUNT"), Variant(45.0));
  EXPECT_EQ(LineValue(id, 2, "PRODUCTPRICE"), Variant(5.0));
  EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID = '" + id + "'"), 2);
  EXPECT_EQ(Header(id, "TOTALNETAMOUNT"), Variant(50.0));
  EXPECT_DOUBLE_EQ(Header(id, "SUBTOTAL").ToDouble(), 47.5);

  for (Variant bad : {Variant(0), Variant(-3), Variant("many"), Variant::Null()}) {
    SCOPED_TRACE(bad.IsNull() ? "Null" : bad.ToString());
    auto again = quotation_.Show(id, std::nullopt);
    Set(again, "lines")->MoveFirst();
    Variant a(again);
    // Text that is no number is refused by the record set already.
    EXPECT_NE(ErrorOf([&] {
                Set(again, "lines")->SetValue("QUANTITY", bad);
                quotation_.Save(a);
              }),
              0);
    EXPECT_EQ(LineValue(id, 1, "QUANTITY"), Variant(4));
  }
}

TEST_F(QuotationTest, SaveAsksTheErpAgainForAChangedBackEndPricedLine) {
  // Hallvard priced by the back end: the basket leaves the method to the partner.
  ExecCatalogue("UPDATE BUSINESSPARTNER SET PRICINGMETHOD = 2 WHERE BUSINESSPARTNERID = 1001", "Kelmor");
  const std::string id = Quote({{1, 1, Variant(4.0), Variant::Null(), "FA-M8X30"},
                                {2, 1, Variant(6.0), Variant::Null(), "FA-M8X30"}});
  ASSERT_EQ(Header(id, "PRICINGMETHOD").ToLong(), 2);
  ASSERT_EQ(LineValue(id, 2, "DISCOUNTPERC"), Variant(8.0));
  auto doc = quotation_.Show(id, std::nullopt);
  auto lines = Set(doc, "lines");
  lines->MoveLast();
  lines->SetValue("QUANTITY", Variant(2));  // 6 boxes in the order: below the 10 of the 8 %
  Variant v(doc);
  quotation_.Save(v);
  EXPECT_EQ(LineValue(id, 2, "DISCOUNTPERC"), Variant(5.0));
  EXPECT_EQ(LineValue(id, 1, "DISCOUNTPERC"), Variant(8.0));  // unchanged, not asked again
  EXPECT_NEAR(LineValue(id, 2, "LINEAMOUNT").ToDouble(), 2 * 12.4 * 0.95, 1e-9);
}

TEST_F(QuotationTest, CopyQuotationCopiesWhatCanStillBeSoldAndReportsTheRest) {
  const std::string id = Quote({{1, 1, Variant(1.0), Variant::Null(), "FA-M8X30"},
                                {2, 4, Variant(1.0), Variant::Null(), "FA-WSH-M8"},
                                {3, 5, Variant(1.0), Variant::Null(), "HY-PMP-200"}});
  auto values = Dictionary::New();
  values->Add("CUSTOMERREFERENCE", Variant("Copy for Stavanger"));
  values->Add("COMMENTS", Variant("Second site"));
  Variant fields(values);
  using A = platform::VariantArray;
  const int32_t before = Count("QUOTATIONHEADER");
  EXPECT_EQ(quotation_.CopyQuotation(id, fields, Variant(A{})), nullptr);
  EXPECT_EQ(Count("QUOTATIONHEADER"), before);

  ExecCatalogue("UPDATE PRODUCT SET DISABLED = 1 WHERE PRODUCTID = 4");
  auto rejected = quotation_.CopyQuotation(id, fields, Variant(A{Variant(2), Variant(3)}));
  ASSERT_NE(rejected, nullptr);
  EXPECT_EQ(rejected->Count(), 1);
  EXPECT_EQ(rejected->Item("FA-WSH-M8"), Variant("VendraError_ProductDisabled"));
  const Variant copy = Value("SELECT QUOTATIONID FROM QUOTATIONHEADER WHERE CUSTOMERREFERENCE = ?",
                             {Variant("Copy for Stavanger")});
  ASSERT_FALSE(copy.IsMissing());
  EXPECT_EQ(Header(copy.ToString(), "COMMENTS"), Variant("Second site"));
  EXPECT_EQ(LineValue(copy.ToString(), 1, "SKU"), Variant(5));
  EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID = '" + copy.ToString() + "'"), 1);

  // Nothing left to copy: nothing created, every part number reported.
  ExecCatalogue("UPDATE PRODUCT SET DISABLED = 1 WHERE PRODUCTID IN (1, 5)");
  rejected = quotation_.CopyQuotation(id, fields, std::nullopt);
  EXPECT_EQ(rejected->Count(), 3);
  EXPECT_EQ(Count("QUOTATIONHEADER"), before + 1);
}

TEST_F(QuotationTest, DeletingTheLastLineDeletesTheQuotation) {
  const std::string id = Quote({{1, 1, Variant(1.0)}, {3, 3, Variant(1.0)}});
  using A = platform::VariantArray;
  quotation_.DeleteLine(id, Variant(A{Variant(7)}));  // no such line
  EXPECT_TRUE(quotation_.CheckQuotationLinesPresent(id));
  quotation_.DeleteLine(id, Variant(A{Variant(1)}));
  EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID = '" + id + "'"), 1);
  quotation_.DeleteLine(id, Variant(A{Variant("2")}));
  EXPECT_FALSE(quotation_.CheckQuotationLinesPresent(id));
  EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID = '" + id + "'"), 0);

  const std::string a = Quote({{1, 1, Variant(1.0)}});
  const std::string b = Quote({{1, 1, Variant(1.0)}});
  // A bad id among them: refused before anything goes.
  EXPECT_NE(ErrorOf([&] { quotation_.Delete(Variant(A{Variant(a), Variant("bad\nid")})); }), 0);
  EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID IN ('" + a + "', '" + b + "')"), 2);
  quotation_.Delete(Variant(A{Variant(a), Variant(b)}));
  EXPECT_EQ(Count("QUOTATIONHEADER WHERE QUOTATIONID IN ('" + a + "', '" + b + "')"), 0);
  EXPECT_EQ(Count("QUOTATIONLINE WHERE QUOTATIONID IN ('" + a + "', '" + b + "')"), 0);
}

TEST_F(QuotationTest, AQuotationSubmittedAsAnOrderReachesTheErpAndIsMarkedCopied) {
  const std::string id = Quote({{1, 1, Variant(10.0), Variant::Null(), "FA-M8X30"},
                                {2, 5, Variant(2.0), Variant::Null(), "HY-PMP-200"}});
  auto doc = quotation_.Show(id, std::nullopt);
  doc->Add("origin", Variant(1));
  auto lines = Set(doc, "lines");
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) lines->SetValue("ADDRESSID", Variant(10012));
  Variant v(doc);
  Order().SubmitBasket(v);  // back-end instance 1 takes orders at once
  EXPECT_EQ(Header(id, "COPIEDTOORDER"), Variant(true));
  const Variant number = Value("SELECT SALESORDERNR FROM ORDERHEADER WHERE QUOTATIONID = ?", {Variant(id)});
  EXPECT_FALSE(number.IsMissing());
  EXPECT_NE(number.ToString(), "");
}

}  // namespace
}  // namespace vendra
