#include "platform/erp/components.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <nlohmann/json.hpp>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/currency.h"
#include "platform/core/date.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/erp/catalog_cache.h"

namespace platform::erp {

namespace {

constexpr char kGantrel[] = "Provider=SQLite;Data Source=data;Initial Catalog=Gantrel";
constexpr char kSource[] = "Gantrel.Connector";

using json = nlohmann::ordered_json;

json ToJson(const Variant& v);

json RecordJson(const ValueRecord& record) {
  json out = json::object();
  for (const auto& [name, value] : record.values()) out[name] = ToJson(value);
  return out;
}

json ToJson(const Variant& v) {
  if (v.IsMissing()) return nullptr;
  if (auto b = v.Get<bool>()) return *b;
  if (auto i = v.Get<int32_t>()) return *i;
  if (auto i = v.Get<int16_t>()) return *i;
  if (auto i = v.Get<uint8_t>()) return *i;
  if (auto d = v.Get<double>()) return *d;
  if (auto c = v.Get<Currency>()) return c->ToDouble();
  if (auto d = v.Get<Date>()) return d->ToIso();
  if (auto s = v.Get<std::string>()) return *s;
  if (v.IsObject()) {
    const ObjectPtr o = v.ToObject();
    if (auto r = std::dynamic_pointer_cast<ValueRecord>(o)) return RecordJson(*r);
    if (auto t = std::dynamic_pointer_cast<TextBlock>(o)) return t->Pieces();
    if (auto p = std::dynamic_pointer_cast<ProductVariants>(o)) {
      json lines = json::array();
      for (const auto& line : p->lines()) lines.push_back(RecordJson(*line));
      return lines;
    }
    return std::string(o->TypeName());
  }
  if (v.IsArray()) {
    json a = json::array();
    for (const Variant& x : v.Array()) a.push_back(ToJson(x));
    return a;
  }
  return v.ToString();
}

ErpInstance InstanceFrom(data::Recordset& rs) {
  ErpInstance i;
  i.kro_id = rs.Value("KROID").ToLong();
  i.component_id = rs.Value("COMPONENTID").ToString();
  i.connector_type = rs.Value("CONNECTORTYPE").ToString();
  i.description = rs.Value("DESCRIPTION").IsMissing() ? "" : rs.Value("DESCRIPTION").ToString();
  i.alignment = rs.Value("ALIGNMENT").ToLong() != 0;
  i.mask = rs.Value("ITEMSEGMENTATIONMASK").IsMissing()
               ? ""
               : rs.Value("ITEMSEGMENTATIONMASK").ToString();
  return i;
}

// A positive quantity or amount; Empty, Null, text that is no number and
// zero are "missing" to the ERP.
std::optional<double> PositiveNumber(const Variant& v) {
  if (v.IsMissing()) return std::nullopt;
  try {
    const double d = v.ToDouble();
    if (d > 0 && std::isfinite(d)) return d;
  } catch (const ComError&) {
  }
  return std::nullopt;
}

std::string Pad6(int32_t n) {
  std::string s = std::to_string(n);
  return s.size() < 6 ? std::string(6 - s.size(), '0') + s : s;
}

struct Customer {
  std::string code;
  bool credit_hold = false;
  double discount = 0;
};

std::optional<Customer> FindCustomer(data::Connection& db, const std::string& code) {
  auto rs = db.Execute("SELECT CUSTOMERCODE, CREDITHOLD, DISCOUNTPERC FROM CUSTOMER WHERE CUSTOMERCODE = ?",
                       {Variant(code)});
  if (!rs || rs->Eof()) return std::nullopt;
  return Customer{rs->Value("CUSTOMERCODE").ToString(), rs->Value("CREDITHOLD").ToLong() != 0,
                  rs->Value("DISCOUNTPERC").ToDouble()};
}

bool ItemExists(data::Connection& db, const std::string& part) {
  auto rs = db.Execute("SELECT 1 FROM ITEM WHERE PARTNUMBER = ?", {Variant(part)});
  return rs && !rs->Eof();
}

// The part number inside an item code of the instance, or nullopt when the
// code does not carry the instance's prefix.
std::optional<std::string> PartOf(const ErpInstance& instance, const std::string& code) {
  const std::string prefix = ItemPrefix(instance);
  if (code.size() <= prefix.size() || code.compare(0, prefix.size(), prefix) != 0)
    return std::nullopt;
  return code.substr(prefix.size());
}

}  // namespace

std::shared_ptr<data::Connection> OpenErpDatabase() {
  auto db = std::make_shared<data::Connection>();
  db->Open(kGantrel);
  return db;
}

std::optional<ErpInstance> FindInstance(int32_t kro_id) {
  // Kept while the catalog is unchanged: every document a page shows asks.
  const auto kept = CatalogCache::Instance().Get<std::optional<ErpInstance>>(
      "instance:" + std::to_string(kro_id), [&](size_t*) {
        auto db = OpenErpDatabase();
        auto rs = db->Execute("SELECT * FROM INSTANCE WHERE KROID = ?", {Variant(kro_id)});
        return std::make_shared<const std::optional<ErpInstance>>(
            rs && !rs->Eof() ? std::optional<ErpInstance>(InstanceFrom(*rs)) : std::nullopt);
      });
  return *kept;
}

std::string ItemPrefix(const ErpInstance& instance) {
  if (instance.connector_type == "tw4") return "";
  if (!instance.alignment) return std::string(9, ' ');
  std::string mask = instance.mask;
  std::replace(mask.begin(), mask.end(), '*', ' ');
  return mask;
}

// Results ---------------------------------------------------------------------

const ClassBinding<CreateResult>& CreateResult::Binding() {
  static const auto b =
      ClassBinding<CreateResult>("CreateResult")
          .Method("getRecordSetSalesOrders", &CreateResult::getRecordSetSalesOrders)
          .Method("getVornErrorDoc", &CreateResult::getVornErrorDoc)
          .Method("hasRecordSetSalesOrderLines", &CreateResult::hasRecordSetSalesOrderLines)
          .Method("getRecordSetSalesOrderLines", &CreateResult::getRecordSetSalesOrderLines);
  return b;
}

const ClassBinding<StatusResult>& StatusResult::Binding() {
  static const auto b = ClassBinding<StatusResult>("StatusResult")
                            .Method("getSuccess", &StatusResult::getSuccess)
                            .Method("getReasonCode", &StatusResult::getReasonCode);
  return b;
}

const ClassBinding<AllocationResult>& AllocationResult::Binding() {
  static const auto b = ClassBinding<AllocationResult>("AllocationResult")
                            .Method("getErrorNumber", &AllocationResult::getErrorNumber);
  return b;
}

const ClassBinding<PriceTaxResult>& PriceTaxResult::Binding() {
  static const auto b =
      ClassBinding<PriceTaxResult>("PriceTaxResult")
          .Method("getErrorCode", &PriceTaxResult::getErrorCode)
          .Method("getUnitPrice", &PriceTaxResult::getUnitPrice)
          .Method("getDiscountPercentage", &PriceTaxResult::getDiscountPercentage)
          .Method("getTotDiscountAmount", &PriceTaxResult::getTotDiscountAmount)
          .Method("getTaxAmount", &PriceTaxResult::getTaxAmount)
          .Method("getTaxPercentage", &PriceTaxResult::getTaxPercentage)
          .Method("getTaxCode", &PriceTaxResult::getTaxCode)
          .Method("getTaxType", &PriceTaxResult::getTaxType)
          .Method("getTaxCodeDescription", &PriceTaxResult::getTaxCodeDescription)
          .Method("getCalculateTax", &PriceTaxResult::getCalculateTax);
  return b;
}

// ComponentCore ------------------------------------------------------------

void ComponentCore::Initialize(ConnectorType type, const std::string& component_id) {
  instance_.reset();
  type_ = type;
  const auto kept = CatalogCache::Instance().Get<std::optional<ErpInstance>>(
      "component:" + std::string(ConnectorTypeCode(type)) + ":" + component_id, [&](size_t*) {
        auto db = OpenErpDatabase();
        auto rs = db->Execute("SELECT * FROM INSTANCE WHERE COMPONENTID = ? AND CONNECTORTYPE = ?",
                              {Variant(component_id), Variant(std::string(ConnectorTypeCode(type)))});
        return std::make_shared<const std::optional<ErpInstance>>(
            rs && !rs->Eof() ? std::optional<ErpInstance>(InstanceFrom(*rs)) : std::nullopt);
      });
  if (!*kept) {
    Raise(erp_err::kUnknownComponent, kSource,
          "Business component '" + component_id + "' is not known to the " +
              std::string(ConnectorTypeCode(type)) + " connector");
  }
  instance_ = **kept;
}

const ErpInstance& ComponentCore::instance() const {
  if (!instance_)
    Raise(erp_err::kNotInitialized, kSource, "The business component is not initialized");
  return *instance_;
}

void ComponentCore::Close() {
  instance();  // a component never initialized cannot be closed
  instance_.reset();
}

std::shared_ptr<CreateResult> ComponentCore::Create(const ObjectPtr& orders_in,
                                                    const ObjectPtr& lines_in) {
  const ErpInstance& inst = instance();
  auto orders = std::dynamic_pointer_cast<RecordList>(orders_in);
  auto lines = std::dynamic_pointer_cast<RecordList>(lines_in);
  if (!orders || !lines)
    Raise(err::kTypeMismatch, kSource, "Create takes a sales-orders and a sales-order-lines input");

  auto result = std::make_shared<CreateResult>();
  ErrorDocument& errors = *result->errors_;
  if (orders->items().size() != 1) {
    errors.Add(erp_err::kNoSalesOrder, "Exactly one sales order per Create, not " +
                                           std::to_string(orders->items().size()),
               "SalesOrders");
    return result;
  }
  auto header = std::dynamic_pointer_cast<ValueRecord>(orders->items()[0]);
  if (!header) Raise(err::kTypeMismatch, kSource, "The sales order is no sales-order record");
  const bool tw4 = type_ == ConnectorType::Tw4;
  const char* customer_field = tw4 ? "Customer" : "SoldToBusinessPartner";

  auto db = OpenErpDatabase();
  // Every finding goes into the document; entry 0 is the first one.
  const Variant customer_value = header->Get(customer_field);
  const std::string customer_code = customer_value.IsMissing() ? "" : customer_value.ToString();
  if (auto customer = FindCustomer(*db, customer_code); !customer) {
    errors.Add(erp_err::kUnknownCustomer, "Customer '" + customer_code + "' does not exist",
               customer_field);
  } else if (customer->credit_hold) {
    errors.Add(erp_err::kCreditHold,
               "Customer " + customer->code + " is on credit hold; no sales order can be entered",
               customer_field);
  }
  std::vector<std::shared_ptr<ValueRecord>> line_records;
  std::vector<std::string> parts;
  // Each item is looked up once per order, however many lines carry it.
  std::unordered_map<std::string, bool> known_items;
  for (const ObjectPtr& o : lines->items()) {
    auto line = std::dynamic_pointer_cast<ValueRecord>(o);
    if (!line) Raise(err::kTypeMismatch, kSource, "A sales-order line is no line record");
    const std::string n = std::to_string(line_records.size() + 1);
    const Variant item = line->Get("Item");
    const std::string code = item.IsMissing() ? "" : item.ToString();
    const auto part = PartOf(inst, code);
    bool known = false;
    if (part) {
      auto [it, fresh] = known_items.try_emplace(*part, false);
      if (fresh) it->second = ItemExists(*db, *part);
      known = it->second;
    }
    if (!known) {
      errors.Add(erp_err::kUnknownItem, "Line " + n + ": item '" + code + "' does not exist",
                 "Item");
    }
    if (!PositiveNumber(line->Get("OrderedQuantity"))) {
      errors.Add(erp_err::kMissingQuantity, "Line " + n + ": no ordered quantity",
                 "OrderedQuantity");
    }
    line_records.push_back(line);
    parts.push_back(part.value_or(code));
  }
  if (errors.Count() > 0) return result;

  const Variant reference_value = header->Get("WebOrderReference");
  const std::string reference = reference_value.IsMissing() ? "" : reference_value.ToString();
  std::string number;
  {
    data::Transaction tx(*db);
    // The counter first: it takes the write lock, so the duplicate check
    // below sees every order committed before.
    db->Execute("UPDATE INSTANCE SET NEXTORDER = NEXTORDER + 1 WHERE KROID = ?",
                {Variant(inst.kro_id)});
    if (!reference.empty()) {
      auto dup = db->Execute("SELECT SALESORDERNR FROM SALESORDER WHERE KROID = ? AND WEBREFERENCE = ?",
                             {Variant(inst.kro_id), Variant(reference)});
      if (dup && !dup->Eof()) {
        errors.Add(erp_err::kDuplicateWebOrder,
                   "Web order " + reference + " has sales order " +
                       dup->Value("SALESORDERNR").ToString() + " already",
                   "WebOrderReference");
        return result;  // the transaction rolls back
      }
    }
    auto next = db->Execute("SELECT NEXTORDER FROM INSTANCE WHERE KROID = ?", {Variant(inst.kro_id)});
    number = std::to_string(inst.kro_id) + Pad6(next->Value("NEXTORDER").ToLong() - 1);
    header->Put("SalesOrder", Variant(number));
    db->Execute(
        "INSERT INTO SALESORDER (SALESORDERNR, KROID, WEBREFERENCE, CUSTOMERCODE, CREATED, DATA) "
        "VALUES (?, ?, ?, ?, ?, ?)",
        {Variant(number), Variant(inst.kro_id), reference.empty() ? Variant::Null() : Variant(reference),
         Variant(customer_code), Variant(Clock::Now()), Variant(RecordJson(*header).dump())});
    int32_t position = 0;
    for (size_t i = 0; i < line_records.size(); ++i) {
      position += 10;
      ValueRecord& line = *line_records[i];
      line.Put("PositionNumber", Variant(position));
      line.Put("SalesOrder", Variant(number));
      db->Execute(
          "INSERT INTO SALESORDERLINE (SALESORDERNR, POSITION, PARTNUMBER, QUANTITY, DATA) "
          "VALUES (?, ?, ?, ?, ?)",
          {Variant(number), Variant(position), Variant(parts[i]),
           Variant(line.Get("OrderedQuantity").ToDouble()), Variant(RecordJson(line).dump())});
    }
    tx.Commit();
  }
  // The answer: the order and its lines as created, every value given kept.
  auto out_orders = std::make_shared<RecordList>(std::string(ConnectorTypeCode(type_)) + ".SalesOrdersInput", "SalesOrders");
  out_orders->Insert(header, 0);
  result->orders_ = out_orders;
  if (!line_records.empty()) {
    auto out_lines = std::make_shared<RecordList>(
        std::string(ConnectorTypeCode(type_)) + ".SalesOrderLinesInput", "SalesOrderLines");
    for (size_t i = 0; i < line_records.size(); ++i)
      out_lines->Insert(line_records[i], static_cast<int32_t>(i));
    result->lines_ = out_lines;
  }
  return result;
}

std::shared_ptr<StatusResult> ComponentCore::UpdateOrderStatus(const std::string& sales_order,
                                                               int32_t line, int32_t step,
                                                               int32_t use_freight) {
  const ErpInstance& inst = instance();
  auto result = std::make_shared<StatusResult>();
  auto db = OpenErpDatabase();
  data::Transaction tx(*db);
  auto rs = db->Execute(
      "SELECT L.LINESTATUS, L.BILLINGSTEP FROM SALESORDERLINE L JOIN SALESORDER S ON "
      "S.SALESORDERNR = L.SALESORDERNR WHERE S.KROID = ? AND L.SALESORDERNR = ? AND L.POSITION = ?",
      {Variant(inst.kro_id), Variant(sales_order), Variant(line)});
  if (!rs || rs->Eof()) {
    result->reason_ = erp_reason::kUnknownLine;
    return result;
  }
  const int32_t status = rs->Value("LINESTATUS").ToLong();
  const int32_t done = rs->Value("BILLINGSTEP").ToLong();
  // Billing steps go one at a time: 1 delivered, 2 invoiced, 3 paid; a line
  // is delivered only once it is allocated.
  if (step != done + 1 || step > 3) {
    result->reason_ = erp_reason::kStepOutOfSequence;
    return result;
  }
  if (step == 1 && status < 1) {
    result->reason_ = erp_reason::kNotAllocated;
    return result;
  }
  const int32_t new_status = step == 1 ? 2 : (step == 2 ? 3 : status);
  db->Execute(
      "UPDATE SALESORDERLINE SET BILLINGSTEP = ?, LINESTATUS = ?, USEFREIGHT = ? WHERE "
      "SALESORDERNR = ? AND POSITION = ?",
      {Variant(step), Variant(new_status), Variant(use_freight), Variant(sales_order), Variant(line)});
  tx.Commit();
  result->success_ = 1;
  return result;
}

std::shared_ptr<AllocationResult> ComponentCore::Allocate(const std::string& sales_order,
                                                          int32_t line) {
  const ErpInstance& inst = instance();
  auto result = std::make_shared<AllocationResult>();
  auto db = OpenErpDatabase();
  data::Transaction tx(*db);
  auto rs = db->Execute(
      "SELECT L.PARTNUMBER, L.QUANTITY, L.LINESTATUS FROM SALESORDERLINE L JOIN SALESORDER S ON "
      "S.SALESORDERNR = L.SALESORDERNR WHERE S.KROID = ? AND L.SALESORDERNR = ? AND L.POSITION = ?",
      {Variant(inst.kro_id), Variant(sales_order), Variant(line)});
  if (!rs || rs->Eof()) {
    result->error_ = erp_reason::kAllocUnknownLine;
    return result;
  }
  if (rs->Value("LINESTATUS").ToLong() >= 1) {
    result->error_ = erp_reason::kAllocDone;
    return result;
  }
  const std::string part = rs->Value("PARTNUMBER").ToString();
  const double quantity = rs->Value("QUANTITY").ToDouble();
  auto stock = db->Execute("SELECT ONHAND - ALLOCATED AS FREE FROM STOCK WHERE PARTNUMBER = ?",
                           {Variant(part)});
  // Items without stock keeping (services, freight) are always there.
  const bool kept = stock && !stock->Eof();
  if (kept && stock->Value("FREE").ToDouble() < quantity) {
    result->error_ = erp_reason::kAllocNoStock;
    return result;
  }
  if (kept) {
    db->Execute("UPDATE STOCK SET ALLOCATED = ALLOCATED + ? WHERE PARTNUMBER = ?",
                {Variant(quantity), Variant(part)});
  }
  db->Execute("UPDATE SALESORDERLINE SET ALLOCATED = ?, LINESTATUS = 1 WHERE SALESORDERNR = ? AND POSITION = ?",
              {Variant(quantity), Variant(sales_order), Variant(line)});
  tx.Commit();
  return result;
}

std::shared_ptr<PriceTaxResult> ComponentCore::GetPriceAndOrTax(
    int32_t option, const std::string& customer, const std::string& part,
    const std::string& currency, const std::string& date, int32_t line_quantity,
    int32_t order_quantity, const std::string& unit, const std::string& billing,
    const std::string& shipping, const std::string& country, double line_amount,
    double discount_perc) {
  const ErpInstance& inst = instance();
  auto result = std::make_shared<PriceTaxResult>();
  auto db = OpenErpDatabase();
  // The item as the connector sends it, or the bare part number.
  std::string part_number = PartOf(inst, part).value_or(part);
  part_number = std::string(text::TrimBlanks(part_number));
  auto item = db->Execute("SELECT PRICE, CURRENCYCODE, TAXCODE FROM ITEM WHERE PARTNUMBER = ?",
                          {Variant(part_number)});
  if (!item || item->Eof()) {
    result->error_code_ = "PT02";
    return result;
  }
  if (option == 1) {
    auto cust = FindCustomer(*db, customer);
    if (!cust) {
      result->error_code_ = "PT01";
      return result;
    }
    if (!currency.empty() && !text::EqualsNoCase(currency, item->Value("CURRENCYCODE").ToString())) {
      result->error_code_ = "PT03";
      return result;
    }
    result->unit_price_ = item->Value("PRICE").ToDouble();
    double perc = cust->discount;
    auto d = db->Execute(
        "SELECT MAX(DISCOUNTPERC) AS PERC FROM DISCOUNT WHERE CUSTOMERCODE = ? AND "
        "(PARTNUMBER = ? OR PARTNUMBER = '') AND MINQUANTITY <= ?",
        {Variant(customer), Variant(part_number), Variant(std::max(line_quantity, order_quantity))});
    if (d && !d->Eof() && !d->Value("PERC").IsMissing()) perc = std::max(perc, d->Value("PERC").ToDouble());
    result->discount_perc_ = perc;
    result->discount_total_ =
        std::round(result->unit_price_ * line_quantity * perc) / 100.0;
  } else if (option == 2) {
    auto tax = db->Execute("SELECT TAXCODE, DESCRIPTION, PERCENTAGE, TAXTYPE FROM TAXCODE WHERE TAXCODE = ?",
                           {Variant(item->Value("TAXCODE").ToString())});
    if (!tax || tax->Eof()) {
      result->error_code_ = "PT04";
      return result;
    }
    result->tax_code_ = tax->Value("TAXCODE").ToString();
    result->tax_description_ = tax->Value("DESCRIPTION").ToString();
    result->tax_perc_ = tax->Value("PERCENTAGE").ToDouble();
    result->tax_type_ = tax->Value("TAXTYPE").ToLong();
    result->tax_amount_ = std::round(line_amount * result->tax_perc_) / 100.0;
    result->calculate_tax_ = result->tax_perc_ > 0 ? 1 : 0;
  }
  return result;
}

// Operators' view ------------------------------------------------------------

std::string SalesOrderJson(int32_t kro_id, const std::string& sales_order) {
  auto db = OpenErpDatabase();
  auto head = db->Execute("SELECT * FROM SALESORDER WHERE KROID = ? AND SALESORDERNR = ?",
                          {Variant(kro_id), Variant(sales_order)});
  if (!head || head->Eof()) return "";
  json out = json::object();
  out["SalesOrderNr"] = head->Value("SALESORDERNR").ToString();
  out["KroId"] = kro_id;
  out["Created"] = head->Value("CREATED").ToDate().ToIso();
  out["Header"] = json::parse(head->Value("DATA").ToString());
  json lines = json::array();
  auto rs = db->Execute(
      "SELECT * FROM SALESORDERLINE WHERE SALESORDERNR = ? ORDER BY POSITION", {Variant(sales_order)});
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    json line = json::object();
    line["Position"] = rs->Value("POSITION").ToLong();
    line["LineStatus"] = rs->Value("LINESTATUS").ToLong();
    line["BillingStep"] = rs->Value("BILLINGSTEP").ToLong();
    line["Allocated"] = rs->Value("ALLOCATED").ToDouble();
    line["Values"] = json::parse(rs->Value("DATA").ToString());
    lines.push_back(std::move(line));
  }
  out["Lines"] = std::move(lines);
  return out.dump(2);
}

std::string SalesOrdersJson(int32_t kro_id) {
  auto db = OpenErpDatabase();
  auto rs = db->Execute(
      "SELECT S.SALESORDERNR, S.WEBREFERENCE, S.CUSTOMERCODE, S.CREATED, "
      "(SELECT COUNT(*) FROM SALESORDERLINE L WHERE L.SALESORDERNR = S.SALESORDERNR) AS LINES "
      "FROM SALESORDER S WHERE S.KROID = ? ORDER BY S.SALESORDERNR",
      {Variant(kro_id)});
  json out = json::array();
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    out.push_back({{"SalesOrderNr", rs->Value("SALESORDERNR").ToString()},
                   {"WebOrderReference", rs->Value("WEBREFERENCE").IsMissing()
                                             ? json(nullptr)
                                             : json(rs->Value("WEBREFERENCE").ToString())},
                   {"Customer", rs->Value("CUSTOMERCODE").ToString()},
                   {"Created", rs->Value("CREATED").ToDate().ToIso()},
                   {"Lines", rs->Value("LINES").ToLong()}});
  }
  return out.dump(2);
}

}  // namespace platform::erp
