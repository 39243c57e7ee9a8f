// Vendra.Basket on the demo instance: Hallvard (1001, user anna) has invoice
// address 10011, delivery address 10012, EUR and DHL; SKU 7 is configurable
// with the configurations CFG7-COMPLETE and CFG7-INCOMPLETE.
#include "sales/basket/basket.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "apps/vendra/json.h"
#include "platform/host/registry.h"
#include "platform/services/business_partner.h"
#include "platform/services/configurator.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ComError;
using platform::Variant;
using platform::data::Recordset;
using vendra::Basket;
namespace ado = platform::data;

constexpr char kSales[] = "Provider=SQLite;Data Source=data;Initial Catalog=Vendra";
const platform::Date kDay = platform::Date::FromParts(2026, 12, 20);

ComError FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "expected a failure";
  return {};
}

std::shared_ptr<Recordset> SetOf(const Basket::Document& doc, const char* key) {
  return Basket::RecordSetOf(doc, key);
}

std::string BasketId(const Basket::Document& doc) {
  return SetOf(doc, "header")->Value("BASKETID").ToString();
}

// The line numbers of the document, in record-set order.
std::vector<int32_t> LineNumbers(const Basket::Document& doc) {
  std::vector<int32_t> numbers;
  auto walk = SetOf(doc, "lines")->Clone();
  for (; !walk->Eof(); walk->MoveNext()) numbers.push_back(walk->Value("BASKETLINENR").ToLong());
  return numbers;
}

std::vector<std::string> Methods(const vendra_test::ScopedRecordingLog& log, int32_t level = 0) {
  std::vector<std::string> methods;
  for (const auto& e : log.entries()) {
    if (e.level != level) continue;
    const auto at = e.text.find(" METHOD: ");
    methods.push_back(e.text.substr(at + 9, e.text.find("\r\n", at) - at - 9));
  }
  return methods;
}

class BasketTest : public vendra_test::InstanceTest {
 protected:
  Basket::Document NewBasket() { return basket_.Create("anna", 1001); }

  // Adds lines for the SKUs given (quantity 2, plain products).
  void Add(Basket::Document& doc, std::initializer_list<int32_t> skus) {
    for (int32_t sku : skus) AddLine(doc, sku);
  }
  int32_t AddLine(Basket::Document& doc, int32_t sku, bool configurable = false,
                  const std::string& config = "") {
    Variant slot(doc);
    const int32_t nr = basket_.AddLine(slot, sku, 2.0, kDay, configurable, config);
    doc = Basket::DocumentOf(slot);
    return nr;
  }
  bool DeleteLines(Basket::Document& doc, platform::VariantArray numbers) {
    Variant slot(doc);
    return basket_.DeleteLines(slot, Variant(std::move(numbers)));
  }

  Variant One(const std::string& sql) {
    auto db = std::make_shared<ado::Connection>();
    db->Open(kSales);
    auto rs = db->Execute(sql);
    Variant v = rs->Eof() ? Variant() : rs->fields()[0].Value();
    db->Close();
    return v;
  }
  int32_t Count(const std::string& sql) { return One("SELECT COUNT(*) FROM " + sql).ToLong(); }

  Basket basket_;
};

// --- Create, Restore, Delete, GetBPStoredInDB -------------------------------------------

