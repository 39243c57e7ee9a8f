// An instance whose databases live on PostgreSQL: the driver sections of the
// instance scripts, `CreateInstance` with a server address (every catalog a
// database <prefix>_<catalog>, listed in platform.xml), and components that
// open "Provider=SQLite;Data Source=data;..." reaching the server through it.
//
// The server cases need VENDRA_PG_URL (as scripts/pg-server.sh start prints
// it); without it they are skipped. The section cases need no server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "apps/instance/databases.h"
#include "apps/instance/instance_setup.h"
#include "apps/instance/script_sections.h"
#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
#include "platform/data/recordset.h"
#include "platform/host/instance.h"
#include "platform/host/registry.h"
#include "shared/components.h"
#include "tests/support/driver_text.h"
#include "tests/support/test_instance.h"

namespace vendra_instance {
namespace {

using platform::ComError;

TEST(ScriptSectionsTest, EachDriverKeepsItsOwnSections) {
  const std::string script =
      "CREATE TABLE T (A INT);\n"
      "-- sqlite-only: begin (a trigger)\n"
      "CREATE TRIGGER X AFTER INSERT ON T BEGIN SELECT 1; END;\n"
      "-- sqlite-only: end\n"
      "  -- postgresql-only: begin\n"
      "INSERT INTO T VALUES (CURRENT_DATE - 1);\n"
      "  -- postgresql-only: end\n"
      "INSERT INTO T VALUES (1);";
  // Blanked lines keep the line numbers of the file.
  EXPECT_EQ(ScriptForDriver(script, ScriptDriver::kSqlite),
            "CREATE TABLE T (A INT);\n\nCREATE TRIGGER X AFTER INSERT ON T BEGIN SELECT 1; END;\n"
            "\n\n\n\nINSERT INTO T VALUES (1);");
  EXPECT_EQ(ScriptForDriver(script, ScriptDriver::kPostgres),
            "CREATE TABLE T (A INT);\n\n\n\n\nINSERT INTO T VALUES (CURRENT_DATE - 1);\n\n"
            "INSERT INTO T VALUES (1);");
  // A script without sections is the same for both.
  EXPECT_EQ(ScriptForDriver("SELECT 1;\n-- sqlite only, a plain comment\n", ScriptDriver::kPostgres),
            "SELECT 1;\n-- sqlite only, a plain comment\n");
}

TEST(ScriptSectionsTest, UnpairedMarkersAreRefused) {
  for (const char* bad : {"-- sqlite-only: begin\nSELECT 1;",
                          "SELECT 1;\n-- sqlite-only: end",
                          "-- sqlite-only: begin\n-- postgresql-only: end",
                          "-- sqlite-only: begin\n-- postgresql-only: begin\n-- postgresql-only: end\n"
                          "-- sqlite-only: end"}) {
    EXPECT_THROW(ScriptForDriver(bad, ScriptDriver::kPostgres), ComError) << bad;
    EXPECT_THROW(ScriptForDriver(bad, ScriptDriver::kSqlite), ComError) << bad;
  }
  EXPECT_EQ(DriverOf("Provider=postgresql;Data Source=h;Initial Catalog=x"), ScriptDriver::kPostgres);
  EXPECT_EQ(DriverOf("Provider=SQLite;Data Source=data;Initial Catalog=Vendra"), ScriptDriver::kSqlite);
}

// The server address of VENDRA_PG_URL with its database replaced by prefix.
std::string ServerUrl(const std::string& url, const std::string& prefix) {
  return vendra_test::PgUrlWithDatabase(url, prefix);
}

class PostgresInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VENDRA_SKIP_WITHOUT_PG_SERVER();
    const std::string url = vendra_test::PgServerUrl();
    static std::atomic<int> counter{0};
    prefix_ = "vi_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    url_ = ServerUrl(url, prefix_);
    home_ = dir_.path() / "home";
  }
  void TearDown() override {
    if (home_.empty()) return;
    platform::data::ReleasePooledSessions();
    DropServerDatabases(home_);
    platform::data::ForgetInstanceDatabases();
    lib_sales::ResetThreadCaches();
  }
  vendra_test::TemporaryDirectory dir_;
  std::string prefix_, url_;
  std::filesystem::path home_;
};

