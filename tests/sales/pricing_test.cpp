// Vendra.Pricing: every validation number in its order, the range checks of
// the price groups (open-ended rows included), the referential check, rows
// stored and read back with their decimals, and the web price with its
// currency conversion observed through a recording Kelmor.Currency.
#include "sales/pricing/pricing.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "platform/services/currency.h"
#include "platform/services/referential_checker.h"
#include "shared/components.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Date;
using platform::Variant;
using vendra::Pricing;
using vendra_test::ErrorOf;
using vendra_test::Failure;

int32_t Code(int n) { return static_cast<int32_t>(0x80040000u + static_cast<uint32_t>(n)); }

class PricingTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override {
    db_ = std::make_shared<platform::data::Connection>();
    db_->Open(lib_sales::Sls_ConnectionString());
  }
  void TearDown() override { db_->Close(); }

  // A valid product-list row for product 3 in GBP (the demo has none).
  static void Valid(Pricing& p) {
    p.SetProductID(Variant(3));
    p.SetCurrencyCode(Variant("GBP"));
    p.SetEffectiveDate(Variant(Date::FromParts(2026, 1, 1)));
    p.SetExpiryDate(Variant::Null());
    p.SetPrice(Variant(7.5));
    p.SetDiscountPercent(Variant(0.0));
    p.SetDiscountAmount(Variant::Null());
  }

  int32_t Rows(const std::string& where) {
    return db_->Execute("SELECT COUNT(*) FROM " + where)->fields()[0].Value().ToLong();
  }

  std::shared_ptr<platform::data::Connection> db_;
};

// --- ValidatePricing -------------------------------------------------------------

