#include "backend/lookups.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <typeinfo>
#include <charconv>
#include <memory>
#include <pugixml.hpp>

#include "backend/connector_classes.h"
#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/erp/catalog_cache.h"
#include "platform/erp/connector_values.h"
#include "platform/erp/documents.h"
#include "platform/services/message_manager.h"
#include "shared/components.h"
#include "shared/error_handling.h"

namespace ferrolink {

using platform::ObjectPtr;
using platform::Variant;

namespace {

constexpr char kNoInstance[] = "V50cVDRStdslsShowSalesOrder.ShowSalesOrdersManager: ";

enum class Form { Raw, Esc, Text };

// One element of a document: its tag, the getter it is read with, how the
// value is written, and whether it is read from the other object: line 0
// for a header element (ASN-NO, INVOICENO, the invoice amounts), the order
// for a line element (the notice's CARRIER).
struct Element {
  const char* tag;
  const char* getter;  // without "get"
  Form form;
  bool from_other = false;
};

#define ADDRESS(prefix, side)                                                    \
  {prefix "NAMA", side "AddressName1", Form::Esc},                               \
      {prefix "NAMB", side "AddressName2", Form::Esc},                           \
      {prefix "NAMC", side "AddressStreet1", Form::Esc},                         \
      {prefix "NAMD", side "AddressStreet2", Form::Esc},                         \
      {prefix "NAME", side "AddressCity1", Form::Esc},                           \
      {prefix "NAMF", side "AddressCity2", Form::Esc},                           \
      {prefix "PSTC", side "AddressZipCode", Form::Esc},                         \
      {prefix "CCTY", side "AddressCountry", Form::Esc},                         \
      {prefix "CSTE", side "StateProvince", Form::Esc},                          \
      {prefix "TEFX", side "Fax", Form::Esc}, {prefix "TELP", side "Telephone", Form::Esc}

const Element kAckHeader[] = {
    {"SLS-ORDER", "OrderNumber", Form::Raw},
    {"CUST-REF", "ReferenceA", Form::Esc},
    {"CUST-PO", "CustomerOrderNumber", Form::Esc},
    {"ORDER-DATE", "OrderDate", Form::Raw},
    {"ORDER-DISC", "OrderDiscount", Form::Esc},
    {"ORDER-CURR", "OrderCurrency", Form::Esc},
    ADDRESS("BILL-", "BillTo"),
    ADDRESS("SHIP-", "ShipTo"),
    {"BUS-PART", "SoldToBusinessPartner", Form::Esc},
    {"CONTACT", "SoldToContact", Form::Esc},
    {"CONT-NAME", "SoldToContact", Form::Esc},
    {"HTX", "OrderText", Form::Text},
};
const Element kAckLine[] = {
    {"POS", "PositionNumber", Form::Raw},
    {"PRODUCT", "Item", Form::Esc},
    {"PROD-DESC", "ItemDescription", Form::Esc},
    {"REQ-QTY", "OrderedQuantity", Form::Raw},
    {"SLS-UNIT", "SalesUnit", Form::Esc},
    {"REQ-DATE", "PlannedDelDate", Form::Esc},
    {"PRICE", "Price", Form::Raw},
    {"PRICE-UNIT", "PriceUnit", Form::Esc},
    {"DISC-PERC", "LineDiscount", Form::Raw},
    {"DISC-AMNT", "LineDiscountAmount", Form::Raw},
    {"LINE-AMNT", "LineAmount", Form::Raw},
    {"CONTR-NO", "ContractNumber", Form::Raw},
    {"QUOTE-NO", "QuotationNumber", Form::Raw},
    {"QUOTE-POS", "QuotationPosition", Form::Raw},
    ADDRESS("LSHIP-", "LShipTo"),
    {"LTX", "LineText", Form::Text},
};
const Element kAsnHeader[] = {
    {"ASN-NO", "ShipmentNumber", Form::Raw, true},
    {"BUS-PART-C", "SoldToBusinessPartner", Form::Esc},
    {"CUST-PO", "CustomerOrderNumber", Form::Esc},
    {"CUST-REF", "ReferenceA", Form::Esc},
    {"CONTACT", "SoldToContact", Form::Esc},
    {"REP-NAME", "SalesRep", Form::Esc},
    {"NAMA", "ShipToAddressName1", Form::Esc},
    {"NAMB", "ShipToAddressName2", Form::Esc},
    {"NAMC", "ShipToAddressStreet1", Form::Esc},
    {"NAMD", "ShipToAddressStreet2", Form::Esc},
    {"NAME", "ShipToAddressCity1", Form::Esc},
    {"NAMF", "ShipToAddressCity2", Form::Esc},
    {"ZIP-CODE", "ShipToAddressZipCode", Form::Esc},
    {"COUNTRY", "ShipToAddressCountry", Form::Esc},
    {"TO-CSTE", "ShipToStateProvince", Form::Esc},
    {"TO-TEFX", "ShipToFax", Form::Esc},
    {"TO-TELP", "ShipToTelephone", Form::Esc},
    {"HTX", "OrderText", Form::Text},
};
const Element kAsnLine[] = {
    {"SO-PONO", "PositionNumber", Form::Raw},
    {"PRODUCT", "Item", Form::Esc},
    {"PROD-DESC", "ItemDescription", Form::Esc},
    {"DEL-QTY", "DeliveredQuantity", Form::Raw},
    {"ORDER-QTY", "OrderedQuantity", Form::Raw},
    {"UNIT", "SalesUnit", Form::Esc},
    {"CARRIER", "Carrier", Form::Esc, true},
    {"SLS-ORDER", "OrderNumber", Form::Raw},
    {"SLS-PONO", "PositionNumber", Form::Raw},
    {"DEL-DTE", "DeliveredDate", Form::Raw},
    {"LTX", "LineText", Form::Text},
};
const Element kInvHeader[] = {
    {"INVOICENO", "InvoiceNumber", Form::Raw, true},
    {"SLS-ORDER", "OrderNumber", Form::Raw},
    {"ORDER-DATE", "OrderDate", Form::Raw},
    {"CUST-REF", "ReferenceA", Form::Esc},
    {"CUST-PO", "CustomerOrderNumber", Form::Esc},
    {"BUS-PART-C", "SoldToBusinessPartner", Form::Esc},
    {"SREP-NAME", "SalesRep", Form::Esc},
    {"CONTACT", "SoldToContact", Form::Esc},
    {"CARRIER", "Carrier", Form::Esc},
    ADDRESS("BILL-", "BillTo"),
    {"BILL-TAXNO", "BillToTaxNO", Form::Raw},
    {"CURRENCY", "OrderCurrency", Form::Esc},
    {"INVOICE-AMNT", "InvoiceAmount", Form::Raw, true},
    {"GOODS-AMNT", "GoodsAmount", Form::Raw, true},
    {"CSTSRV-AMNT", "CostServiceAmount", Form::Raw, true},
    {"DISC-AMNT", "OrderDiscount", Form::Raw},
    {"TAX-AMNT", "TaxAmount", Form::Raw, true},
    {"HTX", "OrderText", Form::Text},
};
const Element kInvLine[] = {
    {"POSITION", "PositionNumber", Form::Raw},
    {"PROJECT", "Project", Form::Esc},
    {"PRODUCT", "Item", Form::Esc},
    {"PROD-DESC", "ItemDescription", Form::Esc},
    {"REQ-QTY", "OrderedQuantity", Form::Raw},
    {"DEL-QTY", "DeliveredQuantity", Form::Raw},
    {"SLS-UNIT", "SalesUnit", Form::Esc},
    {"PRICE", "Price", Form::Raw},
    {"PRICE-UNIT", "PriceUnit", Form::Esc},
    {"DEL-DATE", "DeliveredDate", Form::Raw},
    {"ASN-NO", "ShipmentNumber", Form::Raw},
    {"TAX-CODE", "TaxCode", Form::Raw},
    {"SLSLIN-AMT", "LineAmount", Form::Raw},
    {"LDISC-AMNT", "LineDiscountAmount", Form::Raw},
    {"LTX", "LineText", Form::Text},
};
#undef ADDRESS

struct Label {
  const char* tag;
  const char* code;
};

struct LabelBlock {
  const char* open;   // "<Labels><ACKNOWLEDGEMENT>"
  const char* close;  // "</ACKNOWLEDGEMENT></Labels>"
  Label title;
  const char* section;  // ACK
  const char* header;   // ACK-HEADER
  std::span<const Label> header_labels;
  const char* line;  // ACK-LINE
  std::span<const Label> line_labels;
};

const Label kAckHeaderLabels[] = {
    {"ACK-HEADER-LABEL", "SLBSA6240"}, {"SLS-ORDER", "SLBSA6241"}, {"BUS-PART", "SLBSA6242"},
    {"CUST-REF", "SLBSA6208"},         {"ORD-DATE", "SLBSA6243"},  {"CONTACT", "SLBSA6205"},
    {"CURRENCY", "SLBSA6221"},         {"CONT-NAME", "SLBSA6245"}, {"ORD-DISC", "SLBSA6246"},
    {"BIL-ADD", "SLBSA6226"},          {"SHIP-ADD", "SLBSA6247"},  {"BILL-TO", "SLBSA6248"},
    {"SHIP-TO", "SLBSA6249"},          {"STREET", "SLBSA6250"},    {"CITY", "SLBSA6251"},
    {"COUNTRY", "SLBSA6252"},          {"ZIP-CODE", "SLBSA6253"},  {"TAX-NUM", "SLBSA6254"},
    {"HDR-REM", "SLBSA6255"}};
const Label kAckLineLabels[] = {
    {"ACK-LINE-LABEL", "SLBSA6256"}, {"ACK-NR", "SLBSA6203"},   {"PRODUCT", "SLBSA6257"},
    {"DESC", "SLBSA6211"},           {"QTY", "SLBSA6258"},      {"REQ-DATE", "SLBSA6244"},
    {"UNIT", "SLBSA0604"},           {"PRICE", "SLBSA6233"},    {"DISC-PERC", "SLBSA6259"},
    {"AMOUNT", "SLBSA6260"}};
const Label kAsnHeaderLabels[] = {
    {"ASN-HEADER-LABEL", "SLBSA6202"}, {"ASN-NO", "SLBSA6203"},  {"BUS-PART-C", "SLBSA6204"},
    {"CUST-PO", "SLBSA6207"},          {"CUST-REF", "SLBSA6208"}, {"CONTACT", "SLBSA6205"},
    {"REP-NAME", "SLBSA6206"},         {"ADDRESS", "SLBSA6209"}};
const Label kAsnLineLabels[] = {
    {"ASN-LINE-LABEL", "SLBSA6238"}, {"SO-PONO", "SLBSA6203"},  {"PRODUCT", "SLBSA6210"},
    {"PROD-DESC", "SLBSA6211"},      {"DEL-QTY", "SLBSA6212"},  {"ORDER-QTY", "SLBSA6213"},
    {"CARRIER", "SLBSA6214"}};
const Label kInvHeaderLabels[] = {
    {"INV-HEADER-LABEL", "SLBSA6216"}, {"INV-NR", "SLBSA6217"},      {"ORDER-NR", "SLBSA6218"},
    {"DATE", "SLBSA6219"},             {"BUS-PART", "SLBSA6204"},    {"CONTACT", "SLBSA6205"},
    {"DISCOUNT", "SLBSA6220"},         {"CURRENCY", "SLBSA6221"},    {"TAX-CODE", "SLBSA6222"},
    {"TAX-AMNT", "SLBSA6223"},         {"HEADER-TEXT", "SLBSA6224"}, {"CUST-REF", "SLBSA6208"},
    {"SALES-REP", "SLBSA6225"},        {"BILL-ADD", "SLBSA6226"}};
const Label kInvLineLabels[] = {
    {"POSITION", "SLBSA6227"},  {"CUST-POS", "SLBSA6228"},   {"PROJECT", "SLBSA6229"},
    {"CODE", "SLBSA6230"},      {"REQ-QTY", "SLBSA6231"},    {"DEL-QTY", "SLBSA6212"},
    {"SLS-UNIT", "SLBSA6232"},  {"PRICE", "SLBSA6233"},      {"PRICE-UNIT", "SLBSA6234"},
    {"DEL-DATE", "SLBSA6235"},  {"LDISC-AMNT", "SLBSA6220"}, {"CODE-DESC", "SLBSA6236"},
    {"LTX", "SLBSA6237"}};

const LabelBlock kAckLabels{"<Labels><ACKNOWLEDGEMENT>", "</ACKNOWLEDGEMENT></Labels>",
                            {"SO-ACK", "SLBSA6239"}, "ACK", "ACK-HEADER", kAckHeaderLabels,
                            "ACK-LINE", kAckLineLabels};
const LabelBlock kAsnLabels{"<Labels><ADV-SHP-NC>", "</ADV-SHP-NC></Labels>",
                            {"ASNSHIPDOC", "SLBSA6201"}, "ASN", "ASN-HEADER", kAsnHeaderLabels,
                            "ASN-LINE", kAsnLineLabels};
const LabelBlock kInvLabels{"<Labels><INVOICE>", "</INVOICE></Labels>",
                            {"INVDOC", "SLBSA6215"}, "INV", "INV-HEADER", kInvHeaderLabels,
                            "INV-LINE", kInvLineLabels};

// Whether the entity and character references and "]]>" in text are what
// XML allows in element content (pugixml, not validating, lets a bare "&"
// pass).
bool ReferencesValid(std::string_view text) {
  if (text.find("]]>") != std::string_view::npos) return false;
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    const size_t end = text.find(';', at);
    if (end == std::string_view::npos) return false;
    const std::string_view name = text.substr(at + 1, end - at - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "apos" || name == "quot") continue;
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    uint32_t code = 0;
    const auto [ptr, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) return false;
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                         (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                         (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed) return false;
  }
  return true;
}

// Whether text may stand as it is between two tags: no markup character, or
// markup that is well-formed element content.
bool WellFormedContent(std::string_view text) {
  if (text.find_first_of("<&>") == std::string_view::npos) return true;
  if (!ReferencesValid(text)) return false;
  if (text.find('<') == std::string_view::npos) return true;
  std::string wrapped;
  wrapped.reserve(text.size() + 7);
  wrapped.append("<x>").append(text).append("</x>");
  pugi::xml_document doc;
  return doc.load_buffer(wrapped.data(), wrapped.size(), pugi::parse_default, pugi::encoding_utf8)
      .status == pugi::status_ok;
}

// Which bytes EscapeXmlText writes as entities.
constexpr auto kEscaped = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {'&', '\'', '"', '<', '>'}) t[c] = true;
  return t;
}();

