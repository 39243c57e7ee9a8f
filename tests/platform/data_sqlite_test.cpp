// The SQLite driver: connection strings and their errors, pooled handles,
// the canonical dialect's translation (literals untouched), the ADO types of
// declared columns, bound parameters, stored procedures, the schema rowset.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/register.h"
#include "platform/host/registry.h"
#include "platform/data/sql_dialect.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "platform/host/instance.h"
#include "tests/support/test_instance.h"

namespace platform::data {
namespace {

TEST(SqlDialectTest, TopBecomesLimit) {
  EXPECT_EQ(TranslateToSqlite("SELECT TOP 1 * FROM X ORDER BY A"), "SELECT * FROM X ORDER BY A LIMIT 1");
  EXPECT_EQ(TranslateToSqlite("select distinct top (5) A from X;"), "select distinct A from X LIMIT 5;");
  EXPECT_EQ(TranslateToSqlite("SELECT A FROM X WHERE B IN (SELECT TOP 2 B FROM Y) AND C = 1"),
            "SELECT A FROM X WHERE B IN (SELECT B FROM Y LIMIT 2) AND C = 1");
  EXPECT_EQ(TranslateToSqlite("SELECT TOP 10 PERCENT A FROM X"), "SELECT TOP 10 PERCENT A FROM X");
}

TEST(SqlDialectTest, OwnerAndDatabaseNamesGo) {
  EXPECT_EQ(TranslateToSqlite("SELECT * FROM dbo.BASKETLINE"), "SELECT * FROM BASKETLINE");
  EXPECT_EQ(TranslateToSqlite("SELECT * FROM [Vendra].[dbo].[ORDER LINE]"), "SELECT * FROM \"ORDER LINE\"");
  EXPECT_EQ(TranslateToSqlite("SELECT * FROM Vendra.dbo.ORDERLINE L"), "SELECT * FROM ORDERLINE L");
  EXPECT_EQ(TranslateToSqlite("SELECT * FROM Vendra..ORDERLINE"), "SELECT * FROM ORDERLINE");
  EXPECT_EQ(TranslateToSqlite("SELECT L.SKU FROM ORDERLINE L"), "SELECT L.SKU FROM ORDERLINE L");
}

TEST(SqlDialectTest, FunctionsAreRenamed) {
  EXPECT_EQ(TranslateToSqlite("SELECT ISNULL(A, 0), LEN (B) FROM X WHERE D < GETDATE()"),
            "SELECT IFNULL(A, 0), LENGTH (B) FROM X WHERE D < vendra_getdate()");
  EXPECT_EQ(TranslateToSqlite("SELECT N'Grüße'"), "SELECT 'Grüße'");
}

TEST(SqlDialectTest, LiteralsAndCommentsAreNeverChanged) {
  const std::string sql =
      "SELECT 'SELECT TOP 1 dbo.X, GETDATE(), ISNULL(a) [b]' AS T -- TOP 5 dbo.Y\n"
      "FROM X WHERE N = 'it''s dbo.X' /* LEN( */";
  EXPECT_EQ(TranslateToSqlite(sql), sql);
  // The string concatenation operator stays as written.
  EXPECT_EQ(TranslateToSqlite("SELECT A + B FROM X"), "SELECT A + B FROM X");
  EXPECT_EQ(&CachedSqliteText("SELECT TOP 3 * FROM Q"), &CachedSqliteText("SELECT TOP 3 * FROM Q"));
}

TEST(DeclaredTypeTest, MapsToAdoTypes) {
  struct Case {
    const char* decl;
    int32_t type;
    int32_t size;
  } cases[] = {{"DATETIME", adDBTimeStamp, 16}, {"money", adCurrency, 8},
               {"BIT", adBoolean, 2},          {"INT", adInteger, 4},
               {"INTEGER", adInteger, 4},      {"SMALLINT", adSmallInt, 2},
               {"TINYINT", adUnsignedTinyInt, 1}, {"FLOAT", adDouble, 8},
               {"REAL", adDouble, 8},          {"DECIMAL(18, 4)", adNumeric, 19},
               {"NVARCHAR(50)", adVarWChar, 50}, {"VARCHAR ( 20 )", adVarChar, 20},
               {"NCHAR(3)", adWChar, 3},       {"CHAR", adChar, 1},
               {"NTEXT", adLongVarWChar, 1073741823}, {"TEXT", adLongVarChar, 1073741823},
               {"NVARCHAR(MAX)", adVarWChar, 1073741823}, {"", adVariant, 0},
               {"BLOBBY", adVariant, 0}};
  for (const Case& c : cases) {
    const DeclaredType t = TypeFromDeclaration(c.decl);
    EXPECT_EQ(t.type, c.type) << c.decl;
    EXPECT_EQ(t.size, c.size) << c.decl;
  }
}

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Shop";
    CreateDatabaseFile(cs_);
    conn_ = std::make_shared<Connection>();
    conn_->Open(cs_);
    ExecuteScript(*conn_, R"(
      CREATE TABLE T (ID INT PRIMARY KEY, D DATETIME, M MONEY, B BIT, S SMALLINT, Y TINYINT,
                      F FLOAT, N DECIMAL(10,2), W NVARCHAR(20), V VARCHAR(10), NC NCHAR(3),
                      C CHAR(2), NT NTEXT, X TEXT);
      INSERT INTO T VALUES (1, '2026-12-08T14:30:00', 12.34, 1, 7, 200, 1.5, 2.25, 'w', 'v',
                            'EUR', 'ab', 'nt', 'x');
      INSERT INTO T (ID) VALUES (2);
    )");
  }
  void TearDown() override {
    conn_.reset();
    ReleasePooledSessions();
  }

