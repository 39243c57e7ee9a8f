// Vendra.Basket.ConvertToXML: the order document of a basket (or of a
// quotation's header columns) as the text the order confirmation and order
// copy pages transform. One element per header and line column in column
// order, a few renamed or captioned, amounts and dates in the user's locale,
// captions from the page's message manager; the tax breakdown comes from
// SpecifyTax (basket_tax.cpp).
//
// What a column becomes is worked out once per record set (a column plan),
// so a basket of many lines costs one walk over its cells. Every value and
// every caption is escaped as it is appended: a caption goes into an
// attribute between single quotes or into element text, and a caption with
// "<", "&" or "'" must not break the document the pages parse.
#include <charconv>
#include <cmath>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/text.h"
#include "platform/data/ado_types.h"
#include "platform/data/recordset.h"
#include "platform/services/message_manager.h"
#include "sales/basket/basket.h"
#include "sales/basket/basket_xml_detail.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/localisation.h"

namespace vendra {

using platform::ObjectPtr;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

namespace {

using namespace basket_detail;

constexpr char kConvertToXML[] = "Vendra.Basket.ConvertToXML";
constexpr char kConvertHeaderToXML[] = "Vendra.Basket.ConvertHeaderToXML";
constexpr char kConvertLinesToXML[] = "Vendra.Basket.ConvertLinesToXML";
constexpr char kConvertAddressToXML[] = "Vendra.Basket.ConvertAddressToXML";

// The configuration item that lets invoice orders (payment method 1) show
// their taxes; its "not found" failure means the shop never set it.
constexpr int32_t kConfigurationKeyNotFound = static_cast<int32_t>(0x8004000Fu);

// Kelmor.BusinessPartner, created when the first carrier or address is
// needed and released when the conversion ends, whichever way it ends.
class Partner {
 public:
  const ObjectPtr& get() {
    if (!partner_) partner_.reset(lib_sales::Sls_GetComponent("Kelmor.BusinessPartner"));
    return partner_.get();
  }

 private:
  lib_sales::ReleasedComponent partner_;
};

// What a column's value becomes (the rules by name; kDefault goes by type).
enum class Rule {
  kDefault,
  kAmount,          // FormatPriceDecimals
  kTaxAmount,       // FormatPriceDecimals when tax is shown, else "0"
  kCarrier,         // the carrier's name
  kFreightTaxPerc,  // the percentage when it fits the freight and its tax, else 0
  kTaxTotal,        // an amount, followed by the tax breakdown
};

struct ColumnPlan {
  ado::Field* field = nullptr;  // owned by the record set, which outlives the plan
  int index = 0;
  int32_t type = 0;
  Rule rule = Rule::kDefault;
  std::string open;   // the whole opening tag
  std::string close;  // the whole closing tag
  const char* address_type = nullptr;  // address elements of the id in the value
  bool address_inside = false;         // inside the element (header) or after it (lines)
};

bool IsDateType(int32_t type) {
  return type == ado::adDate || type == ado::adDBTimeStamp;
}

// The state of one conversion.
class Conversion {
 public:
  Conversion(ObjectPtr manager, const std::string& locale_text, int16_t locale, Basket& basket)
      : captions(std::move(manager), locale_text),
        amounts(locale, lib_sales::Sls_DataFunctions()),
        basket_(basket) {}

  std::string out;
  Captions captions;
  AmountFormat amounts;
  bool show_tax = false;
  Variant freight_total = Variant(0.0);      // F of the freight tax percentage
  Variant freight_tax_total = Variant(0.0);  // T
  std::shared_ptr<Recordset> lines;

  int32_t locale() const { return amounts.locale(); }

  // Opening tag with a caption attribute: "<" element separator "'" caption "'>".
  std::string CaptionedTag(const std::string& element, const char* separator, const char* code) {
    std::string tag = "<" + element + separator;
    AppendXmlAttribute(tag, captions(code));
    tag += "'>";
    return tag;
  }

  // An element whose text is a caption.
  void CaptionElement(const char* element, const char* code) {
    out += '<';
    out += element;
    out += '>';
    AppendXmlText(out, captions(code));
    out += "</";
    out += element;
    out += '>';
  }

  // The text of step 1: by the column's type.
  std::string TextByType(const Variant& value, int32_t type) {
    if (type == ado::adCurrency)
      return lib_sales::Sls_FormatPrice(value, false, locale(), amounts.data_functions(), 8);
    if (IsDateType(type)) return DateText(value);
    return value.ToString();
  }

