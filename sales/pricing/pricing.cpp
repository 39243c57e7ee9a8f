// Vendra.Pricing: price-list maintenance (AddPricing, UpdatePricing,
// DeletePricing, GetCustomerPrice, GetProductPrice) and the web price
// (GetWebPrice).
#include "sales/pricing/pricing.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/ado_types.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"

namespace vendra {

using lib_sales::VendraError;
using platform::Date;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

namespace {

constexpr char kGetWebPrice[] = "Pricing.GetWebPrice";
constexpr char kAddPricing[] = "Pricing.AddPricing";
constexpr char kUpdatePricing[] = "Pricing.UpdatePricing";
constexpr char kDeletePricing[] = "Pricing.DeletePricing";
constexpr char kGetCustomerPrice[] = "Pricing.GetCustomerPrice";
constexpr char kGetProductPrice[] = "Pricing.GetProductPrice";
constexpr char kValidatePricing[] = "Pricing.ValidatePricing";

// The largest value a decimal of precision 18 and scale 8 holds.
constexpr double kMaxPrice = 9999999999.99999999;

// The connection of one operation. It is declared outside the operation's
// handler and opened inside it, so on a failure the handler still finds it
// open and reads its errors; the destructor closes it afterwards.
class PriceConnection {
 public:
  PriceConnection() = default;
  ~PriceConnection() {
    try {
      lib_sales::Sls_CloseConnection(connection_);
    } catch (...) {
    }
  }
  PriceConnection(const PriceConnection&) = delete;
  PriceConnection& operator=(const PriceConnection&) = delete;
  void Open() {
    connection_ = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
  }
  ado::Connection& operator*() const { return *connection_; }
  const std::shared_ptr<ado::Connection>& get() const { return connection_; }
  void Close() { lib_sales::Sls_CloseConnection(connection_); }
  // The INFO of a failure: the connection's errors while it is still open.
  lib_sales::Info Errors() const {
    if (!connection_ || !connection_->IsOpen()) return std::nullopt;
    return Variant(lib_sales::ConnectionErrorsText(connection_.get()));
  }

 private:
  std::shared_ptr<ado::Connection> connection_;
};

// The checks raise their number with the error's name as the description.
[[noreturn]] void Refuse(VendraError code, const char* name) {
  lib_sales::RaiseVendraError(code, kValidatePricing, name);
}

bool IsBlankText(const Variant& v) {
  const std::string* text = v.Get<std::string>();
  return text && text->empty();
}
// "Null or empty": no value at all, or empty text.
bool NullOrEmpty(const Variant& v) { return v.IsMissing() || IsBlankText(v); }
// "Empty" (Null is allowed): never set, or empty text.
bool Unset(const Variant& v) { return v.IsEmpty() || IsBlankText(v); }

// A number by the classic rules (numbers, and text that reads as one).
std::optional<double> NumberOf(const Variant& v) {
  if (v.IsMissing() || v.IsObject() || v.IsArray() || v.Get<Date>()) return std::nullopt;
  try {
    const double d = v.ToDouble();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
  } catch (const platform::ComError&) {
    return std::nullopt;
  }
}

// A date the sales database can hold (its date-time runs from 1753 to 9999).
std::optional<Date> DateOf(const Variant& v) {
  std::optional<Date> d;
  if (const Date* date = v.Get<Date>()) d = *date;
  else if (const std::string* text = v.Get<std::string>()) d = Date::Parse(*text);
  if (d && (d->year() < 1753 || d->year() > 9999)) return std::nullopt;
  return d;
}

// A decimal of the given scale as the database column keeps it: the nearest
// double to the value rounded to that many decimals, so 0.1 + 0.2 is stored
// as 0.3.
double ToScale(double value, int scale) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", scale, value);
  return std::strtod(text, nullptr);
}

std::string IdText(const Variant& v) { return lib_sales::EncLong(v); }

}  // namespace

