// Vendra.Quotation: storing quotations. A basket (or, for a copy, another
// quotation) is priced and written as a QUOTATIONHEADER row with its
// QUOTATIONLINE rows; quotations are shown, saved after the pages changed
// them, trimmed line by line and deleted. Pricing is quotation_pricing.cpp.
#include "sales/quotation/quotation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>
#include <utility>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/basket/basket_internal.h"
#include "sales/quotation/quotation_internal.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/localisation.h"
#include "shared/parameters.h"

namespace vendra {

using platform::Date;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;
using lib_sales::VendraError;

namespace quotation_detail {

Quotation::Document DocumentOf(const Variant& value) {
  platform::ObjectPtr object;
  if (value.IsObject()) object = value.ToObject();
  auto document = std::dynamic_pointer_cast<platform::Dictionary>(object);
  if (!document)
    platform::Raise(platform::err::kObjectRequired, "Vendra.Quotation",
                    "A quotation or basket document (a dictionary with \"header\" and \"lines\") "
                    "is required");
  return document;
}

namespace {
std::shared_ptr<Recordset> SetOf(const Quotation::Document& document, const char* key) {
  const Variant entry = document->Item(key);
  std::shared_ptr<Recordset> rs;
  if (entry.IsObject()) rs = std::dynamic_pointer_cast<Recordset>(entry.ToObject());
  if (!rs || !rs->IsOpen())
    platform::Raise(platform::err::kObjectRequired, "Vendra.Quotation",
                    std::string("The document has no open \"") + key + "\" record set");
  return rs;
}
}  // namespace

std::shared_ptr<Recordset> HeaderOf(const Quotation::Document& document) {
  auto header = SetOf(document, "header");
  if (header->RecordCount() == 0)
    platform::Raise(platform::err::kObjectRequired, "Vendra.Quotation",
                    "The document's header record set holds no row");
  // The header has one row; a page that walked it may have left it at the end.
  if (header->Bof() || header->Eof()) header->MoveFirst();
  return header;
}

std::shared_ptr<Recordset> LinesOf(const Quotation::Document& document) {
  return SetOf(document, "lines");
}

bool IsBasket(Recordset& header) {
  return header.FieldCount() > 0 && header[0].Name() == "BASKETID";
}

std::string TextOf(const Variant& value) { return value.IsMissing() ? std::string() : value.ToString(); }

std::string Trimmed(const Variant& value) {
  return std::string(platform::text::TrimBlanks(TextOf(value)));
}

int32_t LineNumberOf(const Variant& value) {
  double number = 0;
  try {
    number = value.ToDouble();
  } catch (...) {
    number = NAN;
  }
  if (!std::isfinite(number) || number != std::trunc(number) || number < INT32_MIN ||
      number > INT32_MAX) {
    platform::Raise(platform::err::kTypeMismatch, "Vendra.Quotation",
                    "Type mismatch: '" + (value.IsMissing() ? std::string("Null") : TextOf(value)) +
                        "' is not a line number");
  }
  return static_cast<int32_t>(number);
}

int32_t QuantityOf(Recordset& lines, int32_t line) {
  const Variant quantity = lines.Value("QUANTITY");
  const std::string where = "line " + std::to_string(line) + " of the quotation";
  if (quantity.IsMissing())
    platform::Raise(platform::err::kInvalidUseOfNull, "Vendra.Quotation",
                    "Invalid use of Null: " + where + " has no QUANTITY");
  double number = 0;
  try {
    number = quantity.ToDouble();
  } catch (...) {
    platform::Raise(platform::err::kTypeMismatch, "Vendra.Quotation",
                    "Type mismatch: the quantity '" + TextOf(quantity) + "' of " + where +
                        " is not a number");
  }
  // A quotation offers goods: nothing, or less than nothing, is no offer and
  // would only price to zero or to a credit.
  const double whole = std::isfinite(number) ? platform::RoundHalfEven(number) : 0;
  if (!(whole >= 1))
    platform::Raise(platform::err::kInvalidProcedureCall, "Vendra.Quotation",
                    "The quantity " + TextOf(quantity) + " of " + where +
                        " is not a quantity that can be quoted (at least 1)");
  if (whole > INT32_MAX) platform::Raise(platform::err::kOverflow, "Vendra.Quotation", "Overflow: the quantity of " + where);
  return static_cast<int32_t>(whole);
}

OrderQuantities OrderQuantitiesOf(Recordset& lines) {
  OrderQuantities totals;
  if (lines.RecordCount() == 0) return totals;
  // Walked on a clone, so the caller's position does not move.
  auto clone = lines.Clone();
  int32_t line = 0;
  for (clone->MoveFirst(); !clone->Eof(); clone->MoveNext()) {
    const int32_t sku = clone->Value("SKU").ToLong();
    const int64_t sum = int64_t{totals[sku]} + QuantityOf(*clone, ++line);
    if (sum > INT32_MAX)
      platform::Raise(platform::err::kOverflow, "Vendra.Quotation",
                      "Overflow: the quantities of product " + std::to_string(sku) +
                          " add up to more than a quantity can hold");
    totals[sku] = static_cast<int32_t>(sum);
  }
  return totals;
}

const platform::ObjectPtr& OperationReads::Product(int32_t product_id) {
  auto it = products_.find(product_id);
  if (it != products_.end()) return it->second;
  if (!catalog_) catalog_ = lib_sales::Sls_GetComponent("Brevane.Product");
  std::vector<Variant> args{Variant(product_id)};
  platform::ObjectPtr properties = platform::CallRef(catalog_, "GetProductProperties", args).ToObject();
  return products_.emplace(product_id, std::move(properties)).first->second;
}

const std::string* OperationReads::PartnerValue(const std::string& key) const {
  auto it = partner_values_.find(key);
  return it == partner_values_.end() ? nullptr : &it->second;
}

void OperationReads::KeepPartnerValue(const std::string& key, const std::string& value) {
  partner_values_[key] = value;
}

}  // namespace quotation_detail

namespace {

using namespace quotation_detail;
using basket_detail::OperationConnection;

// Each level a failure passes through reports it under its own name.
constexpr char kCreate[] = "Quotation.Create";
constexpr char kCreateQuotation[] = "Quotation.CreateQuotation";
constexpr char kInsertHeader[] = "Quotation.InsertQuotationHeader";
constexpr char kInsertLines[] = "Quotation.InsertQuotationLines";
constexpr char kDetermineExpiry[] = "Quotation.DetermineExpiry";
constexpr char kReadExpirySettings[] = "Quotation.ReadExpirySettings";
constexpr char kQuotationHasLines[] = "Quotation.QuotationHasLines";
constexpr char kSave[] = "Vendra.Quotation.Save";
constexpr char kShow[] = "Vendra.Quotation.Show()";
constexpr char kGetLines[] = "Vendra.Quotation.GetLines()";
constexpr char kCopy[] = "Vendra.CopyToQuotation()";
constexpr char kDelete[] = "Vendra.Quotation.Delete()";
constexpr char kDeleteLine[] = "Vendra.Quotation.DeleteQuotationLine()";
constexpr char kCheckLines[] = "Vendra.Quotation.CheckQuotationLinesPresent()";

constexpr int32_t kNoRecords = ado::adCmdText | ado::adExecuteNoRecords;

// A value the statement cannot do without, or a failure saying which.
const Variant& Required(const Variant& value, int32_t line, const char* column) {
  if (value.IsMissing()) {
    const std::string where = line == 0 ? std::string("the quotation header")
                                        : "line " + std::to_string(line) + " of the quotation";
    platform::Raise(platform::err::kInvalidUseOfNull, "Vendra.Quotation",
                    "Invalid use of Null: " + where + " has no " + column);
  }
  return value;
}

// The literal forms of the quotation tables.
std::string Long(const Variant& value, int32_t line, const char* column) {
  return lib_sales::EncLong(Required(value, line, column));
}
std::string Double(const Variant& value, int32_t line, const char* column) {
  return lib_sales::EncDouble(Required(value, line, column));
}
// Trimmed text, NULL when there is none.
std::string TrimmedOrNull(const Variant& value) {
  const std::string text = Trimmed(value);
  return text.empty() ? std::string("NULL") : lib_sales::EncVariant(Variant(text));
}
std::string TextOrNull(const Variant& value) {
  const std::string text = TextOf(value);
  return text.empty() ? std::string("NULL") : lib_sales::EncVariant(Variant(text));
}
// A flag as the 1 or 0 the column keeps. A true byte (255) reads the same
// but makes the table's normalising trigger write the row a second time. A
// flag the page never set (a basket line says nothing of a complete
// configuration) is false.
std::string Flag(bool value) { return lib_sales::EncLong(value ? 1 : 0); }
std::string Flag(const Variant& value) { return Flag(!value.IsMissing() && value.ToBool()); }

// A partner id as the decimal text of its number, so it can stand between
// quotes in a statement whatever the page put into the header.
std::string PartnerIdText(Recordset& header) {
  return std::to_string(Required(header.Value("BUSINESSPARTNERID"), 0, "BUSINESSPARTNERID").ToLong());
}

std::shared_ptr<Recordset> OpenDetached(const std::string& sql, const Quotation::Connection& connection,
                                        int32_t max_records) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  if (max_records > 0) rs->SetMaxRecords(max_records);
  rs->Open(sql, connection, ado::adOpenStatic, ado::adLockBatchOptimistic, ado::adCmdText);
  rs->SetActiveConnection(nullptr);
  return rs;
}

// Writes one set's pending changes on the connection, in its transaction,
// and leaves the set detached again whatever happens.
void WriteBatch(Recordset& rs, const Quotation::Connection& connection) {
  struct Detach {
    Recordset& rs;
    ~Detach() {
      try {
        rs.SetActiveConnection(nullptr);
      } catch (...) {
      }
    }
  } detach{rs};
  rs.SetActiveConnection(connection);
  rs.UpdateBatch();
}

// The elements of a Variant array; anything but an array has none.
const platform::VariantArray* ElementsOf(const std::optional<Variant>& value) {
  if (!value || !value->IsArray()) return nullptr;
  return &value->Array();
}

}  // namespace

