// Ferrolink.Order.CreateBackendSalesOrder where the way is not smooth: an
// unknown instance, an unsupported connector type, hostile texts on their
// way to the ERP and back into ORDERHEADER.ERROR; and its steps on their
// own: text blocks, dates per connector type, address codes recorded.
#include <gtest/gtest.h>

#include "backend/order.h"
#include "platform/core/clock.h"
#include "platform/core/date.h"
#include "platform/erp/components.h"
#include "platform/erp/connector_values.h"
#include "sales/order/order.h"
#include "tests/backend/erp_fixture.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using platform::Variant;

class OrderCreateTest : public vendra_test::ErpTest {
 protected:
  // The stored order as the periodic run hands it over.
  std::shared_ptr<platform::Dictionary> Document(const std::string& id) {
    auto document = vendra::Order().Restore(id);
    document->Add("origin", Variant(int16_t{2}));
    return document;
  }
  std::string HandOver(const std::string& id, bool& refused) {
    ferrolink::Order backend;
    return backend.CreateBackendSalesOrder(Document(id), refused);
  }
};

TEST_F(OrderCreateTest, AnUnknownInstanceIsReportedAndChangesNothing) {
  Submit({.id = "K99", .kro_id = 99, .lines = 1});
  vendra_test::ScopedRecordingLog log;
  bool refused = false;
  EXPECT_EQ(HandOver("K99", refused), "");
  EXPECT_TRUE(refused);
  EXPECT_TRUE(HeaderValue("K99", "ERROR").IsMissing());
  bool logged = false;
  for (const auto& e : log.entries()) logged |= e.source.find("Kro Instance not found") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(OrderCreateTest, AnUnsupportedConnectorTypeLeavesTheOrderWaitingWithItsReason) {
  auto erp = platform::erp::OpenErpDatabase();
  erp->Execute("INSERT INTO INSTANCE (KROID, COMPONENTID, CONNECTORTYPE) VALUES (7, 'X-7', 'TW9')");
  Submit({.id = "K7", .kro_id = 7, .lines = 1});
  bool refused = false;
  EXPECT_EQ(HandOver("K7", refused), "");
  EXPECT_TRUE(refused);
  EXPECT_FALSE(HeaderValue("K7", "ERROR").ToString().empty());
  EXPECT_EQ(HeaderValue("K7", "ORDERSTATUS").ToLong(), 0);
  EXPECT_EQ(NumberedLines("K7"), 0);
}

// Texts with quotes, comment marks and line breaks reach the ERP as they
// are and come back into ERROR as they are.
TEST_F(OrderCreateTest, HostileTextsTravelUnchanged) {
  Submit({.id = "HOSTILE", .kro_id = 2, .lines = 1,
          .text = "It's -- fine'); DELETE FROM ORDERLINE; --\r\nsecond line"});
  db_->Execute("UPDATE ORDERHEADER SET CUSTOMERCODE = ? WHERE ORDERID = 'HOSTILE'",
               {Variant("C'; DROP --\r\nX")});  // within its 20 characters
  bool refused = false;
  HandOver("HOSTILE", refused);
  EXPECT_TRUE(refused);
  EXPECT_EQ(HeaderValue("HOSTILE", "ERROR").ToString(),
            "Customer 'C'; DROP --\r\nX' does not exist");
  EXPECT_EQ(Lines("HOSTILE"), 1) << "the lines are still there";

  db_->Execute("UPDATE ORDERHEADER SET CUSTOMERCODE = 'C1001' WHERE ORDERID = 'HOSTILE'");
  const std::string number = HandOver("HOSTILE", refused);
  ASSERT_FALSE(number.empty());
  EXPECT_EQ(ErpOrder(2, number)["Header"]["HeaderText"][0],
            "It's -- fine'); DELETE FROM ORDERLINE; --\r\nsecond line");
  EXPECT_EQ(HeaderValue("HOSTILE", "ERROR").ToString(), "");
}

TEST_F(OrderCreateTest, TextsArePiecesOf100CharactersAndDatesFollowTheConnector) {
  ferrolink::Order order;
  order.SetConnectorTypeForTest("tw4");
  EXPECT_EQ(order.GetTextinKROFormat("", 1), nullptr);
  EXPECT_EQ(order.GetTextinKROFormat("text", 4), nullptr);
  const auto block = std::dynamic_pointer_cast<platform::erp::TextBlock>(
      order.GetTextinKROFormat(std::string(250, 'a'), 1));
  ASSERT_TRUE(block);
  const auto pieces = block->Pieces();
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].size(), 100u);
  EXPECT_EQ(pieces[2].size(), 50u);
  // Characters, not bytes: a piece never ends inside a character.
  const auto umlauts = std::dynamic_pointer_cast<platform::erp::TextBlock>(
      order.GetTextinKROFormat(std::string(101 * 2 / 2, 'x') + "\xC3\xBC", 3));
  ASSERT_EQ(umlauts->Pieces().size(), 2u);
  EXPECT_EQ(umlauts->Pieces()[1], "x\xC3\xBC");

  platform::ScopedFixedClock clock(platform::Date::FromParts(2026, 12, 8, 10, 30));
  EXPECT_EQ(order.getDateinKROFormat(Variant(platform::Date::FromParts(2026, 1, 2))),
            Variant("2026/12/08"));
  EXPECT_EQ(order.getDateinKROFormat(Variant(platform::Date::FromParts(2027, 3, 4))),
            Variant("2027/03/04"));
  EXPECT_TRUE(order.getDateinKROFormat(Variant::Null()).IsEmpty());
  order.SetConnectorTypeForTest("tw5");
  EXPECT_EQ(order.getDateinKROFormat(Variant(platform::Date::FromParts(2027, 3, 4))),
            Variant(platform::Date::FromParts(2027, 3, 4)));
}

TEST_F(OrderCreateTest, AnAddressCodeFromTheErpIsRecordedForTheOrdersAddress) {
  Submit({.id = "ADDR", .kro_id = 2, .lines = 1});
  ferrolink::Order order;
  order.UpdateAddressFromSlsOrder("ADDR", "KT-NEW-01", 0);
  const auto partner = platform::CreateObject("Kelmor.BusinessPartner");
  EXPECT_EQ(platform::Call(partner, "GetKROAddressCodeFromAddressID", {Variant(10012)}),
            Variant("KT-NEW-01"));
  order.UpdateAddressFromSlsOrder("ADDR", "", 1);  // nothing to record
  EXPECT_EQ(platform::Call(partner, "GetKROAddressCodeFromAddressID", {Variant(10011)}),
            Variant("C1001-0010"));
}

}  // namespace
