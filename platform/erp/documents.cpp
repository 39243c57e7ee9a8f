#include "platform/erp/documents.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/erp/catalog_cache.h"

namespace platform::erp {

namespace {

using json = nlohmann::json;
constexpr char kSource[] = "Gantrel.Connector";

// Amounts with two decimals and quantities with up to 15 significant digits,
// as printf's "%.2f" and "%.15g" write them (to_chars is defined to give
// printf's text, without its cost per call).
std::string Money(double d) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, std::round(d * 100) / 100 + 0.0,
                               std::chars_format::fixed, 2);
  return std::string(buf, r.ptr);
}

std::string Quantity(double d) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

double Round2(double d) { return std::round(d * 100) / 100; }

// Dates as the connector type writes them: tw4 "yyyy/mm/dd", the others
// "yyyy-mm-dd".
std::string DateText(ConnectorType type, const Date& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, type == ConnectorType::Tw4 ? "%04d/%02d/%02d" : "%04d-%02d-%02d",
                d.year(), d.month(), d.day());
  return buf;
}

// A text block of the document: the pieces as stored.
ObjectPtr TextBlockOf(const json& pieces) {
  std::vector<std::string> texts;
  texts.reserve(pieces.size());
  for (const json& p : pieces) texts.push_back(p.is_string() ? p.get<std::string>() : p.dump());
  return std::make_shared<DocumentText>(std::move(texts));
}

// A stored value as the document gives it: texts and numbers as text, text
// blocks as blocks, a discount record as its one value; null is absent.
std::optional<Variant> StoredValue(const json& data, const char* key) {
  auto it = data.find(key);
  if (it == data.end() || it->is_null()) return std::nullopt;
  const json& v = *it;
  if (v.is_string()) return Variant(v.get<std::string>());
  if (v.is_boolean()) return Variant(v.get<bool>());
  if (v.is_number()) return Variant(Quantity(v.get<double>()));
  if (v.is_array()) return Variant(TextBlockOf(v));
  if (v.is_object() && !v.empty()) {
    const json& first = v.begin().value();
    if (first.is_number()) return Variant(Quantity(first.get<double>()));
    if (first.is_string()) return Variant(first.get<std::string>());
  }
  return std::nullopt;
}

double StoredNumber(const json& data, const char* key) {
  auto it = data.find(key);
  if (it == data.end()) return 0;
  const json* v = &*it;
  if (v->is_object() && !v->empty()) v = &v->begin().value();
  if (v->is_number()) return v->get<double>();
  if (v->is_string()) {
    try {
      return Variant(v->get<std::string>()).ToDouble();
    } catch (const ComError&) {
    }
  }
  return 0;
}

void Copy(DocumentRecord& to, const char* name, const json& data, const char* key) {
  if (auto v = StoredValue(data, key)) to.Put(name, std::move(*v));
}

constexpr const char* kAddressParts[] = {"AddressName1", "AddressName2", "AddressStreet1",
                                         "AddressStreet2", "AddressCity1", "AddressCity2",
                                         "AddressZipCode", "AddressCountry", "StateProvince",
                                         "Fax", "Telephone"};

std::shared_ptr<DocumentRecord> Header(ConnectorType type, data::Recordset& head) {
  const bool tw4 = type == ConnectorType::Tw4;
  const json data = json::parse(head.Value("DATA").ToString());
  auto order = std::make_shared<DocumentRecord>(std::string(ConnectorTypeCode(type)) + ".OSalesOrder");
  order->Put("OrderNumber", Variant(head.Value("SALESORDERNR").ToString()));
  order->Put("OrderDate", Variant(DateText(type, head.Value("CREATED").ToDate())));
  Copy(*order, "ReferenceA", data, "ReferenceA");
  Copy(*order, "CustomerOrderNumber", data, tw4 ? "CustomerPurchaseOrderNumber" : "CustomerOrderNumber");
  Copy(*order, "OrderDiscount", data, "OrderDiscount");
  Copy(*order, "OrderCurrency", data, tw4 ? "Currency" : "OrderCurrency");
  Copy(*order, "SoldToBusinessPartner", data, tw4 ? "Customer" : "SoldToBusinessPartner");
  Copy(*order, "Carrier", data, tw4 ? "ForwardingAgent" : "Carrier");
  Copy(*order, "OrderText", data, "HeaderText");
  for (const char* side : {"BillTo", "ShipTo"}) {
    for (const char* part : kAddressParts) {
      const std::string name = std::string(side) + part;
      Copy(*order, name.c_str(), data, name.c_str());
    }
  }
  return order;
}