const platform::ClassBinding<Quotation>& Quotation::Binding() {
  static const auto b =
      platform::ClassBinding<Quotation>("Quotation")
          .Method("Exists", &Quotation::Exists)
          .Method("BeforeDelete", &Quotation::BeforeDelete)
          .Method("Create", &Quotation::Create)
          .Method("Save", &Quotation::Save)
          .Method("Show", &Quotation::Show)
          .Method("GetLines", &Quotation::GetLines)
          .Method("CopyQuotation", &Quotation::CopyQuotation)
          .Method("Delete", &Quotation::Delete)
          .Method("DeleteLine", &Quotation::DeleteLine)
          .Method("CheckQuotationLinesPresent", &Quotation::CheckQuotationLinesPresent)
          .Method("ConvertToXML", &Quotation::ConvertToXML)
          .Method("Run", &Quotation::Run)
          .Method("SendNotificationMail", &Quotation::SendNotificationMail)
          .Method("fillLabelsArray", &Quotation::fillLabelsArray)
          .Method("getToBeNotifiedQuotations", &Quotation::getToBeNotifiedQuotations)
          .Method("UpdateNotificationStatus", &Quotation::UpdateNotificationStatus)
          .Method("GetBPStoredInDB", &Quotation::GetBPStoredInDB);
  return b;
}

