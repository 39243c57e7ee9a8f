// Vendra.Quotation: pricing a basket or quotation document in memory. A
// configurable line takes the price of its stored configuration
// (Syntaro.Configurator); any other line is priced by the partner's method:
// the shop's price lists (Vendra.Pricing.GetWebPrice) or the back end
// (Ferrolink.PriceTax over the instance's connector). The header totals
// follow from the line amounts and the partner's discount. Nothing here
// writes to the database.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/currency.h"
#include "platform/core/object.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/pricing/pricing.h"
#include "sales/quotation/quotation.h"
#include "sales/quotation/quotation_internal.h"
#include "shared/components.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"

namespace vendra {

using platform::Date;
using platform::Variant;
using platform::data::Recordset;
using lib_sales::VendraError;
using namespace quotation_detail;

namespace {

constexpr char kGetPriceInfo[] = "Quotation.GetPriceInfo";
constexpr char kQuantityChanged[] = "Vendra.Quotation.QuantityChanged()";
constexpr char kGetPropertyValue[] = "Quotation.GetPropertyValue";
constexpr char kConfigurable[] = "Quotation.CalcualteConfigurablePricing";
constexpr char kWebPricing[] = "Quotation.CalculateWebPricing";
constexpr char kKroPricing[] = "Quotation.CalculateKroPricing";

// The price date of a line: its request date, today without one. A request
// date already past is priced as of today, the day the line is stored with:
// an offer made today never takes a price list that has run out.
Date PriceDateOf(Recordset& lines) {
  const Variant request = lines.Value("REQUESTDATE");
  const Date today = platform::Clock::Today();
  if (request.IsNull() || TextOf(request).empty()) return today;
  return std::max(request.ToDate(), today);
}

// LINEAMOUNT of a configured line: its quantity at its price. A line whose
// configuration gave no price and that had none before cannot be offered.
void PriceConfiguredLine(Recordset& lines, int32_t line, int32_t quantity) {
  const Variant price = lines.Value("PRODUCTPRICE");
  if (price.IsMissing())
    platform::Raise(platform::err::kInvalidUseOfNull, "Vendra.Quotation",
                    "Invalid use of Null: line " + std::to_string(line) +
                        " has no price (its product configuration '" +
                        TextOf(lines.Value("PRODUCTCONFIGID")) + "' gave none)");
  lines.SetValue("DISCOUNTAMOUNT", Variant(0.0));
  lines.SetValue("DISCOUNTPERC", Variant(0.0));
  lines.SetValue("LINEAMOUNT", Variant(quantity * price.ToDouble()));
}

bool Configurable(Recordset& lines) {
  const Variant flag = lines.Value("PRODUCTCONFIGURABLE");
  return !flag.IsMissing() && flag.ToBool();
}

}  // namespace

// --- GetPropertyValue ---------------------------------------------------------------

std::string Quotation::GetPropertyValue(const std::string& name, const std::string& partner_id) {
  return lib_sales::Guarded(kGetPropertyValue, [&]() -> std::string {
    std::string id(platform::text::TrimBlanks(partner_id));
    if (!id.empty()) id = std::to_string(Variant(id).ToLong());
    // Within one creation the partner's values are read once.
    const std::string key = name + "\n" + id;
    if (reads_) {
      if (const std::string* known = reads_->PartnerValue(key)) return *known;
    }
    std::string value = ReadPropertyValue(name, id);
    if (reads_) reads_->KeepPartnerValue(key, value);
    return value;
  });
}

// The value itself, from the currency or business-partner component.
std::string Quotation::ReadPropertyValue(const std::string& name, const std::string& id) {
  if (name == "HomeCurrency") {
    const Variant home = platform::Call(lib_sales::Sls_GetComponent("Kelmor.Currency"), "GetHomeCurrency");
    if (!home.IsObject() || !home.ToObject())
      lib_sales::RaiseVendraError(VendraError::HomeCurrencyNotFound, kGetPropertyValue,
                                  "The shop has no home currency");
    return lib_sales::ItemOf(home.ToObject(), "CURRENCYCODE").ToString();
  }
  const char* operation = name == "Discount"        ? "GetPartnerDiscount"
                          : name == "PricingMethod" ? "GetPartnerPricingMethod"
                          : name == "Currency"      ? "GetPartnerCurrency"
                                                    : nullptr;
  if (!operation)
    platform::Raise(platform::err::kInvalidProcedureCall, kGetPropertyValue,
                    "'" + name + "' is no property of a business partner");
  lib_sales::ReleasedComponent partner(lib_sales::Sls_GetComponent("Kelmor.BusinessPartner"));
  const Variant value = platform::Call(partner.get(), operation, {Variant(id)});
  if (name == "Currency") return std::string(platform::text::TrimBlanks(TextOf(value)));
  return value.ToString();
}

// --- GetPriceInfo -------------------------------------------------------------------

void Quotation::GetPriceInfo(const Document& document) {
  lib_sales::Guarded(kGetPriceInfo, [&] {
    Recordset& header = *HeaderOf(document);
    Recordset& lines = *LinesOf(document);
    const std::string partner =
        std::to_string(header.Value("BUSINESSPARTNERID").ToLong());
    // A basket the page did not fill in for pricing is priced the partner's
    // way, in the partner's currency, as the quotation header will say.
    if (TextOf(header.Value("PRICINGMETHOD")).empty())
      header.SetValue("PRICINGMETHOD", Variant(Variant(GetPropertyValue("PricingMethod", partner)).ToInteger()));
    if (Trimmed(header.Value("CURRENCYCODE")).empty())
      header.SetValue("CURRENCYCODE", Variant(GetPropertyValue("Currency", partner)));
    if (Trimmed(header.Value("HOMECURRENCYCODE")).empty())
      header.SetValue("HOMECURRENCYCODE", Variant(GetPropertyValue("HomeCurrency", partner)));
    const std::string currency = TextOf(header.Value("CURRENCYCODE"));
    const std::string home = TextOf(header.Value("HOMECURRENCYCODE"));
    const bool web = header.Value("PRICINGMETHOD").ToLong() == static_cast<int32_t>(PricingMethod::WebPricing);

    double total = 0;
    if (lines.RecordCount() > 0) {
      Pricing pricing;  // one for all lines: it keeps its currency component
      OrderQuantities order_quantities;
      if (!web) order_quantities = OrderQuantitiesOf(lines);
      int32_t line = 0;
      for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) {
        const int32_t quantity = QuantityOf(lines, ++line);
        if (Configurable(lines)) {
          CalcualteConfigurablePricing(lines, currency, home);
          PriceConfiguredLine(lines, line, quantity);
        } else {
          double price = 0, discount_amount = 0, discount_perc = 0, line_amount = 0;
          if (web) {
            CalculateWebPricing(pricing, partner, currency, lines.Value("SKU").ToLong(), quantity,
                                PriceDateOf(lines), price, discount_amount, discount_perc,
                                line_amount);
          } else {
            CalculateKroPricing(document, order_quantities, price, discount_perc, discount_amount,
                                line_amount);
          }
          lines.SetValue("PRODUCTPRICE", Variant(price));
          lines.SetValue("DISCOUNTAMOUNT", Variant(discount_amount));
          lines.SetValue("DISCOUNTPERC", Variant(discount_perc));
          lines.SetValue("LINEAMOUNT", Variant(line_amount));
        }
        total += lines.Value("LINEAMOUNT").ToDouble();
      }
      lines.MoveFirst();
    }
    const double discount = Variant(GetPropertyValue("Discount", partner)).ToDouble();
    header.SetValue("TOTALNETAMOUNT", Variant(total));
    header.SetValue("DISCOUNTPERC", Variant(discount));
    header.SetValue("DISCOUNTTOTAL", Variant(discount * total / 100));
    header.SetValue("SUBTOTAL", Variant(total - discount * total / 100));
  });
}

