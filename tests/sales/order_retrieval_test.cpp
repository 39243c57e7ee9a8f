// Vendra.Order reading stored orders back and setting their status: frozen
// addresses, empty answers for unknown ids, and hostile ids that reach the
// SQL text only encoded.
#include <gtest/gtest.h>

#include <string>

#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using platform::data::Recordset;

class OrderRetrievalTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override {
    db_ = std::make_shared<platform::data::Connection>();
    db_->Open(lib_sales::Sls_ConnectionString());
  }
  void TearDown() override { db_->Close(); }
  void StoreOrder(const std::string& id) {
    db_->Execute(
        "INSERT INTO ORDERHEADER (ORDERID, BUSINESSPARTNERID, SHIPPINGADDRESSID, BILLINGADDRESSID, "
        "ORDERSTATUS, KROID) VALUES (?, 1001, 10012, 10011, 0, 2)",
        {Variant(id)});
    db_->Execute("INSERT INTO ORDERLINE (ORDERID, LINENR, QUANTITY) VALUES (?, 1, 2)", {Variant(id)});
    db_->Execute(
        "INSERT INTO ADDRESSHISTORY (ORDERID, ADDRESSID, NAME1, CITY1, COUNTRYCODE) VALUES (?, 10012, "
        "'Frozen name', 'Bergen', 'NO')",
        {Variant(id)});
  }
  std::shared_ptr<platform::data::Connection> db_;
};

TEST_F(OrderRetrievalTest, RestoreGivesTheOrderOrTwoEmptySets) {
  vendra::Order order;
  EXPECT_FALSE(order.OrdersExist());
  StoreOrder("O1");
  EXPECT_TRUE(order.OrdersExist());
  auto doc = order.Restore("O1");
  EXPECT_EQ(doc->Item("header").As<Recordset>()->RecordCount(), 1);
  EXPECT_EQ(doc->Item("lines").As<Recordset>()->RecordCount(), 1);
  auto none = order.Restore("NONE");
  EXPECT_EQ(none->Item("header").As<Recordset>()->RecordCount(), 0);
  EXPECT_EQ(none->Item("lines").As<Recordset>()->RecordCount(), 0);
  Variant id("O1");
  EXPECT_EQ(order.GetBPStoredInDB(id), 1001);
  Variant unknown("NONE");
  EXPECT_EQ(order.GetBPStoredInDB(unknown), 0);
}

TEST_F(OrderRetrievalTest, GetAddressPrefersTheFrozenCopy) {
  StoreOrder("O2");
  vendra::Order order;
  Variant address(10012), id("O2");
  EXPECT_EQ(order.GetAddress(address, id)->Value("NAME1"), Variant("Frozen name"));
  Variant other("NO-COPY");
  EXPECT_EQ(order.GetAddress(address, other)->Value("NAME1"), Variant("Hallvard Industrial AS"));
}

TEST_F(OrderRetrievalTest, HostileIdsReachTheStatementsOnlyEncoded) {
  const std::string hostile[] = {"X' OR '1'='1", "X'; DELETE FROM ORDERHEADER; --",
                                 std::string(10000, '\''), "X -- comment"};
  vendra::Order order;
  for (const std::string& id : hostile) {
    StoreOrder(id.substr(0, 32));
    const std::string key = id.substr(0, 32);
    EXPECT_EQ(order.Restore(key)->Item("header").As<Recordset>()->RecordCount(), 1) << id;
    EXPECT_EQ(order.Restore(id + "x")->Item("header").As<Recordset>()->RecordCount(), 0);
    order.UpdateOrderStatus(key, 5);
    auto rs = db_->Execute("SELECT ORDERSTATUS FROM ORDERHEADER WHERE ORDERID = ?", {Variant(key)});
    EXPECT_EQ(rs->Value("ORDERSTATUS").ToLong(), 5);
    Variant address(10012), v(key);
    EXPECT_EQ(order.GetAddress(address, v)->Value("NAME1"), Variant("Frozen name"));
    EXPECT_EQ(order.GetBPStoredInDB(v), 1001);
    db_->Execute("DELETE FROM ADDRESSHISTORY WHERE ORDERID = ?", {Variant(key)});
  }
  auto count = db_->Execute("SELECT COUNT(*) AS N, SUM(ORDERSTATUS) AS S FROM ORDERHEADER");
  EXPECT_EQ(count->Value("N").ToLong(), 4) << "nothing deleted";
  EXPECT_EQ(count->Value("S").ToLong(), 20) << "each update touched its own order";
}

// A key never holds a line break: Restore refuses such an id before any
// statement runs; the others encode it as text and find no order.
TEST_F(OrderRetrievalTest, AnIdWithALineBreakIsRefused) {
  vendra::Order order;
  const std::string id = "X\r\nY";
  EXPECT_EQ(vendra_test::ErrorOf([&] { order.Restore(id); }), platform::err::kInvalidProcedureCall);
  EXPECT_EQ(vendra_test::ErrorOf([&] { order.UpdateOrderStatus(id, 1); }),
            lib_sales::Code(lib_sales::VendraError::OrderNotFound));
  Variant address(10012), v(id);
  EXPECT_EQ(order.GetAddress(address, v)->Value("NAME1"), Variant("Hallvard Industrial AS"));
  EXPECT_EQ(order.GetBPStoredInDB(v), 0);
}

TEST_F(OrderRetrievalTest, AStatusForNoOrderIsAnError) {
  const platform::ComError e =
      vendra_test::Failure([&] { vendra::Order().UpdateOrderStatus("NOT-THERE", 1); });
  EXPECT_EQ(e.number(), lib_sales::Code(lib_sales::VendraError::OrderNotFound));
  EXPECT_NE(e.description().find("Order NOT-THERE not found"), std::string::npos);
}

}  // namespace
