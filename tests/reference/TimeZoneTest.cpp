// Time zones: the rule engine against the system tz database, the seams of
// each change, the machine-zone conversions, the rule and zone strings, and
// the TimeZone table cache on a SQLite file.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/SqliteFile.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "ordalis/clsTimeZone.h"
#include "ordalis/clsTimeZones.h"

namespace ordalis {
namespace {

using testing::ExecSql;
using testing::ScratchDir;

// Sets TZ for the scope and restores the previous value.
class ScopedTz {
 public:
  explicit ScopedTz(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTz() {
    if (old_)
      ::setenv("TZ", old_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) { return dt::FromCivil({y, mo, d, h, mi, s}); }
std::int64_t Sec(DateTime t) { return dt::ToSeconds(t); }

// Offset of the zone named by TZ at a UTC instant, read from the tz
// database (independently of the code under test).
long TzOffset(std::int64_t utc_seconds) {
  const time_t t = static_cast<time_t>(utc_seconds - 25569LL * 86400);
  struct tm parts {};
  localtime_r(&t, &parts);
  return parts.tm_gmtoff;
}

clsTimeZone Zone(int utc_bias, int dst_bias, const char* start, const char* end) {
  clsTimeZone z;
  z.set_UTC_bias(static_cast<std::int16_t>(utc_bias));
  z.set_DST_bias(static_cast<std::int16_t>(dst_bias));
  z.SetDST(start);
  z.SetSTD(end);
  return z;
}

clsTimeZone Rome() { return Zone(60, 60, "3,0,1,5,2,0", "10,0,1,5,3,0"); }
clsTimeZone NewYork() { return Zone(-300, 60, "3,0,1,2,2,0", "11,0,1,1,2,0"); }
clsTimeZone Sydney() { return Zone(600, 60, "10,0,1,1,2,0", "4,0,1,1,3,0"); }

// Walks every hour of [first_year, last_year] and compares the zone's
// ConvertTimeFromUTC with the tz database. The rule engine compares its
// change instants with local STANDARD time, strictly: at the start instant
// itself it is still on standard time, and the end rule (written in the
// daylight wall time at which the clocks go back) is reached one hour
// after the law's change. So exactly one hour differs at each change: the
// first hour of the tz database's new offset, for which the engine still
// shows the old offset. Any other difference fails.
void ExpectMatchesTzDatabase(const clsTimeZone& zone, const char* tz, int first_year, int last_year) {
  ScopedTz scope(tz);
  const std::int64_t from = Sec(At(first_year, 1, 1, 0, 0));
  const std::int64_t to = Sec(At(last_year + 1, 1, 1, 0, 0));
  int changes = 0, failures = 0;
  for (std::int64_t u = from; u < to; u += 3600) {
    const long law = TzOffset(u);
    const long before = TzOffset(u - 1);
    const std::int64_t engine = Sec(zone.ConvertTimeFromUTC(dt::FromSeconds(u))) - u;
    const long expected = law == before ? law : before;
    if (law != before) ++changes;
    if (engine != expected && ++failures <= 10)
      ADD_FAILURE() << tz << " at " << dt::ToIsoText(dt::FromSeconds(u)) << "Z: engine offset " << engine
                    << " s, tz database " << law << " s" << (law != before ? " (change hour)" : "");
  }
  // Two changes a year, each the one differing hour.
  EXPECT_EQ(changes, 2 * (last_year - first_year + 1)) << tz;
  EXPECT_EQ(failures, 0) << tz;
}

TEST(TimeZoneReference, CentralEuropeRulesMatchEuropeRome2000To2037) {
  ExpectMatchesTzDatabase(Rome(), "Europe/Rome", 2000, 2037);
}

TEST(TimeZoneReference, UsEasternRulesMatchAmericaNewYork2007To2037) {
  ExpectMatchesTzDatabase(NewYork(), "America/New_York", 2007, 2037);
}

TEST(TimeZoneReference, SouthernRulesMatchAustraliaSydney2009To2037) {
  ExpectMatchesTzDatabase(Sydney(), "Australia/Sydney", 2009, 2037);
}

TEST(TimeZoneReference, TheDifferingHoursAreTheChangeHours) {
  // 2021 in Rome: clocks went forward at 01:00Z on 28 March and back at
  // 01:00Z on 31 October. The rule engine shows 02:00 and 03:00 there.
  const clsTimeZone rome = Rome();
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 3, 28, 1, 0)), At(2021, 3, 28, 2, 0));
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 10, 31, 1, 0)), At(2021, 10, 31, 3, 0));
}

