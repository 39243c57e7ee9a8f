// Translation of the canonical SQL dialect (SQL Server's, as the system writes
// it) into what SQLite reads: "SELECT TOP n" becomes "LIMIT n", "dbo.X",
// "[db].[dbo].[X]" and "db.dbo.X" become "X", "[name]" becomes "\"name\"",
// GETDATE() reads the platform clock, ISNULL( becomes IFNULL( and LEN(
// LENGTH(. Text literals and quoted names are never changed. "+" between texts
// is not translated: system SQL concatenates with the encoder's help, not in
// SQL. Results are cached per statement text.
//
// Thread-safety: any thread; the cache is guarded by a lock.
#pragma once

#include <string>
#include <string_view>

namespace platform::data {

// The SQLite text for a canonical statement (uncached).
std::string TranslateToSqlite(std::string_view canonical);
// The same through the process-wide cache.
const std::string& CachedSqliteText(std::string_view canonical);

// A table or column name as a quoted identifier ("name", inner quotes
// doubled), for statements the platform writes itself from schema names.
std::string QuoteIdentifier(std::string_view name);

// The name of the SQL function GETDATE() becomes (registered on each handle).
inline constexpr std::string_view kNowFunction = "vendra_getdate";

}  // namespace platform::data
