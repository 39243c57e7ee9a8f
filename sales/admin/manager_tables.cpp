// Vendra.Manager: the parameter-table maintenance of the administration
// pages (Create, Update, Delete, GetDataTypes, GetRecordSet) and the
// rendering of a value by its column's type (EncodeFieldValue).
//
// Table and column names go into the statement text, where no encoder can
// protect them, so a name is taken only when it is a plain identifier that
// the schema knows, and the schema's own spelling is what is written. Every
// value is rendered before the first statement runs, so a refused call
// changes nothing.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/core/text.h"
#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/admin/manager.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"

namespace vendra {

namespace {

using lib_sales::VendraError;
using platform::Variant;
using platform::VariantArray;
using platform::data::Connection;
using platform::data::Recordset;
namespace ado = platform::data;

constexpr std::string_view kCreate = "Vendra.Parameter.Create";
constexpr std::string_view kDelete = "Vendra.Parameter.Delete";
constexpr std::string_view kUpdate = "Vendra.Manager.Update";
constexpr std::string_view kGetDataTypes = "Vendra.Manager.GetDataTypes";
constexpr std::string_view kEncodeFieldValue = "Vendra.Manager.EncodeFieldValue";
constexpr std::string_view kGetRecordSet = "Vendra.Manager.GetRecordSet";

[[noreturn]] void Refuse(std::string_view source, const std::string& why) {
  platform::Raise(platform::err::kInvalidProcedureCall, std::string(source), why);
}

bool IsIdentifier(std::string_view name) {
  return name.size() <= 128 && platform::text::IsPlainIdentifier(name);
}

struct Column {
  std::string name;    // as the schema spells it
  int32_t type = 0;    // ADO type code
  int32_t length = 0;  // the most characters a text column takes; 0 for no limit
};

// A table of the sales database as its schema describes it.
struct TableShape {
  std::string name;
  std::vector<Column> columns;

