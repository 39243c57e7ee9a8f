// DataFunctions ("Wrenlow.DataFunctions") is the platform's locale formatting
// component, on ICU: the short date (and time) of a locale, amounts with the
// locale's grouping and decimal separator, and the symbol of the locale's
// currency. Locales are numeric ids resolved through locale_ids.h; an unknown
// id raises 5 "Unknown locale id: N". What each operation renders, locale by
// locale, is described in docs/localisation.md.
//
// The object has no state of its own, so it is cheap to create per call. The
// ICU formatters behind it are built once per thread and locale and kept, so
// a document formatted line by line does not rebuild them.
//
// Thread-safety: one caller at a time per object, like every Object; objects
// on different threads never share a formatter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/dispatch.h"

namespace platform {

class DataFunctions : public Dispatchable<DataFunctions> {
 public:
  static const ClassBinding<DataFunctions>& Binding();

  // The only currency-amount style: the amount as FormatNumberForLocale gives
  // it, without a symbol (callers put CurrencySymbolForLocale and a blank in
  // front themselves).
  static constexpr int32_t kAmountWithoutSymbol = 8;

  // The locale's short date ("12/31/00" for 1033, "31.12.00" for 1031,
  // "31/12/2000" for 2057), followed in the locale's way by its short time
  // when with_time is true. Day and month are always digits. value is a Date
  // or anything converting to one; Empty or Null give "".
  std::string DateTime(const Variant& value, int32_t locale,
                       std::optional<bool> with_time) const;

  // Exactly two decimals, the locale's decimal separator and grouping from
  // 1000 up ("1,234.50", "1.234,50", "1 234,50"); halves round away from zero
  // on the value's shortest decimal form, so 2.675 gives "2.68". A value that
  // is not finite raises 5.
  std::string FormatNumberForLocale(double value, int32_t locale) const;

  // Style 8 (kAmountWithoutSymbol) gives the same text as
  // FormatNumberForLocale; any other style raises 5.
  std::string FormatCurrencyAmount(double value, int32_t locale, int32_t style) const;

  // The symbol of the locale's currency in that locale: "$" for 1033, "£"
  // for 2057, "€" for 1031, "CHF" for 2055.
  std::string CurrencySymbolForLocale(int32_t locale) const;
};

}  // namespace platform
