// The sales database as the instance creates it: every catalog's file with
// its schema version recorded, the sales tables behaving as the system
// expects (case-insensitive texts, flags stored 0/1, one date form, the
// defaults and column orders the objects rely on), the stored procedure
// GetPrice choosing the applicable price row, and upgrades by migration.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/instance/databases.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/data/ado_types.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "tests/support/test_instance.h"

namespace {

namespace fs = std::filesystem;
using platform::ComError;
using platform::Date;
using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

std::string ConnectionString(const fs::path& home, const std::string& catalog) {
  return "Provider=SQLite;Data Source=" + (home / "data").string() +
         ";Initial Catalog=" + catalog;
}

class SalesDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    vendra_instance::CreateDatabases(dir_.path(), /*demo=*/false);
    connection_ = Open("Vendra");
  }
  void TearDown() override {
    connection_->Close();
    platform::data::ReleasePooledSessions();
  }

  std::shared_ptr<Connection> Open(const std::string& catalog) {
    auto c = std::make_shared<Connection>();
    c->Open(ConnectionString(dir_.path(), catalog));
    return c;
  }
  std::shared_ptr<Recordset> Query(const std::string& sql) { return connection_->Execute(sql); }
  Variant One(const std::string& sql) {
    auto rs = Query(sql);
    EXPECT_FALSE(rs->Eof()) << sql;
    return rs->Eof() ? Variant() : rs->fields()[0].Value();
  }
  std::vector<std::string> Columns(const std::string& table) {
    auto rs = Query("SELECT * FROM " + table + " WHERE 1 = 0");
    std::vector<std::string> names;
    for (int i = 0; i < rs->FieldCount(); ++i) names.push_back(rs->fields()[i].Name());
    return names;
  }
  // What the engine stored, not what a typed field makes of it: an
  // expression has no declared type, so its field keeps the stored text.
  std::string RawText(const std::string& sql) { return One(sql).ToString(); }
  std::string Stored(const std::string& column, const std::string& table) {
    return RawText("SELECT " + column + " || '' FROM " + table);
  }

  vendra_test::TemporaryDirectory dir_;
  std::shared_ptr<Connection> connection_;
};

TEST_F(SalesDatabase, EveryCatalogRecordsItsSchemaVersion) {
  const auto catalogs = vendra_instance::EmbeddedCatalogs();
  ASSERT_NE(std::find(catalogs.begin(), catalogs.end(), "Vendra"), catalogs.end());
  for (const std::string& catalog : catalogs) {
    const fs::path file = dir_.path() / "data" / (catalog + ".db");
    ASSERT_TRUE(fs::exists(file)) << file;
    EXPECT_EQ(vendra_instance::RecordedSchemaVersion(file),
              vendra_instance::LatestSchemaVersion(catalog));
  }
  EXPECT_GE(vendra_instance::LatestSchemaVersion("Vendra"), 1);
  EXPECT_EQ(One("SELECT SCRIPT FROM SCHEMAVERSION WHERE VERSION = 1"), Variant("Vendra/schema.sql"));
  EXPECT_NE(One("SELECT APPLIED FROM SCHEMAVERSION WHERE VERSION = 1").Get<Date>(), nullptr);
  // Without demo the sales tables are empty.
  EXPECT_EQ(One("SELECT COUNT(*) FROM PRODUCTPRICE").ToLong(), 0);
}

