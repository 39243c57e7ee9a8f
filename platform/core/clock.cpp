#include "platform/core/clock.h"

#include <atomic>
#include <cmath>
#include <ctime>
#include <limits>

namespace platform {

namespace {

// The fixed moment as a serial; NaN while the clock runs. One atomic, so a
// reader never sees half of a Fix.
std::atomic<double> g_fixed{std::numeric_limits<double>::quiet_NaN()};

}  // namespace

Date Clock::Now() {
  double fixed = g_fixed.load(std::memory_order_acquire);
  if (!std::isnan(fixed)) return Date::FromSerial(fixed);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Date::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
}

Date Clock::Today() { return Now().DateOnly(); }

void Clock::Fix(Date moment) { g_fixed.store(moment.serial(), std::memory_order_release); }

void Clock::Reset() {
  g_fixed.store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_release);
}

}  // namespace platform
