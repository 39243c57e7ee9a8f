// Ferrolink.Order.CreateBackendSalesOrder and its steps: the connector input
// of each web order, the ERP's answer and the write-back of its numbers.

#include <memory>
#include <string>
#include <vector>

#include "backend/order.h"
#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/field.h"
#include "platform/data/recordset.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/parameters.h"

namespace ferrolink {

namespace {

using platform::ObjectPtr;
using platform::Variant;
using platform::data::Field;
using platform::data::Recordset;

constexpr char kCreateSource[] = "Ferrolink.Order.CreateBackendSalesOrder()";
constexpr char kNoInstance[] = "Ferrolink.Order.CreateBackendSalesOrder: Kro Instance not found";

// The value of a column, Empty when the record set has no such column (the
// documents of the three origins carry different columns).
Variant Col(Recordset& rs, std::string_view name) {
  Field* f = rs.fields().Find(name);
  return f ? f->Value() : Variant();
}

Variant ColOf(Field* f) { return f ? f->Value() : Variant(); }

bool Positive(const Variant& v) { return lib_sales::Sls_HasValue(v) && v.ToDouble() > 0; }

std::string TextOf(const Variant& v) { return v.IsMissing() ? std::string() : v.ToString(); }

// The text cut into pieces of at most 100 characters (UTF-8 sequences stay
// whole).
std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lead = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (lead) {
      if (count == 100) {
        out.push_back(text.substr(start, i - start));
        start = i;
        count = 0;
      }
      ++count;
    }
  }
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

void LogQuietly(std::string_view method) {
  try {
    lib_sales::LogFailure(method);
  } catch (...) {
  }
}

}  // namespace

void Order::SetOrder(const char* tw4, const char* tw5, const Variant& value) {
  platform::Call(so_record_, type_ == ConnectorType::Tw4 ? tw4 : tw5, {value});
}

void Order::UseShipTo(const ObjectPtr& target, const std::string& code) {
  platform::Call(target, type_ == ConnectorType::Tw4 ? "setDeliveryAddress" : "setShipToAddress",
                 {Variant(code)});
}

void Order::UseBillTo(const std::string& code) {
  SetOrder("setPostalAddress", "setBillToAddress", Variant(code));
}

ObjectPtr Order::GetTextinKROFormat(const std::string& text, int32_t kind) {
  if (text.empty()) return nullptr;
  try {
    if (kind < 1 || kind > 3) {
      LogError(platform::err::kInvalidProcedureCall, "Ferrolink.Order.GetTextinKROFormat()",
               "No text kind " + std::to_string(kind), "Ferrolink.Order.GetTextinKROFormat()");
      return nullptr;
    }
    if (!type_) platform::Raise(kUnsupportedConnectorType, "Ferrolink.Order", NotSupportedText(type_code_));
    ObjectPtr block = NewTextBlock(*type_, kind);
    for (const std::string& piece : Pieces(text)) {
      ObjectPtr value = NewTextValue(*type_);
      platform::Call(value, "SetText", {Variant(piece)});
      platform::Call(block, "addTextValue", {Variant(value)});
    }
    return block;
  } catch (...) {
    LogQuietly("Ferrolink.Order.getTextinKROFormat()");
    return nullptr;
  }
}

Variant Order::getDateinKROFormat(const Variant& text) {
  try {
    platform::Date d = text.ToDate().DateOnly();
    const platform::Date today = platform::Clock::Today();
    if (d < today) d = today;
    if (type_ == ConnectorType::Tw4) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d.year(), d.month(), d.day());
      return Variant(std::string(buf));
    }
    return Variant(d);
  } catch (...) {
    LogQuietly("Ferrolink.Order.getDateinKROFormat()");
    return Variant();
  }
}

std::shared_ptr<Recordset> Order::GetUntransferredLines(const std::string& order_id) {
  return lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT * FROM ORDERLINE " + std::string(" WHERE ORDERID like ") +
          lib_sales::EncString(order_id) + " AND (SALESORDERLINENR = 0 OR SALESORDERLINENR is null )",
      lib_sales::Sls_ConnectionString());
}

