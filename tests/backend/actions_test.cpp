// The back-end actions late-bound, as pages call them, against the
// simulated ERP: the selector, the business components and their
// validation, Backend.VersionInfo, PriceTax, Allocate and the order-status
// update of Ferrolink.Order, with the action lifecycle and its failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/erp/components.h"
#include "platform/erp/connector_values.h"
#include "platform/host/registry.h"
#include "tests/backend/erp_fixture.h"
#include "tests/support/failure.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using platform::ObjectPtr;
using platform::Variant;
using vendra_test::ErrorOf;
namespace erp = platform::erp;

class ActionsTest : public vendra_test::ErpTest {};

TEST_F(ActionsTest, TheSelectorGivesEachInstancesSettingsAndType) {
  const ObjectPtr selector = platform::CreateObject("Gantrel.Selector");
  struct Case {
    int32_t kro;
    const char* component;
    const char* type;
    const char* mask;  // nullptr: no alignment
  };
  for (const Case& c : {Case{1, "ROT-SLS-01", "tw5", nullptr}, Case{2, "STU-SLS-02", "tw4", nullptr},
                        Case{3, "LNZ-SLS-03", "twkt", "KT**"}}) {
    const auto settings = platform::Call(selector, "GetInstanceSettings", {Variant(c.kro)})
                              .As<platform::Dictionary>();
    EXPECT_EQ(settings->Item("componentid"), Variant(c.component));
    EXPECT_EQ(settings->Exists("alignment"), c.mask != nullptr);
    if (c.mask) {
      EXPECT_EQ(settings->Item("itemsegmentationmask"), Variant(c.mask));
    }
    const ObjectPtr instance = platform::Call(selector, "GetInstance", {Variant(c.kro)}).ToObject();
    EXPECT_EQ(platform::Call(instance, "ConnectorType"), Variant(c.type));
  }
  const auto none =
      platform::Call(selector, "GetInstanceSettings", {Variant(77)}).As<platform::Dictionary>();
  EXPECT_EQ(none->Count(), 0);
}

TEST_F(ActionsTest, RecordsTakeOnlyTheSetOperationsOfTheirType) {
  const ObjectPtr tw4 = std::make_shared<erp::SalesOrderRecord<erp::ConnectorType::Tw4>>();
  const ObjectPtr tw5 = std::make_shared<erp::SalesOrderRecord<erp::ConnectorType::Tw5>>();
  platform::Call(tw4, "setCustomer", {Variant("C1001")});
  platform::Call(tw5, "setSoldToBusinessPartner", {Variant("C1001")});
  EXPECT_EQ(platform::Call(tw4, "getCustomer"), Variant("C1001"));
  EXPECT_EQ(platform::Call(tw5, "hasSoldToBusinessPartner"), Variant(true));
  EXPECT_EQ(ErrorOf([&] { platform::Call(tw5, "setCustomer", {Variant("C1001")}); }),
            platform::err::kMemberNotFound);
  EXPECT_EQ(ErrorOf([&] { platform::Call(tw4, "setStateProvince", {Variant("x")}); }),
            platform::err::kMemberNotFound);
  EXPECT_EQ(ErrorOf([&] { platform::Call(tw4, "setCustomer"); }), platform::err::kWrongArgumentCount);
}

