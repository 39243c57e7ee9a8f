// Kelmor.Currency against a demo instance: EUR is the home currency, USD and
// GBP have rates from 2024-01-01, 2025-01-01 and 2025-07-01.
#include "platform/services/currency.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Currency;
using platform::Date;
using platform::Variant;
namespace currency_err = platform::currency_err;

Currency Amount(const char* text) { return Currency::Parse(text); }

void ExecuteOnKelmor(const char* sql) {
  auto db = std::make_shared<platform::data::Connection>();
  db->Open("Provider=SQLite;Data Source=data;Initial Catalog=Kelmor");
  db->Execute(sql);
  db->Close();
}

int32_t FailureNumber(const std::function<void()>& work) {
  try {
    work();
  } catch (const platform::ComError& e) {
    return e.number();
  }
  return 0;
}

class CurrencyTest : public vendra_test::InstanceTest {
 protected:
  Currency Convert(const char* from, const char* to, const char* amount, Date day) {
    Variant date(day);
    return currency_.ConvertAmount(from, to, Amount(amount), date);
  }
  platform::CurrencyService currency_;
};

TEST_F(CurrencyTest, InfoTellsEuroLocaleAndDecimals) {
  auto eur = currency_.GetCurrencyInfo("EUR");
  EXPECT_TRUE(eur->Item("EURO").ToBool());
  EXPECT_TRUE(eur->Item("LOCALEID").IsNull());
  EXPECT_EQ(eur->Item("DECIMALS").ToLong(), 2);

  auto usd = currency_.GetCurrencyInfo(" usd ");  // codes as pages send them
  EXPECT_EQ(usd->Item("CURRENCYCODE").ToString(), "USD");
  EXPECT_EQ(usd->Item("EURO").type(), platform::VarType::Boolean);
  EXPECT_FALSE(usd->Item("EURO").ToBool());
  EXPECT_EQ(usd->Item("LOCALEID").ToLong(), 1033);
  EXPECT_EQ(usd->Item("NAME").ToString(), "US Dollar");
}

TEST_F(CurrencyTest, UnknownCurrencyFailsNamingIt) {
  try {
    currency_.GetCurrencyInfo("XYZ");
    FAIL() << "an unknown currency must fail";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), currency_err::kCurrencyNotFound);
    EXPECT_EQ(e.source(), "Kelmor.Currency");
    EXPECT_NE(e.description().find("XYZ"), std::string::npos);
  }
}

TEST_F(CurrencyTest, HomeCurrencyIsEuroOrNothingWhenUnset) {
  auto home = currency_.GetHomeCurrency();
  ASSERT_TRUE(home);
  EXPECT_EQ(home->Item("CURRENCYCODE").ToString(), "EUR");
  EXPECT_TRUE(home->Item("EURO").ToBool());

  ExecuteOnKelmor("DELETE FROM HOMECURRENCY");
  EXPECT_EQ(currency_.GetHomeCurrency(), nullptr);
  EXPECT_EQ(FailureNumber([&] { Convert("USD", "GBP", "1", Date::FromParts(2025, 3, 1)); }),
            currency_err::kHomeCurrencyNotSet);
}

TEST_F(CurrencyTest, TakesTheLatestRateOnOrBeforeTheDay) {
  EXPECT_EQ(Convert("EUR", "USD", "100", Date::FromParts(2024, 12, 31)), Amount("110"));
  EXPECT_EQ(Convert("EUR", "USD", "100", Date::FromParts(2025, 1, 1)), Amount("104"));
  EXPECT_EQ(Convert("EUR", "USD", "100", Date::FromParts(2025, 6, 30, 23, 59)), Amount("104"));
  EXPECT_EQ(Convert("EUR", "USD", "100", Date::FromParts(2025, 7, 1)), Amount("117"));
  EXPECT_EQ(Convert("USD", "EUR", "104", Date::FromParts(2025, 3, 1)), Amount("100"));
  // A rate published during the day counts for the whole day.
  ExecuteOnKelmor(
      "INSERT INTO EXCHANGERATE (CURRENCYCODE, EFFECTIVEDATE, RATE) "
      "VALUES ('USD', '2025-03-05T12:00:00', 1.25)");
  EXPECT_EQ(Convert("EUR", "USD", "100", Date::FromParts(2025, 3, 5)), Amount("125"));
  EXPECT_EQ(Convert("EUR", "USD", "100", Date::FromParts(2025, 3, 4)), Amount("104"));
}