TEST_F(SalesDatabase, ColumnOrderTheObjectsRelyOn) {
  // The quotation steps tell a basket from a quotation by the first column.
  EXPECT_EQ(Columns("BASKETHEADER").front(), "BASKETID");
  EXPECT_NE(Columns("QUOTATIONHEADER").front(), "BASKETID");

  const std::vector<std::string> header_insert_order = {
      "QUOTATIONID", "CUSTOMERREFERENCE", "BILLINGADDRESSID", "SHIPPINGADDRESSID",
      "CREATIONDATE", "USERID", "USERLOCALE", "PRICINGMETHOD", "CARRIERCODE",
      "BUSINESSPARTNERID", "CUSTOMERCODE", "CUSTOMERNAME", "CURRENCYCODE", "CURRENCYSYMBOL",
      "HOMECURRENCYCODE", "KROID", "EXPIRYDATE", "NOTIFICATIONNEEDED", "NOTIFICATIONDATE",
      "COMMENTS", "NOTIFICATIONSENT", "COPIEDTOORDER", "DISCOUNTPERC", "DISCOUNTTOTAL",
      "TOTALNETAMOUNT", "SUBTOTAL"};
  const auto header = Columns("QUOTATIONHEADER");
  ASSERT_GE(header.size(), header_insert_order.size());
  EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + header_insert_order.size()),
            header_insert_order);

  const std::vector<std::string> line_insert_order = {
      "QUOTATIONID", "LINENUMBER", "SKU", "PARTNUMBER", "REQUESTDATE", "PARTDESCRIPTION",
      "QUANTITY", "PRODUCTUNITCODE", "PRODUCTCONFIGURABLE", "PRODUCTCONFIGID",
      "PRODUCTCONFIGCOMPLETE", "CURRENCY", "PRODUCTPRICE", "COPIEDTOORDER", "DISCOUNTPERC",
      "DISCOUNTAMOUNT", "LINEAMOUNT", "LINETEXT"};
  const auto lines = Columns("QUOTATIONLINE");
  ASSERT_GE(lines.size(), line_insert_order.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + line_insert_order.size()),
            line_insert_order);
  // A quotation submitted as an order needs each line's delivery address.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ADDRESSID"), lines.end());
}

TEST_F(SalesDatabase, DeclaredTypesGiveTheFieldTypes) {
  using namespace platform::data;
  auto rs = Query(
      "SELECT BASKETID, BASKETDATE, BUSINESSPARTNERID, DISCOUNTPERC, FREIGHTTOTAL, "
      "CALCULATETAX, PAYMENTMETHOD FROM BASKETHEADER WHERE 1 = 0");
  EXPECT_EQ(rs->fields()[0].Type(), adVarWChar);
  EXPECT_EQ(rs->fields()[0].DefinedSize(), 32);
  EXPECT_EQ(rs->fields()[1].Type(), adDBTimeStamp);
  EXPECT_EQ(rs->fields()[2].Type(), adInteger);
  EXPECT_EQ(rs->fields()[3].Type(), adDouble);
  EXPECT_EQ(rs->fields()[4].Type(), adCurrency);
  EXPECT_EQ(rs->fields()[5].Type(), adBoolean);
  EXPECT_EQ(rs->fields()[6].Type(), adSmallInt);
  auto price = Query("SELECT PRICE, DISCOUNTPERC FROM PRODUCTPRICE WHERE 1 = 0");
  EXPECT_EQ(price->fields()[0].Type(), adNumeric);
  auto zone = Query("SELECT ZONEID FROM ZONES WHERE 1 = 0");
  EXPECT_EQ(zone->fields()[0].Type(), adSmallInt);
}

TEST_F(SalesDatabase, TextsCompareCaseInsensitively) {
  connection_->Execute("INSERT INTO BASKETHEADER (BASKETID, USERID) VALUES ('ABCDEF', 'Anna')");
  EXPECT_EQ(One("SELECT USERID FROM BASKETHEADER WHERE BASKETID = 'abcdef'"), Variant("Anna"));
  EXPECT_EQ(One("SELECT COUNT(*) FROM BASKETHEADER WHERE USERID = 'ANNA'").ToLong(), 1);
  EXPECT_EQ(One("SELECT COUNT(*) FROM BASKETHEADER WHERE USERID IN ('anna')").ToLong(), 1);
  // A key differing only in case is the same key.
  EXPECT_THROW(connection_->Execute("INSERT INTO BASKETHEADER (BASKETID) VALUES ('abcdef')"),
               ComError);
  connection_->Execute("INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'SLBSA1', 'x')");
  EXPECT_THROW(
      connection_->Execute("INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'slbsa1', 'y')"),
      ComError);
}