  // Request dates repeat from line to line; each day is formatted once.
  std::string DateText(const Variant& value) {
    const platform::Date* date = value.Get<platform::Date>();
    if (!date) return lib_sales::Sls_FormatDate(value, locale());
    const double serial = date->serial();
    auto it = dates_.find(serial);
    if (it != dates_.end()) return it->second;
    std::string text = lib_sales::Sls_FormatDate(value, locale());
    dates_.emplace(serial, text);
    return text;
  }

  // Step 1 appended to out, escaped: the text of the value by the column's
  // type, numbers written straight into the document.
  void AppendByType(const ColumnPlan& column, const Variant& value) {
    if (column.type != ado::adCurrency && !IsDateType(column.type)) {
      if (const std::string* text = value.Get<std::string>()) {
        AppendXmlText(out, *text);
        return;
      }
      if (AppendNumber(value)) return;
    }
    AppendXmlText(out, TextByType(value, column.type));
  }

  // A whole number as the value's text (CStr) gives it; false for any other
  // value. A Double holding a whole number below 10^15 is written by CStr
  // without decimals or exponent, as the integer it is.
  bool AppendNumber(const Variant& value) {
    char text[24];
    std::to_chars_result written;
    if (const int32_t* l = value.Get<int32_t>()) {
      written = std::to_chars(text, text + sizeof text, *l);
    } else if (const int16_t* i = value.Get<int16_t>()) {
      written = std::to_chars(text, text + sizeof text, *i);
    } else if (const double* d = value.Get<double>()) {
      if (!(std::fabs(*d) < 1e15) || std::trunc(*d) != *d) return false;
      written = std::to_chars(text, text + sizeof text, static_cast<int64_t>(*d));
    } else {
      return false;
    }
    out.append(text, written.ptr);
    return true;
  }

  // An amount appended to out as the formatting component writes it,
  // escaped like any other text should the locale's separators need it.
  void AppendAmount(const Variant& value) {
    const size_t start = out.size();
    amounts.AppendTo(out, value);
    for (size_t i = start; i < out.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(out[i]);
      if (c < 0x20 || c >= 0x80 || c == '&' || c == '<' || c == '>') {
        const std::string text = out.substr(start);
        out.resize(start);
        AppendXmlText(out, text);
        return;
      }
    }
  }

  void AppendText(const ColumnPlan& column, const Variant& value) {
    switch (column.rule) {
      case Rule::kAmount:
      case Rule::kTaxTotal:
        AppendAmount(value);
        return;
      case Rule::kTaxAmount:
        if (show_tax) AppendAmount(value);
        else out += '0';
        return;
      case Rule::kCarrier:
        AppendXmlText(out, CarrierName(value, TextByType(value, column.type)));
        return;
      case Rule::kFreightTaxPerc: {
        const bool fits = freight_total.ToDouble() != 0 &&
                          TaxPercentMatches(freight_total, value, freight_tax_total);
        AppendAmount(fits ? value : Variant(0.0));
        return;
      }
      case Rule::kDefault:
        break;
    }
    AppendByType(column, value);
  }

  void Cell(const ColumnPlan& column, const Variant& value) {
    out += column.open;
    if (!value.IsMissing()) {
      AppendText(column, value);
      if (column.address_type && column.address_inside) Address(value, column.address_type);
    }
    out += column.close;
    if (value.IsMissing()) return;
    if (column.address_type && !column.address_inside) Address(value, column.address_type);
    // Whether tax is above 0 is asked of the value, not of its formatted text,
    // which in most locales is no number any more ("1.234,50").
    if (column.rule == Rule::kTaxTotal && show_tax && value.ToDouble() > 0)
      out += basket_.SpecifyTax(lines, static_cast<int16_t>(locale()));
  }

  std::string CarrierName(const Variant& code, std::string text) {
    const ObjectPtr carriers =
        platform::Call(partner_.get(), "GetTransportCarrier", {code}).ToObject();
    auto rs = std::dynamic_pointer_cast<Recordset>(carriers);
    if (rs && !rs->Eof()) {
      const Variant name = rs->Value("CARRIERNAME");
      if (lib_sales::Sls_HasValue(name)) text = name.ToString();
    }
    if (carriers) platform::Call(carriers, "Close");
    return text;
  }

