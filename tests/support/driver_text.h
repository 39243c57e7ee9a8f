// Which database driver this test run's instances use, and the driver's own
// words for a fault. A test instance keeps its databases in SQLite files, or
// on a PostgreSQL server when VENDRA_TEST_PG_URL names one (test_instance.h);
// the same tests run on both, and where a test looks for the database's own
// text of a refusal it names both texts in one place:
//
//   EXPECT_NE(e.description().find(vendra_test::ServerText(
//                 "takes at most 100 characters",                // SQLite's rule
//                 "violates check constraint")), std::string::npos);   // PostgreSQL's
//
// A test of something only SQLite has skips on PostgreSQL, saying why:
// VENDRA_SKIP_ON_POSTGRES("the SQLite driver's own statement cache").
//
// Thread-safety: reads the environment only.
#pragma once

#include <string>
#include <string_view>

namespace vendra_test {

// True when the test instances live on a PostgreSQL server.
bool OnPostgres();

// The text of this run's driver: sqlite on SQLite, postgres on PostgreSQL.
std::string ServerText(std::string_view sqlite, std::string_view postgres);

// The server the PostgreSQL driver's own tests use (VENDRA_PG_URL), or ""
// when none is named.
std::string PgServerUrl();

// url (postgresql://user@host:port[/db]) with its database replaced by db.
std::string PgUrlWithDatabase(const std::string& url, const std::string& db);

}  // namespace vendra_test

// Skips the current test when no server for the driver's own tests is named.
#define VENDRA_SKIP_WITHOUT_PG_SERVER()                                            \
  do {                                                                             \
    if (::vendra_test::PgServerUrl().empty())                                      \
      GTEST_SKIP() << "VENDRA_PG_URL is not set: no PostgreSQL server to test against " \
                      "(scripts/pg-server.sh start prints one)";                   \
  } while (0)

// Skips the current test on a PostgreSQL run, giving the reason.
#define VENDRA_SKIP_ON_POSTGRES(reason)                                        \
  do {                                                                         \
    if (::vendra_test::OnPostgres()) GTEST_SKIP() << "SQLite only: " << reason; \
  } while (0)
