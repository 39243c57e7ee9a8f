#include "platform/services/currency.h"

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"

namespace platform {

namespace {

constexpr char kSource[] = "Kelmor.Currency";
constexpr char kKelmor[] = "Provider=SQLite;Data Source=data;Initial Catalog=Kelmor";

std::string Code(std::string_view text) { return std::string(data::detail::Trim(text)); }

// The day a conversion is for: today when the caller gave no date.
Date DayOf(const Variant& date) {
  if (date.IsMissing()) return Clock::Today();
  return date.ToDate().DateOnly();
}

}  // namespace

const ClassBinding<CurrencyService>& CurrencyService::Binding() {
  static const auto b = ClassBinding<CurrencyService>("Currency")
                            .Method("GetCurrencyInfo", &CurrencyService::GetCurrencyInfo)
                            .Method("ReleaseCurrency", &CurrencyService::ReleaseCurrency)
                            .Method("GetHomeCurrency", &CurrencyService::GetHomeCurrency)
                            .Method("ConvertAmount", &CurrencyService::ConvertAmount)
                            .Method("ConvertTo", &CurrencyService::ConvertTo);
  return b;
}

CurrencyService::CurrencyService() = default;
CurrencyService::~CurrencyService() = default;

data::Connection& CurrencyService::Db() {
  if (!db_ || !db_->IsOpen()) {
    db_ = std::make_shared<data::Connection>();
    db_->Open(kKelmor);
  }
  return *db_;
}

void CurrencyService::ReleaseCurrency() {
  if (db_) db_->Close();
  db_.reset();
  home_code_.clear();
}

namespace {
// A currency's row as the information pages read it.
std::shared_ptr<Dictionary> InfoOf(data::Recordset& rs) {
  auto info = Dictionary::New();
  info->Add("CURRENCYCODE", rs.Value("CURRENCYCODE"));
  info->Add("NAME", rs.Value("NAME"));
  info->Add("EURO", Variant(rs.Value("EURO").ToBool()));
  info->Add("LOCALEID", rs.Value("LOCALEID"));
  info->Add("DECIMALS", rs.Value("DECIMALS"));
  return info;
}
}  // namespace

std::shared_ptr<Dictionary> CurrencyService::InfoOrNull(const std::string& currency_code) {
  auto rs = Db().Execute(
      "SELECT CURRENCYCODE, NAME, EURO, LOCALEID, DECIMALS FROM CURRENCY WHERE CURRENCYCODE = ?",
      {Variant(Code(currency_code))});
  if (!rs || rs->Eof()) return nullptr;
  return InfoOf(*rs);
}

std::shared_ptr<Dictionary> CurrencyService::GetCurrencyInfo(const std::string& currency_code) {
  auto info = InfoOrNull(currency_code);
  if (!info) Raise(currency_err::kCurrencyNotFound, kSource, "Currency not found: '" + currency_code + "'");
  return info;
}

std::string CurrencyService::HomeCode() {
  auto rs = Db().Execute("SELECT CURRENCYCODE FROM HOMECURRENCY");
  if (!rs || rs->Eof()) return {};
  return rs->Value("CURRENCYCODE").ToString();
}

std::shared_ptr<Dictionary> CurrencyService::GetHomeCurrency() {
  // One statement: a web price asks for the home currency on every call.
  auto rs = Db().Execute(
      "SELECT C.CURRENCYCODE, C.NAME, C.EURO, C.LOCALEID, C.DECIMALS FROM HOMECURRENCY H "
      "JOIN CURRENCY C ON C.CURRENCYCODE = H.CURRENCYCODE");
  if (!rs || rs->Eof()) {
    // A home currency that names no currency says so, as before.
    home_code_.clear();
    const std::string home = HomeCode();
    if (home.empty()) return nullptr;
    return GetCurrencyInfo(home);
  }
  auto info = InfoOf(*rs);
  home_code_ = info->Item("CURRENCYCODE").ToString();
  return info;
}

double CurrencyService::RateOn(const std::string& currency_code, Date day) {
  return RateAgainst(RequireHomeCode(), currency_code, day);
}

std::string CurrencyService::RequireHomeCode() {
  // The home currency read last by this object, until ReleaseCurrency: the
  // books' currency does not change while a request converts.
  if (!home_code_.empty()) return home_code_;
  std::string home = HomeCode();
  home_code_ = home;
  if (home.empty()) Raise(currency_err::kHomeCurrencyNotSet, kSource, "The shop has no home currency");
  return home;
}

double CurrencyService::RateAgainst(const std::string& home, const std::string& currency_code,
                                    Date day) {
  const std::string code = Code(currency_code);
  if (data::detail::EqualsNoCase(code, home)) return 1.0;
  // Rates are dated to the day; any rate dated before the next midnight is
  // "on or before" the day, whatever time of day it carries.
  const std::string next_day = day.DateOnly().AddDays(1).ToIso();
  auto rs = Db().Execute(
      "SELECT TOP 1 RATE FROM EXCHANGERATE WHERE CURRENCYCODE = ? AND EFFECTIVEDATE < ? "
      "ORDER BY EFFECTIVEDATE DESC",
      {Variant(code), Variant(next_day)});
  if (rs && !rs->Eof()) return rs->Value("RATE").ToDouble();
  GetCurrencyInfo(code);  // an unknown currency says so rather than "no rate"
  Raise(currency_err::kRateNotFound, kSource,
        "No exchange rate for " + code + " on or before " + day.DateOnly().ToText());
}

Currency CurrencyService::ConvertAmount(const std::string& from_code, const std::string& to_code,
                                        Currency amount, Variant& date) {
  const std::string from = Code(from_code);
  const std::string to = Code(to_code);
  if (from.empty() || to.empty() || data::detail::EqualsNoCase(from, to)) return amount;
  const Date day = DayOf(date);
  const std::string home = RequireHomeCode();
  const double from_rate = RateAgainst(home, from, day);
  const double to_rate = RateAgainst(home, to, day);
  // One rounding, at the end: through the home currency without an
  // intermediate amount, so triangulation loses nothing a direct rate would keep.
  return Currency::FromDouble(amount.ToDouble() / from_rate * to_rate);
}

std::shared_ptr<Dictionary> CurrencyService::ConvertTo(Variant& home_currency, Variant& target_code,
                                                       Currency price, Currency discount_amount,
                                                       Variant& date) {
  std::string home;
  if (home_currency.IsObject()) {
    auto dict = home_currency.As<Dictionary>();
    if (!dict) Raise(err::kTypeMismatch, kSource, "ConvertTo expects the home currency dictionary");
    home = dict->Item("CURRENCYCODE").ToString();
  } else if (home_currency.IsMissing()) {
    home = RequireHomeCode();
  } else {
    home = home_currency.ToString();
  }
  const std::string target = Code(target_code.ToString());
  const std::string from = Code(home);
  auto result = Dictionary::New();
  if (from.empty() || target.empty() || data::detail::EqualsNoCase(from, target)) {
    result->Add("PRICE", Variant(price));
    result->Add("DISCOUNTAMOUNT", Variant(discount_amount));
    return result;
  }
  // Both amounts at the same pair of rates, read once.
  const Date day = DayOf(date);
  const std::string books = RequireHomeCode();
  const double from_rate = RateAgainst(books, from, day);
  const double to_rate = RateAgainst(books, target, day);
  result->Add("PRICE", Variant(Currency::FromDouble(price.ToDouble() / from_rate * to_rate)));
  result->Add("DISCOUNTAMOUNT",
              Variant(Currency::FromDouble(discount_amount.ToDouble() / from_rate * to_rate)));
  return result;
}

}  // namespace platform
