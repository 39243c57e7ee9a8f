// LocaleAmountText against the formatting component it stands in for: for
// every locale the component knows, every amount of a large mixed set
// (cents, halves on the rounding digit, long binary fractions, every
// magnitude up to 10^15, negatives, the doubles beside a half cent, and
// Currency values) must come out byte for byte as
// FormatPriceDecimals writes it, whether the locale is written directly or
// left to the component. A component that writes amounts its own way, and
// one that refuses the locale, are left to do every amount themselves.
#include "shared/amount_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/currency.h"
#include "platform/core/dispatch.h"
#include "platform/services/data_functions.h"
#include "shared/localisation.h"

namespace {

using platform::Variant;

std::vector<double> Amounts() {
  std::vector<double> amounts = {0.0, -0.0, 0.005, -0.005, 0.004999, 1.005, 1.015, 1.025, 2.675,
                                 -2.675, 8.345, 1.115, 0.045, 10.075, 999.995, 9999.995,
                                 1234567.125, 1e14, 999999999999999.9, -999999999999999.9,
                                 4398046511103.999, 4398046511104.005, 1e-300, 123.456789e-5};
  std::mt19937_64 random(20261208);
  std::uniform_int_distribution<int64_t> cents(-10000000, 10000000);
  std::uniform_int_distribution<int> exponent(-8, 15);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 3000; ++i) {
    amounts.push_back(static_cast<double>(cents(random)) / 100);                 // cents
    amounts.push_back(static_cast<double>(cents(random)) / 1000);                // thousandths, halves
    amounts.push_back(static_cast<double>(cents(random)) / 1000 + 0.0005);       // near halves
    amounts.push_back(unit(random) * std::pow(10.0, exponent(random)));          // any magnitude
    amounts.push_back(static_cast<double>(cents(random)) * 0.21 / 100);          // a tax
    // The doubles right beside a half cent, either side: the exact way.
    const double half = static_cast<double>(cents(random)) / 100 + 0.005;
    amounts.push_back(std::nextafter(half, 0.0));
    amounts.push_back(std::nextafter(half, 1e300));
  }
  return amounts;
}

// Currency amounts: halves, either side of them, and every magnitude the
// ticks are written from.
std::vector<platform::Currency> CurrencyAmounts() {
  std::vector<platform::Currency> amounts;
  for (int64_t ticks : {0LL, 50LL, -50LL, 49LL, -49LL, 51LL, 149LL, 150LL, -150LL, 9999950LL,
                        -9999950LL, 999999999999950LL, -999999999999950LL, 999999999999999LL,
                        1000000000000000LL, -1000000000000050LL, 123456789012345678LL})
    amounts.push_back(platform::Currency::FromTicks(ticks));
  std::mt19937_64 random(8122026);
  std::uniform_int_distribution<int64_t> ticks(-100000000000, 100000000000);
  std::uniform_int_distribution<int> scale(0, 15);
  for (int i = 0; i < 3000; ++i) {
    amounts.push_back(platform::Currency::FromTicks(ticks(random)));
    amounts.push_back(platform::Currency::FromTicks(ticks(random) / 100 * 100 + 50));
    int64_t big = ticks(random);
    for (int k = scale(random); k > 0 && big < 100000000000000000 && big > -100000000000000000; --k)
      big *= 3;
    amounts.push_back(platform::Currency::FromTicks(big));
  }
  return amounts;
}

