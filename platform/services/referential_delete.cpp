// The delete side of the platform's guard of references: which tables of the
// sales database name the rows of a parameter table by its key, so a row
// another one still names is not deleted from under it.
//
//   ZONES.ZONEID                 COUNTRIESBYZONE.ZONEID, FREIGHTGROUP.SHIPFROMZONE,
//                                FREIGHTPRICE.SHIPFROMZONEID, FREIGHTPRICE.SHIPTOZONEID
//   FREIGHTGROUP.FREIGHTGROUPID  FREIGHTPRODUCT.FREIGHTGROUPID, FREIGHTPRICE.FREIGHTGROUPID
//   ORDEREXPORTFILE.KROID        BASKETHEADER.KROID, ORDERHEADER.KROID, QUOTATIONHEADER.KROID
//
// The rows asked about are those the key selects, whatever its columns: the
// question is whether a referring row names the referenced key of any of
// them. Column names come from the caller and go into the statement text, so
// only the table's own columns (by the schema's spelling) are taken; the
// values are bound.
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/driver.h"
#include "platform/data/recordset.h"
#include "platform/services/referential_checker.h"

namespace platform {

namespace {

constexpr char kSource[] = "Orvanta.ReferentialChecker";
constexpr char kSalesCatalog[] = "Vendra";

struct Referrer {
  std::string_view table;  // the referenced table and its key column
  std::string_view key;
  std::string_view referring_table;
  std::string_view referring_column;
};

constexpr Referrer kReferrers[] = {
    {"ZONES", "ZONEID", "COUNTRIESBYZONE", "ZONEID"},
    {"ZONES", "ZONEID", "FREIGHTGROUP", "SHIPFROMZONE"},
    {"ZONES", "ZONEID", "FREIGHTPRICE", "SHIPFROMZONEID"},
    {"ZONES", "ZONEID", "FREIGHTPRICE", "SHIPTOZONEID"},
    {"FREIGHTGROUP", "FREIGHTGROUPID", "FREIGHTPRODUCT", "FREIGHTGROUPID"},
    {"FREIGHTGROUP", "FREIGHTGROUPID", "FREIGHTPRICE", "FREIGHTGROUPID"},
    {"ORDEREXPORTFILE", "KROID", "BASKETHEADER", "KROID"},
    {"ORDEREXPORTFILE", "KROID", "ORDERHEADER", "KROID"},
    {"ORDEREXPORTFILE", "KROID", "QUOTATIONHEADER", "KROID"},
};

}  // namespace

bool ReferentialChecker::CheckReferentialDelete(const std::string& table,
                                                const Variant& keyColumns,
                                                const Variant& keyValues) {
  const VariantArray& columns = keyColumns.Array();
  const VariantArray& values = keyValues.Array();
  if (columns.empty() || columns.size() != values.size())
    Raise(err::kInvalidProcedureCall, kSource,
          "CheckReferentialDelete needs as many key values as key columns, at least one (" +
              std::to_string(columns.size()) + " columns, " + std::to_string(values.size()) +
              " values)");
  const std::string_view asked = text::TrimSpace(table);
  bool referenced_table = false;
  for (const Referrer& r : kReferrers) referenced_table |= text::EqualsNoCase(asked, r.table);
  if (!referenced_table) return true;

  data::Connection& db = Db(kSalesCatalog);
  std::string where;
  const std::vector<data::ColumnDescription> described = db.session().DescribeTable(asked);
  for (const Variant& column : columns) {
    const std::string name = column.IsMissing() ? std::string() : column.ToString();
    const data::ColumnDescription* found = nullptr;
    for (const data::ColumnDescription& d : described)
      if (text::EqualsNoCase(d.name, name)) found = &d;
    if (!found)
      Raise(err::kInvalidProcedureCall, kSource,
            "'" + name + "' is not a column of " + std::string(asked));
    where += (where.empty() ? "" : " AND ") + found->name + " = ?";
  }
  for (const Referrer& r : kReferrers) {
    if (!text::EqualsNoCase(asked, r.table)) continue;
    const std::string sql = "SELECT TOP 1 " + std::string(r.referring_column) + " FROM " +
                            std::string(r.referring_table) + " WHERE " +
                            std::string(r.referring_column) + " IN (SELECT " + std::string(r.key) +
                            " FROM " + std::string(r.table) + " WHERE " + where + ")";
    auto rs = db.Execute(sql, std::span<const Variant>(values));
    if (rs && !rs->Eof()) return false;
  }
  return true;
}

}  // namespace platform
