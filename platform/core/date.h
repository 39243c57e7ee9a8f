// Date is the platform's date-time value: a count of days since 1899-12-30
// with the time of day as the fraction, so day arithmetic is addition and a
// Date converts to a Double and back without loss. Its text form is ISO 8601
// ("2026-12-08T14:30:00"); the database stores that form too, so stored dates
// sort as text.
//
// Thread-safety: a value type.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Date {
 public:
  Date() = default;  // 1899-12-30T00:00:00, the zero date
  static Date FromSerial(double days) { return Date(days); }
  // Raises Invalid procedure call (5) for a day that does not exist.
  static Date FromParts(int year, int month, int day, int hour = 0,
                        int minute = 0, int second = 0);
  // Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS[.fff]]" and the same with a
  // blank instead of "T"; nullopt for anything else.
  static std::optional<Date> Parse(std::string_view text);

  double serial() const { return serial_; }
  int year() const;
  int month() const;
  int day() const;
  int hour() const;
  int minute() const;
  int second() const;
  int weekday() const;  // 1 = Sunday ... 7 = Saturday, as the classic Weekday

  Date AddDays(double days) const { return Date(serial_ + days); }
  Date DateOnly() const;     // the same day at midnight
  bool HasTime() const;      // a time of day other than midnight

  // "2026-12-08T14:30:00" (to the second).
  std::string ToIso() const;
  // "2026-12-08" at midnight, "2026-12-08 14:30:00" otherwise: the CStr form.
  std::string ToText() const;

  auto operator<=>(const Date& o) const { return serial_ <=> o.serial_; }
  bool operator==(const Date& o) const { return serial_ == o.serial_; }

 private:
  explicit Date(double serial) : serial_(serial) {}
  double serial_ = 0;
};

}  // namespace platform
