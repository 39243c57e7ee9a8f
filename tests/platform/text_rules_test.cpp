// The text rules every instance database enforces at the write: declared
// lengths in characters, no NUL, UTF-8 only. A table added the way a
// migration adds one gets them from the generator; every write path (bound
// INSERT and UPDATE, SQL text, a record set's UpdateBatch) stores the text
// or fails naming table and column and stores nothing.
#include "apps/instance/text_rule_triggers.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "apps/instance/databases.h"
#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "tests/support/driver_text.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;
namespace ado = platform::data;

constexpr char kSales[] = "Provider=SQLite;Data Source=data;Initial Catalog=Vendra";

// SQL that makes the bytes of a text without going through the encoder (which
// refuses NUL and malformed UTF-8 before any SQL exists).
std::string TextLiteral(const std::string& bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "CAST(X'";
  for (unsigned char c : bytes) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out + "' AS TEXT)";
}

class TextRulesTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override {
    VENDRA_SKIP_ON_POSTGRES(
        "the generated text-rule triggers are SQLite's; on PostgreSQL the length-checked text "
        "domains hold the rules (tests/postgres)");
    db_->Open(kSales);
    // A table as a migration adds it: one column of every text kind.
    db_->Execute(
        "CREATE TABLE KINDS (ID INT NOT NULL PRIMARY KEY, NV NVARCHAR(5), V VARCHAR(5), "
        "NC NCHAR(3), C CHAR(3), NT NTEXT, T TEXT, NM NVARCHAR, N INT)");
    vendra_instance::WriteTextRuleTriggers(*db_);
  }

  // The value the column holds in row 1; Empty when there is no row 1.
  Variant Stored(const std::string& column) {
    auto rs = db_->Execute("SELECT " + column + " FROM KINDS WHERE ID = 1");
    return rs->Eof() ? Variant() : rs->Value(column);
  }

  std::shared_ptr<Connection> db_ = std::make_shared<Connection>();
};

