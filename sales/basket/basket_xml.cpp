// Vendra.Basket.ConvertToXML: the order document of a basket (or of a
// quotation's header columns) as the text the order confirmation and order
// copy pages transform. One element per header and line column in column
// order, a few renamed or captioned, amounts and dates in the user's locale,
// captions from the page's message manager; the tax breakdown comes from
// SpecifyTax (basket_tax.cpp).
//
// What a column becomes is worked out once per record set layout (a column
// plan: its tags with their captions, merged with the closing tag before
// them, and its rule), so a basket of many lines costs one walk over its
// cells. With the application's own message manager, whose captions of a
// locale never change while it lives, the plans are kept per thread for the
// next document of the same layout, manager and locale; any other manager
// is asked once per label and conversion. Every value and every caption is
// escaped as it is appended: a caption goes into an attribute between single
// quotes or into element text, and a caption with "<", "&" or "'" must not
// break the document the pages parse.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/text.h"
#include "platform/data/ado_types.h"
#include "platform/data/recordset.h"
#include "platform/services/business_partner.h"
#include "platform/services/data_functions.h"
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

// Kelmor.BusinessPartner, created when the document first needs a carrier
// or an address and released when the conversion ends, whichever way it
// ends.
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

bool IsDateType(int32_t type) {
  return type == ado::adDate || type == ado::adDBTimeStamp;
}

struct ColumnPlan {
  int index = 0;
  int32_t type = 0;
  Rule rule = Rule::kDefault;
  // Written before the value: the closing tag of the column before, when
  // nothing follows that tag, then this column's opening tag.
  std::string lead;
  // This column's closing tag, when something follows it (addresses, the
  // tax breakdown); otherwise it goes with the next lead or the tail.
  std::string close;
  const char* address_type = nullptr;  // address elements of the id in the value
  bool address_inside = false;         // inside the element (header) or after it (lines)
  // Amounts and dates repeat from line to line: a value like the column's
  // last one is written as that one was.
  bool repeats = false;
};

// One record's elements: the columns, then the tail (the last pending
// closing tag and the record's own).
struct RecordPlan {
  std::vector<ColumnPlan> columns;
  std::string tail;
  // One more than the highest column index: the values a row must have.
  size_t width = 0;
};

// A column before its tags are merged: opening and closing tag, and whether
// something follows the closing tag.
struct ColumnTags {
  ColumnPlan plan;
  std::string open;
  std::string close;
  bool close_alone = false;
};

RecordPlan MergedPlan(std::vector<ColumnTags> columns, std::string record_open,
                      const std::string& record_close) {
  RecordPlan plan;
  plan.columns.reserve(columns.size());
  std::string pending = std::move(record_open);
  for (ColumnTags& column : columns) {
    column.plan.lead = std::move(pending);
    column.plan.lead += column.open;
    pending.clear();
    if (column.close_alone) column.plan.close = std::move(column.close);
    else pending = std::move(column.close);
    plan.width = std::max(plan.width, static_cast<size_t>(column.plan.index) + 1);
    plan.columns.push_back(std::move(column.plan));
  }
  plan.tail = std::move(pending);
  plan.tail += record_close;
  return plan;
}

// The names and types of a record set's fields, in order: what its plan
// depends on besides the captions.
using Layout = std::vector<std::pair<std::string, int32_t>>;

bool HasLayout(Recordset& rs, const Layout& layout) {
  auto& fields = rs.fields();
  if (static_cast<size_t>(fields.Count()) != layout.size()) return false;
  for (int i = 0; i < fields.Count(); ++i) {
    const ado::Field& field = fields[i];
    const auto& [name, type] = layout[static_cast<size_t>(i)];
    if (field.Type() != type || field.Name() != name) return false;
  }
  return true;
}

Layout LayoutOf(Recordset& rs) {
  Layout layout;
  auto& fields = rs.fields();
  layout.reserve(static_cast<size_t>(fields.Count()));
  for (int i = 0; i < fields.Count(); ++i) layout.emplace_back(fields[i].Name(), fields[i].Type());
  return layout;
}

// The captions a conversion asks for, by label code: each code is asked of
// the manager once.
using Labels = std::unordered_map<std::string, std::string>;

