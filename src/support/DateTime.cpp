#include "ordalis/DateTime.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "ordalis/ComponentError.h"

namespace ordalis::dt {
namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr std::int64_t kSerialOfUnixEpoch = 25569;  // 1970-01-01

// Splits a date-time into its date serial and its rounded second of the day;
// a time that rounds up to midnight moves to the next day.
void Split(DateTime d, std::int64_t& serial, std::int64_t& seconds) {
  if (!InRange(d)) throw ComponentError(kErrOverflow, "Overflow");
  // Truncation and rounding by integer conversion: dates lie far inside the
  // range where both are exact, and this runs for every date of every call.
  serial = static_cast<std::int64_t>(d);
  const double x = std::fabs(d - static_cast<double>(serial)) * kSecondsPerDay;
  seconds = static_cast<std::int64_t>(x);
  if (x - static_cast<double>(seconds) >= 0.5) ++seconds;  // halves away from zero
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    // Forward in time: for negative dates the serial moves towards zero.
    serial += 1;
  }
  // A negative value with no whole part (-0.25) is still 1899-12-30 06:00
  // on the original platform.
}

bool ParseInt(std::string_view s, int& out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool ParseDatePart(std::string_view s, int& y, int& m, int& d) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  if (!ParseInt(s.substr(0, 4), y) || !ParseInt(s.substr(5, 2), m) || !ParseInt(s.substr(8, 2), d)) return false;
  if (y < 100 || m < 1 || m > 12 || d < 1) return false;  // years 0..99 are outside the calendar
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int max = kDays[m - 1] - (m == 2 && !leap ? 1 : 0);
  return d <= max;
}

// "HH:MM", "HH:MM:SS", and with allow_fraction "HH:MM:SS.fff".
bool ParseTimePart(std::string_view s, bool allow_fraction, double& seconds_of_day) {
  int h, mi, sec = 0;
  double frac = 0;
  if (s.size() < 5 || s[2] != ':') return false;
  if (!ParseInt(s.substr(0, 2), h) || !ParseInt(s.substr(3, 2), mi)) return false;
  if (s.size() > 5) {
    if (s.size() < 8 || s[5] != ':' || !ParseInt(s.substr(6, 2), sec)) return false;
    if (s.size() > 8) {
      if (!allow_fraction || s[8] != '.' || s.size() == 9) return false;
      for (char c : s.substr(9))
        if (c < '0' || c > '9') return false;
      // Nine digits are more than a second's rounding needs; a longer run
      // of digits could underflow the conversion.
      frac = std::stod(std::string("0") + std::string(s.substr(8, 10)));
    }
  }
  if (h > 23 || mi > 59 || sec > 59 || h < 0 || mi < 0 || sec < 0) return false;
  seconds_of_day = h * 3600.0 + mi * 60.0 + sec + frac;
  return true;
}

std::optional<DateTime> Parse(std::string_view text, bool liberal) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  int y, m, d;
  double secs;
  if (text.size() == 10 && ParseDatePart(text, y, m, d)) return FromDate(y, m, d);
  if (text.size() <= 8 + (liberal ? 10 : 0) && text.size() >= 5 && text[2] == ':') {
    if (!liberal && text.size() != 5 && text.size() != 8) return std::nullopt;
    if (ParseTimePart(text, liberal, secs)) return secs / kSecondsPerDay;
    return std::nullopt;
  }
  if (text.size() >= 16 && (text[10] == ' ' || (liberal && text[10] == 'T')) &&
      ParseDatePart(text.substr(0, 10), y, m, d)) {
    std::string_view t = text.substr(11);
    if (!liberal && t.size() != 8 && t.size() != 5) return std::nullopt;
    if (!ParseTimePart(t, liberal, secs)) return std::nullopt;
    std::int64_t serial = static_cast<std::int64_t>(FromDate(y, m, d));
    if (serial >= 0) return serial + secs / kSecondsPerDay;
    return serial - secs / kSecondsPerDay;
  }
  if (liberal && !text.empty()) {
    double v;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(v)) return v;
  }
  return std::nullopt;
}

}  // namespace

std::int64_t DaySerial(DateTime d) {
  std::int64_t serial, secs;
  Split(d, serial, secs);
  return serial;
}

std::int64_t SecondOfDay(DateTime d) {
  std::int64_t serial, secs;
  Split(d, serial, secs);
  return secs;
}

DateTime DatePart(DateTime d) { return static_cast<double>(DaySerial(d)); }
DateTime TimePart(DateTime d) { return static_cast<double>(SecondOfDay(d)) / kSecondsPerDay; }

int Weekday(DateTime d) {
  std::int64_t serial = DaySerial(d);
  // Serial 0 (1899-12-30) was a Saturday.
  return static_cast<int>(((serial + 6) % 7 + 7) % 7) + 1;
}