TEST_F(SalesDatabase, FlagsAreStoredAsZeroOrOne) {
  connection_->Execute(
      "INSERT INTO QUOTATIONHEADER (QUOTATIONID, NOTIFICATIONNEEDED, NOTIFICATIONSENT, "
      "COPIEDTOORDER, CALCULATETAX) VALUES ('Q1', 255, -1, 'True', 2.5)");
  EXPECT_EQ(RawText("SELECT NOTIFICATIONNEEDED || NOTIFICATIONSENT || COPIEDTOORDER || "
                    "CALCULATETAX FROM QUOTATIONHEADER"),
            "1111");
  // The selection of the expiry run compares with 1.
  EXPECT_EQ(One("SELECT COUNT(*) FROM QUOTATIONHEADER WHERE NOTIFICATIONNEEDED = 1").ToLong(), 1);
  connection_->Execute(
      "UPDATE QUOTATIONHEADER SET NOTIFICATIONSENT = 0, COPIEDTOORDER = 'false', "
      "CALCULATETAX = 7 WHERE QUOTATIONID = 'Q1'");
  EXPECT_EQ(RawText("SELECT NOTIFICATIONSENT || COPIEDTOORDER || CALCULATETAX FROM "
                    "QUOTATIONHEADER"),
            "001");
  EXPECT_EQ(One("SELECT NOTIFICATIONNEEDED FROM QUOTATIONHEADER"), Variant(true));

  // A bound Boolean and a NULL pass as they are.
  connection_->Execute("INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, PRODUCTCONFIGURABLE) "
                       "VALUES (?, ?, ?)",
                       {Variant("B"), Variant(int32_t{1}), Variant(true)});
  connection_->Execute("INSERT INTO BASKETLINE (BASKETID, BASKETLINENR) VALUES ('B', 2)");
  EXPECT_EQ(RawText("SELECT GROUP_CONCAT(IFNULL(PRODUCTCONFIGURABLE, 'null'), ',') FROM "
                    "BASKETLINE"),
            "1,null");

  // Anything else is refused and nothing of the statement is stored.
  try {
    connection_->Execute("INSERT INTO QUOTATIONHEADER (QUOTATIONID, COPIEDTOORDER) VALUES ('Q2', 'yes')");
    FAIL() << "a text flag was taken";
  } catch (const ComError& e) {
    EXPECT_NE(std::string(e.description()).find("QUOTATIONHEADER.COPIEDTOORDER takes a flag"),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(One("SELECT COUNT(*) FROM QUOTATIONHEADER").ToLong(), 1);
}

TEST_F(SalesDatabase, DateTimesAreStoredInOneSortableForm) {
  connection_->Execute(
      "INSERT INTO QUOTATIONHEADER (QUOTATIONID, CREATIONDATE, EXPIRYDATE, NOTIFICATIONDATE) "
      "VALUES ('Q1', '2026-12-08', '2027-01-07 16:05:09.750', '2027-01-01T08:30')");
  EXPECT_EQ(RawText("SELECT CREATIONDATE || '|' || EXPIRYDATE || '|' || NOTIFICATIONDATE FROM "
                    "QUOTATIONHEADER"),
            "2026-12-08T00:00:00|2027-01-07T16:05:09|2027-01-01T08:30:00");
  // A bound date, and the encoder's literal, are already in the stored form.
  connection_->Execute("UPDATE QUOTATIONHEADER SET EXPIRYDATE = ?",
                       {Variant(Date::FromParts(9999, 12, 31, 23, 59, 59))});
  EXPECT_EQ(Stored("EXPIRYDATE", "QUOTATIONHEADER"), "9999-12-31T23:59:59");
  connection_->Execute("UPDATE QUOTATIONHEADER SET EXPIRYDATE = '1900-03-01 00:00:00'");
  EXPECT_EQ(Stored("EXPIRYDATE", "QUOTATIONHEADER"), "1900-03-01T00:00:00");
  EXPECT_EQ(One("SELECT EXPIRYDATE FROM QUOTATIONHEADER").Get<Date>()->ToIso(),
            "1900-03-01T00:00:00");

  // Stored dates sort and compare as text with the encoder's literals.
  connection_->Execute(
      "INSERT INTO PRODUCTPRICE (PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, PRICE) VALUES "
      "(1, '2026-01-01', 'EUR', 1), (1, '2025-12-31 23:59:59', 'EUR', 2)");
  EXPECT_EQ(RawText("SELECT GROUP_CONCAT(PRICE, ',') FROM (SELECT PRICE FROM PRODUCTPRICE "
                    "WHERE EFFECTIVEDATE <= '2026-01-01T00:00:00' ORDER BY EFFECTIVEDATE)"),
            "2,1");

  // What is no date is refused, the whole statement with it.
  for (const std::string bad : {"'2026-02-30'", "'2026-12-08T24:00'", "'08.12.2026'", "'now'",
                                "20261208", "'2026-12-08T10:00:00+02:00'", "'tomorrow'"}) {
    EXPECT_THROW(connection_->Execute("UPDATE QUOTATIONHEADER SET CREATIONDATE = " + bad),
                 ComError)
        << bad;
  }
  EXPECT_EQ(Stored("CREATIONDATE", "QUOTATIONHEADER"), "2026-12-08T00:00:00");
  EXPECT_THROW(connection_->Execute(
                   "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, REQUESTDATE) VALUES "
                   "('B', 1, '2026-13-01')"),
               ComError);
  EXPECT_EQ(One("SELECT COUNT(*) FROM BASKETLINE").ToLong(), 0);
}

TEST_F(SalesDatabase, DefaultsOfTheInsertsThatLeaveColumnsOut) {
  connection_->Execute("INSERT INTO ORDERHEADER (ORDERID, SALESORDERNR) VALUES ('O1', '')");
  auto order = Query("SELECT ATTEMPTS, ORDERSTATUS, ERROR FROM ORDERHEADER");
  EXPECT_EQ(order->Value("ATTEMPTS"), Variant(int32_t{0}));
  EXPECT_EQ(order->Value("ORDERSTATUS"), Variant(int16_t{0}));
  EXPECT_TRUE(order->Value("ERROR").IsNull());
  connection_->Execute("INSERT INTO ORDERLINE (ORDERID, LINENR) VALUES ('O1', 1)");
  auto line = Query("SELECT LINESTATUS, CONFIGCOMPLETE, SALESORDERLINENR FROM ORDERLINE");
  EXPECT_EQ(line->Value("LINESTATUS"), Variant(int16_t{0}));
  EXPECT_EQ(line->Value("CONFIGCOMPLETE"), Variant(false));
  EXPECT_TRUE(line->Value("SALESORDERLINENR").IsNull());
  connection_->Execute("INSERT INTO QUOTATIONHEADER (QUOTATIONID) VALUES ('Q1')");
  auto q = Query("SELECT NOTIFICATIONNEEDED, NOTIFICATIONSENT, COPIEDTOORDER FROM QUOTATIONHEADER");
  EXPECT_EQ(q->Value("NOTIFICATIONSENT"), Variant(false));
  EXPECT_EQ(q->Value("COPIEDTOORDER"), Variant(false));
  connection_->Execute("INSERT INTO CUSTOMERSETTING (BUSINESSPARTNERID) VALUES (1001)");
  EXPECT_EQ(One("SELECT NOTIFY FROM CUSTOMERSETTING"), Variant(false));
  // Keys may not be left out.
  EXPECT_THROW(connection_->Execute("INSERT INTO ORDEREXPORTFILE (EMAIL) VALUES ('x@y')"), ComError);
}

TEST_F(SalesDatabase, ExistingDatabasesAreNeverCreatedOver) {
  connection_->Execute("INSERT INTO ZONES (ZONEID, ZONEDESCRIPTION) VALUES (1, 'kept')");
  try {
    vendra_instance::CreateDatabases(dir_.path(), true);
    FAIL() << "created over an existing instance";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 58);
  }
  EXPECT_EQ(One("SELECT ZONEDESCRIPTION FROM ZONES"), Variant("kept"));
}

TEST_F(SalesDatabase, MigrationBringsAnInstanceUpToDate) {
  // Up to date: nothing to do.
  EXPECT_TRUE(vendra_instance::MigrateDatabases(dir_.path()).empty());

  // A catalog added by a later release gets its database.
  connection_->Close();
  platform::data::ReleasePooledSessions();
  const fs::path kelmor = dir_.path() / "data" / "Kelmor.db";
  fs::remove(kelmor);
  const auto applied = vendra_instance::MigrateDatabases(dir_.path());
  ASSERT_FALSE(applied.empty());
  EXPECT_EQ(applied.front(), "Kelmor/schema.sql");
  EXPECT_EQ(vendra_instance::RecordedSchemaVersion(kelmor),
            vendra_instance::LatestSchemaVersion("Kelmor"));

  // A database newer than the program is left alone, with a clear error.
  connection_ = Open("Vendra");
  connection_->Execute(
      "INSERT INTO SCHEMAVERSION (VERSION, SCRIPT, APPLIED) VALUES (99, 'future.sql', "
      "'2030-01-01T00:00:00')");
  try {
    vendra_instance::MigrateDatabases(dir_.path());
    FAIL() << "migrated a newer database";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("schema version 99"), std::string::npos) << e.description();
  }

  // One made before versions were recorded counts as the first version.
  connection_->Execute("DROP TABLE SCHEMAVERSION");
  EXPECT_EQ(vendra_instance::RecordedSchemaVersion(dir_.path() / "data" / "Vendra.db"), 0);
  vendra_instance::MigrateDatabases(dir_.path());
  EXPECT_EQ(vendra_instance::RecordedSchemaVersion(dir_.path() / "data" / "Vendra.db"),
            vendra_instance::LatestSchemaVersion("Vendra"));
}

