// Vendra.Quotation.ConvertToXML: the quotation document the pages transform
// into the printable or mailable quotation. One element per header and line
// column in column order, amounts and dates in the quotation's locale, the
// options chosen in the product configurator for configured lines, the
// print parameters and the captions of the user's language.
//
// The pieces are appended in a fixed order without whitespace. Everything
// that comes from data, the shop's configuration or the label store is
// escaped as it is appended (values, captions, parameters, the configured
// flag in its attribute): a caption or a logo name holding "<" or "&" must
// not break the document the pages parse.
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/core/text.h"
#include "platform/data/ado_types.h"
#include "platform/data/recordset.h"
#include "sales/basket/basket.h"
#include "sales/basket/basket_xml_detail.h"
#include "sales/quotation/quotation.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/localisation.h"
#include "shared/parameters.h"

namespace vendra {

using platform::ObjectPtr;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

namespace {

using basket_detail::AmountFormat;
using basket_detail::AppendXmlAttribute;
using basket_detail::AppendXmlText;
using basket_detail::Captions;

constexpr char kConvertToXML[] = "Vendra.Quotation.ConvertToXML";
constexpr char kConvertHeaderToXML[] = "Vendra.Quotation.ConvertHeaderToXML";
constexpr char kConvertLinesToXML[] = "Vendra.Quotation.ConvertLinesToXML";
constexpr char kAddLabelsToXML[] = "Vendra.Quotation.AddLabelsToXML";
constexpr char kAddParametersToXML[] = "Vendra.Quotation.AddParametersToXML";

bool IsDateType(int32_t type) { return type == ado::adDate || type == ado::adDBTimeStamp; }

void Element(std::string& out, std::string_view name, std::string_view text) {
  out += '<';
  out += name;
  out += '>';
  AppendXmlText(out, text);
  out += "</";
  out += name;
  out += '>';
}

// The configuration service of one conversion, asked for when the first
// completely configured line needs it and let go when the conversion ends.
class ConfigurationService {
 public:
  std::string Description(const Variant& configuration_id, const Variant& quotation_id,
                          const Variant& line_number) {
    if (!service_) {
      const ObjectPtr configurator = lib_sales::Sls_GetComponent("Syntaro.Configurator");
      service_.reset(platform::Call(configurator, "GetConfigurationService").ToObject());
    }
    return platform::Call(service_.get(), "GetConfigurationDescription",
                          {Variant(configuration_id.ToString()), quotation_id, line_number})
        .ToString();
  }

 private:
  lib_sales::ReleasedComponent service_;
};

// The state of one conversion.
struct Conversion {
  Conversion(ObjectPtr manager, const std::string& user_locale, int16_t locale)
      : captions(std::move(manager), user_locale), amounts(locale, lib_sales::Sls_DataFunctions()) {}

  std::string out;
  Captions captions;
  AmountFormat amounts;
  ConfigurationService configurations;

  int16_t locale() const { return amounts.locale(); }

