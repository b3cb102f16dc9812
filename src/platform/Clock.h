#pragma once
// The clock of the machine behind one interface, so that tests can fix the
// time: GetSystemTime / GetLocalTime, the tick count and the sleep of the
// save-retry loop.
#include <cstdint>

#include "ordalis/DateTime.h"
#include "ordalis/SystemTime.h"

namespace ordalis::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Now in UTC (GetSystemTime).
  virtual SYSTEMTIME SystemTimeUtc() = 0;
  // Now in the machine's time zone, from the system tz database (GetLocalTime).
  virtual SYSTEMTIME LocalTime() = 0;
  // Milliseconds on a monotonic clock from an arbitrary start.
  virtual std::uint64_t TickCount() = 0;
  // Blocks the calling thread.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The clock in use: the real one unless a test installed another.
Clock& CurrentClock();
// Installs a clock for the whole process; null restores the real clock.
// REQUIRES: the clock outlives its installation.
void SetClockForTesting(Clock* clock);

// The real clock: clock_gettime, localtime_r, steady_clock, sleep_for.
Clock& SystemClock();

// Conversions between the record and the engine's date-time; the date-time
// keeps whole milliseconds. SystemTimeToDateTime ignores wDayOfWeek.
DateTime SystemTimeToDateTime(const SYSTEMTIME& st);
SYSTEMTIME DateTimeToSystemTime(DateTime d);

// Shorthands on the current clock.
inline DateTime NowUtc() { return SystemTimeToDateTime(CurrentClock().SystemTimeUtc()); }
inline DateTime NowLocal() { return SystemTimeToDateTime(CurrentClock().LocalTime()); }

}  // namespace ordalis::platform