TEST_F(PostgresInstanceTest, DemoInstanceLivesOnTheServer) {
  platform::InstanceHome::Set(home_);
  CreateInstance(home_, /*demo=*/true, url_);
  // No database file: every catalog is on the server, listed in platform.xml.
  EXPECT_TRUE(std::filesystem::is_empty(home_ / "data"));
  const auto listed = platform::data::ReadInstanceDatabases(home_ / "platform.xml");
  for (const char* catalog : {"Vendra", "Kelmor", "Brevane", "Syntaro", "Gantrel", "msdb"}) {
    ASSERT_TRUE(listed.count(catalog)) << catalog;
    EXPECT_NE(listed.at(catalog).find("Initial Catalog=" + prefix_ + "_"), std::string::npos);
  }
  // The connection string components use reaches the server's database.
  auto c = std::make_shared<platform::data::Connection>();
  c->Open("Provider=SQLite;Data Source=data;Initial Catalog=Brevane");
  auto rs = c->Execute("SELECT current_database() AS DB, COUNT(*) AS N FROM PRODUCT");
  EXPECT_EQ(rs->Value("DB").ToString(), prefix_ + "_brevane");
  EXPECT_EQ(rs->Value("N").ToLong(), 20);
  // The sections written for PostgreSQL ran: the promotion kit expires in ten days.
  rs = c->Execute("SELECT PRODUCTEXPIRYDATE - CAST(CURRENT_DATE AS timestamp) AS D FROM PRODUCT "
                  "WHERE PRODUCTID = 17");
  EXPECT_EQ(rs->Value("D").ToString(), "10 days");
  c->Close();
  c->Open("Provider=SQLite;Data Source=data;Initial Catalog=Kelmor");
  rs = c->Execute("SELECT COUNT(*) AS N FROM EXCHANGERATE WHERE EFFECTIVEDATE = CURRENT_DATE");
  EXPECT_EQ(rs->Value("N").ToLong(), 2);
  c->Close();

  // A component finds the server through the instance: the agreed hose price.
  lib_sales::ResetThreadCaches();
  platform::ObjectPtr pricing = platform::CreateObject("Vendra.Pricing");
  ASSERT_TRUE(platform::Call(pricing, "GetWebPrice",
                             {platform::Variant(9), platform::Variant(1001),
                              platform::Variant("2026-12-08"), platform::Variant("EUR")})
                  .ToBool());
  EXPECT_DOUBLE_EQ(platform::GetProperty(pricing, "Price").ToDouble(), 8.9);
  pricing.reset();

  // Another instance with the same prefix is refused: its data is never created over.
  vendra_test::TemporaryDirectory other;
  try {
    CreateInstance(other.path() / "home", true, url_);
    FAIL() << "a second instance over the same databases";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 58);
    EXPECT_NE(e.description().find(prefix_ + "_"), std::string::npos) << e.description();
  }
  EXPECT_FALSE(std::filesystem::exists(other.path() / "home" / "platform.xml"));
  // Upgrading finds every catalog at its latest version.
  EXPECT_TRUE(MigrateDatabases(home_).empty());
}

// The rows of a stored-procedure command (the function on the server) or of
// the procedure's registered statement, every field as "NAME:type=value".
std::string GetPriceRows(const std::shared_ptr<platform::data::Connection>& c, bool function,
                         int32_t product, int32_t partner, const std::string& currency,
                         const platform::Date& day) {
  using namespace platform::data;
  Command command;
  command.SetActiveConnection(c);
  if (function) {
    command.SetCommandText("dbo.GetPrice");
    command.SetCommandType(adCmdStoredProc);
  } else {
    command.SetCommandText(StoredProcedureSql("Vendra", "GetPrice"));
  }
  // Given out of the procedure's order: they are bound by name.
  command.parameters().Append(
      command.CreateParameter("@ORDERDATE", adDBTimeStamp, adParamInput, 3, platform::Variant(day)));
  command.parameters().Append(
      command.CreateParameter("@PRODID", adInteger, adParamInput, 4, platform::Variant(product)));
  command.parameters().Append(
      command.CreateParameter("@HOMECURRENCY", adVarWChar, adParamInput, 3, platform::Variant("EUR")));
  command.parameters().Append(
      command.CreateParameter("@BPID", adInteger, adParamInput, 4, platform::Variant(partner)));
  command.parameters().Append(
      command.CreateParameter("@CURRENCY", adVarWChar, adParamInput, 3, platform::Variant(currency)));
  auto rs = command.Execute();
  std::string out;
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    for (int k = 0; k < rs->fields().Count(); ++k) {
      Field& f = rs->fields()[k];
      out += f.Name() + (function ? ":" + std::to_string(f.Type()) : std::string()) + "=" +
             (f.Value().IsNull() ? std::string("null") : f.Value().ToString()) + " ";
    }
    out += "\n";
  }
  return out;
}