  vendra_test::TemporaryDirectory dir_;
  std::string cs_;
  std::shared_ptr<Connection> conn_;
};

TEST_F(SqliteTest, ValuesComeBackAsTheirColumnsKinds) {
  auto rs = conn_->Execute("SELECT * FROM T WHERE ID = 1");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->Value("ID"), Variant(1));
  EXPECT_EQ(rs->Value("D"), Variant(Date::FromParts(2026, 12, 8, 14, 30)));
  EXPECT_EQ(rs->Value("M"), Variant(Currency::Parse("12.34")));
  EXPECT_EQ(rs->Value("B"), Variant(true));
  EXPECT_EQ(rs->Value("S"), Variant(int16_t{7}));
  EXPECT_EQ(rs->Value("Y"), Variant(uint8_t{200}));
  EXPECT_EQ(rs->Value("F"), Variant(1.5));
  EXPECT_EQ(rs->Value("N"), Variant(2.25));
  for (const char* text : {"W", "V", "NC", "C", "NT", "X"}) EXPECT_TRUE(rs->Value(text).IsString()) << text;
  const int32_t types[] = {adInteger, adDBTimeStamp, adCurrency, adBoolean, adSmallInt, adUnsignedTinyInt,
                           adDouble, adNumeric, adVarWChar, adVarChar, adWChar, adChar, adLongVarWChar,
                           adLongVarChar};
  for (int i = 0; i < rs->FieldCount(); ++i) EXPECT_EQ(rs->fields()[i].Type(), types[i]) << i;
  EXPECT_EQ(rs->fields()["W"].DefinedSize(), 20);

  auto nulls = conn_->Execute("SELECT * FROM T WHERE ID = 2");
  for (int i = 1; i < nulls->FieldCount(); ++i) EXPECT_TRUE(nulls->fields()[i].Value().IsNull());

  // Expressions take the kind of what they hold.
  auto ex = conn_->Execute("SELECT COUNT(*) AS N, MAX(F) AS F, 'a' || 'b' AS S FROM T");
  EXPECT_EQ(ex->Value("N"), Variant(2));
  EXPECT_EQ(ex->fields()["N"].Type(), adInteger);
  EXPECT_EQ(ex->Value("F"), Variant(1.5));
  EXPECT_EQ(ex->Value("S"), Variant("ab"));
}

TEST_F(SqliteTest, ValuesAreBoundNeverPasted) {
  const std::string hostile = "x'); DROP TABLE T; --";
  conn_->Execute("UPDATE T SET W = ? WHERE ID = ?", {Variant(hostile), Variant(2)});
  auto rs = conn_->Execute("SELECT W FROM T WHERE ID = ?", {Variant(2)});
  EXPECT_EQ(rs->Value("W").ToString(), hostile);
  // Dates, money and flags are stored in the forms the columns read back.
  conn_->Execute("UPDATE T SET D = ?, M = ?, B = ? WHERE ID = 2",
                 {Variant(Date::FromParts(2027, 3, 4, 5, 6, 7)), Variant(Currency::Parse("0.0001")),
                  Variant(true)});
  auto back = conn_->Execute("SELECT D, M, B, typeof(D) AS K FROM T WHERE ID = 2");
  EXPECT_EQ(back->Value("D"), Variant(Date::FromParts(2027, 3, 4, 5, 6, 7)));
  EXPECT_EQ(back->Value("M"), Variant(Currency::Parse("0.0001")));
  EXPECT_EQ(back->Value("B"), Variant(true));
  EXPECT_EQ(back->Value("K"), Variant("text"));
  EXPECT_THROW(conn_->Execute("SELECT ? + ?", {Variant(1)}), ComError);  // too few values
  EXPECT_THROW(conn_->Execute("SELECT ?", {Variant(1), Variant(2)}), ComError);
}