quotation_detail::OperationReads& Quotation::Reads() {
  if (!reads_) reads_ = std::make_shared<OperationReads>();
  return *reads_;
}

// --- Create -------------------------------------------------------------------------

void Quotation::Create(const Variant& i_oBasket) {
  std::string errors;
  lib_sales::Guarded(
      kCreate,
      [&] {
        const Document document = DocumentOf(i_oBasket);
        const std::string basket_id = HeaderOf(document)->Value("BASKETID").ToString();
        ReadScope reads(reads_);
        OperationConnection connection;
        {
          ado::Transaction tx(*connection.get());
          try {
            CreateQuotation(document, connection.get());
            // The basket becomes the quotation and stops existing, in the
            // same transaction: never both, never neither.
            const std::string key = lib_sales::EncString(basket_id);
            connection.get()->Execute("DELETE FROM BASKETLINE WHERE BASKETID = " + key, nullptr,
                                      kNoRecords);
            connection.get()->Execute("DELETE FROM BASKETHEADER WHERE BASKETID = " + key, nullptr,
                                      kNoRecords);
            tx.Commit();
          } catch (...) {
            // Read before the rollback, which clears the connection's errors.
            errors = lib_sales::ConnectionErrorsText(connection.get().get());
            throw;
          }
        }
        connection.Close();
      },
      [&] { return lib_sales::Info(Variant(errors)); });
}