// One line of the order: the values it was created with and the item's.
struct OrderLine {
  int32_t position = 0;
  double quantity = 0;
  json data;
  std::string description, unit, item_tax;
  bool kept = false;  // the item is kept in stock (goods, not a service)
};

std::vector<OrderLine> Lines(data::Connection& db, const std::string& sales_order) {
  auto rs = db.Execute(
      "SELECT L.POSITION, L.QUANTITY, L.DATA, I.DESCRIPTION, I.UNITCODE, I.TAXCODE, "
      "(SELECT COUNT(*) FROM STOCK S WHERE S.PARTNUMBER = L.PARTNUMBER) AS KEPT "
      "FROM SALESORDERLINE L LEFT JOIN ITEM I ON I.PARTNUMBER = L.PARTNUMBER "
      "WHERE L.SALESORDERNR = ? ORDER BY L.POSITION",
      {Variant(sales_order)});
  std::vector<OrderLine> out;
  if (!rs) return out;
  // Columns by their place in the statement above.
  enum { kPosition, kQuantity, kData, kDescription, kUnit, kTax, kKept };
  const auto text = [&](int column) {
    const Variant& v = rs->ValueAt(column);
    return v.IsMissing() ? std::string() : v.ToString();
  };
  out.reserve(static_cast<size_t>(rs->RecordCount()));
  for (; !rs->Eof(); rs->MoveNext()) {
    OrderLine l;
    l.position = rs->ValueAt(kPosition).ToLong();
    l.quantity = rs->ValueAt(kQuantity).ToDouble();
    const Variant& data = rs->ValueAt(kData);
    if (const std::string* stored = data.Get<std::string>()) l.data = json::parse(*stored);
    else l.data = json::parse(data.ToString());
    l.description = text(kDescription);
    l.unit = text(kUnit);
    l.item_tax = text(kTax);
    l.kept = rs->ValueAt(kKept).ToLong() > 0;
    out.push_back(std::move(l));
  }
  return out;
}

// The line's discount for a quantity: a percentage of the price, or an
// amount per unit.
double Discount(ConnectorType type, const OrderLine& l, double price, double quantity) {
  const bool tw4 = type == ConnectorType::Tw4;
  const double perc = StoredNumber(l.data, tw4 ? "DiscountPercentageSalesOrders" : "LineDiscount");
  const double amount = StoredNumber(l.data, tw4 ? "DiscountAmountSalesOrders" : "DiscountAmount");
  if (amount > 0) return Round2(amount * quantity);
  return Round2(price * quantity * perc / 100);
}

double Price(const OrderLine& l) { return StoredNumber(l.data, "Price"); }

