// Vendra.FreightCost on the demo shop's freight tables: zone boundaries in
// text order, the freight formula with its rounding of the surcharge, the
// zero paths and the two failures.
#include "sales/admin/freight_cost.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "shared/components.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using vendra::FreightCost;
using vendra::kFreightFailure;

class FreightCostTest : public vendra_test::InstanceTest {
 protected:
  void Execute(const std::string& sql) {
    platform::data::Connection connection;
    connection.Open(lib_sales::Sls_ConnectionString());
    connection.Execute(sql);
  }
  double Cost(Variant product, Variant carrier, Variant zone, Variant number) {
    return freight_.GetFreightCost(product, carrier, zone, number);
  }
  FreightCost freight_;
};

TEST_F(FreightCostTest, ZipCodesFallInTheRangeWithTheSmallestBoundInTextOrder) {
  // Country XX: up to "10000" in zone 7, up to "5000" in zone 8. As text
  // "10000" < "2" < "5000" < "9".
  Execute("INSERT INTO ZONES VALUES (7, 'XX low'), (8, 'XX high')");
  Execute("INSERT INTO COUNTRIESBYZONE VALUES ('XX', 7, '10000'), ('XX', 8, '5000')");
  struct Case {
    const char* country;
    const char* zip;
    int16_t zone;
    const char* description;
  };
  const Case cases[] = {
      {"XX", "10000", 7, "XX low"},  // on the bound
      {"XX", "0999", 7, "XX low"},
      {"XX", "10001", 8, "XX high"},  // just above the first bound
      {"XX", "2", 8, "XX high"},      // numerically below 10000, as text above it
      {"xx", "5000", 8, "XX high"},   // codes compare without case
      {"NO", "0252", 2, "Norway south-east"},
      {"NO", "5160", 6, "Norway west and north"},
      {"NO", "9", 6, "Norway west and north"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.country) + " " + c.zip);
    EXPECT_TRUE(freight_.InitZone(c.country, c.zip));
    EXPECT_EQ(freight_.ZoneId(), c.zone);
    EXPECT_EQ(freight_.ZoneDescription(), c.description);
  }
}

TEST_F(FreightCostTest, AZipAboveEveryBoundHasNoZoneAndIsLogged) {
  Execute("INSERT INTO ZONES VALUES (7, 'XX low')");
  Execute("INSERT INTO COUNTRIESBYZONE VALUES ('XX', 7, '10000')");
  vendra_test::ScopedRecordingLog log;
  ASSERT_TRUE(freight_.InitZone("XX", "10000"));
  EXPECT_FALSE(freight_.InitZone("XX", "9"));
  EXPECT_EQ(freight_.ZoneId(), 0);
  EXPECT_EQ(freight_.ZoneDescription(), "");
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_NE(log.entries()[0].text.find(
                "Zone is not defined for country XX and zip code 9 !"),
            std::string::npos);
  // A quote in the zip code is a character of the zip code, nothing more.
  EXPECT_FALSE(freight_.InitZone("XX", "9' OR '1'='1"));
  EXPECT_FALSE(freight_.InitZone("ZZ", "1"));
}

TEST_F(FreightCostTest, CostIsDeliveryPlusItemsPlusTheRoundedSurcharge) {
  // Group 2 ships from zone 1; DHL into zone 6: delivery 45, per item 4; the
  // power unit (7) carries 25.
  EXPECT_DOUBLE_EQ(Cost(Variant(7), Variant("DHL"), Variant(6), Variant(3.0)), 45 + 4 * 3 + 25);
  EXPECT_EQ(freight_.FreightGroupID(), 2);
  EXPECT_EQ(freight_.ShipFromZoneID(), 1);
  EXPECT_EQ(freight_.AdditionalCost(), 25);
  // The delivery cost is charged once per call.
  EXPECT_DOUBLE_EQ(Cost(Variant(7), Variant("DHL"), Variant(6), Variant(1.0)), 45 + 4 + 25);
  // UPS into zone 2: delivery 42, per item 4.8; the oil's 2.5 counts as 2.
  EXPECT_DOUBLE_EQ(Cost(Variant("16"), Variant("ups"), Variant("2"), Variant(2.0)), 42 + 9.6 + 2);
  Execute("UPDATE FREIGHTPRODUCT SET ADDITIONALCOST = 3.5 WHERE PRODUCTID = 16");
  EXPECT_DOUBLE_EQ(Cost(Variant(16), Variant("UPS"), Variant(2), Variant(2.0)), 42 + 9.6 + 4);
  EXPECT_EQ(freight_.AdditionalCost(), 4);
  EXPECT_EQ(freight_.GetFromZone(Variant(7)), 1);
}

TEST_F(FreightCostTest, ZeroPathsAndFailures) {
  // No items: 0 without asking for a price, even where none exists.
  EXPECT_EQ(Cost(Variant(7), Variant("PICKUP"), Variant(6), Variant(0)), 0);
  // A service is in group 0: it travels free, whatever the carrier.
  EXPECT_EQ(Cost(Variant(19), Variant("PICKUP"), Variant(6), Variant(2.0)), 0);
  EXPECT_FALSE(freight_.InitFreightProduct(Variant(20)));

  vendra_test::ScopedRecordingLog log;
  const platform::ComError no_group = vendra_test::Failure(
      [&] { Cost(Variant(999), Variant("DHL"), Variant(6), Variant(1.0)); });
  EXPECT_EQ(no_group.number(), kFreightFailure);
  EXPECT_EQ(no_group.source(), "Vendra.FreightCost.InitFreightProduct");
  EXPECT_NE(no_group.description().find("No Freight Group defined for :999"), std::string::npos);
  EXPECT_EQ(log.entries().size(), 2u);  // once per method it passes

  for (const char* carrier : {"PICKUP", "DHL' OR '1'='1"}) {
    const platform::ComError no_price = vendra_test::Failure(
        [&] { Cost(Variant(7), Variant(carrier), Variant(6), Variant(1.0)); });
    EXPECT_EQ(no_price.number(), kFreightFailure);
    EXPECT_NE(no_price.description().find("No Freight Cost record defined."), std::string::npos);
  }
  EXPECT_EQ(vendra_test::ErrorOf([&] { freight_.GetFromZone(Variant(999)); }), kFreightFailure);
  EXPECT_EQ(vendra_test::ErrorOf([&] { freight_.GetFromZone(Variant("7 OR 1=1")); }),
            platform::err::kTypeMismatch);
}

TEST_F(FreightCostTest, ZoneDescriptionsAndShipFromZones) {
  EXPECT_EQ(freight_.GetZoneDescription(3), "Germany");
  vendra_test::ScopedRecordingLog log;
  EXPECT_EQ(freight_.GetZoneDescription(42), "");
  EXPECT_EQ(log.entries().size(), 1u);
  // Every demo group ships from zone 1; a second group from zone 1 changes
  // nothing, one from zone 3 does.
  EXPECT_FALSE(freight_.MultipleShipFromZonesByFreightGroupPresent());
  Execute("INSERT INTO FREIGHTGROUP VALUES (8, 'More small parts', 1)");
  EXPECT_FALSE(freight_.MultipleShipFromZonesByFreightGroupPresent());
  Execute("INSERT INTO FREIGHTGROUP VALUES (9, 'From Stuttgart', 3)");
  EXPECT_TRUE(freight_.MultipleShipFromZonesByFreightGroupPresent());
}

}  // namespace