// The ERP refuses what it cannot take with an error document and stores
// nothing of it.
TEST_F(ActionsTest, TheErpValidatesAWholeOrderAndStoresNothingOfARefusedOne) {
  using T = erp::ConnectorType;
  struct Case {
    const char* customer;
    const char* item;
    Variant quantity;
    int32_t number;
    const char* field;
  };
  const Case cases[] = {
      {"C9999", "         FA-M8X30", Variant(2), erp::erp_err::kUnknownCustomer, "SoldToBusinessPartner"},
      {"C1002", "         FA-M8X30", Variant(2), erp::erp_err::kCreditHold, "SoldToBusinessPartner"},
      {"C1001", "FA-M8X30", Variant(2), erp::erp_err::kUnknownItem, "Item"},  // mask missing
      {"C1001", "         NO-SUCH", Variant(2), erp::erp_err::kUnknownItem, "Item"},
      {"C1001", "         FA-M8X30", Variant(), erp::erp_err::kMissingQuantity, "OrderedQuantity"},
      {"C1001", "         FA-M8X30", Variant(0), erp::erp_err::kMissingQuantity, "OrderedQuantity"},
      {"C1001", "         FA-M8X30", Variant("'; DROP TABLE ITEM; --"), erp::erp_err::kMissingQuantity,
       "OrderedQuantity"},
  };
  const ObjectPtr component = std::make_shared<erp::SalesOrderComponent<T::Tw5>>();
  EXPECT_EQ(ErrorOf([&] { platform::Call(component, "Initialize", {Variant("NOPE")}); }),
            erp::erp_err::kUnknownComponent);
  EXPECT_EQ(ErrorOf([&] { platform::Call(component, "Initialize", {Variant("STU-SLS-02")}); }),
            erp::erp_err::kUnknownComponent)
      << "a tw4 instance's component is no tw5 component";
  platform::Call(component, "Initialize", {Variant("ROT-SLS-01")});
  for (const Case& c : cases) {
    auto orders = std::make_shared<erp::SalesOrdersInput<T::Tw5>>();
    auto lines = std::make_shared<erp::SalesOrderLinesInput<T::Tw5>>();
    auto header = std::make_shared<erp::SalesOrderRecord<T::Tw5>>();
    header->Put("SoldToBusinessPartner", Variant(c.customer));
    orders->Insert(header, 0);
    auto line = std::make_shared<erp::SalesOrderLineRecord<T::Tw5>>();
    line->Put("Item", Variant(c.item));
    if (!c.quantity.IsEmpty()) line->Put("OrderedQuantity", c.quantity);
    lines->Insert(line, 0);
    const ObjectPtr result =
        platform::Call(component, "Create", {Variant(ObjectPtr(orders)), Variant(ObjectPtr(lines))})
            .ToObject();
    const ObjectPtr errors = platform::Call(result, "getVornErrorDoc").ToObject();
    ASSERT_EQ(platform::GetProperty(errors, "Count").ToLong(), 1) << c.customer << c.item;
    const ObjectPtr entry = platform::GetProperty(errors, "Item", {Variant(0)}).ToObject();
    EXPECT_EQ(platform::GetProperty(entry, "ErrorNumber").ToLong(), c.number);
    EXPECT_EQ(platform::GetProperty(entry, "FieldName"), Variant(c.field));
    EXPECT_FALSE(platform::GetProperty(entry, "ErrorText").ToString().empty());
    EXPECT_EQ(platform::Call(result, "hasRecordSetSalesOrderLines"), Variant(false));
  }
  EXPECT_EQ(ErpOrderCount(1), 0);
  platform::Call(component, "Close");
  EXPECT_EQ(ErrorOf([&] { platform::Call(component, "Close"); }), erp::erp_err::kNotInitialized);
}

TEST_F(ActionsTest, VersionInfoAnswersFromItsTableAndLeavesOtherTypesAlone) {
  const ObjectPtr backend = platform::CreateObject("Ferrolink.Backend");
  struct Case {
    const char* type;
    std::vector<const char*> out;
  };
  for (const Case& c : {Case{"tw4", {"Vorn4", "c", "4", "", ""}}, Case{"tw5", {"Vorn5", "c", "0", "", ""}},
                        Case{"twkt", {"ERPKT6", "a", "0", "", ""}}}) {
    std::vector<Variant> args{Variant(c.type), Variant(), Variant(), Variant(), Variant(), Variant()};
    platform::CallRef(backend, "VersionInfo", args);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(args[i + 1], Variant(c.out[i])) << c.type << i;
  }
  vendra_test::ScopedRecordingLog log;
  std::vector<Variant> args{Variant("TW5"), Variant("v"), Variant(1), Variant(), Variant(), Variant()};
  platform::CallRef(backend, "VersionInfo", args);
  EXPECT_EQ(args[1], Variant("v"));
  EXPECT_EQ(args[2], Variant(1));
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_NE(log.entries()[0].text.find("Connection to Vorn Tidewire type TW5 not supported"),
            std::string::npos);
}

TEST_F(ActionsTest, PriceTaxAnswersWithTheErpsPriceDiscountAndTax) {
  const ObjectPtr price_tax = platform::CreateObject("Ferrolink.PriceTax");
  std::vector<Variant> init{Variant("tw5"), Variant("ROT-SLS-01"), Variant()};
  platform::CallRef(price_tax, "InitializeAction", init);
  EXPECT_EQ(init[2], Variant(0));
  const auto ask = [&](int32_t option, const char* part, int32_t quantity) {
    std::vector<Variant> a{Variant(option),  Variant("C1001"), Variant(part),  Variant("EUR"),
                           Variant("2026-12-08"), Variant(quantity), Variant(quantity), Variant("PCS"),
                           Variant("C1001-001"), Variant("C1001-002"), Variant("NO"), Variant(1540.0),
                           Variant(0.0)};
    a.resize(23);
    platform::CallRef(price_tax, "GetPriceAndOrTax", a);
    return a;
  };
  auto price = ask(1, "HY-PMP-200", 4);
  EXPECT_EQ(price[22], Variant(""));
  EXPECT_EQ(price[13].ToDouble(), 385.0);
  EXPECT_EQ(price[14].ToDouble(), 10.0);  // the item discount beats the customer's 5
  EXPECT_EQ(price[15].ToDouble(), 38.5);  // per unit
  EXPECT_EQ(price[16], Variant(0)) << "option 1 leaves the tax outputs";
  auto tax = ask(2, "HY-PMP-200", 4);
  EXPECT_EQ(tax[16].ToDouble(), 323.4);
  EXPECT_EQ(tax[17].ToDouble(), 21.0);
  EXPECT_EQ(tax[18], Variant("01"));
  EXPECT_EQ(tax[20], Variant("Standard rate"));
  EXPECT_EQ(tax[13], Variant(0)) << "option 2 leaves the price outputs";
  auto unknown = ask(1, "NO-SUCH", 1);
  EXPECT_EQ(unknown[22], Variant("PT02"));
  EXPECT_EQ(unknown[13], Variant(0));
  auto other = ask(3, "HY-PMP-200", 1);
  EXPECT_EQ(other[22], Variant(""));
  EXPECT_EQ(ErrorOf([&] { ask(1, "HY-PMP-200", 0); }), 11) << "a zero line quantity";
  platform::Call(price_tax, "CloseAction");
}