const platform::ClassBinding<Pricing>& Pricing::Binding() {
  static const auto b =
      platform::ClassBinding<Pricing>("Pricing")
          .Method("Exists", &Pricing::Exists)
          .Method("BeforeDelete", &Pricing::BeforeDelete)
          .Property("ProductID", &Pricing::ProductID, &Pricing::SetProductID)
          .Property("BusinessPartnerID", &Pricing::BusinessPartnerID,
                    &Pricing::SetBusinessPartnerID)
          .Property("CurrencyCode", &Pricing::CurrencyCode, &Pricing::SetCurrencyCode)
          .Property("EffectiveDate", &Pricing::EffectiveDate, &Pricing::SetEffectiveDate)
          .Property("ExpiryDate", &Pricing::ExpiryDate, &Pricing::SetExpiryDate)
          .Property("Price", &Pricing::Price, &Pricing::SetPrice)
          .Property("DiscountPercent", &Pricing::DiscountPercent, &Pricing::SetDiscountPercent)
          .Property("DiscountAmount", &Pricing::DiscountAmount, &Pricing::SetDiscountAmount)
          .Method("GetWebPrice", &Pricing::GetWebPrice)
          .Method("AddPricing", &Pricing::AddPricing)
          .Method("UpdatePricing", &Pricing::UpdatePricing)
          .Method("DeletePricing", &Pricing::DeletePricing)
          .Method("GetCustomerPrice", &Pricing::GetCustomerPrice)
          .Method("GetProductPrice", &Pricing::GetProductPrice);
  return b;
}

// --- Validation -----------------------------------------------------------------

bool Pricing::ValidatePricing(bool customer) const {
  if (NullOrEmpty(product_id_)) Refuse(VendraError::MissingProductID, "MissingProductID");
  if (NullOrEmpty(effective_date_))
    Refuse(VendraError::MissingEffectiveDate, "MissingEffectiveDate");
  if (NullOrEmpty(currency_code_)) Refuse(VendraError::MissingCurrencyCode, "MissingCurrencyCode");
  if (NullOrEmpty(price_)) Refuse(VendraError::MissingPrice, "MissingPrice");
  if (Unset(discount_amount_) || Unset(discount_percent_))
    Refuse(VendraError::MissingDiscount, "MissingDiscount");
  if (Unset(expiry_date_)) Refuse(VendraError::MissingExpiryDate, "MissingExpiryDate");
  if (customer && NullOrEmpty(business_partner_id_))
    Refuse(VendraError::MissingBusinessPartnerID, "MissingBusinessPartnerID");

  const std::optional<Date> effective = DateOf(effective_date_);
  if (!effective) Refuse(VendraError::InvalidEffectiveDate, "InvalidEffectiveDate");
  std::optional<Date> expiry;
  if (!expiry_date_.IsNull()) {
    expiry = DateOf(expiry_date_);
    if (!expiry) Refuse(VendraError::InvalidExpiryDate, "InvalidExpiryDate");
  }
  const std::optional<double> price = NumberOf(price_);
  // Beyond the column's precision the database could not store it either.
  if (!price || *price < 0 || *price > kMaxPrice) Refuse(VendraError::InvalidPrice, "InvalidPrice");

  std::optional<double> percent;
  if (!discount_percent_.IsNull()) {
    percent = NumberOf(discount_percent_);
    if (!percent || *percent > 100 || (*price == 0 && *percent > 0))
      Refuse(VendraError::InvalidDiscountPercent, "InvalidDiscountPercent");
  }
  std::optional<double> amount;
  if (!discount_amount_.IsNull()) {
    amount = NumberOf(discount_amount_);
    if (!amount || *amount > *price)
      Refuse(VendraError::InvalidDiscountAmount, "InvalidDiscountAmount");
  }
  if (percent && amount && *percent != 0 && *amount != 0)
    Refuse(VendraError::NonExclusiveDiscount, "NonExclusiveDiscount");
  if (expiry && *effective >= *expiry) Refuse(VendraError::ExpiryDateRange, "ExpiryDateRange");
  return true;
}

