#include "platform/data/postgres/pg_values.h"

#include <charconv>
#include <limits>
#include <string_view>
#include <utility>

#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"
#include "platform/data/errors.h"
#include "platform/data/postgres/pg_connection.h"

namespace platform::data::postgres {

// ---------------------------------------------------------------------------
// Values in and out (text form both ways).

std::string DoubleText(double d) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

// The text of a value for the server; false for Null.
bool ParameterText(const Variant& v, std::string& out) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      return false;
    case VarType::Boolean:
      out = *v.Get<bool>() ? "1" : "0";  // flags hold 0/1
      return true;
    case VarType::Byte:
      out = std::to_string(*v.Get<uint8_t>());
      return true;
    case VarType::Integer:
      out = std::to_string(*v.Get<int16_t>());
      return true;
    case VarType::Long:
      out = std::to_string(*v.Get<int32_t>());
      return true;
    case VarType::Double:
      out = DoubleText(*v.Get<double>());
      return true;
    case VarType::Currency:
      out = v.Get<Currency>()->ToFixed4();
      return true;
    case VarType::Date:
      out = v.Get<Date>()->ToIso();
      return true;
    case VarType::String:
      out = *v.Get<std::string>();
      // libpq takes parameters as C strings: a NUL would cut the text short
      // and store the rest silently. The server's own words for it.
      if (out.find('\0') != std::string::npos)
        Raise("22021", "invalid byte sequence for encoding \"UTF8\": 0x00");
      return true;
    default:
      detail::RaiseData(data_err::kTypeNotSupported, "Command",
                        "An object or an array cannot be passed as a statement parameter.");
  }
}

// The value of a cell by the server's type of the column.
Variant RawCell(const char* p, int len, Oid type) {
  const std::string_view s(p, static_cast<size_t>(len));
  switch (type) {
    case kBoolOid:
      return Variant(s == "t");
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid: {
      int64_t v = 0;
      std::from_chars(s.data(), s.data() + s.size(), v);
      if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
      return Variant(ParseNumber(s));
    case kDateOid:
    case kTimestampOid:
    case kTimestampTzOid:
      if (auto d = Date::Parse(s.substr(0, 19))) return Variant(*d);
      break;
    default:
      break;
  }
  return Variant(std::string(s));
}

Variant ReadCell(const char* p, int len, Oid oid, int32_t type) {
  if (type == adCurrency && (oid == kNumericOid || oid == kFloat8Oid)) {
    try {
      return Variant(Currency::Parse(std::string_view(p, static_cast<size_t>(len))));
    } catch (const ComError&) {
    }
  }
  Variant raw = RawCell(p, len, oid);
  if (type == adVariant) return raw;
  try {
    return CoerceToFieldType(raw, type);
  } catch (const ComError&) {
    return raw;
  }
}

// A declared type as format_type() writes it, in the spelling the ADO type
// mapping reads ("character varying(20)" -> "VARCHAR(20)", "\"MONEY\"" -> "MONEY").
std::string Declaration(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  std::string args;
  if (auto open = text.find('('); open != std::string::npos) {
    const size_t close = text.find(')', open);
    args = text.substr(open, close == std::string::npos ? std::string::npos : close - open + 1);
    text.erase(open, args.size());
  }
  for (const char* suffix : {" without time zone", " with time zone"}) {
    if (auto at = text.find(suffix); at != std::string::npos) text.erase(at);
  }
  static const std::pair<const char*, const char*> kNames[] = {
      {"character varying", "VARCHAR"}, {"character", "CHAR"}, {"citext", "NVARCHAR"},
      {"timestamp", "DATETIME"},        {"boolean", "BOOLEAN"}, {"integer", "INTEGER"},
      {"smallint", "SMALLINT"},         {"bigint", "BIGINT"},   {"double precision", "FLOAT"},
      {"real", "REAL"},                 {"numeric", "NUMERIC"}, {"text", "TEXT"},
      {"date", "DATE"},                 {"uuid", "UNIQUEIDENTIFIER"}};
  for (const auto& [pg, sql] : kNames) {
    if (text == pg) return std::string(sql) + (std::string(sql) == "DATETIME" ? "" : args);
  }
  return text + args;
}

}  // namespace platform::data::postgres
