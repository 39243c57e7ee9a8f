// The demo's road of an order: anna's basket is created, filled and changed
// through Vendra.Basket, filled in as the pages do, submitted through
// Vendra.Order and shown as the order the shop stored; then the settings of
// customers and back-end instances that decide what happens next, and a
// basket the shop refuses to order. Every object is created by identifier
// and called by name, as a web page does.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/core/dictionary.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"

namespace vendra_cli {

namespace {

using platform::Variant;
using platform::data::Recordset;

// The basket of the first step, handed on to the next.
std::shared_ptr<platform::Dictionary> g_basket;

Variant Call(const std::string& progid, const std::string& method, std::vector<Variant> args) {
  return CallLateBound(progid, method, args);
}

// Calls an operation whose first argument is the document it changes and
// gives the changed document back.
Variant CallOnDocument(const std::string& progid, const std::string& method,
                       std::shared_ptr<platform::Dictionary>& document,
                       std::vector<Variant> more = {}) {
  std::vector<Variant> args{Variant(document)};
  args.insert(args.end(), more.begin(), more.end());
  Variant result = CallLateBound(progid, method, args);
  document = args[0].As<platform::Dictionary>();
  return result;
}

std::shared_ptr<Recordset> SetOf(const std::shared_ptr<platform::Dictionary>& doc, const char* key) {
  return doc->Item(key).As<Recordset>();
}

std::string Text(const Variant& v) { return v.IsNull() ? std::string("(none)") : v.ToString(); }

std::string Money(const Variant& v) {
  if (v.IsNull()) return "(none)";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v.ToDouble());
  return text;
}

std::string ProductName(int32_t sku) {
  platform::ObjectPtr product = platform::CreateObject("Brevane.Product");
  std::vector<Variant> args{Variant(sku)};
  const Variant properties = platform::CallRef(product, "GetProductProperties", args);
  const auto dict = properties.As<platform::Dictionary>();
  if (!dict) return "product " + std::to_string(sku);
  return dict->Item("PARTNUMBER").ToString() + " " + dict->Item("PRODUCTDESCRIPTION").ToString();
}

std::shared_ptr<Recordset> Rows(DemoContext& demo, const std::string& sql) {
  auto connection = std::make_shared<platform::data::Connection>();
  connection->Open("Provider=SQLite;Data Source=" + (demo.home() / "data").string() +
                   ";Initial Catalog=Vendra");
  auto rows = connection->Execute(sql);
  rows->SetActiveConnection(nullptr);
  return rows;
}

int32_t CountOf(DemoContext& demo, const std::string& sql) {
  return Rows(demo, sql)->fields()[0].Value().ToLong();
}

std::string LineNumbers(const std::shared_ptr<Recordset>& lines) {
  std::string text;
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext())
    text += (text.empty() ? "" : ", ") + lines->Value("BASKETLINENR").ToString();
  return text.empty() ? "(none)" : text;
}

Variant RequestDate() { return Variant(platform::Date::FromParts(2026, 12, 20)); }

// What a page fills in before it submits: per line the price, discount and
// amount and where it is delivered; in the header the order discount and
// the back-end instance.
struct LinePrice {
  double price;
  double discount_perc;
  double discount;  // per unit: the percentage's amount, or an amount off
  double amount;
};

