#include "platform/data/ado_types.h"

#include <cctype>
#include <charconv>
#include <string>

#include "platform/core/com_error.h"
#include "platform/data/data_util.h"

namespace platform::data {

namespace {

struct TypeName {
  std::string_view name;
  int32_t type;
  int32_t size;  // the fixed size of numbers; -1 for text (from the declaration)
};

// SQL Server's type names, plus the spellings SQLite schemas tend to use.
constexpr TypeName kTypes[] = {
    {"DATETIME", adDBTimeStamp, 16},   {"DATETIME2", adDBTimeStamp, 16},
    {"SMALLDATETIME", adDBTimeStamp, 16}, {"DATE", adDBTimeStamp, 16},
    {"TIMESTAMP", adDBTimeStamp, 16},  {"MONEY", adCurrency, 8},
    {"SMALLMONEY", adCurrency, 8},     {"BIT", adBoolean, 2},
    {"BOOLEAN", adBoolean, 2},         {"INT", adInteger, 4},
    {"INTEGER", adInteger, 4},         {"SMALLINT", adSmallInt, 2},
    {"TINYINT", adUnsignedTinyInt, 1}, {"BIGINT", adBigInt, 8},
    {"FLOAT", adDouble, 8},            {"REAL", adDouble, 8},
    {"DOUBLE", adDouble, 8},           {"DOUBLE PRECISION", adDouble, 8},
    {"NUMERIC", adNumeric, 19},        {"DECIMAL", adNumeric, 19},
    {"NVARCHAR", adVarWChar, -1},      {"VARCHAR", adVarChar, -1},
    {"NCHAR", adWChar, -1},            {"CHAR", adChar, -1},
    {"NTEXT", adLongVarWChar, -1},     {"TEXT", adLongVarChar, -1},
    {"UNIQUEIDENTIFIER", adGUID, 16},
};

constexpr int32_t kLongTextSize = 1073741823;

}  // namespace

DeclaredType TypeFromDeclaration(std::string_view declared) {
  std::string text = detail::Upper(detail::Trim(declared));
  std::string base = text;
  std::string_view args;
  if (auto open = text.find('('); open != std::string::npos) {
    base = std::string(detail::Trim(std::string_view(text).substr(0, open)));
    auto close = text.find(')', open);
    args = std::string_view(text).substr(open + 1, (close == std::string::npos ? text.size() : close) - open - 1);
  }
  // "INTEGER NOT NULL" never reaches here (SQLite keeps the type alone), but a
  // doubled blank may.
  std::string folded;
  for (char c : base) {
    if (c == ' ' && !folded.empty() && folded.back() == ' ') continue;
    folded += c;
  }
  for (const TypeName& t : kTypes) {
    if (folded != t.name) continue;
    DeclaredType out{t.type, t.size};
    if (t.size < 0) {
      out.size = 0;
      std::string_view n = detail::Trim(args.substr(0, args.find(',')));
      int32_t value = 0;
      if (n == "MAX") {
        out.size = kLongTextSize;
      } else if (!n.empty() &&
                 std::from_chars(n.data(), n.data() + n.size(), value).ec == std::errc()) {
        out.size = value;
      } else if (t.type == adLongVarWChar || t.type == adLongVarChar) {
        out.size = kLongTextSize;
      } else if (t.type == adWChar || t.type == adChar) {
        out.size = 1;  // CHAR without a length is one character
      }
    }
    return out;
  }
  return {};
}

Variant CoerceToFieldType(const Variant& value, int32_t type) {
  if (value.IsMissing()) return Variant::Null();
  switch (type) {
    case adInteger:
      return Variant(value.ToLong());
    case adSmallInt:
    case adTinyInt:
      return Variant(value.ToInteger());
    case adUnsignedTinyInt:
      return Variant(value.ToByte());
    case adBigInt: {
      // No 64-bit Variant: a Long when it fits, else the Double.
      if (value.Get<int32_t>() || value.Get<int16_t>() || value.Get<uint8_t>())
        return Variant(value.ToLong());
      const double d = RoundHalfEven(value.ToDouble());
      if (d >= INT32_MIN && d <= INT32_MAX) return Variant(static_cast<int32_t>(d));
      return Variant(d);
    }
    case adBoolean:
      return Variant(value.ToBool());
    case adDouble:
    case adNumeric:
      return Variant(value.ToDouble());
    case adCurrency:
      return Variant(value.ToCurrency());
    case adDate:
    case adDBTimeStamp:
      return Variant(value.ToDate());
    case adVarWChar:
    case adVarChar:
    case adWChar:
    case adChar:
    case adLongVarWChar:
    case adLongVarChar:
    case adGUID:
      return Variant(value.ToString());
    default:
      if (value.IsObject() || value.IsArray())
        detail::RaiseData(data_err::kTypeNotSupported, "Field",
                          "A field cannot hold an object or an array.");
      return value;
  }
}

int32_t TypeOfValue(const Variant& value) {
  switch (value.type()) {
    case VarType::Boolean: return adBoolean;
    case VarType::Byte: return adUnsignedTinyInt;
    case VarType::Integer: return adSmallInt;
    case VarType::Long: return adInteger;
    case VarType::Double: return adDouble;
    case VarType::Currency: return adCurrency;
    case VarType::Date: return adDBTimeStamp;
    case VarType::String: return adVarWChar;
    default: return adVariant;
  }
}

std::string_view DeclarationOfType(int32_t type) {
  switch (type) {
    case adDBTimeStamp:
    case adDate: return "DATETIME";
    case adCurrency: return "MONEY";
    case adBoolean: return "BIT";
    case adInteger: return "INT";
    case adSmallInt:
    case adTinyInt: return "SMALLINT";
    case adUnsignedTinyInt: return "TINYINT";
    case adBigInt: return "BIGINT";
    case adDouble: return "FLOAT";
    case adNumeric: return "NUMERIC";
    case adVarWChar: return "NVARCHAR";
    case adVarChar: return "VARCHAR";
    case adWChar: return "NCHAR";
    case adChar: return "CHAR";
    case adLongVarWChar: return "NTEXT";
    case adLongVarChar: return "TEXT";
    case adGUID: return "UNIQUEIDENTIFIER";
    default: return "";
  }
}

}  // namespace platform::data