bool Quotation::CreateQuotation(const Document& document, const Connection& connection) {
  return lib_sales::Guarded(kCreateQuotation, [&] {
    // A product the shop no longer sells is not offered: the page hears
    // which line holds it and nothing is stored. (A copy drops such lines
    // and reports them instead.)
    Recordset& lines = *LinesOf(document);
    if (IsBasket(*HeaderOf(document)) && lines.RecordCount() > 0) {
      int32_t line = 0;
      for (lines.MoveFirst(); !lines.Eof(); lines.MoveNext()) {
        ++line;
        std::string key;
        const int32_t sku = Required(lines.Value("SKU"), line, "SKU").ToLong();
        if (lib_sales::ValidProduct(Reads().Product(sku), key)) continue;
        lib_sales::RaiseVendraError(
            key == "VendraError_ProductExpired" ? VendraError::ProductExpired
                                                : VendraError::ProductDisabled,
            kCreateQuotation,
            "Line " + std::to_string(line) + " holds product " + std::to_string(sku) +
                ", which is no longer sold (" + key + ")");
      }
      lines.MoveFirst();
    }
    GetPriceInfo(document);
    InsertQuotationHeader(document, connection);
    InsertQuotationLines(document, connection);
    return true;
  });
}

void Quotation::InsertQuotationHeader(const Document& document, const Connection& connection) {
  std::string sql;
  lib_sales::Guarded(
      kInsertHeader,
      [&] {
        Recordset& h = *HeaderOf(document);
        const std::string partner = PartnerIdText(h);
        const bool basket = IsBasket(h);
        const std::string id = TextOf(h.Value(basket ? "BASKETID" : "QUOTATIONID"));
        const std::string reference = Trimmed(h.Value(basket ? "BASKETNAME" : "CUSTOMERREFERENCE"));
        const std::string comments = TextOf(h.Value(basket ? "BASKETTEXT" : "COMMENTS"));
        if (id.empty())
          platform::Raise(platform::err::kInvalidUseOfNull, "Vendra.Quotation",
                          "Invalid use of Null: the quotation header has no id");

        Date expiry;
        bool notify = false;
        int32_t notification_period = 0;
        DetermineExpiry(document, connection, expiry, notify, notification_period);
        const Date today = platform::Clock::Today();
        std::string notification_date = "NULL";
        if (notify)
          notification_date = lib_sales::EncDate(std::max(expiry.AddDays(-notification_period), today));
        const std::string currency = GetPropertyValue("Currency", partner);

        std::string values;
        values.reserve(1024);
        const auto put = [&](const std::string& literal) {
          if (!values.empty()) values += ", ";
          values += literal;
        };
        put(lib_sales::EncVariant(Variant(id)));
        put(lib_sales::EncVariant(Variant(reference)));
        put(Long(h.Value("BILLINGADDRESSID"), 0, "BILLINGADDRESSID"));
        put(Long(h.Value("SHIPPINGADDRESSID"), 0, "SHIPPINGADDRESSID"));
        put(lib_sales::EncDate(today));
        put(lib_sales::EncVariant(h.Value("USERID")));
        put(Long(h.Value("USERLOCALE"), 0, "USERLOCALE"));
        put(lib_sales::EncLong(Variant(GetPropertyValue("PricingMethod", partner))));
        put(lib_sales::EncVariant(h.Value("CARRIERCODE")));
        put(lib_sales::EncLong(Variant(partner)));
        put(TrimmedOrNull(h.Value("CUSTOMERCODE")));
        put(TrimmedOrNull(h.Value("CUSTOMERNAME")));
        put(lib_sales::EncVariant(Variant(currency)));
        put(lib_sales::EncVariant(Variant(lib_sales::Sls_GetCurrencySymol(currency))));
        put(lib_sales::EncVariant(Variant(GetPropertyValue("HomeCurrency", partner))));
        put(Long(h.Value("KROID"), 0, "KROID"));
        put(lib_sales::EncDate(expiry));
        put(Flag(notify));
        put(notification_date);
        put(lib_sales::EncVariant(Variant(comments)));
        put("0");
        put("0");
        put(Double(h.Value("DISCOUNTPERC"), 0, "DISCOUNTPERC"));
        put(Double(h.Value("DISCOUNTTOTAL"), 0, "DISCOUNTTOTAL"));
        put(Double(h.Value("TOTALNETAMOUNT"), 0, "TOTALNETAMOUNT"));
        put(Double(h.Value("SUBTOTAL"), 0, "SUBTOTAL"));
        sql = "INSERT INTO QUOTATIONHEADER (QUOTATIONID, CUSTOMERREFERENCE, BILLINGADDRESSID, "
              "SHIPPINGADDRESSID, CREATIONDATE, USERID, USERLOCALE, PRICINGMETHOD, CARRIERCODE, "
              "BUSINESSPARTNERID, CUSTOMERCODE, CUSTOMERNAME, CURRENCYCODE, CURRENCYSYMBOL, "
              "HOMECURRENCYCODE, KROID, EXPIRYDATE, NOTIFICATIONNEEDED, NOTIFICATIONDATE, "
              "COMMENTS, NOTIFICATIONSENT, COPIEDTOORDER, DISCOUNTPERC, DISCOUNTTOTAL, "
              "TOTALNETAMOUNT, SUBTOTAL) VALUES (" +
              values + ") ";
        connection->Execute(sql, nullptr, kNoRecords);
      },
      [&] {
        const std::string errors = lib_sales::ConnectionErrorsText(connection.get());
        return lib_sales::Info(Variant(errors + " Executing: '" + sql + "'"));
      });
}

