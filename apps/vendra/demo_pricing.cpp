// The demo's price lists and order documents: web prices of Vendra.Pricing
// for two customers in their currencies on today's date, a price row refused
// by the checks, and anna's and bernd's baskets rendered as the XML document
// the order pages transform, with captions from the message manager in
// English and German. Every object is created by identifier and called by
// name, as a web page does.

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/core/object.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"

namespace vendra_cli {

namespace {

using platform::Variant;
using platform::data::Recordset;

std::string Amount(double value, int decimals = 2) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

double Cents(double value) { return std::round(value * 100) / 100; }

std::string DateText(const Variant& v) {
  return v.IsNull() ? std::string("(open)") : v.ToDate().ToIso().substr(0, 10);
}

// The web price of a product, shown as the properties the page reads.
void ShowWebPrice(DemoContext& demo, const platform::ObjectPtr& pricing, int32_t sku,
                  int32_t partner, const char* currency) {
  const Variant today(platform::Clock::Today());
  const bool found = platform::Call(pricing, "GetWebPrice",
                                    {Variant(sku), Variant(partner), today, Variant(currency)})
                         .ToBool();
  const std::string what = "SKU " + std::to_string(sku) + " for " + std::to_string(partner);
  if (!found) {
    demo.Show(what, "no price");
    return;
  }
  const Variant from = platform::GetProperty(pricing, "BusinessPartnerID");
  demo.Show(what, Amount(platform::GetProperty(pricing, "Price").ToDouble(), 4) + " " +
                      platform::GetProperty(pricing, "CurrencyCode").ToString() + ", " +
                      (from.IsNull() ? "product list" : "customer list") + ", valid " +
                      DateText(platform::GetProperty(pricing, "EffectiveDate")) + " to " +
                      DateText(platform::GetProperty(pricing, "ExpiryDate")) + ", discount " +
                      platform::GetProperty(pricing, "DiscountPercent").ToString() + " % / " +
                      Amount(platform::GetProperty(pricing, "DiscountAmount").ToDouble(), 4));
}

struct DemoLine {
  int32_t sku;
  double quantity;
};

// Creates the user's basket with the lines and fills it in as a page does
// before it shows the order copy: web prices, line amounts, taxes by the
// product's tax code, freight and its tax, the totals, payment method and locale.
std::shared_ptr<platform::Dictionary> PricedBasket(const char* user, int32_t partner,
                                                   const char* currency, int32_t locale,
                                                   int16_t payment_method,
                                                   const std::vector<DemoLine>& wanted) {
  std::vector<Variant> args{Variant(user), Variant(partner)};
  auto doc = CallLateBound("Vendra.Basket", "Create", args).As<platform::Dictionary>();
  for (const DemoLine& line : wanted) {
    std::vector<Variant> add{Variant(doc), Variant(line.sku), Variant(line.quantity),
                             Variant(platform::Clock::Today().AddDays(14)), Variant(false),
                             Variant("")};
    CallLateBound("Vendra.Basket", "AddLine", add);
    doc = add[0].As<platform::Dictionary>();
  }
  platform::ObjectPtr pricing = platform::CreateObject("Vendra.Pricing");
  platform::ObjectPtr catalogue = platform::CreateObject("Brevane.Product");
  auto lines = doc->Item("lines").As<Recordset>();
  double net = 0;
  double tax = 0;
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
    const int32_t sku = lines->Value("SKU").ToLong();
    const double quantity = lines->Value("QUANTITY").ToDouble();
    platform::Call(pricing, "GetWebPrice",
                   {Variant(sku), Variant(partner), Variant(platform::Clock::Today()),
                    Variant(currency)});
    const double price = platform::GetProperty(pricing, "Price").ToDouble();
    const double percent = platform::GetProperty(pricing, "DiscountPercent").ToDouble();
    const double off = platform::GetProperty(pricing, "DiscountAmount").ToDouble();
    const double discount = Cents(quantity * (percent != 0 ? price * percent / 100 : off));
    const double amount = Cents(quantity * price) - discount;
    std::vector<Variant> sku_arg{Variant(sku)};
    const auto product =
        platform::CallRef(catalogue, "GetProductProperties", sku_arg).As<platform::Dictionary>();
    const double rate = product->Item("TAXPERCENTAGE").ToDouble();
    const double line_tax = Cents(amount * rate / 100);
    lines->SetValue("PARTNUMBER", product->Item("PARTNUMBER"));
    lines->SetValue("PARTDESCRIPTION", product->Item("PRODUCTDESCRIPTION"));
    lines->SetValue("PRODUCTUNITCODE", product->Item("UNITCODE"));
    lines->SetValue("PRODUCTPRICE", Variant(price));
    lines->SetValue("DISCOUNTPERC", Variant(percent));
    lines->SetValue("LINEDISCOUNTAMOUNT", Variant(discount));
    lines->SetValue("ORDERDISCOUNTAMOUNT", Variant(0.0));
    lines->SetValue("LINEAMOUNT", Variant(amount));
    lines->SetValue("TAXCODE", product->Item("TAXCODE"));
    lines->SetValue("TAXPERCENTAGE", Variant(rate));
    lines->SetValue("TAXCODEDESCRIPTION", product->Item("TAXCODEDESCRIPTION"));
    lines->SetValue("TAXAMOUNT", Variant(line_tax));
    net += amount;
    tax += line_tax;
  }
  const double freight = 25;
  const double freight_tax = Cents(freight * 0.21);
  auto header = doc->Item("header").As<Recordset>();
  header->SetValue("BASKETNAME", Variant("Workshop restock"));
  header->SetValue("CUSTOMERPONUMBER", Variant("PO-2026-118"));
  header->SetValue("PAYMENTMETHOD", Variant(payment_method));
  header->SetValue("USERLOCALE", Variant(locale));
  header->SetValue("DISCOUNTPERC", Variant(0.0));
  header->SetValue("TOTALNETAMOUNT", Variant(net));
  header->SetValue("DISCOUNTTOTAL", Variant(0.0));
  header->SetValue("SUBTOTAL", Variant(net));
  header->SetValue("FREIGHTTOTAL", Variant(freight));
  header->SetValue("FREIGHTTAXTOTAL", Variant(freight_tax));
  header->SetValue("FREIGHTTAXCODE", Variant("01"));
  header->SetValue("FREIGHTTAXPERC", Variant(21.0));
  header->SetValue("TAXTOTAL", Variant(tax));
  header->SetValue("TOTAL", Variant(net + tax + freight + freight_tax));
  return doc;
}

std::string ConvertToXML(const std::shared_ptr<platform::Dictionary>& doc, const char* locale) {
  // The page passes its application's message manager.
  platform::ObjectPtr messages = platform::CreateObject("I18NMessageManager");
  std::vector<Variant> args{Variant(doc), Variant(messages), Variant(locale)};
  return CallLateBound("Vendra.Basket", "ConvertToXML", args).ToString();
}

std::string Indented(const std::string& xml) {
  pugi::xml_document parsed;
  if (!parsed.load_string(xml.c_str())) return "THE DOCUMENT DOES NOT PARSE:\n" + xml;
  std::ostringstream out;
  parsed.save(out, "  ", pugi::format_indent | pugi::format_no_declaration);
  return out.str();
}

}  // namespace

