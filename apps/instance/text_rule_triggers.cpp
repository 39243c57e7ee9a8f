#include "apps/instance/text_rule_triggers.h"

#include <map>
#include <set>
#include <string_view>

#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/sql_dialect.h"
#include "platform/data/sqlite/text_rules.h"
#include "platform/services/sql_value_encoder.h"

namespace vendra_instance {

namespace {

using platform::Variant;

constexpr std::string_view kInsertSuffix = "_TEXTRULES_INSERT";
constexpr std::string_view kUpdateSuffix = "_TEXTRULES_UPDATE";
// vendra_checktext takes the table and then three arguments per column; the
// engine allows 127 arguments to a function, so a wide table takes several
// calls.
constexpr size_t kColumnsPerCall = 42;

using platform::SqlValueEncoder;
using platform::data::QuoteIdentifier;

struct TextColumn {
  std::string name;
  int64_t length = 0;  // 0: no declared length
};

bool Generated(std::string_view trigger) {
  return trigger.ends_with(kInsertSuffix) || trigger.ends_with(kUpdateSuffix);
}

// The text columns of every table, in column order, from the schema rowset.
std::map<std::string, std::vector<TextColumn>> TextColumns(platform::data::Connection& c) {
  std::map<std::string, std::vector<TextColumn>> tables;
  auto rs = c.OpenSchema(platform::data::adSchemaColumns, Variant());
  // Tables by name, each one's columns in their order.
  for (; !rs->Eof(); rs->MoveNext()) {
    const Variant length = rs->Value("CHARACTER_MAXIMUM_LENGTH");
    if (length.IsNull()) continue;  // not a text column
    tables[rs->Value("TABLE_NAME").ToString()].push_back(
        {rs->Value("COLUMN_NAME").ToString(), length.ToLong()});
  }
  return tables;
}

// The checks of one trigger body: SELECT vendra_checktext(...); per group.
std::string CheckStatements(const std::string& table, const std::vector<TextColumn>& columns) {
  std::string out;
  for (size_t first = 0; first < columns.size(); first += kColumnsPerCall) {
    out += "  SELECT " + std::string(platform::data::sqlite::kCheckTextFunction) + "(" +
           SqlValueEncoder::Text(table);
    for (size_t i = first; i < columns.size() && i < first + kColumnsPerCall; ++i) {
      out += ",\n    " + SqlValueEncoder::Text(columns[i].name) + ", " +
             std::to_string(columns[i].length) + ", NEW." + QuoteIdentifier(columns[i].name);
    }
    out += ");\n";
  }
  return out;
}

}  // namespace

std::vector<std::string> TextRuleTriggers(platform::data::Connection& connection) {
  std::vector<std::string> triggers;
  for (const auto& [table, columns] : TextColumns(connection)) {
    const std::string checks = CheckStatements(table, columns);
    triggers.push_back("CREATE TRIGGER " + QuoteIdentifier(table + std::string(kInsertSuffix)) +
                       " BEFORE INSERT ON " + QuoteIdentifier(table) + "\nBEGIN\n" + checks + "END");
    std::string of;
    for (const TextColumn& column : columns) of += (of.empty() ? "" : ", ") + QuoteIdentifier(column.name);
    triggers.push_back("CREATE TRIGGER " + QuoteIdentifier(table + std::string(kUpdateSuffix)) +
                       " BEFORE UPDATE OF " + of + " ON " + QuoteIdentifier(table) + "\nBEGIN\n" +
                       checks + "END");
  }
  return triggers;
}

void WriteTextRuleTriggers(platform::data::Connection& connection) {
  std::map<std::string, std::string> present;  // generated trigger name -> its text
  auto rs = connection.Execute("SELECT name, sql FROM sqlite_master WHERE type = 'trigger'");
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    const std::string name = rs->Value("name").ToString();
    if (Generated(name)) present[name] = rs->Value("sql").ToString();
  }
  std::string script;
  std::set<std::string> wanted;
  for (const std::string& trigger : TextRuleTriggers(connection)) {
    // "CREATE TRIGGER "NAME" ..." -> NAME (generated names hold no quote).
    const size_t open = trigger.find('"');
    const std::string name = trigger.substr(open + 1, trigger.find('"', open + 1) - open - 1);
    wanted.insert(name);
    const auto it = present.find(name);
    if (it != present.end() && it->second == trigger) continue;
    if (it != present.end()) script += "DROP TRIGGER " + QuoteIdentifier(name) + ";\n";
    script += trigger + ";\n";
  }
  for (const auto& [name, text] : present)
    if (!wanted.count(name)) script = "DROP TRIGGER " + QuoteIdentifier(name) + ";\n" + script;
  if (!script.empty()) platform::data::ExecuteScript(connection, script);
}

}  // namespace vendra_instance