// --- The range checks -----------------------------------------------------------

std::string Pricing::RangeQuery(bool customer, bool later) const {
  // An open expiry takes part in the comparison as the last day there is;
  // the property itself stays Null.
  const std::string e = lib_sales::EncDate(effective_date_);
  const std::string x = expiry_date_.IsNull() ? lib_sales::EncDate(Date::FromParts(9999, 12, 31))
                                              : lib_sales::EncDate(expiry_date_);
  std::string sql = customer ? "SELECT PRODUCTID FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = " +
                                   IdText(business_partner_id_) +
                                   " AND PRODUCTID = " + IdText(product_id_)
                             : "SELECT PRODUCTID FROM PRODUCTPRICE WHERE PRODUCTID = " +
                                   IdText(product_id_);
  sql += " AND CURRENCYCODE = " + lib_sales::EncString(currency_code_.ToString());
  if (later) {
    // A later row of the group that would start before the new expiry (or on it).
    sql += " AND EFFECTIVEDATE > " + e + " AND EFFECTIVEDATE <= " + x;
  } else {
    // A row valid at the new effective date, or one starting within the new
    // interval, both ends included.
    sql += " AND ((EFFECTIVEDATE <= " + e + " AND (EXPIRYDATE IS NULL OR EXPIRYDATE > " + e +
           ")) OR (EFFECTIVEDATE >= " + e + " AND (EFFECTIVEDATE <= " + x + ")))";
  }
  return sql;
}

Variant Pricing::BoundPrice() const { return Variant(ToScale(price_.ToDouble(), 8)); }

Variant Pricing::BoundDiscountPercent() const {
  if (discount_percent_.IsNull()) return Variant::Null();
  return Variant(ToScale(discount_percent_.ToDouble(), 2));
}

Variant Pricing::BoundDiscountAmount() const {
  if (discount_amount_.IsNull()) return Variant::Null();
  return Variant(ToScale(discount_amount_.ToDouble(), 8));
}

Variant Pricing::BoundExpiry() const {
  return expiry_date_.IsNull() ? Variant::Null() : Variant(expiry_date_.ToDate());
}

// --- Maintenance ----------------------------------------------------------------

bool Pricing::AddPricing(bool iCustomerPricing) {
  PriceConnection connection;
  return lib_sales::Guarded(
      kAddPricing,
      [&] {
        ValidatePricing(iCustomerPricing);
        connection.Open();
        const std::string range = RangeQuery(iCustomerPricing, false);
        auto found = (*connection).Execute(range);
        if (found && !found->Eof())
          lib_sales::RaiseVendraError(VendraError::EffectiveDateRange, kAddPricing,
                                      "VendraError.EffectiveDateRange: " + range);

        const platform::ObjectPtr checker =
            lib_sales::Sls_GetComponent("Orvanta.ReferentialChecker");
        platform::VariantArray columns;
        platform::VariantArray values;
        columns.emplace_back("PRODUCTID");
        values.push_back(product_id_);
        if (iCustomerPricing) {
          columns.emplace_back("BUSINESSPARTNERID");
          values.push_back(business_partner_id_);
        }
        columns.emplace_back("CURRENCYCODE");
        values.push_back(currency_code_);
        const bool allowed =
            platform::Call(checker, "CheckReferentialInsert",
                           {Variant(iCustomerPricing ? "CUSTOMERPRICE" : "PRODUCTPRICE"),
                            Variant(std::move(columns)), Variant(std::move(values))})
                .ToBool();
        if (!allowed) {
          std::string text = "ReferentialInsert PRODUCTID=" + product_id_.ToString();
          if (iCustomerPricing) text += ", BUSINESSPARTNERID=" + business_partner_id_.ToString();
          text += ", CURRENCYCODE=" + currency_code_.ToString();
          lib_sales::RaiseVendraError(VendraError::ReferentialInsert, kAddPricing, text);
        }

        std::vector<Variant> params;
        if (iCustomerPricing) params.emplace_back(business_partner_id_.ToLong());
        params.emplace_back(product_id_.ToLong());
        params.emplace_back(effective_date_.ToDate());
        params.emplace_back(currency_code_.ToString());
        params.push_back(BoundExpiry());
        params.push_back(BoundPrice());
        params.push_back(BoundDiscountPercent());
        params.push_back(BoundDiscountAmount());
        (*connection).Execute(
            iCustomerPricing
                ? "INSERT INTO CUSTOMERPRICE(BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, "
                  "CURRENCYCODE, EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES (?, ?, "
                  "?, ?, ?, ?, ?, ?)"
                : "INSERT INTO PRODUCTPRICE(PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, EXPIRYDATE, "
                  "PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES (?, ?, ?, ?, ?, ?, ?)",
            std::span<const Variant>(params));
        connection.Close();
        return true;
      },
      [&] { return connection.Errors(); });
}