std::shared_ptr<DocumentRecord> Line(ConnectorType type, const std::string& sales_order,
                                     const OrderLine& l) {
  const bool tw4 = type == ConnectorType::Tw4;
  auto line = std::make_shared<DocumentRecord>(std::string(ConnectorTypeCode(type)) + ".SOLineDetails");
  line->Put("PositionNumber", Variant(std::to_string(l.position)));
  line->Put("OrderNumber", Variant(sales_order));
  Copy(*line, "Item", l.data, "Item");
  if (!l.description.empty()) line->Put("ItemDescription", Variant(l.description));
  line->Put("OrderedQuantity", Variant(Quantity(l.quantity)));
  Copy(*line, "SalesUnit", l.data, "SalesUnit");
  if (auto d = StoredValue(l.data, tw4 ? "PlannedDeliveryDate1" : "PlannedDeliveryDate")) {
    std::string s = d->ToString();
    // A date the connector stored as a date-time: its day.
    if (s.size() > 10 && s[10] == 'T') s = DateText(type, Date::FromParts(std::stoi(s.substr(0, 4)), std::stoi(s.substr(5, 2)), std::stoi(s.substr(8, 2))));
    line->Put("PlannedDelDate", Variant(s));
  }
  if (StoredValue(l.data, "Price")) line->Put("Price", Variant(Money(Price(l))));
  if (!l.unit.empty()) line->Put("PriceUnit", Variant(l.unit));
  Copy(*line, "LineDiscount", l.data, tw4 ? "DiscountPercentageSalesOrders" : "LineDiscount");
  const double discount = Discount(type, l, Price(l), l.quantity);
  line->Put("LineDiscountAmount", Variant(Money(discount)));
  line->Put("LineAmount", Variant(Money(Round2(Price(l) * l.quantity) - discount)));
  if (auto t = StoredValue(l.data, "TaxCode")) line->Put("TaxCode", *t);
  else if (!l.item_tax.empty()) line->Put("TaxCode", Variant(l.item_tax));
  // The names of a line's address values, put together once.
  static const auto* names = [] {
    auto* n = new std::vector<std::pair<std::string, std::string>>;
    for (const char* part : kAddressParts)
      n->emplace_back("LShipTo" + std::string(part), "ShipTo" + std::string(part));
    return n;
  }();
  for (const auto& [element, stored] : *names) Copy(*line, element.c_str(), l.data, stored.c_str());
  Copy(*line, "LineText", l.data, "OrderLineText");
  return line;
}

std::shared_ptr<DocumentRecord> Result(DocumentKind kind, std::shared_ptr<ErrorDocument> errors,
                                       ObjectPtr order) {
  auto result = std::make_shared<DocumentRecord>("ShowSalesOrderResult");
  result->Add("VornErrorDoc", std::move(errors));
  auto set = std::make_shared<DocumentRecord>("SalesOrderDocumentSet");
  if (order) set->Add("OSalesOrder", std::move(order));
  const char* stem = kind == DocumentKind::Acknowledgement ? "ACKSLSRecordSet"
                     : kind == DocumentKind::ShipmentNotice ? "ASNSLSRecordSet"
                                                            : "INVSLSRecordSet";
  result->Add(stem, set);
  return result;
}

std::shared_ptr<DocumentRecord> Refusal(DocumentKind kind, int32_t number, std::string text) {
  auto errors = std::make_shared<ErrorDocument>();
  errors->Add(number, std::move(text), "SalesOrder");
  return Result(kind, errors, nullptr);
}

// Lines reads the lines in order of their (unique) positions, so a line is
// found by halving rather than by a walk for every row of a document.
const OrderLine* FindLine(const std::vector<OrderLine>& lines, int32_t position) {
  auto it = std::lower_bound(lines.begin(), lines.end(), position,
                             [](const OrderLine& l, int32_t p) { return l.position < p; });
  return it != lines.end() && it->position == position ? &*it : nullptr;
}

std::shared_ptr<data::Recordset> OrderOf(data::Connection& db, int32_t kro_id,
                                         const std::string& sales_order) {
  auto head = db.Execute("SELECT * FROM SALESORDER WHERE KROID = ? AND SALESORDERNR = ?",
                         {Variant(kro_id), Variant(sales_order)});
  if (!head || head->Eof()) return nullptr;
  return head;
}

// What a shipment delivered of a line, from a row with SHIPMENTNR, QUANTITY
// and SHIPPED; the shipment notice and the invoice both carry it.
struct DeliveryColumns {
  int shipment, quantity, shipped;
};

DeliveryColumns DeliveryColumnsOf(data::Recordset& rows) {
  return {rows.fields()["SHIPMENTNR"].index(), rows.fields()["QUANTITY"].index(),
          rows.fields()["SHIPPED"].index()};
}

