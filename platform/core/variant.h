// Variant is the value every late-bound call, record-set field and document
// entry carries: Empty, Null, Boolean, Byte, Integer (16-bit), Long (32-bit),
// Double, Currency, Date, String (UTF-8), Object and Array.
//
// All conversions live here and nowhere else. They follow the classic rules:
// integer conversions round halves to even and raise Overflow (6); text that
// is not a number raises Type mismatch (13); Null where a value is needed
// raises Invalid use of Null (94); a Boolean as text is "True"/"False" and
// true as a number is -1; numbers use "." as the decimal separator.
//
// Thread-safety: a Variant is a value. Arrays are shared between copies and
// copied on the first write (MutableArray), so copies never see each other's
// changes. Objects are shared references, as in any late-bound world.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/core/currency.h"
#include "platform/core/date.h"

namespace platform {

class Object;
class Variant;
using ObjectPtr = std::shared_ptr<Object>;
using VariantArray = std::vector<Variant>;

// Type codes of the classic VarType function.
enum class VarType : uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,
  Long = 3,
  Double = 5,
  Currency = 6,
  Date = 7,
  String = 8,
  Object = 9,
  Boolean = 11,
  Byte = 17,
  Array = 8204,  // array of variants
};

struct NullValue {
  bool operator==(const NullValue&) const = default;
};
inline constexpr NullValue kNull{};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(NullValue) : v_(NullValue{}) {}
  Variant(bool b) : v_(b) {}
  Variant(uint8_t b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t l) : v_(l) {}
  Variant(double d) : v_(d) {}
  Variant(Currency c) : v_(c) {}
  Variant(Date d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(VariantArray a) : v_(std::make_shared<VariantArray>(std::move(a))) {}
  Variant(ObjectPtr o) : v_(std::move(o)) {}
  template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T> &&
                                              !std::is_same_v<T, Object>>>
  Variant(std::shared_ptr<T> o) : v_(ObjectPtr(std::move(o))) {}
  // Other integer widths are deliberately not implicit: say which kind you mean.
  Variant(int64_t) = delete;
  Variant(float) = delete;

  static Variant Empty() { return {}; }
  static Variant Null() { return Variant(kNull); }

  VarType type() const;
  bool IsEmpty() const { return v_.index() == 0; }
  bool IsNull() const { return std::holds_alternative<NullValue>(v_); }
  bool IsObject() const { return std::holds_alternative<ObjectPtr>(v_); }
  bool IsArray() const { return std::holds_alternative<ArrayRef>(v_); }
  bool IsString() const { return std::holds_alternative<std::string>(v_); }
  bool IsNumeric() const;  // Boolean, Byte, Integer, Long, Double, Currency
  // Empty, or a Null: the values a record set or document treats as "no value".
  bool IsMissing() const { return IsEmpty() || IsNull(); }

  // Conversions (CBool, CByte, CInt, CLng, CDbl, CCur, CDate, CStr).
  bool ToBool() const;
  uint8_t ToByte() const;
  int16_t ToInteger() const;
  int32_t ToLong() const;
  double ToDouble() const;
  Currency ToCurrency() const;
  Date ToDate() const;
  std::string ToString() const;
  // The object, or nullptr for Empty/Nothing; anything else (Null included)
  // is Type mismatch (13), as when a value is passed for an object parameter.
  ObjectPtr ToObject() const;
  template <class T>
  std::shared_ptr<T> As() const {
    return std::dynamic_pointer_cast<T>(ToObject());
  }

  // Array access; anything but an array is Type mismatch.
  const VariantArray& Array() const;
  VariantArray& MutableArray();

  // Direct access to the stored alternative (no conversion); nullptr when the
  // Variant holds another kind.
  template <class T>
  const T* Get() const {
    return std::get_if<T>(&v_);
  }

  // Strict equality: same kind and same value (objects by identity). For
  // comparisons by the classic rules use Compare.
  bool operator==(const Variant& other) const;

 private:
  using ArrayRef = std::shared_ptr<VariantArray>;
  std::variant<std::monostate, NullValue, bool, uint8_t, int16_t, int32_t,
               double, Currency, Date, std::string, ObjectPtr, ArrayRef>
      v_;
};

// Classic comparison: numbers (Boolean, Byte, Integer, Long, Double,
// Currency, Date) compare as numbers, text with text (binary, case-sensitive),
// a number with numeric text as numbers. Null on either side is unordered
// (every comparison with it is false). Other mixes raise Type mismatch.
std::partial_ordering Compare(const Variant& a, const Variant& b);

// Text to number with "." as decimal separator; surrounding blanks allowed.
// Raises Type mismatch for anything else.
double ParseNumber(std::string_view text);

// A Double as the classic CStr renders it: up to 15 significant digits,
// fixed notation from 0.0001 up to below 1E+15, "1.5E-05" / "1E+20" beyond.
std::string FormatDouble(double d);

// Round half to even to a whole number (the rule of CInt/CLng).
double RoundHalfEven(double d);

}  // namespace platform