// EscapeXmlText's text appended to xml.
void AppendEscaped(std::string& xml, std::string_view text) {
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!kEscaped[static_cast<unsigned char>(text[i])]) continue;
    const char* entity;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '\'': entity = "&apos;"; break;
      case '"': entity = "&quot;"; break;
      case '<': entity = "&lt;"; break;
      default: entity = "&gt;"; break;
    }
    xml.append(text.data() + plain, i - plain);
    xml.append(entity);
    plain = i + 1;
  }
  xml.append(text.data() + plain, text.size() - plain);
}

void AppendContent(std::string& xml, std::string_view text) {
  if (WellFormedContent(text)) {
    xml.append(text);
  } else {
    AppendEscaped(xml, text);
  }
}

void OpenTag(std::string& xml, std::string_view tag) { xml.append("<").append(tag).append(">"); }
void CloseTag(std::string& xml, std::string_view tag) { xml.append("</").append(tag).append(">"); }

// The text of a text block: its pieces one after the other, in *scratch
// unless the block is one piece.
std::string_view BlockText(const Variant& block, std::string* scratch) {
  scratch->clear();
  if (!block.IsObject()) {
    if (!block.IsMissing()) *scratch = block.ToString();
    return *scratch;
  }
  const ObjectPtr o = block.ToObject();
  // The simulated ERP's own blocks are read directly.
  if (const auto* own = o && typeid(*o) == typeid(platform::erp::DocumentText)
                            ? static_cast<const platform::erp::DocumentText*>(o.get())
                            : nullptr) {
    const std::vector<std::string>& pieces = own->pieces();
    if (pieces.size() == 1) return pieces[0];
    for (const std::string& piece : pieces) scratch->append(piece);
    return *scratch;
  }
  const int32_t n = platform::Call(o, "sizeTextValue").ToLong();
  for (int32_t i = 0; i < n; ++i) {
    const ObjectPtr piece = platform::Call(o, "getTextValueAt", {Variant(i)}).ToObject();
    scratch->append(platform::Call(piece, "GetText").ToString());
  }
  return *scratch;
}