void PutDelivery(DocumentRecord& line, ConnectorType type, data::Recordset& row,
                 const DeliveryColumns& c) {
  line.Put("ShipmentNumber", Variant(row.ValueAt(c.shipment).ToString()));
  line.Put("DeliveredQuantity", Variant(Quantity(row.ValueAt(c.quantity).ToDouble())));
  line.Put("DeliveredDate", Variant(DateText(type, row.ValueAt(c.shipped).ToDate())));
}

}  // namespace

const ClassBinding<DocumentText>& DocumentText::Binding() {
  static const auto b = ClassBinding<DocumentText>("TextBlock")
                            .Method("sizeTextValue", &DocumentText::sizeTextValue)
                            .Method("sizeTextValues", &DocumentText::sizeTextValue)
                            .Method("getTextValueAt", &DocumentText::getTextValueAt);
  return b;
}

std::shared_ptr<TextValue> DocumentText::getTextValueAt(int32_t index) const {
  if (index < 0 || index >= sizeTextValue())
    Raise(err::kSubscriptOutOfRange, "TextBlock", "Index " + std::to_string(index) + " is outside the text block");
  auto piece = std::make_shared<TextValue>();
  piece->SetText(pieces_[static_cast<size_t>(index)]);
  return piece;
}

namespace {

// Whether name, in any case, is folded (already lower case).
bool SameFolded(std::string_view name, const std::string& folded) {
  if (name.size() != folded.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != folded[i]) return false;
  }
  return true;
}

}  // namespace

int DocumentRecord::Layout::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameFolded(name, names[i])) return static_cast<int>(i);
  return -1;
}

void DocumentRecord::Put(std::string_view name, Variant value) {
  if (frozen_) RaiseFrozen();
  const int at = layout_->IndexOf(name);
  if (at >= 0) {
    values_[static_cast<size_t>(at)] = std::move(value);
    return;
  }
  layout_->names.push_back(text::LowerAscii(name));
  values_.push_back(std::move(value));
}

void DocumentRecord::Add(const std::string& list, ObjectPtr item) {
  if (frozen_) RaiseFrozen();
  for (auto& [name, items] : lists_) {
    if (SameFolded(list, name)) {
      items.push_back(std::move(item));
      return;
    }
  }
  lists_.emplace_back(text::LowerAscii(list), std::vector<ObjectPtr>{std::move(item)});
}

void DocumentRecord::Freeze() {
  if (frozen_) return;
  frozen_ = true;
  for (auto& [name, items] : lists_) {
    std::shared_ptr<Layout> shared;
    for (const ObjectPtr& item : items) {
      auto* record = dynamic_cast<DocumentRecord*>(item.get());
      if (!record) continue;
      record->Freeze();
      if (shared && shared->names == record->layout_->names) record->layout_ = shared;
      else shared = record->layout_;
    }
  }
}

void DocumentRecord::RaiseFrozen() const {
  Raise(err::kPermissionDenied, type_name_, "A document the ERP handed out is not changed");
}

const Variant* DocumentRecord::Find(std::string_view name) const {
  const int at = layout_->IndexOf(name);
  return at < 0 ? nullptr : &values_[static_cast<size_t>(at)];
}

const std::vector<ObjectPtr>* DocumentRecord::List(std::string_view name) const {
  for (const auto& [folded, items] : lists_)
    if (SameFolded(name, folded)) return &items;
  return nullptr;
}

