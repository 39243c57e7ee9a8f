// Vendra.Manager's parameter-table maintenance: a settings row created,
// updated and deleted; values rendered by column type; names and values that
// are refused before any statement runs; deletes refused while rows refer to
// the row; GetRecordSet that only reads.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "sales/admin/manager.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using platform::VariantArray;
using vendra::Manager;

Variant Array(std::initializer_list<Variant> items) { return Variant(VariantArray(items)); }

class ManagerTablesTest : public vendra_test::InstanceTest {
 protected:
  // The whole table as text, to show that a refused call changed nothing.
  std::string Snapshot(const std::string& table) {
    platform::data::Connection connection;
    connection.Open(lib_sales::Sls_ConnectionString());
    auto rs = connection.Execute("SELECT * FROM " + table);
    std::string text;
    for (; !rs->Eof(); rs->MoveNext()) {
      for (int i = 0; i < rs->fields().Count(); ++i) {
        const Variant v = rs->fields()[i].Value();
        text += (v.IsNull() ? "<null>" : v.ToString()) + "|";
      }
      text += "\n";
    }
    return text;
  }
  Variant Setting(int32_t partner, const char* column) {
    auto rs = manager_.GetCustomerSettingData(std::to_string(partner));
    return rs->Eof() ? Variant() : rs->Value(column);
  }
  Manager manager_;
};

TEST_F(ManagerTablesTest, ASettingsRowIsCreatedUpdatedAndDeleted) {
  manager_.Create("CUSTOMERSETTING",
                  Array({"BUSINESSPARTNERID", "ordertype", "EXPIRATIONPERIOD", "NOTIFY"}),
                  Array({"1002", "O'Neil", "21", "1"}));
  EXPECT_EQ(Setting(1002, "ORDERTYPE"), Variant("O'Neil"));
  EXPECT_EQ(Setting(1002, "EXPIRATIONPERIOD"), Variant(21));
  EXPECT_EQ(Setting(1002, "NOTIFY"), Variant(true));

  // An empty value writes Null.
  manager_.Update("CUSTOMERSETTING", Array({"ORDERTYPE", "CCORDERTYPE", "EXPIRATIONPERIOD"}),
                  Array({"", "CC", "14"}), Array({"BUSINESSPARTNERID"}), Array({"1002"}));
  EXPECT_TRUE(Setting(1002, "ORDERTYPE").IsNull());
  EXPECT_EQ(Setting(1002, "CCORDERTYPE"), Variant("CC"));
  EXPECT_EQ(Setting(1002, "EXPIRATIONPERIOD"), Variant(14));

  manager_.Delete("CUSTOMERSETTING", Array({"BUSINESSPARTNERID"}), Array({"1002"}));
  EXPECT_TRUE(manager_.GetCustomerSettingData("1002")->Eof());
  // A key that selects no row is an error, for Update and Delete alike.
  EXPECT_EQ(vendra_test::ErrorOf([&] {
              manager_.Delete("CUSTOMERSETTING", Array({"BUSINESSPARTNERID"}), Array({"1002"}));
            }),
            platform::err::kInvalidProcedureCall);
  EXPECT_EQ(vendra_test::ErrorOf([&] {
              manager_.Update("CUSTOMERSETTING", Array({"ORDERTYPE"}), Array({"X"}),
                              Array({"BUSINESSPARTNERID"}), Array({"1002"}));
            }),
            platform::err::kInvalidProcedureCall);

  std::shared_ptr<platform::data::Connection> none;
  auto types = manager_.GetDataTypes("customersetting", none);
  EXPECT_EQ(types->Item("BUSINESSPARTNERID"), Variant("3"));
  EXPECT_EQ(types->Item("ORDERTYPE"), Variant("202"));
  EXPECT_EQ(types->Item("NOTIFY"), Variant("11"));
}

