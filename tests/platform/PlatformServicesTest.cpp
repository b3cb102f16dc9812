// Paths, clock, memory status and the in-memory grid.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <time.h>

#include <filesystem>

#include "ordalis/ComponentError.h"
#include "ordalis/Grid.h"
#include "platform/Clock.h"
#include "platform/MemoryStatus.h"
#include "platform/Paths.h"
#include "platform/TempDir.h"

using namespace ordalis;
using namespace ordalis::platform;
using ordalis::testing::ScopedEnv;

TEST(Paths, LogPathIsTheExecutableDirectoryUnlessHomeIsSet) {
  ::unsetenv("ORDALIS_HOME");
  std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(std::filesystem::equivalent(exe, "/proc/self/exe"));
  std::string dir = LogPath();
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(dir + std::filesystem::path(exe).filename().string(), exe);
  // The tests link the engine statically: the component is the executable.
  EXPECT_EQ(ComponentDirectory(), dir);

  ScopedEnv home("ORDALIS_HOME", "/srv/ordalis");
  EXPECT_EQ(LogPath(), "/srv/ordalis/");
  EXPECT_EQ(ComponentDirectory(), "/srv/ordalis/");
  ScopedEnv home2("ORDALIS_HOME", "/srv/with-slash/");
  EXPECT_EQ(LogPath(), "/srv/with-slash/");
}

TEST(Paths, DirectoryOfCutsAfterEitherSeparator) {
  EXPECT_EQ(DirectoryOf("/a/b/host"), "/a/b/");
  EXPECT_EQ(DirectoryOf("C:\\Programs\\host.exe"), "C:\\Programs\\");
  EXPECT_EQ(DirectoryOf("host"), "");
}

namespace {

SYSTEMTIME Make(int y, int mo, int d, int h, int mi, int s, int ms) {
  SYSTEMTIME st;
  st.wYear = static_cast<std::int16_t>(y);
  st.wMonth = static_cast<std::int16_t>(mo);
  st.wDay = static_cast<std::int16_t>(d);
  st.wHour = static_cast<std::int16_t>(h);
  st.wMinute = static_cast<std::int16_t>(mi);
  st.wSecond = static_cast<std::int16_t>(s);
  st.wMilliseconds = static_cast<std::int16_t>(ms);
  return st;
}

class FixedClock : public Clock {
 public:
  SYSTEMTIME utc;
  SYSTEMTIME local;
  std::uint64_t ticks = 0;
  SYSTEMTIME SystemTimeUtc() override { return utc; }
  SYSTEMTIME LocalTime() override { return local; }
  std::uint64_t TickCount() override { return ticks; }
  void Sleep(std::uint32_t ms) override { ticks += ms; }
};

}  // namespace

TEST(Clock, SystemTimeAndDateTimeConvertBothWays) {
  struct Case {
    SYSTEMTIME st;
    int weekday;  // 0 = Sunday
  } cases[] = {
      {Make(2024, 2, 29, 23, 59, 59, 999), 4},
      {Make(1899, 12, 30, 0, 0, 0, 0), 6},
      {Make(1899, 12, 29, 6, 0, 0, 0), 5},
      {Make(1800, 1, 1, 12, 30, 15, 250), 3},
      {Make(9999, 12, 31, 23, 59, 59, 0), 5},
  };
  for (const Case& c : cases) {
    DateTime d = SystemTimeToDateTime(c.st);
    SYSTEMTIME back = DateTimeToSystemTime(d);
    SYSTEMTIME expected = c.st;
    expected.wDayOfWeek = static_cast<std::int16_t>(c.weekday);
    EXPECT_EQ(back, expected) << dt::ToIsoText(d);
  }
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime(Make(1899, 12, 29, 6, 0, 0, 0)), -1.25);
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime(Make(1900, 1, 1, 18, 0, 0, 0)), 2.75);
}

TEST(Clock, RealClockAgreesWithTheTzDatabase) {
  if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Rome")) GTEST_SKIP() << "no tz database";
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  ::setenv("TZ", "Europe/Rome", 1);
  ::tzset();
  SYSTEMTIME utc = SystemClock().SystemTimeUtc();
  SYSTEMTIME local = SystemClock().LocalTime();
  if (old) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
  ::tzset();

  std::int64_t diff = dt::ToSeconds(SystemTimeToDateTime(local)) - dt::ToSeconds(SystemTimeToDateTime(utc));
  // Rome is one hour ahead in winter, two in summer; allow for a second
  // ticking between the two reads.
  EXPECT_TRUE(std::llabs(diff - 3600) <= 1 || std::llabs(diff - 7200) <= 1) << diff;
  EXPECT_GE(utc.wYear, 2024);
  EXPECT_EQ(utc.wDayOfWeek, dt::Weekday(SystemTimeToDateTime(utc)) - 1);
}

