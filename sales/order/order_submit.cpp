// Order.SubmitBasket and its steps: the basket (or quotation) becomes the
// order, so its addresses, header and lines are written and the basket rows
// deleted in the one transaction of the submission.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/admin/manager.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"

namespace vendra {

namespace {

using platform::ComError;
using platform::Variant;
using platform::data::Connection;
using platform::data::Field;
using platform::data::Recordset;

constexpr std::string_view kSubmitSource = "Order.SubmitBasket";
constexpr std::string_view kAddressesSource = "Order.InsertAddresses";
constexpr std::string_view kHeaderSource = "Order.InsertOrderHeader";
constexpr std::string_view kLinesSource = "Order.InsertOrderLines";
constexpr std::string_view kQuotationSource = "Order.UpdateQuotation";

// The address fields Kelmor.BusinessPartner.GetAddress gives, copied into
// ADDRESSHISTORY under the same names.
constexpr std::string_view kAddressFields[] = {
    "COUNTRYCODE", "NAME1", "NAME2",   "STREET1", "STREET2",     "CITY1",           "CITY2",
    "STATEPROVINCE", "ZIPCODE", "PHONE", "FAX", "COUNTRYNAME", "SHORTDESCRIPTION"};

// The document as the steps read it.
struct SubmittedDocument {
  std::shared_ptr<Recordset> header;
  std::shared_ptr<Recordset> lines;
  bool quotation = false;  // "origin" 1: a quotation becoming an order
};

// Where a value was read, for the text of a failure: line 0 is the header.
struct Place {
  std::string_view source;
  int32_t line;
};

// Null and Empty, and the empty text, mean "not filled in" to the pages.
bool Blank(const Variant& value) {
  if (value.IsMissing()) return true;
  const std::string* text = value.Get<std::string>();
  return text && text->empty();
}

// A required value the page left Null fails the submission with the classic
// number, saying which value it was.
const Variant& Required(const Variant& value, const Place& place, std::string_view column) {
  if (value.IsMissing()) {
    const std::string where = place.line == 0
                                  ? std::string("the order header")
                                  : "line " + std::to_string(place.line) + " of the order";
    throw ComError(platform::err::kInvalidUseOfNull, std::string(place.source),
                   "Invalid use of Null: " + where + " has no " + std::string(column));
  }
  return value;
}

// The encodings of the order tables. Numbers and raw values go through the
// Variant conversions, so text that is no number fails (13) instead of
// reaching the statement.
std::string Text(const Variant& value) { return lib_sales::EncVariant(value); }
std::string TextOrNull(const Variant& value) {
  return Blank(value) ? std::string("NULL") : lib_sales::EncVariant(value);
}
std::string Number(const Variant& value) { return lib_sales::EncDouble(value.ToDouble()); }
std::string NumberOr(const Variant& value, std::string_view fallback) {
  return Blank(value) ? std::string(fallback) : Number(value);
}
std::string RawLong(const Variant& value) { return lib_sales::EncLong(value.ToLong()); }
std::string RawSmall(const Variant& value) {
  return lib_sales::EncLong(static_cast<int32_t>(value.ToInteger()));
}
std::string DateOrNull(const Variant& value) {
  return Blank(value) ? std::string("NULL") : lib_sales::EncDate(value.ToDate());
}

// Inside a step's handler: a failure of the statement is told by the
// connection's error list and the statement; any other failure (a missing
// value, an unknown address) keeps its own words, which the list would lose.
[[noreturn]] void RethrowWithStatement(const Connection& connection, const std::string& sql) {
  ComError failure = platform::CurrentError();
  const std::string errors = lib_sales::ConnectionErrorsText(&connection);
  if (!errors.empty()) failure.set_description(errors + " executing: '" + sql + "'");
  throw failure;
}

std::shared_ptr<Recordset> RecordSetOf(const platform::ObjectPtr& document, const char* key) {
  std::shared_ptr<Recordset> set = lib_sales::ItemOf(document, key).As<Recordset>();
  if (!set || !set->IsOpen()) {
    platform::Raise(platform::err::kObjectRequired, std::string(kSubmitSource),
                    std::string("The document has no open \"") + key + "\" record set");
  }
  return set;
}

SubmittedDocument ReadDocument(const Variant& basket) {
  const platform::ObjectPtr document = basket.ToObject();
  if (!document) {
    platform::Raise(platform::err::kObjectRequired, std::string(kSubmitSource),
                    "No basket document was given");
  }
  SubmittedDocument doc;
  doc.quotation = lib_sales::ItemOf(document, "origin").ToLong() == kOriginQuotation;
  doc.header = RecordSetOf(document, "header");
  doc.lines = RecordSetOf(document, "lines");
  if (doc.header->RecordCount() == 0) {
    platform::Raise(platform::err::kObjectRequired, std::string(kSubmitSource),
                    "The document's header record set holds no row");
  }
  doc.header->MoveFirst();
  return doc;
}

// The order key the rows are written under: the basket id, or the new order
// id a quotation was given.
std::string OrderKey(const SubmittedDocument& doc) {
  return doc.header->Value(doc.quotation ? "QUOTATIONID" : "BASKETID").ToString();
}

void InsertAddresses(const SubmittedDocument& doc,
                     const std::shared_ptr<Connection>& connection) {
  std::string sql;
  lib_sales::Guarded(kAddressesSource, [&] {
    try {
      const std::string key = OrderKey(doc);
      const Place header{kAddressesSource, 0};
      // Each address once, in the order of first appearance: invoice,
      // delivery, then the lines' delivery addresses.
      std::vector<int32_t> ids;
      std::unordered_set<int32_t> seen;
      const auto add = [&](int32_t id) {
        if (seen.insert(id).second) ids.push_back(id);
      };
      add(Required(doc.header->Value("BILLINGADDRESSID"), header, "BILLINGADDRESSID").ToLong());
      add(Required(doc.header->Value("SHIPPINGADDRESSID"), header, "SHIPPINGADDRESSID").ToLong());
      if (doc.lines->RecordCount() > 0) {
        Field& address = (*doc.lines)["ADDRESSID"];
        int32_t line = 0;
        for (doc.lines->MoveFirst(); !doc.lines->Eof(); doc.lines->MoveNext()) {
          add(Required(address.Value(), Place{kAddressesSource, ++line}, "ADDRESSID").ToLong());
        }
      }

      const platform::ObjectPtr partner = lib_sales::Sls_GetComponent("Kelmor.BusinessPartner");
      const std::string key_literal = lib_sales::EncString(key);
      auto history = std::make_shared<Recordset>();
      history->SetCursorLocation(platform::data::adUseClient);
      for (int32_t id : ids) {
        sql = "SELECT * FROM ADDRESSHISTORY WHERE " + std::string("ORDERID = ") + key_literal +
              " AND ADDRESSID = " + lib_sales::EncLong(id);
        history->Open(sql, connection, platform::data::adOpenKeyset,
                      platform::data::adLockOptimistic);
        if (history->Eof()) {
          std::shared_ptr<Recordset> live =
              platform::Call(partner, "GetAddress", {Variant(id)}).As<Recordset>();
          if (!live || live->Eof()) {
            platform::Raise(platform::data::data_err::kNoCurrentRecord, std::string(kAddressesSource),
                            "Address " + std::to_string(id) +
                                " of the order is not known to the customer master");
          }
          history->AddNew();
          history->SetValue("ORDERID", Variant(key));
          history->SetValue("ADDRESSID", Variant(id));
          for (std::string_view field : kAddressFields) history->SetValue(field, live->Value(field));
          const Variant code = platform::Call(partner, "GetKROAddressCodeFromAddressID", {Variant(id)});
          if (lib_sales::Sls_HasValue(code)) history->SetValue("KROADDRESSCODE", code);
          history->Update();
        }
        history->Close();
      }
    } catch (...) {
      RethrowWithStatement(*connection, sql);
    }
  });
}

void InsertOrderHeader(const SubmittedDocument& doc, Connection& connection, const std::string& id) {
  std::string sql;
  lib_sales::Guarded(kHeaderSource, [&] {
    try {
      Recordset& h = *doc.header;
      const Place at{kHeaderSource, 0};
      // A page that chose no payment method means an invoice: the header says
      // so from now on, for the back end that reads it next.
      if (Blank(h.Value("PAYMENTMETHOD"))) h.SetValue("PAYMENTMETHOD", Variant(int16_t{1}));
      const Variant calculate_tax = h.Value("CALCULATETAX");

      std::string values;
      values.reserve(1024);
      const auto put = [&](const std::string& literal) {
        if (!values.empty()) values += ", ";
        values += literal;
      };
      put(Text(h.Value(doc.quotation ? "QUOTATIONID" : "BASKETID")));
      put(Text(h.Value("CURRENCYCODE")));
      put(Text(h.Value("USERID")));
      put(RawLong(Required(h.Value("SHIPPINGADDRESSID"), at, "SHIPPINGADDRESSID")));
      put(RawLong(Required(h.Value("BILLINGADDRESSID"), at, "BILLINGADDRESSID")));
      put(RawLong(Required(h.Value("BUSINESSPARTNERID"), at, "BUSINESSPARTNERID")));
      put(Text(h.Value("CARRIERCODE")));
      put(Text(h.Value(doc.quotation ? "CUSTOMERREFERENCE" : "BASKETNAME")));
      put(lib_sales::EncLong(static_cast<int32_t>(OrderStatus::ToBeProcessed)));
      put(lib_sales::EncDate(platform::Clock::Now()));
      put(Text(h.Value("ORDERTYPE")));
      put(Text(h.Value(doc.quotation ? "COMMENTS" : "BASKETTEXT")));
      put("''");
      put(doc.quotation ? Text(Variant(id)) : std::string("NULL"));
      put(Number(Required(h.Value("DISCOUNTPERC"), at, "DISCOUNTPERC")));
      put(TextOrNull(h.Value("CUSTOMERPONUMBER")));
      put(TextOrNull(h.Value("ACKNOWLEDGEMENTURL")));
      put(Blank(h.Value("KROID")) ? std::string("NULL") : RawLong(h.Value("KROID")));
      put(NumberOr(h.Value("FREIGHTTOTAL"), "NULL"));
      put(RawSmall(h.Value("PAYMENTMETHOD")));
      put(NumberOr(h.Value("FREIGHTTAXTOTAL"), "NULL"));
      put(Blank(calculate_tax) ? std::string("0") : RawSmall(calculate_tax));
      put(Blank(h.Value("CURRENCYDECIMALS")) ? std::string("NULL")
                                              : RawSmall(h.Value("CURRENCYDECIMALS")));
      put(Text(h.Value("CUSTOMERCODE")));
      put(Text(h.Value("CUSTOMERNAME")));
      put(Text(h.Value("FREIGHTTAXCODE")));
      put(Text(h.Value("FREIGHTTAXCODEDESCRIPTION")));
      put(NumberOr(h.Value("FREIGHTTAXPERC"), "NULL"));
      put(NumberOr(h.Value("SUBTOTAL"), "NULL"));
      put(NumberOr(h.Value("TAXTOTAL"), "NULL"));
      put(NumberOr(h.Value("TOTAL"), "NULL"));
      put(NumberOr(h.Value("TOTALNETAMOUNT"), "NULL"));
      put(NumberOr(h.Value("DISCOUNTTOTAL"), "NULL"));
      put(Text(h.Value("CURRENCYSYMBOL")));

      sql = "INSERT INTO ORDERHEADER (ORDERID, CURRENCYCODE, USERID, SHIPPINGADDRESSID, "
            "BILLINGADDRESSID, BUSINESSPARTNERID, CARRIERCODE, ORDERLISTNAME, ORDERSTATUS, "
            "ORDERDATE, ORDERTYPE, HEADERTEXT, SALESORDERNR, QUOTATIONID, DISCOUNTPERC, "
            "CUSTOMERPONR, ACKNOWLEDGEMENTURL, KROID, FREIGHTTOTAL, WEBPAYMENTMETHOD, FREIGHTTAX, "
            "CALCULATETAX, CURRENCYDECIMALS, CUSTOMERCODE, CUSTOMERNAME, FREIGHTTAXCODE, "
            "FREIGHTTAXCODEDESCRIPTION, FREIGHTTAXPERC, SUBTOTAL, TAXTOTAL, TOTAL, "
            "TOTALNETAMOUNT, DISCOUNTTOTAL, CURRENCYSYMBOL) VALUES (" +
            values + ")";
      connection.Execute(sql);
    } catch (...) {
      RethrowWithStatement(connection, sql);
    }
  });
}

void InsertOrderLines(const SubmittedDocument& doc, Connection& connection) {
  std::string sql;
  lib_sales::Guarded(kLinesSource, [&] {
    try {
      Recordset& l = *doc.lines;
      if (l.RecordCount() == 0) return;
      // The fields follow the current row, so each is looked up once.
      Field& order_id = l[doc.quotation ? "QUOTATIONID" : "BASKETID"];
      Field& sku = l["SKU"];
      Field& unit = l["PRODUCTUNITCODE"];
      Field& address = l["ADDRESSID"];
      Field& quantity = l["QUANTITY"];
      Field& price = l["PRODUCTPRICE"];
      Field& discount_perc = l["DISCOUNTPERC"];
      Field& discount_amount = l["DISCOUNTAMOUNT"];
      Field* line_discount = doc.quotation ? nullptr : &l["LINEDISCOUNTAMOUNT"];
      Field& amount = l["LINEAMOUNT"];
      Field& config_id = l["PRODUCTCONFIGID"];
      Field& text = l["LINETEXT"];
      Field& request_date = l["REQUESTDATE"];
      Field& tax = l["TAXAMOUNT"];
      Field& freight = l["FREIGHTAMOUNT"];
      Field& tax_code = l["TAXCODE"];
      Field& tax_percentage = l["TAXPERCENTAGE"];
      Field& tax_description = l["TAXCODEDESCRIPTION"];
      Field& freight_tax = l["FREIGHTTAXAMOUNT"];
      Field& order_discount = l[doc.quotation ? "DISCOUNTAMOUNT" : "ORDERDISCOUNTAMOUNT"];
      Field& part_number = l["PARTNUMBER"];

      constexpr std::string_view kInsert =
          "INSERT INTO ORDERLINE (ORDERID, LINENR, PRODUCTID, UNITCODE, ADDRESSID, QUANTITY, "
          "PRICE, DISCOUNTPERC, DISCOUNTAMOUNT, AMOUNT, CONFIGID, CONFIGCOMPLETE, LINETEXT, "
          "REQUESTDATE, ALLOCATIONDATE, LINETAX, LINEFREIGHT, TAXCODE, TAXPERCENTAGE, "
          "TAXCODEDESCRIPTION, LINEFREIGHTTAX, LINESTATUS, ORDERDISCOUNT, PARTNUMBER) VALUES (";
      const std::string line_status =
          lib_sales::EncLong(static_cast<int32_t>(OrderLineStatus::NotAllocated));
      std::string statement;
      statement.reserve(1024);
      int32_t number = 0;
      for (l.MoveFirst(); !l.Eof(); l.MoveNext()) {
        sql.clear();
        const Place at{kLinesSource, ++number};
        const Variant perc = Required(discount_perc.Value(), at, "DISCOUNTPERC");
        // The discount per unit: a percentage wins over an amount. A basket
        // line carries the page's figure; a quotation line only its price
        // and percentage.
        std::string discount;
        if (perc.ToDouble() == 0) {
          discount = Number(Required(discount_amount.Value(), at, "DISCOUNTAMOUNT"));
        } else if (line_discount) {
          discount = Number(Required(line_discount->Value(), at, "LINEDISCOUNTAMOUNT"));
        } else {
          const double unit_price = Required(price.Value(), at, "PRODUCTPRICE").ToDouble();
          discount = lib_sales::EncDouble(unit_price * perc.ToDouble() / 100);
        }
        const Variant config = config_id.Value();
        const bool configured =
            !Blank(config) && config.ToString().find_first_not_of(' ') != std::string::npos;

        statement.assign(kInsert);
        statement += Text(order_id.Value());
        statement += ", " + lib_sales::EncLong(number);
        statement += ", " + Number(Required(sku.Value(), at, "SKU"));
        statement += ", " + Text(unit.Value());
        statement += ", " + RawLong(Required(address.Value(), at, "ADDRESSID"));
        statement += ", " + Number(Required(quantity.Value(), at, "QUANTITY"));
        statement += ", " + Number(Required(price.Value(), at, "PRODUCTPRICE"));
        statement += ", " + Number(perc);
        statement += ", " + discount;
        statement += ", " + Number(Required(amount.Value(), at, "LINEAMOUNT"));
        statement += ", " + (configured ? Text(config) : std::string("NULL"));
        statement += configured ? ", 1" : ", 0";
        statement += ", " + TextOrNull(text.Value());
        statement += ", " + DateOrNull(request_date.Value());
        statement += ", NULL";
        statement += ", " + NumberOr(tax.Value(), "0");
        statement += ", " + NumberOr(freight.Value(), "0");
        statement += ", " + TextOrNull(tax_code.Value());
        statement += ", " + NumberOr(tax_percentage.Value(), "0");
        statement += ", " + TextOrNull(tax_description.Value());
        statement += ", " + NumberOr(freight_tax.Value(), "0");
        statement += ", " + line_status;
        statement += ", " + Number(Required(order_discount.Value(), at,
                                            doc.quotation ? "DISCOUNTAMOUNT" : "ORDERDISCOUNTAMOUNT"));
        statement += ", " + TextOrNull(part_number.Value());
        statement += ")";
        sql = statement;
        connection.Execute(sql);
      }
    } catch (...) {
      RethrowWithStatement(connection, sql);
    }
  });
}

void UpdateQuotation(const std::string& quotation_id, Connection& connection) {
  lib_sales::Guarded(kQuotationSource, [&] {
    connection.Execute("UPDATE QUOTATIONHEADER SET COPIEDTOORDER = 1" + std::string(" ") +
                       "WHERE QUOTATIONID = " + lib_sales::EncVariant(Variant(quotation_id)));
  });
}

}  // namespace

void Order::SubmitBasket(Variant& iBasket) {
  lib_sales::Guarded(kSubmitSource, [&] {
    SubmittedDocument doc = ReadDocument(iBasket);
    std::string id;  // the basket's id, or the quotation's own
    if (doc.quotation) {
      id = doc.header->Value("QUOTATIONID").ToString();
      // The quotation stays a quotation; the order gets an id of its own,
      // which every record of the document carries from now on.
      const Variant order_id(lib_sales::NewGuidString());
      doc.header->SetValue("QUOTATIONID", order_id);
      if (doc.lines->RecordCount() > 0) {
        Field& line_id = (*doc.lines)["QUOTATIONID"];
        for (doc.lines->MoveFirst(); !doc.lines->Eof(); doc.lines->MoveNext()) line_id.SetValue(order_id);
      }
    } else {
      id = doc.header->Value("BASKETID").ToString();
    }

    {
      std::shared_ptr<Connection> connection =
          lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
      // Rolls back unless committed: a failure anywhere before the commit
      // leaves no order, no address copies and the basket or quotation as it was.
      platform::data::Transaction transaction(*connection);
      InsertAddresses(doc, connection);
      InsertOrderHeader(doc, *connection, id);
      InsertOrderLines(doc, *connection);
      if (doc.quotation) {
        UpdateQuotation(id, *connection);
      } else {
        // The id is encoded like any key, so an id holding a quote can neither
        // break the statement nor widen what it deletes.
        const std::string key = lib_sales::EncString(id);
        connection->Execute("DELETE FROM BASKETLINE WHERE BASKETID = " + key);
        connection->Execute("DELETE FROM BASKETHEADER WHERE BASKETID = " + key);
      }
      transaction.Commit();
      lib_sales::Sls_CloseConnection(connection);
    }

    // The order is stored. Whether its back end takes it at once is the
    // instance's choice; any other answer leaves it to the periodic run.
    std::string message_type = "EXPORTMESSAGETYPE";
    Manager().GetKROOrderProcessParam(doc.header->Value("KROID").ToLong(), message_type);
    if (message_type == "2") {
      CreateSOatBackend(0, iBasket.ToObject());
    }
  });
}

}  // namespace vendra
