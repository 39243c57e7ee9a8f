// The road of an order to the simulated ERP: handed over at once (instance
// 1, tw5) or by the periodic run (instance 2, tw4; instance 3, twkt), the
// ERP numbers written back, a refusal recorded and mailed, attempts counted,
// a fault at every statement of the hand-over leaving a whole order or
// none, and two overlapping runs never creating an order twice.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "backend/order.h"
#include "platform/core/clock.h"
#include "platform/data/fault_injection.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "tests/backend/erp_fixture.h"
#include "tests/support/failure.h"

// Baskets are described by the fields that matter to each test.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using platform::Variant;
using vendra_test::BasketSpec;

class HandoverTest : public vendra_test::ErpTest {
 protected:
  std::vector<vendra::HandoverOutcome> Run(int32_t kro) {
    return vendra::Order().HandOverWaitingOrders(kro);
  }
};

TEST_F(HandoverTest, AnOrderOnInstanceOneGetsItsErpNumbersAtOnce) {
  Submit({.id = "ANNA1", .kro_id = 1, .lines = 3});
  const std::string number = HeaderValue("ANNA1", "SALESORDERNR").ToString();
  ASSERT_FALSE(number.empty());
  EXPECT_EQ(HeaderValue("ANNA1", "ORDERSTATUS").ToLong(), 1);
  EXPECT_EQ(HeaderValue("ANNA1", "ERROR").ToString(), "");
  EXPECT_EQ(NumberedLines("ANNA1"), 3);

  const auto erp = ErpOrder(1, number);
  ASSERT_FALSE(erp.is_null());
  const auto& h = erp["Header"];
  EXPECT_EQ(h["Origin"], 9);
  EXPECT_EQ(h["SoldToBusinessPartner"], "C1001");
  EXPECT_EQ(h["SalesOrderType"], "SO");
  EXPECT_EQ(h["OrderCurrency"], "EUR");
  EXPECT_EQ(h["CustomerOrderNumber"], "PO-4711");
  EXPECT_EQ(h["ReferenceA"], "Spring order");
  EXPECT_EQ(h["ReferenceB"], "Anna Berg");
  EXPECT_EQ(h["ShipToAddress"], "C1001-002");
  EXPECT_EQ(h["BillToAddress"], "C1001-001");
  EXPECT_EQ(h["WebOrderReference"], "ANNA1");
  ASSERT_EQ(erp["Lines"].size(), 3u);
  // No alignment on instance 1: nine blanks before the part number.
  EXPECT_EQ(erp["Lines"][0]["Values"]["Item"], "         FA-M8X30");
  EXPECT_EQ(erp["Lines"][0]["Values"]["CustomerOrderPosition"], 1);
  // Line 2 has a percentage only, line 3 an amount (which wins).
  EXPECT_EQ(erp["Lines"][1]["Values"]["LineDiscount"]["Disc_1"], 10.0);
  EXPECT_FALSE(erp["Lines"][2]["Values"].contains("LineDiscount"));
  EXPECT_EQ(erp["Lines"][2]["Values"]["DiscountAmount"]["Ldam_1"], 5.0);
  // The request date lies in the past: today is sent.
  EXPECT_EQ(erp["Lines"][0]["Values"]["PlannedDeliveryDate"],
            platform::Clock::Today().ToIso());

  // Each web line carries the ERP's position of the line made for it.
  auto rs = db_->Execute("SELECT LINENR, SALESORDERNR, SALESORDERLINENR FROM ORDERLINE WHERE "
                         "ORDERID = 'ANNA1' ORDER BY LINENR");
  for (int n = 1; !rs->Eof(); rs->MoveNext(), ++n) {
    EXPECT_EQ(rs->Value("SALESORDERNR").ToString(), number);
    EXPECT_EQ(rs->Value("SALESORDERLINENR").ToLong(), n * 10);
  }
}

