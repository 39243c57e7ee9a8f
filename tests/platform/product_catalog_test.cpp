// Brevane.Product against the demo catalogue: SKU 1 to 20, SKU 7
// configurable, SKU 13 disabled, SKU 17 expiring ten days after the instance
// was made.
#include "platform/services/product_catalog.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using platform::VarType;

class ProductCatalogTest : public vendra_test::InstanceTest {
 protected:
  platform::ProductCatalog catalog_;
};

TEST_F(ProductCatalogTest, PropertiesOfAnOrdinaryProduct) {
  auto p = catalog_.GetProductProperties(1);
  EXPECT_EQ(p->Item("SKU").ToLong(), 1);
  EXPECT_EQ(p->Item("PARTNUMBER").ToString(), "FA-M8X30");
  EXPECT_EQ(p->Item("UNITCODE").ToString(), "BOX");
  EXPECT_EQ(p->Item("UNITDESCRIPTION").ToString(), "Box of 100");
  EXPECT_EQ(p->Item("TAXCODE").ToString(), "01");
  EXPECT_DOUBLE_EQ(p->Item("TAXPERCENTAGE").ToDouble(), 21.0);
  EXPECT_EQ(p->Item("DISABLED").type(), VarType::Boolean);
  EXPECT_FALSE(p->Item("DISABLED").ToBool());
  EXPECT_FALSE(p->Item("CONFIGURABLE").ToBool());
  EXPECT_TRUE(p->Item("PRODUCTEXPIRYDATE").IsNull());
  EXPECT_TRUE(p->Exists("PRODUCTDESCRIPTION"));
}

TEST_F(ProductCatalogTest, ConfigurableDisabledAndExpiringProducts) {
  EXPECT_TRUE(catalog_.GetProductProperties(7)->Item("CONFIGURABLE").ToBool());
  EXPECT_TRUE(catalog_.GetProductProperties(13)->Item("DISABLED").ToBool());
  const Variant expiry = catalog_.GetProductProperties(17)->Item("PRODUCTEXPIRYDATE");
  ASSERT_EQ(expiry.type(), VarType::Date);
  EXPECT_EQ(expiry.ToDate(), platform::Clock::Today().AddDays(10));
  // Service items carry no manufacturer and no supplier.
  auto service = catalog_.GetProductProperties(20);
  EXPECT_TRUE(service->Item("SERVICEITEM").ToBool());
  EXPECT_TRUE(service->Item("BUSINESSPARTNERID").IsNull());
}

TEST_F(ProductCatalogTest, EveryDemoSkuIsThereAndTheNextIsNot) {
  for (int32_t sku = 1; sku <= 20; ++sku)
    EXPECT_FALSE(catalog_.GetProductProperties(sku)->Item("PARTNUMBER").ToString().empty()) << sku;
  try {
    catalog_.GetProductProperties(21);
    FAIL() << "SKU 21 is not in the catalogue";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), platform::product_err::kProductNotFound);
    EXPECT_EQ(e.source(), "Brevane.Product");
    EXPECT_NE(e.description().find("21"), std::string::npos);
  }
}

TEST_F(ProductCatalogTest, ImportedProductGetsItsIdFromTheDatabase) {
  // The import writes every column but the id.
  auto db = std::make_shared<platform::data::Connection>();
  db->Open("Provider=SQLite;Data Source=data;Initial Catalog=Brevane");
  db->Execute(
      "INSERT INTO dbo.PRODUCT (PARTNUMBER, MANUFACTURERID, PRODUCTDESCRIPTION, UNITCODE, "
      "CONFIGURABLE, COMMODITYCODE, BUSINESSPARTNERID, DISABLED, COMPANYNR, TAXCODE, "
      "DELIVERYLEADTIME, SERVICEITEM, PRODUCTCATEGORY) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
      {Variant("NEW-1"), Variant("S2001"), Variant("New bolt"), Variant("PCS"), Variant(int32_t{255}),
       Variant::Null(), Variant(int32_t{2001}), Variant(int32_t{0}), Variant("100"), Variant("02"),
       Variant(int32_t{3}), Variant(int32_t{0}), Variant("Fasteners")});
  db->Close();
  auto p = catalog_.GetProductProperties(21);
  EXPECT_EQ(p->Item("PARTNUMBER").ToString(), "NEW-1");
  EXPECT_TRUE(p->Item("CONFIGURABLE").ToBool());  // stored as 1 whatever non-zero came
  EXPECT_DOUBLE_EQ(p->Item("TAXPERCENTAGE").ToDouble(), 9.0);
}

TEST_F(ProductCatalogTest, LateBoundWithTheIdByReference) {
  auto product = platform::CreateObject("Brevane.Product");
  std::vector<Variant> args{Variant(int16_t{7})};
  auto properties = platform::CallRef(product, "GetProductProperties", args).As<platform::Dictionary>();
  ASSERT_TRUE(properties);
  EXPECT_TRUE(properties->Item("CONFIGURABLE").ToBool());
  EXPECT_EQ(args[0].ToLong(), 7);
}

// A name the collection does not hold fails, directly and late bound,
// instead of reading as Empty; Exists still answers without failing.
TEST_F(ProductCatalogTest, PropertyTheCollectionDoesNotHoldIsAFailure) {
  auto direct = catalog_.GetProductProperties(17);
  auto product = platform::CreateObject("Brevane.Product");
  std::vector<Variant> args{Variant(int32_t{17})};
  auto late = platform::CallRef(product, "GetProductProperties", args).ToObject();
  const std::vector<std::pair<const char*, std::function<Variant()>>> reads = {
      {"direct", [&] { return direct->Item("PRODUCTEXPIRYDAT"); }},
      {"as a Dictionary", [&] { return static_cast<platform::Dictionary&>(*direct).Item("unitcode"); }},
      {"late bound", [&] { return platform::GetProperty(late, "Item", {Variant("")}); }},
  };
  for (const auto& [how, read] : reads) {
    try {
      read();
      ADD_FAILURE() << how << ": an absent property read as a value";
    } catch (const platform::ComError& e) {
      EXPECT_EQ(e.number(), platform::product_err::kPropertyNotFound) << how;
      EXPECT_EQ(e.source(), "Brevane.Product") << how;
      EXPECT_NE(e.description().find("product 17"), std::string::npos) << e.description();
    }
  }
  EXPECT_FALSE(direct->Exists("PRODUCTEXPIRYDAT"));
  EXPECT_EQ(platform::GetProperty(late, "Item", {Variant("UNITCODE")}).ToString(), "SET");
}

}  // namespace