// The simulated ERP's own record behind o, or nullptr. Its records are of
// that exact class, so the type is compared rather than searched for (a
// document of many lines asks for every line).
const platform::erp::DocumentRecord* OwnRecord(const ObjectPtr& o) {
  return o && typeid(*o) == typeid(platform::erp::DocumentRecord)
             ? static_cast<const platform::erp::DocumentRecord*>(o.get())
             : nullptr;
}

// An element table with its tags written out once.
struct Table {
  std::span<const Element> elements;
  std::vector<std::string> open, close;
};

Table MakeTable(std::span<const Element> elements) {
  Table t{elements, {}, {}};
  for (const Element& e : elements) {
    t.open.push_back("<" + std::string(e.tag) + ">");
    t.close.push_back("</" + std::string(e.tag) + ">");
  }
  return t;
}

// Where a table's getters are in one layout of the simulated ERP's records:
// found for the first record of a layout, reused for every line sharing it.
struct Places {
  const platform::erp::DocumentRecord::Layout* layout = nullptr;
  std::vector<int> at;
  const std::vector<int>& For(const platform::erp::DocumentRecord& record, const Table& table) {
    if (record.layout() != layout) {
      layout = record.layout();
      at.clear();
      for (const Element& e : table.elements) at.push_back(layout->IndexOf(e.getter));
    }
    return at;
  }
};

