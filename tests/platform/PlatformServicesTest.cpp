// Paths, date conversions of the clock, /proc parsing.
#include <gtest/gtest.h>

#include <filesystem>

#include "ordalis/ComponentError.h"
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

}  // namespace

TEST(Clock, SystemTimeAndDateTimeConvertBothWays) {
  // Leap day at the last millisecond, the epoch, the day before it (negative
  // serial), and the last representable second; wDayOfWeek is recomputed.
  struct Case {
    SYSTEMTIME st;
    int weekday;  // 0 = Sunday
  } cases[] = {{Make(2024, 2, 29, 23, 59, 59, 999), 4},
               {Make(1899, 12, 30, 0, 0, 0, 0), 6},
               {Make(1899, 12, 29, 6, 0, 0, 0), 5},
               {Make(9999, 12, 31, 23, 59, 59, 0), 5}};
  for (const Case& c : cases) {
    SYSTEMTIME expected = c.st;
    expected.wDayOfWeek = static_cast<std::int16_t>(c.weekday);
    EXPECT_EQ(DateTimeToSystemTime(SystemTimeToDateTime(c.st)), expected) << c.st.wYear;
  }
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime(Make(1899, 12, 29, 6, 0, 0, 0)), -1.25);
}

TEST(MemoryStatus, ReadsProcFieldsInBytes) {
  const char* meminfo = "MemAvailable:    8000000 kB\nSwapFree:              0 kB\nHugePages_Total:       7\n";
  EXPECT_EQ(ProcFieldBytes(meminfo, "MemAvailable"), 8000000ull * 1024);
  EXPECT_EQ(ProcFieldBytes(meminfo, "SwapFree"), 0u);
  EXPECT_EQ(ProcFieldBytes(meminfo, "HugePages_Total"), 7u);
  EXPECT_EQ(ProcFieldBytes(meminfo, "Mem"), std::nullopt);
  EXPECT_EQ(ProcFieldBytes("Broken: lots kB\n", "Broken"), std::nullopt);
}