TEST_F(PricingTest, EveryValidationNumberInItsOrder) {
  struct Case {
    const char* what;
    std::function<void(Pricing&)> change;
    bool customer;
    int number;  // 0: passes
  };
  const Variant empty;
  const Variant null = Variant::Null();
  const Case cases[] = {
      {"valid", [](Pricing&) {}, false, 0},
      {"no product", [&](Pricing& p) { p.SetProductID(empty); }, false, 304},
      {"null product before everything",
       [&](Pricing& p) { p.SetProductID(null); p.SetCurrencyCode(empty); p.SetPrice(null); },
       false, 304},
      {"no effective date", [&](Pricing& p) { p.SetEffectiveDate(Variant("")); }, false, 314},
      {"no currency", [&](Pricing& p) { p.SetCurrencyCode(null); }, false, 303},
      {"no price", [&](Pricing& p) { p.SetPrice(empty); }, false, 320},
      {"discount amount never set", [&](Pricing& p) { p.SetDiscountAmount(empty); }, false, 321},
      {"discount percent empty text", [&](Pricing& p) { p.SetDiscountPercent(Variant("")); },
       false, 321},
      {"expiry never set", [&](Pricing& p) { p.SetExpiryDate(empty); }, false, 319},
      {"customer list without partner", [](Pricing&) {}, true, 301},
      {"partner null", [&](Pricing& p) { p.SetBusinessPartnerID(null); }, true, 301},
      {"effective date no date", [&](Pricing& p) { p.SetEffectiveDate(Variant("soon")); }, false,
       322},
      {"effective date before 1753",
       [&](Pricing& p) { p.SetEffectiveDate(Variant(Date::FromParts(1752, 12, 31))); }, false, 322},
      {"effective date a number", [&](Pricing& p) { p.SetEffectiveDate(Variant(46000)); }, false,
       322},
      {"expiry no date", [&](Pricing& p) { p.SetExpiryDate(Variant("2026-02-30")); }, false, 323},
      {"price no number", [&](Pricing& p) { p.SetPrice(Variant("12,50")); }, false, 324},
      {"price below 0", [&](Pricing& p) { p.SetPrice(Variant(-0.01)); }, false, 324},
      {"price beyond the column", [&](Pricing& p) { p.SetPrice(Variant(1e12)); }, false, 324},
      {"percent above 100", [&](Pricing& p) { p.SetDiscountPercent(Variant(100.5)); }, false, 325},
      {"percent no number", [&](Pricing& p) { p.SetDiscountPercent(Variant("ten")); }, false, 325},
      {"percent on a free product",
       [&](Pricing& p) { p.SetPrice(Variant(0.0)); p.SetDiscountPercent(Variant(5.0)); }, false,
       325},
      {"free product, no discounts",
       [&](Pricing& p) { p.SetPrice(Variant(0.0)); p.SetDiscountAmount(Variant(0.0)); }, false, 0},
      {"amount above the price", [&](Pricing& p) { p.SetDiscountAmount(Variant(7.51)); }, false,
       326},
      {"amount no number", [&](Pricing& p) { p.SetDiscountAmount(Variant("--")); }, false, 326},
      {"both discounts",
       [&](Pricing& p) { p.SetDiscountPercent(Variant(10.0)); p.SetDiscountAmount(Variant(2.0)); },
       false, 327},
      {"one discount 0",
       [&](Pricing& p) { p.SetDiscountPercent(Variant(0.0)); p.SetDiscountAmount(Variant(2.0)); },
       false, 0},
      {"effective on expiry",
       [&](Pricing& p) { p.SetExpiryDate(Variant(Date::FromParts(2026, 1, 1))); }, false, 329},
      {"effective after expiry", [&](Pricing& p) { p.SetExpiryDate(Variant("2025-12-31")); },
       false, 329},
      {"texts that read as values",
       [&](Pricing& p) {
         p.SetProductID(Variant("3"));
         p.SetPrice(Variant("7.5"));
         p.SetExpiryDate(Variant("2026-06-01"));
       },
       false, 0},
  };
  for (const Case& c : cases) {
    Pricing p;
    Valid(p);
    c.change(p);
    SCOPED_TRACE(c.what);
    const int32_t number = ErrorOf([&] { p.ValidatePricing(c.customer); });
    EXPECT_EQ(number, c.number ? Code(c.number) : 0);
    // Every public maintenance operation reports the same number, and a
    // refused row is not stored.
    if (c.number) {
      EXPECT_EQ(ErrorOf([&] { p.AddPricing(c.customer); }), Code(c.number));
      EXPECT_EQ(ErrorOf([&] { p.UpdatePricing(c.customer); }), Code(c.number));
    }
  }
  EXPECT_EQ(Rows("PRODUCTPRICE WHERE CURRENCYCODE = 'GBP'"), 0);
}

// --- Storing and reading rows ----------------------------------------------------

TEST_F(PricingTest, AProductPriceIsStoredAndReadBackEqual) {
  Pricing p;
  Valid(p);
  p.SetPrice(Variant(0.1 + 0.2));  // no float drift into the stored price
  p.SetDiscountAmount(Variant(0.123456786));
  p.SetDiscountPercent(Variant::Null());
  ASSERT_TRUE(p.AddPricing(false));
  // The properties stay as the caller set them, the open expiry included.
  EXPECT_TRUE(p.ExpiryDate().IsNull());
  EXPECT_EQ(Rows("PRODUCTPRICE WHERE PRODUCTID = 3 AND CURRENCYCODE = 'GBP' AND EXPIRYDATE IS NULL"),
            1);

  Pricing read;
  read.SetBusinessPartnerID(Variant(77));
  ASSERT_TRUE(read.GetProductPrice(3, Date::FromParts(2026, 1, 1), "GBP"));
  EXPECT_EQ(read.ProductID().ToLong(), 3);
  EXPECT_EQ(read.CurrencyCode().ToString(), "GBP");
  EXPECT_EQ(read.EffectiveDate().ToDate(), Date::FromParts(2026, 1, 1));
  EXPECT_TRUE(read.ExpiryDate().IsNull());
  EXPECT_EQ(read.Price().ToDouble(), 0.3);
  EXPECT_EQ(read.DiscountAmount().ToDouble(), 0.12345679);  // scale 8
  EXPECT_EQ(read.DiscountPercent().ToDouble(), 0.0);         // null loads as 0
  EXPECT_EQ(read.BusinessPartnerID().ToLong(), 77);          // left as it was

  // One second off the stored effective date is another row.
  EXPECT_EQ(ErrorOf([&] { read.GetProductPrice(3, Date::FromParts(2026, 1, 1, 0, 0, 1), "GBP"); }),
            Code(316));
}