  // "[mm/dd/yyyy]" of the locale from the four pattern captions.
  std::string DatePattern(int32_t user_locale) {
    const platform::VariantArray patterns{Variant(captions("SLBSA7012")),
                                          Variant(captions("SLBSA7000")),
                                          Variant(captions("SLBSA7013")),
                                          Variant(captions("SLBSA7015"))};
    return lib_sales::Sls_FormatDateTemplate(patterns, locale(), user_locale);
  }
};

// The locale of the quotation: the header's USERLOCALE; a header the pages
// left without one takes the caller's locale rather than failing the print.
int16_t HeaderLocale(Recordset& header, const std::string& user_locale) {
  if (ado::Field* field = header.fields().Find("USERLOCALE")) {
    const Variant stored = field->Value();
    if (!stored.IsMissing()) return stored.ToInteger();
  }
  return Variant(user_locale).ToInteger();
}

bool IsHeaderAmount(std::string_view name) {
  return name == "TOTALNETAMOUNT" || name == "SUBTOTAL" || name == "DISCOUNTTOTAL" ||
         name == "DISCOUNTPERC";
}

bool IsLineAmount(std::string_view name) {
  return name == "PRODUCTPRICE" || name == "LINEAMOUNT" || name == "DISCOUNTAMOUNT";
}

void ConvertHeaderToXML(Conversion& c, Recordset& header, const std::string& user_locale) {
  lib_sales::Guarded(kConvertHeaderToXML, [&] {
    c.out += "<QuotationHeader>";
    auto& fields = header.fields();
    for (int i = 0; i < fields.Count(); ++i) {
      ado::Field& field = fields[i];
      const std::string& name = field.Name();
      const Variant value = field.Value();
      std::string text;
      if (!lib_sales::Sls_HasValue(value)) {
        // no value: an empty element ("0" counts as none here)
      } else if (IsDateType(field.Type())) {
        text = lib_sales::Sls_FormatDate(value, c.locale());
      } else if (IsHeaderAmount(platform::text::UpperAscii(name))) {
        text = c.amounts(Variant(value.ToDouble()));
      } else {
        text = value.ToString();
      }
      Element(c.out, name, text);
    }
    Element(c.out, "CurrentDate",
            lib_sales::Sls_FormatDateTime(Variant(platform::Clock::Now()), c.locale()));
    // The user locale is passed along for the routine's sake; it has no
    // effect, so a caller's locale that is no number must not fail the print.
    Element(c.out, "DateFormat", c.DatePattern(std::atoi(user_locale.c_str())));
    c.out += "</QuotationHeader>";
  });
}

// The options chosen for a completely configured line, from the
// configuration service's description: pieces after each "VOP", fields 4 to
// 7 of each.
void ConfigurationBlock(Conversion& c, const Variant& configuration_id, const Variant& quotation_id,
                        const Variant& line_number) {
  if (!lib_sales::Sls_HasValue(configuration_id)) {
    platform::Raise(platform::err::kInvalidUseOfNull, kConvertLinesToXML,
                    "The configured line " + (line_number.IsMissing() ? std::string() : line_number.ToString()) +
                        " is complete but names no configuration");
  }
  const std::string description =
      c.configurations.Description(configuration_id, quotation_id, line_number);
  c.out += "<CONFIGURATIONS>";
  size_t at = description.find("VOP");
  while (at != std::string::npos) {
    const size_t start = at + 3;
    const size_t next = description.find("VOP", start);
    const std::string_view piece = std::string_view(description).substr(
        start, next == std::string::npos ? std::string::npos : next - start);
    std::vector<std::string_view> fields;
    size_t from = 0;
    while (true) {
      const size_t comma = piece.find(',', from);
      fields.push_back(piece.substr(from, comma == std::string_view::npos ? piece.npos : comma - from));
      if (comma == std::string_view::npos) break;
      from = comma + 1;
    }
    if (fields.size() < 8) {
      platform::Raise(platform::err::kSubscriptOutOfRange, kConvertLinesToXML,
                      "The configuration " + configuration_id.ToString() +
                          " describes an option with fewer than eight fields");
    }
    c.out += "<VOP>";
    Element(c.out, "FEATURECODE", fields[4]);
    Element(c.out, "SEQUENCENUMBER", fields[5]);
    Element(c.out, "FEATUREDESCRIPTION", fields[6]);
    Element(c.out, "OPTIONVALUE", fields[7]);
    c.out += "</VOP>";
    at = next;
  }
  c.out += "</CONFIGURATIONS>";
}

void ConvertLinesToXML(Conversion& c, Recordset& lines) {
  lib_sales::Guarded(kConvertLinesToXML, [&] {
    c.out += "<QuotationLines>";
    if (lines.RecordCount() > 0) {
      auto& fields = lines.fields();
      // What each column becomes is decided once for the record set.
      enum class Kind { kText, kDate, kAmount, kConfigurable };
      std::vector<Kind> kinds;
      kinds.reserve(static_cast<size_t>(fields.Count()));
      for (int i = 0; i < fields.Count(); ++i) {
        const std::string name = platform::text::UpperAscii(fields[i].Name());
        kinds.push_back(name == "PRODUCTCONFIGURABLE" ? Kind::kConfigurable
                        : IsDateType(fields[i].Type()) ? Kind::kDate
                        : IsLineAmount(name)           ? Kind::kAmount
                                                       : Kind::kText);
      }
      ado::Field* complete = fields.Find("PRODUCTCONFIGCOMPLETE");
      ado::Field* config_id = fields.Find("PRODUCTCONFIGID");
      ado::Field* quotation_id = fields.Find("QUOTATIONID");
      ado::Field* line_number = fields.Find("LINENUMBER");
      for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) {
        c.out += "<QuotationLine>";
        for (int i = 0; i < fields.Count(); ++i) {
          ado::Field& field = fields[i];
          const Variant value = field.Value();
          const Kind kind = kinds[static_cast<size_t>(i)];
          if (kind == Kind::kConfigurable) {
            c.out += '<';
            c.out += field.Name();
            c.out += " value='";
            if (!value.IsMissing()) AppendXmlAttribute(c.out, value.ToString());
            c.out += "'>";
            const Variant done = complete ? complete->Value() : Variant();
            if (!done.IsMissing() && done.ToBool()) {
              ConfigurationBlock(c, config_id ? config_id->Value() : Variant(),
                                 quotation_id ? quotation_id->Value() : Variant(),
                                 line_number ? line_number->Value() : Variant());
            }
            c.out += "</";
            c.out += field.Name();
            c.out += '>';
            continue;
          }
          std::string text;
          if (value.IsMissing()) {
            // Null: an empty element
          } else if (kind == Kind::kDate) {
            text = lib_sales::Sls_FormatDate(value, c.locale());
          } else if (kind == Kind::kAmount) {
            text = c.amounts(value);
          } else {
            text = value.ToString();
          }
          Element(c.out, field.Name(), text);
        }
        c.out += "</QuotationLine>";
      }
    }
    c.out += "</QuotationLines>";
  });
}

void AddParametersToXML(Conversion& c, int32_t send_as_email) {
  lib_sales::Guarded(kAddParametersToXML, [&] {
    c.out += "<Parameters>";
    Element(c.out, "ImageDirectory", lib_sales::Sls_getSiteName() + "/Vendra/Quotation/images/");
    Element(c.out, "Logo", lib_sales::Sls_GetParameterValue("Logo"));
    Element(c.out, "WatermarkImage", lib_sales::Sls_GetParameterValue("Watermark Image"));
    Element(c.out, "PrintConfigurations", lib_sales::Sls_GetParameterValue("Print Configurations"));
    Element(c.out, "SendAsEmail", std::to_string(send_as_email));
    c.out += "</Parameters>";
  });
}

struct LabelElement {
  const char* element;
  const char* code;
};
constexpr LabelElement kHeaderLabels[] = {
    {"CustomerLabel", "SLBSA3557"},          {"CustomerReferenceLabel", "SLBSA3559"},
    {"CreationDateLabel", "SLBSA6017"},      {"ExpirationDateLabel", "SLBSA6018"},
    {"CustomerInformationLabel", "SLBSA6092"}, {"PricesValidtillLabel", "SLBSA6093"},
    {"PrintedOnLabel", "SLBSA6094"},         {"QuotationRemarksLabel", "SLBSA6095"},
    {"DiscountLabel", "SLBSA3573"},          {"SubtotalLabel", "SLBSA3574"},
    {"TotalNetAmountLabel", "SLBSA3572"},
};
constexpr LabelElement kLineLabels[] = {
    {"ProductsLabel", "SLBSA3578"},  {"ItemLabel", "SLBSA2006"},
    {"QtyLabel", "SLBSA3579"},       {"UnitLabel", "SLBSA3580"},
    {"ReqDateLabel", "SLBSA0709"},   {"UnitPriceLabel", "SLBSA3584"},
    {"DiscountLabel", "SLBSA3585"},  {"NetAmountLabel", "SLBSA3586"},
    {"ConfiguredItemLabel", "SLBSA6096"},
};
constexpr LabelElement kConfigurationLabels[] = {
    {"FeatureDescription", "SLBSA6090"},
    {"OptionValue", "SLBSA6091"},
    {"PartiallyConfigured", "SLBSA0622"},
};

void AddLabelsToXML(Conversion& c) {
  lib_sales::Guarded(kAddLabelsToXML, [&] {
    c.out += "<Labels><QuotationHeader>";
    for (const LabelElement& l : kHeaderLabels) Element(c.out, l.element, c.captions(l.code));
    c.out += "</QuotationHeader><QuotationLine>";
    for (const LabelElement& l : kLineLabels) Element(c.out, l.element, c.captions(l.code));
    c.out += "</QuotationLine><Configurations>";
    for (const LabelElement& l : kConfigurationLabels) Element(c.out, l.element, c.captions(l.code));
    c.out += "</Configurations></Labels>";
  });
}

[[noreturn]] void RaiseEmpty() {
  lib_sales::RaiseVendraError(lib_sales::VendraError::MissingOrderID, kConvertToXML,
                              "Quotation is empty");
}

}  // namespace