void Quotation::InsertQuotationLines(const Document& document, const Connection& connection) {
  std::string sql;
  lib_sales::Guarded(
      kInsertLines,
      [&] {
        Recordset& h = *HeaderOf(document);
        Recordset& l = *LinesOf(document);
        if (l.RecordCount() == 0) return;
        const bool basket = IsBasket(h);
        const std::string id = lib_sales::EncVariant(h.Value(basket ? "BASKETID" : "QUOTATIONID"));
        const std::string currency =
            lib_sales::EncVariant(Variant(GetPropertyValue("Currency", PartnerIdText(h))));
        const Date today = platform::Clock::Today();
        constexpr std::string_view kInsert =
            "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, SKU, PARTNUMBER, REQUESTDATE, "
            "PARTDESCRIPTION, QUANTITY, PRODUCTUNITCODE, PRODUCTCONFIGURABLE, PRODUCTCONFIGID, "
            "PRODUCTCONFIGCOMPLETE, CURRENCY, PRODUCTPRICE, COPIEDTOORDER, DISCOUNTPERC, "
            "DISCOUNTAMOUNT, LINEAMOUNT, LINETEXT) VALUES (";
        int32_t number = 0;
        for (l.MoveFirst(); !l.Eof(); l.MoveNext()) {
          ++number;
          sql.clear();
          const int32_t sku = Required(l.Value("SKU"), number, "SKU").ToLong();
          const Variant request = l.Value("REQUESTDATE");
          std::string request_date = "NULL";
          if (!TextOf(request).empty())
            request_date = lib_sales::EncDate(std::max(request.ToDate(), today));
          const double price = Required(l.Value("PRODUCTPRICE"), number, "PRODUCTPRICE").ToDouble();
          const double perc = Required(l.Value("DISCOUNTPERC"), number, "DISCOUNTPERC").ToDouble();
          // The discount per unit: an amount unless a percentage applies; a
          // basket line carries the page's figure for it (when the page gave
          // one), a quotation line its price and percentage.
          std::string discount;
          const Variant line_discount = basket ? l.Value("LINEDISCOUNTAMOUNT") : Variant::Null();
          if (perc == 0) {
            discount = Double(l.Value("DISCOUNTAMOUNT"), number, "DISCOUNTAMOUNT");
          } else if (basket && !line_discount.IsMissing()) {
            discount = lib_sales::EncDouble(line_discount);
          } else {
            discount = lib_sales::EncDouble(price * perc / 100);
          }

          sql.assign(kInsert);
          sql += id;
          sql += ", " + lib_sales::EncLong(number);
          sql += ", " + lib_sales::EncLong(sku);
          sql += ", " + TrimmedOrNull(l.Value("PARTNUMBER"));
          sql += ", " + request_date;
          sql += ", " + TrimmedOrNull(l.Value("PARTDESCRIPTION"));
          sql += ", " + lib_sales::EncLong(QuantityOf(l, number));
          sql += ", " + lib_sales::EncVariant(lib_sales::ItemOf(Reads().Product(sku), "UNITCODE"));
          sql += ", " + Flag(l.Value("PRODUCTCONFIGURABLE"));
          sql += ", " + TrimmedOrNull(l.Value("PRODUCTCONFIGID"));
          sql += ", " + Flag(l.Value("PRODUCTCONFIGCOMPLETE"));
          sql += ", " + currency;
          sql += ", " + lib_sales::EncDouble(price);
          sql += ", 0";
          sql += ", " + lib_sales::EncDouble(perc);
          sql += ", " + discount;
          sql += ", " + Double(l.Value("LINEAMOUNT"), number, "LINEAMOUNT");
          sql += ", " + TextOrNull(l.Value("LINETEXT"));
          sql += ")";
          connection->Execute(sql, nullptr, kNoRecords);
        }
      },
      [&] {
        const std::string errors = lib_sales::ConnectionErrorsText(connection.get());
        return lib_sales::Info(Variant(errors + " Executing: '" + sql + "'"));
      });
}

