// A basket's texts are held to their columns when Save writes them, not when
// the order is submitted: too long or holding a NUL is refused by Save with
// table and column named, the stored basket stays as it was and the page's
// changes stay pending; texts exactly at their declared lengths save and
// submit.
#include <gtest/gtest.h>

#include <string>

#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/basket/basket.h"
#include "sales/order/order.h"
#include "tests/support/driver_text.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using platform::data::Recordset;
using vendra::Basket;

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class BasketTextRulesTest : public vendra_test::InstanceTest {
 protected:
  std::shared_ptr<Recordset> Header(const Basket::Document& doc) {
    return Basket::RecordSetOf(doc, "header");
  }
  Basket basket_;
};

TEST_F(BasketTextRulesTest, SaveRefusesTextsItsColumnsCannotHoldAndSubmitsTheRest) {
  Basket::Document doc = basket_.Create("anna", 1001);
  const std::string id = Header(doc)->Value("BASKETID").ToString();
  Header(doc)->SetValue("BASKETNAME", Variant("Spring order"));
  basket_.Save(Variant(doc));

  struct Bad {
    const char* column;
    std::string text;
    const char* fault;
  };
  // Each refused save also tries to store a purchase order number of its own.
  Variant stored_po = Header(basket_.Restore(id))->Value("CUSTOMERPONUMBER");
  int attempt = 0;
  // The fault in each driver's words: SQLite's generated text rules name
  // table and column, PostgreSQL's length-checked domains the type.
  const std::string too_long = vendra_test::ServerText(
      "BASKETHEADER.BASKETNAME takes at most 100 characters; the text has 101",
      "value for domain \"NVARCHAR(100)\" violates check constraint");
  const std::string far_too_long = vendra_test::ServerText(
      "the text has 10000", "value for domain \"NVARCHAR(100)\" violates check constraint");
  const std::string nul = vendra_test::ServerText(
      "BASKETHEADER.BASKETTEXT may not hold a NUL character",
      "invalid byte sequence for encoding \"UTF8\": 0x00");
  for (const Bad& bad : {Bad{"BASKETNAME", std::string(101, 'n'), too_long.c_str()},
                         Bad{"BASKETNAME", std::string(10000, 'n'), far_too_long.c_str()},
                         Bad{"BASKETTEXT", std::string("before\0after", 12), nul.c_str()}}) {
    SCOPED_TRACE(bad.column);
    const Variant po("PO-" + std::to_string(++attempt));
    Basket::Document page = basket_.Restore(id);
    Header(page)->SetValue("CUSTOMERPONUMBER", po);
    Header(page)->SetValue(bad.column, Variant(bad.text));
    const platform::ComError e = vendra_test::Failure([&] { basket_.Save(Variant(page)); });
    EXPECT_NE(e.description().find(" METHOD: Vendra.Basket.Save()"), std::string::npos);
    EXPECT_NE(e.description().find(bad.fault), std::string::npos) << e.description();
    const auto stored = Header(basket_.Restore(id));
    EXPECT_EQ(stored->Value("BASKETNAME"), Variant("Spring order"));
    EXPECT_EQ(stored->Value("CUSTOMERPONUMBER"), stored_po);
    // The page's changes are still pending: mended, the same document saves.
    EXPECT_TRUE(Header(page)->store()->HasPendingChanges());
    Header(page)->SetValue(bad.column, bad.column == std::string("BASKETNAME")
                                           ? Variant("Spring order")
                                           : Variant("mended"));
    basket_.Save(Variant(page));
    stored_po = po;
    EXPECT_EQ(Header(basket_.Restore(id))->Value("CUSTOMERPONUMBER"), po);
  }

  // Exactly at the declared lengths, counted in characters (two bytes each here).
  const std::string name = Repeat("\xC3\xA9", 100);
  const std::string text = Repeat("\xC3\xA9", 4000);
  Basket::Document page = basket_.Restore(id);
  Variant slot(page);
  basket_.AddLine(slot, 1, 2.0, platform::Date::FromParts(2026, 12, 20), false, "");
  page = Basket::DocumentOf(slot);
  auto lines = Basket::RecordSetOf(page, "lines");
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
    for (const char* column : {"DISCOUNTPERC", "DISCOUNTAMOUNT", "ORDERDISCOUNTAMOUNT"})
      lines->SetValue(column, Variant(0.0));
    lines->SetValue("PRODUCTPRICE", Variant(10.0));
    lines->SetValue("LINEAMOUNT", Variant(20.0));
    lines->SetValue("ADDRESSID", Variant(10012));
  }
  Header(page)->SetValue("BASKETNAME", Variant(name));
  Header(page)->SetValue("BASKETTEXT", Variant(text));
  Header(page)->SetValue("KROID", Variant(2));
  Header(page)->SetValue("DISCOUNTPERC", Variant(0.0));
  basket_.Save(Variant(page));
  EXPECT_EQ(Header(basket_.Restore(id))->Value("BASKETNAME"), Variant(name));
  Variant submitted(page);
  vendra::Order().SubmitBasket(submitted);

  auto db = std::make_shared<platform::data::Connection>();
  db->Open("Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
  auto order = db->Execute("SELECT ORDERLISTNAME, HEADERTEXT FROM ORDERHEADER WHERE ORDERID = ?",
                           {Variant(id)});
  ASSERT_FALSE(order->Eof());
  EXPECT_EQ(order->Value("ORDERLISTNAME"), Variant(name));
  EXPECT_EQ(order->Value("HEADERTEXT"), Variant(text));
}

}  // namespace
