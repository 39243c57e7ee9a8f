#include "platform/core/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/core/text.h"

namespace platform {

namespace {

constexpr const char* kSource = "platform.Variant";

// The order of the alternatives in Variant::v_.
enum Index : size_t {
  kEmpty, kNullIdx, kBool, kByte, kInteger, kLong, kDouble, kCurrency, kDate, kString,
  kObject, kArray
};

// The classic range of dates, 100-01-01 to 9999-12-31 23:59:59.
constexpr double kMinDateSerial = -657434.0;
constexpr double kMaxDateSerial = 2958465.99999;

[[noreturn]] void TypeMismatch() { Raise(err::kTypeMismatch, kSource); }
[[noreturn]] void InvalidUseOfNull() { Raise(err::kInvalidUseOfNull, kSource); }
[[noreturn]] void Overflow() { Raise(err::kOverflow, kSource); }

std::string_view Trim(std::string_view t) { return text::TrimSpace(t); }
using text::EqualsNoCase;

template <class T>
std::partial_ordering Order(const T& a, const T& b) {
  if (a < b) return std::partial_ordering::less;
  if (b < a) return std::partial_ordering::greater;
  if (a == b) return std::partial_ordering::equivalent;
  return std::partial_ordering::unordered;
}

}  // namespace

// ---- free helpers ---------------------------------------------------------

double RoundHalfEven(double d) {
  if (!std::isfinite(d)) return d;
  double floor = std::floor(d);
  double diff = d - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

double ParseNumber(std::string_view text) {
  std::string_view t = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  const size_t number_start = i;
  // The decimal magnitude of the first significant digit, to tell an overflow
  // from an underflow when the engine reports the value out of range.
  int64_t magnitude = 0;
  bool seen_significant = false;
  bool any_digit = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    any_digit = true;
    if (seen_significant || t[i] != '0') {
      seen_significant = true;
      ++magnitude;
    }
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      any_digit = true;
      if (!seen_significant) {
        if (t[i] != '0') seen_significant = true; else --magnitude;
      }
    }
  }
  if (!any_digit) TypeMismatch();
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) exp_negative = t[i++] == '-';
    if (i == t.size() || t[i] < '0' || t[i] > '9') TypeMismatch();
    int64_t e = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      if (e < 100000) e = e * 10 + (t[i] - '0');
    }
    magnitude += exp_negative ? -e : e;
  }
  if (i != t.size()) TypeMismatch();
  double value = 0;
  auto res = std::from_chars(t.data() + number_start, t.data() + t.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    if (magnitude > 0) Overflow();
    value = 0;  // too small to tell from zero
  } else if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
    TypeMismatch();
  }
  return negative ? -value : value;
}

std::string FormatDouble(double d) {
  // The classic CStr is the C library's %.15G: fixed notation for decimal
  // exponents -5 < e < 15, "1.5E-05"/"1E+20" otherwise, trailing zeros gone.
  char text[40];
  std::snprintf(text, sizeof text, "%.15G", d);
  std::string out(text);
  if (out == "-0") out = "0";
  return out;
}

// ---- Variant --------------------------------------------------------------

VarType Variant::type() const {
  switch (v_.index()) {
    case kEmpty: return VarType::Empty;
    case kNullIdx: return VarType::Null;
    case kBool: return VarType::Boolean;
    case kByte: return VarType::Byte;
    case kInteger: return VarType::Integer;
    case kLong: return VarType::Long;
    case kDouble: return VarType::Double;
    case kCurrency: return VarType::Currency;
    case kDate: return VarType::Date;
    case kString: return VarType::String;
    case kObject: return VarType::Object;
    default: return VarType::Array;
  }
}

bool Variant::IsNumeric() const { return v_.index() >= kBool && v_.index() <= kCurrency; }