TEST(TimeZoneRules, LastAndNthWeekdays) {
  // Week 5 = last: 28 March and 31 October 2021 were the last Sundays.
  EXPECT_EQ(clsTimeZone::GetNthDayOfWeek(At(2021, 3, 10, 0, 0), 5, 1), 28);
  EXPECT_EQ(clsTimeZone::GetNthDayOfWeek(At(2021, 10, 1, 0, 0), 5, 1), 31);
  // February 2015 had four Sundays (1, 8, 15, 22): week 5 picks the fourth.
  EXPECT_EQ(clsTimeZone::GetNthDayOfWeek(At(2015, 2, 1, 0, 0), 5, 1), 22);
  EXPECT_EQ(clsTimeZone::GetNthDayOfWeek(At(2015, 2, 1, 0, 0), 4, 1), 22);
  // Second Sunday of March 2021, first Sunday of November 2021.
  EXPECT_EQ(clsTimeZone::GetNthDayOfWeek(At(2021, 3, 1, 0, 0), 2, 1), 14);
  EXPECT_EQ(clsTimeZone::GetNthDayOfWeek(At(2021, 11, 1, 0, 0), 1, 1), 7);
  // First Saturday on or after the 8th of May 2021 (a Saturday), one week on.
  EXPECT_EQ(clsTimeZone::GetNextDayOfWeek(At(2021, 5, 1, 0, 0), 8, 2, 7), 15);
  EXPECT_EQ(clsTimeZone::GetNextDayOfWeek(At(2021, 5, 1, 0, 0), 9, 1, 7), 15);
  EXPECT_EQ(clsTimeZone::GetNextDayOfWeek(At(2021, 5, 1, 0, 0), 9, 0, 7), 0);
}

TEST(TimeZoneRules, DaysInMonthCountsEveryFourthYearAsLeap) {
  EXPECT_EQ(clsTimeZone::GetDaysInMonth(2, 1900), 29);
  EXPECT_EQ(clsTimeZone::GetDaysInMonth(2, 2100), 29);
  EXPECT_EQ(clsTimeZone::GetDaysInMonth(2, 2023), 28);
  EXPECT_EQ(clsTimeZone::GetDaysInMonth(4, 2023), 30);
  EXPECT_EQ(clsTimeZone::GetDaysInMonth(12, 2023), 31);
}

TEST(TimeZoneRules, DaylightTimeAtTheSeams) {
  const clsTimeZone rome = Rome();
  // Start: 28 March 2021 02:00 standard time.
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 3, 28, 1, 59)));
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 3, 28, 2, 0)));
  EXPECT_TRUE(rome.IsdaylightTime(At(2021, 3, 28, 2, 1)));
  // End: 31 October 2021 03:00 standard time.
  EXPECT_TRUE(rome.IsdaylightTime(At(2021, 10, 31, 2, 59)));
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 10, 31, 3, 0)));
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 10, 31, 3, 1)));
  // Whole months inside and outside.
  EXPECT_TRUE(rome.IsdaylightTime(At(2021, 7, 1, 12, 0)));
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 1, 15, 12, 0)));
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 3, 27, 12, 0)));
  EXPECT_FALSE(rome.IsdaylightTime(At(2021, 11, 1, 0, 0)));
}

TEST(TimeZoneRules, ConversionsAroundEachChange) {
  const clsTimeZone rome = Rome();
  // Spring: the minute before, at and after the start instant (01:00Z).
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 3, 28, 0, 59)), At(2021, 3, 28, 1, 59));
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 3, 28, 1, 0)), At(2021, 3, 28, 2, 0));
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 3, 28, 1, 1)), At(2021, 3, 28, 3, 1));
  // Autumn: daylight saving runs to 02:00Z, so 03:00-03:59 shows twice.
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 10, 31, 1, 59)), At(2021, 10, 31, 3, 59));
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 10, 31, 2, 0)), At(2021, 10, 31, 3, 0));
  EXPECT_EQ(rome.ConvertTimeFromUTC(At(2021, 10, 31, 2, 1)), At(2021, 10, 31, 3, 1));
  // Back to UTC: the skipped local hour 02:xx is taken as standard time,
  // a repeated local time as daylight time only before the end instant.
  EXPECT_EQ(rome.ConvertTimeToUTC(At(2021, 3, 28, 2, 0)), At(2021, 3, 28, 1, 0));
  EXPECT_EQ(rome.ConvertTimeToUTC(At(2021, 3, 28, 2, 30)), At(2021, 3, 28, 0, 30));
  EXPECT_EQ(rome.ConvertTimeToUTC(At(2021, 10, 31, 2, 30)), At(2021, 10, 31, 0, 30));
  EXPECT_EQ(rome.ConvertTimeToUTC(At(2021, 10, 31, 3, 30)), At(2021, 10, 31, 2, 30));
  // Away from the changes the two directions are inverse.
  for (DateTime u : {At(2021, 1, 10, 8, 15, 42), At(2021, 7, 10, 23, 59, 59), At(1999, 12, 31, 23, 30)})
    EXPECT_EQ(rome.ConvertTimeToUTC(rome.ConvertTimeFromUTC(u)), u);
}