CivilTime ToCivil(DateTime d) {
  std::int64_t serial, secs;
  Split(d, serial, secs);
  CivilTime c;
  CivilFromDays(serial - kSerialOfUnixEpoch, c.year, c.month, c.day);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  c.second = static_cast<int>(secs % 60);
  return c;
}

int Year(DateTime d) { return ToCivil(d).year; }
int Month(DateTime d) { return ToCivil(d).month; }
int Day(DateTime d) { return ToCivil(d).day; }
int Hour(DateTime d) { return static_cast<int>(SecondOfDay(d) / 3600); }
int Minute(DateTime d) { return static_cast<int>(SecondOfDay(d) / 60 % 60); }
int Second(DateTime d) { return static_cast<int>(SecondOfDay(d) % 60); }

DateTime FromDate(int year, int month, int day) {
  // Months roll over into years, days into months, as DateSerial does.
  std::int64_t y = year + static_cast<std::int64_t>(std::floor((month - 1) / 12.0));
  int m = ((month - 1) % 12 + 12) % 12 + 1;
  if (y < 100 || y > 9999) throw ComponentError(kErrInvalidCall, "Invalid procedure call or argument");
  const DateTime d = static_cast<double>(DaysFromCivil(y, m, 1) + (std::int64_t{day} - 1) + kSerialOfUnixEpoch);
  if (!InRange(d)) throw ComponentError(kErrInvalidCall, "Invalid procedure call or argument");
  return d;
}

DateTime FromTime(int hour, int minute, int second) {
  std::int64_t s = hour * 3600LL + minute * 60LL + second;
  return static_cast<double>(s) / kSecondsPerDay;
}

DateTime FromSerialAndSeconds(std::int64_t serial, std::int64_t seconds_of_day) {
  double t = static_cast<double>(seconds_of_day) / kSecondsPerDay;
  return serial >= 0 ? serial + t : serial - t;
}

DateTime FromCivil(const CivilTime& c) {
  return FromSerialAndSeconds(static_cast<std::int64_t>(FromDate(c.year, c.month, c.day)),
                              c.hour * 3600LL + c.minute * 60LL + c.second);
}

std::int64_t ToSeconds(DateTime d) {
  std::int64_t serial, secs;
  Split(d, serial, secs);
  return serial * kSecondsPerDay + secs;
}

DateTime FromSeconds(std::int64_t seconds) {
  std::int64_t serial = seconds / kSecondsPerDay, rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    --serial;
    rest += kSecondsPerDay;
  }
  return FromSerialAndSeconds(serial, rest);
}

std::int64_t DurationSeconds(DateTime duration) {
  if (!InRange(duration)) throw ComponentError(kErrOverflow, "Overflow");
  return std::llround(duration * kSecondsPerDay);
}

DateTime AddSeconds(DateTime d, std::int64_t seconds) {
  std::int64_t s;
  if (__builtin_add_overflow(ToSeconds(d), seconds, &s)) throw ComponentError(kErrOverflow, "Overflow");
  return FromSeconds(s);
}
DateTime AddMinutes(DateTime d, std::int64_t minutes) {
  std::int64_t s;
  if (__builtin_mul_overflow(minutes, std::int64_t{60}, &s)) throw ComponentError(kErrOverflow, "Overflow");
  return AddSeconds(d, s);
}

int FormatIso(DateTime d, char (&out)[32]) {
  CivilTime c = ToCivil(d);
  if (c.year < 0 || c.year > 9999)
    return std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                         c.second);
  auto two = [](char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
  };
  two(out, c.year / 100);
  two(out + 2, c.year % 100);
  out[4] = '-';
  two(out + 5, c.month);
  out[7] = '-';
  two(out + 8, c.day);
  out[10] = ' ';
  two(out + 11, c.hour);
  out[13] = ':';
  two(out + 14, c.minute);
  out[16] = ':';
  two(out + 17, c.second);
  out[19] = '\0';
  return 19;
}

std::string ToIsoText(DateTime d) {
  char buf[32];
  return std::string(buf, static_cast<std::size_t>(FormatIso(d, buf)));
}

std::string ToText(DateTime d) {
  std::int64_t serial, secs;
  Split(d, serial, secs);
  std::string iso = ToIsoText(d);
  if (serial == 0) return iso.substr(11);
  if (secs == 0) return iso.substr(0, 10);
  return iso;
}

DateTime FromText(std::string_view text) {
  if (auto v = Parse(text, false)) return *v;
  throw ComponentError(kErrTypeMismatch, "Type mismatch");
}

std::optional<DateTime> ParseStored(std::string_view text) { return Parse(text, true); }

}  // namespace ordalis::dt
