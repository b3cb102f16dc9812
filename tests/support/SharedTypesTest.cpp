#include <gtest/gtest.h>

#include <limits>

#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/Money.h"
#include "ordalis/Variant.h"
#include "support/StringTable.h"

using namespace ordalis;

namespace {

template <class F>
std::int32_t ErrorNumber(F&& f) {
  try {
    f();
  } catch (const ComponentError& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace

TEST(Money, RoundsHalvesToEvenOnTheDecimal) {
  EXPECT_EQ(Money::FromDouble(0.00005).Raw(), 0);
  EXPECT_EQ(Money::FromDouble(0.00015).Raw(), 2);
  EXPECT_EQ(Money::FromDouble(0.00025).Raw(), 2);
  EXPECT_EQ(Money::FromDouble(0.00035).Raw(), 4);
  EXPECT_EQ(Money::FromDouble(1.00005).Raw(), 10000);
  EXPECT_EQ(Money::FromDouble(2.12345).Raw(), 21234);
  EXPECT_EQ(Money::FromDouble(2.12355).Raw(), 21236);
  EXPECT_EQ(Money::FromDouble(-0.00015).Raw(), -2);
  EXPECT_EQ(Money::FromDouble(-0.00025).Raw(), -2);
  EXPECT_EQ(Money::FromDouble(0.000051).Raw(), 1);
  EXPECT_EQ(Money::FromDouble(0.000049).Raw(), 0);
  EXPECT_EQ(Money::FromDouble(0.1 + 0.2).Raw(), 3000);
}

TEST(Money, OverflowIsErrorSix) {
  Money max = Money::FromRaw(std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(max.ToText(), "922337203685477.5807");
  EXPECT_EQ(Money::FromRaw(std::numeric_limits<std::int64_t>::min()).ToText(), "-922337203685477.5808");
  EXPECT_EQ(ErrorNumber([&] { (void)(max + Money::FromRaw(1)); }), kErrOverflow);
  EXPECT_EQ(ErrorNumber([&] { (void)(-max - Money::FromRaw(2)); }), kErrOverflow);
  EXPECT_EQ(ErrorNumber([&] { (void)Money::FromDouble(1e15); }), kErrOverflow);
  EXPECT_EQ(ErrorNumber([&] { (void)Money::FromDouble(std::numeric_limits<double>::quiet_NaN()); }), kErrOverflow);
  EXPECT_EQ(ErrorNumber([&] { (void)(max * 2.0); }), kErrOverflow);
  EXPECT_EQ(ErrorNumber([] { (void)Money::FromText("922337203685477.5808"); }), kErrOverflow);
  EXPECT_EQ(Money::FromText("-922337203685477.5808").Raw(), std::numeric_limits<std::int64_t>::min());
}

TEST(Money, ArithmeticAndText) {
  Money a = Money::FromText("1.2345");
  EXPECT_EQ((a + a).ToText(), "2.469");
  EXPECT_EQ((a - a - a).ToText(), "-1.2345");
  EXPECT_EQ((a * 3).ToText(), "3.7035");
  EXPECT_EQ((Money::FromText("1") / 3).ToText(), "0.3333");
  EXPECT_EQ((Money::FromText("0.0003") / 2).ToText(), "0.0002");  // 0.00015 halves to even
  EXPECT_EQ((Money::FromText("0.0005") / 2).ToText(), "0.0002");  // 0.00025 halves to even
  EXPECT_EQ(Money::FromText(" 12.34565 ").Raw(), 123456);
  EXPECT_EQ(Money::FromText("12.34575").Raw(), 123458);
  EXPECT_EQ(Money::FromText("20").ToText(), "20");
  EXPECT_LT(Money::FromText("-0.0001"), Money());
  EXPECT_EQ(ErrorNumber([] { (void)Money::FromText("abc"); }), kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([] { (void)(Money::FromText("1") / 0); }), 11);
}

TEST(Money, ExactProductAndQuotientRoundOnceHalvesToEven) {
  const Money per_minute = Money::FromText("0.045");
  // 3 s: 0.00225 exactly, a half: to the even 0.0022 (through double the
  // product lands just above the half).
  EXPECT_EQ(per_minute.MulDiv(3, 60).ToText(), "0.0022");
  EXPECT_EQ(per_minute.MulDiv(5, 60).ToText(), "0.0038");  // 0.00375
  EXPECT_EQ(per_minute.MulDiv(195, 60).ToText(), "0.1462");  // 0.14625
  EXPECT_EQ(per_minute.MulDiv(1, 60).ToText(), "0.0008");  // 0.00075
  EXPECT_EQ((-per_minute).MulDiv(3, 60).ToText(), "-0.0022");
  EXPECT_EQ(per_minute.MulDiv(-5, 60).ToText(), "-0.0038");
  EXPECT_EQ(per_minute.MulDiv(3, -60).ToText(), "-0.0022");
  // Intermediates beyond 64 bits, results at the edges of the range.
  const Money max = Money::FromRaw(std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(max.MulDiv(1000000007, 1000000007), max);
  EXPECT_EQ(Money::FromRaw(std::numeric_limits<std::int64_t>::min()).MulDiv(3, 3).Raw(),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Money::FromText("300000000000.0001").MulDiv(3, 1).ToText(), "900000000000.0003");
  EXPECT_EQ(ErrorNumber([&] { (void)max.MulDiv(2, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorNumber([&] { (void)per_minute.MulDiv(1, 0); }), 11);
}

TEST(DateTime, PartsAroundMidnightAndBeforeTheEpoch) {
  EXPECT_EQ(dt::ToText(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(dt::DaySerial(-1.25), -1);
  EXPECT_EQ(dt::Hour(-1.25), 6);
  EXPECT_DOUBLE_EQ(dt::FromText("1899-12-29 06:00:00"), -1.25);
  EXPECT_DOUBLE_EQ(dt::FromCivil({1899, 12, 29, 6, 0, 0}), -1.25);
  EXPECT_EQ(dt::ToText(-2), "1899-12-28");
  EXPECT_EQ(dt::ToText(0), "00:00:00");
  EXPECT_EQ(dt::ToText(0.5), "12:00:00");
  EXPECT_EQ(dt::ToText(1), "1899-12-31");
  // Continuous seconds: 1899-12-29 06:00 is 18 hours before the epoch.
  EXPECT_EQ(dt::ToSeconds(-1.25), -18 * 3600);
  EXPECT_DOUBLE_EQ(dt::FromSeconds(-18 * 3600), -1.25);
  EXPECT_EQ(dt::ToText(dt::AddMinutes(-1.25, 60 * 18)), "00:00:00");
  // One second before midnight, and float noise that rounds onto midnight.
  DateTime d = dt::FromDate(2024, 2, 28) + 86399.0 / 86400;
  EXPECT_EQ(dt::ToText(d), "2024-02-28 23:59:59");
  EXPECT_EQ(dt::ToText(dt::AddSeconds(d, 1)), "2024-02-29");
  EXPECT_EQ(dt::ToText(dt::FromDate(2024, 2, 29) - 1e-9), "2024-02-29");
  EXPECT_EQ(dt::DurationSeconds(120.0 / 86400 - 1e-12), 120);
  EXPECT_EQ(dt::SecondOfDay(0.99999999999), 0);
  EXPECT_EQ(dt::DaySerial(0.99999999999), 1);
  // Half a second rounds away from the start of the day, on both sides of
  // the epoch; just under half rounds back.
  EXPECT_EQ(dt::SecondOfDay(0.5 / 86400), 1);
  EXPECT_EQ(dt::SecondOfDay(0.49 / 86400), 0);
  EXPECT_EQ(dt::SecondOfDay(dt::FromDate(2024, 3, 1) + 3600.5 / 86400), 3601);
  EXPECT_EQ(dt::SecondOfDay(-1.25 - 0.5 / 86400), 21601);
  EXPECT_EQ(dt::ToSeconds(-1 - 3600.49 / 86400), -86400 + 3600);  // 1899-12-29 01:00
}

TEST(DateTime, WeekdayOfKnownDates) {
  EXPECT_EQ(dt::Weekday(0), 7);                           // 1899-12-30, Saturday
  EXPECT_EQ(dt::Weekday(dt::FromDate(1899, 12, 31)), 1);  // Sunday
  EXPECT_EQ(dt::Weekday(-1.25), 6);                       // 1899-12-29, Friday
  EXPECT_EQ(dt::Weekday(dt::FromDate(2000, 1, 1)), 7);    // Saturday
  EXPECT_EQ(dt::Weekday(dt::FromDate(2026, 12, 5) + 0.75), 7);
  EXPECT_EQ(dt::Weekday(dt::FromDate(1776, 7, 4)), 5);    // Thursday
  EXPECT_DOUBLE_EQ(dt::FromDate(2000, 1, 1), 36526);
  EXPECT_DOUBLE_EQ(dt::FromDate(2024, 13, 1), dt::FromDate(2025, 1, 1));
}

TEST(DateTime, TextFormsBothWays) {
  EXPECT_DOUBLE_EQ(dt::FromText("2024-01-31"), dt::FromDate(2024, 1, 31));
  EXPECT_EQ(dt::ToText(dt::FromText("2024-01-31 13:45:07")), "2024-01-31 13:45:07");
  EXPECT_EQ(dt::ToText(dt::FromText("08:30")), "08:30:00");
  EXPECT_EQ(dt::ToText(dt::FromText("00:01:30")), "00:01:30");
  EXPECT_EQ(dt::ToIsoText(90.0 / 86400), "1899-12-30 00:01:30");
  EXPECT_EQ(dt::ToIsoText(dt::FromCivil({1800, 1, 1, 0, 0, 0})), "1800-01-01 00:00:00");
  EXPECT_EQ(dt::ToIsoText(dt::FromCivil({9999, 12, 31, 23, 59, 59})), "9999-12-31 23:59:59");
  EXPECT_EQ(dt::ToIsoText(dt::FromCivil({100, 6, 7, 8, 9, 10})), "0100-06-07 08:09:10");
  for (const char* bad : {"", "2024-02-30", "24:00:00", "2024/01/31", "12:3", "2024-01-31T10:00:00", "abc", "1.5"})
    EXPECT_EQ(ErrorNumber([&] { (void)dt::FromText(bad); }), kErrTypeMismatch) << bad;
  // Stored forms are read liberally.
  EXPECT_EQ(dt::ToText(*dt::ParseStored("2024-01-31T10:00:00")), "2024-01-31 10:00:00");
  EXPECT_EQ(dt::ToText(*dt::ParseStored("2024-01-31 10:00:00.600")), "2024-01-31 10:00:01");
  EXPECT_EQ(dt::ToText(*dt::ParseStored("2024-01-31 10:00:00." + std::string(400, '0') + "1")), "2024-01-31 10:00:00");
  EXPECT_DOUBLE_EQ(*dt::ParseStored("45000.5"), 45000.5);
  EXPECT_FALSE(dt::ParseStored("not a date"));
}

TEST(KeyedCollection, KeysIgnoreCaseForAsciiAndLatin1) {
  KeyedCollection<int> c;
  c.Add(std::make_shared<int>(1), "Milano¦A");
  c.Add(std::make_shared<int>(2), "ÉCOLE");
  c.Add(std::make_shared<int>(3));
  EXPECT_EQ(*c.Item("milano¦a"), 1);
  EXPECT_EQ(*c.Item("école"), 2);
  EXPECT_EQ(*c.Item(3), 3);
  EXPECT_EQ(ErrorNumber([&] { c.Add(std::make_shared<int>(4), "MILANO¦a"); }), kErrDuplicateKey);
  EXPECT_EQ(ErrorNumber([&] { c.Add(std::make_shared<int>(4), "École"); }), kErrDuplicateKey);
  // × (U+00D7) and ÷ (U+00F7) are not letters and stay apart.
  c.Add(std::make_shared<int>(5), "a×b");
  c.Add(std::make_shared<int>(6), "a÷b");
  EXPECT_EQ(c.Count(), 5u);
}

TEST(KeyedCollection, MissingKeyOrIndexIsErrorFive) {
  KeyedCollection<int> c;
  c.Add(std::make_shared<int>(1), "a");
  EXPECT_EQ(ErrorNumber([&] { (void)c.Item("b"); }), kErrInvalidCall);
  EXPECT_EQ(ErrorNumber([&] { (void)c.Item(0); }), kErrInvalidCall);
  EXPECT_EQ(ErrorNumber([&] { (void)c.Item(2); }), kErrInvalidCall);
  EXPECT_EQ(ErrorNumber([&] { c.Remove("b"); }), kErrInvalidCall);
  EXPECT_EQ(c.Find("B"), nullptr);
}

TEST(KeyedCollection, RemovalKeepsOrderAndFreesTheKey) {
  KeyedCollection<int> c;
  for (int i = 1; i <= 4; ++i) c.Add(std::make_shared<int>(i), "k" + std::to_string(i));
  c.Remove("K2");
  c.Remove(1);
  std::vector<int> seen;
  for (const auto& p : c) seen.push_back(*p);
  EXPECT_EQ(seen, (std::vector<int>{3, 4}));
  c.Add(std::make_shared<int>(9), "k1");
  EXPECT_EQ(*c.Item("K1"), 9);
  EXPECT_EQ(*c.Item(3), 9);
}

TEST(Variant, ConversionsFollowTheReadingRules) {
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant().ToInteger(), 0);
  EXPECT_EQ(Variant("42").ToInteger(), 42);
  EXPECT_EQ(Variant(2.5).ToInteger(), 2);
  EXPECT_EQ(Variant(3.5).ToInteger(), 4);
  EXPECT_EQ(Variant(0.1).ToText(), "0.1");
  EXPECT_EQ(Variant(-3.5).ToText(), "-3.5");
  EXPECT_EQ(Variant(static_cast<float>(-100.0 / 9)).ToText(), "-11.111111");
  EXPECT_EQ(Variant(20.0).ToText(), "20");
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_TRUE(Variant("True").ToBool());
  EXPECT_TRUE(Variant(std::int64_t{7}).ToBool());
  EXPECT_EQ(Variant("0.00025").ToMoney().Raw(), 2);
  EXPECT_EQ(Variant::FromDate(-1.25).ToText(), "1899-12-29 06:00:00");
  EXPECT_DOUBLE_EQ(Variant("2024-01-31").ToDate(), dt::FromDate(2024, 1, 31));
  EXPECT_FALSE(Variant("abc").IsNumeric());
  EXPECT_FALSE(Variant().IsNumeric());
  EXPECT_EQ(ErrorNumber([] { (void)Variant("12a").ToInteger(); }), kErrTypeMismatch);
}

TEST(StringTable, QuotedTextsKeepTheirBlanks) {
  EXPECT_EQ(LoadResString(20604), "There is no extension shown for call number:  ");
  EXPECT_EQ(LoadResString(20504), " for the carrier");
  EXPECT_EQ(LoadResString(20519), "Error during opening DSN ");
  EXPECT_EQ(LoadResString(20804), "Sun");
  EXPECT_EQ(LoadResString(23020), "TimeZone");
  EXPECT_EQ(LoadResString(1), "");
}