// What a document's records are read with while it is written.
struct Reader {
  Places source, other;
  std::string has, get, text;
  Variant called;
};

void AppendValue(std::string& xml, const Table& table, size_t i, const Variant& value,
                 Reader& r) {
  const Element& e = table.elements[i];
  const std::string& open = table.open[i];
  const std::string& close = table.close[i];
  // The common case, a short text value with nothing to escape: the
  // element put together on the stack and appended at once.
  if (const std::string* text = e.form == Form::Text ? nullptr : value.Get<std::string>()) {
    char element[256];
    const size_t size = open.size() + text->size() + close.size();
    if (size <= sizeof element &&
        std::none_of(text->begin(), text->end(),
                     [](char c) { return kEscaped[static_cast<unsigned char>(c)]; })) {
      std::memcpy(element, open.data(), open.size());
      std::memcpy(element + open.size(), text->data(), text->size());
      std::memcpy(element + open.size() + text->size(), close.data(), close.size());
      xml.append(element, size);
      return;
    }
  }
  xml.append(open);
  if (e.form == Form::Text) {
    AppendContent(xml, BlockText(value, &r.text));
  } else if (!value.IsMissing()) {
    // The raw values are the ERP's numbers, dates and codes: escaping
    // leaves them as they are and keeps a stray markup character from
    // breaking the document.
    if (const std::string* text = value.Get<std::string>()) AppendEscaped(xml, *text);
    else AppendEscaped(xml, value.ToString());
  }
  xml.append(close);
}

