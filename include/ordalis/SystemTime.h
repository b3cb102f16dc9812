#pragma once
// SYSTEMTIME: the broken-down time record the time-zone members of the public
// interface exchange with a host. Eight signed 16-bit fields; wDayOfWeek runs
// from 0 (Sunday) to 6, wMonth from 1 to 12.
#include <cstdint>

namespace ordalis {

struct SYSTEMTIME {
  std::int16_t wYear = 0;
  std::int16_t wMonth = 0;
  std::int16_t wDayOfWeek = 0;
  std::int16_t wDay = 0;
  std::int16_t wHour = 0;
  std::int16_t wMinute = 0;
  std::int16_t wSecond = 0;
  std::int16_t wMilliseconds = 0;

  friend bool operator==(const SYSTEMTIME&, const SYSTEMTIME&) = default;
};

}  // namespace ordalis