void Order::AddFreightLine(double amount, Recordset& lines) {
  if (lines.RecordCount() == 0) return;
  const std::string part = lib_sales::Sls_GetParameterValue("FreightPartNumber");
  const std::string unit = lib_sales::Sls_GetParameterValue("Freight Unit-code");
  lines.MoveFirst();
  const Variant key = lines.fields()[0].Value();
  const Variant address = Col(lines, "ADDRESSID");
  lines.MoveLast();
  const Variant last = lines.fields().Count() > 1 ? lines.fields()[1].Value() : Variant();
  lines.AddNew();
  lines.fields()[0].SetValue(key);
  if (lines.fields().Count() > 1) lines.fields()[1].SetValue(Variant(last.IsMissing() ? 1 : last.ToLong() + 1));
  const auto put = [&](std::string_view name, const Variant& value) {
    if (Field* f = lines.fields().Find(name)) f->SetValue(value);
  };
  put("PARTNUMBER", Variant(part));
  put("PRODUCTUNITCODE", Variant(unit));
  put("UNITCODE", Variant(unit));
  put("REQUESTDATE", Variant(platform::Clock::Today()));
  put("QUANTITY", Variant(int32_t{1}));
  put("PRODUCTPRICE", Variant(amount));
  // A stored web order's lines carry PRICE and AMOUNT: the freight line
  // needs its price there too, or the back end would get none.
  put("PRICE", Variant(amount));
  put("LINEAMOUNT", Variant(amount));
  put("AMOUNT", Variant(amount));
  put("DISCOUNTAMOUNT", Variant(int32_t{0}));
  put("ADDRESSID", address);
  lines.Update();
}

void Order::FillAddressDetails(const std::string& address_type, int32_t address_id, bool for_line) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(platform::data::adUseClient);
  rs->Open("SELECT * FROM ADDRESSHISTORY WHERE " + std::string("ORDERID = ") +
               lib_sales::EncString(order_id_) + " AND ADDRESSID = " + lib_sales::EncLong(address_id),
           connection_, platform::data::adOpenStatic, platform::data::adLockReadOnly);
  std::shared_ptr<Recordset> source = rs;
  if (rs->Eof()) {
    const ObjectPtr partner = lib_sales::Sls_GetComponent("Kelmor.BusinessPartner");
    source = platform::Call(partner, "GetAddress", {Variant(address_id)}).As<Recordset>();
    if (!source || source->Eof()) return;
  }
  const ObjectPtr target = for_line ? current_line_ : so_record_;
  const bool ship = for_line || address_type == "DEL";
  const char* p = ship ? "ShipTo" : "BillTo";
  struct Call {
    const char* column;
    const char* suffix;
    int types;  // 1 twkt only, 2 tw5 and twkt, 3 all
  };
  static constexpr Call kCalls[] = {
      {"KROADDRESSCODE", "Address", 1},       {"NAME1", "AddressName1", 3},
      {"NAME2", "AddressName2", 3},           {"STREET1", "AddressStreet1", 3},
      {"STREET2", "AddressStreet2", 3},       {"CITY1", "AddressCity1", 3},
      {"CITY2", "AddressCity2", 3},           {"COUNTRYCODE", "AddressCountry", 3},
      {"ZIPCODE", "AddressZipCode", 3},       {"STATEPROVINCE", "StateProvince", 2},
      {"PHONE", "Telephone", 2},              {"FAX", "Fax", 2},
  };
  for (const Call& c : kCalls) {
    if (c.types == 1 && type_ != ConnectorType::Twkt) continue;
    if (c.types == 2 && type_ == ConnectorType::Tw4) continue;
    const Variant value = Col(*source, c.column);
    if (!lib_sales::Sls_HasValue(value)) continue;
    platform::Call(target, std::string("set") + p + c.suffix, {value});
  }
}