bool Variant::ToBool() const {
  switch (v_.index()) {
    case kEmpty: return false;
    case kNullIdx: InvalidUseOfNull();
    case kBool: return std::get<bool>(v_);
    case kByte: return std::get<uint8_t>(v_) != 0;
    case kInteger: return std::get<int16_t>(v_) != 0;
    case kLong: return std::get<int32_t>(v_) != 0;
    case kDouble: return std::get<double>(v_) != 0;
    case kCurrency: return std::get<Currency>(v_).ticks() != 0;
    case kDate: return std::get<Date>(v_).serial() != 0;
    case kString: {
      std::string_view t = Trim(std::get<std::string>(v_));
      if (EqualsNoCase(t, "true")) return true;
      if (EqualsNoCase(t, "false")) return false;
      return ParseNumber(t) != 0;
    }
    default: TypeMismatch();
  }
}

// The value a whole-number conversion starts from; Booleans are -1/0.
static double WholeSource(const Variant& v) {
  if (v.IsNull()) InvalidUseOfNull();
  if (v.IsObject() || v.IsArray()) TypeMismatch();
  return v.ToDouble();
}

static double RoundedInRange(double d, double lo, double hi) {
  double r = RoundHalfEven(d);
  if (!(r >= lo && r <= hi)) Overflow();
  return r;
}

uint8_t Variant::ToByte() const {
  if (const bool* b = std::get_if<bool>(&v_)) return *b ? 255 : 0;  // CByte(True) is 255
  if (const uint8_t* b = std::get_if<uint8_t>(&v_)) return *b;
  return static_cast<uint8_t>(RoundedInRange(WholeSource(*this), 0, 255));
}

int16_t Variant::ToInteger() const {
  if (const int16_t* i = std::get_if<int16_t>(&v_)) return *i;
  return static_cast<int16_t>(RoundedInRange(WholeSource(*this), -32768, 32767));
}

int32_t Variant::ToLong() const {
  if (const int32_t* l = std::get_if<int32_t>(&v_)) return *l;
  return static_cast<int32_t>(RoundedInRange(WholeSource(*this), -2147483648.0, 2147483647.0));
}

double Variant::ToDouble() const {
  switch (v_.index()) {
    case kEmpty: return 0;
    case kNullIdx: InvalidUseOfNull();
    case kBool: return std::get<bool>(v_) ? -1 : 0;
    case kByte: return std::get<uint8_t>(v_);
    case kInteger: return std::get<int16_t>(v_);
    case kLong: return std::get<int32_t>(v_);
    case kDouble: return std::get<double>(v_);
    case kCurrency: return std::get<Currency>(v_).ToDouble();
    case kDate: return std::get<Date>(v_).serial();
    case kString: return ParseNumber(std::get<std::string>(v_));
    default: TypeMismatch();
  }
}

Currency Variant::ToCurrency() const {
  switch (v_.index()) {
    case kEmpty: return Currency();
    case kNullIdx: InvalidUseOfNull();
    case kBool: return Currency::FromTicks(std::get<bool>(v_) ? -Currency::kScale : 0);
    case kByte: return Currency::FromTicks(std::get<uint8_t>(v_) * Currency::kScale);
    case kInteger: return Currency::FromTicks(std::get<int16_t>(v_) * Currency::kScale);
    case kLong: return Currency::FromTicks(std::get<int32_t>(v_) * Currency::kScale);
    case kDouble: return Currency::FromDouble(std::get<double>(v_));
    case kCurrency: return std::get<Currency>(v_);
    case kDate: return Currency::FromDouble(std::get<Date>(v_).serial());
    case kString: return Currency::Parse(std::get<std::string>(v_));
    default: TypeMismatch();
  }
}

Date Variant::ToDate() const {
  switch (v_.index()) {
    case kDate: return std::get<Date>(v_);
    case kNullIdx: InvalidUseOfNull();
    case kString: {
      std::optional<Date> d = Date::Parse(std::get<std::string>(v_));
      if (!d) TypeMismatch();
      return *d;
    }
    case kObject:
    case kArray: TypeMismatch();
    default: {
      double serial = ToDouble();
      if (!(serial >= kMinDateSerial && serial <= kMaxDateSerial)) Overflow();
      return Date::FromSerial(serial);
    }
  }
}