TEST_F(PostgresInstanceTest, GetPriceIsAFunctionThatAnswersAsTheRegisteredStatement) {
  using platform::Date;
  platform::InstanceHome::Set(home_);
  CreateInstance(home_, /*demo=*/true, url_);
  RegisterStoredProcedures();
  auto c = std::make_shared<platform::data::Connection>();
  c->Open("Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
  EXPECT_EQ(c->Execute("SELECT COUNT(*) AS N FROM pg_proc WHERE proname = 'getprice' AND "
                       "pronamespace = current_schema()::regnamespace")
                ->Value("N")
                .ToLong(),
            1);
  const Date today = platform::Clock::Today();
  struct Case {
    int32_t product, partner;
    const char* currency;
    Date day;
  } cases[] = {
      {1, 1001, "EUR", today},                       // the partner's own price
      {1, 1001, "usd", today},                       // ...in the home currency, case-insensitive
      {12, 1002, "USD", today},                      // the product list in the requested currency
      {16, 1001, "EUR", Date::FromParts(2027, 12, 31, 23)},  // a limited agreed price, last hour
      {16, 1001, "EUR", Date::FromParts(2028, 1, 1)},        // ...expired: the product list
      {9, 1003, "EUR", today},
      {14, 1003, "EUR", Date::FromParts(2023, 6, 1)},
      {1, 1003, "EUR", Date::FromParts(1990, 1, 1)},  // before any row: none
      {999, 1001, "EUR", today},
  };
  // The field types are those the procedure has on SQLite: the prices decimal (131).
  EXPECT_EQ(GetPriceRows(c, true, 1, 1001, "EUR", today),
            "PRODUCTID:3=1 BUSINESSPARTNERID:3=1001 CURRENCYCODE:202=EUR EFFECTIVEDATE:135=2024-01-01 "
            "EXPIRYDATE:12=null PRICE:131=11.25 DISCOUNTPERC:131=0 DISCOUNTAMOUNT:131=0 \n"
            "PRODUCTID:3=1 BUSINESSPARTNERID:3=null CURRENCYCODE:202=EUR EFFECTIVEDATE:135=2024-01-01 "
            "EXPIRYDATE:12=null PRICE:131=12.5 DISCOUNTPERC:131=0 DISCOUNTAMOUNT:131=0 \n");
  int rows = 0;
  for (const Case& k : cases) {
    std::string function = GetPriceRows(c, true, k.product, k.partner, k.currency, k.day);
    for (size_t at; (at = function.find(':')) != std::string::npos;)
      function.erase(at, function.find('=', at) - at);  // the registered statement's types are its values'
    EXPECT_EQ(function, GetPriceRows(c, false, k.product, k.partner, k.currency, k.day))
        << k.product << " " << k.partner << " " << k.currency;
    rows += static_cast<int>(std::count(function.begin(), function.end(), '\n'));
  }
  EXPECT_GT(rows, 6);

  // The function is what runs: a procedure the server does not keep is the
  // server's own error, never the registered statement.
  platform::data::RegisterStoredProcedure("Vendra", "GetNothing", "SELECT 1 AS N");
  platform::data::Command command;
  command.SetActiveConnection(c);
  command.SetCommandText("GetNothing");
  command.SetCommandType(platform::data::adCmdStoredProc);
  try {
    command.Execute();
    FAIL() << "a procedure the server does not have ran";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("function getnothing() does not exist"), std::string::npos)
        << e.description();
  }
  command.SetCommandText("GetPrice; DROP TABLE PRODUCTPRICE");
  EXPECT_THROW(command.Execute(), ComError);
  command.SetActiveConnection(nullptr);
  c->Close();
}

TEST_F(PostgresInstanceTest, BadPrefixIsRefusedBeforeAnythingIsMade) {
  EXPECT_THROW(CreateInstance(home_, false, ServerUrl(url_, "Shop-1")), ComError);
  EXPECT_FALSE(std::filesystem::exists(home_));
}

}  // namespace
}  // namespace vendra_instance