void Order::AddProductVariants(const std::string& iConfigid, const std::string& iOrderid,
                               int16_t iLineID) {
  try {
    const ObjectPtr configurator = lib_sales::Sls_GetComponent("Syntaro.Configurator");
    const ObjectPtr service = platform::Call(configurator, "GetConfigurationService").ToObject();
    const std::string text =
        platform::Call(service, "GetConfigurationDescription",
                       {Variant(iConfigid), Variant(iOrderid), Variant(iLineID)})
            .ToString();
    platform::Call(service, "Release");
    if (!type_) platform::Raise(kUnsupportedConnectorType, "Ferrolink.Order", NotSupportedText(type_code_));
    const ObjectPtr variants = NewProductVariants(*type_);
    size_t pos = text.find("VOP");
    while (pos != std::string::npos) {
      const size_t start = pos + 3;
      const size_t next = text.find("VOP", start);
      const std::string part = text.substr(start, next == std::string::npos ? std::string::npos : next - start);
      std::vector<std::string> fields;
      size_t s = 0;
      while (true) {
        const size_t comma = part.find(',', s);
        fields.push_back(part.substr(s, comma == std::string::npos ? std::string::npos : comma - s));
        if (comma == std::string::npos) break;
        s = comma + 1;
      }
      if (fields.size() < 8) {
        platform::Raise(platform::err::kSubscriptOutOfRange, "Ferrolink.Order",
                        "A variant of configuration " + iConfigid + " has too few fields");
      }
      const ObjectPtr line = NewProductVariantLine(*type_);
      platform::Call(line, "setFeatureCode", {Variant(fields[4])});
      platform::Call(line, "setFeatureSequenceNumber", {Variant(fields[5])});
      platform::Call(line, "setFeatureDescription", {Variant(fields[6])});
      platform::Call(line, "setOptionValue", {Variant(fields[7])});
      platform::Call(variants, "addProductVariantLines", {Variant(line)});
      pos = next;
    }
    platform::Call(current_line_, "setProductVariants", {Variant(variants)});
  } catch (...) {
    LogQuietly("Ferrolink.Order.AddProductVariants()");
  }
}

void Order::UpdateAddressFromSlsOrder(const std::string& mOrderId, const std::string& iKROAddressCode,
                                      int32_t iFlag) {
  try {
    if (iKROAddressCode.empty()) return;  // nothing to record
    std::shared_ptr<platform::data::Connection> connection = connection_;
    bool own = false;
    if (!connection || !connection->IsOpen()) {
      connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
      own = true;
    }
    auto rs = connection->Execute("SELECT * FROM ORDERHEADER WHERE " + std::string("ORDERID = ") +
                                  lib_sales::EncString(mOrderId));
    if (rs && !rs->Eof()) {
      const Variant id = rs->Value(iFlag == 0 ? "SHIPPINGADDRESSID" : "BILLINGADDRESSID");
      if (!id.IsMissing()) {
        const ObjectPtr partner = lib_sales::Sls_GetComponent("Kelmor.BusinessPartner");
        const std::string known =
            platform::Call(partner, "GetKROAddressCodeFromAddressID", {id}).ToString();
        if (known != iKROAddressCode)
          platform::Call(partner, "SetKROAddressCode", {id, Variant(iKROAddressCode)});
      }
    }
    if (own) lib_sales::Sls_CloseConnection(connection);
  } catch (...) {
    LogQuietly("Ferrolink.Order.UpdateAddressFromSlsOrder()");
  }
}