std::string Variant::ToString() const {
  switch (v_.index()) {
    case kEmpty: return {};
    case kNullIdx: InvalidUseOfNull();
    case kBool: return std::get<bool>(v_) ? "True" : "False";
    case kByte: return std::to_string(std::get<uint8_t>(v_));
    case kInteger: return std::to_string(std::get<int16_t>(v_));
    case kLong: return std::to_string(std::get<int32_t>(v_));
    case kDouble: return FormatDouble(std::get<double>(v_));
    case kCurrency: return std::get<Currency>(v_).ToText();
    case kDate: return std::get<Date>(v_).ToText();
    case kString: return std::get<std::string>(v_);
    default: TypeMismatch();
  }
}

ObjectPtr Variant::ToObject() const {
  if (IsEmpty()) return nullptr;
  if (const ObjectPtr* o = std::get_if<ObjectPtr>(&v_)) return *o;
  TypeMismatch();
}

const VariantArray& Variant::Array() const {
  const ArrayRef* a = std::get_if<ArrayRef>(&v_);
  if (!a) TypeMismatch();
  return **a;
}

VariantArray& Variant::MutableArray() {
  ArrayRef* a = std::get_if<ArrayRef>(&v_);
  if (!a) TypeMismatch();
  // Copies share the elements until one of them writes.
  if (a->use_count() > 1) *a = std::make_shared<VariantArray>(**a);
  return **a;
}

bool Variant::operator==(const Variant& other) const {
  if (v_.index() != other.v_.index()) return false;
  if (const ArrayRef* a = std::get_if<ArrayRef>(&v_)) {
    const ArrayRef& b = std::get<ArrayRef>(other.v_);
    return *a == b || **a == *b;
  }
  return v_ == other.v_;
}

// ---- Compare --------------------------------------------------------------

namespace {

// Whole numbers and Currency compare exactly in ticks.
bool ExactTicks(const Variant& v, int64_t& ticks) {
  if (const Currency* c = v.Get<Currency>()) {
    ticks = c->ticks();
    return true;
  }
  if (v.IsEmpty() || v.Get<bool>() || v.Get<uint8_t>() || v.Get<int16_t>() || v.Get<int32_t>()) {
    ticks = static_cast<int64_t>(v.ToLong()) * Currency::kScale;
    return true;
  }
  return false;
}

bool IsNumberLike(const Variant& v) { return v.IsEmpty() || v.IsNumeric() || v.Get<Date>(); }

std::partial_ordering CompareNumbers(const Variant& a, const Variant& b) {
  const Date* da = a.Get<Date>();
  const Date* db = b.Get<Date>();
  if (da && db) return *da <=> *db;  // by the moment, right before 1899 too
  int64_t ta = 0, tb = 0;
  if (ExactTicks(a, ta) && ExactTicks(b, tb)) return Order(ta, tb);
  return Order(a.ToDouble(), b.ToDouble());
}

std::partial_ordering CompareNumberWithText(const Variant& number, const std::string& text) {
  if (const Date* d = number.Get<Date>()) {
    if (std::optional<Date> parsed = Date::Parse(text)) return *d <=> *parsed;
  }
  return Order(number.ToDouble(), ParseNumber(text));
}

std::partial_ordering Reverse(std::partial_ordering o) {
  if (o == std::partial_ordering::less) return std::partial_ordering::greater;
  if (o == std::partial_ordering::greater) return std::partial_ordering::less;
  return o;
}

}  // namespace

std::partial_ordering Compare(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return std::partial_ordering::unordered;
  if (a.IsObject() || a.IsArray() || b.IsObject() || b.IsArray()) TypeMismatch();
  const std::string* sa = a.Get<std::string>();
  const std::string* sb = b.Get<std::string>();
  if (sa && sb) return Order(*sa, *sb);
  // Empty is "" beside text and 0 beside a number.
  if (sa && b.IsEmpty()) return Order(*sa, std::string());
  if (sb && a.IsEmpty()) return Order(std::string(), *sb);
  if (sa) return Reverse(CompareNumberWithText(b, *sa));
  if (sb) return CompareNumberWithText(a, *sb);
  if (IsNumberLike(a) && IsNumberLike(b)) return CompareNumbers(a, b);
  TypeMismatch();
}

}  // namespace platform
