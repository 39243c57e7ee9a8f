// The SQL scripts of db/ (schemas, migrations, stored procedures, demo
// data), compiled into the program so an installed binary can create and
// upgrade an instance without the source tree. Each script is named by its
// path under db/: "<Catalog>/schema.sql", "<Catalog>/demo.sql",
// "<Catalog>/migrations/0002_<what>.sql", "<Catalog>/procedures/<Name>.sql".
//
// Thread-safety: read-only data.
#pragma once

#include <string_view>
#include <vector>

namespace vendra_instance {

// The text of db/<name> ("Vendra/schema.sql"); empty when there is none.
std::string_view EmbeddedSql(std::string_view name);

// Every embedded script name, sorted.
std::vector<std::string_view> EmbeddedSqlNames();

}  // namespace vendra_instance