TEST(LocaleAmountTextTest, EveryLocaleWritesWhatTheComponentWrites) {
  const platform::ObjectPtr component = std::make_shared<platform::DataFunctions>();
  const std::vector<double> amounts = Amounts();
  const std::vector<platform::Currency> currencies = CurrencyAmounts();
  int written_directly = 0;
  for (int16_t locale : {1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1038,
                         1039, 1040, 1041, 1042, 1043, 1044, 1045, 1046, 1048, 1049, 1050, 1051,
                         1053, 1055, 1060, 1061, 1062, 1063, 2052, 2055, 2057, 3082, 3084}) {
    lib_sales::LocaleAmountText text(locale, component);
    std::string unknown;
    try {
      unknown = lib_sales::FormatPriceDecimals(Variant(1.0), locale, component);
    } catch (const platform::ComError&) {
      continue;  // a locale this platform does not know
    }
    if (text.WritesItself()) ++written_directly;
    for (double amount : amounts) {
      std::string mine;
      text.Append(mine, amount);
      ASSERT_EQ(mine, lib_sales::FormatPriceDecimals(Variant(amount), locale, component))
          << "locale " << locale << ", amount " << amount;
    }
    for (const platform::Currency& amount : currencies) {
      std::string mine;
      text.Append(mine, Variant(amount));
      ASSERT_EQ(mine, lib_sales::FormatPriceDecimals(Variant(amount), locale, component))
          << "locale " << locale << ", currency ticks " << amount.ticks();
    }
  }
  // The shop's own locales (1033, 1031, 2057 at least) take the direct way.
  EXPECT_GE(written_directly, 3);
  for (int16_t locale : {1033, 1031, 2057}) {
    lib_sales::LocaleAmountText text(locale, component);
    EXPECT_TRUE(text.WritesItself()) << locale;
  }
}

TEST(LocaleAmountTextTest, RendersTheLearntShape) {
  lib_sales::LocaleAmountText::Shape shape{true, ".", ",", "-"};
  const struct {
    double amount;
    const char* text;
  } cases[] = {{0, "0,00"},           {-0.001, "0,00"},        {0.005, "0,01"},
               {2.675, "2,68"},       {-2.675, "-2,68"},       {999.995, "1.000,00"},
               {1234567.891, "1.234.567,89"}, {0.1 + 0.2, "0,30"}, {5e-324, "0,00"},
               {123456789012.345, "123.456.789.012,35"}};
  for (const auto& c : cases) {
    std::string out;
    ASSERT_TRUE(lib_sales::LocaleAmountText::Render(shape, c.amount, out));
    EXPECT_EQ(out, c.text) << c.amount;
  }
  std::string out;
  EXPECT_FALSE(lib_sales::LocaleAmountText::Render(shape, 1e15, out));
  EXPECT_FALSE(lib_sales::LocaleAmountText::Render(shape, std::nan(""), out));
  EXPECT_FALSE(
      lib_sales::LocaleAmountText::Render(shape, std::numeric_limits<double>::infinity(), out));
  EXPECT_TRUE(out.empty());
}

// A formatting component with its own idea of amounts: a trailing minus.
class TrailingMinus : public platform::Dispatchable<TrailingMinus> {
 public:
  static const platform::ClassBinding<TrailingMinus>& Binding() {
    static const auto b = platform::ClassBinding<TrailingMinus>("DataFunctions")
                              .Method("FormatNumberForLocale", &TrailingMinus::Format);
    return b;
  }
  std::string Format(double value, int32_t locale) {
    ++calls;
    if (locale == 9999) platform::Raise(5, "TrailingMinus", "Unknown locale id: 9999");
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", std::fabs(value));
    return std::string(text) + (value < 0 ? "-" : "");
  }
  int calls = 0;
};

TEST(LocaleAmountTextTest, AComponentThatWritesOtherwiseOrRefusesDoesEveryAmount) {
  auto component = std::make_shared<TrailingMinus>();
  lib_sales::LocaleAmountText text(1033, component);
  std::string out;
  text.Append(out, -12.5);
  EXPECT_EQ(out, "12.50-");
  EXPECT_FALSE(text.WritesItself());
  const int calls = component->calls;
  text.Append(out, Variant(3.0));
  EXPECT_EQ(out, "12.50-3.00");
  EXPECT_EQ(component->calls, calls + 1);
  // Null and Empty give nothing, as FormatPriceDecimals gives.
  text.Append(out, Variant::Null());
  EXPECT_EQ(out, "12.50-3.00");

  lib_sales::LocaleAmountText refused(9999, component);
  std::string none;
  try {
    refused.Append(none, 1.0);
    ADD_FAILURE() << "a refused locale must fail";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), 5);
  }
  EXPECT_TRUE(none.empty());
}

}  // namespace
