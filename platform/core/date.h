// Date is the platform's date-time value: a count of days since 1899-12-30
// with the time of day as the fraction, so a Date converts to a Double and
// back without loss. Before 1899-12-30 the classic encoding counts the days
// backwards but the time of day forwards (-1.25 is 1899-12-29 06:00), so
// AddDays and the comparisons work on the moment, not on the raw serial.
// Dates run from 0100-01-01 to 9999-12-31; times are kept to the second
// (a fraction of a second rounds to the nearest second when read). Its text form is ISO 8601
// ("2026-12-08T14:30:00"); the database stores that form too, so stored dates
// sort as text.
//
// Thread-safety: a value type.
#pragma once

#include <cmath>
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

  Date AddDays(double days) const;
  Date DateOnly() const;     // the same day at midnight
  bool HasTime() const;      // a time of day other than midnight

  // "2026-12-08T14:30:00" (to the second).
  std::string ToIso() const;
  // "2026-12-08" at midnight, "2026-12-08 14:30:00" otherwise: the CStr form.
  std::string ToText() const;

  auto operator<=>(const Date& o) const { return Linear(serial_) <=> Linear(o.serial_); }
  bool operator==(const Date& o) const { return Linear(serial_) == Linear(o.serial_); }

 private:
  // The serial as a point on a straight time line (the serial itself from
  // the zero date on).
  static double Linear(double serial) {
    double whole = std::trunc(serial);
    return whole + std::fabs(serial - whole);
  }
  explicit Date(double serial) : serial_(serial) {}
  double serial_ = 0;
};

}  // namespace platform
