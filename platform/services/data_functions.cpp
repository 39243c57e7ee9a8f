#include "platform/services/data_functions.h"

#include <unicode/datefmt.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/timezone.h>
#include <unicode/ucurr.h>
#include <unicode/unistr.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "platform/core/com_error.h"
#include "platform/services/locale_ids.h"

namespace platform {

namespace {

constexpr const char* kSource = "Wrenlow.DataFunctions";

[[noreturn]] void RaiseIcuFailure(const char* what, int32_t lcid, UErrorCode status) {
  Raise(err::kUnspecified, kSource,
        std::string("ICU could not ") + what + " for locale id " + std::to_string(lcid) +
            ": " + u_errorName(status));
}

std::string ToUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

icu::Locale LocaleFor(int32_t lcid) {
  const std::string_view tag = IcuLocaleForLcid(lcid);
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale =
      icu::Locale::forLanguageTag(icu::StringPiece(tag.data(), static_cast<int32_t>(tag.size())),
                                  status);
  if (U_FAILURE(status) || locale.isBogus()) RaiseIcuFailure("read the locale", lcid, status);
  return locale;
}

// A Date is a wall-clock reading without a zone. It is laid on UTC and
// formatted in UTC, so no daylight-saving shift can move it; the calendar is
// Gregorian all the way back (the Date type knows no Julian switch), and
// Gregorian also for locales whose default calendar is another one.
UDate WallClockAsUtc(const Date& d) {
  using namespace std::chrono;
  const sys_days day{year{d.year()} / month{static_cast<unsigned>(d.month())} /
                     static_cast<unsigned>(d.day())};
  const auto moment = day + hours{d.hour()} + minutes{d.minute()} + seconds{d.second()};
  return static_cast<UDate>(duration_cast<milliseconds>(moment.time_since_epoch()).count());
}

icu::DateFormat& DateFormatFor(int32_t lcid, bool with_time) {
  // Per thread, because an ICU DateFormat may not be used by two threads at once.
  thread_local std::unordered_map<int64_t, std::unique_ptr<icu::DateFormat>> cache;
  const int64_t key = static_cast<int64_t>(lcid) * 2 + (with_time ? 1 : 0);
  if (auto it = cache.find(key); it != cache.end()) return *it->second;

  const icu::Locale locale = LocaleFor(lcid);
  std::unique_ptr<icu::DateFormat> format(
      with_time ? icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort,
                                                          icu::DateFormat::kShort, locale)
                : icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
  if (!format) RaiseIcuFailure("build a date format", lcid, U_MISSING_RESOURCE_ERROR);
  UErrorCode status = U_ZERO_ERROR;
  auto calendar = std::make_unique<icu::GregorianCalendar>(
      icu::TimeZone::getGMT()->clone(), locale, status);
  if (U_SUCCESS(status)) calendar->setGregorianChange(-DBL_MAX, status);
  if (U_FAILURE(status)) RaiseIcuFailure("build a calendar", lcid, status);
  format->adoptCalendar(calendar.release());
  return *cache.emplace(key, std::move(format)).first->second;
}

const icu::number::LocalizedNumberFormatter& AmountFormatFor(int32_t lcid) {
  thread_local std::unordered_map<int32_t, icu::number::LocalizedNumberFormatter> cache;
  if (auto it = cache.find(lcid); it != cache.end()) return it->second;
  // Grouping from 1000 up in every locale (ICU would leave 1234 ungrouped
  // where the locale's minimum grouping is two digits, es-ES or pl-PL), so
  // amounts in a column line up the way the shop has always shown them.
  // Negative zero after rounding shows no minus sign.
  auto format = icu::number::NumberFormatter::withLocale(LocaleFor(lcid))
                    .precision(icu::number::Precision::fixedFraction(2))
                    .roundingMode(UNUM_ROUND_HALFUP)
                    .grouping(UNUM_GROUPING_ON_ALIGNED)
                    .sign(UNUM_SIGN_NEGATIVE);
  return cache.emplace(lcid, std::move(format)).first->second;
}

}  // namespace

const ClassBinding<DataFunctions>& DataFunctions::Binding() {
  static const auto binding =
      ClassBinding<DataFunctions>("DataFunctions")
          .Method("DateTime", &DataFunctions::DateTime)
          .Method("FormatNumberForLocale", &DataFunctions::FormatNumberForLocale)
          .Method("FormatCurrencyAmount", &DataFunctions::FormatCurrencyAmount)
          .Method("CurrencySymbolForLocale", &DataFunctions::CurrencySymbolForLocale);
  return binding;
}

std::string DataFunctions::DateTime(const Variant& value, int32_t locale,
                                    std::optional<bool> with_time) const {
  // The locale is checked first, so a wrong id shows even on a row whose
  // date happens to be empty.
  icu::DateFormat& format = DateFormatFor(locale, with_time.value_or(false));
  if (value.IsMissing()) return {};
  const Date date = value.ToDate();
  icu::UnicodeString text;
  format.format(WallClockAsUtc(date), text);
  return ToUtf8(text);
}

std::string DataFunctions::FormatNumberForLocale(double value, int32_t locale) const {
  const auto& format = AmountFormatFor(locale);
  if (!std::isfinite(value))
    Raise(err::kInvalidProcedureCall, kSource, "Amount is not a finite number");
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString text = format.formatDouble(value, status).toString(status);
  if (U_FAILURE(status)) RaiseIcuFailure("format an amount", locale, status);
  return ToUtf8(text);
}

std::string DataFunctions::FormatCurrencyAmount(double value, int32_t locale,
                                                int32_t style) const {
  if (style != kAmountWithoutSymbol)
    Raise(err::kInvalidProcedureCall, kSource,
          "Unsupported currency amount style: " + std::to_string(style));
  return FormatNumberForLocale(value, locale);
}

std::string DataFunctions::CurrencySymbolForLocale(int32_t locale) const {
  const icu::Locale icu_locale = LocaleFor(locale);
  UErrorCode status = U_ZERO_ERROR;
  UChar code[4] = {};
  const int32_t length = ucurr_forLocale(icu_locale.getName(), code, 4, &status);
  if (U_FAILURE(status) || length != 3) RaiseIcuFailure("find the currency", locale, status);
  UBool is_choice_format = false;
  int32_t symbol_length = 0;
  const UChar* symbol = ucurr_getName(code, icu_locale.getName(), UCURR_SYMBOL_NAME,
                                      &is_choice_format, &symbol_length, &status);
  if (U_FAILURE(status) || !symbol) RaiseIcuFailure("name the currency", locale, status);
  return ToUtf8(icu::UnicodeString(symbol, symbol_length));
}

}  // namespace platform
