// Automatic parameterisation in the SQLite driver: the literal lexer's cases
// (each kind of literal, each place a literal must stay, hostile texts), the
// per-handle statement cache (bounded, least recently used out, survives
// pooling, dropped with its handle, recompiled on a schema change), the
// typing of bound literals against the text as written, and errors and fault
// injection as before.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "platform/data/sqlite/literal_lexer.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace platform::data {
namespace {

using sqlite::Literal;
using sqlite::Parameterise;

std::string Describe(const Literal& l) {
  switch (l.kind) {
    case Literal::Kind::kText: return "t:" + l.text;
    case Literal::Kind::kInteger: return "i:" + std::to_string(l.integer);
    case Literal::Kind::kReal: return std::string(l.negative ? "-" : "") + "r:" + l.text;
    case Literal::Kind::kBlob: {
      std::string hex = "b:";
      for (unsigned char c : l.text) {
        static const char* d = "0123456789ABCDEF";
        hex += d[c >> 4];
        hex += d[c & 15];
      }
      return hex;
    }
  }
  return "?";
}

struct LexCase {
  const char* sql;
  const char* shape;  // "" when the statement is left whole
  std::vector<std::string> literals;
};

void ExpectLexed(const std::vector<LexCase>& cases) {
  for (const LexCase& c : cases) {
    SCOPED_TRACE(c.sql);
    const auto p = Parameterise(c.sql);
    if (std::string(c.shape).empty()) {
      EXPECT_FALSE(p.parameterised) << p.shape;
      continue;
    }
    ASSERT_TRUE(p.parameterised);
    EXPECT_EQ(p.shape, c.shape);
    std::vector<std::string> got;
    for (const Literal& l : p.literals) got.push_back(Describe(l));
    EXPECT_EQ(got, c.literals);
  }
}

TEST(LiteralLexerTest, EachKindOfLiteral) {
  ExpectLexed({
      {"UPDATE T SET A = 'x', B = N'Grüße', C = 5, D = 5.0, E = 1e308, F = X'0aFF' WHERE K = '5'",
       "UPDATE T SET A = ?, B = ?, C = ?, D = ?, E = ?, F = ? WHERE K = ?",
       {"t:x", "t:Grüße", "i:5", "r:5.0", "r:1e308", "b:0AFF", "t:5"}},
      {"DELETE FROM T WHERE A = -5 AND B = -0.0 AND C=-.5E-3 AND D = 'it''s'",
       "DELETE FROM T WHERE A = ? AND B = ? AND C=? AND D = ?",
       {"i:-5", "-r:0.0", "-r:.5E-3", "t:it's"}},
      // Beyond 64 bits an integer literal is a real, as the engine reads it;
      // the one negative integer without a positive twin stays an integer.
      {"DELETE FROM T WHERE A = 99999999999999999999 OR A = -9223372036854775808 OR A = 9223372036854775808",
       "DELETE FROM T WHERE A = ? OR A = ? OR A = ?",
       {"r:99999999999999999999", "i:-9223372036854775808", "r:9223372036854775808"}},
      // A minus after a value subtracts: only the number is taken.
      {"UPDATE T SET A = B-1, C = (2)-3, D = 4 - -5", "UPDATE T SET A = B-?, C = (?)-?, D = ? - ?",
       {"i:1", "i:2", "i:3", "i:4", "i:-5"}},
      // The exact-product form of a hard double, and an encoder date.
      {"INSERT INTO T (A, B) VALUES ((5404319552844595*7450580596923828125e-27), '2026-12-08T14:30:00')",
       "INSERT INTO T (A, B) VALUES ((?*?), ?)",
       {"i:5404319552844595", "r:7450580596923828125e-27", "t:2026-12-08T14:30:00"}},
      {"INSERT INTO T VALUES (X'', '')", "INSERT INTO T VALUES (?, ?)", {"b:", "t:"}},
  });
}

TEST(LiteralLexerTest, LiteralsThatAreNoValuesStay) {
  ExpectLexed({
      // The select list names the result columns; ORDER BY and GROUP BY
      // numbers are column positions; TOP/LIMIT/OFFSET counts are constants.
      {"SELECT TOP 5 A, 'x', 1 + 2 FROM T WHERE B = 'y' GROUP BY 1, 2 HAVING COUNT(*) > 3 ORDER BY 2 DESC, 1",
       "SELECT TOP 5 A, 'x', 1 + 2 FROM T WHERE B = ? GROUP BY 1, 2 HAVING COUNT(*) > ? ORDER BY 2 DESC, 1",
       {"t:y", "i:3"}},
      {"SELECT A FROM T WHERE B IN (SELECT TOP (1) C FROM U WHERE D = 4 ORDER BY 1) LIMIT 10 OFFSET 2",
       "SELECT A FROM T WHERE B IN (SELECT TOP (1) C FROM U WHERE D = ? ORDER BY 1) LIMIT 10 OFFSET 2",
       {"i:4"}},
      {"SELECT CAST(A AS NVARCHAR(50)) FROM T WHERE CAST(B AS DECIMAL(10, 2)) = 1.5",
       "SELECT CAST(A AS NVARCHAR(50)) FROM T WHERE CAST(B AS DECIMAL(10, 2)) = ?", {"r:1.5"}},
      {"DELETE FROM T WHERE A IS NULL AND B = 'x' COLLATE NOCASE", "DELETE FROM T WHERE A IS NULL AND B = ? COLLATE NOCASE",
       {"t:x"}},
      // Comments and quoted names are never looked into.
      {"DELETE FROM [T 'x' 1] /* 'a' 5 */ WHERE \"B 'c'\" = 1 -- 'd' 6\n",
       "DELETE FROM [T 'x' 1] /* 'a' 5 */ WHERE \"B 'c'\" = ? -- 'd' 6\n", {"i:1"}},
      // Identifiers with digits, hexadecimal integers and malformed numbers.
      {"UPDATE T2 SET A1 = 0x1F, B = 12abc, C = 1e, D = 7", "UPDATE T2 SET A1 = 0x1F, B = 12abc, C = 1e, D = ?",
       {"i:7"}},
      // An unterminated text and an odd blob are the engine's to refuse.
      {"DELETE FROM T WHERE A = X'ABC' AND B = 1", "DELETE FROM T WHERE A = X'ABC' AND B = ?", {"i:1"}},
      {"DELETE FROM T WHERE A = 'open", "", {}},
      // Left whole: DDL, other statements, explicit parameters, no literal.
      {"CREATE TABLE T (A INT DEFAULT 5, B NVARCHAR(20) DEFAULT 'x')", "", {}},
      {"PRAGMA user_version = 5", "", {}},
      {"SELECT A FROM T WHERE B = ? AND C = 'x'", "", {}},
      {"SELECT A FROM T WHERE B = @B AND C = 'x'", "", {}},
      {"SELECT A FROM T WHERE B = :b AND C = 'x'", "", {}},
      {"SELECT A FROM T WHERE B = $1 AND C = 'x'", "", {}},
      {"SELECT A FROM T WHERE B = C", "", {}},
  });
}

TEST(LiteralLexerTest, HostileTextsAreValues) {
  // Quotes, comment marks, parameter marks, semicolons and non-ASCII inside a
  // literal are part of the value and never shift a parameter.
  ExpectLexed({
      {"UPDATE T SET A = 'x'' -- y', B = '/* ? :n @n $1 ; */', C = N'ÆØÅ '' ; ?', D = 3",
       "UPDATE T SET A = ?, B = ?, C = ?, D = ?",
       {"t:x' -- y", "t:/* ? :n @n $1 ; */", "t:ÆØÅ ' ; ?", "i:3"}},
      {"DELETE FROM T WHERE A = ''';DROP TABLE T;--' AND B = 1", "DELETE FROM T WHERE A = ? AND B = ?",
       {"t:';DROP TABLE T;--", "i:1"}},
  });
}

// ---------------------------------------------------------------------------

class AutoParamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Auto";
    CreateDatabaseFile(cs_);
    conn_ = Open();
    conn_->Execute("CREATE TABLE T (K INTEGER PRIMARY KEY, A TEXT, N NUMERIC, R REAL, B BLOB)");
  }
  void TearDown() override {
    conn_.reset();
    sqlite::SetAutoParameterisation(true);
    sqlite::SetStatementCacheCapacity(256);
    ReleasePooledSessions();
  }
  std::shared_ptr<Connection> Open() {
    auto c = std::make_shared<Connection>();
    c->Open(cs_);
    return c;
  }
  std::string Stored(const std::string& values) {
    conn_->Execute("DELETE FROM T WHERE K = 1");
    conn_->Execute("INSERT INTO T (K, A, N, R, B) VALUES (1, " + values + ")");
    auto rs = conn_->Execute(
        "SELECT typeof(A)||quote(A)||typeof(N)||quote(N)||typeof(R)||quote(R)||typeof(B)||quote(B) FROM T "
        "WHERE K = 1");
    return (*rs)[0].Value().ToString();
  }
  int64_t Compiles() { return sqlite::CacheStats().compiles; }

  vendra_test::TemporaryDirectory dir_;
  std::string cs_;
  std::shared_ptr<Connection> conn_;
};