TEST(TimeZoneRules, SouthernHemisphereIsInDaylightSavingInJanuary) {
  const clsTimeZone sydney = Sydney();
  EXPECT_TRUE(sydney.IsdaylightTime(At(2022, 1, 15, 12, 0)));
  EXPECT_TRUE(sydney.IsdaylightTime(At(2021, 12, 31, 23, 0)));
  EXPECT_FALSE(sydney.IsdaylightTime(At(2022, 6, 15, 12, 0)));
  // 3 October 2021 02:00 standard starts it, 3 April 2022 03:00 standard ends it.
  EXPECT_FALSE(sydney.IsdaylightTime(At(2021, 10, 3, 2, 0)));
  EXPECT_TRUE(sydney.IsdaylightTime(At(2021, 10, 3, 2, 1)));
  EXPECT_TRUE(sydney.IsdaylightTime(At(2022, 4, 3, 2, 59)));
  EXPECT_FALSE(sydney.IsdaylightTime(At(2022, 4, 3, 3, 0)));
  EXPECT_EQ(sydney.ConvertTimeFromUTC(At(2022, 1, 15, 0, 0)), At(2022, 1, 15, 11, 0));
  EXPECT_EQ(sydney.ConvertTimeFromUTC(At(2022, 7, 15, 0, 0)), At(2022, 7, 15, 10, 0));
}

TEST(TimeZoneRules, NoDaylightBiasMeansNoDaylightSaving) {
  const clsTimeZone z = Zone(330, 0, "3,0,1,5,2,0", "10,0,1,5,3,0");
  EXPECT_FALSE(z.IsdaylightTime(At(2021, 7, 1, 12, 0)));
  EXPECT_EQ(z.ConvertTimeFromUTC(At(2021, 7, 1, 12, 0)), At(2021, 7, 1, 17, 30));
  EXPECT_EQ(z.ConvertTimeToUTC(At(2021, 7, 1, 17, 30)), At(2021, 7, 1, 12, 0));
}

TEST(TimeZoneRules, FixedDayRuleAndChangedRulesTakeEffect) {
  // Fixed days: 1 April 00:00 to 1 October 00:00.
  clsTimeZone z = Zone(0, 60, "4,1,0,0,0,0", "10,1,0,0,0,0");
  EXPECT_FALSE(z.IsdaylightTime(At(2021, 4, 1, 0, 0)));
  EXPECT_TRUE(z.IsdaylightTime(At(2021, 4, 1, 0, 1)));
  EXPECT_TRUE(z.IsdaylightTime(At(2021, 9, 30, 23, 59)));
  EXPECT_FALSE(z.IsdaylightTime(At(2021, 10, 1, 0, 0)));
  // The change instants of 2021 are cached by now; a new start day must
  // still be seen.
  z.set_DST_day(10);
  EXPECT_FALSE(z.IsdaylightTime(At(2021, 4, 5, 0, 0)));
  z.SetDST("4,20,0,0,0,0");
  EXPECT_FALSE(z.IsdaylightTime(At(2021, 4, 15, 0, 0)));
  EXPECT_TRUE(z.IsdaylightTime(At(2021, 4, 21, 0, 0)));
}

TEST(TimeZoneStrings, ParseStrAndParseInt) {
  std::string text = "a,,\xE2\x80\x9D" "b,c\xE2\x80\x9D,d";
  EXPECT_EQ(clsTimeZone::ParseStr(text), "a");
  EXPECT_EQ(clsTimeZone::ParseStr(text), "");
  EXPECT_EQ(clsTimeZone::ParseStr(text), "b,c");
  EXPECT_EQ(text, "d");
  EXPECT_EQ(clsTimeZone::ParseStr(text), "d");
  EXPECT_EQ(text, "");
  EXPECT_EQ(clsTimeZone::ParseStr(text), "");

  std::string numbers = "12,,-300, 7 ";
  EXPECT_EQ(clsTimeZone::ParseInt(numbers), 12);
  EXPECT_EQ(clsTimeZone::ParseInt(numbers), 0);
  EXPECT_EQ(clsTimeZone::ParseInt(numbers), -300);
  EXPECT_EQ(clsTimeZone::ParseInt(numbers), 7);
  EXPECT_EQ(clsTimeZone::ParseInt(numbers), 0);
}