// The plans of a document, built as the conversion first needs each part,
// and kept with the captions they hold for the next document of the same
// layout when the manager is the application's (see DocumentPlans).
struct DocumentPlan {
  Layout header_layout;
  Layout line_layout;
  std::weak_ptr<platform::Object> manager;  // the application's message manager
  const platform::Object* manager_identity = nullptr;
  std::string locale;

  Labels labels;
  std::optional<std::string> start;  // up to the OrderHeader opening tag
  std::optional<RecordPlan> header;  // its tail runs to "<OrderLines>"
  std::optional<RecordPlan> lines;
  // The opening and closing tags of the address columns read in one go,
  // for BILLING and SHIPPING.
  std::vector<std::pair<std::string, std::string>> address_tags[2];
};

// The plans of the documents a thread converted last with the application's
// message manager. A plan is used again only for the very same manager
// (alive, at the same address) and locale text, and header and lines of the
// same field names and types; the manager's captions of a locale are read
// once and kept for its life, so the captions in the plan are still its.
class DocumentPlans {
 public:
  DocumentPlan& For(Recordset& header, Recordset& lines, const ObjectPtr& manager,
                    const std::string& locale) {
    for (const auto& plan : plans_) {
      if (plan->manager_identity == manager.get() && !plan->manager.expired() &&
          plan->locale == locale && HasLayout(header, plan->header_layout) &&
          HasLayout(lines, plan->line_layout))
        return *plan;
    }
    auto plan = std::make_unique<DocumentPlan>();
    plan->header_layout = LayoutOf(header);
    plan->line_layout = LayoutOf(lines);
    plan->manager = manager;
    plan->manager_identity = manager.get();
    plan->locale = locale;
    if (plans_.size() < kPlans) {
      plans_.push_back(std::move(plan));
      return *plans_.back();
    }
    next_ = (next_ + 1) % kPlans;
    plans_[next_] = std::move(plan);
    return *plans_[next_];
  }

 private:
  static constexpr size_t kPlans = 8;
  std::vector<std::unique_ptr<DocumentPlan>> plans_;
  size_t next_ = 0;
};

DocumentPlans& ThreadPlans() {
  thread_local DocumentPlans plans;
  return plans;
}

// Dates as the platform's formatting component writes them, by locale and
// day, for the documents of one thread (cleared when it holds many).
struct DateKeyHash {
  size_t operator()(const std::pair<int32_t, double>& key) const {
    return std::hash<double>()(key.second) * 31 + static_cast<size_t>(key.first);
  }
};
constexpr size_t kDateTexts = 4096;
std::unordered_map<std::pair<int32_t, double>, std::string, DateKeyHash>& ThreadDateTexts() {
  thread_local std::unordered_map<std::pair<int32_t, double>, std::string, DateKeyHash> texts;
  return texts;
}

// The size of the thread's last document and its number of lines: the next
// one reserves as much per line, and an eighth more, so a document is
// written without growing and a small one after a large one takes little.
struct LastDocument {
  size_t size = 0;
  size_t lines = 0;
};
LastDocument& ThreadLastDocument() {
  thread_local LastDocument last;
  return last;
}
size_t ReserveFor(size_t lines) {
  const LastDocument& last = ThreadLastDocument();
  const size_t estimate = last.size / (last.lines + 1) * (lines + 1);
  return estimate + estimate / 8 + 4096;
}

// A value's kind and bits when it is a number or date that can repeat.
struct NumberKey {
  size_t kind = 0;
  uint64_t bits = 0;
  bool operator==(const NumberKey&) const = default;
};

bool KeyOf(const Variant& value, NumberKey& key) {
  if (const double* d = value.Get<double>()) key = {1, std::bit_cast<uint64_t>(*d)};
  else if (const platform::Currency* c = value.Get<platform::Currency>())
    key = {2, static_cast<uint64_t>(c->ticks())};
  else if (const platform::Date* date = value.Get<platform::Date>())
    key = {3, std::bit_cast<uint64_t>(date->serial())};
  else if (const int32_t* l = value.Get<int32_t>()) key = {4, static_cast<uint32_t>(*l)};
  else if (const int16_t* i = value.Get<int16_t>()) key = {5, static_cast<uint16_t>(*i)};
  else return false;
  return true;
}

