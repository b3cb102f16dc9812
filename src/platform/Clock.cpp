#include "platform/Clock.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace ordalis::platform {

namespace {

SYSTEMTIME FromTm(const struct tm& t, long nanoseconds) {
  SYSTEMTIME st;
  st.wYear = static_cast<std::int16_t>(t.tm_year + 1900);
  st.wMonth = static_cast<std::int16_t>(t.tm_mon + 1);
  st.wDayOfWeek = static_cast<std::int16_t>(t.tm_wday);
  st.wDay = static_cast<std::int16_t>(t.tm_mday);
  st.wHour = static_cast<std::int16_t>(t.tm_hour);
  st.wMinute = static_cast<std::int16_t>(t.tm_min);
  // A leap second (60) is shown as the last second of the minute.
  st.wSecond = static_cast<std::int16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  st.wMilliseconds = static_cast<std::int16_t>(nanoseconds / 1000000);
  return st;
}

class RealClock final : public Clock {
 public:
  SYSTEMTIME SystemTimeUtc() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    ::gmtime_r(&ts.tv_sec, &t);
    return FromTm(t, ts.tv_nsec);
  }
  SYSTEMTIME LocalTime() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    ::localtime_r(&ts.tv_sec, &t);
    return FromTm(t, ts.tv_nsec);
  }
  std::uint64_t TickCount() override {
    auto d = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
  }
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

std::atomic<Clock*> g_test_clock{nullptr};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

Clock& CurrentClock() {
  Clock* c = g_test_clock.load(std::memory_order_acquire);
  return c != nullptr ? *c : SystemClock();
}

void SetClockForTesting(Clock* clock) { g_test_clock.store(clock, std::memory_order_release); }

DateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
  DateTime day = dt::FromDate(st.wYear, st.wMonth, st.wDay);
  double ms = ((st.wHour * 60.0 + st.wMinute) * 60.0 + st.wSecond) * 1000.0 + st.wMilliseconds;
  double fraction = ms / 86400000.0;
  // Before 1899-12-30 the fraction counts forward from midnight on a
  // negative serial: -1.25 is 1899-12-29 06:00.
  return day >= 0 ? day + fraction : day - fraction;
}

SYSTEMTIME DateTimeToSystemTime(DateTime d) {
  // Whole milliseconds since 1899-12-30 00:00 on a continuous time line.
  double whole = std::trunc(d);
  double fraction = std::fabs(d - whole);
  auto day = static_cast<std::int64_t>(whole);
  auto ms = static_cast<std::int64_t>(std::llround(fraction * 86400000.0));
  if (ms >= 86400000) {  // rounding reached the next midnight
    ms -= 86400000;
    day += 1;
  }
  DateTime midnight = dt::FromSerialAndSeconds(day, 0);
  CivilTime c = dt::ToCivil(midnight);
  SYSTEMTIME st;
  st.wYear = static_cast<std::int16_t>(c.year);
  st.wMonth = static_cast<std::int16_t>(c.month);
  st.wDay = static_cast<std::int16_t>(c.day);
  st.wDayOfWeek = static_cast<std::int16_t>(dt::Weekday(midnight) - 1);
  st.wHour = static_cast<std::int16_t>(ms / 3600000);
  st.wMinute = static_cast<std::int16_t>(ms / 60000 % 60);
  st.wSecond = static_cast<std::int16_t>(ms / 1000 % 60);
  st.wMilliseconds = static_cast<std::int16_t>(ms % 1000);
  return st;
}

}  // namespace ordalis::platform