TEST_F(SqliteTest, OneStatementAtATime) {
  int64_t affected = 0;
  EXPECT_THROW(conn_->Execute("DELETE FROM T; DELETE FROM T", {}, &affected), ComError);
  EXPECT_EQ(conn_->Execute("SELECT COUNT(*) FROM T")->fields()[0].Value().ToLong(), 2);
  EXPECT_EQ(conn_->Execute("DELETE FROM T WHERE ID = 2;  -- done", {}, &affected), nullptr);
  EXPECT_EQ(affected, 1);
  Variant count;
  conn_->Execute("UPDATE T SET F = 2", &count);
  EXPECT_EQ(count, Variant(1));
}

TEST_F(SqliteTest, GetDateReadsThePlatformClock) {
  ScopedFixedClock fixed(Date::FromParts(2030, 1, 2, 3, 4, 5));
  auto rs = conn_->Execute("SELECT GETDATE() AS NOW");
  EXPECT_EQ(rs->Value("NOW").ToString(), "2030-01-02T03:04:05");
  conn_->Execute("UPDATE T SET D = GETDATE() WHERE ID = 2");
  EXPECT_EQ(conn_->Execute("SELECT D FROM dbo.T WHERE ID = 2")->Value("D"),
            Variant(Date::FromParts(2030, 1, 2, 3, 4, 5)));
}

TEST_F(SqliteTest, FailuresRaiseTheProviderErrorAndFillErrors) {
  try {
    conn_->Execute("SELECT NOPE FROM T");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x80004005u));
    EXPECT_EQ(e.source(), std::string(kProviderSource));
    EXPECT_NE(e.description().find("no such column: NOPE"), std::string::npos);
  }
  const Connection* c = conn_.get();
  ASSERT_EQ(c->ErrorList().size(), 1u);
  EXPECT_EQ(c->ErrorList()[0].native_error, 1);  // SQLITE_ERROR
  EXPECT_EQ(c->ErrorList()[0].source, std::string(kProviderSource));
  auto errors = conn_->Errors();
  EXPECT_EQ(errors->Count(), 1);
  EXPECT_EQ(GetProperty(errors->Item(0), "NativeError").ToLong(), 1);
  EXPECT_THROW(errors->Item(1), ComError);
}

