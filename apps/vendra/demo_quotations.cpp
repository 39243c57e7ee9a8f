// The demo's quotation: anna's basket becomes a priced quotation through
// Vendra.Quotation, a changed quantity is re-priced on saving, and the
// quotation is submitted as an order that reaches the ERP at once. Every
// object is created by identifier and called by name, as a page does. The
// steps in between (its document, its reminder) take the same quotation,
// found by DemoQuotationId.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace vendra_cli {

namespace {

using platform::Variant;
using platform::data::Recordset;
using Document = std::shared_ptr<platform::Dictionary>;

std::shared_ptr<Recordset> SetOf(const Document& doc, const char* key) {
  return doc->Item(key).As<Recordset>();
}

std::string Text(const Variant& v) { return v.IsMissing() ? std::string("(none)") : v.ToString(); }

std::string Money(const Variant& v) {
  if (v.IsMissing()) return "(none)";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v.ToDouble());
  return text;
}

std::string Day(const Variant& v) { return v.IsMissing() ? "(none)" : v.ToDate().ToText(); }

void ShowQuotation(DemoContext& demo, const Document& doc) {
  auto h = SetOf(doc, "header");
  demo.Show("QUOTATIONID", Text(h->Value("QUOTATIONID")));
  demo.Show("reference", Text(h->Value("CUSTOMERREFERENCE")));
  demo.Show("created / expires", Day(h->Value("CREATIONDATE")) + " / " + Day(h->Value("EXPIRYDATE")));
  demo.Show("reminder day", Day(h->Value("NOTIFICATIONDATE")));
  auto lines = SetOf(doc, "lines");
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
    demo.Show("line " + Text(lines->Value("LINENUMBER")),
              Text(lines->Value("QUANTITY")) + " x " + Text(lines->Value("PARTNUMBER")) + " at " +
                  Money(lines->Value("PRODUCTPRICE")) + " less " +
                  Money(lines->Value("DISCOUNTAMOUNT")) + " = " + Money(lines->Value("LINEAMOUNT")));
  }
  demo.Show("net / discount / subtotal", Money(h->Value("TOTALNETAMOUNT")) + " / " +
                                             Money(h->Value("DISCOUNTTOTAL")) + " (" +
                                             Text(h->Value("DISCOUNTPERC")) + " %) / " +
                                             Money(h->Value("SUBTOTAL")));
}

Variant Call(const std::string& progid, const std::string& method, std::vector<Variant> args) {
  return CallLateBound(progid, method, args);
}

std::shared_ptr<Recordset> Rows(DemoContext& demo, const std::string& sql, const std::string& id) {
  auto connection = std::make_shared<platform::data::Connection>();
  connection->Open("Provider=SQLite;Data Source=" + (demo.home() / "data").string() +
                   ";Initial Catalog=Vendra");
  auto rows = connection->Execute(sql, {Variant(id)});
  rows->SetActiveConnection(nullptr);
  connection->Close();
  return rows;
}

}  // namespace

// anna's quotation, the one StepQuotation made (its id is her basket's).
std::string DemoQuotationId(DemoContext& demo) {
  auto rows = Rows(demo, "SELECT QUOTATIONID FROM QUOTATIONHEADER WHERE USERID = ? "
                         "ORDER BY CREATIONDATE DESC, QUOTATIONID", "anna");
  if (rows->Eof())
    platform::Raise(platform::err::kUnspecified, "vendra.demo", "anna has no quotation");
  return rows->Value("QUOTATIONID").ToString();
}

