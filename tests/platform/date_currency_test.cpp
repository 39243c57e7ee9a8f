// Date and Currency: serial arithmetic across years and leap days, the text
// forms the database and the documents use, and exact money rounding.
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "platform/core/com_error.h"
#include "platform/core/currency.h"
#include "platform/core/date.h"
#include "tests/support/failure.h"

namespace platform {
namespace {

using vendra_test::ErrorOf;

TEST(Date, SerialsCountDaysFromTheZeroDate) {
  EXPECT_EQ(Date().ToIso(), "1899-12-30T00:00:00");
  EXPECT_EQ(Date::FromParts(1900, 1, 1).serial(), 2.0);
  EXPECT_EQ(Date::FromParts(2000, 1, 1).serial(), 36526.0);
  EXPECT_EQ(Date::FromParts(2026, 12, 8, 12).serial(), 46364.5);
  EXPECT_EQ(Date::FromSerial(46364.75).ToIso(), "2026-12-08T18:00:00");
  // Before the zero date the fraction still counts the time forwards.
  EXPECT_EQ(Date::FromParts(1899, 12, 29, 6).serial(), -1.25);
  EXPECT_EQ(Date::FromSerial(-1.25).ToIso(), "1899-12-29T06:00:00");
  EXPECT_EQ(Date::FromSerial(-1.25).DateOnly().serial(), -1.0);
  Date old = Date::FromParts(1752, 9, 14, 23, 59, 59);
  EXPECT_EQ(Date::FromSerial(old.serial()).ToIso(), "1752-09-14T23:59:59");
  EXPECT_EQ(Date::FromParts(100, 1, 1).ToIso(), "0100-01-01T00:00:00");
  EXPECT_EQ(Date::FromParts(9999, 12, 31).ToText(), "9999-12-31");
}

TEST(Date, ImpossibleDaysAreRefused) {
  EXPECT_NO_THROW(Date::FromParts(2024, 2, 29));
  EXPECT_NO_THROW(Date::FromParts(2000, 2, 29));  // every 400 years
  EXPECT_EQ(ErrorOf([] { Date::FromParts(2023, 2, 29); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(1900, 2, 29); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(2026, 4, 31); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(2026, 13, 1); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(2026, 0, 1); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(2026, 1, 1, 24); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(2026, 1, 1, 0, 60); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { Date::FromParts(10000, 1, 1); }), err::kInvalidProcedureCall);
}

TEST(Date, ArithmeticAcrossLeapDaysAndYears) {
  Date feb28 = Date::FromParts(2024, 2, 28, 10, 30);
  EXPECT_EQ(feb28.AddDays(1).ToText(), "2024-02-29 10:30:00");
  EXPECT_EQ(feb28.AddDays(2).ToText(), "2024-03-01 10:30:00");
  EXPECT_EQ(Date::FromParts(2023, 2, 28).AddDays(1).ToText(), "2023-03-01");
  EXPECT_EQ(Date::FromParts(2025, 12, 31, 23).AddDays(1.0 / 24).ToIso(), "2026-01-01T00:00:00");
  EXPECT_EQ(Date::FromParts(2024, 3, 1).serial() - Date::FromParts(2023, 3, 1).serial(), 366.0);
  EXPECT_EQ(Date::FromParts(2100, 3, 1).serial() - Date::FromParts(2100, 2, 28).serial(), 1.0);
  EXPECT_EQ(Date::FromParts(2024, 12, 31).AddDays(-366).ToText(), "2023-12-31");
  EXPECT_LT(Date::FromParts(2024, 1, 1), Date::FromParts(2024, 1, 1, 0, 0, 1));
}

TEST(Date, ArithmeticAndOrderBeforeTheZeroDate) {
  // -1.25 is 1899-12-29 06:00: the raw serial is smaller than midnight's -1.
  Date morning = Date::FromParts(1899, 12, 29, 6);
  EXPECT_LT(Date::FromParts(1899, 12, 29), morning);
  EXPECT_LT(morning, Date::FromParts(1899, 12, 30));
  EXPECT_EQ(morning.AddDays(2).ToIso(), "1899-12-31T06:00:00");
  EXPECT_EQ(morning.AddDays(1).ToIso(), "1899-12-30T06:00:00");
  EXPECT_EQ(Date::FromParts(1899, 12, 31, 6).AddDays(-2), morning);
  EXPECT_EQ(Date::FromParts(1899, 12, 30, 3).AddDays(-0.25).ToIso(), "1899-12-29T21:00:00");
  EXPECT_EQ(Date::FromParts(1899, 12, 1, 12).AddDays(-0.5).ToIso(), "1899-12-01T00:00:00");
  // -0.5 and 0.5 are the same moment in the classic encoding.
  EXPECT_EQ(Date::FromSerial(-0.5), Date::FromSerial(0.5));
  EXPECT_EQ(Date::FromSerial(std::nan("")).ToIso(), "1899-12-30T00:00:00");
}

TEST(Date, PartsAndWeekday) {
  Date d = Date::FromParts(2026, 12, 8, 14, 30, 15);
  EXPECT_EQ(d.year(), 2026);
  EXPECT_EQ(d.month(), 12);
  EXPECT_EQ(d.day(), 8);
  EXPECT_EQ(d.hour(), 14);
  EXPECT_EQ(d.minute(), 30);
  EXPECT_EQ(d.second(), 15);
  EXPECT_EQ(d.weekday(), 3);                               // a Tuesday
  EXPECT_EQ(Date().weekday(), 7);                          // 1899-12-30, a Saturday
  EXPECT_EQ(Date::FromParts(1899, 12, 24).weekday(), 1);   // a Sunday
  EXPECT_EQ(Date::FromParts(2024, 2, 29).weekday(), 5);    // a Thursday
  EXPECT_TRUE(d.HasTime());
  EXPECT_FALSE(d.DateOnly().HasTime());
  EXPECT_EQ(d.DateOnly(), Date::FromParts(2026, 12, 8));
}

TEST(Date, SecondsAreRounded) {
  // 14:29:59.9999 is 14:30:00: no display of a second that is all but over.
  Date almost = Date::FromParts(2026, 1, 1, 14, 29, 59).AddDays(0.9999 / 86400);
  EXPECT_EQ(almost.ToIso(), "2026-01-01T14:30:00");
  EXPECT_EQ(almost.minute(), 30);
  EXPECT_EQ(almost.second(), 0);
  // Time of day built by arithmetic, not exactly representable.
  EXPECT_EQ(Date::FromParts(2026, 1, 1).AddDays(14.5 / 24).ToIso(), "2026-01-01T14:30:00");
  Date midnight = Date::FromParts(2026, 1, 1, 23, 59, 59).AddDays(0.7 / 86400);
  EXPECT_EQ(midnight.ToText(), "2026-01-02");
  EXPECT_EQ(midnight.day(), 2);
  EXPECT_EQ(midnight.DateOnly(), Date::FromParts(2026, 1, 2));
}

TEST(Date, ParsesAndWritesItsTextForms) {
  EXPECT_EQ(Date::Parse("2026-12-08"), Date::FromParts(2026, 12, 8));
  EXPECT_EQ(Date::Parse("2026-12-08T14:30"), Date::FromParts(2026, 12, 8, 14, 30));
  EXPECT_EQ(Date::Parse("2026-12-08 14:30:15"), Date::FromParts(2026, 12, 8, 14, 30, 15));
  EXPECT_EQ(Date::Parse(" 2026-12-08T14:30:15 "), Date::FromParts(2026, 12, 8, 14, 30, 15));
  EXPECT_EQ(Date::Parse("2026-12-08T14:30:15.499"), Date::FromParts(2026, 12, 8, 14, 30, 15));
  EXPECT_EQ(Date::Parse("2026-12-08T14:30:15.5"), Date::FromParts(2026, 12, 8, 14, 30, 16));
  EXPECT_EQ(Date::Parse("2026-12-31T23:59:59.9"), Date::FromParts(2027, 1, 1));
  for (const char* bad : {"", "2026-12", "26-12-08", "2026-13-01", "2026-02-29", "2026-12-08T",
                          "2026-12-08T25:00", "2026-12-08T14:60", "2026-12-08x",
                          "2026-12-08T14:30:15.", "2026-12-08T14:30:15.5x", "2026/12/08",
                          "08.12.2026", "2026-1-8"}) {
    EXPECT_FALSE(Date::Parse(bad).has_value()) << bad;
  }
  for (Date d : {Date::FromParts(2024, 2, 29), Date::FromParts(1999, 12, 31, 23, 59, 59),
                 Date::FromParts(1850, 6, 1, 1, 2, 3)}) {
    EXPECT_EQ(Date::Parse(d.ToIso()), d) << d.ToIso();
    EXPECT_EQ(Date::Parse(d.ToText()), d) << d.ToText();
  }
  EXPECT_EQ(Date::FromParts(2026, 12, 8).ToIso(), "2026-12-08T00:00:00");
}

TEST(Currency, FromDoubleRoundsHalfToEvenAtTheFourthDecimal) {
  EXPECT_EQ(Currency::FromDouble(0.00005).ticks(), 0);
  EXPECT_EQ(Currency::FromDouble(0.00015).ticks(), 2);
  EXPECT_EQ(Currency::FromDouble(0.00025).ticks(), 2);
  EXPECT_EQ(Currency::FromDouble(0.000251).ticks(), 3);
  EXPECT_EQ(Currency::FromDouble(-2.00005).ticks(), -20000);
  EXPECT_EQ(Currency::FromDouble(-2.00015).ticks(), -20002);
  EXPECT_EQ(Currency::FromDouble(1.23456).ToText(), "1.2346");
  EXPECT_EQ(Currency::FromDouble(0.1 + 0.2).ToText(), "0.3");
  EXPECT_EQ(Currency::FromDouble(1e-20).ticks(), 0);
  EXPECT_EQ(Currency::FromDouble(922337203685477.0).ToText(), "922337203685477");
  EXPECT_EQ(ErrorOf([] { Currency::FromDouble(1e15); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Currency::FromDouble(-1e300); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Currency::FromDouble(std::nan("")); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Currency::FromDouble(HUGE_VAL); }), err::kOverflow);
}

TEST(Currency, TextFormsAndTheRange) {
  EXPECT_EQ(Currency::Parse("12.34").ticks(), 123400);
  EXPECT_EQ(Currency::Parse("-0.5").ToText(), "-0.5");
  EXPECT_EQ(Currency::Parse("12.3400").ToText(), "12.34");
  EXPECT_EQ(Currency::Parse("12.34").ToFixed4(), "12.3400");
  EXPECT_EQ(Currency::Parse("-0.5").ToFixed4(), "-0.5000");
  EXPECT_EQ(Currency::Parse("5").ToText(), "5");
  EXPECT_EQ(Currency::Parse(" 1.5E2 ").ToText(), "150");
  EXPECT_EQ(Currency::Parse("0.00005").ticks(), 0);
  EXPECT_EQ(Currency::Parse("0.000050001").ticks(), 1);
  EXPECT_EQ(Currency().ToText(), "0");
  EXPECT_EQ(Currency().ToFixed4(), "0.0000");
  EXPECT_EQ(Currency::Parse("922337203685477.5807").ticks(), INT64_MAX);
  EXPECT_EQ(Currency::Parse("-922337203685477.5808").ticks(), INT64_MIN);
  EXPECT_EQ(Currency::FromTicks(INT64_MIN).ToText(), "-922337203685477.5808");
  EXPECT_EQ(Currency::FromTicks(INT64_MAX).ToFixed4(), "922337203685477.5807");
  EXPECT_EQ(ErrorOf([] { Currency::Parse("922337203685477.5808"); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Currency::Parse("922337203685477.58075"); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Currency::Parse("1e16"); }), err::kOverflow);
  for (const char* bad : {"", "abc", "1,5", "12.34 EUR", "$12", "1.2.3", "."}) {
    EXPECT_EQ(ErrorOf([&] { Currency::Parse(bad); }), err::kTypeMismatch) << bad;
  }
  for (const char* text : {"0.0001", "-7", "19.99", "-922337203685477.5808", "123456.789"}) {
    EXPECT_EQ(Currency::Parse(Currency::Parse(text).ToText()), Currency::Parse(text)) << text;
  }
}

TEST(Currency, ArithmeticIsExact) {
  Currency sum;
  for (int i = 0; i < 10; ++i) sum = sum + Currency::Parse("0.1");
  EXPECT_EQ(sum, Currency::Parse("1"));
  EXPECT_EQ((Currency::Parse("5") - Currency::Parse("7.25")).ToText(), "-2.25");
  EXPECT_EQ((-Currency::Parse("3")).ToText(), "-3");
  EXPECT_EQ(ErrorOf([] { Currency::FromTicks(INT64_MAX) + Currency::FromTicks(1); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Currency::FromTicks(INT64_MIN) - Currency::FromTicks(1); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { -Currency::FromTicks(INT64_MIN); }), err::kOverflow);
}

}  // namespace
}  // namespace platform
