// The SQL scripts of db/ (schemas, stored queries, demo data), compiled into
// the program so an installed binary can create an instance without the
// source tree.
#pragma once

#include <string_view>

namespace vendra_instance {

// The text of db/<name> ("vendra/schema.sql"); empty when there is none.
std::string_view EmbeddedSql(std::string_view name);

}  // namespace vendra_instance
