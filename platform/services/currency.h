// Kelmor.Currency is the shop platform's currency component: what a currency
// is (its name, whether it is the euro, the locale of its home country, its
// decimals), which currency the shop keeps its books in (the home currency),
// and the conversion of amounts between currencies at the exchange rate of a
// day. Its tables live in the Kelmor database: CURRENCY, HOMECURRENCY,
// EXCHANGERATE.
//
// Rate rule: every rate is quoted against the home currency (units of the
// currency per unit of the home currency) from its EFFECTIVEDATE on. The rate
// of a day is the latest one dated on or before that day; a day before the
// first rate of a currency has no rate and a conversion then fails. Two
// currencies other than the home currency convert through it:
// amount / rate(from) * rate(to). The result is rounded once, half to even,
// to the four decimals of a Currency value; rounding to a currency's own
// decimals is left to whoever shows or books the amount, so unit prices keep
// their precision through a conversion.
//
// An object reads the home currency once and keeps it, with its connection,
// until ReleaseCurrency (GetHomeCurrency reads it afresh every time).
//
// Thread-safety: an object serves one caller at a time (it keeps its
// connection between calls until ReleaseCurrency); separate objects may be
// used on separate threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/currency.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"

namespace platform::data {
class Connection;
}

namespace platform {

// Failures of Kelmor.Currency (source "Kelmor.Currency").
namespace currency_err {
inline constexpr int32_t kCurrencyNotFound = static_cast<int32_t>(0x80042001u);
inline constexpr int32_t kRateNotFound = static_cast<int32_t>(0x80042002u);
inline constexpr int32_t kHomeCurrencyNotSet = static_cast<int32_t>(0x80042003u);
}  // namespace currency_err

class CurrencyService : public Dispatchable<CurrencyService> {
 public:
  static const ClassBinding<CurrencyService>& Binding();

  CurrencyService();
  ~CurrencyService() override;

  // CURRENCYCODE, NAME, EURO (Boolean), LOCALEID (Long, Null when the
  // currency has no home country), DECIMALS (Integer). An unknown code fails.
  std::shared_ptr<Dictionary> GetCurrencyInfo(const std::string& currency_code);
  // Lets go of the connection; the object stays usable.
  void ReleaseCurrency();
  // The home currency's info (as GetCurrencyInfo), or Nothing when the shop
  // has no home currency.
  std::shared_ptr<Dictionary> GetHomeCurrency();
  // The amount in to_code at the rate of the day of `date` (today when date
  // is Empty or Null). Equal codes (in any letter case) and an empty code on
  // either side give the amount unchanged: an amount with no stated currency
  // is taken to be in the other one already.
  Currency ConvertAmount(const std::string& from_code, const std::string& to_code,
                         Currency amount, Variant& date);
  // Price and discount amount from the currency of home_currency (a
  // GetHomeCurrency dictionary) into target_code: a dictionary with "PRICE"
  // and "DISCOUNTAMOUNT" (Currency values).
  std::shared_ptr<Dictionary> ConvertTo(Variant& home_currency, Variant& target_code,
                                        Currency price, Currency discount_amount,
                                        Variant& date);

  // The rate of currency_code on day (units per unit of the home currency;
  // 1 for the home currency itself). Fails as ConvertAmount does.
  double RateOn(const std::string& currency_code, Date day);

 private:
  data::Connection& Db();
  std::string HomeCode();  // "" when not set
  std::string RequireHomeCode();
  double RateAgainst(const std::string& home, const std::string& currency_code, Date day);
  std::shared_ptr<Dictionary> InfoOrNull(const std::string& currency_code);

  std::shared_ptr<data::Connection> db_;
  std::string home_code_;  // as last read, until ReleaseCurrency
};

}  // namespace platform
