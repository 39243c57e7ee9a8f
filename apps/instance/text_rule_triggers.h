// The text rules of an instance database, written from its own schema: for
// every table with text columns (declared NVARCHAR(n), VARCHAR(n), NCHAR(n),
// CHAR(n), NTEXT, TEXT, as the data layer's schema rowset reads them), a
// BEFORE INSERT and a BEFORE UPDATE OF <its text columns> trigger,
// <TABLE>_TEXTRULES_INSERT and <TABLE>_TEXTRULES_UPDATE, that hand the new
// row's texts to vendra_checktext (platform/data/sqlite/text_rules.h) with
// their declared lengths. A write that stores a text longer than its column,
// a NUL or malformed UTF-8 fails there, naming table and column, and stores
// nothing, as a database server refuses it.
//
// Nobody writes these triggers by hand: the instance set-up writes them after
// a catalog's schema and migrations ran (new database) and after every
// migration run (existing database), so a column added or widened by a
// migration is covered at once.
//
// Thread-safety: set-up code, one caller per database at a time.
#pragma once

#include <string>
#include <vector>

namespace platform::data {
class Connection;
}

namespace vendra_instance {

// The trigger statements (each a complete CREATE TRIGGER without the closing
// ";") the connection's current schema asks for, by table name.
std::vector<std::string> TextRuleTriggers(platform::data::Connection& connection);

// Brings the connection's generated triggers in line with its schema: drops
// the ones that no longer match (a table or column gone or changed) and
// creates the missing ones; touches nothing when they match already (a schema
// change would make every open connection prepare its statements again).
// Runs inside the caller's transaction, or one of its own.
void WriteTextRuleTriggers(platform::data::Connection& connection);

}  // namespace vendra_instance