void Quotation::DetermineExpiry(const Document& document, const Connection& connection,
                                Date& expiry, bool& notify, int32_t& notification_period) {
  lib_sales::Guarded(kDetermineExpiry, [&] {
    int32_t expiration_period = 0;
    notify = false;
    notification_period = 0;
    ReadExpirySettings(PartnerIdText(*HeaderOf(document)), connection, expiration_period, notify,
                       notification_period);
    Recordset& lines = *LinesOf(document);
    std::vector<platform::ObjectPtr> products;
    if (lines.RecordCount() > 0) {
      auto clone = lines.Clone();
      for (clone->MoveFirst(); !clone->Eof(); clone->MoveNext())
        products.push_back(Reads().Product(clone->Value("SKU").ToLong()));
    }
    const Variant reads_expiry = lib_sales::MinProductProperty(products, "PRODUCTEXPIRYDATE");
    // A quotation never outlives its products.
    const Date limit = platform::Clock::Today().AddDays(expiration_period);
    if (TextOf(reads_expiry).empty() || reads_expiry.ToDate() > limit) {
      expiry = limit;
    } else {
      expiry = reads_expiry.ToDate();
    }
  });
}

void Quotation::ReadExpirySettings(const std::string& partner_id, const Connection& connection,
                                   int32_t& expiration_period, bool& notify,
                                   int32_t& notification_period) {
  lib_sales::Guarded(kReadExpirySettings, [&] {
    expiration_period = 0;
    notify = false;
    notification_period = 0;
    auto rs = connection->Execute(std::string("SELECT EXPIRATIONPERIOD, NOTIFY, NOTIFICATIONPERIOD ") +
                                  "FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID= '" +
                                  lib_sales::Sls_EscapeQuotes(partner_id) + "'");
    if (!rs || rs->Eof()) {
      expiration_period =
          Variant(lib_sales::Sls_GetParameterValue("Expiration Period")).ToInteger();
      notify = Variant(lib_sales::Sls_GetParameterValue("Send Notification")).ToBool();
      notification_period =
          Variant(lib_sales::Sls_GetParameterValue("Notification Period Before Expiry Date"))
              .ToInteger();
      return;
    }
    const Variant period = rs->Value("EXPIRATIONPERIOD");
    if (!period.IsNull()) expiration_period = period.ToLong();
    const Variant flag = rs->Value("NOTIFY");
    notify = !flag.IsMissing() && flag.ToBool();
    const Variant before = rs->Value("NOTIFICATIONPERIOD");
    if (!before.IsNull()) notification_period = before.ToLong();
  });
}

// --- Save ---------------------------------------------------------------------------

bool Quotation::Save(Variant& i_oQuotation) {
  std::string errors;
  return lib_sales::Guarded(
      kSave,
      [&] {
        const Document document = DocumentOf(i_oQuotation);
        const auto header = HeaderOf(document);
        const auto lines = LinesOf(document);
        // Every quantity is checked, and held as the whole number it is
        // stored as, before anything is priced or written.
        if (lines->RecordCount() > 0) {
          int32_t line = 0;
          for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
            const int32_t quantity = QuantityOf(*lines, ++line);
            if (!(lines->Value("QUANTITY") == Variant(quantity)))
              lines->SetValue("QUANTITY", Variant(quantity));
          }
          lines->MoveFirst();
        }
        OperationConnection connection;
        if (QuantityChanged(connection.get(), document)) RecalculateTotals(document);
        {
          ado::Transaction tx(*connection.get());
          try {
            WriteBatch(*header, connection.get());
            WriteBatch(*lines, connection.get());
            tx.Commit();
          } catch (...) {
            errors = lib_sales::ConnectionErrorsText(connection.get().get());
            throw;
          }
        }
        connection.Close();
        return true;
      },
      [&] { return lib_sales::Info(Variant(errors)); });
}

// --- Show and GetLines --------------------------------------------------------------

