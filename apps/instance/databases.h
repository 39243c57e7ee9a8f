// The databases of an instance: one SQLite file data/<Catalog>.db for every
// catalog folder db/<Catalog>/ compiled into the program (Vendra, Kelmor,
// Brevane, and whatever later work adds).
//
// A catalog folder holds
//   schema.sql                 the tables as first released: schema version 1
//   migrations/NNNN_<what>.sql the changes since, each bringing the database
//                              to version NNNN (0002, 0003, ... without gaps)
//   demo.sql, demo_<what>.sql  the demo shop's rows (optional; run in name
//                              order, demo.sql first)
//   procedures/<Name>.sql      stored procedures of the catalog (optional)
// The table SCHEMAVERSION of every database records each script applied
// (VERSION, SCRIPT, APPLIED), so an instance is upgraded in place by the
// scripts it has not seen yet, never recreated. A new database takes the
// same path as an old one: schema.sql, then every migration in order, then
// the demo rows, all in one transaction.
//
// After the schema scripts (on creation and after every migration run) the
// text-rule triggers are generated from the database's own column
// declarations (text_rule_triggers.h), so every text column of every table
// refuses, at the write, a text longer than declared, a NUL or malformed
// UTF-8.
//
// Thread-safety: run by the program's set-up commands, before or between
// requests; nothing here is meant to run concurrently with itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vendra_instance {

// Creates data/<Catalog>.db under home for every embedded catalog: schema,
// migrations and, with demo, the demo rows, each catalog in one transaction.
// Refuses (error 58) when one of the files exists already; on failure the
// files this call created are removed again, so nothing half-made remains.
void CreateDatabases(const std::filesystem::path& home, bool demo);

// Applies the pending migrations of every catalog's database under home,
// each script in a transaction of its own together with its SCHEMAVERSION
// row; a catalog without a database yet gets one (without demo rows).
// Raises 5 when a database is newer than this program knows. Returns the
// scripts applied ("Vendra/migrations/0002_x.sql"), in the order applied.
std::vector<std::string> MigrateDatabases(const std::filesystem::path& home);

// Drops the server databases an instance's platform.xml lists (an instance
// kept on PostgreSQL that is being removed); SQLite files are left alone.
void DropServerDatabases(const std::filesystem::path& home);

// The catalogs compiled in ("Brevane", "Kelmor", "Vendra"), sorted.
std::vector<std::string> EmbeddedCatalogs();

// The schema version a catalog's scripts bring a database to (1 plus the
// number of its migrations).
int LatestSchemaVersion(const std::string& catalog);

// The schema version recorded in a database file; 0 when it records none.
int RecordedSchemaVersion(const std::filesystem::path& database_file);

// Registers the stored procedures of every catalog (procedures/<Name>.sql)
// with the data layer, under the catalog's name (again, replacing what is
// registered). Called by RegisterAllComponents.
void RegisterStoredProcedures();

}  // namespace vendra_instance
