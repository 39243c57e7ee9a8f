#include "platform/services/referential_checker.h"

#include <string_view>

#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace platform {

namespace {

constexpr char kSource[] = "Orvanta.ReferentialChecker";

// Where a referring column's values must exist. The SQL is fixed text; the
// value is bound.
struct Reference {
  std::string_view column;
  const char* catalog;
  const char* table;
  const char* sql;
  bool integer_key;
};

constexpr Reference kReferences[] = {
    {"PRODUCTID", "Brevane", "PRODUCT", "SELECT 1 FROM PRODUCT WHERE PRODUCTID = ?", true},
    {"SKU", "Brevane", "PRODUCT", "SELECT 1 FROM PRODUCT WHERE PRODUCTID = ?", true},
    {"UNITCODE", "Brevane", "UNIT", "SELECT 1 FROM UNIT WHERE UNITCODE = ?", false},
    {"PRODUCTUNITCODE", "Brevane", "UNIT", "SELECT 1 FROM UNIT WHERE UNITCODE = ?", false},
    {"TAXCODE", "Brevane", "TAXCODES", "SELECT 1 FROM TAXCODES WHERE TAXCODE = ?", false},
    {"MANUFACTURERID", "Brevane", "MANUFACTURER",
     "SELECT 1 FROM MANUFACTURER WHERE MANUFACTURERID = ?", false},
    {"CATEGORYID", "Brevane", "PRODUCTCATEGORY",
     "SELECT 1 FROM PRODUCTCATEGORY WHERE CATEGORYID = ?", true},
    {"BUSINESSPARTNERID", "Kelmor", "BUSINESSPARTNER",
     "SELECT 1 FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = ?", true},
    {"ADDRESSID", "Kelmor", "ADDRESS", "SELECT 1 FROM ADDRESS WHERE ADDRESSID = ?", true},
    {"SHIPPINGADDRESSID", "Kelmor", "ADDRESS", "SELECT 1 FROM ADDRESS WHERE ADDRESSID = ?", true},
    {"BILLINGADDRESSID", "Kelmor", "ADDRESS", "SELECT 1 FROM ADDRESS WHERE ADDRESSID = ?", true},
    {"CURRENCYCODE", "Kelmor", "CURRENCY", "SELECT 1 FROM CURRENCY WHERE CURRENCYCODE = ?", false},
    {"HOMECURRENCYCODE", "Kelmor", "CURRENCY", "SELECT 1 FROM CURRENCY WHERE CURRENCYCODE = ?",
     false},
    {"CARRIERCODE", "Kelmor", "CARRIER", "SELECT 1 FROM CARRIER WHERE CARRIERCODE = ?", false},
    {"USERID", "Kelmor", "USERS", "SELECT 1 FROM USERS WHERE USERID = ?", false},
};

const Reference* ReferenceOf(std::string_view column) {
  const std::string_view name = text::TrimSpace(column);
  for (const Reference& r : kReferences)
    if (text::EqualsNoCase(name, r.column)) return &r;
  return nullptr;
}

// The value as the referenced key holds it; nullopt when it cannot be one
// (text that is no whole number for a numeric key).
std::optional<Variant> KeyOf(const Variant& value, bool integer_key) {
  if (!integer_key) return Variant(std::string(text::TrimBlanks(value.ToString())));
  try {
    const double d = value.ToDouble();
    if (d != static_cast<double>(static_cast<int64_t>(d)) || d < INT32_MIN || d > INT32_MAX)
      return std::nullopt;
    return Variant(static_cast<int32_t>(d));
  } catch (const ComError&) {
    return std::nullopt;
  }
}

}  // namespace

const ClassBinding<ReferentialChecker>& ReferentialChecker::Binding() {
  static const auto b =
      ClassBinding<ReferentialChecker>("ReferentialChecker")
          .Method("CheckReferentialInsert", &ReferentialChecker::CheckReferentialInsert)
          .Method("CheckReferentialDelete", &ReferentialChecker::CheckReferentialDelete)
          .Method("DeleteMasterRecord", &ReferentialChecker::DeleteMasterRecord)
          .Method("Release", &ReferentialChecker::Release);
  return b;
}

ReferentialChecker::ReferentialChecker() = default;
ReferentialChecker::~ReferentialChecker() = default;

data::Connection& ReferentialChecker::Db(const std::string& catalog) {
  auto& connection = connections_[catalog];
  if (!connection || !connection->IsOpen()) {
    connection = std::make_shared<data::Connection>();
    connection->Open("Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
  }
  return *connection;
}

void ReferentialChecker::Release() {
  for (auto& [catalog, connection] : connections_)
    if (connection) connection->Close();
  connections_.clear();
}

bool ReferentialChecker::CheckReferentialInsert(const std::string& table,
                                                const Variant& keyColumns,
                                                const Variant& keyValues) {
  const VariantArray& columns = keyColumns.Array();
  const VariantArray& values = keyValues.Array();
  if (columns.size() != values.size())
    Raise(err::kInvalidProcedureCall, kSource,
          "CheckReferentialInsert needs as many key values as key columns (" +
              std::to_string(columns.size()) + " columns, " + std::to_string(values.size()) +
              " values)");
  const std::string_view own_table = text::TrimSpace(table);
  for (size_t i = 0; i < columns.size(); ++i) {
    const Reference* reference = ReferenceOf(columns[i].ToString());
    if (!reference || text::EqualsNoCase(own_table, reference->table)) continue;
    const Variant& value = values[i];
    if (value.IsMissing() || (value.IsString() && text::TrimBlanks(value.ToString()).empty()))
      continue;
    const std::optional<Variant> key = KeyOf(value, reference->integer_key);
    if (!key) return false;
    auto rs = Db(reference->catalog).Execute(reference->sql, {*key});
    if (!rs || rs->Eof()) return false;
  }
  return true;
}

}  // namespace platform