std::string Quotation::ConvertToXML(Variant& iQuotation, const ObjectPtr& ioMessageManager,
                                    const std::string& iUserLocale) {
  return lib_sales::Guarded(kConvertToXML, [&] {
    if (iQuotation.IsMissing() || (iQuotation.IsObject() && !iQuotation.ToObject())) RaiseEmpty();
    const Basket::Document document = Basket::DocumentOf(iQuotation);
    if (document->Count() == 0) RaiseEmpty();
    const auto header = Basket::RecordSetOf(document, "header");
    const auto lines = Basket::RecordSetOf(document, "lines");
    const Variant send_flag = document->Item("sendasemail");
    const int32_t send_as_email = send_flag.IsMissing() ? 0 : send_flag.ToLong();
    // The header step reads the current row; a set the pages moved past its
    // end is read from its first row.
    if (header->Eof() && header->RecordCount() > 0) header->MoveFirst();
    if (header->Eof()) RaiseEmpty();

    Conversion c(ioMessageManager, iUserLocale, HeaderLocale(*header, iUserLocale));
    c.out.reserve(4096 + static_cast<size_t>(lines->RecordCount()) * 1024);
    c.out += "<?xml version=\"1.0\"?><Quotation><DocumentTypeID>WebQuote</DocumentTypeID>";
    Element(c.out, "QuotationTitle", c.captions("SLBSA6051"));
    ConvertHeaderToXML(c, *header, iUserLocale);
    ConvertLinesToXML(c, *lines);
    AddParametersToXML(c, send_as_email);
    AddLabelsToXML(c);
    c.out += "</Quotation>";
    return std::move(c.out);
  });
}

}  // namespace vendra