  const Column* Find(std::string_view name_asked) const {
    for (const Column& c : columns)
      if (platform::text::EqualsNoCase(c.name, name_asked)) return &c;
    return nullptr;
  }
};

void CheckTableName(const std::string& table, std::string_view source) {
  if (!IsIdentifier(table))
    Refuse(source, "'" + table +
                       "' is not a table name: a table is named by letters, digits and "
                       "underscores only");
}

// The table's columns from the schema's columns rowset; a name that is no
// plain identifier or no table of the database is refused.
TableShape ShapeOf(Connection& connection, const std::string& table, std::string_view source) {
  CheckTableName(table, source);
  auto rows = connection.OpenSchema(ado::adSchemaColumns,
                                    Variant(VariantArray{Variant(), Variant(), Variant(table)}));
  TableShape shape;
  for (; !rows->Eof(); rows->MoveNext()) {
    if (shape.name.empty()) shape.name = rows->Value("TABLE_NAME").ToString();
    const Variant length = rows->Value("CHARACTER_MAXIMUM_LENGTH");
    shape.columns.push_back(Column{rows->Value("COLUMN_NAME").ToString(),
                                   rows->Value("DATA_TYPE").ToLong(),
                                   length.IsMissing() ? 0 : length.ToLong()});
  }
  if (shape.columns.empty())
    Refuse(source, "There is no table '" + table + "' in the sales database");
  return shape;
}

// One column of the statement with its value rendered.
struct Term {
  const Column* column;
  std::string literal;
};

// The array a names or values argument holds; anything else is refused.
const VariantArray& ArrayOf(const Variant& v, std::string_view what, std::string_view source) {
  if (!v.IsArray())
    Refuse(source, std::string(what) + " must be an array");
  return v.Array();
}

size_t Characters(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// Whether a number text is a plain decimal: sign, digits, a point, an
// exponent, and nothing else.
bool IsNumberText(std::string_view t, bool whole) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (whole) return digits > 0 && i == t.size();
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exponent = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == t.size();
}

// A number type written as the value's own text, once that is checked to be
// a number the type holds.
std::string CheckedNumber(int32_t type, const Variant& value) {
  const std::string text(platform::text::TrimSpace(value.ToString()));
  const bool whole = type != ado::adCurrency && type != 14 /* adDecimal */ && type != 4 /* adSingle */;
  if (!IsNumberText(text, whole))
    platform::Raise(platform::err::kTypeMismatch, std::string(kEncodeFieldValue),
                    "Type mismatch: a " + std::string(whole ? "whole number" : "number") +
                        " is needed");
  const double d = std::strtod(text.c_str(), nullptr);
  double low = -9.2e18, high = 9.2e18;
  switch (type) {
    case ado::adSmallInt: low = INT16_MIN, high = INT16_MAX; break;
    case ado::adInteger: low = INT32_MIN, high = INT32_MAX; break;
    case ado::adTinyInt: low = INT8_MIN, high = INT8_MAX; break;
    case ado::adUnsignedTinyInt: low = 0, high = UINT8_MAX; break;
    case ado::adCurrency: low = -922337203685477.5807, high = 922337203685477.5807; break;
    default: break;
  }
  if (!std::isfinite(d) || d < low || d > high)
    platform::Raise(platform::err::kOverflow, std::string(kEncodeFieldValue), "Overflow");
  return text;
}

// The literal of a value for a column of the ADO type code (the rules of
// EncodeFieldValue); a value that does not fit raises the conversion's own
// error.
std::string RenderByType(int32_t type, const Variant& i_vValue) {
  switch (type) {
    case ado::adDouble:
    case ado::adNumeric: {
      // A whole number is written as a Long; a fraction is kept as it is
      // given, never cut to a whole number.
      const double d = i_vValue.ToDouble();
      if (std::isfinite(d) && d == std::trunc(d) && d >= INT32_MIN && d <= INT32_MAX)
        return lib_sales::EncLong(static_cast<int32_t>(d));
      return lib_sales::EncDouble(d);
    }
    case ado::adBoolean:
      return lib_sales::EncByte(i_vValue);
    case 111:
      return lib_sales::EncDouble(i_vValue);
    case 112:
    case ado::adDate:
    case 133:  // adDBDate
    case ado::adDBTimeStamp:
      return lib_sales::EncDate(i_vValue);
    case ado::adChar:
    case ado::adWChar:
    case 8:  // adBSTR
    case ado::adVarChar:
    case ado::adLongVarChar:
    case ado::adVarWChar:
    case ado::adLongVarWChar:
      return lib_sales::EncVariant(i_vValue);
    case ado::adSmallInt:
    case ado::adInteger:
    case 4:  // adSingle
    case ado::adCurrency:
    case 14:  // adDecimal
    case ado::adTinyInt:
    case ado::adUnsignedTinyInt:
    case 18:  // adUnsignedSmallInt
    case 19:  // adUnsignedInt
    case ado::adBigInt:
    case 21:  // adUnsignedBigInt
      return CheckedNumber(type, i_vValue);
    default:
      Refuse(kEncodeFieldValue, "A column of type " + std::to_string(type) +
                                    " cannot be written from text");
  }
}

// The value rendered for the column; a value that does not fit the column
// is refused with a text naming the column, under the operation's source.
std::string Render(const TableShape& table, const Column& column, const Variant& value,
                   std::string_view source) {
  try {
    std::string literal = RenderByType(column.type, value);
    if (column.length > 0 && value.IsString() && Characters(*value.Get<std::string>()) >
                                                     static_cast<size_t>(column.length))
      Refuse(source, "The value for " + table.name + "." + column.name + " is longer than the " +
                         std::to_string(column.length) + " characters the column takes");
    return literal;
  } catch (const platform::ComError& e) {
    if (e.source() == source) throw;
    std::string shown = value.IsNull() ? "Null" : value.IsString() ? "'" + value.ToString() + "'"
                                                                   : "the value given";
    platform::Raise(e.number(), std::string(source),
                    "The value " + shown + " does not fit column " + table.name + "." +
                        column.name + " (type " + std::to_string(column.type) + "): " +
                        e.description());
  }
}

// The checks that need no schema: both arguments arrays of the same,
// non-zero length, every name a plain identifier. Made before the database
// is opened, so a hostile name never gets as far as a connection.
void CheckArrays(const Variant& names_arg, const Variant& values_arg, std::string_view what,
                 std::string_view source) {
  const VariantArray& names = ArrayOf(names_arg, "The " + std::string(what) + " names", source);
  const VariantArray& values = ArrayOf(values_arg, "The " + std::string(what) + " values", source);
  if (names.empty()) Refuse(source, "No " + std::string(what) + " columns were given");
  if (names.size() != values.size())
    Refuse(source, "There are " + std::to_string(names.size()) + " " + std::string(what) +
                       " names but " + std::to_string(values.size()) + " values");
  for (const Variant& n : names) {
    const std::string name = n.IsMissing() ? std::string() : n.ToString();
    if (!IsIdentifier(name))
      Refuse(source, "'" + name +
                         "' is not a column name: a column is named by letters, digits and "
                         "underscores only");
  }
}

// Pairs names with values: same non-zero length, every name a column of
// the table and named once, every value rendered. null_as_null: a Null or
// empty value renders as Null (the SET list of Update).
std::vector<Term> Terms(const TableShape& table, const Variant& names_arg,
                        const Variant& values_arg, std::string_view what,
                        std::string_view source, bool null_as_null) {
  CheckArrays(names_arg, values_arg, what, source);
  const VariantArray& names = names_arg.Array();
  const VariantArray& values = values_arg.Array();
  std::vector<Term> terms;
  terms.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string name = names[i].ToString();
    const Column* column = table.Find(name);
    if (!column)
      Refuse(source, "Field: '" + name + "' doesn't exist in Table " + table.name);
    for (const Term& t : terms)
      if (t.column == column)
        Refuse(source, "Field: " + column->name + " is named twice");
    const Variant& value = values[i];
    // Only the SET list of Update writes Null; a row to insert or a key to
    // select by takes a value.
    if (!null_as_null && value.IsNull())
      platform::Raise(platform::err::kInvalidUseOfNull, std::string(source),
                      "Invalid use of Null: " + table.name + "." + column->name +
                          " needs a value here (leave the column out of a new row instead)");
    const bool blank = value.IsMissing() || (value.IsString() && value.Get<std::string>()->empty());
    terms.push_back(Term{column, null_as_null && blank ? std::string("Null")
                                                        : Render(table, *column, value, source)});
  }
  return terms;
}

std::string Joined(const std::vector<Term>& terms, std::string_view between) {
  std::string out;
  for (const Term& t : terms) {
    if (!out.empty()) out += between;
    out += t.column->name + "=" + t.literal;
  }
  return out;
}

// The connection of one operation, closed on every path.
class TableConnection {
 public:
  TableConnection()
      : connection_(lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString())) {}
  ~TableConnection() {
    try {
      lib_sales::Sls_CloseConnection(connection_);
    } catch (...) {
    }
  }
  TableConnection(const TableConnection&) = delete;
  TableConnection& operator=(const TableConnection&) = delete;
  Connection& operator*() const { return *connection_; }
  const std::shared_ptr<Connection>& get() const { return connection_; }
  void Close() { lib_sales::Sls_CloseConnection(connection_); }