void StepPricingWebPrice(DemoContext& demo) {
  demo.Say("Vendra.Pricing keeps the shop's two price lists: PRODUCTPRICE, a product's price "
           "in a currency from an effective date on, and CUSTOMERPRICE, the same agreed with "
           "one customer. GetWebPrice(product, partner, day, currency) asks the sales "
           "database's procedure GetPrice for the row that applies (a customer price before "
           "the list price) and converts it through Kelmor.Currency when it is in another "
           "currency. The page reads the answer from the object's properties. Today, for "
           "Hallvard Industrial (1001, EUR) and Corvetto Machinery (1002, USD):");
  platform::ObjectPtr pricing = platform::CreateObject("Vendra.Pricing");
  for (int32_t sku : {1, 9, 16, 5}) {
    ShowWebPrice(demo, pricing, sku, 1001, "EUR");
    ShowWebPrice(demo, pricing, sku, 1002, "USD");
  }
  platform::ObjectPtr currency = platform::CreateObject("Kelmor.Currency");
  std::vector<Variant> rate_args{Variant("EUR"), Variant("USD"), Variant(1.0),
                                 Variant(platform::Clock::Today())};
  demo.Show("1 EUR today", platform::CallRef(currency, "ConvertAmount", rate_args).ToString() +
                               " USD (the demo has daily rates for the last 30 days)");
  demo.Say("Hallvard's agreed prices (bolts 11.25, hose 8.90, oil 4.50 with 0.25 off) win over "
           "the list; Corvetto gets the euro list price at today's rate. The hose's list row "
           "ends at the start of next month, when a new one at 10.25 begins; the gear pump "
           "(5) shows the row that replaced an expired one.");

  demo.Say("A page that adds a price row sets the properties and calls AddPricing. The checks "
           "come in a fixed order with their own error numbers; a row that would be valid on "
           "the same day as a stored one of its group is refused with 328 and the query that "
           "found it:");
  platform::ObjectPtr row = platform::CreateObject("Vendra.Pricing");
  platform::SetProperty(row, "ProductID", Variant(9));
  platform::SetProperty(row, "EffectiveDate", Variant(platform::Clock::Today()));
  platform::SetProperty(row, "ExpiryDate", Variant::Null());
  platform::SetProperty(row, "Price", Variant(9.5));
  platform::SetProperty(row, "DiscountPercent", Variant(0.0));
  platform::SetProperty(row, "DiscountAmount", Variant(0.0));
  try {
    platform::Call(row, "AddPricing", {Variant(false)});
  } catch (const platform::ComError& e) {
    demo.Say("Without a currency (303):");
    demo.ShowError(e);
  }
  platform::SetProperty(row, "CurrencyCode", Variant("EUR"));
  try {
    platform::Call(row, "AddPricing", {Variant(false)});
  } catch (const platform::ComError& e) {
    demo.Say("In euros, overlapping the hose's current and next rows (328):");
    demo.ShowError(e);
  }
}