TEST(SalesDatabaseCreation, AFailedCreationLeavesNothingBehind) {
  using platform::data::FaultInjection;
  // How many statements a whole creation takes...
  int32_t statements = 0;
  {
    vendra_test::TemporaryDirectory counted;
    FaultInjection::Disable();
    vendra_instance::CreateDatabases(counted.path(), true);
    statements = FaultInjection::StatementsSeen();
    platform::data::ReleasePooledSessions();
  }
  ASSERT_GT(statements, 1);
  // ...so the very last one (in the last catalog's demo rows) can fail.
  vendra_test::TemporaryDirectory dir;
  {
    platform::data::ScopedFault fault(statements);
    EXPECT_THROW(vendra_instance::CreateDatabases(dir.path(), true), ComError);
  }
  for (const auto& catalog : vendra_instance::EmbeddedCatalogs())
    EXPECT_FALSE(fs::exists(dir.path() / "data" / (catalog + ".db"))) << catalog;
  // And the next attempt starts afresh.
  vendra_instance::CreateDatabases(dir.path(), true);
  platform::data::ReleasePooledSessions();
}

// GetPrice: the rows valid at the order date, customer list first, then the
// requested currency before the home currency.
class GetPriceTest : public SalesDatabase {
 protected:
  void SetUp() override {
    SalesDatabase::SetUp();
    vendra_instance::RegisterStoredProcedures();
    connection_->Execute(
        "INSERT INTO PRODUCTPRICE (PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, EXPIRYDATE, PRICE, "
        "DISCOUNTPERC, DISCOUNTAMOUNT) VALUES "
        "(1, '2025-01-01T00:00:00', 'EUR', '2026-01-01T00:00:00', 10, 0, 0), "
        "(1, '2026-01-01T00:00:00', 'EUR', NULL, 11, 0, 0), "
        "(1, '2026-01-01T00:00:00', 'USD', '2026-07-01T00:00:00', 13, 0, 0), "
        "(2, '2025-01-01T00:00:00', 'EUR', NULL, 20, 5, 0)");
    connection_->Execute(
        "INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, "
        "EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES "
        "(1001, 1, '2026-03-01T00:00:00', 'EUR', '2026-06-01T00:00:00', 9, 0, 0), "
        "(1001, 1, '2026-04-01T00:00:00', 'USD', NULL, 12, 0, 1), "
        "(1002, 2, '2025-01-01T00:00:00', 'EUR', NULL, 15, 0, 0)");
  }

