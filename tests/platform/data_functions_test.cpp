// Locale formatting on ICU 72 (Debian 12). The expected texts are what that
// ICU gives, separators included: a newer ICU that changes a locale's data
// shows up here first.
#include "platform/services/data_functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/host/registry.h"
#include "platform/services/locale_ids.h"

namespace platform {
namespace {

const std::string kNbsp = "\u00A0";        // no-break space
const std::string kNarrowNbsp = "\u202F";  // narrow no-break space
const std::string kMinus = "\u2212";       // minus sign

// An empty description checks the number only (the Variant rules own those texts).
void ExpectComError(const std::function<void()>& work, int32_t number,
                    const std::string& description = {}) {
  try {
    work();
    ADD_FAILURE() << "no error raised, expected " << number;
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), number);
    if (!description.empty()) {
      EXPECT_EQ(e.description(), description);
    }
  }
}

TEST(LocaleIds, MapsTheShopLocalesToIcuTags) {
  EXPECT_EQ(IcuLocaleForLcid(1033), "en-US");
  EXPECT_EQ(IcuLocaleForLcid(2057), "en-GB");
  EXPECT_EQ(IcuLocaleForLcid(3079), "de-AT");
  EXPECT_EQ(IcuLocaleForLcid(4108), "fr-CH");
  EXPECT_EQ(IcuLocaleForLcid(1034), "es-ES");
  EXPECT_EQ(IcuLocaleForLcid(3082), "es-ES");
  for (int32_t lcid : {1033, 2057, 1031, 3079, 2055, 1036, 2060, 4108, 1043, 2067, 1040,
                       1034, 3082, 1053, 1030, 1044, 1035, 1045, 1029, 1038, 2070, 1046,
                       1041, 2052, 1049, 4105, 3081, 1055}) {
    EXPECT_TRUE(FindIcuLocaleForLcid(lcid).has_value()) << lcid;
  }
}

TEST(LocaleIds, UnknownIdIsAnErrorNotAFallback) {
  EXPECT_FALSE(FindIcuLocaleForLcid(0).has_value());
  EXPECT_FALSE(FindIcuLocaleForLcid(1037).has_value());
  ExpectComError([] { IcuLocaleForLcid(9999); }, err::kInvalidProcedureCall,
                 "Unknown locale id: 9999");
  ExpectComError([] { IcuLocaleForLcid(-1); }, err::kInvalidProcedureCall,
                 "Unknown locale id: -1");
}

class DataFunctionsTest : public testing::Test {
 protected:
  DataFunctions df_;
  const Date new_years_eve_ = Date::FromParts(2000, 12, 31);
  const Date afternoon_ = Date::FromParts(2000, 12, 31, 14, 30, 5);
};

TEST_F(DataFunctionsTest, ShortDateKeepsEachLocalesPattern) {
  EXPECT_EQ(df_.DateTime(new_years_eve_, 1033, std::nullopt), "12/31/00");
  EXPECT_EQ(df_.DateTime(new_years_eve_, 1031, std::nullopt), "31.12.00");
  EXPECT_EQ(df_.DateTime(new_years_eve_, 2057, std::nullopt), "31/12/2000");
  EXPECT_EQ(df_.DateTime(new_years_eve_, 1053, false), "2000-12-31");
  EXPECT_EQ(df_.DateTime(new_years_eve_, 1041, false), "2000/12/31");
  // Without the time the time of day is dropped, not rounded into the day.
  EXPECT_EQ(df_.DateTime(Date::FromParts(2000, 12, 31, 23, 59, 59), 1031, false), "31.12.00");
  // en-US writes month and day without leading zeros.
  EXPECT_EQ(df_.DateTime(Date::FromParts(2026, 1, 5), 1033, false), "1/5/26");
}

TEST_F(DataFunctionsTest, DateWithTimeUsesTheLocalesShortTime) {
  EXPECT_EQ(df_.DateTime(afternoon_, 1033, true), "12/31/00, 2:30" + kNarrowNbsp + "PM");
  EXPECT_EQ(df_.DateTime(afternoon_, 1031, true), "31.12.00, 14:30");
  EXPECT_EQ(df_.DateTime(afternoon_, 2057, true), "31/12/2000, 14:30");
  EXPECT_EQ(df_.DateTime(afternoon_, 1036, true), "31/12/2000 14:30");
  // The date-only and date-and-time formatters of one locale are cached apart.
  EXPECT_EQ(df_.DateTime(afternoon_, 1031, false), "31.12.00");
}