TEST_F(TextRulesTest, EveryWritePathStoresTheTextOrRefusesItWhole) {
  const std::string ten_thousand(10000, 'x');
  struct Case {
    std::string column;
    std::string text;
    std::string fault;  // empty: stored as written
  };
  const std::vector<Case> cases = {
      {"NV", "h\xC3\xA9llo", ""},  // 5 characters, 6 bytes
      {"NV", "h\xC3\xA9llo!", "takes at most 5 characters; the text has 6"},
      {"NV", ten_thousand, "takes at most 5 characters; the text has 10000"},
      {"V", "abcde", ""},
      {"V", "abcdef", "takes at most 5 characters"},
      {"NC", "\xC3\xA4\xC3\xB6\xF0\x9F\x94\xA9", ""},  // ä, ö and a four-byte character
      {"NC", "abcd", "takes at most 3 characters; the text has 4"},
      {"C", "a\tb", ""},  // control characters other than NUL are text
      {"C", "abcd", "takes at most 3 characters"},
      {"NT", ten_thousand, ""},
      {"T", ten_thousand, ""},
      {"NM", ten_thousand, ""},
      {"NV", std::string("a\0b", 3), "may not hold a NUL character (character 2)"},
      {"NT", std::string("abc\0", 4), "may not hold a NUL character (character 4)"},
      {"NV", "ab\xC3", "takes UTF-8 text only; byte 3 of the text is not"},   // truncated
      {"V", "\xC0\xAF", "takes UTF-8 text only; byte 1"},                      // overlong '/'
      {"NM", "\xED\xA0\x80", "takes UTF-8 text only; byte 1"},                 // surrogate
      {"T", "ok\xF4\x90\x80\x80", "takes UTF-8 text only; byte 3"},           // above U+10FFFF
      {"C", "\x80", "takes UTF-8 text only; byte 1"},                          // stray continuation
  };
  // Each path writes row 1 (the update paths over a row holding "old").
  const std::vector<std::pair<std::string, std::function<void(const Case&)>>> paths = {
      {"bound INSERT",
       [&](const Case& c) {
         db_->Execute("INSERT INTO KINDS (ID, " + c.column + ") VALUES (1, ?)", {Variant(c.text)});
       }},
      {"INSERT text",
       [&](const Case& c) {
         db_->Execute("INSERT INTO KINDS (ID, " + c.column + ") VALUES (1, " +
                      TextLiteral(c.text) + ")");
       }},
      {"bound UPDATE",
       [&](const Case& c) {
         db_->Execute("INSERT INTO KINDS (ID, " + c.column + ") VALUES (1, 'old')");
         db_->Execute("UPDATE KINDS SET " + c.column + " = ? WHERE ID = 1", {Variant(c.text)});
       }},
      {"UPDATE text",
       [&](const Case& c) {
         db_->Execute("INSERT INTO KINDS (ID, " + c.column + ") VALUES (1, 'old')");
         db_->Execute("UPDATE KINDS SET " + c.column + " = " + TextLiteral(c.text) +
                      " WHERE ID = 1");
       }},
      {"UpdateBatch",
       [&](const Case& c) {
         auto rs = std::make_shared<Recordset>();
         rs->Open("SELECT * FROM KINDS WHERE ID = 0", db_, ado::adOpenStatic,
                  ado::adLockBatchOptimistic);
         rs->AddNew({{"ID", Variant(int32_t{1})}, {"N", Variant(int32_t{7})}});
         rs->SetValue(c.column, Variant(c.text));
         rs->Update();
         ado::Transaction tx(*db_);
         rs->UpdateBatch();
         tx.Commit();
       }},
  };
  for (const auto& [path, write] : paths) {
    for (const Case& c : cases) {
      SCOPED_TRACE(path + ", " + c.column + " with " + std::to_string(c.text.size()) + " bytes");
      db_->Execute("DELETE FROM KINDS");
      if (c.fault.empty()) {
        write(c);
        EXPECT_EQ(Stored(c.column), Variant(c.text));
        continue;
      }
      const Variant before = path.find("UPDATE") == std::string::npos ? Variant() : Variant("old");
      const platform::ComError e = vendra_test::Failure([&] { write(c); });
      EXPECT_NE(e.description().find("KINDS." + c.column + " " + c.fault), std::string::npos)
          << e.description();
      EXPECT_EQ(Stored(c.column), before);  // nothing of the write
    }
  }
}

TEST_F(TextRulesTest, NumbersAreMeasuredAsTextAndAStatementFailsWhole) {
  // The first row keeps the rules, the second does not: neither is stored.
  vendra_test::Failure(
      [&] { db_->Execute("INSERT INTO KINDS (ID, NV) VALUES (2, 'fine'), (3, 'too long')"); });
  EXPECT_EQ(db_->Execute("SELECT COUNT(*) AS N FROM KINDS")->Value("N").ToLong(), 0);

  const platform::ComError e = vendra_test::Failure(
      [&] { db_->Execute("INSERT INTO KINDS (ID, NC) VALUES (1, ?)", {Variant(int32_t{12345})}); });
  EXPECT_NE(e.description().find("KINDS.NC takes at most 3 characters"), std::string::npos);
  db_->Execute("INSERT INTO KINDS (ID, NC, N) VALUES (1, ?, 2)", {Variant(int32_t{123})});
  EXPECT_EQ(Stored("NC").ToString(), "123");
}