  // The first row GetPrice gives: "price currency partner", or "none".
  std::string Price(int32_t product, int32_t partner, const std::string& currency,
                    const Date& order_date) {
    using namespace platform::data;
    Command command;
    command.SetActiveConnection(connection_);
    command.SetCommandText("GetPrice");
    command.SetCommandType(adCmdStoredProc);
    command.parameters().Append(
        command.CreateParameter("@PRODID", adInteger, adParamInput, 4, Variant(product)));
    command.parameters().Append(
        command.CreateParameter("@BPID", adInteger, adParamInput, 4, Variant(partner)));
    command.parameters().Append(
        command.CreateParameter("@CURRENCY", adVarWChar, adParamInput, 3, Variant(currency)));
    command.parameters().Append(
        command.CreateParameter("@HOMECURRENCY", adVarWChar, adParamInput, 3, Variant("EUR")));
    command.parameters().Append(
        command.CreateParameter("@ORDERDATE", adDBTimeStamp, adParamInput, 3, Variant(order_date)));
    auto rs = command.Execute();
    if (!rs || rs->Eof()) return "none";
    const Variant bp = rs->Value("BUSINESSPARTNERID");
    return rs->Value("PRICE").ToString() + " " + rs->Value("CURRENCYCODE").ToString() + " " +
           (bp.IsNull() ? "-" : bp.ToString());
  }
};

