#include "platform/core/date.h"

#include <cmath>
#include <cstdio>

#include "platform/core/com_error.h"

namespace platform {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 of a civil date (proleptic Gregorian), after
// H. Hinnant's chrono algorithms.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
  int year;
  int month;
  int day;
};

Civil CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// The zero date, 1899-12-30, counted from 1970-01-01.
const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The classic range of dates: 100-01-01 to 9999-12-31.
bool ValidParts(int y, int mo, int d, int h, int mi, int s) {
  return y >= 100 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 &&
         d <= DaysInMonth(y, mo) && h >= 0 && h <= 23 && mi >= 0 && mi <= 59 &&
         s >= 0 && s <= 59;
}

// A moment as a whole day number (days after the zero date) and the second of
// that day. Before the zero date the serial's fraction still counts the time
// of day forwards (-1.25 is 1899-12-29 06:00), so the day is the serial
// truncated towards zero and the time its absolute fraction. Seconds are
// rounded, which carries 23:59:59.6 into the next day.
struct Moment {
  int64_t day;
  int64_t second;
};

Moment Split(double serial) {
  // A serial far outside every date (or NaN) must not reach the integer
  // conversions below; it reads as the zero date.
  if (!(std::fabs(serial) < 1e9)) serial = 0;
  double whole = std::trunc(serial);
  double fraction = std::fabs(serial - whole);
  Moment m{static_cast<int64_t>(whole),
           static_cast<int64_t>(std::llround(fraction * kSecondsPerDay))};
  if (m.second >= kSecondsPerDay) {
    m.day += 1;
    m.second -= kSecondsPerDay;
  }
  return m;
}

double Join(int64_t day, int64_t second) {
  if (second >= kSecondsPerDay) {
    day += second / kSecondsPerDay;
    second %= kSecondsPerDay;
  }
  double time = static_cast<double>(second) / kSecondsPerDay;
  return static_cast<double>(day) + (day < 0 ? -time : time);
}

int64_t DayNumber(int y, int mo, int d) {
  return DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - kEpochOffset;
}

// Reads exactly n digits at pos.
bool Digits(std::string_view t, size_t pos, size_t n, int& out) {
  if (pos + n > t.size()) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = t[pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

}  // namespace

Date Date::FromParts(int year, int month, int day, int hour, int minute, int second) {
  if (!ValidParts(year, month, day, hour, minute, second)) {
    char text[96];
    std::snprintf(text, sizeof text, "Invalid procedure call or argument: no date %04d-%02d-%02d %02d:%02d:%02d",
                  year, month, day, hour, minute, second);
    Raise(err::kInvalidProcedureCall, "platform.Date", text);
  }
  return Date(Join(DayNumber(year, month, day), hour * 3600 + minute * 60 + second));
}

std::optional<Date> Date::Parse(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, mo) ||
      text[7] != '-' || !Digits(text, 8, 2, d)) {
    return std::nullopt;
  }
  int round_up = 0;
  size_t pos = 10;
  if (pos < text.size()) {
    if (text[pos] != 'T' && text[pos] != ' ') return std::nullopt;
    if (!Digits(text, pos + 1, 2, h) || pos + 3 >= text.size() || text[pos + 3] != ':' ||
        !Digits(text, pos + 4, 2, mi)) {
      return std::nullopt;
    }
    pos += 6;
    if (pos < text.size()) {
      if (text[pos] != ':' || !Digits(text, pos + 1, 2, s)) return std::nullopt;
      pos += 3;
      if (pos < text.size()) {
        // Fractions of a second round to the nearest second.
        if (text[pos] != '.' || pos + 1 == text.size()) return std::nullopt;
        for (size_t i = pos + 1; i < text.size(); ++i) {
          if (text[i] < '0' || text[i] > '9') return std::nullopt;
        }
        round_up = text[pos + 1] >= '5' ? 1 : 0;
      }
    }
  }
  if (!ValidParts(y, mo, d, h, mi, s)) return std::nullopt;
  return Date(Join(DayNumber(y, mo, d), h * 3600 + mi * 60 + s + round_up));
}

Date Date::AddDays(double days) const {
  double moment = Linear(serial_) + days;
  if (moment >= 0) return Date(moment);
  // Back to the classic encoding: whole days down, the time of day forwards.
  double day = std::floor(moment);
  double time = moment - day;
  return Date(time == 0 ? day : day - time);
}

int Date::year() const { return CivilFromDays(Split(serial_).day + kEpochOffset).year; }
int Date::month() const { return CivilFromDays(Split(serial_).day + kEpochOffset).month; }
int Date::day() const { return CivilFromDays(Split(serial_).day + kEpochOffset).day; }
int Date::hour() const { return static_cast<int>(Split(serial_).second / 3600); }
int Date::minute() const { return static_cast<int>(Split(serial_).second / 60 % 60); }
int Date::second() const { return static_cast<int>(Split(serial_).second % 60); }

int Date::weekday() const {
  // Day 0 was a Saturday.
  int64_t r = ((Split(serial_).day % 7) + 7) % 7;
  return static_cast<int>((r + 6) % 7 + 1);
}

Date Date::DateOnly() const { return Date(static_cast<double>(Split(serial_).day)); }

bool Date::HasTime() const { return Split(serial_).second != 0; }

std::string Date::ToIso() const {
  Moment m = Split(serial_);
  Civil c = CivilFromDays(m.day + kEpochOffset);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day,
                static_cast<int>(m.second / 3600), static_cast<int>(m.second / 60 % 60),
                static_cast<int>(m.second % 60));
  return text;
}

std::string Date::ToText() const {
  Moment m = Split(serial_);
  Civil c = CivilFromDays(m.day + kEpochOffset);
  char text[40];
  if (m.second == 0) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day,
                  static_cast<int>(m.second / 3600), static_cast<int>(m.second / 60 % 60),
                  static_cast<int>(m.second % 60));
  }
  return text;
}

}  // namespace platform