void StepQuotation(DemoContext& demo) {
  demo.Say("anna asks for a quotation instead of ordering at once. Her page builds a basket "
           "with Vendra.Basket (lines 1, 2 and 3; line 2 is removed again, so lines 1 and 3 "
           "are left), fills in what a page fills in (locale, back-end instance, ERP customer "
           "code, part numbers) and hands it to Vendra.Quotation.Create. The basket is priced "
           "by Hallvard's method (the shop's price lists), stored as a quotation with lines "
           "renumbered 1, 2, valid 30 days with a reminder 5 days before expiry (Hallvard's "
           "customer settings), and the basket is gone:");
  const platform::Date delivery = platform::Clock::Today().AddDays(12);
  Document basket = Call("Vendra.Basket", "Create", {Variant("anna"), Variant(1001)}).As<platform::Dictionary>();
  struct Item {
    int32_t sku;
    double quantity;
    const char* part;
  };
  for (const Item& item : {Item{1, 20, "FA-M8X30"}, Item{14, 1, "HT-SCR-SET"}, Item{5, 1, "HY-PMP-200"}}) {
    std::vector<Variant> args{Variant(basket), Variant(item.sku), Variant(item.quantity),
                              Variant(delivery), Variant(false), Variant("")};
    CallLateBound("Vendra.Basket", "AddLine", args);
    basket = args[0].As<platform::Dictionary>();
    SetOf(basket, "lines")->MoveLast();
    SetOf(basket, "lines")->SetValue("PARTNUMBER", Variant(item.part));
  }
  {
    std::vector<Variant> args{Variant(basket), Variant(platform::VariantArray{Variant(2)})};
    CallLateBound("Vendra.Basket", "DeleteLines", args);
    basket = args[0].As<platform::Dictionary>();
  }
  auto header = SetOf(basket, "header");
  const std::string id = header->Value("BASKETID").ToString();
  header->SetValue("BASKETNAME", Variant("Bergen pump station"));
  header->SetValue("BASKETTEXT", Variant("Please deliver to gate 3 & call ahead"));
  header->SetValue("USERLOCALE", Variant(1033));
  header->SetValue("KROID", Variant(1));
  header->SetValue("CUSTOMERCODE", Variant("C1001"));
  Call("Vendra.Quotation", "Create", {Variant(basket)});
  Document quotation =
      Call("Vendra.Quotation", "Show", {Variant(id)}).As<platform::Dictionary>();
  ShowQuotation(demo, quotation);
  demo.Show("basket rows left", Rows(demo, "SELECT COUNT(*) FROM BASKETHEADER WHERE BASKETID = ?", id)
                                    ->fields()[0].Value().ToString());
}

void StepQuotationOrder(DemoContext& demo) {
  const std::string id = DemoQuotationId(demo);
  Document quotation =
      Call("Vendra.Quotation", "Show", {Variant(id)}).As<platform::Dictionary>();
  demo.Say("anna wants 12 boxes of bolts instead of 20. The page changes the quantity in the "
           "document and calls Save: the line is re-priced at its unit price and the totals "
           "follow, with Hallvard's 5 % order discount:");
  auto lines = SetOf(quotation, "lines");
  lines->MoveFirst();
  lines->SetValue("QUANTITY", Variant(12));
  {
    std::vector<Variant> args{Variant(quotation)};
    CallLateBound("Vendra.Quotation", "Save", args);
  }
  quotation = Call("Vendra.Quotation", "Show", {Variant(id)}).As<platform::Dictionary>();
  ShowQuotation(demo, quotation);

  demo.Say("She accepts it. The order page shows the quotation, says where each line is "
           "delivered, marks the document as a quotation (\"origin\" 1) and submits it with "
           "Vendra.Order.SubmitBasket. The order gets an id of its own, instance 1 hands it "
           "to the ERP at once, and the quotation is kept, marked as copied to an order:");
  quotation->Add("origin", Variant(1));
  lines = SetOf(quotation, "lines");
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) lines->SetValue("ADDRESSID", Variant(10012));
  {
    std::vector<Variant> args{Variant(quotation)};
    CallLateBound("Vendra.Order", "SubmitBasket", args);
  }
  auto order = Rows(demo, "SELECT ORDERID, ORDERSTATUS, SALESORDERNR, SUBTOTAL FROM ORDERHEADER "
                          "WHERE QUOTATIONID = ?", id);
  if (!order->Eof()) {
    demo.Show("order", Text(order->Value("ORDERID")));
    demo.Show("status / ERP sales order",
              Text(order->Value("ORDERSTATUS")) + " / " + Text(order->Value("SALESORDERNR")));
    demo.Show("order subtotal", Money(order->Value("SUBTOTAL")));
  }
  demo.Show("COPIEDTOORDER", Text(Rows(demo, "SELECT COPIEDTOORDER FROM QUOTATIONHEADER WHERE "
                                             "QUOTATIONID = ?", id)
                                        ->fields()[0]
                                        .Value()));
}

}  // namespace vendra_cli