// The last value of a repeating column and the text it was written as.
struct Repeat {
  bool set = false;
  NumberKey key;
  std::string text;
};

// The state of one conversion.
class Conversion {
 public:
  Conversion(ObjectPtr manager, std::string locale_text, int16_t locale, Basket& basket,
             DocumentPlan& plan, size_t reserve)
      : out(reserve),
        amounts(locale, lib_sales::Sls_DataFunctions()),
        plan(plan),
        manager_(std::move(manager)),
        application_manager_(dynamic_cast<platform::I18NMessageManager*>(manager_.get())),
        locale_text_(std::move(locale_text)),
        basket_(basket) {}

  XmlBuffer out;
  AmountFormat amounts;
  DocumentPlan& plan;
  bool show_tax = false;
  bool in_lines = false;  // the lines are being written
  Variant freight_total = Variant(0.0);      // F of the freight tax percentage
  Variant freight_tax_total = Variant(0.0);  // T
  std::shared_ptr<Recordset> lines;

  int32_t locale() const { return amounts.locale(); }

  // The caption of a label code; the application's own message manager is
  // asked directly, any other manager a page passes in late-bound.
  const std::string& Caption(const char* code) {
    auto it = plan.labels.find(code);
    if (it != plan.labels.end()) return it->second;
    std::string text =
        application_manager_
            ? application_manager_->GetMessage(code, locale_text_)
            : platform::Call(manager_, "GetMessage", {Variant(code), Variant(locale_text_)}).ToString();
    return plan.labels.emplace(code, std::move(text)).first->second;
  }

  // Opening tag with a caption attribute: "<" element separator "'" caption "'>".
  std::string CaptionedTag(const std::string& element, const char* separator, const char* code) {
    std::string tag = "<" + element + separator;
    AppendXmlAttribute(tag, Caption(code));
    tag += "'>";
    return tag;
  }

  // An element whose text is a caption.
  void CaptionElement(std::string& to, const char* element, const char* code) {
    to += '<';
    to += element;
    to += '>';
    AppendXmlText(to, Caption(code));
    to += "</";
    to += element;
    to += '>';
  }

  // The text of step 1: by the column's type.
  std::string TextByType(const Variant& value, int32_t type) {
    if (type == ado::adCurrency)
      return lib_sales::Sls_FormatPrice(value, false, locale(), amounts.data_functions(), 8);
    if (IsDateType(type)) return DateText(value);
    return value.ToString();
  }

  // A date as Sls_FormatDate writes it. The platform's own formatting
  // component writes a day in a locale always alike: its texts are kept per
  // thread. Whether the component is the platform's is asked once per
  // conversion, of the very component the routine would create.
  std::string DateText(const Variant& value) {
    const platform::Date* date = value.Get<platform::Date>();
    if (!date || !PlatformDates()) return lib_sales::Sls_FormatDate(value, locale());
    auto& texts = ThreadDateTexts();
    const std::pair<int32_t, double> key{locale(), date->serial()};
    if (auto it = texts.find(key); it != texts.end()) return it->second;
    std::string text = lib_sales::Sls_FormatDate(value, locale());
    if (texts.size() >= kDateTexts) texts.clear();
    texts.emplace(key, text);
    return text;
  }

  bool PlatformDates() {
    if (!dates_checked_) {
      dates_checked_ = true;
      try {
        platform_dates_ = dynamic_cast<platform::DataFunctions*>(
                              lib_sales::Sls_GetComponent("Wrenlow.DataFunctions").get()) != nullptr;
      } catch (const platform::ComError&) {
        platform_dates_ = false;  // Sls_FormatDate fails as it always has
      }
    }
    return platform_dates_;
  }

