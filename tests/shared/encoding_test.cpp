// The SQL literals of the encoding routines: each value written through its
// literal into a real SQLite database reads back equal, nothing a text holds
// breaks out of its quotes, and what cannot be rendered faithfully is refused
// with a clear error instead of being stored wrong.
#include "shared/encoding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "platform/services/sql_value_encoder.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ComError;
using platform::Date;
using platform::Variant;
using platform::data::Connection;

int32_t NumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.number();
  }
  return 0;
}

// A scratch database with one column of each kind the encoders serve.
class EncoderRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string cs =
        "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Scratch";
    platform::data::CreateDatabaseFile(cs);
    connection_ = std::make_shared<Connection>();
    connection_->Open(cs);
    connection_->Execute(
        "CREATE TABLE T (ID INTEGER PRIMARY KEY, S NVARCHAR(4000), L INT, D FLOAT, "
        "DT DATETIME, B TINYINT)");
  }
  void TearDown() override {
    connection_->Close();
    platform::data::ReleasePooledSessions();
  }

  // Writes the literal into the column and reads the column back.
  Variant RoundTrip(const std::string& column, const std::string& literal) {
    connection_->Execute("DELETE FROM T");
    connection_->Execute("INSERT INTO T (ID, " + column + ") VALUES (1, " + literal + ")");
    auto rs = connection_->Execute("SELECT " + column + " FROM T WHERE ID = 1");
    EXPECT_FALSE(rs->Eof());
    return rs->Value(column);
  }

  // The literal also works where the system puts it: after "=" in a WHERE.
  bool Matches(const std::string& column, const std::string& literal) {
    auto rs = connection_->Execute("SELECT ID FROM T WHERE " + column + " = " + literal);
    return !rs->Eof();
  }

  vendra_test::TemporaryDirectory dir_;
  std::shared_ptr<Connection> connection_;
};

TEST_F(EncoderRoundTrip, TextsComeBackAsWritten) {
  const std::vector<std::string> texts = {
      "",
      "plain",
      "O'Brien's \"quoted\" ''twice''",
      "'",
      "''",
      "a'); DROP TABLE T; --",
      "-- not a comment",
      "/* nor this */",
      "semi;colon",
      "line one\r\nline two\nthree\ttabbed",
      "Grüße, Ærøskøbing, Łódź, 東京, 😀",
      "back\\slash and 100% _under_",
      std::string(5000, 'x') + "'",
  };
  for (const std::string& text : texts) {
    for (const std::string& literal : {lib_sales::EncText(text), lib_sales::EncQuotedString(text),
                                       lib_sales::EncVariant(Variant(text))}) {
      EXPECT_EQ(RoundTrip("S", literal), Variant(text)) << literal;
      EXPECT_TRUE(Matches("S", literal)) << literal;
    }
  }
  // The table is still there: nothing broke out of its quotes.
  EXPECT_NO_THROW(connection_->Execute("SELECT COUNT(*) FROM T"));
}

TEST_F(EncoderRoundTrip, KeysComeBackExactly) {
  for (const std::string key : {"0A1B2C3D4E5F60718293A4B5C6D7E8F9", " padded ", "O'Neil", "Ä-1"}) {
    EXPECT_EQ(RoundTrip("S", lib_sales::EncString(key)), Variant(key));
    EXPECT_EQ(RoundTrip("S", lib_sales::EncKeyString(key)), Variant(key));
  }
}

TEST_F(EncoderRoundTrip, LongsAtTheirLimits) {
  for (int32_t n : {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX}) {
    EXPECT_EQ(RoundTrip("L", lib_sales::EncLong(n)), Variant(n));
    EXPECT_TRUE(Matches("L", lib_sales::EncLong(n)));
  }
  for (int n : {0, 1, 127, 128, 255}) {
    const auto b = static_cast<uint8_t>(n);
    EXPECT_EQ(RoundTrip("B", lib_sales::EncByte(b)), Variant(b));
  }
}

TEST_F(EncoderRoundTrip, DoublesReadBackBitForBit) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.1,
                                -0.1,
                                1.0 / 3.0,
                                2.5,
                                1e15,
                                1e16 + 2,
                                123456789012345678.0,
                                12345678901234567890.0,
                                9007199254740993.0,
                                1e308,
                                -1e308,
                                DBL_MAX,
                                -DBL_MAX,
                                DBL_MIN,
                                5e-324,
                                -5e-324,
                                2.2250738585072009e-308,
                                4.35,
                                0.30000000000000004};
  std::mt19937_64 random(20261208);
  std::uniform_int_distribution<uint64_t> bits;
  while (values.size() < 400) {
    const uint64_t b = bits(random);
    double d;
    std::memcpy(&d, &b, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
  }
  for (double d : values) {
    const std::string literal = lib_sales::EncDouble(d);
    const Variant back = RoundTrip("D", literal);
    ASSERT_NE(back.Get<double>(), nullptr) << literal;
    EXPECT_EQ(*back.Get<double>(), d) << literal;  // -0.0 equals 0.0
    EXPECT_TRUE(Matches("D", literal)) << literal;
  }
}