TEST_F(ActionsTest, AllocateAndUpdateOrderStatusAdvanceAnErpLine) {
  Submit({.id = "ALLOC", .kro_id = 1, .lines = 2});
  const std::string number = HeaderValue("ALLOC", "SALESORDERNR").ToString();
  ASSERT_FALSE(number.empty());

  const ObjectPtr order = platform::CreateObject("Ferrolink.Order");
  std::vector<Variant> init{Variant("tw5"), Variant("ROT-SLS-01"), Variant(-1)};
  platform::CallRef(order, "InitializeAction", init);
  ASSERT_EQ(init[2], Variant(0));
  const auto status = [&](int32_t line, int32_t step) {
    std::vector<Variant> a{Variant(number), Variant(line), Variant(step), Variant(0), Variant(), Variant()};
    platform::CallRef(order, "UpdateOrderStatus", a);
    return std::pair(a[4].ToLong(), a[5].ToLong());
  };
  EXPECT_EQ(status(10, 1), std::pair(0, erp::erp_reason::kNotAllocated));

  const ObjectPtr allocate = platform::CreateObject("Ferrolink.Allocate");
  std::vector<Variant> ainit{Variant("tw5"), Variant("ROT-SLS-01"), Variant()};
  platform::CallRef(allocate, "InitializeAction", ainit);
  std::vector<Variant> a{Variant(number), Variant(10), Variant()};
  platform::CallRef(allocate, "Allocate", a);
  EXPECT_EQ(a[2], Variant(0));
  platform::CallRef(allocate, "Allocate", a);
  EXPECT_EQ(a[2], Variant(erp::erp_reason::kAllocDone));
  std::vector<Variant> missing{Variant(number), Variant(99), Variant()};
  platform::CallRef(allocate, "Allocate", missing);
  EXPECT_EQ(missing[2], Variant(erp::erp_reason::kAllocUnknownLine));
  platform::Call(allocate, "CloseAction");

  EXPECT_EQ(status(10, 1), std::pair(1, 0));
  EXPECT_EQ(status(10, 3), std::pair(0, erp::erp_reason::kStepOutOfSequence));
  EXPECT_EQ(status(10, 2), std::pair(1, 0));
  const auto erp_order = ErpOrder(1, number);
  EXPECT_EQ(erp_order["Lines"][0]["BillingStep"], 2);
  EXPECT_EQ(erp_order["Lines"][0]["LineStatus"], 3);
  platform::Call(order, "CloseAction");
}

TEST_F(ActionsTest, AFailedInitializeIsReportedAndItsActionsRaise) {
  vendra_test::ScopedRecordingLog log;
  const ObjectPtr allocate = platform::CreateObject("Ferrolink.Allocate");
  for (const char* type : {"TW5", "tw6", ""}) {
    log.clear();
    std::vector<Variant> init{Variant(type), Variant("ROT-SLS-01"), Variant()};
    platform::CallRef(allocate, "InitializeAction", init);
    EXPECT_NE(init[2].ToLong(), 0) << type;
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_NE(log.entries()[0].text.find("not supported"), std::string::npos);
    EXPECT_NE(log.entries()[1].text.find("VTW Type: " + std::string(type) + ", BusComponent: ROT-SLS-01"),
              std::string::npos);
  }
  std::vector<Variant> init{Variant("tw5"), Variant("NO-SUCH"), Variant()};
  platform::CallRef(allocate, "InitializeAction", init);
  EXPECT_EQ(init[2].ToLong(), erp::erp_err::kUnknownComponent);

  std::vector<Variant> a{Variant("1000001"), Variant(10), Variant()};
  const platform::ComError e = vendra_test::Failure([&] { platform::CallRef(allocate, "Allocate", a); });
  EXPECT_NE(e.description().find("SalesOrder:1000001 ,Line: 10"), std::string::npos) << e.description();
  EXPECT_NE(ErrorOf([&] { platform::Call(allocate, "CloseAction"); }), 0);
}

}  // namespace
