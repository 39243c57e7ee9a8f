// The SQLite driver's write path: checkpoints paced while readers hold the
// write-ahead log, dates bound in place keeping their own values, and the
// statement found last surviving its eviction from the cache.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "platform/core/date.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "tests/support/test_instance.h"

using namespace platform;
using namespace platform::data;

namespace {

class SqliteWritesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Shop";
    CreateDatabaseFile(cs_);
    conn_ = std::make_shared<Connection>();
    conn_->Open(cs_);
    ExecuteScript(*conn_, R"(
      CREATE TABLE BLOBS (ID INTEGER PRIMARY KEY, P TEXT);
      CREATE TABLE DATES (ID INT PRIMARY KEY, D1 DATETIME, D2 DATETIME, N NVARCHAR(10));
    )");
  }
  void TearDown() override {
    conn_.reset();
    sqlite::SetStatementCacheCapacity(256);
    ReleasePooledSessions();
  }

  int64_t Checkpoints() const { return sqlite::CacheStats().checkpoints; }
  void InsertBlobs(int count) {
    const std::string payload(6000, 'x');  // two pages of the log and more per commit
    for (int i = 0; i < count; ++i) conn_->Execute("INSERT INTO BLOBS (P) VALUES (?)", {Variant(payload)});
  }

  vendra_test::TemporaryDirectory dir_;
  std::string cs_;
  std::shared_ptr<Connection> conn_;
};

TEST_F(SqliteWritesTest, CheckpointsArePacedWhileAReaderHoldsTheLog) {
  // A reader in an open transaction keeps the log from starting over, so
  // it only grows; the engine's own rule would checkpoint (and sync both
  // files) after every commit once it holds 1,000 pages.
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() / "Shop.db").string().c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT COUNT(*) FROM BLOBS;", nullptr, nullptr, nullptr), SQLITE_OK);
  const int64_t before = Checkpoints();
  InsertBlobs(600);  // some 1,800 pages and more
  const int64_t pinned = Checkpoints() - before;
  EXPECT_GE(pinned, 1);
  EXPECT_LE(pinned, 4) << "one attempt per 1,000 new pages, not one per commit";

  // Once the reader is gone the next attempt copies the log back and it
  // starts over; checkpoints go on at the same pace.
  ASSERT_EQ(sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(reader);
  InsertBlobs(1200);
  const int64_t after = Checkpoints() - before - pinned;
  EXPECT_GE(after, 2);
  EXPECT_LE(after, 8);
  EXPECT_EQ(conn_->Execute("SELECT COUNT(*) FROM BLOBS")->fields()[0].Value().ToLong(), 1800);
}

TEST_F(SqliteWritesTest, DatesBoundInPlaceKeepTheirOwnValues) {
  const Date a = Date::FromParts(2026, 12, 8, 14, 30);
  const Date b = Date::FromParts(1999, 1, 2, 3, 4, 5);
  struct Row {
    int32_t id;
    Date d1, d2;
  } rows[] = {{1, a, b}, {2, b, a}, {3, a, a}, {4, b, b}};
  // Two dates in one statement, statement after statement: each parameter
  // keeps its own text, changed only when its date changes.
  for (const Row& r : rows)
    conn_->Execute("INSERT INTO DATES (ID, D1, D2, N) VALUES (?, ?, ?, 'x')", {Variant(r.id), Variant(r.d1), Variant(r.d2)});
  // The same through a command with parameters, and a batch.
  Command cmd;
  cmd.SetActiveConnection(conn_);
  cmd.SetCommandText("INSERT INTO DATES (ID, D1, D2) VALUES (?, ?, ?)");
  cmd.parameters().Append(cmd.CreateParameter("ID", adInteger, adParamInput, 4, Variant(5)));
  cmd.parameters().Append(cmd.CreateParameter("D1", adDBTimeStamp, adParamInput, 16, Variant(b)));
  cmd.parameters().Append(cmd.CreateParameter("D2", adDBTimeStamp, adParamInput, 16, Variant(a)));
  cmd.Execute();
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  rs->Open("SELECT * FROM DATES WHERE ID = 0", conn_, adOpenKeyset, adLockBatchOptimistic);
  for (int32_t i = 6; i <= 9; ++i) {
    rs->AddNew();
    (*rs)[0] = Variant(i);
    (*rs)[1] = Variant(i % 2 ? a : b);
    (*rs)[2] = Variant(i % 2 ? b : a);
    (*rs)[3] = Variant("n");
  }
  rs->UpdateBatch();

  auto read = conn_->Execute("SELECT ID, D1, D2 FROM DATES ORDER BY ID");
  const std::string ia = a.ToIso(), ib = b.ToIso();
  const std::pair<std::string, std::string> expected[] = {{ia, ib}, {ib, ia}, {ia, ia}, {ib, ib}, {ib, ia},
                                                         {ib, ia}, {ia, ib}, {ib, ia}, {ia, ib}};
  for (const auto& [d1, d2] : expected) {
    ASSERT_FALSE(read->Eof());
    const std::string id = read->fields()[0].Value().ToString();
    EXPECT_EQ(read->fields()[1].Value().ToDate().ToIso(), d1) << "row " << id;
    EXPECT_EQ(read->fields()[2].Value().ToDate().ToIso(), d2) << "row " << id;
    read->MoveNext();
  }
  EXPECT_TRUE(read->Eof());
}

TEST_F(SqliteWritesTest, StatementFoundLastSurvivesItsEviction) {
  // With room for one statement each text evicts the other, the one found
  // last included; running them in turns must compile each again, never
  // reuse a finalized one.
  sqlite::SetStatementCacheCapacity(1);
  for (int32_t i = 1; i <= 20; ++i) {
    conn_->Execute("INSERT INTO DATES (ID, N) VALUES (?, ?)", {Variant(i), Variant("r" + std::to_string(i))});
    EXPECT_EQ(conn_->Execute("SELECT N FROM DATES WHERE ID = ?", {Variant(i)})->fields()[0].Value(),
              Variant("r" + std::to_string(i)));
    conn_->Execute("INSERT INTO DATES (ID, N) VALUES (?, ?)", {Variant(100 + i), Variant("s")});
  }
  EXPECT_EQ(conn_->Execute("SELECT COUNT(*) FROM DATES")->fields()[0].Value().ToLong(), 40);
  EXPECT_LE(sqlite::LargestIdleStatementCache(), 1u);
}

}  // namespace