TEST_F(ManagerTablesTest, ValuesAreRenderedByColumnType) {
  struct Case {
    const char* type;
    Variant value;
    const char* literal;  // nullptr: refused with error
    int32_t error;
  };
  const Case cases[] = {
      {"3", Variant("5"), "5", 0},  // the other number types: the value as given
      {"3", Variant("-2147483648"), "-2147483648", 0},
      {"2", Variant("40000"), nullptr, platform::err::kOverflow},
      {"3", Variant("1.5"), nullptr, platform::err::kTypeMismatch},  // not cut
      {"3", Variant("1; DELETE FROM ZONES"), nullptr, platform::err::kTypeMismatch},
      {"6", Variant("12.3456"), "12.3456", 0},
      {"5", Variant("2"), "2", 0},
      {"5", Variant("2.5"), "2.5", 0},  // a fraction is kept, not cut
      {"131", Variant("abc"), nullptr, platform::err::kTypeMismatch},
      {"11", Variant("1"), "1", 0},
      {"111", Variant("0.1"), "0.1", 0},
      {"202", Variant("O'Brien"), "'O''Brien'", 0},
      {"130", Variant::Null(), "NULL", 0},
      {"135", Variant("2026-12-08"), "'2026-12-08T00:00:00'", 0},
      {"135", Variant("soon"), nullptr, platform::err::kTypeMismatch},
      {"128", Variant("x"), nullptr, platform::err::kInvalidProcedureCall},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + (c.value.IsNull() ? "Null" : c.value.ToString()));
    if (c.literal) {
      EXPECT_EQ(Manager::EncodeFieldValue(c.type, c.value), c.literal);
    } else {
      EXPECT_EQ(vendra_test::ErrorOf([&] { Manager::EncodeFieldValue(c.type, c.value); }), c.error);
    }
  }
}