TEST_F(DataFunctionsTest, DateIsAWallClockReadingWhateverTheZone) {
  // 02:30 on the night clocks go forward in central Europe does not exist in
  // local time; the shop's dates carry no zone, so it is shown as it stands.
  EXPECT_EQ(df_.DateTime(Date::FromParts(2021, 3, 28, 2, 30), 1031, true), "28.03.21, 02:30");
  // Gregorian before 1582 too, as the Date type counts.
  EXPECT_EQ(df_.DateTime(Date::FromParts(1500, 3, 1), 2057, false), "01/03/1500");
}

TEST_F(DataFunctionsTest, DateValueConvertsOrIsEmpty) {
  EXPECT_EQ(df_.DateTime(Variant::Null(), 1033, false), "");
  EXPECT_EQ(df_.DateTime(Variant(), 1033, true), "");
  // A serial number is a date (36891 is 31 December 2000).
  EXPECT_EQ(df_.DateTime(Variant(36891.0), 1031, false), "31.12.00");
  ExpectComError([&] { df_.DateTime(Variant("not a date"), 1033, false); },
                 err::kTypeMismatch);
  // A wrong locale shows even when the value is empty.
  ExpectComError([&] { df_.DateTime(Variant::Null(), 1, false); },
                 err::kInvalidProcedureCall, "Unknown locale id: 1");
}

// Callers build the date hint of an input field by formatting 31 December
// 2000 and replacing "2000" (or else "00"), "12" and "31" by pattern words, so
// every locale's short date must show them as plain digits.
TEST_F(DataFunctionsTest, EveryLocaleShowsTheSampleDateInDigits) {
  for (const LocaleMapping& m : KnownLocales()) {
    const std::string sample = df_.DateTime(new_years_eve_, m.lcid, false);
    EXPECT_NE(sample.find("00"), std::string::npos) << m.lcid << " " << sample;
    EXPECT_NE(sample.find("12"), std::string::npos) << m.lcid << " " << sample;
    EXPECT_NE(sample.find("31"), std::string::npos) << m.lcid << " " << sample;
  }
}

TEST_F(DataFunctionsTest, AmountsUseTheLocalesSeparators) {
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 1033), "1,234.50");
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 1031), "1.234,50");
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 1036), "1" + kNarrowNbsp + "234,50");
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 3079), "1" + kNbsp + "234,50");
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 2055), "1\u2019234.50");
  EXPECT_EQ(df_.FormatNumberForLocale(1234567.891, 1033), "1,234,567.89");
  EXPECT_EQ(df_.FormatNumberForLocale(7, 1031), "7,00");
  EXPECT_EQ(df_.FormatNumberForLocale(0, 1033), "0.00");
}

TEST_F(DataFunctionsTest, FourDigitAmountsAreGroupedInEveryLocale) {
  // ICU's own default leaves these ungrouped (minimum grouping of two digits).
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 3082), "1.234,50");
  EXPECT_EQ(df_.FormatNumberForLocale(1234.5, 1045), "1" + kNbsp + "234,50");
  EXPECT_EQ(df_.FormatNumberForLocale(999.994, 3082), "999,99");
}

TEST_F(DataFunctionsTest, AmountsRoundHalfAwayFromZeroOnTheShownDecimals) {
  EXPECT_EQ(df_.FormatNumberForLocale(0.125, 1033), "0.13");
  EXPECT_EQ(df_.FormatNumberForLocale(0.135, 1033), "0.14");
  // 2.675 is stored a hair below itself; it still reads, and rounds, as 2.675.
  EXPECT_EQ(df_.FormatNumberForLocale(2.675, 1033), "2.68");
  EXPECT_EQ(df_.FormatNumberForLocale(-2.675, 1033), "-2.68");
  EXPECT_EQ(df_.FormatNumberForLocale(999.995, 1031), "1.000,00");
  // No "-0.00" for a tiny negative amount.
  EXPECT_EQ(df_.FormatNumberForLocale(-0.001, 1033), "0.00");
  // Swedish writes the minus sign, not a hyphen.
  EXPECT_EQ(df_.FormatNumberForLocale(-1234.5, 1053), kMinus + "1" + kNbsp + "234,50");
}