TEST_F(CurrencyTest, TriangulatesThroughTheHomeCurrencyAndRoundsOnce) {
  // 104 USD = 100 EUR = 83 GBP on 2025-03-01.
  EXPECT_EQ(Convert("USD", "GBP", "104", Date::FromParts(2025, 3, 1)), Amount("83"));
  // 1 USD = 0.854700... EUR at 1.17: four decimals, half to even, once.
  EXPECT_EQ(Convert("USD", "EUR", "1", Date::FromParts(2025, 7, 1)), Amount("0.8547"));
  EXPECT_EQ(Convert("USD", "GBP", "1", Date::FromParts(2025, 7, 1)), Amount("0.7265"));
}

TEST_F(CurrencyTest, ADayBeforeAnyRateFails) {
  try {
    Convert("EUR", "GBP", "10", Date::FromParts(2023, 12, 31));
    FAIL() << "no rate, no conversion";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), currency_err::kRateNotFound);
    EXPECT_NE(e.description().find("GBP"), std::string::npos);
    EXPECT_NE(e.description().find("2023-12-31"), std::string::npos);
  }
  EXPECT_EQ(FailureNumber([&] { Convert("XYZ", "EUR", "10", Date::FromParts(2025, 3, 1)); }),
            currency_err::kCurrencyNotFound);
}

TEST_F(CurrencyTest, SameOrUnstatedCurrencyKeepsTheAmount) {
  const Date day = Date::FromParts(2020, 1, 1);  // no rate needed, none exists
  EXPECT_EQ(Convert("usd", "USD", "12.3456", day), Amount("12.3456"));
  EXPECT_EQ(Convert("", "GBP", "7.5", day), Amount("7.5"));
  EXPECT_EQ(Convert("GBP", " ", "7.5", day), Amount("7.5"));
}

TEST_F(CurrencyTest, NoDateMeansToday) {
  platform::ScopedFixedClock clock(Date::FromParts(2025, 3, 1, 15, 0));
  Variant no_date;
  EXPECT_EQ(currency_.ConvertAmount("EUR", "GBP", Amount("10"), no_date), Amount("8.3"));
}

TEST_F(CurrencyTest, ConvertToTakesPriceAndDiscountFromTheHomeCurrency) {
  Variant home(currency_.GetHomeCurrency());
  Variant target("GBP");
  Variant date(Date::FromParts(2025, 3, 1));
  auto result = currency_.ConvertTo(home, target, Amount("100"), Amount("10"), date);
  EXPECT_EQ(result->Item("PRICE").ToCurrency(), Amount("83"));
  EXPECT_EQ(result->Item("DISCOUNTAMOUNT").ToCurrency(), Amount("8.3"));
  EXPECT_EQ(target.ToString(), "GBP");  // the by-reference arguments come back as they went
}

TEST_F(CurrencyTest, LateBoundCallsTakeDoublesAndDatesByReference) {
  auto currency = platform::CreateObject("Kelmor.Currency");
  std::vector<Variant> args{Variant("USD"), Variant("EUR"), Variant(20.8),
                            Variant(Date::FromParts(2025, 3, 1))};
  const Variant amount = platform::CallRef(currency, "ConvertAmount", args);
  EXPECT_EQ(amount.ToCurrency(), Amount("20"));
  EXPECT_EQ(args[3].ToDate(), Date::FromParts(2025, 3, 1));
  auto info = platform::Call(currency, "GetCurrencyInfo", {Variant("GBP")}).As<platform::Dictionary>();
  EXPECT_EQ(info->Item("LOCALEID").ToLong(), 2057);
  platform::Call(currency, "ReleaseCurrency");
}

}  // namespace
