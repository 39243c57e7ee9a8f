#include "platform/services/sql_value_encoder.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <unordered_map>

#include "platform/core/com_error.h"
#include "platform/core/text.h"

namespace platform {

namespace {

constexpr std::string_view kSource = "SqlValueEncoder";

enum class Controls { Allowed, Refused };

// The checked literal: raises 5 naming the operation for what it refuses.
std::string StrictLiteral(std::string_view text, Controls controls, const char* operation) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0) {
      Raise(err::kInvalidProcedureCall, std::string(kSource) + "." + operation,
            "A text for SQL may not hold a NUL character (at byte " + std::to_string(i) + ")");
    }
    if (controls == Controls::Refused && (c < 0x20 || c == 0x7F)) {
      char code[8];
      std::snprintf(code, sizeof code, "%02X", c);
      Raise(err::kInvalidProcedureCall, std::string(kSource) + "." + operation,
            "A key for SQL may not hold the control character 0x" + std::string(code) +
                " (at byte " + std::to_string(i) + ")");
    }
    const size_t n = platform::text::Utf8SequenceLength(text, i);
    if (n == 0) {
      Raise(err::kInvalidProcedureCall, std::string(kSource) + "." + operation,
            "A text for SQL must be UTF-8; byte " + std::to_string(i) + " is not");
    }
    if (c == '\'') out.push_back('\'');
    out.append(text.substr(i, n));
    i += n;
  }
  out.push_back('\'');
  return out;
}

// The embedded engine does not round every decimal literal correctly: it
// scales by powers of ten in extended precision, which can miss by an ulp
// (now and then) or by several (for exponents near the ends of the range).
// So a number literal is checked against the engine's own reading, and the
// rare one it would misread is written in a form it reads exactly.
class EngineReader {
 public:
  ~EngineReader() {
    if (db_) sqlite3_close(db_);
  }
  // The double the engine makes of the literal; NaN when it cannot say.
  double Read(const std::string& literal) {
    if (!db_ && sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK) {
      return std::nan("");
    }
    const std::string sql = "SELECT " + literal;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement,
                           nullptr) != SQLITE_OK) {
      return std::nan("");
    }
    double read = std::nan("");
    if (sqlite3_step(statement) == SQLITE_ROW) read = sqlite3_column_double(statement, 0);
    sqlite3_finalize(statement);
    return read;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Asking the engine compiles a statement; the same amounts come back again
// and again (prices, rates, quantities of one order), so the answers are
// kept per thread, a bounded number of them.
double EngineReads(const std::string& literal) {
  constexpr size_t kKept = 4096;
  thread_local EngineReader reader;
  thread_local std::unordered_map<std::string, double> known;
  if (auto it = known.find(literal); it != known.end()) return it->second;
  const double read = reader.Read(literal);
  if (std::isnan(read)) return read;  // not an answer: ask again next time
  if (known.size() >= kKept) known.clear();
  known.emplace(literal, read);
  return read;
}

// value as (m*f*f*...), m the integer significand and each f a power of two
// whose decimal form is exact and short enough for any engine to read
// exactly (2^-27 is 7.450580596923828125e-09, 2^27 is 134217728). Every
// product on the way is exactly representable, so the engine's arithmetic
// adds no rounding either.
std::string ExactProduct(double value) {
  if (value == 0) return "0";
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);  // value = fraction * 2^exponent
  auto significand = static_cast<int64_t>(std::ldexp(fraction, 53));
  int power = exponent - 53;
  while (significand != 0 && significand % 2 == 0) {
    significand /= 2;
    ++power;
  }
  std::string out = "(" + std::to_string(significand);
  constexpr int kStep = 27;
  while (power != 0) {
    const int step = power > 0 ? std::min(power, kStep) : std::max(power, -kStep);
    if (step > 0) {
      out += "*" + std::to_string(int64_t{1} << step);
    } else {
      // 2^-n = 5^n * 10^-n exactly.
      int64_t five = 1;
      for (int i = 0; i < -step; ++i) five *= 5;
      out += "*" + std::to_string(five) + "e-" + std::to_string(-step);
    }
    power -= step;
  }
  out += ")";
  return out;
}

}  // namespace