void AppendElements(std::string& xml, const Table& table, const ObjectPtr& source,
                    const ObjectPtr& other, Reader& r) {
  // The simulated ERP's records answer hasX and getX from what they hold:
  // read directly, as a document of many lines asks thousands of them.
  const auto* own_source = OwnRecord(source);
  const auto* own_other = OwnRecord(other);
  const std::vector<int>* source_at = own_source ? &r.source.For(*own_source, table) : nullptr;
  const std::vector<int>* other_at = own_other ? &r.other.For(*own_other, table) : nullptr;
  for (size_t i = 0; i < table.elements.size(); ++i) {
    const Element& e = table.elements[i];
    const ObjectPtr& from = e.from_other ? other : source;
    if (!from) continue;
    const platform::erp::DocumentRecord* own = e.from_other ? own_other : own_source;
    if (own) {
      const int at = (*(e.from_other ? other_at : source_at))[i];
      if (at < 0) continue;
      AppendValue(xml, table, i, own->ValueAt(at), r);
    } else {
      r.has.assign("has").append(e.getter);
      if (!platform::Call(from, r.has).ToBool()) continue;
      r.get.assign("get").append(e.getter);
      r.called = platform::Call(from, r.get);
      AppendValue(xml, table, i, r.called, r);
    }
  }
}

