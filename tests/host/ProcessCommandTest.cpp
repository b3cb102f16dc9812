// The `ordalis process` command as a user runs it: the real binary on a demo
// installation, its summary line set against the rows it left rated.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "demo/Demo.h"

namespace ordalis::testing {
namespace {

class ProcessCommandTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Install(int calls) {
    std::filesystem::remove_all(dir_);
    demo_ = WriteDemoInstallation(dir_.string(), calls);
    // Readers never wait for the rating run, nor the run for them.
    Count("PRAGMA journal_mode = WAL");
  }
  // First column of the first row of a query on the engine database, as a number.
  long Count(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(demo_.database.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    long value = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      value = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return value;
  }
  long RatedRows() {
    return Count(
        "SELECT (SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL) + "
        "(SELECT COUNT(*) FROM CHIAMATEINTERNE WHERE sGiorno_c IS NOT NULL)");
  }

  // Starts `ordalis process --db <database>` with more arguments; its
  // standard output and error go to a pipe read by Finish.
  void Start(const std::vector<std::string>& more) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(out[0]);
      setenv("ORDALIS_REGISTRY", demo_.registry_file.c_str(), 1);
      setenv("ORDALIS_HOME", demo_.directory.c_str(), 1);
      std::vector<std::string> args = {ORDALIS_BINARY, "process", "--db", demo_.database};
      args.insert(args.end(), more.begin(), more.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(ORDALIS_BINARY, argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  // Waits for the command; its exit status and what it printed.
  std::pair<int, std::string> Finish() {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(out_, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(out_);
    int status = 0;
    waitpid(child_, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }
  // The number after "calls rated: " in the summary, -1 without one.
  static long Reported(const std::string& summary) {
    std::size_t at = summary.find("calls rated: ");
    return at == std::string::npos ? -1 : std::atol(summary.c_str() + at + 13);
  }

  std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("ordalis-host-" + std::to_string(::getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
  DemoInstallation demo_;
  pid_t child_ = -1;
  int out_ = -1;
};

TEST_F(ProcessCommandTest, SummaryCountsTheRowsOfBothTablesWithOrWithoutCounts) {
  Install(300);
  const long total = demo_.calls + demo_.internal_calls;
  ASSERT_GT(demo_.internal_calls, 0);
  for (const char* count : {"--nocount", ""}) {
    Start(*count ? std::vector<std::string>{count} : std::vector<std::string>{});
    auto [status, out] = Finish();
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(Reported(out), total) << count << ": " << out;
    EXPECT_EQ(out.find("interrupted"), std::string::npos);
  }
  EXPECT_EQ(RatedRows(), total);
}

// Totals written back at the end that the database refuses are told; the
// calls are rated all the same.
TEST_F(ProcessCommandTest, StatisticsTheDatabaseRefusesAreTold) {
  Install(60);
  Count("CREATE TRIGGER frozen BEFORE UPDATE ON Rubrica BEGIN SELECT RAISE(ABORT, 'counts are frozen'); END");
  const std::string counted = "SELECT SUM(lTotaleSelezioniO + lTotaleSelezioniI) FROM Rubrica";
  const long before = Count(counted);
  Start({"--batch-update"});
  auto [status, out] = Finish();
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("warning: the call counts of some phone-book entries could not be written to table Rubrica"),
            std::string::npos)
      << out;
  EXPECT_EQ(RatedRows(), demo_.calls + demo_.internal_calls);
  EXPECT_EQ(Count(counted), before);
}

TEST_F(ProcessCommandTest, ControlCReportsTheInterruptionAndTheRowsSaved) {
  Install(20000);
  Start({});
  // Interrupt once the run is under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (RatedRows() < 50 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(child_, SIGINT);
  auto [status, out] = Finish();
  EXPECT_EQ(status, 130) << out;
  EXPECT_NE(out.find(", interrupted\n"), std::string::npos) << out;
  const long rated = RatedRows();
  EXPECT_LT(rated, demo_.calls + demo_.internal_calls) << "the run ended before the interruption";
  EXPECT_EQ(Reported(out), rated) << out;
}

}  // namespace
}  // namespace ordalis::testing
