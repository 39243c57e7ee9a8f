// Currency is the fixed-point money value of the platform: a 64-bit count of
// ten-thousandths, exact for every amount the shop handles. Conversions from
// Double round half to even at the fourth decimal.
//
// Thread-safety: a value type.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class Currency {
 public:
  static constexpr int64_t kScale = 10000;
  static constexpr int64_t kMaxTicks = INT64_MAX;

  Currency() = default;
  static Currency FromTicks(int64_t ticks) { return Currency(ticks); }
  // Raises Overflow (6) beyond the representable range.
  static Currency FromDouble(double d);
  // "12.34", "-0.5", "12.3400"; raises Type mismatch (13) otherwise and
  // Overflow (6) beyond the range.
  // Accepts what ParseNumber accepts (blanks around, an exponent), exactly:
  // digits beyond the fourth decimal round half to even.
  static Currency Parse(std::string_view text);

  int64_t ticks() const { return ticks_; }
  double ToDouble() const { return static_cast<double>(ticks_) / kScale; }
  // Fewest decimals needed ("12.34", "5"): the CStr form.
  std::string ToText() const;
  // Always four decimals ("12.3400"): the exchange form.
  std::string ToFixed4() const;

  // Exact; Overflow (6) beyond the range.
  Currency operator+(Currency o) const;
  Currency operator-(Currency o) const;
  Currency operator-() const;

  auto operator<=>(const Currency&) const = default;

 private:
  explicit Currency(int64_t ticks) : ticks_(ticks) {}
  int64_t ticks_ = 0;
};

}  // namespace platform