// --- the three methods --------------------------------------------------------------

void Quotation::CalculateWebPricing(Pricing& pricing, const std::string& partner_id,
                                    const std::string& currency_code, int32_t product_id,
                                    int32_t quantity, Date price_date, double& price,
                                    double& discount_amount, double& discount_perc,
                                    double& line_amount) {
  lib_sales::Guarded(
      kWebPricing,
      [&] {
        price = discount_amount = discount_perc = line_amount = 0;
        // No price list row for the partner and day is no failure: the line
        // is priced 0.
        if (!pricing.GetWebPrice(product_id, Variant(partner_id).ToLong(), price_date, currency_code))
          return;
        const auto number = [](const Variant& v) { return v.IsMissing() ? 0.0 : v.ToDouble(); };
        price = number(pricing.Price());
        discount_amount = number(pricing.DiscountAmount());
        discount_perc = number(pricing.DiscountPercent());
        if (discount_perc != 0) discount_amount = price * discount_perc / 100;
        line_amount = (price - discount_amount) * quantity;
      },
      [] { return lib_sales::Info(Variant("")); });
}

void Quotation::CalcualteConfigurablePricing(Recordset& lines, const std::string& currency_code,
                                             const std::string& home_currency_code) {
  lib_sales::Guarded(kConfigurable, [&] {
    lib_sales::ReleasedComponent service(
        platform::Call(lib_sales::Sls_GetComponent("Syntaro.Configurator"), "GetConfigurationService")
            .ToObject());
    // A configurable line without a configuration has none to be priced by
    // (a blank id is none either).
    const std::string id = Trimmed(lines.Value("PRODUCTCONFIGID"));
    if (id.empty()) {
      lines.SetValue("PRODUCTCONFIGCOMPLETE", Variant(false));
      return;
    }
    const bool complete = platform::Call(service.get(), "IsConfigurationComplete", {Variant(id)}).ToBool();
    lines.SetValue("PRODUCTCONFIGCOMPLETE", Variant(complete));
    std::string price_currency;
    if (complete &&
        platform::Call(service.get(), "GetConfigurationPricingCode", {Variant(id)}).ToLong() != 1) {
      lines.SetValue("PRODUCTPRICE", platform::Call(service.get(), "GetConfigurationPrice", {Variant(id)}));
      price_currency = platform::Call(service.get(), "GetConfigurationCurrency", {Variant(id)}).ToString();
    }
    const Variant price = lines.Value("PRODUCTPRICE");
    if (!price.IsMissing() && price_currency != currency_code) {
      std::vector<Variant> args{Variant(price_currency), Variant(currency_code),
                                Variant(price.ToCurrency()), Variant(platform::Clock::Today())};
      lines.SetValue("PRODUCTPRICE", platform::CallRef(lib_sales::Sls_GetComponent("Kelmor.Currency"),
                                                       "ConvertAmount", args));
    }
  });
}