void FillAsThePageDoes(const std::shared_ptr<platform::Dictionary>& doc, int32_t kro_id) {
  auto header = SetOf(doc, "header");
  header->SetValue("DISCOUNTPERC", Variant(0.0));
  header->SetValue("KROID", Variant(kro_id));
  header->SetValue("CUSTOMERPONUMBER", Variant("PO-4711"));
  auto lines = SetOf(doc, "lines");
  double subtotal = 0;
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
    const int32_t sku = lines->Value("SKU").ToLong();
    const double quantity = lines->Value("QUANTITY").ToDouble();
    LinePrice p{0, 0, 0, 0};
    if (sku == 1) p = {12.50, 10, 1.25, 0};    // 10 % off the bolts
    if (sku == 12) p = {189.00, 0, 10, 0};     // 10 EUR off each torque wrench
    if (sku == 14) p = {34.50, 0, 0, 0};
    if (sku == 5) p = {412.00, 0, 0, 0};
    p.amount = quantity * (p.price - p.discount);
    subtotal += p.amount;
    lines->SetValue("PRODUCTPRICE", Variant(p.price));
    lines->SetValue("DISCOUNTPERC", Variant(p.discount_perc));
    lines->SetValue("DISCOUNTAMOUNT", Variant(p.discount_perc == 0 ? p.discount : 0.0));
    lines->SetValue("LINEDISCOUNTAMOUNT", Variant(p.discount_perc == 0 ? 0.0 : p.discount));
    lines->SetValue("ORDERDISCOUNTAMOUNT", Variant(0.0));
    lines->SetValue("LINEAMOUNT", Variant(p.amount));
    lines->SetValue("ADDRESSID", Variant(10012));
    const std::string name = ProductName(sku);
    lines->SetValue("PARTNUMBER", Variant(name.substr(0, name.find(' '))));
  }
  header->SetValue("SUBTOTAL", Variant(subtotal));
  header->SetValue("TOTAL", Variant(subtotal));
}

}  // namespace

// ---------------------------------------------------------------- the steps

void StepOrderBasket(DemoContext& demo) {
  demo.Say("A page creates Vendra.Basket and asks it for a new basket of the user anna for "
           "her company, Hallvard Industrial (1001). The header row is stored at once, with "
           "the partner's invoice and delivery address, currency and carrier:");
  g_basket = Call("Vendra.Basket", "Create", {Variant("anna"), Variant(1001)})
                 .As<platform::Dictionary>();
  auto header = SetOf(g_basket, "header");
  demo.Show("BASKETID", Text(header->Value("BASKETID")));
  demo.Show("invoice address", Text(header->Value("BILLINGADDRESSID")));
  demo.Show("delivery address", Text(header->Value("SHIPPINGADDRESSID")));
  demo.Show("currency", Text(header->Value("CURRENCYCODE")));
  demo.Show("carrier", Text(header->Value("CARRIERCODE")));

  demo.Say("AddLine puts a product into the basket, saves it and answers the new line's "
           "number:");
  for (const auto& [sku, quantity] : std::vector<std::pair<int32_t, double>>{{1, 4}, {5, 1}, {12, 2}}) {
    const Variant nr = CallOnDocument("Vendra.Basket", "AddLine", g_basket,
                                      {Variant(sku), Variant(quantity), RequestDate(),
                                       Variant(false), Variant("")});
    demo.Show("line " + nr.ToString(), std::to_string(static_cast<int>(quantity)) + " x " +
                                          ProductName(sku));
  }
  const Variant deleted =
      CallOnDocument("Vendra.Basket", "DeleteLines", g_basket,
                     {Variant(platform::VariantArray{Variant(2), Variant(99)})});
  demo.Say("anna takes the gear pump out again: DeleteLines with the numbers 2 and 99 answers " +
           std::string(deleted.ToBool() ? "true" : "false") +
           " (a number no line has is passed over). Restoring the basket from the database "
           "shows what is stored:");
  const std::string id = SetOf(g_basket, "header")->Value("BASKETID").ToString();
  g_basket = Call("Vendra.Basket", "Restore", {Variant(id)}).As<platform::Dictionary>();
  demo.Show("lines", LineNumbers(SetOf(g_basket, "lines")));
  const Variant nr = CallOnDocument("Vendra.Basket", "AddLine", g_basket,
                                    {Variant(14), Variant(3.0), RequestDate(), Variant(false),
                                     Variant("")});
  demo.Say("Line numbers are never reused, so the screwdriver sets she adds now are line " +
           nr.ToString() + ".");
}

