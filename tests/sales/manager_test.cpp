// Vendra.Manager: the customer's settings row, one order-process value of a
// back-end instance (and what may be asked for), and the default order type
// with each of its fallbacks.
#include "sales/admin/manager.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "shared/components.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ComError;
using platform::Variant;
using vendra::Manager;

class ManagerTest : public vendra_test::InstanceTest {
 protected:
  std::string Param(int32_t instance, std::string name) {
    Manager().GetKROOrderProcessParam(instance, name);
    return name;
  }
  void Execute(const std::string& sql) {
    platform::data::Connection connection;
    connection.Open(lib_sales::Sls_ConnectionString());
    connection.Execute(sql);
  }
  // The sales parameter the last fallback reads, made distinguishable from
  // the instances' own types.
  void SetCardParameter(const std::string& value) {
    const auto file = config_dir() / "VendraConfiguration.xml";
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string item = "<item key=\"Creditcard Ordertype for Backend\">";
    const auto at = text.find(item);
    ASSERT_NE(at, std::string::npos);
    const auto end = text.find("</item>", at);
    text.replace(at + item.size(), end - at - item.size(), value);
    std::ofstream(file, std::ios::trunc) << text;
  }
};

TEST_F(ManagerTest, CustomerSettingsAreOneRowOrNone) {
  Manager manager;
  auto hallvard = manager.GetCustomerSettingData("1001");
  ASSERT_EQ(hallvard->RecordCount(), 1);
  EXPECT_EQ(hallvard->Value("ORDERTYPE"), Variant("SO"));
  EXPECT_EQ(hallvard->Value("EXPIRATIONPERIOD"), Variant(30));
  EXPECT_EQ(hallvard->ActiveConnection(), nullptr);
  EXPECT_EQ(manager.GetCustomerSettingData("1002")->RecordCount(), 0);
  // The id is a text literal in the statement; a quote in it stays inside.
  EXPECT_EQ(manager.GetCustomerSettingData("1001' OR '1'='1")->RecordCount(), 0);
}

TEST_F(ManagerTest, OrderProcessValuesComeBackAsText) {
  EXPECT_EQ(Param(1, "EXPORTMESSAGETYPE"), "2");
  EXPECT_EQ(Param(2, "EXPORTMESSAGETYPE"), "1");
  EXPECT_EQ(Param(3, "exportmessagetype"), "1");
  EXPECT_EQ(Param(1, "MAXATTEMPTS"), "3");
  EXPECT_EQ(Param(1, "EMAIL"), "erp-orders@shop.example");
  // No row, a Null value and an empty text all read as "".
  EXPECT_EQ(Param(99, "EXPORTMESSAGETYPE"), "");
  EXPECT_EQ(Param(2, "CREDITCARDORDERTYPE"), "");
  Execute("UPDATE ORDEREXPORTFILE SET EMAIL = '' WHERE KROID = 3");
  EXPECT_EQ(Param(3, "EMAIL"), "");
}

TEST_F(ManagerTest, OnlyAPlainColumnNameMayBeAskedFor) {
  vendra_test::ScopedRecordingLog log;
  for (const std::string bad :
       {"EMAIL FROM ORDEREXPORTFILE --", "EMAIL, KROID", "", "1EMAIL", "EMAIL;", "E-MAIL",
        "(SELECT 1)"}) {
    std::string property = bad;
    try {
      Manager().GetKROOrderProcessParam(1, property);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), platform::err::kInvalidProcedureCall) << bad;
      EXPECT_NE(e.description().find(" METHOD: Vendra.Manager.GetKROOrderProcessParam\r\n"),
                std::string::npos);
      EXPECT_NE(e.description().find("is not a column of ORDEREXPORTFILE"), std::string::npos);
    }
    EXPECT_EQ(property, bad) << "a failed call leaves the argument as it was";
  }
  EXPECT_EQ(log.entries().size(), 7u);
  // A well-formed name the table lacks is the database's error.
  std::string unknown = "NOSUCHCOLUMN";
  EXPECT_THROW(Manager().GetKROOrderProcessParam(1, unknown), ComError);
  EXPECT_EQ(unknown, "NOSUCHCOLUMN");
}

TEST_F(ManagerTest, LateBoundAnswerComesBackInTheArgument) {
  platform::ObjectPtr manager = platform::CreateObject("Vendra.Manager");
  std::vector<Variant> args{Variant(1), Variant("SALESORDERTYPE")};
  EXPECT_TRUE(platform::CallRef(manager, "GetKROOrderProcessParam", args).IsEmpty());
  EXPECT_EQ(args[1], Variant("SO"));
  EXPECT_EQ(platform::Call(manager, "GetDefaultOrderType", {Variant("1001"), Variant(1), Variant(1)}),
            Variant("CC"));
}

TEST_F(ManagerTest, DefaultOrderTypeFallsBackStepByStep) {
  SetCardParameter("CCPARAM");
  Manager manager;
  // The customer's own settings first.
  EXPECT_EQ(manager.GetDefaultOrderType("1001", 3, 0), "SO");
  EXPECT_EQ(manager.GetDefaultOrderType("1001", 3, vendra::kCreditCardOrder), "CC");
  // Lindqvist has no card order type: the instance's, then the parameter.
  EXPECT_EQ(manager.GetDefaultOrderType("1003", 3, vendra::kCreditCardOrder), "CCK");
  EXPECT_EQ(manager.GetDefaultOrderType("1003", 2, vendra::kCreditCardOrder), "CCPARAM");
  // Corvetto has no settings at all; any kind but 1 is a sales order.
  EXPECT_EQ(manager.GetDefaultOrderType("1002", 3, 0), "SOK");
  EXPECT_EQ(manager.GetDefaultOrderType("1002", 3, 7), "SOK");
  EXPECT_EQ(manager.GetDefaultOrderType("1002", 99, vendra::kCreditCardOrder), "CCPARAM");
  // A sales order has no further fallback: no instance type is "".
  EXPECT_EQ(manager.GetDefaultOrderType("1002", 99, 0), "");
  Execute("UPDATE ORDEREXPORTFILE SET SALESORDERTYPE = NULL WHERE KROID = 3");
  EXPECT_EQ(manager.GetDefaultOrderType("1002", 3, 0), "");
  // An empty customer setting counts as none.
  Execute("UPDATE CUSTOMERSETTING SET ORDERTYPE = '' WHERE BUSINESSPARTNERID = 1001");
  EXPECT_EQ(manager.GetDefaultOrderType("1001", 1, 0), "SO");
  EXPECT_EQ(manager.GetDefaultOrderType("1001", 2, 0), "SOD");
}

}  // namespace