void StepPricingOrderDocument(DemoContext& demo) {
  demo.Say("The order copy page shows a basket through Basket.ConvertToXML(basket, message "
           "manager, locale): one element per header and line column, amounts and dates in "
           "the user's locale, captions from the page's message manager, and the tax "
           "breakdown per tax code. anna's basket holds a gear pump (tax code 01, 21 %) and "
           "hydraulic oil (02, 9 %), priced by GetWebPrice, with 25.00 freight taxed at 21 %, "
           "paid by card (payment method 2), in locale 1033. The document is one line of "
           "text; here it is indented:");
  const auto anna = PricedBasket("anna", 1001, "EUR", 1033, 2, {{5, 2}, {16, 10}});
  demo.Verbatim(Indented(ConvertToXML(anna, "1033")));

  demo.Say("bernd (Lindqvist Werkzeuge, 1003) pays by invoice (payment method 1); the shop "
           "shows taxes on invoice orders (ShowTaxOnInvoiceOrders is 1). His basket in locale "
           "1031 carries the German captions and number formats:");
  const auto bernd = PricedBasket("bernd", 1003, "EUR", 1031, 1, {{11, 3}, {15, 4}, {19, 6}});
  const std::string xml = ConvertToXML(bernd, "1031");
  pugi::xml_document parsed;
  parsed.load_string(xml.c_str());
  const pugi::xml_node header = parsed.child("Order").child("OrderHeader");
  demo.Show("WebOrderTitle", parsed.child("Order").child_value("WebOrderTitle"));
  for (const char* name : {"ORDERDATE", "CUSTOMERREFERENCE", "CARRIERCODE", "SUBTOTAL",
                           "FREIGHTTOTAL", "FREIGHTTAXTOTAL", "TOTAL"}) {
    const pugi::xml_node element = header.child(name);
    demo.Show(std::string(name) + " '" + element.attribute("label").value() + "'",
              element.child_value());
  }
  for (const pugi::xml_node tax : header.child("TAXSPECIFIC").children("TAX")) {
    const std::string percent = tax.child_value("TAXPERCENTAGE");
    demo.Show(std::string("tax ") + tax.child_value("TAXCODEDESCRIPTION"),
              std::string(tax.child_value("TAXAMOUNT")) +
                  (percent.empty() ? " (no percentage)" : " at " + percent + " %"));
  }
  demo.Say("The service (SV-INSTALL, tax code 03, 0 %) has no percentage in the breakdown: a "
           "code shows its percentage only when it is not 0 and its summed tax fits it.");
}

}  // namespace vendra_cli
