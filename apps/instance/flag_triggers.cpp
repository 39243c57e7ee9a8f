#include "apps/instance/flag_triggers.h"

#include <cctype>
#include <map>

#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace vendra_instance {

namespace {

using platform::Variant;

// Names as PostgreSQL keeps them: the dialect folds every name to lower case.
// Schema names are letters, digits and "_" (the schema scripts declare them);
// anything else is left out rather than written into a function body.
bool PlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

std::string Folded(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The flag columns of every table, in column order, from the schema rowset.
std::map<std::string, std::vector<std::string>> FlagColumns(platform::data::Connection& c) {
  std::map<std::string, std::vector<std::string>> tables;
  auto rs = c.OpenSchema(platform::data::adSchemaColumns, Variant());
  for (; !rs->Eof(); rs->MoveNext()) {
    if (rs->Value("DATA_TYPE").ToLong() != platform::data::adBoolean) continue;
    const std::string table = Folded(rs->Value("TABLE_NAME").ToString());
    const std::string column = Folded(rs->Value("COLUMN_NAME").ToString());
    if (PlainName(table) && PlainName(column)) tables[table].push_back(column);
  }
  return tables;
}

}  // namespace

std::vector<std::string> FlagTriggers(platform::data::Connection& connection) {
  std::vector<std::string> statements;
  for (const auto& [table, columns] : FlagColumns(connection)) {
    const std::string name = "\"" + table + "_flags\"";
    std::string body, of;
    for (const std::string& column : columns) {
      body += "  IF NEW.\"" + column + "\" NOT IN (0, 1) THEN NEW.\"" + column +
              "\" := 1; END IF;\n";
      of += (of.empty() ? "\"" : ", \"") + column + "\"";
    }
    statements.push_back("CREATE OR REPLACE FUNCTION " + name +
                         "() RETURNS trigger LANGUAGE plpgsql AS $vendra$\nBEGIN\n" + body +
                         "  RETURN NEW;\nEND $vendra$");
    statements.push_back("CREATE OR REPLACE TRIGGER " + name + " BEFORE INSERT OR UPDATE OF " + of +
                         " ON \"" + table + "\" FOR EACH ROW EXECUTE FUNCTION " + name + "()");
  }
  return statements;
}

void WriteFlagTriggers(platform::data::Connection& connection) {
  std::string script;
  for (const std::string& statement : FlagTriggers(connection)) script += statement + ";\n";
  if (!script.empty()) platform::data::ExecuteScript(connection, script);
}

}  // namespace vendra_instance