TEST_F(PricingTest, ACustomerPriceIsUpdatedReadAndDeleted) {
  Pricing p;
  Valid(p);
  p.SetBusinessPartnerID(Variant(1001));
  p.SetExpiryDate(Variant(Date::FromParts(2026, 7, 1)));
  ASSERT_TRUE(p.AddPricing(true));
  p.SetPrice(Variant(6.25));
  p.SetDiscountPercent(Variant(2.5));
  ASSERT_TRUE(p.UpdatePricing(true));

  Pricing read;
  ASSERT_TRUE(read.GetCustomerPrice(3, 1001, Date::FromParts(2026, 1, 1), "GBP"));
  EXPECT_EQ(read.Price().ToDouble(), 6.25);
  EXPECT_EQ(read.DiscountPercent().ToDouble(), 2.5);
  EXPECT_EQ(read.ExpiryDate().ToDate(), Date::FromParts(2026, 7, 1));
  EXPECT_EQ(read.BusinessPartnerID().ToLong(), 1001);

  ASSERT_TRUE(p.DeletePricing(true));
  EXPECT_EQ(ErrorOf([&] { read.GetCustomerPrice(3, 1001, Date::FromParts(2026, 1, 1), "GBP"); }),
            Code(315));
  ASSERT_TRUE(p.DeletePricing(true));  // nothing left to delete is no failure

  Pricing missing;
  EXPECT_EQ(ErrorOf([&] { missing.DeletePricing(false); }), Code(304));
  missing.SetProductID(Variant(3));
  missing.SetEffectiveDate(Variant("2026-01-01"));
  missing.SetCurrencyCode(Variant("GBP"));
  EXPECT_EQ(ErrorOf([&] { missing.DeletePricing(true); }), Code(301));
}

// --- Range checks ----------------------------------------------------------------

TEST_F(PricingTest, RangesOfAPriceGroupNeverOverlap) {
  // Stored: product 3 in GBP from 2026-01-01 to 2026-07-01, and open-ended
  // from 2027-01-01.
  auto add = [](const char* from, const Variant& to) {
    Pricing p;
    Valid(p);
    p.SetEffectiveDate(Variant(from));
    p.SetExpiryDate(to);
    return ErrorOf([&] { p.AddPricing(false); });
  };
  ASSERT_EQ(add("2026-01-01", Variant("2026-07-01")), 0);
  ASSERT_EQ(add("2027-01-01", Variant::Null()), 0);
  struct Case {
    const char* from;
    Variant to;
    int number;
  };
  const Case cases[] = {
      {"2026-01-01", Variant("2026-02-01"), 328},  // same start
      {"2026-03-01", Variant("2026-04-01"), 328},  // inside
      {"2025-06-01", Variant("2026-01-01"), 328},  // ends on a later row's start
      {"2025-06-01", Variant::Null(), 328},        // open-ended before stored rows
      {"2027-01-01", Variant::Null(), 328},        // same start as the open-ended row
      {"2028-01-01", Variant("2028-02-01"), 328},  // inside the open-ended row
      {"2026-12-01", Variant("2027-01-02"), 328},  // runs into the open-ended row
      {"2025-06-01", Variant("2025-12-31"), 0},    // before everything
      {"2026-07-01", Variant("2026-12-31"), 0},    // starts at an expiry: expiry is exclusive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(add(c.from, c.to), c.number ? Code(c.number) : 0);
  }
  // The same dates in another currency, or for a partner, are another group.
  Pricing other;
  Valid(other);
  other.SetCurrencyCode(Variant("USD"));
  EXPECT_TRUE(other.AddPricing(false));
  Valid(other);
  other.SetBusinessPartnerID(Variant(1001));
  EXPECT_TRUE(other.AddPricing(true));
}