TEST_F(HandoverTest, AnOrderOnInstanceTwoWaitsForThePeriodicRun) {
  Submit({.id = "ANNA2", .kro_id = 2, .lines = 2});
  EXPECT_EQ(HeaderValue("ANNA2", "ORDERSTATUS").ToLong(), 0);
  EXPECT_TRUE(HeaderValue("ANNA2", "SALESORDERNR").ToString().empty());

  const auto first = Run(2);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].order_id, "ANNA2");
  EXPECT_EQ(first[0].status, 1);
  EXPECT_FALSE(first[0].sales_order.empty());
  EXPECT_EQ(NumberedLines("ANNA2"), 2);
  const auto erp = ErpOrder(2, first[0].sales_order);
  EXPECT_EQ(erp["Header"]["Origin"], 4);
  EXPECT_EQ(erp["Header"]["CalculateTax"], 2);  // CALCULATETAX 0 on tw4
  EXPECT_EQ(erp["Header"]["Customer"], "C1001");
  EXPECT_EQ(erp["Header"]["DeliveryAddress"], "002");
  EXPECT_EQ(erp["Lines"][0]["Values"]["Item"], "FA-M8X30");  // tw4: no mask
  EXPECT_EQ(erp["Lines"][0]["Values"]["CustomerPurchaseOrderLine"], 1);
  EXPECT_EQ(erp["Lines"][0]["Values"]["PlannedDeliveryDate1"].get<std::string>().size(), 10u);

  EXPECT_TRUE(Run(2).empty()) << "a second run hands over nothing";
  EXPECT_EQ(ErpOrderCount(2), 1);
}

TEST_F(HandoverTest, TwktAlignsItemsWithTheMaskAndCutsTextsIntoPiecesOf100) {
  Submit({.id = "KT1", .kro_id = 3, .lines = 1, .freight = 25, .text = std::string(250, 'x'),
          .config = "CFG7-COMPLETE", .calculate_tax = true});
  const auto out = Run(3);
  ASSERT_EQ(out.size(), 1u);
  const auto erp = ErpOrder(3, out[0].sales_order);
  const auto& text = erp["Header"]["HeaderText"];
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text[0].get<std::string>().size(), 100u);
  EXPECT_EQ(text[2].get<std::string>().size(), 50u);
  EXPECT_EQ(erp["Header"]["CalculateTax"], true);  // twkt: the raw value
  ASSERT_EQ(erp["Lines"].size(), 2u) << "the line and the freight line";
  EXPECT_EQ(erp["Lines"][0]["Values"]["Item"], "KT  HY-UNIT-CFG");
  const auto& variants = erp["Lines"][0]["Values"]["ProductVariants"];
  ASSERT_EQ(variants.size(), 4u);
  EXPECT_EQ(variants[0]["FeatureCode"], "MOTOR");
  EXPECT_EQ(variants[0]["OptionValue"], "7.5 kW 400 V 50 Hz");
  EXPECT_EQ(erp["Lines"][1]["Values"]["Item"], "KT  FREIGHT");
  EXPECT_EQ(erp["Lines"][1]["Values"]["Price"], 25.0);
  EXPECT_EQ(NumberedLines("KT1"), 1);
}