TEST_F(AutoParamTest, BoundLiteralsKeepTheirTypeAndValue) {
  const std::vector<std::string> inserts = {
      "'5', '5', '5', X'05'",
      "5, 5, 5, 5",
      "5.0, 5.0, 5.0, -0.0",
      "1e308, 99999999999999999999, -9223372036854775808, 9223372036854775807",
      "(5404319552844595*7450580596923828125e-27), 0.1, 2.5e-3, '2026-12-08T14:30:00'",
      "N'Grüße ''x''', -.5, '12.50', 0x10",
  };
  for (const std::string& values : inserts) {
    SCOPED_TRACE(values);
    sqlite::SetAutoParameterisation(false);
    const std::string as_written = Stored(values);
    sqlite::SetAutoParameterisation(true);
    EXPECT_EQ(Stored(values), as_written);
  }
}

TEST_F(AutoParamTest, ShapesAreCompiledOnceAndSurvivePooling) {
  conn_->Execute("UPDATE T SET A = 'a' WHERE K = 1");
  const int64_t before = Compiles();
  for (int i = 0; i < 20; ++i) conn_->Execute("UPDATE T SET A = 'v" + std::to_string(i) + "' WHERE K = " + std::to_string(i));
  EXPECT_EQ(Compiles(), before);
  // The handle goes back to the pool with its cache and comes out again.
  conn_->Close();
  conn_ = Open();
  conn_->Execute("UPDATE T SET A = 'w' WHERE K = 99");
  EXPECT_EQ(Compiles(), before);
  // Dropped with its handle.
  conn_.reset();
  ReleasePooledSessions();
  conn_ = Open();
  conn_->Execute("UPDATE T SET A = 'w' WHERE K = 99");
  EXPECT_EQ(Compiles(), before + 1);
}