Variant DocumentRecord::Invoke(std::string_view name, CallKind, std::span<Variant> args) {
  auto starts = [&](std::string_view p) {
    if (name.size() <= p.size()) return false;
    for (size_t i = 0; i < p.size(); ++i)
      if ((name[i] | 0x20) != p[i]) return false;
    return true;
  };
  const bool ends_at = name.size() > 2 && (name[name.size() - 2] | 0x20) == 'a' &&
                       (name[name.size() - 1] | 0x20) == 't';
  if (starts("get") && ends_at && args.size() == 1) {
    const std::vector<ObjectPtr>* list = List(name.substr(3, name.size() - 5));
    if (!list) dispatch_detail::RaiseMemberNotFound(type_name_, name);
    const int32_t i = args[0].ToLong();
    if (i < 0 || i >= static_cast<int32_t>(list->size()))
      Raise(err::kSubscriptOutOfRange, type_name_, "Index " + std::to_string(i) + " is outside the list");
    return Variant((*list)[i]);
  }
  if (!args.empty()) dispatch_detail::RaiseArgumentCount(type_name_, name);
  if (starts("size")) {
    const std::vector<ObjectPtr>* list = List(name.substr(4));
    return Variant(static_cast<int32_t>(list ? list->size() : 0));
  }
  const bool has = starts("has");
  if (has || starts("get")) {
    const Variant* value = Find(name.substr(3));
    if (!value) return has ? Variant(false) : Variant();
    return has ? Variant(true) : *value;
  }
  dispatch_detail::RaiseMemberNotFound(type_name_, name);
}

namespace {

std::shared_ptr<DocumentRecord> BuildDocument(const ErpInstance& instance, ConnectorType type,
                                              DocumentKind kind, const std::string& sales_order) {
  auto db = OpenErpDatabase();
  auto head = OrderOf(*db, instance.kro_id, sales_order);
  if (!head) {
    return Refusal(kind, erp_err::kUnknownSalesOrder,
                   "Sales order '" + sales_order + "' does not exist");
  }
  const std::string number = head->Value("SALESORDERNR").ToString();
  auto order = Header(type, *head);
  const std::vector<OrderLine> lines = Lines(*db, number);
  if (kind == DocumentKind::Acknowledgement) {
    for (const OrderLine& l : lines) order->Add("SOLineDetails", Line(type, number, l));
  } else if (kind == DocumentKind::ShipmentNotice) {
    // The notice of the latest shipment: what it delivered of each line.
    auto ship = db->Execute(
        "SELECT S.SHIPMENTNR, S.SHIPPED, L.POSITION, L.QUANTITY FROM SHIPMENT S JOIN SHIPMENTLINE L "
        "ON L.SHIPMENTNR = S.SHIPMENTNR WHERE S.SHIPMENTNR = (SELECT SHIPMENTNR FROM SHIPMENT "
        "WHERE SALESORDERNR = ? ORDER BY SHIPPED DESC, SHIPMENTNR DESC LIMIT 1) ORDER BY L.POSITION",
        {Variant(number)});
    if (!ship || ship->Eof())
      return Refusal(kind, erp_err::kNoShipment, "Sales order " + number + " has not been shipped");
    const DeliveryColumns delivery = DeliveryColumnsOf(*ship);
    const int position = ship->fields()["POSITION"].index();
    for (; !ship->Eof(); ship->MoveNext()) {
      const OrderLine* l = FindLine(lines, ship->ValueAt(position).ToLong());
      if (!l) continue;
      auto line = Line(type, number, *l);
      PutDelivery(*line, type, *ship, delivery);
      order->Add("SOLineDetails", line);
    }
  } else {
    auto inv = db->Execute(
        "SELECT I.INVOICENR, I.GOODSAMOUNT, I.COSTSERVICEAMOUNT, I.TAXAMOUNT, I.INVOICEAMOUNT, "
        "L.SHIPMENTNR, L.POSITION, L.QUANTITY, L.PRICE, L.DISCOUNTAMOUNT, L.LINEAMOUNT, L.TAXCODE, "
        "S.SHIPPED FROM INVOICE I JOIN INVOICELINE L ON L.INVOICENR = I.INVOICENR "
        "JOIN SHIPMENT S ON S.SHIPMENTNR = L.SHIPMENTNR WHERE I.INVOICENR = (SELECT INVOICENR "
        "FROM INVOICE WHERE SALESORDERNR = ? ORDER BY INVOICED DESC, INVOICENR DESC LIMIT 1) "
        "ORDER BY L.POSITION, L.SHIPMENTNR",
        {Variant(number)});
    if (!inv || inv->Eof())
      return Refusal(kind, erp_err::kNoInvoice, "Sales order " + number + " has not been invoiced");
    // Columns by name once, then by place on every row.
    const DeliveryColumns delivery = DeliveryColumnsOf(*inv);
    auto& f = inv->fields();
    const int position = f["POSITION"].index(), invoice = f["INVOICENR"].index(),
              total = f["INVOICEAMOUNT"].index(), goods = f["GOODSAMOUNT"].index(),
              service = f["COSTSERVICEAMOUNT"].index(), tax = f["TAXAMOUNT"].index(),
              price = f["PRICE"].index(), discount = f["DISCOUNTAMOUNT"].index(),
              amount = f["LINEAMOUNT"].index(), code = f["TAXCODE"].index();
    for (; !inv->Eof(); inv->MoveNext()) {
      const OrderLine* l = FindLine(lines, inv->ValueAt(position).ToLong());
      if (!l) continue;
      auto line = Line(type, number, *l);
      line->Put("InvoiceNumber", Variant(inv->ValueAt(invoice).ToString()));
      line->Put("InvoiceAmount", Variant(Money(inv->ValueAt(total).ToDouble())));
      line->Put("GoodsAmount", Variant(Money(inv->ValueAt(goods).ToDouble())));
      line->Put("CostServiceAmount", Variant(Money(inv->ValueAt(service).ToDouble())));
      line->Put("TaxAmount", Variant(Money(inv->ValueAt(tax).ToDouble())));
      PutDelivery(*line, type, *inv, delivery);
      line->Put("Price", Variant(Money(inv->ValueAt(price).ToDouble())));
      line->Put("LineDiscountAmount", Variant(Money(inv->ValueAt(discount).ToDouble())));
      line->Put("LineAmount", Variant(Money(inv->ValueAt(amount).ToDouble())));
      if (!inv->ValueAt(code).IsMissing()) line->Put("TaxCode", Variant(inv->ValueAt(code).ToString()));
      order->Add("SOLineDetails", line);
    }
  }
  return Result(kind, std::make_shared<ErrorDocument>(), order);
}

}  // namespace