TEST(TimeZoneStrings, ZoneStringWithQuotedFieldsHoldingCommas) {
  clsTimeZone z;
  z.SetTimeZone(
      "\xE2\x80\x9D" "W. Europe, Rome\xE2\x80\x9D,\xE2\x80\x9D" "Rome, Italy\xE2\x80\x9D,Central Europe,"
      "60,3,0,1,5,2,0,60,10,0,1,5,3,0");
  EXPECT_EQ(z.iD, "W. Europe, Rome");
  EXPECT_EQ(z.Name, "Rome, Italy");
  EXPECT_EQ(z.Description, "Central Europe");
  EXPECT_EQ(z.UTC_bias(), 60);
  EXPECT_EQ(z.DST_bias(), 60);
  EXPECT_EQ(z.DST_month(), 3);
  EXPECT_EQ(z.DST_dayOfWeek(), 1);
  EXPECT_EQ(z.DST_week(), 5);
  EXPECT_EQ(z.DST_hour(), 2);
  EXPECT_EQ(z.STD_month(), 10);
  EXPECT_EQ(z.STD_hour(), 3);
  EXPECT_EQ(z.ConvertTimeFromUTC(At(2021, 7, 1, 10, 0)), At(2021, 7, 1, 12, 0));

  // The same mark as the single Windows-1252 byte.
  clsTimeZone w;
  w.SetTimeZone("X,\x94N, M\x94,D,-300,3,0,1,2,2,0,60,11,0,1,1,2,0");
  EXPECT_EQ(w.Name, "N, M");
  EXPECT_EQ(w.Description, "D");
  EXPECT_EQ(w.UTC_bias(), -300);
  EXPECT_EQ(w.STD_month(), 11);
}

TEST(TimeZoneStrings, BadRuleStrings) {
  clsTimeZone z;
  try {
    z.SetDST("3,x,1,5,2,0");
    FAIL() << "a non-numeric field must fail";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrTypeMismatch);
  }
  // A week number beyond 16 bits fails when read.
  try {
    z.SetSTD("10,0,1,70000,3,0");
    FAIL() << "a week beyond 16 bits must fail";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrOverflow);
  }
  // A week that fits 16 bits but overflows the week arithmetic fails when
  // the change day is worked out, in the change month only.
  clsTimeZone big = Zone(60, 60, "3,0,1,5000,2,0", "10,0,1,5,3,0");
  EXPECT_TRUE(big.IsdaylightTime(At(2021, 7, 1, 0, 0)));
  try {
    big.ConvertTimeFromUTC(At(2021, 3, 15, 0, 0));
    FAIL() << "the week arithmetic must overflow";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrOverflow);
  }
}

TEST(MachineZone, LocalToUtcInTheGapTheOverlapAndOrdinaryHours) {
  ScopedTz scope("Europe/Rome");
  const clsTimeZone z;
  EXPECT_EQ(z.LocalToUTC(At(2021, 3, 28, 2, 30)).Count(), 0u);
  const auto overlap = z.LocalToUTC(At(2021, 10, 31, 2, 30));
  ASSERT_EQ(overlap.Count(), 2u);
  EXPECT_EQ(*overlap.Item(1), At(2021, 10, 31, 0, 30));
  EXPECT_EQ(*overlap.Item(2), At(2021, 10, 31, 1, 30));
  const auto ordinary = z.LocalToUTC(At(2021, 7, 1, 12, 0, 5));
  ASSERT_EQ(ordinary.Count(), 1u);
  EXPECT_EQ(*ordinary.Item(1), At(2021, 7, 1, 10, 0, 5));

  EXPECT_EQ(z.UTCtoLocal(At(2021, 10, 31, 0, 30)), At(2021, 10, 31, 2, 30));
  EXPECT_EQ(z.UTCtoLocal(At(2021, 10, 31, 1, 30)), At(2021, 10, 31, 2, 30));
  EXPECT_EQ(z.UTCtoLocal(At(2021, 1, 1, 0, 0, 1)), At(2021, 1, 1, 1, 0, 1));
}