Quotation::Document Quotation::Show(const std::string& sQuotationID, std::optional<Variant> i_aLineID) {
  Connection held;
  return lib_sales::Guarded(
      kShow,
      [&]() -> Document {
        const std::string key = lib_sales::EncString(sQuotationID);
        // The line condition is built (and every number checked) before the
        // database is asked anything.
        std::string condition;
        if (const platform::VariantArray* numbers = ElementsOf(i_aLineID); numbers && !numbers->empty()) {
          condition = " AND (";
          for (const Variant& number : *numbers)
            condition += " LINENUMBER= " + std::to_string(LineNumberOf(number)) + " OR ";
          condition.resize(condition.size() - 4);
          condition += ")";
        }
        OperationConnection connection;
        held = connection.get();
        auto header = OpenDetached("SELECT * FROM QUOTATIONHEADER WHERE QUOTATIONID = " + key,
                                   connection.get(), 1);
        if (header->Eof())
          lib_sales::RaiseVendraError(VendraError::MissingOrderID, kShow,
                                      "No quotation has the id '" + sQuotationID + "'");
        auto lines = OpenDetached("SELECT * FROM QUOTATIONLINE WHERE QUOTATIONID = " + key + condition,
                                  connection.get(), 0);
        connection.Close();
        return basket_detail::NewDocument(header, lines);
      },
      [&] { return lib_sales::Info(Variant(lib_sales::ConnectionErrorsText(held.get()))); });
}

Quotation::Document Quotation::GetLines(const std::string& i_sQuotationID, const Variant& i_aLineID) {
  return lib_sales::Guarded(kGetLines, [&] {
    const platform::VariantArray& numbers = i_aLineID.Array();
    std::set<int32_t> wanted;
    for (const Variant& number : numbers) wanted.insert(LineNumberOf(number));
    Document document = Show(i_sQuotationID, std::nullopt);
    const auto lines = LinesOf(document);
    if (lines->RecordCount() != static_cast<int32_t>(numbers.size())) {
      // The lines not asked for are marked deleted in a clone: pending
      // deletions that walking the lines skips.
      auto clone = lines->Clone();
      if (clone->RecordCount() > 0) {
        for (clone->MoveFirst(); !clone->Eof(); clone->MoveNext()) {
          if (!wanted.contains(clone->Value("LINENUMBER").ToLong())) clone->Delete();
        }
        if (clone->RecordCount() > 0) clone->MoveFirst();
      }
      document->SetItem("lines", Variant(clone));
    }
    return document;
  });
}

// --- CopyQuotation ------------------------------------------------------------------

Quotation::Document Quotation::CopyQuotation(const std::string& i_sQuotationID,
                                             Variant& i_oFieldValues,
                                             std::optional<Variant> i_aLineID) {
  return lib_sales::Guarded(kCopy, [&]() -> Document {
    const platform::VariantArray* numbers = ElementsOf(i_aLineID);
    if (numbers && numbers->empty()) return nullptr;
    const platform::ObjectPtr field_values = i_oFieldValues.ToObject();
    if (!field_values)
      platform::Raise(platform::err::kObjectRequired, kCopy,
                      "The copy's field values (a dictionary with CUSTOMERREFERENCE and COMMENTS) "
                      "are required");
    Document document = Show(i_sQuotationID, numbers ? i_aLineID : std::nullopt);
    const auto header = HeaderOf(document);
    const std::string new_id = lib_sales::NewGuidString();
    if (new_id.size() != 32)
      platform::Raise(platform::err::kUnspecified, kCopy, "No new quotation id could be had");
    header->SetValue("QUOTATIONID", Variant(new_id));
    header->SetValue("CUSTOMERREFERENCE", lib_sales::ItemOf(field_values, "CUSTOMERREFERENCE"));
    header->SetValue("COMMENTS", lib_sales::ItemOf(field_values, "COMMENTS"));

    ReadScope reads(reads_);
    rejected_lines_ = platform::Dictionary::New();
    auto clone = LinesOf(document)->Clone();
    int32_t kept = 0;
    if (clone->RecordCount() > 0) {
      for (clone->MoveFirst(); !clone->Eof(); clone->MoveNext()) {
        const int32_t sku = clone->Value("SKU").ToLong();
        const std::string part = TextOf(clone->Value("PARTNUMBER"));
        std::string key;
        if (lib_sales::ValidProduct(Reads().Product(sku), key)) {
          // A product that became configurable since the line was quoted has
          // no configuration the copy could be priced by.
          const Variant configurable = lib_sales::ItemOf(Reads().Product(sku), "CONFIGURABLE");
          if (!configurable.IsMissing() && configurable.ToBool() &&
              clone->Value("PRODUCTCONFIGURABLE").IsNull())
            key = "VendraError_InvalidConfiguration";
        }
        if (!key.empty()) {
          clone->Delete();
          if (!rejected_lines_->Exists(part)) rejected_lines_->Add(part, Variant(key));
          continue;
        }
        clone->SetValue("QUOTATIONID", Variant(new_id));
        ++kept;
      }
    }
    if (kept > 0) {
      document->SetItem("lines", Variant(clone));
      OperationConnection connection;
      {
        ado::Transaction tx(*connection.get());
        CreateQuotation(document, connection.get());
        tx.Commit();
      }
      connection.Close();
    }
    return rejected_lines_;
  });
}