TEST(Clock, TicksAdvanceAcrossASleepAndAFakeCanBeInstalled) {
  std::uint64_t t0 = CurrentClock().TickCount();
  CurrentClock().Sleep(20);
  EXPECT_GE(CurrentClock().TickCount() - t0, 20u);

  FixedClock fake;
  fake.utc = Make(2024, 3, 31, 0, 59, 0, 0);
  fake.local = Make(2024, 3, 31, 1, 59, 0, 0);
  SetClockForTesting(&fake);
  EXPECT_EQ(dt::ToIsoText(NowUtc()), "2024-03-31 00:59:00");
  EXPECT_EQ(dt::ToIsoText(NowLocal()), "2024-03-31 01:59:00");
  CurrentClock().Sleep(1000);
  EXPECT_EQ(CurrentClock().TickCount(), 1000u);
  SetClockForTesting(nullptr);
  EXPECT_NE(&CurrentClock(), &fake);
}

TEST(MemoryStatus, ReadsProcFieldsInBytes) {
  const char* meminfo =
      "MemTotal:       16316412 kB\n"
      "MemFree:          512000 kB\n"
      "MemAvailable:    8000000 kB\n"
      "SwapFree:              0 kB\n"
      "HugePages_Total:       7\n";
  EXPECT_EQ(ProcFieldBytes(meminfo, "MemAvailable"), 8000000ull * 1024);
  EXPECT_EQ(ProcFieldBytes(meminfo, "SwapFree"), 0u);
  EXPECT_EQ(ProcFieldBytes(meminfo, "HugePages_Total"), 7u);
  EXPECT_EQ(ProcFieldBytes(meminfo, "Mem"), std::nullopt);
  EXPECT_EQ(ProcFieldBytes("Broken: lots kB\n", "Broken"), std::nullopt);
}

TEST(MemoryStatus, LiveFiguresRespectTheAddressSpaceLimit) {
  MemoryStatus ms = QueryMemoryStatus();
  EXPECT_GT(ms.avail_phys, 0u);
  EXPECT_GT(ms.avail_virtual, 0u);
  EXPECT_LT(ms.avail_virtual, std::uint64_t{128} << 40);

  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
  struct rlimit tight = saved;
  tight.rlim_cur = std::uint64_t{64} << 40;  // 64 TiB: far above what the test maps
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < tight.rlim_cur) GTEST_SKIP();
  ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
  MemoryStatus limited = QueryMemoryStatus();
  ::setrlimit(RLIMIT_AS, &saved);
  EXPECT_LT(limited.avail_virtual, std::uint64_t{64} << 40);
  EXPECT_GT(limited.avail_virtual, std::uint64_t{63} << 40);
}

TEST(MemoryGrid, HoldsNumbersAndTextAndKeepsCellsOnResize) {
  MemoryGrid grid(2, 7);
  EXPECT_EQ(grid.Rows(), 2u);
  EXPECT_EQ(grid.Cols(), 7u);
  EXPECT_TRUE(grid.Get(1, 6).IsNull());
  grid.Set(1, 1, Variant(Money::FromRaw(12345)));
  grid.Set(1, 2, Variant("0."));
  grid.Set(0, 6, Variant(3.5));
  grid.Resize(3, 4);
  EXPECT_EQ(grid.Get(1, 1).ToMoney(), Money::FromRaw(12345));
  EXPECT_EQ(grid.Get(1, 2).ToText(), "0.");
  EXPECT_TRUE(grid.Get(2, 3).IsNull());

  Grid& g = grid;
  auto error = [&](auto f) {
    try {
      f();
    } catch (const ComponentError& e) {
      return e.Number();
    }
    return 0;
  };
  EXPECT_EQ(error([&] { g.Get(0, 6); }), 9);  // column cut by the resize
  EXPECT_EQ(error([&] { g.Set(3, 0, Variant(1)); }), 9);
}