void StepOrderSubmit(DemoContext& demo) {
  if (!g_basket) {
    demo.Say("(There is no basket: the step before failed.)");
    return;
  }
  demo.Say("Before the order is placed the pages fill in prices, discounts and amounts, a "
           "delivery address for every line (the main warehouse in Bergen, 10012), the "
           "purchase order number and the back-end instance that will take the order (2, "
           "\"ERP Stuttgart\"). Then a page creates Vendra.Order and calls SubmitBasket with "
           "the document. In one transaction the addresses are copied, the order header "
           "and lines are stored and the basket is deleted; the basket becomes the order, "
           "so the order keeps the basket's id.");
  FillAsThePageDoes(g_basket, 2);
  const std::string id = SetOf(g_basket, "header")->Value("BASKETID").ToString();
  CallOnDocument("Vendra.Order", "SubmitBasket", g_basket);

  auto h = Rows(demo, "SELECT * FROM ORDERHEADER WHERE ORDERID = '" + id + "'");
  if (h->Eof()) {
    demo.Say("(No order was stored.)");
    return;
  }
  demo.Say("The order header (ORDERHEADER):");
  demo.Show("order", Text(h->Value("ORDERID")));
  demo.Show("status", Text(h->Value("ORDERSTATUS")) + " (to be processed by the back end)");
  demo.Show("ordered on", Text(h->Value("ORDERDATE")));
  demo.Show("customer", Text(h->Value("BUSINESSPARTNERID")) + ", user " + Text(h->Value("USERID")));
  demo.Show("invoice / delivery", Text(h->Value("BILLINGADDRESSID")) + " / " +
                                      Text(h->Value("SHIPPINGADDRESSID")));
  demo.Show("purchase order", Text(h->Value("CUSTOMERPONR")));
  demo.Show("payment method", Text(h->Value("WEBPAYMENTMETHOD")) +
                                  " (the page chose none: invoice)");
  demo.Show("back-end instance", Text(h->Value("KROID")));
  demo.Show("subtotal", Money(h->Value("SUBTOTAL")) + " " + Text(h->Value("CURRENCYCODE")));
  demo.Show("attempts", Text(h->Value("ATTEMPTS")));

  demo.Say("Its lines (ORDERLINE) are numbered 1, 2, 3 in the order of the basket, whatever "
           "the basket's own numbers were:");
  auto l = Rows(demo, "SELECT * FROM ORDERLINE WHERE ORDERID = '" + id + "' ORDER BY LINENR");
  for (; !l->Eof(); l->MoveNext()) {
    const double discount = l->Value("DISCOUNTAMOUNT").ToDouble();
    demo.Show("line " + Text(l->Value("LINENR")),
              Text(l->Value("QUANTITY")) + " x " + ProductName(l->Value("PRODUCTID").ToLong()) +
                  " at " + Money(l->Value("PRICE")) +
                  (discount != 0 ? ", " + Money(l->Value("DISCOUNTAMOUNT")) + " off each" : "") +
                  ": " + Money(l->Value("AMOUNT")) + ", to " + Text(l->Value("ADDRESSID")) +
                  ", status " + Text(l->Value("LINESTATUS")));
  }
  demo.Say("The addresses as they are today (ADDRESSHISTORY), so the order still shows them "
           "when the customer master changes, each with the back end's code for it:");
  auto a = Rows(demo, "SELECT * FROM ADDRESSHISTORY WHERE ORDERID = '" + id + "' ORDER BY rowid");
  for (; !a->Eof(); a->MoveNext()) {
    demo.Show("address " + Text(a->Value("ADDRESSID")),
              Text(a->Value("NAME2")) + ", " + Text(a->Value("STREET1")) + ", " +
                  Text(a->Value("ZIPCODE")) + " " + Text(a->Value("CITY1")) + " (" +
                  Text(a->Value("KROADDRESSCODE")) + ")");
  }
  demo.Show("basket rows left",
            std::to_string(CountOf(demo, "SELECT COUNT(*) FROM BASKETHEADER WHERE BASKETID = '" +
                                             id + "'") +
                           CountOf(demo, "SELECT COUNT(*) FROM BASKETLINE WHERE BASKETID = '" +
                                             id + "'")));
  demo.Say("Instance 2 takes its orders in the periodic run, so the order waits in status 0.");
}