bool Pricing::UpdatePricing(bool iCustomerPricing) {
  PriceConnection connection;
  return lib_sales::Guarded(
      kUpdatePricing,
      [&] {
        ValidatePricing(iCustomerPricing);
        connection.Open();
        const std::string range = RangeQuery(iCustomerPricing, true);
        auto found = (*connection).Execute(range);
        if (found && !found->Eof())
          lib_sales::RaiseVendraError(VendraError::EffectiveDateRange, kUpdatePricing,
                                      "VendraError.EffectiveDateRange: " + range);
        std::vector<Variant> params{BoundExpiry(), BoundPrice(), BoundDiscountPercent(),
                                    BoundDiscountAmount()};
        if (iCustomerPricing) params.emplace_back(business_partner_id_.ToLong());
        params.emplace_back(product_id_.ToLong());
        params.emplace_back(effective_date_.ToDate());
        params.emplace_back(currency_code_.ToString());
        (*connection).Execute(
            iCustomerPricing
                ? "UPDATE CUSTOMERPRICE SET EXPIRYDATE=?, PRICE=?, DISCOUNTPERC=?, "
                  "DISCOUNTAMOUNT=? WHERE BUSINESSPARTNERID=? AND PRODUCTID=? AND "
                  "EFFECTIVEDATE=? AND CURRENCYCODE=?"
                : "UPDATE PRODUCTPRICE SET EXPIRYDATE=?, PRICE=?, DISCOUNTPERC=?, "
                  "DISCOUNTAMOUNT=? WHERE PRODUCTID=? AND EFFECTIVEDATE=? AND CURRENCYCODE=?",
            std::span<const Variant>(params));
        connection.Close();
        return true;
      },
      [&] { return connection.Errors(); });
}

bool Pricing::DeletePricing(bool iCustomerPricing) {
  PriceConnection connection;
  return lib_sales::Guarded(
      kDeletePricing,
      [&] {
        if (NullOrEmpty(product_id_)) Refuse(VendraError::MissingProductID, "MissingProductID");
        if (NullOrEmpty(effective_date_))
          Refuse(VendraError::MissingEffectiveDate, "MissingEffectiveDate");
        if (NullOrEmpty(currency_code_))
          Refuse(VendraError::MissingCurrencyCode, "MissingCurrencyCode");
        if (iCustomerPricing && NullOrEmpty(business_partner_id_))
          Refuse(VendraError::MissingBusinessPartnerID, "MissingBusinessPartnerID");
        std::vector<Variant> params;
        if (iCustomerPricing) params.emplace_back(business_partner_id_.ToLong());
        params.emplace_back(product_id_.ToLong());
        params.emplace_back(effective_date_.ToDate());
        params.emplace_back(currency_code_.ToString());
        connection.Open();
        (*connection).Execute(
            iCustomerPricing ? "DELETE FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID=? AND "
                               "PRODUCTID=? AND EFFECTIVEDATE=? AND CURRENCYCODE=?"
                             : "DELETE FROM PRODUCTPRICE WHERE PRODUCTID=? AND EFFECTIVEDATE=? "
                               "AND CURRENCYCODE=?",
            std::span<const Variant>(params));
        connection.Close();
        return true;
      },
      [&] { return connection.Errors(); });
}

