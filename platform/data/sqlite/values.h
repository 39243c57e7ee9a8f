// Values in and out of SQLite statements: binding Variants to parameters
// (dates as their one sortable text, flags as 0/1) and reading cells as the
// field's type holds them. Internal to the driver; nothing outside
// platform/data/sqlite includes it.
//
// Thread-safety: the functions work on the handle and statement they are
// given, used by one thread at a time.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>

#include "platform/core/variant.h"
#include "platform/data/driver.h"
#include "platform/data/sqlite/driver_internal.h"

namespace platform::data::sqlite::internal {

// Room for the date texts of a statement with `count` parameters, made
// before any is bound (see BindOne).
void ReserveDateTexts(Handle& h, int count);

// Binds one value to parameter `index` (1-based); raises a database error
// for an object or an array, or what the engine reports.
void BindOne(Handle& h, sqlite3_stmt* stmt, int index, const Variant& v);

// Binds values by name (where the statement has that name) or in order, and
// raises when one is too many or a parameter is left without a value.
void BindAll(Handle& h, sqlite3_stmt* stmt, std::span<const BoundValue> values);

// The cell as the engine stored it; storage is its sqlite3_column_type.
Variant RawCell(sqlite3_stmt* stmt, int c, int storage);

// The value of a cell as the field's type holds it (or as stored, when the
// type cannot hold it).
Variant ReadCell(sqlite3_stmt* stmt, int c, int32_t type);

// A cell still to be read: a row's vector constructs its Variant from it in
// place, so the value is never built elsewhere and moved in.
struct CellReader {
  sqlite3_stmt* stmt;
  int column;
  int32_t type;
  operator Variant() const { return ReadCell(stmt, column, type); }
};

}  // namespace platform::data::sqlite::internal