  // The address elements of an id. An address shown on many lines is read
  // and written once per conversion, and copied from then on.
  void Address(const Variant& address_id, const char* type) {
    std::string key = type;
    key += '\x1f';
    key += address_id.ToString();
    if (auto it = addresses_.find(key); it != addresses_.end()) {
      out += it->second;
      return;
    }
    const size_t start = out.size();
    ReadAddress(address_id, type);
    addresses_.emplace(std::move(key), out.substr(start));
  }

  void ReadAddress(const Variant& address_id, const char* type) {
    lib_sales::Guarded(kConvertAddressToXML, [&] {
      const ObjectPtr found =
          platform::Call(partner_.get(), "GetAddress", {address_id}).ToObject();
      auto rs = std::dynamic_pointer_cast<Recordset>(found);
      if (!rs || rs->Eof()) return;
      const bool shipping = std::string_view(type) == "SHIPPING";
      auto& fields = rs->fields();
      for (int i = 0; i < fields.Count(); ++i) {
        const std::string column = platform::text::UpperAscii(fields[i].Name());
        const std::string element = type + column;
        const char* code = nullptr;
        if (column == "SHORTDESCRIPTION") code = shipping ? "SLBSA3566" : "SLBSA3565";
        else if (column == "NAME1") code = "SLBSA3567";
        else if (column == "STREET1") code = "SLBSA3568";
        else if (column == "CITY1") code = "SLBSA3569";
        else if (column == "COUNTRYCODE") code = "SLBSA3570";
        else if (column == "ZIPCODE") code = "SLBSA3571";
        out += code ? CaptionedTag(element, " label ='", code) : "<" + element + ">";
        const Variant value = fields[i].Value();
        if (!value.IsMissing()) AppendXmlText(out, value.ToString());
        out += "</" + element + ">";
      }
    });
  }