TEST(MachineZone, SouthernZoneAndZoneWithoutDaylightSaving) {
  {
    ScopedTz scope("Australia/Sydney");
    const clsTimeZone z;
    EXPECT_EQ(z.LocalToUTC(At(2021, 10, 3, 2, 30)).Count(), 0u);
    EXPECT_EQ(z.LocalToUTC(At(2021, 4, 4, 2, 30)).Count(), 2u);
    EXPECT_EQ(z.UTCtoLocal(At(2022, 1, 1, 0, 0)), At(2022, 1, 1, 11, 0));
  }
  ScopedTz scope("UTC");
  const clsTimeZone z;
  const auto one = z.LocalToUTC(At(2021, 3, 28, 2, 30));
  ASSERT_EQ(one.Count(), 1u);
  EXPECT_EQ(*one.Item(1), At(2021, 3, 28, 2, 30));
}

class TimeZoneCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("engine.db");
    CreateEngineDatabase(path_);
  }
  clsTimeZones Load() {
    connection_ = rdo::RdoEnvironment::Default().OpenConnection("", false, false, "DBQ=" + path_ + ";");
    clsTimeZones zones(&engine_, connection_.get());
    zones.Cache();
    return zones;
  }
  void Insert(const std::string& values) {
    ExecSql(path_, "INSERT INTO TimeZone (sID, sName, sComments, iDeltaUTC, iDeltaDST, sStartDST, sStartSTD) VALUES " +
                       values);
  }

  ScratchDir dir_;
  std::string path_;
  clsChiamate engine_;
  std::unique_ptr<rdo::RdoConnection> connection_;
};

TEST_F(TimeZoneCacheTest, LoadsRowsAndFindsByExactId) {
  Insert("('CET', 'Rome', 'Central, Europe', 60, 60, '3,0,1,5,2,0', '10,0,1,5,3,0'),"
         "('EST', 'New York', NULL, -300, 60, '3,0,1,2,2,0', '11,0,1,1,2,0'),"
         "('UTC', 'Greenwich', '', 0, 0, NULL, '')");
  clsTimeZones zones = Load();
  ASSERT_EQ(zones.TimeZones().Count(), 3u);
  auto est = zones.GetTimeZone("EST");
  ASSERT_NE(est, nullptr);
  EXPECT_EQ(est->Name, "New York");
  EXPECT_EQ(est->Description, "");
  EXPECT_EQ(est->UTC_bias(), -300);
  EXPECT_EQ(est->DST_week(), 2);
  EXPECT_EQ(est->ConvertTimeFromUTC(At(2021, 7, 1, 12, 0)), At(2021, 7, 1, 8, 0));
  EXPECT_EQ(zones.GetTimeZone("CET")->Description, "Central, Europe");
  EXPECT_EQ(zones.GetTimeZone("UTC")->DST_month(), 0);
  // The id compares exactly, although the collection keys ignore case.
  EXPECT_EQ(zones.GetTimeZone("est"), nullptr);
  EXPECT_NE(zones.TimeZones().Find("est"), nullptr);
  EXPECT_EQ(zones.GetTimeZone("GMT"), nullptr);
}

TEST_F(TimeZoneCacheTest, EmptyTableGivesNoZones) {
  EXPECT_EQ(Load().TimeZones().Count(), 0u);
  EXPECT_EQ(engine_.Errore(), "");
}

TEST_F(TimeZoneCacheTest, NonNumericRuleFailsTheLoadWithTypeMismatch) {
  Insert("('A', 'a', '', 60, 60, '3,0,1,5,2,0', '10,0,1,5,3,0'), ('B', 'b', '', 60, 60, '3,0,one,5,2,0', '')");
  try {
    Load();
    FAIL() << "the load must fail";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrTypeMismatch);
  }
}

TEST_F(TimeZoneCacheTest, NullOffsetFailsTheLoad) {
  Insert("('A', 'a', '', NULL, 60, '3,0,1,5,2,0', '10,0,1,5,3,0')");
  EXPECT_THROW(Load(), ComponentError);
}

TEST_F(TimeZoneCacheTest, QuoteInIdIsAnOrdinaryValue) {
  Insert("('O''Higgins', 'x', '', -240, 0, '', ''), ('o''higgins', 'second', '', 0, 0, '', '')");
  clsTimeZones zones = Load();
  // An id repeated in another letter case keeps the first zone.
  ASSERT_EQ(zones.TimeZones().Count(), 1u);
  EXPECT_EQ(zones.GetTimeZone("O'Higgins")->Name, "x");
  EXPECT_EQ(zones.GetTimeZone("o'higgins"), nullptr);
}

}  // namespace
}  // namespace ordalis