// --- Delete and DeleteLine ----------------------------------------------------------

void Quotation::Delete(const Variant& i_aQuotationID) {
  lib_sales::Guarded(kDelete, [&] {
    // Every id is encoded before the first row goes, and all of them go in
    // one transaction: a failure leaves every quotation as it was.
    std::vector<std::string> keys;
    for (const Variant& id : i_aQuotationID.Array()) keys.push_back(lib_sales::EncString(TextOf(id)));
    OperationConnection connection;
    {
      ado::Transaction tx(*connection.get());
      for (const std::string& key : keys) {
        connection.get()->Execute("DELETE FROM QUOTATIONLINE WHERE QUOTATIONID = " + key, nullptr,
                                  kNoRecords);
        connection.get()->Execute("DELETE FROM QUOTATIONHEADER WHERE QUOTATIONID = " + key, nullptr,
                                  kNoRecords);
      }
      tx.Commit();
    }
    connection.Close();
  });
}

void Quotation::DeleteLine(const std::string& i_sQuotationID, const Variant& i_aQuotationLineID) {
  lib_sales::Guarded(kDeleteLine, [&] {
    const std::string key = lib_sales::EncString(i_sQuotationID);
    std::vector<int32_t> numbers;
    for (const Variant& number : i_aQuotationLineID.Array()) numbers.push_back(LineNumberOf(number));
    OperationConnection connection;
    {
      ado::Transaction tx(*connection.get());
      for (int32_t number : numbers) {
        connection.get()->Execute(std::string("DELETE FROM QUOTATIONLINE WHERE ") + "QUOTATIONID = " +
                                      key + " AND " + "LINENUMBER = '" + std::to_string(number) + "'",
                                  nullptr, kNoRecords);
      }
      // Removing the last line removes the quotation.
      if (!QuotationHasLines(connection.get(), i_sQuotationID))
        connection.get()->Execute(
            std::string("DELETE FROM QUOTATIONHEADER WHERE ") + "QUOTATIONID = " + key, nullptr,
            kNoRecords);
      tx.Commit();
    }
    connection.Close();
  });
}

// --- Lines present ------------------------------------------------------------------

bool Quotation::CheckQuotationLinesPresent(const std::string& sQuotationID) {
  return lib_sales::Guarded(
      kCheckLines,
      [&] {
        OperationConnection connection;
        const bool present = QuotationHasLines(connection.get(), sQuotationID);
        connection.Close();
        return present;
      },
      [] { return lib_sales::Info(Variant(platform::CurrentError().description())); });
}

bool Quotation::QuotationHasLines(const Connection& connection, const std::string& quotation_id) {
  return lib_sales::Guarded(kQuotationHasLines, [&] {
    auto rs = connection->Execute(std::string("SELECT QUOTATIONID FROM QUOTATIONLINE ") +
                                  "WHERE QUOTATIONID = " + lib_sales::EncString(quotation_id));
    return rs && !rs->Eof();
  });
}

// --- GetBPStoredInDB ----------------------------------------------------------------

int32_t Quotation::GetBPStoredInDB(Variant& i_sQuoteID) {
  // Asked by pages that only want to know whose quotation an id is: any
  // failure, a missing quotation included, is simply "nobody" (0).
  try {
    OperationConnection connection;
    auto rs = connection.get()->Execute(
        "SELECT BUSINESSPARTNERID FROM QUOTATIONHEADER WHERE QUOTATIONID = " +
        lib_sales::EncString(i_sQuoteID.ToString()));
    if (!rs || rs->Eof()) return 0;
    const int32_t partner = rs->fields()[0].Value().ToLong();
    connection.Close();
    return partner;
  } catch (...) {
    return 0;
  }
}

}  // namespace vendra
