// Translation of the canonical SQL dialect into what PostgreSQL reads. It
// starts from the SQLite translation (TOP n as LIMIT n, dbo. and three-part
// names dropped, bracketed names quoted) and then adapts that text:
//
//   - quoted names are folded to lower case, as PostgreSQL folds unquoted
//     ones, so "[ProdID]", "ProdID" and prodid name one column;
//   - "?" and "@name" markers become "$1", "$2"... (a name used twice is one
//     parameter);
//   - ISNULL( (IFNULL( after the first step) becomes COALESCE(, GETDATE()
//     the platform clock as a timestamp literal (filled in when the
//     statement runs, so tests can fix "now");
//   - in column definitions and CASTs the SQL Server types become the
//     domains the driver keeps in each database: "NVARCHAR(50)" and the
//     other text types over citext (texts compare case-insensitively, LIKE
//     included), "BIT" over smallint holding 0/1, "MONEY" over numeric(19,4),
//     "DATETIME" over timestamp(0) (dates in one form, to the second),
//     "TINYINT" over smallint 0..255; INTEGER PRIMARY KEY and IDENTITY(1,1)
//     become identity columns; COLLATE NOCASE goes (citext is that already);
//   - "+" between texts needs no change: every database has a text + text
//     operator.
//
// Text literals and comments are never changed. Results are cached per
// canonical text.
//
// Thread-safety: any thread; the cache is guarded by a lock.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::data::postgres {

struct PgStatement {
  std::string text;  // PostgreSQL text with $n markers
  // One entry per $n: the "@name" it stands for, or empty for "?".
  std::vector<std::string> parameters;
  // Offsets in text where the clock goes (GETDATE()), in order.
  std::vector<size_t> now_at;
  // Offsets in text of the bare word rowid (the identity column is put there).
  std::vector<size_t> rowid_at;
  // The type domains the statement names ("NVARCHAR(50)"), created on demand.
  std::vector<std::string> domains;
  // Names as the statement writes them, by their lower-case form: result
  // columns come back folded and take this spelling again.
  std::unordered_map<std::string, std::string> spellings;
};

PgStatement TranslateToPostgres(std::string_view canonical);
// The same through the process-wide cache.
std::shared_ptr<const PgStatement> CachedPostgresStatement(std::string_view canonical);

// The statement to create a domain TranslateToPostgres names (idempotent);
// empty for a name it does not know.
std::string DomainDefinition(std::string_view domain);

}  // namespace platform::data::postgres