TEST_F(PricingTest, TheRangeErrorNamesItsQueryAndAnUpdateMayNotReachALaterRow) {
  Pricing p;
  Valid(p);
  p.SetExpiryDate(Variant("2026-07-01"));
  ASSERT_TRUE(p.AddPricing(false));
  Pricing later;
  Valid(later);
  later.SetEffectiveDate(Variant("2026-09-01"));
  ASSERT_TRUE(later.AddPricing(false));

  Pricing overlap;
  Valid(overlap);
  overlap.SetEffectiveDate(Variant("2026-02-01"));
  const platform::ComError e = Failure([&] { overlap.AddPricing(false); });
  EXPECT_EQ(e.number(), Code(328));
  EXPECT_EQ(e.source(), "Pricing.AddPricing");
  EXPECT_NE(e.description().find(
                "VendraError.EffectiveDateRange: SELECT PRODUCTID FROM PRODUCTPRICE WHERE "
                "PRODUCTID = 3 AND CURRENCYCODE = 'GBP' AND ((EFFECTIVEDATE <= "
                "'2026-02-01T00:00:00' AND (EXPIRYDATE IS NULL OR EXPIRYDATE > "
                "'2026-02-01T00:00:00')) OR (EFFECTIVEDATE >= '2026-02-01T00:00:00' AND "
                "(EFFECTIVEDATE <= '9999-12-31T00:00:00')))"),
            std::string::npos)
      << e.description();
  EXPECT_TRUE(overlap.ExpiryDate().IsNull());  // the substitute stays inside the query

  p.SetExpiryDate(Variant("2026-09-01"));  // up to the later row's start: inclusive, refused
  EXPECT_EQ(ErrorOf([&] { p.UpdatePricing(false); }), Code(328));
  p.SetExpiryDate(Variant::Null());
  EXPECT_EQ(ErrorOf([&] { p.UpdatePricing(false); }), Code(328));
  p.SetExpiryDate(Variant("2026-08-31"));
  EXPECT_TRUE(p.UpdatePricing(false));
}

// --- Referential check and hostile values ------------------------------------------------

TEST_F(PricingTest, RowsForMasterDataThatDoesNotExistAreRefused) {
  struct Case {
    int32_t product;
    Variant partner;
    const char* currency;
    const char* description;
  };
  const Case cases[] = {
      {999, Variant(), "EUR", "ReferentialInsert PRODUCTID=999, CURRENCYCODE=EUR"},
      {3, Variant(4242), "EUR", "ReferentialInsert PRODUCTID=3, BUSINESSPARTNERID=4242, CURRENCYCODE=EUR"},
      {3, Variant(), "XXX", "ReferentialInsert PRODUCTID=3, CURRENCYCODE=XXX"},
      {3, Variant(), "EU'R", "ReferentialInsert PRODUCTID=3, CURRENCYCODE=EU'R"},
      {3, Variant(), "EUR' OR '1'='1", "ReferentialInsert PRODUCTID=3, CURRENCYCODE=EUR' OR '1'='1"},
  };
  for (const Case& c : cases) {
    Pricing p;
    Valid(p);
    p.SetProductID(Variant(c.product));
    p.SetCurrencyCode(Variant(c.currency));
    p.SetEffectiveDate(Variant("2030-01-01"));
    p.SetBusinessPartnerID(c.partner);
    const platform::ComError e = Failure([&] { p.AddPricing(!c.partner.IsEmpty()); });
    EXPECT_EQ(e.number(), Code(307));
    EXPECT_NE(e.description().find(c.description), std::string::npos) << e.description();
  }
  EXPECT_EQ(Rows("PRODUCTPRICE WHERE EFFECTIVEDATE >= '2030-01-01'"), 0);
  EXPECT_EQ(Rows("CUSTOMERPRICE WHERE EFFECTIVEDATE >= '2030-01-02'"), 0);
}