TEST_F(GetPriceTest, ChoosesTheApplicableRow) {
  const auto day = [](int y, int m, int d, int h = 0) { return Date::FromParts(y, m, d, h); };
  // Product list only, by validity: effective date inclusive, expiry exclusive.
  EXPECT_EQ(Price(1, 1003, "EUR", day(2024, 12, 31, 23)), "none");
  EXPECT_EQ(Price(1, 1003, "EUR", day(2025, 1, 1)), "10 EUR -");
  EXPECT_EQ(Price(1, 1003, "EUR", day(2025, 12, 31, 23)), "10 EUR -");
  EXPECT_EQ(Price(1, 1003, "EUR", day(2026, 1, 1)), "11 EUR -");
  EXPECT_EQ(Price(1, 1003, "EUR", day(9999, 12, 31)), "11 EUR -");
  // The requested currency before the home currency...
  EXPECT_EQ(Price(1, 1003, "USD", day(2026, 2, 1)), "13 USD -");
  // ...and the home currency when the requested one has no valid row.
  EXPECT_EQ(Price(1, 1003, "USD", day(2026, 7, 1)), "11 EUR -");
  EXPECT_EQ(Price(1, 1003, "GBP", day(2026, 2, 1)), "11 EUR -");
  // The customer list before the product list, even in the home currency.
  EXPECT_EQ(Price(1, 1001, "USD", day(2026, 3, 15)), "9 EUR 1001");
  EXPECT_EQ(Price(1, 1001, "USD", day(2026, 4, 15)), "12 USD 1001");
  EXPECT_EQ(Price(1, 1001, "EUR", day(2026, 4, 15)), "9 EUR 1001");
  // A partner's row in a third currency is no candidate.
  EXPECT_EQ(Price(1, 1001, "EUR", day(2026, 6, 1)), "11 EUR -");
  // Another partner's agreed price is not this partner's.
  EXPECT_EQ(Price(2, 1001, "EUR", day(2026, 1, 1)), "20 EUR -");
  EXPECT_EQ(Price(2, 1002, "EUR", day(2026, 1, 1)), "15 EUR 1002");
  // Currency codes match whatever their case; the caller sees the stored one.
  EXPECT_EQ(Price(1, 1003, "usd", day(2026, 2, 1)), "13 USD -");
  EXPECT_EQ(Price(3, 1001, "EUR", day(2026, 1, 1)), "none");
}

TEST(SalesDemoData, LoadsWithTheInstance) {
  vendra_test::TemporaryDirectory dir;
  vendra_instance::CreateDatabases(dir.path(), /*demo=*/true);
  vendra_instance::RegisterStoredProcedures();
  {
    auto c = std::make_shared<Connection>();
    c->Open(ConnectionString(dir.path(), "Vendra"));
    EXPECT_GT(c->Execute("SELECT COUNT(*) AS N FROM PRODUCTPRICE")->Value("N").ToLong(), 0);
    EXPECT_EQ(c->Execute("SELECT COUNT(*) AS N FROM FREIGHTPRICE")->Value("N").ToLong(), 72);
    EXPECT_GT(c->Execute("SELECT COUNT(*) AS N FROM I18NTEXT WHERE LOCALEID = 1031")
                  ->Value("N")
                  .ToLong(),
              0);
    // Oslo lies in zone 2, Bergen in zone 6.
    EXPECT_EQ(c->Execute("SELECT TOP 1 ZONEID FROM COUNTRIESBYZONE WHERE COUNTRY = 'no' AND "
                         "MAXZIPCODE >= '5160' ORDER BY MAXZIPCODE")
                  ->Value("ZONEID")
                  .ToLong(),
              6);
    c->Close();
  }
  platform::data::ReleasePooledSessions();
}

}  // namespace