void AppendLabels(std::string& xml, const LabelBlock& block, const ObjectPtr& messages,
                  const std::string& locale) {
  // The application's own message manager is asked directly; any other
  // by name.
  auto* own = dynamic_cast<platform::I18NMessageManager*>(messages.get());
  std::string code;
  auto caption = [&](const Label& l) {
    OpenTag(xml, l.tag);
    if (own) {
      code.assign(l.code);
      AppendContent(xml, own->GetMessage(code, locale));
    } else {
      AppendContent(xml, platform::Call(messages, "GetMessage", {Variant(l.code), Variant(locale)})
                             .ToString());
    }
    CloseTag(xml, l.tag);
  };
  xml.append(block.open);
  caption(block.title);
  OpenTag(xml, block.section);
  OpenTag(xml, block.header);
  for (const Label& l : block.header_labels) caption(l);
  CloseTag(xml, block.header);
  OpenTag(xml, block.line);
  for (const Label& l : block.line_labels) caption(l);
  CloseTag(xml, block.line);
  CloseTag(xml, block.section);
  xml.append(block.close);
}

}  // namespace

std::string EscapeXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out.append("&amp;"); break;
      case '\'': out.append("&apos;"); break;
      case '"': out.append("&quot;"); break;
      case '<': out.append("&lt;"); break;
      case '>': out.append("&gt;"); break;
      default: out.push_back(c);
    }
  }
  return out;
}

const platform::ClassBinding<Lookups>& Lookups::Binding() {
  static const auto b = platform::ClassBinding<Lookups>("Lookups")
                            .Method("GetXML", &Lookups::GetXML)
                            .Method("ShowSOACKDetails", &Lookups::ShowSOACKDetails)
                            .Method("ShowSOASNDetails", &Lookups::ShowSOASNDetails)
                            .Method("ShowSOINVDetails", &Lookups::ShowSOINVDetails)
                            .Method("ResolveInstance", &Lookups::ResolveInstance)
                            .Property("XSLT_PATH", &Lookups::XSLT_PATH, &Lookups::SetXSLT_PATH);
  return b;
}

std::string Lookups::ResolveInstance(const std::string& i_sKroID) {
  const std::string_view id = platform::text::TrimBlanks(i_sKroID);
  int32_t kro_id = 0;
  const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), kro_id);
  if (id.empty() || ec == std::errc::invalid_argument || end != id.data() + id.size()) {
    platform::Raise(platform::err::kTypeMismatch, "Ferrolink.Lookups.ResolveInstance",
                    "The KRO id '" + i_sKroID + "' is not a whole number");
  }
  if (ec == std::errc::result_out_of_range) {
    platform::Raise(platform::err::kOverflow, "Ferrolink.Lookups.ResolveInstance",
                    "The KRO id '" + i_sKroID + "' is outside the range of an instance id");
  }
  const ObjectPtr selector = lib_sales::Sls_GetComponent("Gantrel.Selector");
  const ObjectPtr instance = platform::Call(selector, "GetInstance", {Variant(kro_id)}).ToObject();
  const ObjectPtr settings = platform::Call(instance, "Settings").ToObject();
  const Variant id_value = platform::GetProperty(settings, "Item", {Variant("componentid")});
  const std::string component_id = id_value.IsMissing() ? "" : id_value.ToString();
  if (component_id.empty()) {
    const std::string source = std::string(kNoInstance) + "Kro Instance not found";
    LogError(lib_sales::Code(lib_sales::VendraError::KROIDNotFound), source,
             "Kro Instance not found", source);
  }
  connector_type_ =
      platform::text::LowerAscii(platform::Call(instance, "ConnectorType").ToString());
  return component_id;
}