TEST_F(PricingTest, IdsThatAreNoNumbersAreRefusedBeforeTheDatabase) {
  Pricing p;
  Valid(p);
  p.SetProductID(Variant("3; DELETE FROM PRODUCTPRICE"));
  EXPECT_EQ(ErrorOf([&] { p.AddPricing(false); }), 13);
  EXPECT_EQ(ErrorOf([&] { p.DeletePricing(false); }), 13);
  EXPECT_GT(Rows("PRODUCTPRICE"), 0);
}

TEST_F(PricingTest, ADatabaseFailureCarriesTheConnectionsErrorsAndStoresNothing) {
  for (int32_t failing : {1, 4}) {  // the range query; the insert (after two referential reads)
    Pricing p;
    Valid(p);
    platform::data::ScopedFault fault(failing);
    const platform::ComError e = Failure([&] { p.AddPricing(false); });
    EXPECT_EQ(e.source().empty(), false);
    EXPECT_NE(e.description().find(" METHOD: Pricing.AddPricing"), std::string::npos);
    EXPECT_NE(e.description().find(" INFO: Error(s) from connection object"), std::string::npos)
        << failing << e.description();
  }
  EXPECT_EQ(Rows("PRODUCTPRICE WHERE CURRENCYCODE = 'GBP'"), 0);
}

TEST(ReferentialCheckerTest, AnswersFromCatalogueAndPartnerData) {
  vendra_test::TestInstance instance;
  platform::ReferentialChecker checker;
  using A = platform::VariantArray;
  auto check = [&](const char* table, A columns, A values) {
    return checker.CheckReferentialInsert(table, Variant(std::move(columns)),
                                          Variant(std::move(values)));
  };
  EXPECT_TRUE(check("PRODUCTPRICE", {Variant("PRODUCTID"), Variant("CURRENCYCODE")},
                    {Variant(5), Variant("usd")}));
  EXPECT_FALSE(check("PRODUCTPRICE", {Variant("productid")}, {Variant(21)}));
  EXPECT_FALSE(check("PRODUCTPRICE", {Variant("PRODUCTID")}, {Variant("five")}));
  EXPECT_TRUE(check("PRODUCT", {Variant("PRODUCTID")}, {Variant(21)}));  // a new product
  EXPECT_TRUE(check("CUSTOMERSETTING", {Variant("BUSINESSPARTNERID"), Variant("CARRIERCODE")},
                    {Variant("1003"), Variant("DSV")}));
  EXPECT_FALSE(check("CUSTOMERSETTING", {Variant("CARRIERCODE")}, {Variant("FEDEX")}));
  EXPECT_TRUE(check("ZONES", {Variant("ZONEID"), Variant("TAXCODE")}, {Variant(1), Variant("02")}));
  EXPECT_TRUE(check("ANY", {Variant("USERID")}, {Variant::Null()}));
  EXPECT_EQ(ErrorOf([&] { check("ANY", {Variant("USERID")}, {}); }), 5);
}

// --- The web price ----------------------------------------------------------------

// Kelmor.Currency as a test observes it: every call recorded, rates fixed per
// euro (USD 2, GBP 0.5), the home currency EUR unless told otherwise.
struct CurrencyCalls {
  int created = 0;
  std::vector<std::string> calls;
  bool no_home = false;
};