TEST_F(TextRulesTest, TheGeneratorFollowsTheSchemaAndLeavesAMatchingOneAlone) {
  const auto schema = [&] {
    std::string all;
    auto rs = db_->Execute("SELECT name, sql FROM sqlite_master WHERE type = 'trigger' ORDER BY name");
    for (; !rs->Eof(); rs->MoveNext()) all += rs->Value("sql").ToString() + "\n";
    return all;
  };
  const std::string first = schema();
  EXPECT_NE(first.find("KINDS_TEXTRULES_INSERT"), std::string::npos);
  EXPECT_NE(first.find("BASKETHEADER_TEXTRULES_UPDATE"), std::string::npos);
  vendra_instance::WriteTextRuleTriggers(*db_);
  EXPECT_EQ(schema(), first);

  // A migration adds a column: the next run covers it.
  db_->Execute("ALTER TABLE KINDS ADD COLUMN CODE NVARCHAR(2)");
  vendra_instance::WriteTextRuleTriggers(*db_);
  EXPECT_NE(vendra_test::Failure([&] {
              db_->Execute("INSERT INTO KINDS (ID, CODE) VALUES (1, 'abc')");
            }).description().find("KINDS.CODE takes at most 2 characters"),
            std::string::npos);

  // An instance made before the rules were generated gets them at its next
  // migration run, which applies no script.
  for (const char* trigger : {"KINDS_TEXTRULES_INSERT", "BASKETHEADER_TEXTRULES_UPDATE"})
    db_->Execute(std::string("DROP TRIGGER ") + trigger);
  db_->Close();
  EXPECT_TRUE(vendra_instance::MigrateDatabases(home()).empty());
  db_->Open(kSales);
  EXPECT_NE(schema().find("KINDS_TEXTRULES_INSERT"), std::string::npos);
  EXPECT_NE(schema().find("BASKETHEADER_TEXTRULES_UPDATE"), std::string::npos);
}

// Every text column of every table of every catalog is in its table's
// generated triggers with the length the schema declares.
TEST_F(TextRulesTest, EveryTextColumnOfEveryCatalogIsChecked) {
  for (const std::string& catalog : vendra_instance::EmbeddedCatalogs()) {
    auto c = std::make_shared<Connection>();
    c->Open("Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
    std::map<std::string, std::string> insert_trigger;
    for (const std::string& trigger : vendra_instance::TextRuleTriggers(*c)) {
      auto stored = c->Execute("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND sql = ?",
                               {Variant(trigger)});
      EXPECT_FALSE(stored->Eof()) << catalog << ": not in the database: " << trigger;
      insert_trigger[trigger.substr(0, trigger.find(" BEFORE "))] = trigger;
    }
    int columns = 0;
    auto rs = c->OpenSchema(ado::adSchemaColumns, Variant());
    for (; !rs->Eof(); rs->MoveNext()) {
      if (rs->Value("CHARACTER_MAXIMUM_LENGTH").IsNull()) continue;
      const std::string table = rs->Value("TABLE_NAME").ToString();
      const std::string column = rs->Value("COLUMN_NAME").ToString();
      const std::string triple = "'" + column + "', " +
                                 std::to_string(rs->Value("CHARACTER_MAXIMUM_LENGTH").ToLong()) +
                                 ", NEW.\"" + column + "\"";
      const std::string& trigger =
          insert_trigger["CREATE TRIGGER \"" + table + "_TEXTRULES_INSERT\""];
      EXPECT_NE(trigger.find(triple), std::string::npos) << catalog << "." << table << "." << column;
      ++columns;
    }
    EXPECT_GT(columns, 5) << catalog;
    c->Close();
  }
}

// A text cut to fit its column (the ERP's error text in ORDERHEADER.ERROR)
// ends on a character boundary, so the cut text passes the rules above.
TEST(Utf8PrefixTest, CutsAfterWholeCharactersOnly) {
  using platform::text::Utf8Prefix;
  EXPECT_EQ(Utf8Prefix("abc", 2), "ab");
  EXPECT_EQ(Utf8Prefix("\xC3\xA9\xC3\xA9", 1), "\xC3\xA9");
  EXPECT_EQ(Utf8Prefix("a\xF0\x9F\x98\x80" "b", 2), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8Prefix("x\xFFy", 2), "x\xFF");  // a malformed byte counts as one
  EXPECT_EQ(Utf8Prefix("short", 100), "short");
}

}  // namespace
