// Clock is where "now" and "today" come from, so tests can fix the time.
// Fix() holds the clock at a moment for every thread until Reset(); the
// ScopedFixedClock guard does both.
//
// Thread-safety: Now/Today from any thread; Fix/Reset from tests only.
#pragma once

#include "platform/core/date.h"

namespace platform {

class Clock {
 public:
  static Date Now();    // local time, to the second
  static Date Today();  // Now() at midnight
  static void Fix(Date moment);
  static void Reset();
};

class ScopedFixedClock {
 public:
  explicit ScopedFixedClock(Date moment) { Clock::Fix(moment); }
  ~ScopedFixedClock() { Clock::Reset(); }
  ScopedFixedClock(const ScopedFixedClock&) = delete;
  ScopedFixedClock& operator=(const ScopedFixedClock&) = delete;
};

}  // namespace platform
