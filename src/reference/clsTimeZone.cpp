#include "ordalis/clsTimeZone.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"
#include "platform/Clock.h"

namespace ordalis {

namespace {

constexpr std::int64_t kDay = dt::kSecondsPerDay;
// Days from 1899-12-30 (serial 0) to 1970-01-01.
constexpr std::int64_t kUnixEpochSerial = 25569;
// Change instants are cached for these years; others are computed per call.
constexpr int kFirstCachedYear = 1900;
constexpr int kCachedYears = 400;

// The closing (and opening) mark of a quoted field: U+201D in UTF-8, and the
// single Windows-1252 byte of the same character.
constexpr std::string_view kQuoteUtf8 = "\xE2\x80\x9D";
constexpr std::string_view kQuote1252 = "\x94";

[[noreturn]] void Overflow() { throw ComponentError(kErrOverflow, "Overflow"); }

// 16-bit arithmetic that fails as the original Integer arithmetic did.
std::int16_t Check16(std::int32_t v) {
  if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max()) Overflow();
  return static_cast<std::int16_t>(v);
}
std::int16_t Add16(std::int16_t a, std::int16_t b) { return Check16(std::int32_t{a} + b); }
std::int16_t Sub16(std::int16_t a, std::int16_t b) { return Check16(std::int32_t{a} - b); }
std::int16_t Mul16(std::int16_t a, std::int16_t b) { return Check16(std::int32_t{a} * b); }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Proleptic Gregorian calendar on day serials (0 = 1899-12-30); the day may
// run outside the month (day 0 is the last day of the month before).
std::int64_t SerialFromCivil(std::int64_t y, int m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;  // from 1 March, day 1
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kUnixEpochSerial + (d - 1);
}

void CivilFromSerial(std::int64_t serial, int& year, int& month) {
  const std::int64_t z = serial - kUnixEpochSerial + 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Weekday of a serial, 1 = Sunday (serial 0 was a Saturday).
int WeekdayOfSerial(std::int64_t serial) { return static_cast<int>(((serial + 6) % 7 + 7) % 7) + 1; }

// The day of the month for GetNextDayOfWeek, on a year and month.
std::int16_t NextDayOfWeek(int year, int month, std::int16_t dayOnOrAfter, std::int16_t nthWeek,
                           std::int16_t nthDayOfWeek) {
  const std::int16_t n = clsTimeZone::GetDaysInMonth(static_cast<std::int16_t>(month), Check16(year));
  const auto w = static_cast<std::int16_t>(WeekdayOfSerial(SerialFromCivil(year, month, dayOnOrAfter)));
  std::int16_t d = nthDayOfWeek >= w ? Add16(dayOnOrAfter, Sub16(nthDayOfWeek, w))
                                     : Add16(Add16(dayOnOrAfter, Sub16(7, w)), nthDayOfWeek);
  if (nthWeek < 1) return 0;
  d = Add16(d, Mul16(Sub16(nthWeek, 1), 7));
  // Back by whole weeks until the day lies in the month.
  if (d > n) d = static_cast<std::int16_t>(d - ((d - n + 6) / 7) * 7);
  return d;
}

// One whole-number field: empty is 0; otherwise converted like CInt
// (blanks ignored, halves to even), 13 on text, 6 out of range.
std::int16_t FieldToInt16(const std::string& field) {
  if (field.empty()) return 0;
  const double v = std::nearbyint(Variant(field).ToDouble());
  if (!(v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max())) Overflow();
  return static_cast<std::int16_t>(v);
}

}  // namespace

DateTime clsTimeZone::UTCTime() const { return platform::NowUtc(); }

DateTime clsTimeZone::LocalTime() const { return platform::NowLocal(); }

namespace {
// Offset in seconds of the machine's zone at a UTC instant (whole seconds
// since 1899-12-30).
long MachineOffset(std::int64_t utc_seconds) {
  const time_t t = static_cast<time_t>(utc_seconds - kUnixEpochSerial * kDay);
  struct tm parts {};
  if (localtime_r(&t, &parts) == nullptr) throw ComponentError(kErrInvalidCall, "Date outside the time-zone range");
  return parts.tm_gmtoff;
}
}  // namespace

DateTime clsTimeZone::UTCtoLocal(DateTime tDate) const {
  const std::int64_t s = dt::ToSeconds(tDate);
  return dt::FromSeconds(s + MachineOffset(s));
}

KeyedCollection<DateTime> clsTimeZone::LocalToUTC(DateTime tDate) const {
  // The offsets in force within two days either side; each gives a
  // candidate, kept when it shows as tDate again.
  const std::int64_t local = dt::ToSeconds(tDate);
  std::vector<long> offsets;
  for (int d = -2; d <= 2; ++d) {
    const long o = MachineOffset(local + d * kDay);
    if (std::find(offsets.begin(), offsets.end(), o) == offsets.end()) offsets.push_back(o);
  }
  std::vector<std::int64_t> instants;
  for (long o : offsets) {
    const std::int64_t candidate = local - o;
    if (candidate + MachineOffset(candidate) == local &&
        std::find(instants.begin(), instants.end(), candidate) == instants.end())
      instants.push_back(candidate);
  }
  std::sort(instants.begin(), instants.end());
  KeyedCollection<DateTime> result;
  for (std::int64_t u : instants) result.Add(std::make_shared<DateTime>(dt::FromSeconds(u)));
  return result;
}

std::string clsTimeZone::ParseStr(std::string& text) {
  if (text.empty()) return {};
  std::string_view delimiter = ",";
  bool quoted = false;
  if (text.compare(0, kQuoteUtf8.size(), kQuoteUtf8) == 0) {
    text.erase(0, kQuoteUtf8.size());
    delimiter = kQuoteUtf8;
    quoted = true;
  } else if (text.compare(0, kQuote1252.size(), kQuote1252) == 0) {
    text.erase(0, kQuote1252.size());
    delimiter = kQuote1252;
    quoted = true;
  }
  std::string field;
  const std::size_t p = text.find(delimiter);
  if (p == std::string::npos) {
    field = std::move(text);
    text.clear();
  } else {
    field = text.substr(0, p);
    text.erase(0, p + delimiter.size());
  }
  if (quoted && !text.empty() && text.front() == ',') text.erase(0, 1);
  return field;
}

std::int16_t clsTimeZone::ParseInt(std::string& text) {
  std::string field;
  const std::size_t p = text.find(',');
  if (p == std::string::npos) {
    field = std::move(text);
    text.clear();
  } else {
    field = text.substr(0, p);
    text.erase(0, p + 1);
  }
  return FieldToInt16(field);
}

void clsTimeZone::ReadRule(Rule& rule, std::string& text) {
  rule.month = ParseInt(text);
  rule.day = ParseInt(text);
  rule.day_of_week = ParseInt(text);
  rule.week = ParseInt(text);
  rule.hour = ParseInt(text);
  rule.minute = ParseInt(text);
}

void clsTimeZone::SetDST(std::string& rule) {
  Invalidate();
  ReadRule(dst_, rule);
}

void clsTimeZone::SetSTD(std::string& rule) {
  Invalidate();
  ReadRule(std_, rule);
}

void clsTimeZone::SetTimeZone(std::string& zone) {
  iD = ParseStr(zone);
  Name = ParseStr(zone);
  Description = ParseStr(zone);
  utc_bias_ = ParseInt(zone);
  SetDST(zone);
  dst_bias_ = ParseInt(zone);
  SetSTD(zone);
}

void clsTimeZone::AddBias(DateTime& t, std::int32_t minutes) { t = dt::AddMinutes(t, minutes); }

std::int16_t clsTimeZone::GetDaysInMonth(std::int16_t month, std::int16_t year) {
  switch (month) {
    case 4: case 6: case 9: case 11: return 30;
    case 2: return year % 4 == 0 ? 29 : 28;
    default: return 31;
  }
}

std::int16_t clsTimeZone::GetNextDayOfWeek(DateTime date, std::int16_t dayOnOrAfter, std::int16_t nthWeek,
                                           std::int16_t nthDayOfWeek) {
  int year, month;
  CivilFromSerial(dt::DaySerial(date), year, month);
  return NextDayOfWeek(year, month, dayOnOrAfter, nthWeek, nthDayOfWeek);
}

std::int16_t clsTimeZone::GetNthDayOfWeek(DateTime date, std::int16_t nthWeek, std::int16_t nthDayOfWeek) {
  return GetNextDayOfWeek(date, 1, nthWeek, nthDayOfWeek);
}

std::int64_t clsTimeZone::ChangeInstant(const Rule& rule, int year) {
  std::int16_t day = rule.day;
  if (rule.day_of_week > 0) {
    if (rule.day >= 1)
      day = NextDayOfWeek(year, rule.month, rule.day, rule.week, rule.day_of_week);
    else if (rule.week > 0)
      day = NextDayOfWeek(year, rule.month, 1, rule.week, rule.day_of_week);
  }
  return SerialFromCivil(year, rule.month, day) * kDay + std::int64_t{rule.hour} * 3600 +
         std::int64_t{rule.minute} * 60;
}

clsTimeZone::YearInstants* clsTimeZone::CachedYear(int year) const {
  if (year < kFirstCachedYear || year >= kFirstCachedYear + kCachedYears) return nullptr;
  if (years_.empty()) years_.resize(kCachedYears);
  return &years_[static_cast<std::size_t>(year - kFirstCachedYear)];
}

bool clsTimeZone::IsDaylightSeconds(std::int64_t s) const {
  if (dst_bias_ == 0) return false;
  int year, m;
  CivilFromSerial(FloorDiv(s, kDay), year, m);
  if (m == dst_.month) {
    YearInstants* y = CachedYear(year);
    if (y == nullptr) return s > ChangeInstant(dst_, year);
    if (!y->has_start) {
      y->start = ChangeInstant(dst_, year);
      y->has_start = true;
    }
    return s > y->start;
  }
  if (m == std_.month) {
    YearInstants* y = CachedYear(year);
    if (y == nullptr) return s < ChangeInstant(std_, year);
    if (!y->has_end) {
      y->end = ChangeInstant(std_, year);
      y->has_end = true;
    }
    return s < y->end;
  }
  return dst_.month <= std_.month ? (dst_.month < m && m < std_.month) : (m > dst_.month || m < std_.month);
}

bool clsTimeZone::IsdaylightTime(DateTime t) const { return IsDaylightSeconds(dt::ToSeconds(t)); }

DateTime clsTimeZone::ConvertTimeFromUTC(DateTime utc) const {
  std::int64_t s = dt::ToSeconds(utc) + std::int64_t{utc_bias_} * 60;
  if (IsDaylightSeconds(s)) s += std::int64_t{dst_bias_} * 60;
  return dt::FromSeconds(s);
}

DateTime clsTimeZone::ConvertTimeToUTC(DateTime local) const {
  std::int64_t s = dt::ToSeconds(local);
  if (IsDaylightSeconds(s)) s -= std::int64_t{dst_bias_} * 60;
  return dt::FromSeconds(s - std::int64_t{utc_bias_} * 60);
}

}  // namespace ordalis