void Order::BuildInputValuesforV50c(Recordset& lines, int32_t origin) {
  try {
    Recordset& h = *header_;
    const bool tw4 = type_ == ConnectorType::Tw4;
    const Variant po = Col(h, origin == 2 ? "CUSTOMERPONR" : "CUSTOMERPONUMBER");
    const Variant payment = Col(h, origin == 2 ? "WEBPAYMENTMETHOD" : "PAYMENTMETHOD");
    if (lib_sales::Sls_HasValue(payment) && payment.ToLong() == 2) {
      const ObjectPtr footer = GetTextinKROFormat(lib_sales::Sls_GetParameterValue("InvoiceText"), 2);
      if (footer) platform::Call(so_record_, "setFooterText", {Variant(footer)});
    }
    SetOrder("setOrderType", "setSalesOrderType", Col(h, "ORDERTYPE"));
    SetOrder("setCustomer", "setSoldToBusinessPartner", Col(h, "CUSTOMERCODE"));
    SetOrder("setCurrency", "setOrderCurrency", Col(h, "CURRENCYCODE"));
    if (lib_sales::Sls_HasValue(po))
      SetOrder("setCustomerPurchaseOrderNumber", "setCustomerOrderNumber", po);
    SetOrder("setOrigin", "setOrigin", Variant(int32_t{tw4 ? 4 : 9}));
    const Variant calculate = Col(h, "CALCULATETAX");
    if (tw4) {
      const bool none = calculate.IsMissing() || calculate.ToLong() == 0;
      SetOrder("setCalculateTax", "setCalculateTax", Variant(int32_t{none ? 2 : 1}));
    } else {
      SetOrder("setCalculateTax", "setCalculateTax", calculate);
    }
    const Variant carrier = Col(h, "CARRIERCODE");
    if (lib_sales::Sls_HasValue(carrier)) SetOrder("setForwardingAgent", "setCarrier", carrier);
    SetOrder("setOrderDiscount", "setOrderDiscount", Col(h, "DISCOUNTPERC"));
    std::string user_name;
    try {
      user_name = lib_sales::Sls_GetUserProperty(TextOf(Col(h, "USERID")));
    } catch (...) {
      LogQuietly("Ferrolink.Order.BuildInputValuesforV50c()");
    }
    SetOrder("setReferenceB", "setReferenceB", Variant(user_name));

    std::string reference;
    const auto header_text = [&](const char* column) {
      const Variant v = Col(h, column);
      if (!lib_sales::Sls_HasValue(v)) return;
      if (ObjectPtr block = GetTextinKROFormat(v.ToString(), 1))
        platform::Call(so_record_, "setHeaderText", {Variant(block)});
    };
    const auto reference_a = [&](const char* column) {
      const Variant v = Col(h, column);
      if (!lib_sales::Sls_HasValue(v)) return;
      reference = v.ToString();
      platform::Call(so_record_, "setReferenceA", {v});
    };
    const Variant sales_order = Col(h, "SALESORDERNR");
    if (origin == 0) {
      header_text("BASKETTEXT");
      reference_a("BASKETNAME");
    } else if (origin == 1) {
      reference_a("CUSTOMERREFERENCE");
      header_text("COMMENTS");
    } else {
      if (lib_sales::Sls_HasValue(sales_order)) platform::Call(so_record_, "setSalesOrder", {sales_order});
      header_text("HEADERTEXT");
      reference_a("ORDERLISTNAME");
    }
    // The web order the sales order is made for: the ERP takes one sales
    // order per web order, so a hand-over repeated after a lost answer
    // cannot create it twice.
    platform::Call(so_record_, "setWebOrderReference", {Variant(order_id_)});
    log_context_ = " KROId : " + TextOf(Col(h, "KROID")) + ", For WebOrder: " + reference + "(" +
                   order_id_ + ")";

    const int32_t partner = Col(h, "BUSINESSPARTNERID").ToLong();
    const int32_t ship_id = Col(h, "SHIPPINGADDRESSID").ToLong();
    const int32_t bill_id = Col(h, "BILLINGADDRESSID").ToLong();
    std::string ship_code, bill_code;
    {
      int32_t id = ship_id;
      const int16_t r = lib_sales::Sls__DetermineAddressInfo(partner, id, "DEL", ship_code, type_code_);
      if (r == 2 || r == 3 || ship_code.empty()) {
        ship_code.clear();
        FillAddressDetails("DEL", ship_id, false);
      } else {
        UseShipTo(so_record_, ship_code);
      }
    }
    {
      int32_t id = bill_id;
      const int16_t r = lib_sales::Sls__DetermineAddressInfo(partner, id, "INV", bill_code, type_code_);
      if (r == 2 || r == 3 || bill_code.empty()) {
        bill_code.clear();
        FillAddressDetails("INV", bill_id, false);
      } else {
        UseBillTo(bill_code);
      }
      UseBillTo(bill_code);
    }
    platform::Call(so_input_, "insertSalesOrdersAt",
                   {Variant(so_record_), platform::Call(so_input_, "sizeSalesOrders")});
    const Variant freight = Col(h, "FREIGHTTOTAL");
    if (Positive(freight)) AddFreightLine(freight.ToDouble(), lines);

    if (lines.RecordCount() == 0) return;
    auto& f = lines.fields();
    Field* f_date = f.Find("REQUESTDATE");
    Field* f_damount = f.Find("DISCOUNTAMOUNT");
    Field* f_dperc = f.Find("DISCOUNTPERC");
    Field* f_part = f.Find("PARTNUMBER");
    Field* f_quantity = f.Find("QUANTITY");
    Field* f_tax = f.Find("TAXCODE");
    Field* f_text = f.Find("LINETEXT");
    Field* f_address = f.Find("ADDRESSID");
    Field* f_position = f.Find(origin == 0 ? "BASKETLINENR" : origin == 1 ? "LINENUMBER" : "LINENR");
    Field* f_unit = f.Find(origin == 2 ? "UNITCODE" : "PRODUCTUNITCODE");
    Field* f_price = f.Find(origin == 2 ? "PRICE" : "PRODUCTPRICE");
    Field* f_config = f.Find(origin == 2 ? "CONFIGID" : "PRODUCTCONFIGID");
    Field* f_amount = f.Find(origin == 2 ? "AMOUNT" : "LINEAMOUNT");
    const bool line_sales_order = origin == 2 && lib_sales::Sls_HasValue(sales_order);
    for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) {
      const ObjectPtr line = NewSalesOrderLineRecord(*type_);
      current_line_ = line;
      const Variant d = getDateinKROFormat(ColOf(f_date));
      if (tw4) {
        platform::Call(line, "setPlannedDeliveryDate1", {d});
        platform::Call(line, "setPlannedReceiptDate", {d});
      } else {
        platform::Call(line, "setPlannedDeliveryDate", {d});
      }
      const Variant damount = ColOf(f_damount);
      const Variant dperc = ColOf(f_dperc);
      if (Positive(damount)) {
        const ObjectPtr v = NewLineDiscountAmount(*type_);
        platform::Call(v, tw4 ? "setDiscountAmount_1" : "setLdam_1", {damount});
        platform::Call(line, tw4 ? "setDiscountAmountSalesOrders" : "setDiscountAmount", {Variant(v)});
      } else if (Positive(dperc)) {
        const ObjectPtr v = NewLineDiscountPercentage(*type_);
        platform::Call(v, tw4 ? "setDiscountPercentage_1" : "setDisc_1", {dperc});
        platform::Call(line, tw4 ? "setDiscountPercentageSalesOrders" : "setLineDiscount", {Variant(v)});
      }
      platform::Call(line, "setItem", {Variant(mask_ + TextOf(ColOf(f_part)))});
      platform::Call(line, "setOrderedQuantity", {ColOf(f_quantity)});
      platform::Call(line, "setTaxCode", {ColOf(f_tax)});
      const Variant line_text = ColOf(f_text);
      if (lib_sales::Sls_HasValue(line_text)) {
        if (ObjectPtr block = GetTextinKROFormat(line_text.ToString(), 3))
          platform::Call(line, "setOrderLineText", {Variant(block)});
      }
      const Variant address_value = ColOf(f_address);
      const int32_t address = address_value.IsMissing() ? 0 : address_value.ToLong();
      if (address == ship_id && !ship_code.empty()) {
        UseShipTo(line, ship_code);
      } else if (address == bill_id && !bill_code.empty()) {
        UseShipTo(line, bill_code);
      } else {
        std::string code;
        int32_t id = address;
        const int16_t r = lib_sales::Sls__DetermineAddressInfo(partner, id, "DEL", code, type_code_);
        if (r == 2 || r == 3 || code.empty()) {
          FillAddressDetails("DEL", address, true);
        } else {
          UseShipTo(line, code);
        }
      }
      const Variant position = ColOf(f_position);
      platform::Call(line, "setSalesUnit",
                     {Variant(std::string(platform::text::TrimBlanks(TextOf(ColOf(f_unit)))))});
      platform::Call(line, "setPrice", {ColOf(f_price)});
      const std::string config(platform::text::TrimBlanks(TextOf(ColOf(f_config))));
      Variant amount = ColOf(f_amount);
      if (origin == 0 && amount.IsNull()) amount = Variant(int32_t{0});
      platform::Call(line, "setAmount", {amount});
      if (line_sales_order) platform::Call(line, "setSalesOrder", {sales_order});
      platform::Call(line, tw4 ? "setCustomerPurchaseOrderLine" : "setCustomerOrderPosition",
                     {Variant(position.ToLong())});
      if (lib_sales::Sls_HasValue(Variant(config)))
        AddProductVariants(config, order_id_, position.ToInteger());
      platform::Call(lines_input_, "insertSalesOrderLinesAt",
                     {Variant(line), platform::Call(lines_input_, "sizeSalesOrderLines")});
    }
  } catch (...) {
    LogQuietly("Ferrolink.Order.BuildInputValuesforV50c()");
  }
}