void Quotation::CalculateKroPricing(const Document& document,
                                    const std::map<int32_t, int32_t>& order_quantities,
                                    double& price, double& discount_perc,
                                    double& discount_amount, double& line_amount) {
  lib_sales::Guarded(kKroPricing, [&] {
    price = discount_perc = discount_amount = line_amount = 0;
    Recordset& header = *HeaderOf(document);
    Recordset& lines = *LinesOf(document);
    const Variant kro = header.Value("KROID");
    if (kro.IsNull())
      lib_sales::RaiseVendraError(VendraError::KROIDNotFound, kKroPricing, "Kro Instance not found");
    const int32_t kro_id = kro.ToLong();
    const int32_t sku = lines.Value("SKU").ToLong();
    const auto total = order_quantities.find(sku);
    const int32_t order_quantity = total == order_quantities.end() ? 0 : total->second;

    const platform::ObjectPtr instance =
        platform::Call(lib_sales::Sls_GetComponent("Gantrel.Selector"), "GetInstance", {Variant(kro_id)})
            .ToObject();
    const platform::ObjectPtr settings = platform::Call(instance, "Settings").ToObject();
    const std::string component_id = Trimmed(lib_sales::ItemOf(settings, "componentid"));
    // An instance the selector does not know cannot price: said plainly,
    // rather than leaving the line with the prices of the line before.
    if (component_id.empty())
      lib_sales::RaiseVendraError(VendraError::KROIDNotFound, kKroPricing,
                                  "KRO Instance Not found: back-end instance " +
                                      std::to_string(kro_id) + " has no connector component");
    std::string type = platform::Call(instance, "ConnectorType").ToString();
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    lib_sales::ReleasedComponent action(lib_sales::Sls_GetComponent("Ferrolink.PriceTax"),
                                        "CloseAction");
    std::vector<Variant> init{Variant(type), Variant(component_id), Variant(int32_t{0})};
    platform::CallRef(action.get(), "InitializeAction", init);
    if (TextOf(init[2]) != "0" && !TextOf(init[2]).empty())
      lib_sales::RaiseVendraError(VendraError::UnexpectedGetKROPricing, kKroPricing,
                                  "The back end's price component could not be started (error " +
                                      TextOf(init[2]) + ")");

    const int32_t quantity = QuantityOf(lines, 0);
    const std::string part = Trimmed(lines.Value("PARTNUMBER"));
    std::vector<Variant> args{
        Variant(int32_t{1}),
        Variant(Trimmed(header.Value("CUSTOMERCODE"))),
        Variant(part),
        Variant(TextOf(header.Value("CURRENCYCODE"))),
        Variant(FormatDateYYYYMMDD(PriceDateOf(lines))),
        Variant(quantity),
        Variant(order_quantity),
        Variant(Trimmed(lines.Value("PRODUCTUNITCODE"))),
        Variant(""), Variant(""), Variant(""),
        Variant(0.0), Variant(0.0)};
    args.resize(args.size() + 10);  // price, discounts, six tax values, error code
    platform::CallRef(action.get(), "GetPriceAndOrTax", args);
    // A refused request is no price of 0: the quotation would offer the goods
    // for nothing.
    const std::string error_code(platform::text::TrimBlanks(TextOf(args[22])));
    if (!error_code.empty())
      lib_sales::RaiseVendraError(VendraError::UnexpectedGetKROPricing, kKroPricing,
                                  "The back end refused the price of part '" + part +
                                      "' for customer '" + Trimmed(header.Value("CUSTOMERCODE")) +
                                      "' (error " + error_code + ")");
    price = args[13].ToDouble();
    discount_perc = args[14].ToDouble();
    discount_amount = args[15].ToDouble();
    line_amount = (price - discount_amount) * quantity;
  });
}