TEST_F(BasketTest, CreateStoresTheHeaderWithThePartnersDataAndRestoreReadsItBack) {
  const Basket::Document created = NewBasket();
  ASSERT_EQ(created->Count(), 2);
  EXPECT_EQ(created->Keys(), (platform::VariantArray{Variant("header"), Variant("lines")}));
  const std::string id = BasketId(created);
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  const auto header = SetOf(created, "header");
  EXPECT_EQ(header->CursorType(), ado::adOpenKeyset);
  EXPECT_EQ(header->LockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(header->ActiveConnection(), nullptr);
  EXPECT_EQ(SetOf(created, "lines")->RecordCount(), 0);

  const Basket::Document restored = basket_.Restore(id);
  ASSERT_NE(restored, nullptr);
  const auto stored = SetOf(restored, "header");
  EXPECT_EQ(stored->CursorType(), ado::adOpenStatic);
  EXPECT_EQ(stored->LockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(stored->ActiveConnection(), nullptr);
  EXPECT_EQ(stored->Value("USERID").ToString(), "anna");
  EXPECT_EQ(stored->Value("BUSINESSPARTNERID").ToLong(), 1001);
  EXPECT_EQ(stored->Value("BILLINGADDRESSID").ToLong(), 10011);
  EXPECT_EQ(stored->Value("SHIPPINGADDRESSID").ToLong(), 10012);
  EXPECT_EQ(stored->Value("CURRENCYCODE").ToString(), "EUR");
  EXPECT_EQ(stored->Value("CARRIERCODE").ToString(), "DHL");
  EXPECT_FALSE(stored->Value("BASKETDATE").IsNull());
  EXPECT_TRUE(stored->Value("BASKETNAME").IsNull());
  EXPECT_EQ(SetOf(restored, "lines")->RecordCount(), 0);
}

TEST_F(BasketTest, AMissingBasketIsNoDocumentAndNoFailure) {
  vendra_test::ScopedRecordingLog log;
  EXPECT_EQ(basket_.Restore("0123456789ABCDEF0123456789ABCDEF"), nullptr);
  EXPECT_EQ(basket_.Restore("it's not there"), nullptr);  // quoted, not broken
  EXPECT_TRUE(log.entries().empty());
}

TEST_F(BasketTest, CreateForAnUnknownPartnerStoresNothing) {
  vendra_test::ScopedRecordingLog log;
  const ComError e = FailureOf([&] { basket_.Create("anna", 4711); });
  EXPECT_EQ(e.number(), platform::partner_err::kPartnerNotFound);
  EXPECT_EQ(Methods(log), (std::vector<std::string>{"Vendra.Basket.CreateBasket",
                                                    "Vendra.Basket.Create()"}));
  EXPECT_EQ(Count("BASKETHEADER"), 0);
}

TEST_F(BasketTest, DeleteRemovesHeaderAndLinesAndIgnoresUnknownIds) {
  Basket::Document doc = NewBasket();
  Add(doc, {1, 2});
  Basket::Document other = NewBasket();
  Add(other, {3});
  basket_.Delete("no such basket");
  EXPECT_EQ(Count("BASKETHEADER"), 2);
  EXPECT_EQ(Count("BASKETLINE"), 3);
  basket_.Delete(BasketId(doc));
  EXPECT_EQ(basket_.Restore(BasketId(doc)), nullptr);
  EXPECT_EQ(Count("BASKETLINE"), 1);
  EXPECT_NE(basket_.Restore(BasketId(other)), nullptr);
}

TEST_F(BasketTest, GetBPStoredInDBAnswersZeroForAnythingButAStoredBasket) {
  const Basket::Document doc = NewBasket();
  vendra_test::ScopedRecordingLog log;
  Variant id(BasketId(doc));
  EXPECT_EQ(basket_.GetBPStoredInDB(id), 1001);
  for (Variant other : {Variant("unknown"), Variant::Null(), Variant("x'; DROP TABLE BASKETHEADER;--")})
    EXPECT_EQ(basket_.GetBPStoredInDB(other), 0);
  EXPECT_TRUE(log.entries().empty());
  EXPECT_EQ(Count("BASKETHEADER"), 1);
}

// --- Lines ----------------------------------------------------------------------------

TEST_F(BasketTest, AddLineNumbersFromTheLastLineAndSavesAtOnce) {
  Basket::Document doc = NewBasket();
  EXPECT_EQ(AddLine(doc, 7, true, "  CFG7-COMPLETE "), 1);
  EXPECT_EQ(AddLine(doc, 1), 2);
  EXPECT_EQ(AddLine(doc, 3), 3);
  const auto lines = SetOf(basket_.Restore(BasketId(doc)), "lines");
  ASSERT_EQ(lines->RecordCount(), 3);
  EXPECT_EQ(lines->Value("SKU").ToLong(), 7);
  EXPECT_EQ(lines->Value("QUANTITY"), Variant(2.0));
  EXPECT_EQ(lines->Value("REQUESTDATE"), Variant(kDay));
  EXPECT_EQ(lines->Value("PRODUCTCONFIGURABLE"), Variant(true));
  EXPECT_EQ(lines->Value("PRODUCTCONFIGID"), Variant("CFG7-COMPLETE"));
  // The in-memory document holds nothing unsaved.
  EXPECT_FALSE(SetOf(doc, "lines")->store()->HasPendingChanges());
}

TEST_F(BasketTest, DeletedNumbersAreReusedOnlyAtTheEnd) {
  Basket::Document last = NewBasket();
  Add(last, {1, 2, 3});
  EXPECT_TRUE(DeleteLines(last, {Variant(int32_t{3})}));
  EXPECT_EQ(AddLine(last, 4), 3);

  Basket::Document middle = NewBasket();
  Add(middle, {1, 2, 3});
  EXPECT_TRUE(DeleteLines(middle, {Variant(int32_t{2}), Variant(int32_t{99})}));
  EXPECT_EQ(LineNumbers(middle), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(LineNumbers(basket_.Restore(BasketId(middle))), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(AddLine(middle, 4), 4);
  // Numbers given as text or double name the same lines; no number is a
  // clear failure that deletes nothing.
  EXPECT_TRUE(DeleteLines(middle, {Variant("4"), Variant(1.0)}));
  EXPECT_EQ(LineNumbers(basket_.Restore(BasketId(middle))), (std::vector<int32_t>{3}));
  EXPECT_EQ(FailureOf([&] { DeleteLines(middle, {Variant("3 OR 1=1")}); }).number(),
            platform::err::kTypeMismatch);
  EXPECT_EQ(LineNumbers(basket_.Restore(BasketId(middle))), (std::vector<int32_t>{3}));
}

TEST_F(BasketTest, ALineNumberPastTheLargestOverflowsAndIsReportedTwice) {
  Basket::Document doc = NewBasket();
  AddLine(doc, 1);
  auto lines = SetOf(doc, "lines");
  lines->MoveFirst();
  lines->SetValue("BASKETLINENR", Variant(int32_t{INT32_MAX}));
  basket_.Save(Variant(doc));

  vendra_test::ScopedRecordingLog log;
  const ComError e = FailureOf([&] { AddLine(doc, 2); });
  EXPECT_EQ(e.number(), platform::err::kOverflow);
  EXPECT_EQ(Methods(log), (std::vector<std::string>{"Vendra.Basket.AddLineToBasket",
                                                    "Vendra.Basket.AddLine()"}));
  EXPECT_EQ(SetOf(doc, "lines")->RecordCount(), 1);
  EXPECT_EQ(Count("BASKETLINE"), 1);
}

// --- Save -----------------------------------------------------------------------------

TEST_F(BasketTest, OneSaveWritesNewChangedAndDeletedLinesAndTheHeader) {
  Basket::Document doc = NewBasket();
  Add(doc, {1, 2, 3});
  doc = basket_.Restore(BasketId(doc));
  auto header = SetOf(doc, "header");
  header->SetValue("BASKETTEXT", Variant("Deliver before noon"));
  auto lines = SetOf(doc, "lines");
  lines->MoveFirst();
  lines->SetValue("QUANTITY", Variant(5.5));
  lines->MoveNext();
  lines->Delete();
  lines->AddNew({{"BASKETID", Variant(BasketId(doc))},
                 {"BASKETLINENR", Variant(int32_t{10})},
                 {"SKU", Variant(int32_t{9})},
                 {"ADDRESSID", Variant(int32_t{10012})}});
  lines->Update();
  basket_.Save(Variant(doc));

  const Basket::Document stored = basket_.Restore(BasketId(doc));
  EXPECT_EQ(SetOf(stored, "header")->Value("BASKETTEXT"), Variant("Deliver before noon"));
  EXPECT_EQ(LineNumbers(stored), (std::vector<int32_t>{1, 3, 10}));
  EXPECT_EQ(SetOf(stored, "lines")->Value("QUANTITY"), Variant(5.5));
  EXPECT_FALSE(SetOf(doc, "lines")->store()->HasPendingChanges());
}

TEST_F(BasketTest, AFailingLinesBatchStoresNothingAndKeepsTheChangesPending) {
  Basket::Document doc = NewBasket();
  auto header = SetOf(doc, "header");
  header->SetValue("BASKETTEXT", Variant("changed"));
  auto lines = SetOf(doc, "lines");
  for (int32_t nr : {1, 2}) {
    lines->AddNew({{"BASKETID", Variant(BasketId(doc))}, {"BASKETLINENR", Variant(nr)},
                   {"SKU", Variant(int32_t{5})}});
    lines->Update();
  }
  vendra_test::ScopedRecordingLog log;
  ComError e;
  {
    // The header takes one statement; the first line's insert fails.
    ado::ScopedFault fault(2);
    e = FailureOf([&] { basket_.Save(Variant(doc)); });
  }
  EXPECT_NE(e.description().find("DESC: Error(s) from connection object:  (1)"), std::string::npos)
      << e.description();
  EXPECT_EQ(Methods(log), (std::vector<std::string>{"Vendra.Basket.SaveBasket",
                                                    "Vendra.Basket.Save()"}));
  EXPECT_TRUE(One("SELECT BASKETTEXT FROM BASKETHEADER").IsNull());
  EXPECT_EQ(Count("BASKETLINE"), 0);
  // Nothing was lost in memory: the next Save writes all of it.
  EXPECT_TRUE(header->store()->HasPendingChanges());
  basket_.Save(Variant(doc));
  EXPECT_EQ(One("SELECT BASKETTEXT FROM BASKETHEADER"), Variant("changed"));
  EXPECT_EQ(Count("BASKETLINE"), 2);
}

TEST_F(BasketTest, SaveRefusesWhatIsNoBasketDocument) {
  const auto no_lines = platform::Dictionary::New();
  no_lines->Add("header", SetOf(NewBasket(), "header"));
  for (const Variant& bad : {Variant("B0001"), Variant(platform::ObjectPtr()), Variant(no_lines)}) {
    const ComError e = FailureOf([&] { basket_.Save(bad); });
    EXPECT_EQ(e.number(), platform::err::kObjectRequired);
  }
}

TEST_F(BasketTest, ADocumentTakenThroughJsonAndEditedByHandIsAccepted) {
  Basket::Document doc = NewBasket();
  Add(doc, {1});
  platform::Json json = platform::ToJson(Variant(doc));
  auto& rows = json["lines"]["$recordset"]["rows"];
  rows[0]["status"] = "modified";  // changed by hand, without originals
  rows[0]["values"][3] = 7.5;
  Variant edited = platform::ParseJson(platform::DumpJson(json));
  const platform::ObjectPtr basket = platform::CreateObject("Vendra.Basket");
  std::vector<Variant> args{edited, Variant(int32_t{2}), Variant(1.0), Variant(kDay), Variant(false),
                            Variant("")};
  EXPECT_EQ(platform::CallRef(basket, "AddLine", args), Variant(int32_t{2}));
  const Basket::Document stored = basket_.Restore(BasketId(doc));
  EXPECT_EQ(LineNumbers(stored), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(SetOf(stored, "lines")->Value("QUANTITY"), Variant(7.5));
}

// --- Copy -----------------------------------------------------------------------------

class BasketCopyTest : public BasketTest {
 protected:
  // Lines 1 (SKU 7, configured), 3 (SKU 1) after deleting line 2; named
  // addresses and a header text.
  Basket::Document Source() {
    Basket::Document doc = NewBasket();
    AddLine(doc, 7, true, "CFG7-COMPLETE");
    Add(doc, {2, 1});
    DeleteLines(doc, {Variant(int32_t{2})});
    auto header = SetOf(doc, "header");
    header->SetValue("SHIPPINGADDRESSID", Variant(int32_t{10013}));
    header->SetValue("BASKETTEXT", Variant("for the harbour site"));
    auto lines = SetOf(doc, "lines");
    lines->MoveLast();
    lines->SetValue("LINETEXT", Variant("blue ones"));
    basket_.Save(Variant(doc));
    doc = basket_.Restore(BasketId(doc));
    doc->SetItem("_language", Variant("de"));
    doc->SetItem("_countrycode", Variant("DE"));
    return doc;
  }
  int32_t Configurations() {
    auto db = std::make_shared<ado::Connection>();
    db->Open("Provider=SQLite;Data Source=data;Initial Catalog=Syntaro");
    const int32_t n = db->Execute("SELECT COUNT(*) FROM CONFIGURATION")->fields()[0].Value().ToLong();
    db->Close();
    return n;
  }
};

TEST_F(BasketCopyTest, CopyKeepsLineNumbersAndGivesConfiguredLinesFreshConfigurations) {
  const Basket::Document source = Source();
  const std::string before = platform::ToJsonText(Variant(basket_.Restore(BasketId(source))));
  const Basket::Document copy = basket_.Copy(Variant(source), "Harbour again");

  ASSERT_NE(BasketId(copy), BasketId(source));
  const Basket::Document stored = basket_.Restore(BasketId(copy));
  const auto header = SetOf(stored, "header");
  EXPECT_EQ(header->Value("BASKETNAME"), Variant("Harbour again"));
  EXPECT_EQ(header->Value("SHIPPINGADDRESSID").ToLong(), 10013);
  EXPECT_EQ(header->Value("BILLINGADDRESSID").ToLong(), 10011);
  EXPECT_EQ(header->Value("BASKETTEXT"), Variant("for the harbour site"));
  EXPECT_EQ(LineNumbers(stored), (std::vector<int32_t>{1, 3}));
  auto lines = SetOf(stored, "lines");
  const std::string config = lines->Value("PRODUCTCONFIGID").ToString();
  EXPECT_EQ(config.size(), 32u);
  EXPECT_EQ(lines->Value("PRODUCTCONFIGURABLE"), Variant(true));
  platform::ConfigurationService service;
  EXPECT_TRUE(service.IsConfigurationComplete(config));
  lines->MoveNext();
  EXPECT_EQ(lines->Value("LINETEXT"), Variant("blue ones"));
  EXPECT_TRUE(lines->Value("PRODUCTCONFIGID").IsNull());

  // The source is as it was, in the database and in memory.
  EXPECT_EQ(platform::ToJsonText(Variant(basket_.Restore(BasketId(source)))), before);
  EXPECT_EQ(SetOf(source, "lines")->AbsolutePosition(), 1);
  EXPECT_FALSE(SetOf(source, "lines")->store()->HasPendingChanges());
}

TEST_F(BasketCopyTest, StepsBeforeTheConfiguratorAreSkippedWhenTheyFail) {
  // A source header the pages cut down to a few columns: the missing ones
  // are skipped, the copy still comes.
  const Basket::Document source = Source();
  auto db = std::make_shared<ado::Connection>();
  db->Open(kSales);
  auto slim = std::make_shared<Recordset>();
  slim->Open("SELECT BASKETID, USERID, BUSINESSPARTNERID FROM BASKETHEADER", db, ado::adOpenStatic,
             ado::adLockBatchOptimistic);
  slim->SetActiveConnection(nullptr);
  db->Close();
  source->SetItem("header", Variant(slim));

  vendra_test::ScopedRecordingLog log;
  const Basket::Document copy = basket_.Copy(Variant(source), "slim");
  const auto header = SetOf(basket_.Restore(BasketId(copy)), "header");
  EXPECT_EQ(header->Value("SHIPPINGADDRESSID").ToLong(), 10012);  // the partner's, from Create
  EXPECT_TRUE(header->Value("BASKETTEXT").IsNull());
  EXPECT_EQ(LineNumbers(copy), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(Methods(log, 2), std::vector<std::string>(3, "Vendra.Basket.Copy()"));
  EXPECT_TRUE(Methods(log, 0).empty());
}

TEST_F(BasketCopyTest, WithoutAConfiguratorOnlyBasketsWithoutConfiguredLinesCopy) {
  Basket::Document source = Source();
  platform::ScopedRegistration broken("Syntaro.Configurator", []() -> platform::ObjectPtr {
    platform::Raise(platform::err::kCannotCreateObject, "Syntaro.Configurator", "not installed");
  });
  const int32_t baskets = Count("BASKETHEADER");
  vendra_test::ScopedRecordingLog log;
  const ComError e = FailureOf([&] { basket_.Copy(Variant(source), "no configurator"); });
  EXPECT_EQ(e.number(), platform::err::kObjectVariableNotSet);
  EXPECT_EQ(Methods(log).back(), "Vendra.Basket.Copy()");
  // The basket Create stored for the copy is gone again.
  EXPECT_EQ(Count("BASKETHEADER"), baskets);

  DeleteLines(source, {Variant(int32_t{1})});
  const Basket::Document copy = basket_.Copy(Variant(source), "plain");
  EXPECT_EQ(LineNumbers(basket_.Restore(BasketId(copy))), (std::vector<int32_t>{3}));
}

TEST_F(BasketCopyTest, AFailureAfterTheConfiguratorEndsTheCopyAndLeavesNothing) {
  const Basket::Document source = Source();
  auto lines = SetOf(source, "lines");
  lines->MoveFirst();
  lines->SetValue("PRODUCTCONFIGID", Variant("NO-SUCH-CONFIG"));
  const int32_t baskets = Count("BASKETHEADER");
  const int32_t configurations = Configurations();
  const ComError e = FailureOf([&] { basket_.Copy(Variant(source), "broken"); });
  EXPECT_EQ(e.number(), platform::configurator_err::kConfigurationNotFound);
  EXPECT_EQ(Count("BASKETHEADER"), baskets);
  EXPECT_EQ(Configurations(), configurations);
}

}  // namespace