bool Lookups::Show(Kind kind, const std::string& kro_id, const std::string& order_number,
                   std::string& xml_out, const ObjectPtr& messages, const std::string& locale,
                   Variant& err_info) {
  // The instance, the component and the document as of one state of the
  // ERP's catalog, checked once.
  const platform::erp::CatalogCache::Pin pin;
  const std::string component_id = ResolveInstance(kro_id);
  // The tw4 class answers for any type it does not know.
  const ConnectorType type =
      platform::erp::ParseConnectorType(connector_type_).value_or(ConnectorType::Tw4);
  const ObjectPtr component = NewShowSalesOrderComponent(type);
  platform::Call(component, "Initialize", {Variant(component_id)});
  const char* action = kind == Kind::Ack   ? "showsalesorderacknowledgment"
                       : kind == Kind::Asn ? "showsalesorderadvancedshipmentnotice"
                                           : "showsalesorderinvoice";
  const ObjectPtr result = platform::Call(component, action, {Variant(order_number)}).ToObject();

  const ObjectPtr errors = platform::Call(result, "getVornErrorDocAt", {Variant(int32_t{0})}).ToObject();
  if (platform::GetProperty(errors, "Count").ToLong() > 0) {
    const ObjectPtr entry = platform::GetProperty(errors, "Item", {Variant(int32_t{0})}).ToObject();
    const int32_t number = platform::GetProperty(entry, "ErrorNumber").ToLong();
    if (number > 0) {
      err_info = Variant(std::to_string(number));
      return false;
    }
  }
  const char* set_getter = kind == Kind::Ack   ? "getACKSLSRecordSetAt"
                           : kind == Kind::Asn ? "getASNSLSRecordSetAt"
                                               : "getINVSLSRecordSetAt";
  const ObjectPtr set = platform::Call(result, set_getter, {Variant(int32_t{0})}).ToObject();
  if (!set || platform::Call(set, "sizeOSalesOrder").ToLong() < 1) return false;
  const ObjectPtr order = platform::Call(set, "getOSalesOrderAt", {Variant(int32_t{0})}).ToObject();
  if (!order) return false;

  std::vector<ObjectPtr> fetched;
  const std::vector<ObjectPtr>* own_lines = nullptr;
  if (const auto* own = dynamic_cast<const platform::erp::DocumentRecord*>(order.get())) {
    own_lines = own->List("SOLineDetails");
  } else {
    const int32_t count = platform::Call(order, "sizeSOLineDetails").ToLong();
    fetched.reserve(count);
    for (int32_t i = 0; i < count; ++i)
      fetched.push_back(platform::Call(order, "getSOLineDetailsAt", {Variant(i)}).ToObject());
  }
  const std::vector<ObjectPtr>& lines = own_lines ? *own_lines : fetched;
  const int32_t count = static_cast<int32_t>(lines.size());
  const ObjectPtr line0 = lines.empty() ? nullptr : lines[0];

  static const Table ack_header = MakeTable(kAckHeader), ack_line = MakeTable(kAckLine),
                     asn_header = MakeTable(kAsnHeader), asn_line = MakeTable(kAsnLine),
                     inv_header = MakeTable(kInvHeader), inv_line = MakeTable(kInvLine);
  // Sized from the last document of this thread, so a page showing
  // documents of about one size writes each without growing the text (and
  // without asking the system for fresh pages each time).
  thread_local size_t last_size = 0;
  std::string xml;
  xml.reserve(std::max(last_size + last_size / 8, size_t{2048} + static_cast<size_t>(count) * 512));
  Reader header_reader, reader;
  switch (kind) {
    case Kind::Ack:
      xml.append("<SO-ACK><DOCTYPE-ID>SLSACK</DOCTYPE-ID>");
      AppendElements(xml, ack_header, order, line0, header_reader);
      for (const ObjectPtr& line : lines) {
        xml.append("<LINE>");
        AppendElements(xml, ack_line, line, order, reader);
        xml.append("</LINE>");
      }
      AddLabelsToACKXML(xml, messages, locale);
      xml.append("</SO-ACK>");
      break;
    case Kind::Asn:
      xml.append("<ADV-SHP-NC><DOCTYPE-ID>ASN</DOCTYPE-ID><ASN>");
      AppendElements(xml, asn_header, order, line0, header_reader);
      for (const ObjectPtr& line : lines) {
        xml.append("<LIN>");
        AppendElements(xml, asn_line, line, order, reader);
        xml.append("</LIN>");
      }
      xml.append("</ASN>");
      AddLabelsToASNXML(xml, messages, locale);
      xml.append("</ADV-SHP-NC>");
      break;
    case Kind::Inv:
      xml.append("<INVOICE><DOCTYPE-ID>SLS-INV</DOCTYPE-ID>");
      AppendElements(xml, inv_header, order, line0, header_reader);
      for (const ObjectPtr& line : lines) {
        xml.append("<LINE>");
        AppendElements(xml, inv_line, line, order, reader);
        xml.append("</LINE>");
      }
      AddLabelsToINVXML(xml, messages, locale);
      xml.append("</INVOICE>");
      break;
  }
  last_size = xml.size();
  const bool produced = !xml.empty();
  xml_out = std::move(xml);
  return produced;
}