TEST_F(DataFunctionsTest, AmountErrors) {
  ExpectComError([&] { df_.FormatNumberForLocale(1, 12345); }, err::kInvalidProcedureCall,
                 "Unknown locale id: 12345");
  ExpectComError([&] { df_.FormatNumberForLocale(std::numeric_limits<double>::infinity(), 1033); },
                 err::kInvalidProcedureCall, "Amount is not a finite number");
  ExpectComError([&] { df_.FormatNumberForLocale(std::numeric_limits<double>::quiet_NaN(), 1033); },
                 err::kInvalidProcedureCall, "Amount is not a finite number");
}

TEST_F(DataFunctionsTest, CurrencyAmountStyleEightIsTheAmountWithoutSymbol) {
  EXPECT_EQ(df_.FormatCurrencyAmount(1234.5, 1031, 8), "1.234,50");
  EXPECT_EQ(df_.FormatCurrencyAmount(-0.125, 2057, 8), "-0.13");
  ExpectComError([&] { df_.FormatCurrencyAmount(1, 1033, 0); }, err::kInvalidProcedureCall,
                 "Unsupported currency amount style: 0");
  ExpectComError([&] { df_.FormatCurrencyAmount(1, 1, 8); }, err::kInvalidProcedureCall,
                 "Unknown locale id: 1");
}

TEST_F(DataFunctionsTest, CurrencySymbolIsTheLocalesOwn) {
  EXPECT_EQ(df_.CurrencySymbolForLocale(1033), "$");
  EXPECT_EQ(df_.CurrencySymbolForLocale(2057), "\u00A3");
  EXPECT_EQ(df_.CurrencySymbolForLocale(2055), "CHF");
  EXPECT_EQ(df_.CurrencySymbolForLocale(4108), "CHF");
  EXPECT_EQ(df_.CurrencySymbolForLocale(1053), "kr");
  EXPECT_EQ(df_.CurrencySymbolForLocale(1045), "z\u0142");
  EXPECT_EQ(df_.CurrencySymbolForLocale(4105), "$");
  // Japanese writes the yen sign full width, Chinese the plain one.
  EXPECT_EQ(df_.CurrencySymbolForLocale(1041), "\uFFE5");
  EXPECT_EQ(df_.CurrencySymbolForLocale(2052), "\u00A5");
  ExpectComError([&] { df_.CurrencySymbolForLocale(0); }, err::kInvalidProcedureCall,
                 "Unknown locale id: 0");
}

TEST_F(DataFunctionsTest, EuroCountriesShowTheEuroBeforeTheirOwnAmount) {
  for (int32_t lcid : {1031, 3079, 1036, 2060, 1043, 2067, 1040, 3082, 1035, 2070}) {
    EXPECT_EQ(df_.CurrencySymbolForLocale(lcid), "\u20AC") << lcid;
  }
  // A price as the shop renders it: symbol, blank, style-8 amount.
  EXPECT_EQ(df_.CurrencySymbolForLocale(1031) + " " + df_.FormatCurrencyAmount(1234.5, 1031, 8),
            "\u20AC 1.234,50");
  EXPECT_EQ(df_.CurrencySymbolForLocale(3079) + " " + df_.FormatCurrencyAmount(1234.5, 3079, 8),
            "\u20AC 1" + kNbsp + "234,50");
}

TEST(DataFunctionsLateBound, CreatedByIdentifierAndCalledByName) {
  ObjectPtr df = CreateObject("Wrenlow.DataFunctions");
  ASSERT_NE(df, nullptr);
  EXPECT_EQ(Call(df, "DateTime", {Date::FromParts(2000, 12, 31), int32_t{1031}}).ToString(),
            "31.12.00");
  EXPECT_EQ(Call(df, "datetime", {Date::FromParts(2000, 12, 31, 9, 5), Variant("1031"), true})
                .ToString(),
            "31.12.00, 09:05");
  // Callers pass the basket's locale as a 16-bit integer.
  EXPECT_EQ(Call(df, "FormatNumberForLocale", {Currency::FromTicks(12345000), int16_t{1033}})
                .ToString(),
            "1,234.50");
  EXPECT_EQ(Call(df, "FormatCurrencyAmount", {1234.5, int32_t{2057}, int32_t{8}}).ToString(),
            "1,234.50");
  EXPECT_EQ(Call(df, "CurrencySymbolForLocale", {int32_t{2057}}).ToString(), "\u00A3");
  ExpectComError([&] { Call(df, "FormatNumberForLocale", {Variant::Null(), int32_t{1033}}); },
                 err::kInvalidUseOfNull);
  ExpectComError([&] { Call(df, "CurrencySymbolForLocale", {}); }, err::kWrongArgumentCount);
}

}  // namespace
}  // namespace platform