TEST_F(AutoParamTest, CacheIsBoundedAndKeepsWhatIsUsed) {
  sqlite::SetStatementCacheCapacity(8);
  conn_->Execute("UPDATE T SET A = 'x' WHERE K = 1");
  for (int i = 0; i < 40; ++i) {
    // A shape of its own each time (the column list differs), and the hot
    // statement in between: the hot one is never compiled again.
    std::string cols = "K";
    for (int c = 0; c < i % 20; ++c) cols += ", A";
    conn_->Execute("SELECT " + cols + " FROM T WHERE K = " + std::to_string(i));
    const int64_t before = Compiles();
    conn_->Execute("UPDATE T SET A = 'y' WHERE K = " + std::to_string(i));
    EXPECT_EQ(Compiles(), before) << i;
  }
  conn_->Close();
  EXPECT_LE(sqlite::LargestIdleStatementCache(), 8u);
  EXPECT_GT(sqlite::IdleStatementCacheBytes(), 0);
}

TEST_F(AutoParamTest, SchemaChangeRecompiles) {
  conn_->Execute("INSERT INTO T (K, A) VALUES (1, 'a')");
  auto rs = conn_->Execute("SELECT * FROM T WHERE K = 1");
  EXPECT_EQ(rs->FieldCount(), 5);
  conn_->Execute("ALTER TABLE T ADD COLUMN EXTRA INT DEFAULT 7");
  auto other = Open();  // another handle sees it too
  rs = other->Execute("SELECT * FROM T WHERE K = 1");
  ASSERT_EQ(rs->FieldCount(), 6);
  EXPECT_EQ(rs->Value("EXTRA").ToLong(), 7);
  rs = conn_->Execute("SELECT * FROM T WHERE K = 1");
  EXPECT_EQ(rs->FieldCount(), 6);
}

TEST_F(AutoParamTest, ErrorsAndFaultsAreAsBefore) {
  conn_->Execute("INSERT INTO T (K, A) VALUES (1, 'a')");
  conn_->Execute(
      "CREATE TRIGGER T_CHECK BEFORE INSERT ON T WHEN length(NEW.A) > 3 "
      "BEGIN SELECT RAISE(ABORT, 'A is longer than 3 characters'); END");
  const std::vector<std::string> failing = {
      "INSERT INTO T (K, A) VALUES (1, 'b')",          // constraint
      "INSERT INTO T (K, A) VALUES (2, 'too long')",   // a trigger's own text
      "SELECT A FROM T WHERE NOPE = 'x'",              // compile error naming a column
      "SELECT A FROM T AS 'x' WHERE K = 1 ORDER BY 9",  // compile error about a constant
      "UPDATE T SET A = 'x' WHERE K = 1; DELETE FROM T",
      "DELETE FROM T WHERE A = 'open",
  };
  for (const std::string& sql : failing) {
    SCOPED_TRACE(sql);
    sqlite::SetAutoParameterisation(false);
    const ComError off = vendra_test::Failure([&] { conn_->Execute(sql); });
    sqlite::SetAutoParameterisation(true);
    const ComError on = vendra_test::Failure([&] { conn_->Execute(sql); });
    EXPECT_EQ(on.number(), off.number());
    EXPECT_EQ(on.description(), off.description());
    ASSERT_EQ(conn_->ErrorList().size(), 1u);
  }
  FaultInjection::FailNthStatement(2);
  conn_->Execute("UPDATE T SET A = 'x' WHERE K = 1");
  const ComError injected = vendra_test::Failure([&] { conn_->Execute("UPDATE T SET A = 'y' WHERE K = 1"); });
  FaultInjection::Disable();
  EXPECT_NE(injected.description().find("Injected fault"), std::string::npos);
  EXPECT_EQ((*conn_->Execute("SELECT A FROM T WHERE K = 1"))[0].Value().ToString(), "x");
}

}  // namespace
}  // namespace platform::data
