#pragma once
// clsTimeZone: one time zone with its own daylight-saving rules, converting
// between UTC and the zone's local time without the operating system. It
// also offers the machine's clock and conversions by the machine's zone.
//
// Rules. A rule (month, day, dayOfWeek, week, hour, minute) names the local
// standard time at which daylight saving starts (DST_) or ends (STD_): in
// the month given, on the fixed day when dayOfWeek is 0; otherwise on the
// first weekday dayOfWeek (1 = Sunday .. 7 = Saturday) on or after day,
// moved on by week - 1 weeks, when day >= 1; otherwise on the week-th such
// weekday of the month (a week past the month's end means the last one).
// The change instants are compared with local STANDARD time: an end rule
// written in daylight wall time (03:00 for central Europe) therefore keeps
// daylight saving one hour longer than the zone's law.
//
// Date-times are whole seconds: conversions round to the nearest second.
// Instances are not thread-safe (the change instants of each year are
// cached on first use).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ordalis/DateTime.h"
#include "ordalis/Export.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/SystemTime.h"

namespace ordalis {

class ORDALIS_API clsTimeZone {
 public:
  // The machine's clock (milliseconds kept as a fraction of a day).
  DateTime UTCTime() const;
  DateTime LocalTime() const;
  // UTC to the machine's zone (system tz database, TZ); whole seconds.
  DateTime UTCtoLocal(DateTime tDate) const;
  // Every UTC instant that shows as tDate in the machine's zone, earliest
  // first: two inside the autumn overlap, none inside the spring gap, one
  // otherwise. Compared in whole seconds. Members have no keys.
  KeyedCollection<DateTime> LocalToUTC(DateTime tDate) const;

  // Field readers over a comma-separated text, consuming what they read.
  // ParseStr: one text field; a field starting with the quotation mark
  // U+201D (or the single byte 0x94 of Windows-1252) runs to the next such
  // mark and may hold commas. ParseInt: one integer field, empty = 0;
  // throws ComponentError 13 (type mismatch) on a non-numeric field and 6
  // (overflow) outside -32768..32767.
  static std::string ParseStr(std::string& text);
  static std::int16_t ParseInt(std::string& text);

  // Six ParseInt calls: month, day, dayOfWeek, week, hour, minute. The
  // lvalue forms consume the text they read; on a throw the fields read so
  // far keep their new values.
  void SetDST(std::string& rule);
  void SetDST(std::string&& rule) { SetDST(rule); }
  void SetSTD(std::string& rule);
  void SetSTD(std::string&& rule) { SetSTD(rule); }
  // iD, Name, Description, UTC_bias, start rule, DST_bias, end rule.
  void SetTimeZone(std::string& zone);
  void SetTimeZone(std::string&& zone) { SetTimeZone(zone); }

  // By this zone's rules. From UTC: add UTC_bias, then DST_bias when the
  // standard local time is in daylight saving. To UTC: the reverse.
  // Throw ComponentError 6 when a rule overflows 16-bit arithmetic.
  DateTime ConvertTimeToUTC(DateTime local) const;
  DateTime ConvertTimeFromUTC(DateTime utc) const;
  static void AddBias(DateTime& t, std::int32_t minutes);

  // Days of the month: February has 29 in every year divisible by 4.
  static std::int16_t GetDaysInMonth(std::int16_t month, std::int16_t year);
  // Day of date's month: the first weekday nthDayOfWeek on or after
  // dayOnOrAfter, moved on by nthWeek - 1 weeks and pulled back by whole
  // weeks into the month; 0 when nthWeek < 1. 16-bit arithmetic: throws
  // ComponentError 6 on overflow.
  static std::int16_t GetNextDayOfWeek(DateTime date, std::int16_t dayOnOrAfter, std::int16_t nthWeek,
                                       std::int16_t nthDayOfWeek);
  static std::int16_t GetNthDayOfWeek(DateTime date, std::int16_t nthWeek, std::int16_t nthDayOfWeek);
  // Whether daylight saving is in force at the local standard time t:
  // strictly after the start instant, strictly before the end instant.
  bool IsdaylightTime(DateTime t) const;

  std::string iD;
  std::string Name;
  std::string Description;

  // Minutes added to UTC to give local standard time (+60: one hour east).
  std::int16_t UTC_bias() const { return utc_bias_; }
  void set_UTC_bias(std::int16_t v) { utc_bias_ = v; }
  // Minutes added during daylight saving; 0: the zone has none.
  std::int16_t DST_bias() const { return dst_bias_; }
  void set_DST_bias(std::int16_t v) { dst_bias_ = v; }

  std::int16_t DST_month() const { return dst_.month; }
  std::int16_t DST_day() const { return dst_.day; }
  std::int16_t DST_dayOfWeek() const { return dst_.day_of_week; }
  std::int16_t DST_week() const { return dst_.week; }
  std::int16_t DST_hour() const { return dst_.hour; }
  std::int16_t DST_minute() const { return dst_.minute; }
  void set_DST_month(std::int16_t v) { dst_.month = v; Invalidate(); }
  void set_DST_day(std::int16_t v) { dst_.day = v; Invalidate(); }
  void set_DST_dayOfWeek(std::int16_t v) { dst_.day_of_week = v; Invalidate(); }
  void set_DST_week(std::int16_t v) { dst_.week = v; Invalidate(); }
  void set_DST_hour(std::int16_t v) { dst_.hour = v; Invalidate(); }
  void set_DST_minute(std::int16_t v) { dst_.minute = v; Invalidate(); }

  std::int16_t STD_month() const { return std_.month; }
  std::int16_t STD_day() const { return std_.day; }
  std::int16_t STD_dayOfWeek() const { return std_.day_of_week; }
  std::int16_t STD_week() const { return std_.week; }
  std::int16_t STD_hour() const { return std_.hour; }
  std::int16_t STD_minute() const { return std_.minute; }
  void set_STD_month(std::int16_t v) { std_.month = v; Invalidate(); }
  void set_STD_day(std::int16_t v) { std_.day = v; Invalidate(); }
  void set_STD_dayOfWeek(std::int16_t v) { std_.day_of_week = v; Invalidate(); }
  void set_STD_week(std::int16_t v) { std_.week = v; Invalidate(); }
  void set_STD_hour(std::int16_t v) { std_.hour = v; Invalidate(); }
  void set_STD_minute(std::int16_t v) { std_.minute = v; Invalidate(); }

 private:
  struct Rule {
    std::int16_t month = 0, day = 0, day_of_week = 0, week = 0, hour = 0, minute = 0;
  };
  // The change instants of one year, in whole seconds since 1899-12-30,
  // each computed the first time it is needed.
  struct YearInstants {
    std::int64_t start = 0, end = 0;
    bool has_start = false, has_end = false;
  };

  static void ReadRule(Rule& rule, std::string& text);
  // The instant of the rule in the given year (local standard seconds).
  static std::int64_t ChangeInstant(const Rule& rule, int year);
  bool IsDaylightSeconds(std::int64_t local_seconds) const;
  YearInstants* CachedYear(int year) const;
  void Invalidate() { years_.clear(); }

  std::int16_t utc_bias_ = 0, dst_bias_ = 0;
  Rule dst_, std_;
  // Years kFirstCachedYear onwards, filled lazily.
  mutable std::vector<YearInstants> years_;
};

}  // namespace ordalis
