#include "shared/amount_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "platform/core/currency.h"
#include "platform/services/data_functions.h"
#include "shared/localisation.h"

namespace lib_sales {

using platform::Variant;

namespace {

// Amounts the rendering must get right before it is trusted: zero and a
// negative amount that rounds to zero, halves on either side of the
// rounding digit (2.675 is 2.67499... in binary, its shortest form 2.675),
// a carry into a new group, grouping of every length, amounts with many
// digits, and the largest ones written here.
constexpr double kChecks[] = {0,
                              -0.001,
                              0.004,
                              0.005,
                              -0.005,
                              0.015,
                              0.125,
                              1.005,
                              2.675,
                              -2.675,
                              0.1,
                              12.3,
                              100,
                              999.995,
                              -999.995,
                              1000,
                              -1000.25,
                              12345.678,
                              123456.5,
                              1234567.891,
                              -9876543210.12,
                              98765432101234.56,
                              999999999999999.9,
                              1e-7,
                              5e-324,
                              0.0049999999,
                              17.0 / 3.0,
                              -2.0 / 3.0,
                              4398046511103.995};

// The largest amount the shortcut of Render handles: below 2^42 two
// doubles are less than a thousandth apart, so an amount that is a whole
// number of thousandths has that number as its shortest decimal form.
constexpr double kThousandthsLimit = 4398046511104.0;  // 2^42

// Currency amounts below 10^11 (fewer than 15 digits with the four
// decimals) are written from their ticks.
constexpr int64_t kCurrencyTicksLimit = 1000000000000000;  // 10^15 ticks

// The platform's formatting component has no state: what it writes for a
// locale is learnt once per thread.
std::unordered_map<int16_t, std::shared_ptr<const LocaleAmountText::Shape>>& PlatformShapes() {
  thread_local std::unordered_map<int16_t, std::shared_ptr<const LocaleAmountText::Shape>> shapes;
  return shapes;
}

std::string Formatted(const platform::ObjectPtr& data_functions, double value, int16_t locale) {
  return platform::Call(data_functions, "FormatNumberForLocale", {Variant(value), Variant(locale)})
      .ToString();
}

LocaleAmountText::Shape LearnShape(const platform::ObjectPtr& data_functions, int16_t locale) {
  LocaleAmountText::Shape shape;
  if (!data_functions) return shape;
  try {
    // "1" group "234" decimal "50", and the minus in front of it.
    const std::string positive = Formatted(data_functions, 1234.5, locale);
    const std::string negative = Formatted(data_functions, -1234.5, locale);
    if (positive.size() < 6 || positive.front() != '1' ||
        positive.compare(positive.size() - 2, 2, "50") != 0)
      return shape;
    const size_t at = positive.find("234", 1);
    if (at == std::string::npos || at + 5 > positive.size()) return shape;
    shape.group = positive.substr(1, at - 1);
    shape.decimal = positive.substr(at + 3, positive.size() - at - 5);
    if (shape.decimal.empty() || negative.size() <= positive.size() ||
        negative.compare(negative.size() - positive.size(), positive.size(), positive) != 0)
      return shape;
    shape.minus = negative.substr(0, negative.size() - positive.size());
    // Separators are a few characters; Render has room for that much.
    if (shape.group.size() > 16 || shape.decimal.size() > 16 || shape.minus.size() > 16)
      return LocaleAmountText::Shape{};
    std::string mine;
    for (double check : kChecks) {
      mine.clear();
      if (!LocaleAmountText::Render(shape, check, mine) || mine != Formatted(data_functions, check, locale))
        return LocaleAmountText::Shape{};
    }
    shape.exact = true;
  } catch (...) {
    // A locale the object refuses: every amount goes to it, and fails there
    // as it always has.
    return LocaleAmountText::Shape{};
  }
  return shape;
}

}  // namespace

LocaleAmountText::LocaleAmountText(int16_t locale, platform::ObjectPtr data_functions)
    : locale_(locale), data_functions_(std::move(data_functions)) {}

namespace {

// The text of an amount of `hundredths` in the shape, written from the right:
// two decimals, the decimal separator, the whole part grouped by threes.
void AppendHundredths(const LocaleAmountText::Shape& shape, bool negative, uint64_t hundredths,
                      std::string& out) {
  char text[256];  // 20 digits, 6 groups and a minus of at most 16 bytes each
  char* const end = text + sizeof text;
  char* at = end;
  const auto put = [&at](const std::string& piece) {
    at -= piece.size();
    std::memcpy(at, piece.data(), piece.size());
  };
  uint64_t rest = hundredths;
  *--at = static_cast<char>('0' + rest % 10);
  rest /= 10;
  *--at = static_cast<char>('0' + rest % 10);
  rest /= 10;
  put(shape.decimal);
  int in_group = 0;
  do {
    if (in_group == 3) {
      put(shape.group);
      in_group = 0;
    }
    *--at = static_cast<char>('0' + rest % 10);
    rest /= 10;
    ++in_group;
  } while (rest != 0);
  // Negative zero after rounding shows no minus.
  if (negative && hundredths != 0) put(shape.minus);
  out.append(at, static_cast<size_t>(end - at));
}

}  // namespace

bool LocaleAmountText::Render(const Shape& shape, double value, std::string& out) {
  if (!std::isfinite(value)) return false;
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e15) return false;
  if (magnitude < kThousandthsLimit) {
    const double thousandths = std::nearbyint(magnitude * 1000);
    if (thousandths / 1000 == magnitude) {
      // The amount is a whole number of thousandths: its shortest form has
      // at most three decimals, and a third decimal of 5 rounds up.
      AppendHundredths(shape, value < 0, (static_cast<uint64_t>(thousandths) + 5) / 10, out);
      return true;
    }
    // Any other amount whose hundredths are clearly off the half rounds as
    // its shortest decimal form does: that form lies within half a unit in
    // the last place of the amount, so on the same side of the half. The
    // margin is hundreds of times the error of the product and that half
    // unit together; amounts within it take the exact way below.
    const double scaled = magnitude * 100;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) > scaled * 0x1p-44) {
      AppendHundredths(shape, value < 0, static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0),
                       out);
      return true;
    }
  }
  // The digits of the amount in hundredths, rounded half away from zero on
  // its shortest decimal form.
  char digits[400];
  size_t n = 0;
  {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::fixed);
    if (result.ec != std::errc()) return false;
    const char* end = result.ptr;
    const char* point = text;
    while (point < end && *point != '.') ++point;
    // Whole part, then exactly two decimals, and whether to round up.
    digits[n++] = '0';  // room for a carry
    for (const char* p = text; p < point; ++p) digits[n++] = *p;
    const char* decimals = point < end ? point + 1 : end;
    for (int i = 0; i < 2; ++i) digits[n++] = decimals + i < end ? decimals[i] : '0';
    if (decimals + 2 < end && decimals[2] >= '5') {
      size_t i = n;
      while (i-- > 0) {
        if (digits[i] == '9') {
          digits[i] = '0';
        } else {
          ++digits[i];
          break;
        }
      }
    }
    // Drop the carry digit when unused, keeping at least "0" in front.
    size_t skip = 0;
    while (skip + 3 < n && digits[skip] == '0') ++skip;
    for (size_t i = skip; i < n; ++i) digits[i - skip] = digits[i];
    n -= skip;
  }
  bool zero = true;
  for (size_t i = 0; i < n; ++i) zero = zero && digits[i] == '0';
  // The text is put together here and appended once.
  char text[512];
  char* at = text;
  const auto put = [&at](const char* from, size_t count) {
    for (size_t i = 0; i < count; ++i) *at++ = from[i];
  };
  // Negative zero after rounding shows no minus.
  if (value < 0 && !zero) put(shape.minus.data(), shape.minus.size());
  const size_t whole = n - 2;
  const size_t first = whole % 3 == 0 ? 3 : whole % 3;
  put(digits, first);
  for (size_t i = first; i < whole; i += 3) {
    put(shape.group.data(), shape.group.size());
    put(digits + i, 3);
  }
  put(shape.decimal.data(), shape.decimal.size());
  put(digits + whole, 2);
  out.append(text, static_cast<size_t>(at - text));
  return true;
}