 private:
  std::shared_ptr<Connection> connection_;
};

// Runs a statement that must change at least one row.
void ExecuteOnRows(Connection& connection, const std::string& sql, std::string_view source,
                   const std::string& selection) {
  Variant affected;
  connection.Execute(sql, &affected);
  if (affected.ToLong() == 0) Refuse(source, "No row " + selection);
}

// Whether the first word of a statement, after blanks and comments, is one
// that reads.
bool StartsAsQuery(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size()) {
    if (std::isspace(static_cast<unsigned char>(sql[i]))) {
      ++i;
    } else if (sql.substr(i, 2) == "--") {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (sql.substr(i, 2) == "/*") {
      const size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else {
      break;
    }
  }
  size_t j = i;
  while (j < sql.size() && std::isalpha(static_cast<unsigned char>(sql[j]))) ++j;
  const std::string_view word = sql.substr(i, j - i);
  return platform::text::EqualsNoCase(word, "SELECT") || platform::text::EqualsNoCase(word, "WITH");
}

int64_t TotalChanges(Connection& connection) {
  auto rs = connection.Execute("SELECT total_changes() AS N");
  return static_cast<int64_t>(rs->Value("N").ToDouble());
}

}  // namespace

std::string Manager::EncodeFieldValue(const std::string& i_sType, const Variant& i_vValue) {
  return lib_sales::Guarded(kEncodeFieldValue,
                            [&] { return RenderByType(Variant(i_sType).ToLong(), i_vValue); });
}

std::shared_ptr<platform::Dictionary> Manager::GetDataTypes(
    const std::string& iTablename, std::shared_ptr<Connection>& i_oConnection) {
  return lib_sales::Guarded(kGetDataTypes, [&] {
    // A late-bound caller without a connection of its own gets one for the call.
    std::unique_ptr<TableConnection> own;
    Connection* connection = i_oConnection && i_oConnection->IsOpen() ? i_oConnection.get() : nullptr;
    if (!connection) {
      own = std::make_unique<TableConnection>();
      connection = &**own;
    }
    const TableShape shape = ShapeOf(*connection, iTablename, kGetDataTypes);
    auto types = platform::Dictionary::New();
    for (const Column& c : shape.columns) types->Add(c.name, Variant(std::to_string(c.type)));
    if (own) own->Close();
    return types;
  });
}

