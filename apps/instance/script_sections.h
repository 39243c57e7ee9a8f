// The driver-specific sections of the instance's SQL scripts. One script
// serves both drivers; the few statements only one of them reads stand
// between marker lines:
//
//   -- sqlite-only: begin        (SQLite's triggers, strftime(), INSERT OR REPLACE)
//   ...
//   -- sqlite-only: end
//   -- postgresql-only: begin    (the same rows or rules in PostgreSQL's words)
//   ...
//   -- postgresql-only: end
//
// ScriptForDriver keeps the sections of the driver that runs the script and
// blanks the others' lines (so line numbers in an error stay those of the
// file). The markers are whole comment lines, so a script read by hand or by
// another tool stays valid SQL for SQLite as it stands.
//
// Thread-safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace vendra_instance {

enum class ScriptDriver { kSqlite, kPostgres };

// Raises 5 for a section left open, an end without a begin, or sections
// nested in each other.
std::string ScriptForDriver(std::string_view script, ScriptDriver driver);

// The driver a connection string names (PostgreSQL or, for anything else, SQLite).
ScriptDriver DriverOf(std::string_view connection_string);

}  // namespace vendra_instance
