#include "platform/core/currency.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "platform/core/com_error.h"

namespace platform {

namespace {

[[noreturn]] void RaiseOverflow() { Raise(err::kOverflow, "platform.Currency"); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads "[+-]digits[.digits][(e|E)[+-]digits]" (blanks around allowed) into
// ticks exactly, rounding half to even at the fourth decimal. Working on the
// decimal digits, not on a binary double, is what makes 0.00005 round like
// the amount it says. nullopt for text of another shape; Overflow beyond the
// range.
std::optional<int64_t> DecimalToTicks(std::string_view t) {
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  std::string digits;  // significant digits, leading zeros dropped
  int64_t exponent = 0;
  bool any_digit = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    any_digit = true;
    if (!digits.empty() || t[i] != '0') digits.push_back(t[i]);
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      any_digit = true;
      if (!digits.empty() || t[i] != '0') digits.push_back(t[i]);
      --exponent;
    }
  }
  if (!any_digit) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) exp_negative = t[i++] == '-';
    if (i == t.size()) return std::nullopt;
    int64_t e = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      if (e < 100000) e = e * 10 + (t[i] - '0');
    }
    exponent += exp_negative ? -e : e;
  }
  if (i != t.size()) return std::nullopt;
  if (digits.empty()) return 0;

  // ticks = digits * 10^(exponent + 4)
  const int64_t shift = exponent + 4;
  const int64_t n = static_cast<int64_t>(digits.size());
  if (n + shift > 19) RaiseOverflow();
  std::string whole;
  std::string dropped;
  if (shift >= 0) {
    whole = digits + std::string(static_cast<size_t>(shift), '0');
  } else if (n + shift > 0) {
    whole = digits.substr(0, static_cast<size_t>(n + shift));
    dropped = digits.substr(static_cast<size_t>(n + shift));
  } else {
    dropped = std::string(static_cast<size_t>(-(n + shift)), '0') + digits;
  }
  uint64_t magnitude = 0;
  for (char c : whole) magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
  if (!dropped.empty()) {
    bool up = dropped[0] > '5';
    if (dropped[0] == '5') {
      bool beyond = dropped.find_first_not_of('0', 1) != std::string::npos;
      up = beyond || (magnitude % 2 == 1);
    }
    if (up) ++magnitude;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
  if (magnitude > limit) RaiseOverflow();
  if (negative) return magnitude == limit ? INT64_MIN : -static_cast<int64_t>(magnitude);
  return static_cast<int64_t>(magnitude);
}

}  // namespace

Currency Currency::FromDouble(double d) {
  if (!std::isfinite(d)) RaiseOverflow();
  // Most amounts (every money cell a record set reads) are nowhere near half
  // a tick: round the scaled value directly. Well inside 2^53 the product's
  // error is far below the margin kept to the half, so both ways agree.
  const double scaled = d * static_cast<double>(kScale);
  if (std::fabs(scaled) < 1e14) {
    const double whole = std::nearbyint(scaled);
    if (std::fabs(scaled - whole) < 0.45) return Currency(static_cast<int64_t>(whole));
  }
  // Near a half tick: the shortest text that reads back as d is the amount the
  // caller meant, rounded half to even.
  char text[64];
  auto res = std::to_chars(text, text + sizeof text, d);
  return Currency(*DecimalToTicks(std::string_view(text, static_cast<size_t>(res.ptr - text))));
}

Currency Currency::Parse(std::string_view text) {
  std::optional<int64_t> ticks = DecimalToTicks(text);
  if (!ticks) Raise(err::kTypeMismatch, "platform.Currency");
  return Currency(*ticks);
}

std::string Currency::ToFixed4() const {
  uint64_t magnitude = ticks_ < 0 ? 0 - static_cast<uint64_t>(ticks_) : static_cast<uint64_t>(ticks_);
  std::string fraction = std::to_string(magnitude % kScale);
  fraction.insert(0, 4 - fraction.size(), '0');
  return (ticks_ < 0 ? "-" : "") + std::to_string(magnitude / kScale) + "." + fraction;
}

std::string Currency::ToText() const {
  std::string text = ToFixed4();
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

Currency Currency::operator+(Currency o) const {
  int64_t sum;
  if (__builtin_add_overflow(ticks_, o.ticks_, &sum)) RaiseOverflow();
  return Currency(sum);
}

Currency Currency::operator-(Currency o) const {
  int64_t difference;
  if (__builtin_sub_overflow(ticks_, o.ticks_, &difference)) RaiseOverflow();
  return Currency(difference);
}

Currency Currency::operator-() const {
  if (ticks_ == INT64_MIN) RaiseOverflow();
  return Currency(-ticks_);
}

}  // namespace platform