class RecordingCurrency : public platform::Dispatchable<RecordingCurrency> {
 public:
  static const platform::ClassBinding<RecordingCurrency>& Binding() {
    static const auto b = platform::ClassBinding<RecordingCurrency>("Currency")
                              .Method("GetHomeCurrency", &RecordingCurrency::GetHomeCurrency)
                              .Method("ConvertAmount", &RecordingCurrency::ConvertAmount)
                              .Method("ConvertTo", &RecordingCurrency::ConvertTo);
    return b;
  }
  Variant GetHomeCurrency() {
    record->calls.push_back("GetHomeCurrency");
    if (record->no_home) return Variant(platform::ObjectPtr());
    auto home = platform::Dictionary::New();
    home->Add("CURRENCYCODE", Variant("EUR"));
    return Variant(home);
  }
  static double Rate(const std::string& code) {
    return code == "USD" || code == "usd" ? 2.0 : code == "GBP" ? 0.5 : 1.0;
  }
  double ConvertAmount(const std::string& from, const std::string& to, double amount,
                       Variant& date) {
    record->calls.push_back("ConvertAmount " + from + ">" + to + " " + platform::FormatDouble(amount) +
                            " " + date.ToDate().ToIso());
    return amount / Rate(from) * Rate(to);
  }
  Variant ConvertTo(Variant& home, Variant& target, double price, double discount, Variant& date) {
    record->calls.push_back("ConvertTo " + home.As<platform::Dictionary>()->Item("CURRENCYCODE").ToString() +
                            ">" + target.ToString() + " " + platform::FormatDouble(price) + " " +
                            platform::FormatDouble(discount));
    auto result = platform::Dictionary::New();
    result->Add("PRICE", Variant(price * Rate(target.ToString())));
    result->Add("DISCOUNTAMOUNT", Variant(discount * Rate(target.ToString())));
    return Variant(result);
  }
  std::shared_ptr<CurrencyCalls> record;
};

class WebPriceTest : public PricingTest {
 protected:
  std::shared_ptr<CurrencyCalls> calls_ = std::make_shared<CurrencyCalls>();
  platform::ScopedRegistration currency_{"Kelmor.Currency", [r = calls_] {
                                           ++r->created;
                                           auto c = std::make_shared<RecordingCurrency>();
                                           c->record = r;
                                           return platform::ObjectPtr(c);
                                         }};
  const Date today_ = Date::FromParts(2026, 3, 2);
};

TEST_F(WebPriceTest, TheConversionPathDependsOnTheRowsCurrency) {
  Pricing p;
  // A row in the requested currency: nothing converted (product 12 has USD).
  ASSERT_TRUE(p.GetWebPrice(12, 1002, today_, "USD"));
  EXPECT_EQ(p.Price().ToDouble(), 209);
  EXPECT_EQ(p.CurrencyCode().ToString(), "USD");
  EXPECT_EQ(calls_->calls, std::vector<std::string>{"GetHomeCurrency"});

  // A row in the home currency asked in another: one ConvertTo.
  calls_->calls.clear();
  ASSERT_TRUE(p.GetWebPrice(8, 1002, today_, "GBP"));
  EXPECT_EQ(calls_->calls,
            (std::vector<std::string>{"GetHomeCurrency", "ConvertTo EUR>GBP 176.5 10"}));
  EXPECT_EQ(p.Price().ToDouble(), 88.25);
  EXPECT_EQ(p.DiscountAmount().ToDouble(), 5);
  EXPECT_EQ(p.CurrencyCode().ToString(), "GBP");
  EXPECT_TRUE(p.BusinessPartnerID().IsNull());  // a product-list row
  EXPECT_EQ(p.EffectiveDate().ToDate(), Date::FromParts(2024, 1, 1));

  // A row neither asked for nor in the home currency ("USD" for "usd"): to
  // the home currency first, price then discount, then ConvertTo.
  calls_->calls.clear();
  ASSERT_TRUE(p.GetWebPrice(12, 1002, today_, "usd"));
  EXPECT_EQ(calls_->calls,
            (std::vector<std::string>{"GetHomeCurrency",
                                      "ConvertAmount USD>EUR 209 2026-03-02T00:00:00",
                                      "ConvertAmount USD>EUR 0 2026-03-02T00:00:00",
                                      "ConvertTo EUR>usd 104.5 0"}));
  EXPECT_EQ(p.Price().ToDouble(), 209);
  EXPECT_EQ(p.CurrencyCode().ToString(), "usd");
  // The currency component is created once for the object's life.
  EXPECT_EQ(calls_->created, 1);
}