TEST_F(ManagerTablesTest, BadNamesAndValuesAreRefusedAndChangeNothing) {
  const std::string before = Snapshot("CUSTOMERSETTING");
  const Variant key = Array({"BUSINESSPARTNERID"});
  const Variant id = Array({"1001"});
  struct Case {
    const char* what;
    std::string table;
    Variant fields;
    Variant values;
    int32_t error;
  };
  const Case cases[] = {
      {"unknown table", "NOSUCHTABLE", Array({"A"}), Array({"1"}), 5},
      {"table with SQL", "CUSTOMERSETTING; DELETE FROM ZONES", Array({"ORDERTYPE"}), Array({"X"}), 5},
      {"blank in a column", "CUSTOMERSETTING", Array({"ORDER TYPE"}), Array({"X"}), 5},
      {"quote in a column", "CUSTOMERSETTING", Array({"ORDERTYPE='X' --"}), Array({"X"}), 5},
      {"unknown column", "CUSTOMERSETTING", Array({"ORDERTYPE", "COLOUR"}), Array({"X", "red"}), 5},
      {"column twice", "CUSTOMERSETTING", Array({"ORDERTYPE", "ordertype"}), Array({"X", "Y"}), 5},
      {"lengths differ", "CUSTOMERSETTING", Array({"ORDERTYPE", "CCORDERTYPE"}), Array({"X"}), 5},
      {"empty arrays", "CUSTOMERSETTING", Array({}), Array({}), 5},
      {"no array", "CUSTOMERSETTING", Variant("ORDERTYPE"), Variant("X"), 5},
      {"too long", "CUSTOMERSETTING", Array({"ORDERTYPE"}), Array({"ELEVENCHARS"}), 5},
      {"no number", "CUSTOMERSETTING", Array({"ORDERTYPE", "EXPIRATIONPERIOD"}),
       Array({"X", "30 days"}), platform::err::kTypeMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(vendra_test::ErrorOf([&] { manager_.Update(c.table, c.fields, c.values, key, id); }),
              c.error);
    EXPECT_EQ(vendra_test::ErrorOf([&] { manager_.Create(c.table, c.fields, c.values); }), c.error);
    // The same arrays as the key of an Update or a Delete.
    EXPECT_NE(vendra_test::ErrorOf([&] {
                manager_.Update("CUSTOMERSETTING", Array({"ORDERTYPE"}), Array({"X"}), c.fields,
                                c.values);
              }),
              0);
    EXPECT_NE(vendra_test::ErrorOf([&] { manager_.Delete(c.table, c.fields, c.values); }), 0);
  }
  // A name with a blank or a quote is refused before any statement runs.
  for (const char* name : {"ORDER TYPE", "ORDERTYPE'", "ORDERTYPE=1--"}) {
    SCOPED_TRACE(name);
    platform::data::FaultInjection::Disable();  // counts from here
    EXPECT_EQ(vendra_test::ErrorOf([&] {
                manager_.Update("CUSTOMERSETTING", Array({"ORDERTYPE"}), Array({"X"}),
                                Array({name}), id);
              }),
              platform::err::kInvalidProcedureCall);
    EXPECT_EQ(platform::data::FaultInjection::StatementsSeen(), 0);
  }
  // A Null cannot be inserted; a hostile key selects nothing.
  EXPECT_EQ(vendra_test::ErrorOf([&] {
              manager_.Create("CUSTOMERSETTING", Array({"BUSINESSPARTNERID", "ORDERTYPE"}),
                              Array({"1002", Variant::Null()}));
            }),
            platform::err::kInvalidUseOfNull);
  EXPECT_NE(vendra_test::ErrorOf([&] {
              manager_.Delete("CUSTOMERSETTING", key, Array({"1001 OR 1=1"}));
            }),
            0);
  EXPECT_EQ(Snapshot("CUSTOMERSETTING"), before);
}

TEST_F(ManagerTablesTest, ADeleteIsRefusedWhileRowsReferToTheRow) {
  const std::string zones = Snapshot("ZONES");
  const platform::ComError refused = vendra_test::Failure(
      [&] { manager_.Delete("ZONES", Array({"ZONEID"}), Array({"6"})); });
  EXPECT_EQ(refused.number(), lib_sales::Code(lib_sales::VendraError::ReferentialDelete));
  EXPECT_NE(refused.description().find("Reference Exists for ZONEID=6"), std::string::npos);
  // Asked by another column, the rows it selects are what counts.
  EXPECT_EQ(vendra_test::ErrorOf([&] {
              manager_.Delete("ZONES", Array({"ZONEDESCRIPTION"}), Array({"Germany"}));
            }),
            lib_sales::Code(lib_sales::VendraError::ReferentialDelete));
  {
    // A basket handed to back-end instance 2 holds the instance's settings.
    platform::data::Connection connection;
    connection.Open(lib_sales::Sls_ConnectionString());
    connection.Execute("INSERT INTO BASKETHEADER (BASKETID, KROID) VALUES ('B1', 2)");
  }
  EXPECT_EQ(vendra_test::ErrorOf([&] {
              manager_.Delete("ORDEREXPORTFILE", Array({"KROID"}), Array({"2"}));
            }),
            lib_sales::Code(lib_sales::VendraError::ReferentialDelete));
  EXPECT_EQ(Snapshot("ZONES"), zones);
  manager_.Create("ZONES", Array({"ZONEID", "ZONEDESCRIPTION"}), Array({"9", "Nowhere"}));
  manager_.Delete("ZONES", Array({"ZONEID"}), Array({"9"}));
  EXPECT_EQ(Snapshot("ZONES"), zones);
}

TEST_F(ManagerTablesTest, GetRecordSetOnlyReads) {
  auto rows = manager_.GetRecordSet("SELECT ZONEID FROM ZONES WHERE ZONEID < 3 ORDER BY ZONEID");
  ASSERT_EQ(rows->RecordCount(), 2);
  EXPECT_EQ(rows->ActiveConnection(), nullptr);
  const std::string zones = Snapshot("ZONES");
  for (const char* writing :
       {"DELETE FROM ZONES", "  /* note */ DROP TABLE ZONES", "UPDATE ZONES SET ZONEID = 0",
        "WITH x AS (SELECT 1) DELETE FROM ZONES",
        "WITH x AS (SELECT 1) INSERT INTO ZONES SELECT 77, 'x' FROM x"}) {
    SCOPED_TRACE(writing);
    EXPECT_EQ(vendra_test::ErrorOf([&] { manager_.GetRecordSet(writing); }),
              platform::err::kInvalidProcedureCall);
  }
  EXPECT_EQ(Snapshot("ZONES"), zones);
}

}  // namespace