  // Step 1 appended to out, escaped: the text of the value by the column's
  // type, numbers written straight into the document.
  void AppendByType(const ColumnPlan& column, const Variant& value) {
    if (column.type != ado::adCurrency && !IsDateType(column.type)) {
      if (const std::string* text = value.Get<std::string>()) {
        AppendXmlText(out, *text);
        return;
      }
      if (const bool* flag = value.Get<bool>()) {
        out += *flag ? "True" : "False";  // as CStr writes a Boolean
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
    amount_.clear();
    amounts.AppendTo(amount_, value);
    for (const char ch : amount_) {
      const unsigned char c = static_cast<unsigned char>(ch);
      if (c < 0x20 || c >= 0x80 || c == '&' || c == '<' || c == '>') {
        AppendXmlText(out, amount_);
        return;
      }
    }
    out += amount_;
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

  // The text of a value of a column whose amounts or dates repeat: the same
  // value as the column's last is written as that was.
  void AppendRepeating(const ColumnPlan& column, const Variant& value, Repeat& last) {
    NumberKey key;
    if (!KeyOf(value, key)) {
      AppendText(column, value);
      return;
    }
    if (last.set && last.key == key) {
      out += last.text;
      return;
    }
    const size_t start = out.size();
    AppendText(column, value);
    last.set = true;
    last.key = key;
    last.text.assign(out.view(start));
  }

  // The current row's values, checked once to hold every column of the
  // plan; a row without them fails as reading the missing cell does.
  static std::span<const Variant> RowValues(const RecordPlan& record, Recordset& rs) {
    std::span<const Variant> values = rs.CurrentValues();
    if (values.size() < record.width) rs.ValueAt(static_cast<int>(record.width) - 1);
    return values;
  }

  // One record's elements, the current row of rs by the plan; repeats (one
  // per column) for a set of many rows, nullptr for one row.
  void Record(const RecordPlan& record, Recordset& rs, Repeat* repeats) {
    const size_t count = record.columns.size();
    std::span<const Variant> values = RowValues(record, rs);
    for (size_t i = 0; i < count; ++i) {
      const ColumnPlan& column = record.columns[i];
      out += column.lead;
      // Empty (never assigned) and Null are both written as no value.
      const Variant& value = values[static_cast<size_t>(column.index)];
      if (value.IsMissing()) {
        out += column.close;
        continue;
      }
      if (repeats && column.repeats) AppendRepeating(column, value, repeats[i]);
      else AppendText(column, value);
      if (column.address_type && column.address_inside) Address(value, column.address_type);
      if (column.close.empty()) continue;
      out += column.close;
      if (column.address_type && !column.address_inside) Address(value, column.address_type);
      // Whether tax is above 0 is asked of the value, not of its formatted
      // text, which in most locales is no number any more ("1.234,50").
      if (column.rule == Rule::kTaxTotal && show_tax && value.ToDouble() > 0) {
        out += basket_.SpecifyTax(lines, static_cast<int16_t>(locale()));
        // The breakdown walks the lines: should rs be they, its row is read
        // again where it stands now.
        if (i + 1 < count) values = RowValues(record, rs);
      }
    }
    out += record.tail;
  }

  // The header's carrier and addresses, read in one go when the partner
  // component is the platform's own; any other component is asked for each,
  // late-bound. A failing read leaves each to be asked as well, and fail
  // where it always did.
  void ReadHeaderPartnerData(Recordset& header, const RecordPlan& header_plan) {
    if (header_read_) return;
    header_read_ = true;
    std::vector<int32_t> ids;
    std::string carrier;
    for (const ColumnPlan& column : header_plan.columns) {
      const Variant& value = header.ValueAt(column.index);
      if (const int32_t* id = value.Get<int32_t>(); id && column.address_type) ids.push_back(*id);
      if (const std::string* code = value.Get<std::string>(); code && column.rule == Rule::kCarrier)
        carrier = *code;
    }
    if (!ReadPartnerData(ids, carrier)) return;
    read_carrier_ = std::move(carrier);
    carrier_read_ = read_.carrier_read;
  }

  // The addresses of every line, read in one go when the first line shows
  // an address not read yet.
  void ReadLineAddresses() {
    lines_read_ = true;
    if (!lines || lines->RecordCount() == 0) return;
    std::vector<int> at;
    auto& fields = lines->fields();
    for (int i = 0; i < fields.Count(); ++i)
      if (platform::text::UpperAscii(fields[i].Name()) == "ADDRESSID") at.push_back(i);
    if (at.empty()) return;
    // A clone walks the rows, so the lines being written keep their place.
    const auto walk = lines->Clone();
    std::vector<int32_t> ids;
    std::unordered_set<int32_t> seen;
    for (; !walk->Eof(); walk->MoveNext())
      for (int index : at)
        if (const int32_t* id = walk->ValueAt(index).Get<int32_t>();
            id && !asked_.contains(*id) && seen.insert(*id).second)
          ids.push_back(*id);
    ReadPartnerData(ids, {});
  }

  bool ReadPartnerData(const std::vector<int32_t>& ids, const std::string& carrier) {
    if (ids.empty() && carrier.empty()) return false;
    auto* own = dynamic_cast<platform::BusinessPartner*>(partner_.get().get());
    if (!own) return false;
    platform::BusinessPartner::DocumentData data;
    try {
      data = own->ReadForDocument(ids, carrier);
    } catch (const platform::ComError&) {
      return false;
    }
    for (int32_t id : ids) asked_.insert(id);
    for (auto& [id, values] : data.addresses) read_.addresses.insert_or_assign(id, std::move(values));
    if (data.carrier_read) {
      read_.carrier_read = true;
      read_.carrier_found = data.carrier_found;
      read_.carrier_name = std::move(data.carrier_name);
    }
    return true;
  }

  std::string CarrierName(const Variant& code, std::string text) {
    if (const std::string* given = code.Get<std::string>();
        carrier_read_ && given && *given == read_carrier_) {
      if (read_.carrier_found && lib_sales::Sls_HasValue(read_.carrier_name))
        text = read_.carrier_name.ToString();
      return text;
    }
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
    if (const int32_t* id = address_id.Get<int32_t>()) {
      const bool shipping = std::string_view(type) == "SHIPPING";
      const int64_t key = static_cast<int64_t>(*id) * 2 + (shipping ? 1 : 0);
      if (auto it = written_.find(key); it != written_.end()) {
        out += it->second;
        return;
      }
      if (in_lines && !lines_read_ && !asked_.contains(*id)) ReadLineAddresses();
      const size_t start = out.size();
      if (asked_.contains(*id)) {
        lib_sales::Guarded(kConvertAddressToXML, [&] {
          auto it = read_.addresses.find(*id);
          if (it == read_.addresses.end()) return;
          const auto& names = platform::BusinessPartner::kAddressColumns;
          for (size_t i = 0; i < names.size(); ++i) {
            const auto& [open, close] = AddressTags(shipping, i);
            out += open;
            if (!it->second[i].IsMissing()) AppendXmlText(out, it->second[i].ToString());
            out += close;
          }
        });
      } else {
        ReadAddress(address_id, type);
      }
      written_.emplace(key, out.substr(start));
      return;
    }
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

  // The tags of an address column read in one go (kAddressColumns), kept
  // with the plan.
  const std::pair<std::string, std::string>& AddressTags(bool shipping, size_t column) {
    auto& tags = plan.address_tags[shipping ? 1 : 0];
    if (tags.empty()) {
      const char* type = shipping ? "SHIPPING" : "BILLING";
      for (const char* name : platform::BusinessPartner::kAddressColumns) {
        const size_t start = out.size();
        AddressElement(type, name, Variant::Null());
        std::string element = out.substr(start);
        out.resize(start);
        const size_t split = element.find("</");
        tags.emplace_back(element.substr(0, split), element.substr(split));
      }
    }
    return tags[column];
  }

  void ReadAddress(const Variant& address_id, const char* type) {
    lib_sales::Guarded(kConvertAddressToXML, [&] {
      const ObjectPtr found =
          platform::Call(partner_.get(), "GetAddress", {address_id}).ToObject();
      auto rs = std::dynamic_pointer_cast<Recordset>(found);
      if (!rs || rs->Eof()) return;
      auto& fields = rs->fields();
      for (int i = 0; i < fields.Count(); ++i)
        AddressElement(type, fields[i].Name(), fields[i].Value());
    });
  }

  void AddressElement(const char* type, std::string_view name, const Variant& value) {
    const bool shipping = std::string_view(type) == "SHIPPING";
    const std::string column = platform::text::UpperAscii(name);
    const std::string element = type + column;
    const char* code = nullptr;
    if (column == "SHORTDESCRIPTION") code = shipping ? "SLBSA3566" : "SLBSA3565";
    else if (column == "NAME1") code = "SLBSA3567";
    else if (column == "STREET1") code = "SLBSA3568";
    else if (column == "CITY1") code = "SLBSA3569";
    else if (column == "COUNTRYCODE") code = "SLBSA3570";
    else if (column == "ZIPCODE") code = "SLBSA3571";
    out += code ? CaptionedTag(element, " label ='", code) : "<" + element + ">";
    if (!value.IsMissing()) AppendXmlText(out, value.ToString());
    out += "</" + element + ">";
  }

 private:
  std::string amount_;  // the text of the amount being written
  ObjectPtr manager_;
  platform::I18NMessageManager* application_manager_;  // manager_, when it is the application's
  std::string locale_text_;
  Basket& basket_;
  bool dates_checked_ = false;
  bool platform_dates_ = false;
  Partner partner_;
  bool header_read_ = false;  // ReadHeaderPartnerData ran
  bool lines_read_ = false;   // ReadLineAddresses ran
  std::unordered_set<int32_t> asked_;  // address ids read in one go
  platform::BusinessPartner::DocumentData read_;  // what they gave, and the carrier
  bool carrier_read_ = false;  // read_ has the carrier of read_carrier_
  std::string read_carrier_;
  std::unordered_map<int64_t, std::string> written_;        // address elements by id and type
  std::unordered_map<std::string, std::string> addresses_;  // type and other id -> elements
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

ColumnTags HeaderColumn(Conversion& c, ado::Field& field) {
  ColumnTags tags;
  ColumnPlan& plan = tags.plan;
  plan.index = field.index();
  plan.type = field.Type();
  const std::string name = platform::text::UpperAscii(field.Name());
  HeaderSpec spec;
  if (auto it = HeaderSpecs().find(name); it != HeaderSpecs().end()) spec = it->second;
  const std::string element = spec.element ? std::string(spec.element) : name;
  tags.open = spec.code ? c.CaptionedTag(element, " label = '", spec.code) : "<" + element + ">";
  tags.close = "</" + element + ">";
  tags.close_alone = spec.rule == Rule::kTaxTotal;
  plan.rule = spec.rule;
  plan.address_type = spec.address_type;
  plan.address_inside = spec.address_type != nullptr;
  return tags;
}

ColumnTags LineColumn(Conversion& c, ado::Field& field) {
  ColumnTags tags;
  ColumnPlan& plan = tags.plan;
  plan.index = field.index();
  plan.type = field.Type();
  const std::string name = platform::text::UpperAscii(field.Name());
  if (name == "LINETEXT") {
    tags.open = c.CaptionedTag("LINETEXT", " label='", "SLBSA3564");
  } else if (name == "DISCOUNTAMOUNT") {
    tags.open = "<LINEDISCOUNTAMOUNT>";
  } else {
    tags.open = "<" + name + ">";
  }
  tags.close = name == "DISCOUNTAMOUNT" ? "</LINEDISCOUNTAMOUNT>" : "</" + name + ">";
  if (name == "PRODUCTPRICE" || name == "LINEAMOUNT" || name == "FREIGHTAMOUNT" ||
      name == "LINEDISCOUNTAMOUNT" || name == "ORDERDISCOUNTAMOUNT" || name == "DISCOUNTPERC" ||
      name == "DISCOUNTAMOUNT") {
    plan.rule = Rule::kAmount;
  } else if (name == "TAXAMOUNT" || name == "FREIGHTTAXAMOUNT") {
    plan.rule = Rule::kTaxAmount;
  } else if (name == "ADDRESSID") {
    plan.address_type = "SHIPPING";
    tags.close_alone = true;
  }
  plan.repeats = plan.rule == Rule::kAmount || plan.rule == Rule::kTaxAmount ||
                 (plan.rule == Rule::kDefault && (plan.type == ado::adCurrency || IsDateType(plan.type)));
  return tags;
}

std::vector<ColumnTags> TagsOf(Conversion& c, Recordset& rs,
                               ColumnTags (*column)(Conversion&, ado::Field&)) {
  std::vector<ColumnTags> tags;
  auto& fields = rs.fields();
  tags.reserve(static_cast<size_t>(fields.Count()));
  for (int i = 0; i < fields.Count(); ++i) tags.push_back(column(c, fields[i]));
  return tags;
}

// The document up to the OrderHeader opening tag.
std::string StartOf(Conversion& c) {
  std::string start = "<?xml version=\"1.0\"?><Order><DocumentTypeID>WebOrder</DocumentTypeID>";
  c.CaptionElement(start, "WebOrderTitle", "SLBSA3554");
  c.CaptionElement(start, "WebOrderSubTitle", "SLBSA3555");
  c.CaptionElement(start, "CopyOrderTitle", "SLBSA3590");
  c.CaptionElement(start, "CopyOrderSubTitle", "SLBSA3591");
  return start;
}

// The header's columns, closed by "</OrderHeader>", the column captions and
// "<OrderLines>".
RecordPlan HeaderPlanOf(Conversion& c, Recordset& header) {
  std::string open = "<OrderHeader WebOrderLabel='";
  AppendXmlAttribute(open, c.Caption("SLBSA3556"));
  open += "' CopyOrderLabel='";
  AppendXmlAttribute(open, c.Caption("SLBSA3592"));
  open += "'>";
  std::vector<ColumnTags> columns = TagsOf(c, header, HeaderColumn);
  std::string close = "</OrderHeader>";
  c.CaptionElement(close, "ProductsLabel", "SLBSA3578");
  c.CaptionElement(close, "QtyLabel", "SLBSA3579");
  c.CaptionElement(close, "UnitLabel", "SLBSA3580");
  c.CaptionElement(close, "ReqDateLabel", "SLBSA3581");
  c.CaptionElement(close, "ItemLabel", "SLBSA3582");
  c.CaptionElement(close, "DescriptionLabel", "SLBSA3583");
  c.CaptionElement(close, "UnitPriceLabel", "SLBSA3584");
  c.CaptionElement(close, "DiscountLabel", "SLBSA3585");
  c.CaptionElement(close, "NetAmountLabel", "SLBSA3586");
  c.CaptionElement(close, "TaxCodeLabel", "SLBSA3587");
  c.CaptionElement(close, "FreightCostsLabel", "SLBSA3588");
  c.CaptionElement(close, "AddressLabel", "SLBSA3589");
  close += "<OrderLines>";
  return MergedPlan(std::move(columns), std::move(open), close);
}

bool NeedsPartner(const RecordPlan& plan) {
  for (const ColumnPlan& column : plan.columns)
    if (column.address_type || column.rule == Rule::kCarrier) return true;
  return false;
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
    if (!c.plan.header) c.plan.header = HeaderPlanOf(c, header);
    if (NeedsPartner(*c.plan.header)) c.ReadHeaderPartnerData(header, *c.plan.header);
    c.Record(*c.plan.header, header, nullptr);
  });
}

void ConvertLinesToXML(Conversion& c, Recordset& lines) {
  lib_sales::Guarded(kConvertLinesToXML, [&] {
    if (lines.RecordCount() > 0) {
      if (!c.plan.lines)
        c.plan.lines = MergedPlan(TagsOf(c, lines, LineColumn), "<OrderLine>", "</OrderLine>");
      const RecordPlan& plan = *c.plan.lines;
      c.in_lines = true;
      std::vector<Repeat> repeats(plan.columns.size());
      for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) c.Record(plan, lines, repeats.data());
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

    // The application's message manager keeps its captions: its plans are
    // kept too. Any other manager is asked for this document only.
    std::optional<DocumentPlan> own_plan;
    DocumentPlan* plan = nullptr;
    if (dynamic_cast<platform::I18NMessageManager*>(ioMessageManager.get())) {
      plan = &ThreadPlans().For(*header, *lines, ioMessageManager, iUserLocale);
    } else {
      plan = &own_plan.emplace();
    }
    const size_t line_count = static_cast<size_t>(std::max(lines->RecordCount(), 0));
    Conversion c(ioMessageManager, iUserLocale, LocaleOf(*header, iUserLocale), *this, *plan,
                 ReserveFor(line_count));
    c.lines = lines;
    c.show_tax = ShowTax(header->fields().Find("PAYMENTMETHOD")
                             ? header->Value("PAYMENTMETHOD")
                             : Variant());
    if (!plan->start) plan->start = StartOf(c);
    c.out += *plan->start;
    ConvertHeaderToXML(c, *header);
    ConvertLinesToXML(c, *lines);
    c.out += "</Order>";
    ThreadLastDocument() = {c.out.size(), line_count};
    return c.out.Take();
  });
}

}  // namespace vendra