TEST_F(HandoverTest, ARefusalIsRecordedMailedAndRetriedUpToMaxAttempts) {
  Submit({.id = "CORV", .kro_id = 2, .partner = 1002, .lines = 1});
  for (int run = 1; run <= 4; ++run) {
    const auto out = Run(2);
    if (run <= 3) {
      ASSERT_EQ(out.size(), 1u) << "run " << run;
      EXPECT_EQ(out[0].status, 0);
      EXPECT_NE(out[0].error.find("credit hold"), std::string::npos) << out[0].error;
    } else {
      EXPECT_TRUE(out.empty()) << "MAXATTEMPTS 3 reached";
    }
  }
  EXPECT_EQ(HeaderValue("CORV", "ATTEMPTS").ToLong(), 3);
  EXPECT_EQ(ErpOrderCount(2), 0);
  const auto mails = Mails();
  ASSERT_EQ(mails.size(), 3u) << "one notice per refusing run";
  const std::string mail = ReadFile(mails[0]);
  EXPECT_NE(mail.find("To: erp-stuttgart@shop.example\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("Subject: Web orders could not be transferred to the back end\r\n"),
            std::string::npos);
}

// An order the ERP takes is taken over even when an order before it in the
// same run was refused: left waiting it would be sent again and refused as
// a duplicate.
TEST_F(HandoverTest, ARefusalDoesNotKeepTheNextOrderOfTheRunWaiting) {
  Submit({.id = "A-CORV", .kro_id = 2, .partner = 1002, .lines = 1});
  Submit({.id = "B-ANNA", .kro_id = 2, .lines = 2});
  const auto out = Run(2);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(HeaderValue("A-CORV", "ORDERSTATUS").ToLong(), 0);
  EXPECT_EQ(HeaderValue("B-ANNA", "ORDERSTATUS").ToLong(), 1);
  EXPECT_EQ(HeaderValue("B-ANNA", "ERROR").ToString(), "");
  EXPECT_EQ(NumberedLines("B-ANNA"), 2);
  const auto again = Run(2);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].order_id, "A-CORV");
  EXPECT_EQ(ErpOrderCount(2), 1);
}

TEST_F(HandoverTest, ARefusalAtSubmissionIsMailedToTheOrdersOwnInstance) {
  Submit({.id = "CORV1", .kro_id = 1, .partner = 1002, .lines = 1});
  EXPECT_EQ(HeaderValue("CORV1", "ORDERSTATUS").ToLong(), 0);
  EXPECT_NE(HeaderValue("CORV1", "ERROR").ToString().find("C1002"), std::string::npos);
  const auto mails = Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(ReadFile(mails[0]).find("To: erp-orders@shop.example\r\n"), std::string::npos);
}

TEST_F(HandoverTest, AnInstanceWithoutExportRowOrOutOfRangeHandsOverNothing) {
  Submit({.id = "NOROW", .kro_id = 9, .lines = 1});
  EXPECT_TRUE(Run(9).empty());
  EXPECT_EQ(HeaderValue("NOROW", "ATTEMPTS").ToLong(), 0);
  EXPECT_EQ(vendra_test::ErrorOf([&] { Run(300); }), platform::err::kOverflow);
}

// A fault at every statement of a hand-over (reading the order, asking the
// ERP, writing the numbers back) leaves the web order whole: numbered with
// all its lines, or not numbered at all and reported as not taken; the ERP
// never holds it twice, and a later run finishes what is left.
TEST_F(HandoverTest, AFaultAtEveryStatementLeavesAWholeOrderOrNone) {
  const auto document_of = [&](const std::string& id) {
    auto document = vendra::Order().Restore(id);
    document->Add("origin", Variant(int16_t{2}));
    return document;
  };
  const auto hand_over = [&](const std::shared_ptr<platform::Dictionary>& document, bool& refused) {
    ferrolink::Order backend;
    refused = false;
    return backend.CreateBackendSalesOrder(document, refused);
  };
  Submit({.id = "CLEAN", .kro_id = 2, .lines = 3});
  bool refused = false;
  const auto clean = document_of("CLEAN");
  platform::data::FaultInjection::FailNthStatement(0);
  hand_over(clean, refused);
  const int statements = platform::data::FaultInjection::StatementsSeen();
  ASSERT_FALSE(refused);
  ASSERT_GT(statements, 5);

  for (int n = 1; n <= statements; ++n) {
    const std::string id = "F" + std::to_string(n);
    Submit({.id = id, .kro_id = 2, .lines = 3});
    const auto document = document_of(id);
    {
      platform::data::ScopedFault fault(n);
      hand_over(document, refused);
    }
    const bool numbered = !HeaderValue(id, "SALESORDERNR").ToString().empty();
    if (numbered) {
      EXPECT_EQ(NumberedLines(id), 3) << "fault at " << n;
      EXPECT_EQ(HeaderValue(id, "ORDERSTATUS").ToLong(), 1) << "fault at " << n;
    } else {
      EXPECT_EQ(NumberedLines(id), 0) << "fault at " << n;
      EXPECT_TRUE(refused) << "fault at " << n << " reported as success";
      // Handed over again: the ERP has it already or takes it now, never twice.
      hand_over(document_of(id), refused);
    }
  }
  // One ERP order per web order, whatever failed.
  EXPECT_LE(ErpOrderCount(2), statements + 1);
  std::set<std::string> references;
  const auto list = nlohmann::json::parse(platform::erp::SalesOrdersJson(2));
  for (const auto& o : list) EXPECT_TRUE(references.insert(o["WebOrderReference"]).second);
}