void Manager::Create(const std::string& i_sTableName, const Variant& i_aFields,
                     const Variant& i_aFieldValues) {
  lib_sales::Guarded(kCreate, [&] {
    CheckTableName(i_sTableName, kCreate);
    CheckArrays(i_aFields, i_aFieldValues, "field", kCreate);
    TableConnection connection;
    const TableShape table = ShapeOf(*connection, i_sTableName, kCreate);
    const std::vector<Term> terms = Terms(table, i_aFields, i_aFieldValues, "field", kCreate, false);
    std::string columns = "(";
    std::string values = "(";
    for (const Term& t : terms) {
      columns += t.column->name + ",";
      values += t.literal + ",";
    }
    columns.back() = ')';
    values.back() = ')';
    (*connection).Execute("INSERT INTO " + table.name + " " + columns + " VALUES " + values);
    connection.Close();
  });
}

void Manager::Update(const std::string& i_sTableName, const Variant& i_aFields,
                     const Variant& i_aFieldValues, const Variant& i_aKeyFields,
                     const Variant& i_aKeyFieldValues) {
  lib_sales::Guarded(kUpdate, [&] {
    CheckTableName(i_sTableName, kUpdate);
    CheckArrays(i_aFields, i_aFieldValues, "field", kUpdate);
    CheckArrays(i_aKeyFields, i_aKeyFieldValues, "key", kUpdate);
    TableConnection connection;
    const TableShape table = ShapeOf(*connection, i_sTableName, kUpdate);
    const std::vector<Term> set = Terms(table, i_aFields, i_aFieldValues, "field", kUpdate, true);
    const std::vector<Term> keys = Terms(table, i_aKeyFields, i_aKeyFieldValues, "key", kUpdate, false);
    const std::string where = Joined(keys, " AND ");
    ExecuteOnRows(*connection, "UPDATE " + table.name + " SET " + Joined(set, ",") + " WHERE " + where + " ",
                  kUpdate, "of " + table.name + " has " + where);
    connection.Close();
  });
}

void Manager::Delete(const std::string& i_sTableName, const Variant& iFields,
                     const Variant& iFieldValues) {
  lib_sales::Guarded(kDelete, [&] {
    CheckTableName(i_sTableName, kDelete);
    CheckArrays(iFields, iFieldValues, "key", kDelete);
    TableConnection connection;
    const TableShape table = ShapeOf(*connection, i_sTableName, kDelete);
    const std::vector<Term> keys = Terms(table, iFields, iFieldValues, "key", kDelete, false);
    // This object's own answer comes first (the table is the kind it is asked
    // about); then the platform's guard of references answers whether rows of
    // other tables still name the rows this delete would remove.
    VariantArray names;
    for (const Term& t : keys) names.emplace_back(t.column->name);
    bool free = !Exists(table.name, Variant(names), iFieldValues);
    if (free) {
      const platform::ObjectPtr checker = lib_sales::Sls_GetComponent("Orvanta.ReferentialChecker");
      free = platform::Call(checker, "CheckReferentialDelete",
                            {Variant(table.name), Variant(std::move(names)), iFieldValues})
                 .ToBool();
    }
    if (!free) {
      const VariantArray& values = iFieldValues.Array();
      lib_sales::RaiseVendraError(
          VendraError::ReferentialDelete, std::string(kDelete),
          "Reference Exists for " + keys.front().column->name + "=" +
              (values.front().IsMissing() ? std::string("Null") : values.front().ToString()));
    }
    const std::string where = Joined(keys, " AND ");
    ExecuteOnRows(*connection, "DELETE FROM " + table.name + " WHERE (" + where + ")", kDelete,
                  "of " + table.name + " has " + where);
    connection.Close();
  });
}

std::shared_ptr<Recordset> Manager::GetRecordSet(const std::string& i_sQuery) {
  return lib_sales::Guarded(kGetRecordSet, [&] {
    if (!StartsAsQuery(i_sQuery))
      Refuse(kGetRecordSet, "GetRecordSet reads only: the statement must be a query (SELECT or WITH)");
    TableConnection connection;
    // The query runs in a transaction that is always rolled back, and a query
    // that changed rows on the way is refused: nothing it did stays.
    ado::Transaction transaction(*connection);
    const int64_t before = TotalChanges(*connection);
    auto rows = std::make_shared<Recordset>();
    rows->SetCursorLocation(ado::adUseClient);
    rows->Open(i_sQuery, connection.get(), ado::adOpenStatic, ado::adLockReadOnly, ado::adCmdText);
    if (TotalChanges(*connection) != before)
      Refuse(kGetRecordSet, "GetRecordSet reads only: the statement changed rows and was undone");
    transaction.Rollback();
    rows->SetActiveConnection(nullptr);
    connection.Close();
    return rows->Clone();
  });
}

}  // namespace vendra