TEST_F(SqliteTest, ConnectionStringsAreCheckedClearly) {
  auto attempt = [](const std::string& cs) {
    Connection c;
    try {
      c.Open(cs);
    } catch (const ComError& e) {
      EXPECT_EQ(c.State(), adStateClosed);
      return e.description();
    }
    return std::string("opened");
  };
  const std::string dir = dir_.path().string();
  EXPECT_NE(attempt("Data Source=" + dir + ";Initial Catalog=Shop").find("Provider"), std::string::npos);
  EXPECT_NE(attempt("Provider=Oracle;Data Source=" + dir + ";Initial Catalog=Shop").find("Oracle"),
            std::string::npos);
  EXPECT_NE(attempt("Provider=SQLite;Data Source=" + dir).find("Initial Catalog"), std::string::npos);
  EXPECT_NE(attempt("Provider=SQLite;Data Source=" + dir + ";Initial Catalog=../etc/x").find("not a valid"),
            std::string::npos);
  // A missing database is an error, and Open does not create it.
  EXPECT_NE(attempt("Provider=SQLite;Data Source=" + dir + ";Initial Catalog=Missing").find("does not exist"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Missing.db"));
  // Keys are case-insensitive; Server/Database are the same keys.
  EXPECT_EQ(attempt("provider=sqlite; DATA SOURCE=" + dir + "; initial catalog = Shop"), "opened");
  EXPECT_EQ(attempt("Provider=SQLite;Server=\"" + dir + "\";Database=Shop"), "opened");
}

TEST_F(SqliteTest, RelativeDataSourcesAreTakenAgainstTheInstanceHome) {
  const bool had_home = InstanceHome::IsSet();
  const std::filesystem::path previous = had_home ? InstanceHome::Get() : std::filesystem::path();
  InstanceHome::Set(dir_.path());
  EXPECT_EQ(DatabaseFilePath("Provider=SQLite;Data Source=data\\db;Initial Catalog=Vendra"),
            dir_.path() / "data" / "db" / "Vendra.db");
  CreateDatabaseFile("Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "data" / "Vendra.db"));
  if (had_home) InstanceHome::Set(previous);
}

TEST_F(SqliteTest, OpenAndCloseReuseHandlesFromThePool) {
  { Connection warm; warm.Open(cs_); }
  const int64_t before = sqlite::HandlesOpened();
  for (int i = 0; i < 20; ++i) {
    Connection c;
    c.Open(cs_);
    c.Execute("SELECT * FROM T");
    c.Close();
  }
  EXPECT_EQ(sqlite::HandlesOpened(), before);
  // Two at once need two handles; both return to the pool.
  Connection a, b;
  a.Open(cs_);
  b.Open(cs_);
  a.Close();
  b.Close();
  const int64_t after_two = sqlite::HandlesOpened();
  { Connection c; c.Open(cs_); }
  { Connection c; c.Open(cs_); }
  EXPECT_EQ(sqlite::HandlesOpened(), after_two);
  // A handle closed with its transaction open comes back clean.
  Connection w;
  w.Open(cs_);
  w.BeginTrans();
  w.Execute("DELETE FROM T");
  w.Close();
  EXPECT_EQ(conn_->Execute("SELECT COUNT(*) FROM T")->fields()[0].Value().ToLong(), 2);
}

// A program that ends normally closes the handles waiting in the pool, and
// with the last one SQLite folds the write-ahead log back into the database:
// the folder holds the .db file only.
TEST(SqliteExitDeathTest, PooledHandlesCloseWhenTheProgramEnds) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child must see this directory
  vendra_test::TemporaryDirectory dir;
  const std::string cs = "Provider=SQLite;Data Source=" + dir.path().string() + ";Initial Catalog=Exit";
  CreateDatabaseFile(cs);
  const std::string file = (dir.path() / "Exit.db").string();
  ReleasePooledSessions();  // the child starts without handles of this process
  EXPECT_EXIT(
      {
        Connection c;
        c.Open(cs);
        ExecuteScript(c, "CREATE TABLE X (A INT); INSERT INTO X VALUES (1);");
        c.Close();
        // The handle waits in the pool, the log still beside the database.
        std::exit(std::filesystem::exists(file + "-wal") ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(std::filesystem::exists(file + "-wal"));
  EXPECT_FALSE(std::filesystem::exists(file + "-shm"));
  Connection c;
  c.Open(cs);
  EXPECT_EQ(c.Execute("SELECT COUNT(*) FROM X")->fields()[0].Value().ToLong(), 1);
  c.Close();
  ReleasePooledSessions();
}

TEST_F(SqliteTest, NestedTransactionsAreSavepoints) {
  EXPECT_EQ(conn_->BeginTrans(), 1);
  conn_->Execute("UPDATE T SET F = 10 WHERE ID = 1");
  EXPECT_EQ(conn_->BeginTrans(), 2);
  conn_->Execute("UPDATE T SET F = 20 WHERE ID = 1");
  conn_->RollbackTrans();
  conn_->CommitTrans();
  EXPECT_EQ(conn_->Execute("SELECT F FROM T WHERE ID = 1")->Value("F"), Variant(10.0));
  EXPECT_THROW(conn_->CommitTrans(), ComError);
  {
    Transaction tx(*conn_);
    conn_->Execute("UPDATE T SET F = 30 WHERE ID = 1");
    tx.Commit();
  }
  EXPECT_EQ(conn_->Execute("SELECT F FROM T WHERE ID = 1")->Value("F"), Variant(30.0));
}

TEST_F(SqliteTest, WriteTransactionsTakeTheLockAtTheStart) {
  // A writer outside the pool, without a busy timeout, sees the lock at once.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() / "Shop.db").string().c_str(), &raw), SQLITE_OK);
  conn_->BeginTrans();  // nothing written yet
  EXPECT_EQ(sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_BUSY);
  conn_->RollbackTrans();
  EXPECT_EQ(sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  // Now ours waits for the other writer and reports the engine's busy error.
  Connection other;
  other.Open(cs_);
  sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  EXPECT_EQ(other.BeginTrans(), 1);
  other.RollbackTrans();
}

TEST_F(SqliteTest, CommandsBindParametersAndRunStoredProcedures) {
  RegisterStoredProcedure("Shop", "GetThing",
                          "SELECT ID, W FROM T WHERE ID = @ID AND (W = @NAME OR @NAME IS NULL)");
  auto cmd = std::make_shared<Command>();
  cmd->SetActiveConnection(conn_);
  cmd->SetCommandText("dbo.GetThing");
  cmd->SetCommandType(adCmdStoredProc);
  cmd->parameters().Append(cmd->CreateParameter("@ID", adInteger, adParamInput, 4, Variant("1")));
  cmd->parameters().Append(cmd->CreateParameter("@NAME", adVarWChar, adParamInput, 20, Variant::Null()));
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  rs->Open(*cmd, adOpenForwardOnly, adLockReadOnly);
  cmd->SetActiveConnection(nullptr);
  rs->SetActiveConnection(nullptr);
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Value("W").ToString(), "w");

  auto text = std::make_shared<Command>();
  text->SetActiveConnection(conn_);
  text->SetCommandText("SELECT COUNT(*) FROM T WHERE ID >= ?");
  const Variant two[] = {Variant(2)};
  EXPECT_EQ(text->Execute(two)->fields()[0].Value().ToLong(), 1);

  cmd->SetActiveConnection(conn_);
  cmd->SetCommandText("NoSuchProc");
  try {
    cmd->Execute();
    FAIL();
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("NoSuchProc"), std::string::npos);
  }
  EXPECT_EQ(conn_->ErrorList().size(), 1u);
}

TEST_F(SqliteTest, SchemaRowsetDescribesColumns) {
  auto rs = conn_->OpenSchema(adSchemaColumns, Variant(VariantArray{Variant(), Variant(), Variant("t")}));
  EXPECT_EQ(rs->RecordCount(), 14);
  ASSERT_TRUE(rs->Find("COLUMN_NAME = 'W'"));
  EXPECT_EQ(rs->Value("TABLE_NAME").ToString(), "T");
  EXPECT_EQ(rs->Value("DATA_TYPE").ToLong(), adVarWChar);
  EXPECT_EQ(rs->Value("CHARACTER_MAXIMUM_LENGTH").ToLong(), 20);
  EXPECT_EQ(rs->Value("ORDINAL_POSITION").ToLong(), 9);
  EXPECT_TRUE(rs->Value("IS_NULLABLE").ToBool());
  rs->MoveFirst();
  EXPECT_EQ(rs->Value("COLUMN_NAME").ToString(), "ID");
  EXPECT_FALSE(rs->Value("IS_NULLABLE").ToBool());
  EXPECT_TRUE(rs->Value("CHARACTER_MAXIMUM_LENGTH").IsNull());
  // The schema's types agree with the types of the fields read.
  auto data = conn_->Execute("SELECT * FROM T");
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    EXPECT_EQ(rs->Value("DATA_TYPE").ToLong(), data->fields()[rs->Value("COLUMN_NAME").ToString()].Type());
  }
  EXPECT_EQ(conn_->OpenSchema(adSchemaTables)->RecordCount(), 1);
}

TEST_F(SqliteTest, SchemaChangesAreSeenByPreparedReads) {
  auto before = conn_->Execute("SELECT * FROM T");
  EXPECT_EQ(before->FieldCount(), 14);
  ExecuteScript(*conn_, "ALTER TABLE T ADD COLUMN Z INT");
  auto after = conn_->Execute("SELECT * FROM T");
  EXPECT_EQ(after->FieldCount(), 15);
  EXPECT_EQ(after->fields()["Z"].Type(), adInteger);
}

TEST_F(SqliteTest, LateBoundConnection) {
  RegisterDataComponents();
  ObjectPtr c = CreateObject("ADODB.Connection");
  EXPECT_EQ(c->TypeName(), "Connection");
  EXPECT_EQ(CreateObject("adodb.recordset")->TypeName(), "Recordset");
  EXPECT_EQ(CreateObject("ADODB.Command")->TypeName(), "Command");
  SetProperty(c, "ConnectionString", Variant(cs_));
  Call(c, "Open");
  EXPECT_EQ(GetProperty(c, "State").ToLong(), adStateOpen);
  std::vector<Variant> args{Variant("UPDATE T SET F = 1"), Variant()};
  CallRef(c, "Execute", args);
  EXPECT_EQ(args[1], Variant(2));
  ObjectPtr rs = Call(c, "Execute", {Variant("SELECT ID FROM T ORDER BY ID")}).ToObject();
  EXPECT_EQ(GetProperty(rs, "RecordCount").ToLong(), 2);
  Call(c, "BeginTrans");
  Call(c, "RollbackTrans");
  Call(c, "Close");
  EXPECT_EQ(GetProperty(c, "State").ToLong(), adStateClosed);
}

}  // namespace
}  // namespace platform::data
