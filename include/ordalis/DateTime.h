#pragma once
// Date-time: a double counting days since 1899-12-30, the fraction being the
// time of day. Before 1899-12-30 the value is negative and its fraction still
// counts forward from midnight: -1.25 is 1899-12-29 06:00.
// All arithmetic on parts is done in whole seconds, rounded to the nearest
// second, so that float noise (119.9999 s) never loses a second.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ordalis/Export.h"

namespace ordalis {

using DateTime = double;

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

namespace dt {

inline constexpr std::int64_t kSecondsPerDay = 86400;

// The range of a date-time: 0100-01-01 00:00:00 to 9999-12-31 23:59:59.
// Every operation that takes a date-time apart (parts, seconds, text) throws
// ComponentError 6 (overflow) for a value outside it, NaN or an infinity.
inline constexpr bool InRange(DateTime d) { return d > -657435.0 && d < 2958466.0; }

// Whole days of the date (the date part as a serial, -1 for 1899-12-29).
ORDALIS_API std::int64_t DaySerial(DateTime d);
// Seconds since midnight, rounded to the nearest second (0..86399).
ORDALIS_API std::int64_t SecondOfDay(DateTime d);
// Date part and time part as date-times.
ORDALIS_API DateTime DatePart(DateTime d);
ORDALIS_API DateTime TimePart(DateTime d);

// Weekday with Sunday = 1 ... Saturday = 7.
ORDALIS_API int Weekday(DateTime d);
ORDALIS_API CivilTime ToCivil(DateTime d);
ORDALIS_API int Year(DateTime d);
ORDALIS_API int Month(DateTime d);
ORDALIS_API int Day(DateTime d);
ORDALIS_API int Hour(DateTime d);
ORDALIS_API int Minute(DateTime d);
ORDALIS_API int Second(DateTime d);

// Builds from parts. Month and day outside their range roll over as on the
// original platform (month 13 is January of the next year). Throws error 5
// for years outside 100..9999.
ORDALIS_API DateTime FromDate(int year, int month, int day);
ORDALIS_API DateTime FromTime(int hour, int minute, int second);
ORDALIS_API DateTime FromCivil(const CivilTime& c);
// Date serial and seconds of the day to a date-time (handles negative dates).
ORDALIS_API DateTime FromSerialAndSeconds(std::int64_t day_serial, std::int64_t seconds_of_day);

// Whole seconds since 1899-12-30 00:00 on a continuous time line (for
// comparing and subtracting date-times), and back.
ORDALIS_API std::int64_t ToSeconds(DateTime d);
ORDALIS_API DateTime FromSeconds(std::int64_t seconds);
// A duration held as a fraction of a day, in whole seconds (rounded);
// error 6 outside the date-time range.
ORDALIS_API std::int64_t DurationSeconds(DateTime duration);
ORDALIS_API DateTime AddMinutes(DateTime d, std::int64_t minutes);
ORDALIS_API DateTime AddSeconds(DateTime d, std::int64_t seconds);

// Text forms: "YYYY-MM-DD" without time part, "HH:MM:SS" when the date part
// is 1899-12-30, else "YYYY-MM-DD HH:MM:SS".
ORDALIS_API std::string ToText(DateTime d);
// Always "YYYY-MM-DD HH:MM:SS" (the form written into databases).
ORDALIS_API std::string ToIsoText(DateTime d);
// The same into a buffer, without allocating; returns its length.
ORDALIS_API int FormatIso(DateTime d, char (&out)[32]);
// The engine's text-to-date conversion: the three text forms and "HH:MM".
// Throws ComponentError 13 on anything else.
ORDALIS_API DateTime FromText(std::string_view text);
// Liberal reading of stored values: also "YYYY-MM-DDTHH:MM:SS", fractional
// seconds and a plain number of days. Empty when the text is none of these.
ORDALIS_API std::optional<DateTime> ParseStored(std::string_view text);

}  // namespace dt
}  // namespace ordalis