void Order::WriteError(const std::string& text) {
  // The ERP's text may run longer than the column holds; the start of it is
  // what an operator needs, and a refused write would lose all of it.
  constexpr size_t kErrorColumnLength = 4000;
  const std::string cut(platform::text::Utf8Prefix(text, kErrorColumnLength));
  connection_->Execute("UPDATE ORDERHEADER SET ERROR = " + lib_sales::EncString(cut) +
                       " WHERE ORDERID = " + lib_sales::EncString(order_id_));
}

void Order::ProcessOrder(int32_t origin, Recordset* lines, const std::string& component_id,
                         bool& error_occured, std::string& last_number) {
  Recordset& h = *header_;
  order_id_ = TextOf(Col(h, origin == 0 ? "BASKETID" : origin == 1 ? "QUOTATIONID" : "ORDERID"));
  std::shared_ptr<Recordset> stored_lines;
  if (origin == 2) {
    stored_lines = GetUntransferredLines(order_id_);
    lines = stored_lines.get();
  }
  InitializeOrder(component_id);
  if (lines) {
    BuildInputValuesforV50c(*lines, origin);
  } else {
    auto none = std::make_shared<Recordset>();
    BuildInputValuesforV50c(*none, origin);
  }

  ObjectPtr result;
  try {
    result = platform::Call(so_component_, "Create", {Variant(so_input_), Variant(lines_input_)})
                 .ToObject();
  } catch (...) {
    const std::string description = platform::CurrentError().description();
    // The caller must learn that this order was not taken.
    error_occured = true;
    WriteError(description);
    throw;
  }
  result_ = result;
  InitializeRecordSets();
  rs_orders_ = platform::Call(result, "getRecordSetSalesOrders").ToObject();
  const ObjectPtr errors = platform::Call(result, "getVornErrorDoc").ToObject();
  if (platform::GetProperty(errors, "Count").ToLong() > 0) {
    const ObjectPtr entry = platform::GetProperty(errors, "Item", {Variant(int32_t{0})}).ToObject();
    const std::string text = platform::GetProperty(entry, "ErrorText").ToString();
    const std::string field = platform::GetProperty(entry, "FieldName").ToString();
    LogError(platform::GetProperty(entry, "ErrorNumber").ToLong(),
             " Ferrolink.Order.CreateBackendSalesOrder: " + std::string(" Error:") + text +
                 " Field :" + field,
             text, " Ferrolink.Order.CreateBackendSalesOrder: " + std::string(" Error:") + text + " Field :" + field);
    error_occured = true;
    WriteError(text);
  } else {
    const int32_t n = rs_orders_ ? platform::Call(rs_orders_, "sizeSalesOrders").ToLong() : 0;
    if (n > 0) {
      const ObjectPtr record =
          platform::Call(rs_orders_, "getSalesOrdersAt", {Variant(n - 1)}).ToObject();
      const Variant number = platform::Call(record, "getSalesOrder");
      if (lib_sales::Sls_HasValue(number)) {
        last_number = number.ToString();
        const std::string number_sql = lib_sales::EncString(last_number);
        const std::string id_sql = lib_sales::EncString(order_id_);
        // The order's number and its lines' numbers are written together or
        // not at all: a half-written order would look taken over while
        // some of its lines are not.
        // The order is taken over whatever happened to the orders before it
        // in this call: left waiting, it would be handed over again and
        // refused as a duplicate.
        platform::data::Transaction tx(*connection_);
        connection_->Execute("UPDATE ORDERHEADER SET SALESORDERNR = " + number_sql +
                             ", ORDERSTATUS = " + "1" + " , ERROR = ''" +
                             " WHERE ORDERID = " + id_sql);
        if (type_ == ConnectorType::Twkt) {
          UpdateAddressFromSlsOrder(order_id_, platform::Call(record, "getShipToAddress").ToString(), 0);
          UpdateAddressFromSlsOrder(order_id_, platform::Call(record, "getBillToAddress").ToString(), 1);
        }
        if (platform::Call(result, "hasRecordSetSalesOrderLines").ToBool()) {
          rs_lines_ = platform::Call(result, "getRecordSetSalesOrderLines").ToObject();
          const int32_t count = platform::Call(rs_lines_, "sizeSalesOrderLines").ToLong();
          const char* web_line_getter = type_ == ConnectorType::Tw4 ? "getCustomerPurchaseOrderLine"
                                                                    : "getCustomerOrderPosition";
          for (int32_t j = 0; j < count; ++j) {
            const ObjectPtr line =
                platform::Call(rs_lines_, "getSalesOrderLinesAt", {Variant(j)}).ToObject();
            const Variant web_line = platform::Call(line, web_line_getter);
            const int32_t position = platform::Call(line, "getPositionNumber").ToLong();
            if (position > 0 && !web_line.IsMissing()) {
              connection_->Execute("UPDATE ORDERLINE SET SALESORDERNR = " + number_sql +
                                   " , SALESORDERLINENR = " + lib_sales::EncLong(position) +
                                   " WHERE ORDERID = " + id_sql +
                                   " AND LINENR = " + lib_sales::EncLong(web_line.ToLong()));
            }
          }
        }
        tx.Commit();
      }
    }
  }
  platform::Call(so_component_, "Close");
  ReleaseOrderObjects();
  if (error_occured) {
    try {
      throw platform::ComError(0, " Vendra.Order.SubmitBasket: " + log_context_ +
                                      ", Backend Sales OrderNo: " + last_number,
                               " Some/All lines creation failed at Backend ");
    } catch (const platform::ComError&) {
      try {
        lib_sales::LogWarning(" Vendra.Order.SubmitBasket: " + log_context_ +
                                  ", Backend Sales OrderNo: " + last_number,
                              Variant(" Some/All lines creation failed at Backend "));
      } catch (...) {
      }
    }
  }
}