std::shared_ptr<DocumentRecord> ShowDocument(const ErpInstance& instance, ConnectorType type,
                                             DocumentKind kind, const std::string& sales_order) {
  // Keyed by everything the document is made from besides the catalog: the
  // instance (its number and item mask are catalog rows, so the state check
  // covers them), the connector type and the order number as asked.
  std::string key = "document:";
  key.append(std::to_string(instance.kro_id)).append(":").append(ConnectorTypeCode(type));
  key.append(":").append(std::to_string(static_cast<int>(kind))).append(":").append(sales_order);
  std::shared_ptr<DocumentRecord> built;
  auto kept = CatalogCache::Instance().Get<DocumentRecord>(key, [&](size_t* weight) {
    auto document = built = BuildDocument(instance, type, kind, sales_order);
    // Error documents are not kept: they are cheap, and an unknown number
    // would take a place of a real document.
    const auto* errors = document->List("VornErrorDoc");
    if (!errors || errors->empty() ||
        static_cast<const ErrorDocument*>((*errors)[0].get())->Count() > 0)
      return std::shared_ptr<const DocumentRecord>();
    document->Freeze();
    *weight = 1;
    for (const char* set : {"ACKSLSRecordSet", "ASNSLSRecordSet", "INVSLSRecordSet"})
      if (const auto* sets = document->List(set))
        for (const ObjectPtr& s : *sets)
          if (const auto* orders = static_cast<const DocumentRecord*>(s.get())->List("OSalesOrder"))
            for (const ObjectPtr& o : *orders)
              if (const auto* lines = static_cast<const DocumentRecord*>(o.get())->List("SOLineDetails"))
                *weight += lines->size();
    return std::shared_ptr<const DocumentRecord>(document);
  });
  if (kept) return std::const_pointer_cast<DocumentRecord>(kept);
  return built;  // an error document, built for this call
}

