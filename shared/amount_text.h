// LocaleAmountText writes amounts exactly as FormatPriceDecimals does for one
// locale (two decimals, the locale's grouping and decimal separator, halves
// away from zero on the amount's shortest decimal form), for documents that
// show hundreds of amounts: a late-bound call and an ICU run per amount cost
// far more than the document's own text.
//
// It learns the locale's separators and minus sign from the data-functions
// object itself, by having it format two probe amounts, and then checks its
// own rendering of a wider set of amounts (halves, carries, grouping, zero
// and negative zero) against the object's texts. Only when every text is the
// same does it write amounts itself; a locale it cannot reproduce exactly
// (other digits, another grouping, a trailing minus), a locale the object
// refuses, and amounts that are not finite or of 10^15 and more all go to
// FormatPriceDecimals as before, with its errors and log entries.
//
// Thread-safety: an object is used by one thread at a time. What was learnt
// of the platform's own formatting component (which has no state) is kept
// per thread and locale, so a document does not learn it again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace lib_sales {

class LocaleAmountText {
 public:
  LocaleAmountText(int16_t locale, platform::ObjectPtr data_functions);

  // Appends FormatPriceDecimals(value, locale, data_functions) to out.
  void Append(std::string& out, const platform::Variant& value);
  void Append(std::string& out, double value);

  // The separators of the locale, when its amounts are written here; for
  // tests: false when every amount goes to the object.
  bool WritesItself();

  // The shape of the locale's amounts: "1" group "234" decimal "50", and
  // minus in front of a negative amount.
  struct Shape {
    bool exact = false;
    std::string group;
    std::string decimal;
    std::string minus;
  };

  // The text of an amount in the shape; false (and nothing appended) for an
  // amount that is not finite or of 10^15 and more. For tests.
  static bool Render(const Shape& shape, double value, std::string& out);

 private:
  const Shape& Learnt();

  int16_t locale_;
  platform::ObjectPtr data_functions_;
  std::shared_ptr<const Shape> shape_;  // learnt on the first amount
};

}  // namespace lib_sales