const LocaleAmountText::Shape& LocaleAmountText::Learnt() {
  if (shape_) return *shape_;
  if (dynamic_cast<const platform::DataFunctions*>(data_functions_.get())) {
    auto& shapes = PlatformShapes();
    auto it = shapes.find(locale_);
    if (it == shapes.end())
      it = shapes.emplace(locale_, std::make_shared<Shape>(LearnShape(data_functions_, locale_)))
               .first;
    shape_ = it->second;
  } else {
    shape_ = std::make_shared<Shape>(LearnShape(data_functions_, locale_));
  }
  return *shape_;
}

bool LocaleAmountText::WritesItself() { return Learnt().exact; }

void LocaleAmountText::Append(std::string& out, double value) {
  const Shape& shape = Learnt();
  if (shape.exact && Render(shape, value, out)) return;
  out.append(FormatPriceDecimals(Variant(value), locale_, data_functions_));
}

void LocaleAmountText::Append(std::string& out, const Variant& value) {
  // Only numbers take the shortcut: Null, Empty and text go the whole way,
  // so text that is no number fails as the formatting routine reports it.
  if (value.IsNumeric()) {
    const Shape& shape = Learnt();
    // A Currency of fewer than 15 digits is the double nearest to its four
    // decimals, and that double's shortest form is those decimals: its
    // hundredths, rounded half away from zero, come from the ticks.
    if (const platform::Currency* currency = value.Get<platform::Currency>();
        currency && shape.exact && currency->ticks() > -kCurrencyTicksLimit &&
        currency->ticks() < kCurrencyTicksLimit) {
      const int64_t ticks = currency->ticks();
      const uint64_t magnitude = static_cast<uint64_t>(ticks < 0 ? -ticks : ticks);
      AppendHundredths(shape, ticks < 0, (magnitude + 50) / 100, out);
      return;
    }
    const double* number = value.Get<double>();
    if (shape.exact && Render(shape, number ? *number : value.ToDouble(), out)) return;
  }
  out.append(FormatPriceDecimals(value, locale_, data_functions_));
}

}  // namespace lib_sales