std::string ShipSalesOrder(int32_t kro_id, const std::string& sales_order,
                           const std::vector<std::pair<int32_t, double>>& wanted) {
  auto db = OpenErpDatabase();
  data::Transaction tx(*db);
  // The write lock first, so the numbering below sees every shipment and
  // invoice committed before.
  db->Execute("UPDATE INSTANCE SET NEXTORDER = NEXTORDER WHERE KROID = ?", {Variant(kro_id)});
  auto head = OrderOf(*db, kro_id, sales_order);
  if (!head)
    Raise(erp_err::kUnknownSalesOrder, kSource, "Instance " + std::to_string(kro_id) + " has no sales order '" + sales_order + "'");
  const std::string number = head->Value("SALESORDERNR").ToString();
  // What is still open of each line.
  auto rs = db->Execute(
      "SELECT L.POSITION, L.QUANTITY - COALESCE((SELECT SUM(S.QUANTITY) FROM SHIPMENTLINE S "
      "WHERE S.SALESORDERNR = L.SALESORDERNR AND S.POSITION = L.POSITION), 0) AS OPEN "
      "FROM SALESORDERLINE L WHERE L.SALESORDERNR = ? ORDER BY L.POSITION",
      {Variant(number)});
  std::map<int32_t, double> open;
  for (; rs && !rs->Eof(); rs->MoveNext()) open[rs->Value("POSITION").ToLong()] = rs->Value("OPEN").ToDouble();
  std::vector<std::pair<int32_t, double>> ship;
  if (wanted.empty()) {
    for (const auto& [position, quantity] : open)
      if (quantity > 0) ship.emplace_back(position, quantity);
  }
  for (const auto& [position, quantity] : wanted) {
    auto it = open.find(position);
    if (it == open.end())
      Raise(erp_err::kNothingToShip, kSource, "Sales order " + number + " has no line " + std::to_string(position));
    const double q = quantity == 0 ? it->second : quantity;
    if (!(q > 0) || q > it->second + 1e-9)
      Raise(erp_err::kNothingToShip, kSource, "Line " + std::to_string(position) + " has " + Quantity(it->second) + " open, not " + Quantity(q));
    ship.emplace_back(position, q);
    it->second -= q;
  }
  if (ship.empty()) Raise(erp_err::kNothingToShip, kSource, "Sales order " + number + " has nothing open to ship");
  auto count = db->Execute("SELECT COUNT(*) AS N FROM SHIPMENT WHERE SALESORDERNR = ?", {Variant(number)});
  const std::string shipment = number + "-" + std::to_string(count->Value("N").ToLong() + 1);
  db->Execute("INSERT INTO SHIPMENT (SHIPMENTNR, SALESORDERNR, SHIPPED) VALUES (?, ?, ?)",
              {Variant(shipment), Variant(number), Variant(Clock::Now())});
  for (const auto& [position, quantity] : ship) {
    db->Execute("INSERT INTO SHIPMENTLINE (SHIPMENTNR, SALESORDERNR, POSITION, QUANTITY) VALUES (?, ?, ?, ?)",
                {Variant(shipment), Variant(number), Variant(position), Variant(quantity)});
  }
  tx.Commit();
  return shipment;
}

