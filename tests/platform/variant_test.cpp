// The classic conversion rules every layer depends on, at their edges.
#include "platform/core/variant.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "tests/support/failure.h"

namespace platform {
namespace {

using vendra_test::ErrorOf;

TEST(VariantIntegerConversion, RoundsHalvesToEven) {
  EXPECT_EQ(Variant(2.5).ToInteger(), 2);
  EXPECT_EQ(Variant(3.5).ToInteger(), 4);
  EXPECT_EQ(Variant(-2.5).ToInteger(), -2);
  EXPECT_EQ(Variant(-3.5).ToInteger(), -4);
  EXPECT_EQ(Variant(0.5).ToLong(), 0);
  EXPECT_EQ(Variant(1.5).ToLong(), 2);
  EXPECT_EQ(Variant(2.5000001).ToLong(), 3);
  EXPECT_EQ(Variant(2.4999999).ToLong(), 2);
  EXPECT_EQ(Variant(254.5).ToByte(), 254);
  EXPECT_EQ(Variant(Currency::Parse("2.5")).ToLong(), 2);
  EXPECT_EQ(Variant(Currency::Parse("-3.5")).ToInteger(), -4);
  EXPECT_EQ(Variant("2.5").ToInteger(), 2);
  EXPECT_EQ(Variant(" 12 ").ToLong(), 12);
}

TEST(VariantIntegerConversion, OverflowsAtTheRangeEdges) {
  EXPECT_EQ(Variant(32767.0).ToInteger(), 32767);
  EXPECT_EQ(Variant(32767.49).ToInteger(), 32767);
  EXPECT_EQ(ErrorOf([] { Variant(32767.5).ToInteger(); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(int32_t{32768}).ToInteger(); }), err::kOverflow);
  EXPECT_EQ(Variant(-32768.5).ToInteger(), -32768);  // rounds to the even -32768
  EXPECT_EQ(ErrorOf([] { Variant(-32768.51).ToInteger(); }), err::kOverflow);

  EXPECT_EQ(Variant(-2147483648.5).ToLong(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ErrorOf([] { Variant(-2147483648.51).ToLong(); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(2147483647.5).ToLong(); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Variant("2147483648").ToLong(); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(std::nan("")).ToLong(); }), err::kOverflow);

  EXPECT_EQ(ErrorOf([] { Variant(255.5).ToByte(); }), err::kOverflow);
  EXPECT_EQ(Variant(-0.5).ToByte(), 0);
  EXPECT_EQ(ErrorOf([] { Variant(-0.51).ToByte(); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(int16_t{-1}).ToByte(); }), err::kOverflow);
}

TEST(VariantIntegerConversion, BooleansAreMinusOneAndZero) {
  EXPECT_EQ(Variant(true).ToLong(), -1);
  EXPECT_EQ(Variant(true).ToInteger(), -1);
  EXPECT_EQ(Variant(true).ToDouble(), -1.0);
  EXPECT_EQ(Variant(true).ToCurrency().ToText(), "-1");
  EXPECT_EQ(Variant(true).ToByte(), 255);
  EXPECT_EQ(Variant(false).ToLong(), 0);
}

TEST(VariantTextToNumber, AcceptsDecimalTextOnly) {
  EXPECT_EQ(ParseNumber("  -1.5E-2 "), -0.015);
  EXPECT_EQ(ParseNumber("1e3"), 1000.0);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  EXPECT_EQ(ParseNumber("5."), 5.0);
  EXPECT_EQ(ParseNumber("+3"), 3.0);
  EXPECT_EQ(ParseNumber("1e-400"), 0.0);
  for (const char* bad : {"", " ", "abc", "1,5", "1.2.3", "e5", "1e", "1e+", "-", ".",
                          "inf", "nan", "0x10", "12abc", "1 2", "--1"}) {
    EXPECT_EQ(ErrorOf([&] { ParseNumber(bad); }), err::kTypeMismatch) << '"' << bad << '"';
    EXPECT_EQ(ErrorOf([&] { Variant(bad).ToLong(); }), err::kTypeMismatch) << '"' << bad << '"';
  }
  EXPECT_EQ(ErrorOf([] { ParseNumber("1e400"); }), err::kOverflow);
}

TEST(VariantNullAndEmpty, NullIsInvalidWhereAValueIsNeeded) {
  const Variant null = Variant::Null();
  EXPECT_EQ(ErrorOf([&] { null.ToString(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToBool(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToByte(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToInteger(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToLong(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToDouble(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToCurrency(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToDate(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToObject(); }), err::kTypeMismatch);
  EXPECT_TRUE(null.IsMissing());
}

TEST(VariantNullAndEmpty, EmptyIsZeroBlankAndFalse) {
  const Variant empty;
  EXPECT_EQ(empty.type(), VarType::Empty);
  EXPECT_EQ(empty.ToLong(), 0);
  EXPECT_EQ(empty.ToDouble(), 0.0);
  EXPECT_EQ(empty.ToString(), "");
  EXPECT_FALSE(empty.ToBool());
  EXPECT_EQ(empty.ToCurrency().ticks(), 0);
  EXPECT_EQ(empty.ToDate().serial(), 0.0);
  EXPECT_EQ(empty.ToObject(), nullptr);
}

TEST(VariantBoolean, TextAndTruth) {
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant(false).ToString(), "False");
  EXPECT_TRUE(Variant("true").ToBool());
  EXPECT_TRUE(Variant(" TRUE ").ToBool());
  EXPECT_FALSE(Variant("False").ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
  EXPECT_TRUE(Variant("-1").ToBool());
  EXPECT_TRUE(Variant("0.001").ToBool());
  EXPECT_TRUE(Variant(0.25).ToBool());
  EXPECT_TRUE(Variant(int16_t{2}).ToBool());
  EXPECT_FALSE(Variant(0.0).ToBool());
  EXPECT_TRUE(Variant(Currency::Parse("0.0001")).ToBool());
  EXPECT_EQ(ErrorOf([] { Variant("yes").ToBool(); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant("").ToBool(); }), err::kTypeMismatch);
  // The text a Boolean becomes converts back.
  EXPECT_TRUE(Variant(Variant(true).ToString()).ToBool());
}

TEST(VariantDoubleText, FifteenDigitsAndClassicExponents) {
  EXPECT_EQ(FormatDouble(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FormatDouble(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(FormatDouble(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatDouble(2.5), "2.5");
  EXPECT_EQ(FormatDouble(-1234.5), "-1234.5");
  EXPECT_EQ(FormatDouble(100.0), "100");
  EXPECT_EQ(FormatDouble(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatDouble(1e15), "1E+15");
  EXPECT_EQ(FormatDouble(1e20), "1E+20");
  EXPECT_EQ(FormatDouble(1234567890123456789.0), "1.23456789012346E+18");
  EXPECT_EQ(FormatDouble(0.0001), "0.0001");
  EXPECT_EQ(FormatDouble(0.000015), "1.5E-05");
  EXPECT_EQ(FormatDouble(-0.0), "0");
  EXPECT_EQ(Variant(0.5).ToString(), "0.5");
}

TEST(VariantDoubleText, RoundTripsThroughText) {
  for (double d : {0.1, 12345.678, -0.015, 1.5e-5, 1e20, 123456789012345.0, 3.25e-300}) {
    EXPECT_EQ(ParseNumber(FormatDouble(d)), d) << FormatDouble(d);
    EXPECT_EQ(Variant(Variant(d).ToString()).ToDouble(), d);
  }
}

TEST(VariantOtherKinds, CurrencyDateAndText) {
  EXPECT_EQ(Variant(Currency::Parse("12.5")).ToString(), "12.5");
  EXPECT_EQ(Variant("12.34567").ToCurrency().ToFixed4(), "12.3457");
  EXPECT_EQ(Variant(int32_t{7}).ToCurrency().ToFixed4(), "7.0000");
  EXPECT_EQ(Variant(0.1).ToCurrency().ToText(), "0.1");

  Date d = Date::FromParts(2024, 2, 29, 8, 5, 3);
  EXPECT_EQ(Variant(d).ToString(), "2024-02-29 08:05:03");
  EXPECT_EQ(Variant(Date::FromParts(2024, 2, 29)).ToString(), "2024-02-29");
  EXPECT_EQ(Variant(Variant(d).ToString()).ToDate(), d);
  EXPECT_EQ(ErrorOf([] { Variant("2023-02-29").ToDate(); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant("tomorrow").ToDate(); }), err::kTypeMismatch);
  EXPECT_EQ(Variant(int32_t{2}).ToDate(), Date::FromParts(1900, 1, 1));
  EXPECT_EQ(Variant(45000.5).ToDate().ToIso(), "2023-03-15T12:00:00");
  EXPECT_EQ(ErrorOf([] { Variant(1e7).ToDate(); }), err::kOverflow);
  EXPECT_EQ(Variant(d).ToDouble(), d.serial());
}

TEST(VariantOtherKinds, ObjectsAndArraysAreNoScalars) {
  const Variant object(Dictionary::New());
  const Variant array(VariantArray{Variant(int32_t{1})});
  EXPECT_EQ(object.type(), VarType::Object);
  EXPECT_EQ(array.type(), VarType::Array);
  for (const Variant* v : {&object, &array}) {
    EXPECT_EQ(ErrorOf([&] { v->ToString(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([&] { v->ToLong(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([&] { v->ToBool(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([&] { v->ToDate(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([&] { v->ToCurrency(); }), err::kTypeMismatch);
  }
  EXPECT_NE(object.As<Dictionary>(), nullptr);
  EXPECT_EQ(ErrorOf([] { Variant("x").ToObject(); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant("x").Array(); }), err::kTypeMismatch);
  EXPECT_EQ(Variant(ObjectPtr()).ToObject(), nullptr);  // Nothing
}

TEST(VariantArray, CopiesDoNotSeeEachOthersWrites) {
  Variant a(VariantArray{Variant(int32_t{1}), Variant("two")});
  Variant b = a;
  EXPECT_EQ(&a.Array(), &b.Array());  // shared until written
  b.MutableArray()[0] = Variant(int32_t{9});
  EXPECT_EQ(a.Array()[0].ToLong(), 1);
  EXPECT_EQ(b.Array()[0].ToLong(), 9);
  a.MutableArray().push_back(Variant(true));
  EXPECT_EQ(a.Array().size(), 3u);
  EXPECT_EQ(b.Array().size(), 2u);
  Variant alone(VariantArray{});
  const VariantArray* before = &alone.Array();
  alone.MutableArray().push_back(Variant());
  EXPECT_EQ(before, &alone.Array());  // no copy when nobody shares it
}

TEST(VariantCompare, ClassicRules) {
  using std::partial_ordering;
  EXPECT_EQ(Compare(Variant(int32_t{1}), Variant(1.0)), partial_ordering::equivalent);
  EXPECT_EQ(Compare(Variant(true), Variant(int16_t{-1})), partial_ordering::equivalent);
  EXPECT_EQ(Compare(Variant(int32_t{2}), Variant("10")), partial_ordering::less);
  EXPECT_EQ(Compare(Variant("10"), Variant(int32_t{2})), partial_ordering::greater);
  EXPECT_EQ(Compare(Variant("10"), Variant("2")), partial_ordering::less);  // text with text
  EXPECT_EQ(Compare(Variant("B"), Variant("a")), partial_ordering::less);   // binary
  EXPECT_EQ(Compare(Variant(Currency::Parse("0.3")), Variant(0.3)), partial_ordering::equivalent);
  EXPECT_EQ(Compare(Variant(Currency::FromTicks(INT64_MAX)), Variant(Currency::FromTicks(INT64_MAX - 1))),
            partial_ordering::greater);
  EXPECT_EQ(Compare(Variant(), Variant(int32_t{0})), partial_ordering::equivalent);
  EXPECT_EQ(Compare(Variant(), Variant("")), partial_ordering::equivalent);
  EXPECT_EQ(Compare(Variant(Date::FromParts(2026, 1, 2)), Variant("2026-01-01")),
            partial_ordering::greater);
  EXPECT_EQ(Compare(Variant::Null(), Variant::Null()), partial_ordering::unordered);
  EXPECT_EQ(Compare(Variant(int32_t{1}), Variant::Null()), partial_ordering::unordered);
  EXPECT_EQ(ErrorOf([] { Compare(Variant(int32_t{1}), Variant("abc")); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Compare(Variant(Dictionary::New()), Variant(int32_t{1})); }),
            err::kTypeMismatch);
}

TEST(VariantEquality, IsStrict) {
  EXPECT_EQ(Variant(int32_t{1}), Variant(int32_t{1}));
  EXPECT_NE(Variant(int32_t{1}), Variant(1.0));
  EXPECT_NE(Variant(int32_t{1}), Variant(int16_t{1}));
  EXPECT_NE(Variant(), Variant::Null());
  EXPECT_EQ(Variant(VariantArray{Variant("a")}), Variant(VariantArray{Variant("a")}));
  auto d = Dictionary::New();
  EXPECT_EQ(Variant(d), Variant(d));
  EXPECT_NE(Variant(d), Variant(Dictionary::New()));
}

}  // namespace
}  // namespace platform
