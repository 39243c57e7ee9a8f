// The flag rule of an instance database on PostgreSQL, written from its own
// schema. The system writes True as 1, as the classic -1 or as 255; SQLite's
// normalising triggers store any of them as 1. On PostgreSQL every table with
// flag columns (declared BIT, read by the schema rowset as adBoolean) gets a
// function <table>_flags and a BEFORE INSERT OR UPDATE OF <its flag columns>
// trigger of the same name that store 1 for any non-zero number, so a flag
// reads back 0 or 1 on both drivers. (The BIT domain takes any smallint: a
// domain's check runs before a trigger could change the value.)
//
// Nobody writes these triggers by hand: the instance set-up writes them after
// a catalog's schema and migrations ran (new database) and after every
// migration run (existing database), so a flag column a migration adds is
// covered at once.
//
// Thread-safety: set-up code, one caller per database at a time.
#pragma once

#include <string>
#include <vector>

namespace platform::data {
class Connection;
}

namespace vendra_instance {

// The statements (each complete, without the closing ";": a function, then
// its trigger, per table) the connection's current schema asks for.
std::vector<std::string> FlagTriggers(platform::data::Connection& connection);

// Creates or replaces the generated functions and triggers. Runs inside the
// caller's transaction, or one of its own.
void WriteFlagTriggers(platform::data::Connection& connection);

}  // namespace vendra_instance