bool Lookups::Details(Kind kind, const std::string& kro_id, const std::string& order_number,
                      std::string& xml, const ObjectPtr& messages, const std::string& locale,
                      Variant& err_info) {
  if (kind == Kind::Ack) {
    return lib_sales::Guarded("Ferrolink.Lookups.ShowSOACKDetails()", [&] {
      return Show(Kind::Ack, kro_id, order_number, xml, messages, locale, err_info);
    });
  }
  try {
    return Show(kind, kro_id, order_number, xml, messages, locale, err_info);
  } catch (...) {
    lib_sales::LogFailure(kind == Kind::Asn ? "Ferrolink.Lookups.ShowSOASNDetails()"
                                            : "Ferrolink.Lookups.ShowSOINVDetails()");
    return false;
  }
}

bool Lookups::DetailsInto(Kind kind, const std::string& kro_id, const std::string& order_number,
                          Variant& o_vOrderXml, const ObjectPtr& messages,
                          const std::string& locale, Variant& err_info) {
  std::string xml;
  const bool produced = Details(kind, kro_id, order_number, xml, messages, locale, err_info);
  if (produced) o_vOrderXml = Variant(std::move(xml));
  return produced;
}

bool Lookups::ShowSOACKDetails(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                               Variant& o_vOrderXml, const ObjectPtr& ioMessageManager,
                               const std::string& iUserLocale, Variant& i_sErrInfo) {
  return DetailsInto(Kind::Ack, i_sKroID, i_sOrderNumber, o_vOrderXml, ioMessageManager,
                     iUserLocale, i_sErrInfo);
}

bool Lookups::ShowSOASNDetails(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                               Variant& o_vOrderXml, const ObjectPtr& ioMessageManager,
                               const std::string& iUserLocale, Variant& i_sErrInfo) {
  return DetailsInto(Kind::Asn, i_sKroID, i_sOrderNumber, o_vOrderXml, ioMessageManager,
                     iUserLocale, i_sErrInfo);
}

bool Lookups::ShowSOINVDetails(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                               Variant& o_vOrderXml, const ObjectPtr& ioMessageManager,
                               const std::string& iUserLocale, Variant& i_sErrInfo) {
  return DetailsInto(Kind::Inv, i_sKroID, i_sOrderNumber, o_vOrderXml, ioMessageManager,
                     iUserLocale, i_sErrInfo);
}

std::string Lookups::GetXML(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                            const std::string& i_sLookupType, const ObjectPtr& ioMessageManager,
                            const std::string& iUserLocale, Variant& i_sErrInfo) {
  return lib_sales::Guarded("Ferrolink.Lookups.GetXML()", [&]() -> std::string {
    // The document is handed back as written, without a copy.
    std::string xml;
    bool produced = false;
    if (i_sLookupType == "ACK") {
      produced = Details(Kind::Ack, i_sKroID, i_sOrderNumber, xml, ioMessageManager, iUserLocale,
                         i_sErrInfo);
    } else if (i_sLookupType == "ASN") {
      produced = Details(Kind::Asn, i_sKroID, i_sOrderNumber, xml, ioMessageManager, iUserLocale,
                         i_sErrInfo);
    } else if (i_sLookupType == "INV") {
      produced = Details(Kind::Inv, i_sKroID, i_sOrderNumber, xml, ioMessageManager, iUserLocale,
                         i_sErrInfo);
    }
    if (!produced) xml.clear();
    return xml;
  });
}

void Lookups::AddLabelsToACKXML(std::string& xml, const ObjectPtr& ioMessageManager,
                                const std::string& iUserLocale) {
  lib_sales::Guarded("Ferrolink.Lookups.AddLabelsToACKXML",
                     [&] { AppendLabels(xml, kAckLabels, ioMessageManager, iUserLocale); });
}

void Lookups::AddLabelsToASNXML(std::string& xml, const ObjectPtr& ioMessageManager,
                                const std::string& iUserLocale) {
  lib_sales::Guarded("Ferrolink.Lookups.AddLabelsToASNXML",
                     [&] { AppendLabels(xml, kAsnLabels, ioMessageManager, iUserLocale); });
}

void Lookups::AddLabelsToINVXML(std::string& xml, const ObjectPtr& ioMessageManager,
                                const std::string& iUserLocale) {
  lib_sales::Guarded("Ferrolink.Lookups.AddLabelsToINVXML",
                     [&] { AppendLabels(xml, kInvLabels, ioMessageManager, iUserLocale); });
}

}  // namespace ferrolink