 private:
  Basket& basket_;
  Partner partner_;
  std::unordered_map<double, std::string> dates_;  // serial -> short date
  std::unordered_map<std::string, std::string> addresses_;  // type and id -> elements
};

// The header columns that carry a caption, and the element some of them are renamed to.
struct HeaderCaption {
  const char* column;
  const char* element;
  const char* code;
};
constexpr HeaderCaption kHeaderCaptions[] = {
    {"CUSTOMERNAME", "CUSTOMERNAME", "SLBSA3557"},
    {"BASKETDATE", "ORDERDATE", "SLBSA3558"},
    {"CREATIONDATE", "ORDERDATE", "SLBSA3558"},
    {"BASKETNAME", "CUSTOMERREFERENCE", "SLBSA3559"},
    {"CUSTOMERREFERENCE", "CUSTOMERREFERENCE", "SLBSA3559"},
    {"CURRENCYCODE", "CURRENCYCODE", "SLBSA3560"},
    {"DISCOUNTPERC", "DISCOUNTPERC", "SLBSA3561"},
    {"CARRIERCODE", "CARRIERCODE", "SLBSA3562"},
    {"CUSTOMERPONUMBER", "CUSTOMERPONUMBER", "SLBSA3563"},
    {"BASKETTEXT", "COMMENTS", "SLBSA3564"},
    {"COMMENTS", "COMMENTS", "SLBSA3564"},
    {"TOTALNETAMOUNT", "TOTALNETAMOUNT", "SLBSA3572"},
    {"DISCOUNTTOTAL", "DISCOUNTTOTAL", "SLBSA3573"},
    {"SUBTOTAL", "SUBTOTAL", "SLBSA3574"},
    {"FREIGHTTOTAL", "FREIGHTTOTAL", "SLBSA3575"},
    {"FREIGHTTAXTOTAL", "FREIGHTTAXTOTAL", "SLBSA3576"},
    {"TOTAL", "TOTAL", "SLBSA3577"},
};

// What a header column becomes, by its upper-case name: the element it is
// renamed to and its caption (kHeaderCaptions), its rule, its addresses.
struct HeaderSpec {
  const char* element = nullptr;  // nullptr: the column's own name
  const char* code = nullptr;     // the caption, if any
  Rule rule = Rule::kDefault;
  const char* address_type = nullptr;
};

const std::unordered_map<std::string_view, HeaderSpec>& HeaderSpecs() {
  static const auto* specs = [] {
    auto* m = new std::unordered_map<std::string_view, HeaderSpec>;
    for (const HeaderCaption& caption : kHeaderCaptions) {
      HeaderSpec& spec = (*m)[caption.column];
      spec.element = caption.element;
      spec.code = caption.code;
    }
    for (const char* name :
         {"TOTALNETAMOUNT", "DISCOUNTTOTAL", "SUBTOTAL", "FREIGHTTOTAL", "TOTAL", "DISCOUNTPERC"})
      (*m)[name].rule = Rule::kAmount;
    (*m)["TAXTOTAL"].rule = Rule::kTaxTotal;
    (*m)["FREIGHTTAXTOTAL"].rule = Rule::kTaxAmount;
    (*m)["CARRIERCODE"].rule = Rule::kCarrier;
    (*m)["FREIGHTTAXPERC"].rule = Rule::kFreightTaxPerc;
    (*m)["SHIPPINGADDRESSID"].address_type = "SHIPPING";
    (*m)["BILLINGADDRESSID"].address_type = "BILLING";
    return m;
  }();
  return *specs;
}

ColumnPlan HeaderColumn(Conversion& c, ado::Field& field) {
  ColumnPlan plan;
  plan.field = &field;
  plan.index = field.index();
  plan.type = field.Type();
  const std::string name = platform::text::UpperAscii(field.Name());
  HeaderSpec spec;
  if (auto it = HeaderSpecs().find(name); it != HeaderSpecs().end()) spec = it->second;
  const std::string element = spec.element ? std::string(spec.element) : name;
  plan.open = spec.code ? c.CaptionedTag(element, " label = '", spec.code) : "<" + element + ">";
  plan.close = "</" + element + ">";
  plan.rule = spec.rule;
  plan.address_type = spec.address_type;
  plan.address_inside = spec.address_type != nullptr;
  return plan;
}

ColumnPlan LineColumn(Conversion& c, ado::Field& field) {
  ColumnPlan plan;
  plan.field = &field;
  plan.index = field.index();
  plan.type = field.Type();
  const std::string name = platform::text::UpperAscii(field.Name());
  if (name == "LINETEXT") {
    plan.open = c.CaptionedTag("LINETEXT", " label='", "SLBSA3564");
  } else if (name == "DISCOUNTAMOUNT") {
    plan.open = "<LINEDISCOUNTAMOUNT>";
  } else {
    plan.open = "<" + name + ">";
  }
  plan.close = name == "DISCOUNTAMOUNT" ? "</LINEDISCOUNTAMOUNT>" : "</" + name + ">";
  if (name == "PRODUCTPRICE" || name == "LINEAMOUNT" || name == "FREIGHTAMOUNT" ||
      name == "LINEDISCOUNTAMOUNT" || name == "ORDERDISCOUNTAMOUNT" || name == "DISCOUNTPERC" ||
      name == "DISCOUNTAMOUNT") {
    plan.rule = Rule::kAmount;
  } else if (name == "TAXAMOUNT" || name == "FREIGHTTAXAMOUNT") {
    plan.rule = Rule::kTaxAmount;
  } else if (name == "ADDRESSID") {
    plan.address_type = "SHIPPING";
  }
  return plan;
}

std::vector<ColumnPlan> PlanOf(Conversion& c, Recordset& rs,
                               ColumnPlan (*column)(Conversion&, ado::Field&)) {
  std::vector<ColumnPlan> plan;
  auto& fields = rs.fields();
  plan.reserve(static_cast<size_t>(fields.Count()));
  for (int i = 0; i < fields.Count(); ++i) plan.push_back(column(c, fields[i]));
  return plan;
}

// Invoice orders show their taxes only where the shop says so.
bool ShowTaxOnInvoiceOrders() {
  const ObjectPtr configuration = lib_sales::Sls_GetComponent("Orvanta.Configuration");
  platform::Call(configuration, "LoadApplicationConfig",
                 {Variant("Vendra"), Variant(static_cast<int16_t>(0))});
  try {
    return platform::Call(configuration, "GetValue",
                          {Variant("GENERAL_PARAMETERS"), Variant("ShowTaxOnInvoiceOrders")})
               .ToString() == "1";
  } catch (const platform::ComError& e) {
    if (e.number() == kConfigurationKeyNotFound) return false;
    throw;
  }
}

bool ShowTax(const Variant& payment_method) {
  if (payment_method.IsMissing()) return false;
  const double method = payment_method.ToDouble();
  if (method == 2) return true;
  return method == 1 && ShowTaxOnInvoiceOrders();
}

// The locale amounts and dates are shown in: the header's USERLOCALE; a
// basket the pages have not given one yet takes the locale of the caller.
int16_t LocaleOf(Recordset& header, const std::string& user_locale) {
  if (ado::Field* field = header.fields().Find("USERLOCALE")) {
    const Variant stored = field->Value();
    if (!stored.IsMissing()) return stored.ToInteger();
  }
  return Variant(user_locale).ToInteger();
}

void ConvertHeaderToXML(Conversion& c, Recordset& header) {
  lib_sales::Guarded(kConvertHeaderToXML, [&] {
    auto& fields = header.fields();
    // The freight and its tax decide the freight tax percentage, wherever
    // the columns stand.
    if (ado::Field* f = fields.Find("FREIGHTTOTAL"); f && !f->Value().IsMissing())
      c.freight_total = f->Value();
    if (ado::Field* f = fields.Find("FREIGHTTAXTOTAL"); f && !f->Value().IsMissing())
      c.freight_tax_total = f->Value();
    c.out += "<OrderHeader WebOrderLabel='";
    AppendXmlAttribute(c.out, c.captions("SLBSA3556"));
    c.out += "' CopyOrderLabel='";
    AppendXmlAttribute(c.out, c.captions("SLBSA3592"));
    c.out += "'>";
    for (const ColumnPlan& column : PlanOf(c, header, HeaderColumn))
      c.Cell(column, header.ValueAt(column.index));
    c.out += "</OrderHeader>";
  });
}

void ConvertLinesToXML(Conversion& c, Recordset& lines) {
  lib_sales::Guarded(kConvertLinesToXML, [&] {
    c.out += "<OrderLines>";
    if (lines.RecordCount() > 0) {
      const std::vector<ColumnPlan> plan = PlanOf(c, lines, LineColumn);
      for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) {
        c.out += "<OrderLine>";
        for (const ColumnPlan& column : plan) c.Cell(column, lines.ValueAt(column.index));
        c.out += "</OrderLine>";
      }
    }
    c.out += "</OrderLines>";
  });
}

}  // namespace