TEST_F(EncoderRoundTrip, DecimalsTheEngineMisreadsAreWrittenExactly) {
  // Correctly rounded, these decimals are the doubles below; the engine reads
  // them an ulp or more off, so the encoder writes an exact product instead.
  for (double d : {-2.877114529923585e-295, -3.578260212126192e-301}) {
    const std::string literal = lib_sales::EncDouble(d);
    EXPECT_EQ(literal.front(), '(') << literal;
    EXPECT_EQ(*RoundTrip("D", literal).Get<double>(), d) << literal;
  }
  EXPECT_EQ(lib_sales::EncDouble(0.1), "0.1");  // the ordinary ones stay readable
}

TEST_F(EncoderRoundTrip, DatesAcrossTheCalendar) {
  const std::vector<Date> dates = {
      Date::FromParts(100, 1, 1),
      Date::FromParts(1753, 1, 1),
      Date::FromParts(1899, 12, 30),
      Date::FromParts(1899, 12, 29, 6, 0, 0),
      Date::FromParts(1900, 2, 28, 23, 59, 59),
      Date::FromParts(1900, 3, 1),
      Date::FromParts(2000, 2, 29, 12, 0, 1),
      Date::FromParts(2026, 12, 8, 14, 30, 0),
      Date::FromParts(9999, 12, 31),
      Date::FromParts(9999, 12, 31, 23, 59, 59),
  };
  for (const Date& d : dates) {
    const std::string literal = lib_sales::EncDate(d);
    EXPECT_EQ(literal, "'" + d.ToIso() + "'");
    const Variant back = RoundTrip("DT", literal);
    ASSERT_NE(back.Get<Date>(), nullptr) << literal;
    EXPECT_EQ(back.Get<Date>()->ToIso(), d.ToIso());
    EXPECT_TRUE(Matches("DT", literal)) << literal;
  }
}

TEST(EncoderLiterals, Forms) {
  EXPECT_EQ(lib_sales::EncText("O'Brien"), "'O''Brien'");
  EXPECT_EQ(lib_sales::EncText(""), "''");
  EXPECT_EQ(lib_sales::EncLong(-42), "-42");
  EXPECT_EQ(lib_sales::EncByte(uint8_t{255}), "255");
  EXPECT_EQ(lib_sales::EncDouble(0.1), "0.1");
  EXPECT_EQ(lib_sales::EncDouble(1e308), "1e+308");
  EXPECT_EQ(lib_sales::EncDouble(-2.5), "-2.5");
  EXPECT_EQ(lib_sales::EncDate(Date::FromParts(2026, 5, 9, 7, 8, 9)), "'2026-05-09T07:08:09'");
  EXPECT_EQ(lib_sales::Sls_EscapeQuotes("it's 'x'"), "it''s ''x''");
  EXPECT_EQ(lib_sales::Sls_EscapeQuotes(""), "");
}

TEST(EncoderLiterals, VariantsFollowTheConversionRules) {
  EXPECT_EQ(lib_sales::EncVariant(Variant::Null()), "NULL");
  EXPECT_EQ(lib_sales::EncVariant(Variant()), "''");
  EXPECT_EQ(lib_sales::EncVariant(Variant(true)), "'True'");
  EXPECT_EQ(lib_sales::EncVariant(Variant(int32_t{7})), "'7'");
  EXPECT_EQ(lib_sales::EncLong(Variant("12")), "12");
  EXPECT_EQ(lib_sales::EncDouble(Variant(platform::Currency::Parse("1.25"))), "1.25");
  // A flag as a byte is 255, the way the quotation flags are written.
  EXPECT_EQ(lib_sales::EncByte(Variant(true)), "255");
  EXPECT_EQ(lib_sales::EncByte(Variant(false)), "0");
  EXPECT_EQ(NumberOf([] { lib_sales::EncLong(Variant::Null()); }), platform::err::kInvalidUseOfNull);
  EXPECT_EQ(NumberOf([] { lib_sales::EncLong(Variant("abc")); }), platform::err::kTypeMismatch);
  EXPECT_EQ(NumberOf([] { lib_sales::EncByte(Variant(int32_t{256})); }), platform::err::kOverflow);
}