std::string Order::CreateBackendSalesOrder(const ObjectPtr& iOrder, bool& iErrorOccured) {
  iErrorOccured = false;
  std::string last_number;
  try {
    const int32_t origin = lib_sales::ItemOf(iOrder, "origin").ToLong();
    header_ = lib_sales::ItemOf(iOrder, "header").As<Recordset>();
    std::shared_ptr<Recordset> lines;
    if (origin != 2) lines = lib_sales::ItemOf(iOrder, "lines").As<Recordset>();
    if (!header_) platform::Raise(platform::err::kObjectRequired, "Ferrolink.Order", "The order document has no header");
    if (header_->RecordCount() == 0) return last_number;

    header_->MoveFirst();
    int32_t kro_id = 0;
    const Variant kro = Col(*header_, "KROID");
    if (lib_sales::Sls_HasValue(kro)) {
      kro_id = kro.ToLong();
    } else {
      LogError(lib_sales::Code(lib_sales::VendraError::KROIDNotFound), kNoInstance,
               "Kro Instance not found", kNoInstance);
    }
    const ObjectPtr selector = lib_sales::Sls_GetComponent("Gantrel.Selector");
    const ObjectPtr settings =
        platform::Call(selector, "GetInstanceSettings", {Variant(kro_id)}).ToObject();
    const std::string component_id = TextOf(lib_sales::ItemOf(settings, "componentid"));
    if (component_id.empty()) {
      LogError(lib_sales::Code(lib_sales::VendraError::KROIDNotFound), kNoInstance,
               "Kro Instance not found", kNoInstance);
      // No instance to hand the orders to: the caller must not take that
      // for success.
      iErrorOccured = true;
      return last_number;
    }
    const ObjectPtr instance = platform::Call(selector, "GetInstance", {Variant(kro_id)}).ToObject();
    SetConnectorTypeForTest(
        platform::text::LowerAscii(platform::Call(instance, "ConnectorType").ToString()));
    if (type_ == ConnectorType::Tw4) {
      mask_.clear();
    } else if (lib_sales::ItemOf(settings, "alignment").IsMissing()) {
      mask_ = std::string(9, ' ');
    } else {
      mask_ = TextOf(lib_sales::ItemOf(settings, "itemsegmentationmask"));
      for (char& c : mask_)
        if (c == '*') c = ' ';
    }

    connection_ = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    const int32_t count = header_->RecordCount();
    header_->MoveFirst();
    for (int32_t i = 0; i < count && !header_->Eof(); ++i) {
      ProcessOrder(origin, lines.get(), component_id, iErrorOccured, last_number);
      header_->MoveNext();
    }
    lib_sales::Sls_CloseConnection(connection_);
    return last_number;
  } catch (...) {
    ReleaseOrderObjects();
    LogQuietly(kCreateSource);
    // Whatever failed, the order being handed over was not taken (or its
    // numbers did not come back): the caller is told so.
    iErrorOccured = true;
    if (connection_) {
      try {
        connection_->Close();
      } catch (...) {
      }
      connection_.reset();
    }
    return last_number;
  }
}

}  // namespace ferrolink