TEST_F(HandoverTest, TwoOverlappingRunsNeverCreateAnOrderTwice) {
  constexpr int kOrders = 30;
  for (int i = 0; i < kOrders; ++i) Submit({.id = "P" + std::to_string(i), .kro_id = 2, .lines = 2});
  std::atomic<int> handed{0};
  const auto run = [&] {
    lib_sales::ResetThreadCaches();
    for (int round = 0; round < 3; ++round)
      handed += static_cast<int>(vendra::Order().HandOverWaitingOrders(2).size());
  };
  std::thread a(run), b(run);
  a.join();
  b.join();
  EXPECT_EQ(handed.load(), kOrders);
  EXPECT_EQ(ErpOrderCount(2), kOrders);
  for (int i = 0; i < kOrders; ++i) {
    const std::string id = "P" + std::to_string(i);
    EXPECT_EQ(HeaderValue(id, "ORDERSTATUS").ToLong(), 1) << id;
    EXPECT_EQ(NumberedLines(id), 2) << id;
  }
}

// A run that died after its claim leaves the orders claimed; once the claim
// has expired the next run hands them over, and the ERP refuses a second
// sales order for a web order it already has.
TEST_F(HandoverTest, AnExpiredClaimIsHandedOverAgainAndTheErpRefusesADuplicate) {
  Submit({.id = "LOST", .kro_id = 2, .lines = 1});
  Submit({.id = "HELD", .kro_id = 2, .lines = 1});
  // A claim of a run still at work is left alone.
  db_->Execute("INSERT INTO ORDERCLAIM (ORDERID, CLAIMID, CLAIMED) VALUES ('HELD', 'BUSY', ?)",
               {Variant(platform::Clock::Now())});
  db_->Execute("INSERT INTO ORDERCLAIM (ORDERID, CLAIMID, CLAIMED) VALUES ('LOST', 'DEAD', "
               "'2026-01-01T00:00:00')");
  const auto out = Run(2);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].order_id, "LOST");
  EXPECT_EQ(out[0].status, 1);
  db_->Execute("DELETE FROM ORDERCLAIM WHERE CLAIMID = 'BUSY'");
  db_->Execute("UPDATE ORDERHEADER SET ORDERSTATUS = 6 WHERE ORDERID = 'HELD'");
  EXPECT_EQ(db_->Execute("SELECT COUNT(*) AS N FROM ORDERCLAIM")->Value("N").ToLong(), 0);

  // The write-back was lost: the order waits again, the ERP has it.
  db_->Execute("UPDATE ORDERHEADER SET ORDERSTATUS = 0, SALESORDERNR = NULL WHERE ORDERID = 'LOST'");
  const auto again = Run(2);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].status, 0);
  EXPECT_NE(again[0].error.find("has sales order " + out[0].sales_order + " already"),
            std::string::npos)
      << again[0].error;
  EXPECT_EQ(ErpOrderCount(2), 1);
}

}  // namespace