TEST(EncoderLiterals, WhatCannotBeRenderedIsRefused) {
  const std::string with_nul("a\0b", 3);
  const std::string bad_utf8 = "caf\xC3";  // a cut-off sequence
  const std::string overlong = "\xC0\xAF";
  EXPECT_EQ(NumberOf([&] { lib_sales::EncText(with_nul); }), platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([&] { lib_sales::EncText(bad_utf8); }), platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([&] { lib_sales::EncText(overlong); }), platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([&] { lib_sales::EncKeyString(with_nul); }),
            platform::err::kInvalidProcedureCall);
  // A key is typed on one line: a line break or tab in it is refused, not
  // silently matched against nothing.
  EXPECT_EQ(NumberOf([] { lib_sales::EncKeyString("AB\r\nC"); }),
            platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([] { lib_sales::EncKeyString("A\tB"); }), platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([] { lib_sales::EncText("A\tB\r\n"); }), 0);

  // The diagnostic form always gets through, dropping only what no database
  // text can hold.
  EXPECT_EQ(lib_sales::EncQuotedString(with_nul), "'ab'");
  EXPECT_EQ(lib_sales::EncQuotedString(bad_utf8), "'caf\xEF\xBF\xBD'");
  EXPECT_EQ(lib_sales::EncQuotedString("it's\r\n"), "'it''s\r\n'");

  EXPECT_EQ(NumberOf([] { lib_sales::EncDouble(std::nan("")); }),
            platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([] { lib_sales::EncDouble(HUGE_VAL); }), platform::err::kOverflow);
  EXPECT_EQ(NumberOf([] { lib_sales::EncDouble(-HUGE_VAL); }), platform::err::kOverflow);
  EXPECT_EQ(NumberOf([] { lib_sales::EncDate(Date::FromSerial(-700000)); }),  // year 83
            platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([] { lib_sales::EncDate(Date::FromSerial(1e12)); }),
            platform::err::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([] { lib_sales::EncDate(Date::FromSerial(std::nan(""))); }),
            platform::err::kInvalidProcedureCall);
}

// A recording encoder put in place under the identifier, so the routines'
// calls can be seen.
class RecordingEncoder : public platform::Dispatchable<RecordingEncoder> {
 public:
  static const platform::ClassBinding<RecordingEncoder>& Binding() {
    static const auto b = platform::ClassBinding<RecordingEncoder>("SqlValueEncoder")
                              .Method("EncodeText", &RecordingEncoder::EncodeText)
                              .Method("EncodeKeyText", &RecordingEncoder::EncodeKeyText)
                              .Method("EncodeQuotedText", &RecordingEncoder::EncodeQuotedText)
                              .Method("EncodeLong", &RecordingEncoder::EncodeLong);
    return b;
  }
  std::string EncodeText(const std::string& t) { return Note("EncodeText", "'" + t + "'"); }
  std::string EncodeKeyText(const std::string& t) { return Note("EncodeKeyText", "'" + t + "'"); }
  std::string EncodeQuotedText(const std::string& t) {
    return Note("EncodeQuotedText", "'" + t + "'");
  }
  std::string EncodeLong(int32_t n) { return Note("EncodeLong", std::to_string(n)); }
  std::shared_ptr<std::vector<std::string>> calls;

 private:
  std::string Note(const std::string& op, std::string result) {
    calls->push_back(op);
    return result;
  }
};

TEST(EncoderPerThread, OneEncoderPerThreadFromTheRegistry) {
  auto calls = std::make_shared<std::vector<std::string>>();
  auto created = std::make_shared<int>(0);
  lib_sales::ResetThreadEncoder();
  {
    platform::ScopedRegistration fake("SqlValueEncoder", [calls, created] {
      ++*created;
      auto e = std::make_shared<RecordingEncoder>();
      e->calls = calls;
      return platform::ObjectPtr(e);
    });
    EXPECT_EQ(lib_sales::EncString("K"), "'K'");  // the Vendra form: a key
    EXPECT_EQ(lib_sales::EncVariant(Variant("v")), "'v'");
    EXPECT_EQ(lib_sales::EncVariant(Variant::Null()), "NULL");  // no call
    EXPECT_EQ(lib_sales::EncQuotedString("q"), "'q'");
    EXPECT_EQ(lib_sales::EncLong(3), "3");
    EXPECT_EQ(*calls, (std::vector<std::string>{"EncodeKeyText", "EncodeText",
                                                "EncodeQuotedText", "EncodeLong"}));
    EXPECT_EQ(*created, 1);

    // Another thread makes its own.
    std::thread other([] { lib_sales::EncLong(1); });
    other.join();
    EXPECT_EQ(*created, 2);
  }
  lib_sales::ResetThreadEncoder();
  EXPECT_EQ(lib_sales::EncText("x"), "'x'");  // the real one again
}

TEST(EncoderLateBound, CallableByName) {
  auto encoder = platform::ObjectPtr(std::make_shared<platform::SqlValueEncoder>());
  EXPECT_EQ(platform::Call(encoder, "EncodeText", {Variant("it's")}).ToString(), "'it''s'");
  EXPECT_EQ(platform::Call(encoder, "EncodeLong", {Variant("12")}).ToString(), "12");
  EXPECT_EQ(platform::Call(encoder, "EncodeByte", {Variant(true)}).ToString(), "255");
  EXPECT_EQ(platform::Call(encoder, "EncodeDate", {Variant(Date::FromParts(2026, 1, 2))})
                .ToString(),
            "'2026-01-02T00:00:00'");
  EXPECT_EQ(platform::Call(encoder, "EncodeDouble", {Variant(0.5)}).ToString(), "0.5");
}

}  // namespace