const ClassBinding<SqlValueEncoder>& SqlValueEncoder::Binding() {
  static const auto b = ClassBinding<SqlValueEncoder>("SqlValueEncoder")
                            .Method("EncodeText", &SqlValueEncoder::EncodeText)
                            .Method("EncodeKeyText", &SqlValueEncoder::EncodeKeyText)
                            .Method("EncodeQuotedText", &SqlValueEncoder::EncodeQuotedText)
                            .Method("EncodeLong", &SqlValueEncoder::EncodeLong)
                            .Method("EncodeDouble", &SqlValueEncoder::EncodeDouble)
                            .Method("EncodeDate", &SqlValueEncoder::EncodeDate)
                            .Method("EncodeByte", &SqlValueEncoder::EncodeByte);
  return b;
}

std::string SqlValueEncoder::Text(std::string_view text) {
  return StrictLiteral(text, Controls::Allowed, "EncodeText");
}

std::string SqlValueEncoder::KeyText(std::string_view key) {
  return StrictLiteral(key, Controls::Refused, "EncodeKeyText");
}

std::string SqlValueEncoder::QuotedText(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\0') {
      ++i;
      continue;
    }
    const size_t n = platform::text::Utf8SequenceLength(text, i);
    if (n == 0) {
      out.append(kReplacement);
      ++i;
      continue;
    }
    if (c == '\'') out.push_back('\'');
    out.append(text.substr(i, n));
    i += n;
  }
  out.push_back('\'');
  return out;
}

std::string SqlValueEncoder::Double(double value) {
  if (std::isnan(value))
    Raise(err::kInvalidProcedureCall, "SqlValueEncoder.EncodeDouble", "NaN has no SQL literal");
  if (std::isinf(value))
    Raise(err::kOverflow, "SqlValueEncoder.EncodeDouble",
          value > 0 ? "Overflow: infinity has no SQL literal"
                    : "Overflow: minus infinity has no SQL literal");
  // The shortest form that parses back to the same double under correct
  // rounding; the exponent form ("1e+308") is a valid literal for both
  // engines.
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  std::string shortest(text, result.ptr);
  // Whole numbers below 2^53 are integer literals, which every engine reads
  // exactly; only the others are worth asking.
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) return shortest;
  if (EngineReads(shortest) == value) return shortest;
  return ExactProduct(value);
}

std::string SqlValueEncoder::DateLiteral(Date value) {
  // Checked on the serial first: a wild serial has no year to speak of.
  static const double kFirst = Date::FromParts(100, 1, 1).serial() - 1;
  static const double kLast = Date::FromParts(9999, 12, 31).serial() + 1;
  const double serial = value.serial();
  if (!std::isfinite(serial) || serial <= kFirst || serial >= kLast ||
      value.year() < 100 || value.year() > 9999) {
    Raise(err::kInvalidProcedureCall, "SqlValueEncoder.EncodeDate",
          "The date lies outside the years 100 to 9999 (serial " + std::to_string(serial) + ")");
  }
  return "'" + value.ToIso() + "'";
}

std::string SqlValueEncoder::EncodeText(const std::string& text) const { return Text(text); }

std::string SqlValueEncoder::EncodeKeyText(const std::string& key) const { return KeyText(key); }

std::string SqlValueEncoder::EncodeQuotedText(const std::string& text) const {
  return QuotedText(text);
}

std::string SqlValueEncoder::EncodeLong(int32_t value) const { return std::to_string(value); }

std::string SqlValueEncoder::EncodeDouble(double value) const { return Double(value); }

std::string SqlValueEncoder::EncodeDate(Date value) const { return DateLiteral(value); }

std::string SqlValueEncoder::EncodeByte(uint8_t value) const {
  return std::to_string(static_cast<unsigned>(value));
}

}  // namespace platform