std::string Basket::ConvertToXML(const Variant& iBasket, const ObjectPtr& ioMessageManager,
                                 const std::string& iUserLocale) {
  return lib_sales::Guarded(kConvertToXML, [&] {
    if (iBasket.IsMissing() || (iBasket.IsObject() && !iBasket.ToObject()))
      lib_sales::RaiseVendraError(lib_sales::VendraError::MissingOrderID, kConvertToXML,
                                  "Basket is empty");
    const Document document = DocumentOf(iBasket);
    const auto header = RecordSetOf(document, "header");
    const auto lines = RecordSetOf(document, "lines");
    if (header->RecordCount() > 0) header->MoveFirst();
    if (header->Eof())
      lib_sales::RaiseVendraError(lib_sales::VendraError::MissingOrderID, kConvertToXML,
                                  "Basket is empty");

    Conversion c(ioMessageManager, iUserLocale, LocaleOf(*header, iUserLocale), *this);
    c.lines = lines;
    c.show_tax = ShowTax(header->fields().Find("PAYMENTMETHOD")
                             ? header->Value("PAYMENTMETHOD")
                             : Variant());
    c.out.reserve(2048 + static_cast<size_t>(lines->RecordCount()) * 1536);
    c.out += "<?xml version=\"1.0\"?><Order><DocumentTypeID>WebOrder</DocumentTypeID>";
    c.CaptionElement("WebOrderTitle", "SLBSA3554");
    c.CaptionElement("WebOrderSubTitle", "SLBSA3555");
    c.CaptionElement("CopyOrderTitle", "SLBSA3590");
    c.CaptionElement("CopyOrderSubTitle", "SLBSA3591");
    ConvertHeaderToXML(c, *header);
    c.CaptionElement("ProductsLabel", "SLBSA3578");
    c.CaptionElement("QtyLabel", "SLBSA3579");
    c.CaptionElement("UnitLabel", "SLBSA3580");
    c.CaptionElement("ReqDateLabel", "SLBSA3581");
    c.CaptionElement("ItemLabel", "SLBSA3582");
    c.CaptionElement("DescriptionLabel", "SLBSA3583");
    c.CaptionElement("UnitPriceLabel", "SLBSA3584");
    c.CaptionElement("DiscountLabel", "SLBSA3585");
    c.CaptionElement("NetAmountLabel", "SLBSA3586");
    c.CaptionElement("TaxCodeLabel", "SLBSA3587");
    c.CaptionElement("FreightCostsLabel", "SLBSA3588");
    c.CaptionElement("AddressLabel", "SLBSA3589");
    ConvertLinesToXML(c, *lines);
    c.out += "</Order>";
    return std::move(c.out);
  });
}

}  // namespace vendra