TEST_F(WebPriceTest, ACustomerPriceWinsAndNoPriceIsFalse) {
  Pricing p;
  ASSERT_TRUE(p.GetWebPrice(1, 1001, today_, "EUR"));
  EXPECT_EQ(p.Price().ToDouble(), 11.25);
  EXPECT_EQ(p.BusinessPartnerID().ToLong(), 1001);
  ASSERT_TRUE(p.GetWebPrice(1, 1003, today_, "EUR"));
  EXPECT_EQ(p.Price().ToDouble(), 12.5);

  p.SetPrice(Variant("kept"));
  EXPECT_FALSE(p.GetWebPrice(999, 1001, today_, "EUR"));
  EXPECT_FALSE(p.GetWebPrice(5, 1003, Date::FromParts(2023, 12, 31), "EUR"));  // before any row
  EXPECT_EQ(p.Price().ToString(), "kept");
}

TEST_F(WebPriceTest, NoHomeCurrencyFailsBeforeTheDatabase) {
  calls_->no_home = true;
  Pricing p;
  platform::data::FaultInjection::Disable();  // counts the statements from here
  const platform::ComError e = Failure([&] { p.GetWebPrice(1, 1001, today_, "EUR"); });
  EXPECT_EQ(platform::data::FaultInjection::StatementsSeen(), 0);
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x80040131u));
  EXPECT_NE(e.description().find("HomeCurrencyNotFound"), std::string::npos);
  EXPECT_NE(e.description().find("Pricing.GetWebPrice"), std::string::npos);
}

TEST_F(PricingTest, LateBoundWithTheRealCurrencyConversion) {
  // Properties set, operations called and properties read by name, as a page does.
  platform::ObjectPtr pricing = platform::CreateObject("Vendra.Pricing");
  const Date day = platform::Clock::Today();
  ASSERT_TRUE(platform::Call(pricing, "GetWebPrice",
                             {Variant(1), Variant(1002), Variant(day), Variant("USD")})
                  .ToBool());
  platform::CurrencyService currency;
  const double rate = currency.RateOn("USD", day);
  EXPECT_NEAR(platform::GetProperty(pricing, "Price").ToDouble(), 12.5 * rate, 0.00005);
  EXPECT_EQ(platform::GetProperty(pricing, "CurrencyCode").ToString(), "USD");

  platform::ObjectPtr maintenance = platform::CreateObject("Vendra.Pricing");
  platform::SetProperty(maintenance, "ProductID", Variant(4));
  platform::SetProperty(maintenance, "EffectiveDate", Variant("2031-01-01"));
  platform::SetProperty(maintenance, "Price", Variant(3.5));
  platform::SetProperty(maintenance, "DiscountPercent", Variant(0.0));
  platform::SetProperty(maintenance, "DiscountAmount", Variant(0.0));
  platform::SetProperty(maintenance, "ExpiryDate", Variant::Null());
  EXPECT_EQ(ErrorOf([&] { platform::Call(maintenance, "AddPricing", {Variant(false)}); }), Code(303));
  platform::SetProperty(maintenance, "CurrencyCode", Variant("EUR"));
  platform::SetProperty(maintenance, "DiscountPercent", Variant(5.0));
  platform::SetProperty(maintenance, "DiscountAmount", Variant(1.0));
  EXPECT_EQ(ErrorOf([&] { platform::Call(maintenance, "AddPricing", {Variant(false)}); }), Code(327));
  // The demo's euro price of product 4 is open-ended: a later euro row overlaps it.
  platform::SetProperty(maintenance, "DiscountAmount", Variant(0.0));
  EXPECT_EQ(ErrorOf([&] { platform::Call(maintenance, "AddPricing", {Variant(false)}); }), Code(328));
  platform::SetProperty(maintenance, "CurrencyCode", Variant("GBP"));
  EXPECT_TRUE(platform::Call(maintenance, "AddPricing", {Variant(false)}).ToBool());
  EXPECT_TRUE(platform::Call(maintenance, "GetProductPrice",
                             {Variant(4), Variant(Date::FromParts(2031, 1, 1)), Variant("GBP")})
                  .ToBool());
  EXPECT_EQ(platform::GetProperty(maintenance, "Price").ToDouble(), 3.5);
  EXPECT_EQ(platform::GetProperty(maintenance, "DiscountPercent").ToDouble(), 5.0);
}

}  // namespace