// --- Lookups --------------------------------------------------------------------

void Pricing::LoadFromRecord(Recordset& record) {
  product_id_ = record.Value("PRODUCTID");
  currency_code_ = record.Value("CURRENCYCODE");
  effective_date_ = Variant(record.Value("EFFECTIVEDATE").ToDate());
  const Variant expiry = record.Value("EXPIRYDATE");
  expiry_date_ = expiry.IsNull() ? Variant::Null() : Variant(expiry.ToDate());
  const Variant price = record.Value("PRICE");
  if (!price.IsNull()) price_ = Variant(price.ToDouble());
  const Variant percent = record.Value("DISCOUNTPERC");
  discount_percent_ = percent.IsNull() ? Variant(0.0) : percent;
  const Variant amount = record.Value("DISCOUNTAMOUNT");
  discount_amount_ = Variant(amount.IsNull() ? 0.0 : amount.ToDouble());
}

bool Pricing::GetCustomerPrice(int32_t iProductID, int32_t iBusinessPartnerID,
                               Date iEffectiveDate, const std::string& iCurrencyCode) {
  PriceConnection connection;
  return lib_sales::Guarded(
      kGetCustomerPrice,
      [&] {
        connection.Open();
        auto rs = std::make_shared<Recordset>();
        rs->SetCursorLocation(ado::adUseClient);
        const Variant params[] = {Variant(iProductID), Variant(iBusinessPartnerID),
                                  Variant(iCurrencyCode), Variant(iEffectiveDate)};
        rs->Open(
            "SELECT PRODUCTID, BUSINESSPARTNERID, CURRENCYCODE, EFFECTIVEDATE, EXPIRYDATE, "
            "PRICE, DISCOUNTPERC, DISCOUNTAMOUNT FROM CUSTOMERPRICE WHERE PRODUCTID=? AND "
            "BUSINESSPARTNERID=? AND CURRENCYCODE=? AND EFFECTIVEDATE=?",
            connection.get(), params, ado::adOpenStatic, ado::adLockReadOnly);
        rs->SetActiveConnection(nullptr);
        if (rs->Eof()) {
          connection.Close();
          lib_sales::RaiseVendraError(VendraError::CustomerPriceNotFound, kGetCustomerPrice,
                                      "CustomerPriceNotFound");
        }
        LoadFromRecord(*rs);
        business_partner_id_ = rs->Value("BUSINESSPARTNERID");
        connection.Close();
        product_id_ = Variant(iProductID);
        business_partner_id_ = Variant(iBusinessPartnerID);
        currency_code_ = Variant(iCurrencyCode);
        return true;
      },
      [&] { return connection.Errors(); });
}

bool Pricing::GetProductPrice(int32_t iProductID, Date iEffectiveDate,
                              const std::string& iCurrencyCode) {
  PriceConnection connection;
  return lib_sales::Guarded(
      kGetProductPrice,
      [&] {
        connection.Open();
        auto rs = std::make_shared<Recordset>();
        rs->SetCursorLocation(ado::adUseClient);
        const Variant params[] = {Variant(iProductID), Variant(iCurrencyCode),
                                  Variant(iEffectiveDate)};
        rs->Open(
            "SELECT PRODUCTID, CURRENCYCODE, EFFECTIVEDATE, EXPIRYDATE, PRICE, DISCOUNTPERC, "
            "DISCOUNTAMOUNT FROM PRODUCTPRICE WHERE PRODUCTID=? AND CURRENCYCODE=? AND "
            "EFFECTIVEDATE=?",
            connection.get(), params, ado::adOpenStatic, ado::adLockReadOnly);
        rs->SetActiveConnection(nullptr);
        if (rs->Eof())
          lib_sales::RaiseVendraError(VendraError::ProductPriceNotFound, kGetProductPrice,
                                      "ProductPriceNotFound");
        LoadFromRecord(*rs);
        connection.Close();
        return true;
      },
      [&] { return connection.Errors(); });
}