void StepOrderSettings(DemoContext& demo) {
  demo.Say("After the commit SubmitBasket asks Vendra.Manager how the order's back-end "
           "instance takes orders. GetKROOrderProcessParam reads one setting of ORDEREXPORTFILE "
           "and gives the answer back in its second argument; \"2\" means at once:");
  demo.ShowCall("Vendra.Manager", "GetKROOrderProcessParam", {"1", "\"EXPORTMESSAGETYPE\""});
  for (int32_t instance : {2, 3, 99}) {
    std::vector<Variant> args{Variant(instance), Variant("EXPORTMESSAGETYPE")};
    CallLateBound("Vendra.Manager", "GetKROOrderProcessParam", args);
    demo.Show("instance " + std::to_string(instance),
              "\"" + args[1].ToString() + "\"" + (instance == 99 ? " (no such instance)" : ""));
  }
  demo.Say("The setting's name becomes a column name in the statement, so only a plain name "
           "is taken; anything else is refused before the database is asked:");
  demo.ShowCall("Vendra.Manager", "GetKROOrderProcessParam", {"1", "\"EMAIL FROM USERS --\""});
  demo.Say("GetDefaultOrderType names the order type of a customer's order: the customer's "
           "own setting, else the instance's, and for card orders at last the sales "
           "parameter \"Creditcard Ordertype for Backend\":");
  struct Ask {
    const char* customer;
    int32_t instance;
    int32_t kind;
    const char* why;
  };
  for (const Ask& ask : {Ask{"1001", 2, 0, "Hallvard's own"}, Ask{"1001", 2, 1, "Hallvard's own"},
                         Ask{"1003", 3, 1, "Lindqvist has none: instance 3's"},
                         Ask{"1002", 2, 1, "no setting anywhere: the sales parameter"},
                         Ask{"1002", 3, 0, "Corvetto has none: instance 3's"}}) {
    const Variant type = Call("Vendra.Manager", "GetDefaultOrderType",
                              {Variant(ask.customer), Variant(ask.instance), Variant(ask.kind)});
    demo.Show(std::string(ask.customer) + (ask.kind == 1 ? " card order" : " order") +
                  " on " + std::to_string(ask.instance),
              "\"" + type.ToString() + "\" (" + ask.why + ")");
  }
}

void StepOrderRefused(DemoContext& demo) {
  demo.Say("Every line needs a delivery address. Here a page forgets it on a new basket's "
           "only line and submits:");
  auto basket = Call("Vendra.Basket", "Create", {Variant("anna"), Variant(1001)})
                    .As<platform::Dictionary>();
  CallOnDocument("Vendra.Basket", "AddLine", basket,
                 {Variant(3), Variant(10.0), RequestDate(), Variant(false), Variant("")});
  FillAsThePageDoes(basket, 2);
  auto lines = SetOf(basket, "lines");
  lines->MoveFirst();
  lines->SetValue("ADDRESSID", Variant::Null());
  const std::string id = SetOf(basket, "header")->Value("BASKETID").ToString();
  try {
    CallOnDocument("Vendra.Order", "SubmitBasket", basket);
    demo.Say("(The submission went through after all.)");
  } catch (const platform::ComError& e) {
    demo.ShowError(e);
  }
  const std::string key = "'" + id + "'";
  demo.Say("The transaction was rolled back, so nothing of it is left and the basket is as "
           "it was:");
  demo.Show("orders", std::to_string(CountOf(demo, "SELECT COUNT(*) FROM ORDERHEADER WHERE ORDERID = " + key)));
  demo.Show("address copies",
            std::to_string(CountOf(demo, "SELECT COUNT(*) FROM ADDRESSHISTORY WHERE ORDERID = " + key)));
  demo.Show("basket lines",
            std::to_string(CountOf(demo, "SELECT COUNT(*) FROM BASKETLINE WHERE BASKETID = " + key)));
}

}  // namespace vendra_cli