std::string InvoiceSalesOrder(int32_t kro_id, const std::string& sales_order) {
  auto db = OpenErpDatabase();
  data::Transaction tx(*db);
  // The write lock first, so the numbering below sees every shipment and
  // invoice committed before.
  db->Execute("UPDATE INSTANCE SET NEXTORDER = NEXTORDER WHERE KROID = ?", {Variant(kro_id)});
  auto head = OrderOf(*db, kro_id, sales_order);
  if (!head)
    Raise(erp_err::kUnknownSalesOrder, kSource, "Instance " + std::to_string(kro_id) + " has no sales order '" + sales_order + "'");
  const std::string number = head->Value("SALESORDERNR").ToString();
  const ConnectorType type = ParseConnectorType(FindInstance(kro_id)->connector_type).value_or(ConnectorType::Tw5);
  const std::vector<OrderLine> lines = Lines(*db, number);
  auto due = db->Execute(
      "SELECT SHIPMENTNR, POSITION, QUANTITY FROM SHIPMENTLINE WHERE SALESORDERNR = ? AND "
      "INVOICENR IS NULL ORDER BY POSITION, SHIPMENTNR",
      {Variant(number)});
  if (!due || due->Eof())
    Raise(erp_err::kNothingToInvoice, kSource, "Sales order " + number + " has nothing delivered to invoice");
  auto count = db->Execute("SELECT COUNT(*) AS N FROM INVOICE WHERE KROID = ?", {Variant(kro_id)});
  std::string seq = std::to_string(count->Value("N").ToLong() + 1);
  const std::string invoice = std::to_string(kro_id) + "9" + std::string(seq.size() < 5 ? 5 - seq.size() : 0, '0') + seq;
  // Tax rates by code, read once.
  std::map<std::string, double, std::less<>> rates;
  for (auto t = db->Execute("SELECT TAXCODE, PERCENTAGE FROM TAXCODE"); t && !t->Eof(); t->MoveNext())
    rates[text::UpperAscii(t->Value("TAXCODE").ToString())] = t->Value("PERCENTAGE").ToDouble();
  double goods = 0, service = 0, tax = 0;
  struct Row {
    std::string shipment;
    int32_t position = 0;
    double quantity = 0, price = 0, discount = 0, amount = 0, tax = 0;
    std::string code;
  };
  std::vector<Row> rows;
  for (; !due->Eof(); due->MoveNext()) {
    Row r;
    r.shipment = due->Value("SHIPMENTNR").ToString();
    r.position = due->Value("POSITION").ToLong();
    r.quantity = due->Value("QUANTITY").ToDouble();
    const OrderLine* l = FindLine(lines, r.position);
    if (!l) continue;
    r.price = Price(*l);
    r.discount = Discount(type, *l, r.price, r.quantity);
    r.amount = Round2(r.price * r.quantity) - r.discount;
    const auto stored = StoredValue(l->data, "TaxCode");
    r.code = stored && !stored->ToString().empty() ? stored->ToString() : l->item_tax;
    auto rate = rates.find(text::UpperAscii(r.code));
    r.tax = rate == rates.end() ? 0 : Round2(r.amount * rate->second / 100);
    (l->kept ? goods : service) += r.amount;
    tax += r.tax;
    rows.push_back(std::move(r));
  }
  goods = Round2(goods);
  service = Round2(service);
  tax = Round2(tax);
  db->Execute(
      "INSERT INTO INVOICE (INVOICENR, SALESORDERNR, KROID, INVOICED, GOODSAMOUNT, "
      "COSTSERVICEAMOUNT, TAXAMOUNT, INVOICEAMOUNT) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
      {Variant(invoice), Variant(number), Variant(kro_id), Variant(Clock::Now()), Variant(goods),
       Variant(service), Variant(tax), Variant(Round2(goods + service + tax))});
  for (const Row& r : rows) {
    db->Execute(
        "INSERT INTO INVOICELINE (INVOICENR, SHIPMENTNR, POSITION, QUANTITY, PRICE, DISCOUNTAMOUNT, "
        "LINEAMOUNT, TAXCODE, TAXAMOUNT) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {Variant(invoice), Variant(r.shipment), Variant(r.position), Variant(r.quantity),
         Variant(r.price), Variant(r.discount), Variant(r.amount), Variant(r.code), Variant(r.tax)});
    db->Execute("UPDATE SHIPMENTLINE SET INVOICENR = ? WHERE SHIPMENTNR = ? AND POSITION = ?",
                {Variant(invoice), Variant(r.shipment), Variant(r.position)});
  }
  tx.Commit();
  return invoice;
}

}  // namespace platform::erp