// --- The web price --------------------------------------------------------------

bool Pricing::GetWebPrice(int32_t iProductID, int32_t iBusinessPartnerID, Date iOrderDate,
                          const std::string& iCurrencyCode) {
  return lib_sales::Guarded(kGetWebPrice, [&] {
    if (!currency_service_) currency_service_ = lib_sales::Sls_GetComponent("Kelmor.Currency");
    const Variant home = platform::Call(currency_service_, "GetHomeCurrency");
    const auto home_currency = home.IsObject() ? home.As<platform::Dictionary>() : nullptr;
    if (!home_currency)
      lib_sales::RaiseVendraError(VendraError::HomeCurrencyNotFound, kGetWebPrice,
                                  "HomeCurrencyNotFound");
    const std::string home_code = home_currency->Item("CURRENCYCODE").ToString();

    std::shared_ptr<Recordset> rs;
    {
      PriceConnection connection;
      connection.Open();
      ado::Command command;
      command.SetActiveConnection(connection.get());
      command.SetCommandText("GetPrice");
      command.SetCommandType(ado::adCmdStoredProc);
      auto& parameters = command.parameters();
      parameters.Append(command.CreateParameter("@PRODID", ado::adInteger, ado::adParamInput, 4,
                                                Variant(iProductID)));
      parameters.Append(command.CreateParameter("@BPID", ado::adInteger, ado::adParamInput, 4,
                                                Variant(iBusinessPartnerID)));
      parameters.Append(command.CreateParameter("@CURRENCY", ado::adVarWChar, ado::adParamInput,
                                                3, Variant(iCurrencyCode)));
      parameters.Append(command.CreateParameter("@HOMECURRENCY", ado::adVarWChar,
                                                ado::adParamInput, 3, Variant(home_code)));
      parameters.Append(command.CreateParameter("@ORDERDATE", ado::adDBTimeStamp,
                                                ado::adParamInput, 3, Variant(iOrderDate)));
      rs = std::make_shared<Recordset>();
      rs->SetCursorLocation(ado::adUseClient);
      rs->Open(command, ado::adOpenForwardOnly, ado::adLockReadOnly);
      // Detached before a value is read, so the connection closes first.
      rs->SetActiveConnection(nullptr);
      command.SetActiveConnection(nullptr);
      connection.Close();
    }
    if (rs->Eof()) return false;

    LoadFromRecord(*rs);
    business_partner_id_ = rs->Value("BUSINESSPARTNERID");
    const std::string row_currency = rs->Value("CURRENCYCODE").ToString();
    if (row_currency != iCurrencyCode) {
      Variant date(iOrderDate);
      if (home_code != row_currency) {
        std::vector<Variant> args{Variant(row_currency), Variant(home_code), price_, date};
        price_ = Variant(platform::CallRef(currency_service_, "ConvertAmount", args).ToDouble());
        args = {Variant(row_currency), Variant(home_code), discount_amount_, date};
        discount_amount_ =
            Variant(platform::CallRef(currency_service_, "ConvertAmount", args).ToDouble());
      }
      std::vector<Variant> args{home, Variant(iCurrencyCode), price_, discount_amount_, date};
      const auto converted =
          platform::CallRef(currency_service_, "ConvertTo", args).As<platform::Dictionary>();
      if (!converted)
        platform::Raise(platform::err::kObjectRequired, kGetWebPrice,
                        "The currency component gave no converted price");
      price_ = Variant(converted->Item("PRICE").ToDouble());
      discount_amount_ = Variant(converted->Item("DISCOUNTAMOUNT").ToDouble());
      currency_code_ = Variant(iCurrencyCode);
    }
    return true;
  });
}

}  // namespace vendra