std::string Quotation::FormatDateYYYYMMDD(Date date) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d%02d", date.month(), date.day());
  return std::to_string(date.year()) + text;
}

// --- re-pricing on Save -------------------------------------------------------------

bool Quotation::QuantityChanged(const Connection& connection, const Document& document) {
  return lib_sales::Guarded(kQuantityChanged, [&] {
    Recordset& header = *HeaderOf(document);
    Recordset& lines = *LinesOf(document);
    if (lines.RecordCount() == 0) return false;
    // The stored lines, by number: a line the page removed or added leaves
    // every other line paired with its own stored row.
    struct Stored {
      Variant quantity;
      Variant request_date;
    };
    std::map<int32_t, Stored> stored;
    auto rs = connection->Execute(
        "SELECT QUANTITY, REQUESTDATE, LINENUMBER FROM QUOTATIONLINE WHERE QUOTATIONID = " +
        lib_sales::EncString(TextOf(header.Value("QUOTATIONID"))));
    for (; rs && !rs->Eof(); rs->MoveNext())
      stored[rs->Value("LINENUMBER").ToLong()] = {rs->Value("QUANTITY"), rs->Value("REQUESTDATE")};

    const std::string partner = std::to_string(header.Value("BUSINESSPARTNERID").ToLong());
    const std::string currency = TextOf(header.Value("CURRENCYCODE"));
    const std::string home = TextOf(header.Value("HOMECURRENCYCODE"));
    const bool web = header.Value("PRICINGMETHOD").ToLong() == static_cast<int32_t>(PricingMethod::WebPricing);
    OrderQuantities order_quantities;
    if (!web) order_quantities = OrderQuantitiesOf(lines);
    Pricing pricing;
    bool changed = false;
    int32_t line = 0;
    for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) {
      ++line;
      const auto it = stored.find(lines.Value("LINENUMBER").ToLong());
      if (it == stored.end()) continue;
      const int32_t quantity = QuantityOf(lines, line);
      const bool quantity_differs = it->second.quantity.IsMissing() ||
                                    it->second.quantity.ToDouble() != quantity;
      const Variant date = lines.Value("REQUESTDATE");
      const bool date_differs = !TextOf(date).empty() && !TextOf(it->second.request_date).empty() &&
                                date.ToDate() != it->second.request_date.ToDate();
      if (Configurable(lines)) {
        // Configurations change outside the quotation: priced on every save.
        CalcualteConfigurablePricing(lines, currency, home);
        PriceConfiguredLine(lines, line, quantity);
        changed = true;
      } else if (web) {
        if (quantity_differs) {
          const double price = lines.Value("PRODUCTPRICE").ToDouble();
          const double discount = lines.Value("DISCOUNTAMOUNT").ToDouble();
          lines.SetValue("LINEAMOUNT", Variant((price - discount) * quantity));
          changed = true;
        }
        if (date_differs) {
          double price = 0, discount_amount = 0, discount_perc = 0, line_amount = 0;
          CalculateWebPricing(pricing, partner, currency, lines.Value("SKU").ToLong(), quantity,
                              PriceDateOf(lines), price, discount_amount, discount_perc, line_amount);
          lines.SetValue("PRODUCTPRICE", Variant(price));
          lines.SetValue("DISCOUNTAMOUNT", Variant(discount_amount));
          lines.SetValue("DISCOUNTPERC", Variant(discount_perc));
          lines.SetValue("LINEAMOUNT", Variant(line_amount));
          changed = true;
        }
      } else if (date_differs || quantity_differs) {
        double price = 0, discount_amount = 0, discount_perc = 0, line_amount = 0;
        CalculateKroPricing(document, order_quantities, price, discount_perc, discount_amount,
                            line_amount);
        lines.SetValue("PRODUCTPRICE", Variant(price));
        lines.SetValue("DISCOUNTPERC", Variant(discount_perc));
        lines.SetValue("DISCOUNTAMOUNT", Variant(discount_amount));
        lines.SetValue("LINEAMOUNT", Variant(line_amount));
        changed = true;
      }
    }
    lines.MoveFirst();
    return changed;
  });
}

void Quotation::RecalculateTotals(const Document& document) {
  Recordset& header = *HeaderOf(document);
  Recordset& lines = *LinesOf(document);
  double total = 0;
  if (lines.RecordCount() > 0) {
    auto clone = lines.Clone();
    for (clone->MoveFirst(); !clone->Eof(); clone->MoveNext())
      total += clone->Value("LINEAMOUNT").ToDouble();
  }
  const double discount =
      Variant(GetPropertyValue("Discount", std::to_string(header.Value("BUSINESSPARTNERID").ToLong())))
          .ToDouble();
  header.SetValue("TOTALNETAMOUNT", Variant(total));
  header.SetValue("DISCOUNTTOTAL", Variant(discount * total / 100));
  header.SetValue("SUBTOTAL", Variant(total - discount * total / 100));
}

}  // namespace vendra
