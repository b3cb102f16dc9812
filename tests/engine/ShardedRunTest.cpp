// Several processes rating one SQLite database (shards, --workers) against
// one process over the same installation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../platform/TempDir.h"
#include "PgInstallation.h"
#include "RatedInstallation.h"

namespace ordalis::testing {
namespace {

std::string ReadAll(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ShardedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pristine_ = WriteTimeOrderedInstallation(dir_.Dir() + "demo", 1500);
    single_ = Copy("single.db");
    ASSERT_EQ(RunOrdalis({"process", "--db", single_}, dir_.File("single.log")), 0) << ReadAll(dir_.File("single.log"));
    expected_ = DumpTables(single_);
  }
  std::string Copy(const std::string& name) {
    const std::string file = dir_.File(name);
    std::filesystem::copy_file(pristine_, file);
    return file;
  }

  void ExpectSameAsOneProcess(const std::string& db) {
    std::vector<std::string> examples;
    EXPECT_EQ(Differences(expected_, DumpTables(db), &examples), (std::map<std::string, int>{}))
        << ::testing::PrintToString(examples);
  }

  TempDir dir_;
  std::string pristine_, single_;
  TableRows expected_;
};

TEST_F(ShardedRunTest, ThreeShardsAtOnceGiveTheRowsAndStatisticsOfOneProcess) {
  const std::string db = Copy("shards.db");
  std::vector<std::thread> shards;
  std::vector<int> codes(3, -1);
  for (int k = 1; k <= 3; ++k)
    shards.emplace_back([&, k] {
      codes[k - 1] = RunOrdalis({"process", "--db", db, "--shard", std::to_string(k) + "/3"},
                                dir_.File("shard" + std::to_string(k) + ".log"));
    });
  for (auto& t : shards) t.join();
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(codes[k - 1], 0) << ReadAll(dir_.File("shard" + std::to_string(k) + ".log"));
  ExpectSameAsOneProcess(db);
  // The phone book did count calls: the comparison is not between two untouched tables.
  EXPECT_NE(Differences(expected_, DumpTables(pristine_)).count("Rubrica"), 0u);
}

TEST_F(ShardedRunTest, WorkersGiveTheRowsAndStatisticsOfOneProcessAndOneSummary) {
  const std::string db = Copy("workers.db");
  const std::string log = dir_.File("workers.log");
  ASSERT_EQ(RunOrdalis({"process", "--db", db, "--workers", "2"}, log), 0) << ReadAll(log);
  ExpectSameAsOneProcess(db);
  const std::string out = ReadAll(log);
  const int calls = static_cast<int>(expected_["CHIAMATE"].size() + expected_["CHIAMATEINTERNE"].size());
  EXPECT_NE(out.find("calls rated: " + std::to_string(calls) + ", "), std::string::npos) << out;
  EXPECT_NE(out.find("workers: 2"), std::string::npos) << out;
}

TEST_F(ShardedRunTest, AKilledWorkersShardIsCompletedByARerunWithoutCountingTwice) {
  const std::string half = Copy("half.db");
  const TableRows loaded = DumpTables(pristine_);
  ASSERT_EQ(RunOrdalis({"process", "--db", half, "--shard", "1/2"}, dir_.File("w1.log")), 0);
  // Shard 2 is killed part-way: each of its calls is rated or as loaded. How
  // far a run gets in a given time depends on the machine, so a kill that
  // came after the last call was written is tried again sooner.
  const std::string db = dir_.File("killed.db");
  int untouched = 0;
  for (int ms = 400; untouched == 0 && ms >= 25; ms /= 2) {
    std::filesystem::copy_file(half, db, std::filesystem::copy_options::overwrite_existing);
    const int code = RunOrdalis({"process", "--db", db, "--shard", "2/2"}, dir_.File("w2.log"),
                                std::chrono::milliseconds(ms));
    if (code != -SIGKILL) continue;
    const TableRows killed = DumpTables(db);
    for (std::size_t i = 0; i < killed.at("CHIAMATE").size(); ++i) {
      const std::string& row = killed.at("CHIAMATE")[i];
      EXPECT_TRUE(row == expected_.at("CHIAMATE")[i] || row == loaded.at("CHIAMATE")[i]) << "row " << i << ": " << row;
      untouched += row == loaded.at("CHIAMATE")[i];
    }
  }
  EXPECT_GT(untouched, 0) << "no kill left shard 2 anything to do";
  ASSERT_EQ(RunOrdalis({"process", "--db", db, "--shard", "2/2"}, dir_.File("w2.log")), 0)
      << ReadAll(dir_.File("w2.log"));
  ExpectSameAsOneProcess(db);
}

TEST(ShardOptions, BadShardsAndWorkerCountsAreUsageErrors) {
  TempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{{"--shard", "3/2"},
                                                                 {"--shard", "0/0"},
                                                                 {"--shard", "1/x"},
                                                                 {"--workers", "0"},
                                                                 {"--workers", "-1"},
                                                                 {"--workers", "2", "--shard", "1/2"}}) {
    std::vector<std::string> command = {"process", "--db", dir.File("none.db")};
    command.insert(command.end(), args.begin(), args.end());
    const std::string log = dir.File("usage.log");
    std::filesystem::remove(log);
    EXPECT_EQ(RunOrdalis(command, log), 2) << args[1];
    const std::string out = ReadAll(log);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(out.rfind("error: ", 0), 0u) << out;
  }
}

TEST(ShardOptions, WorkersThatFailMakeTheRunFailAndAreNamed) {
  TempDir dir;
  const std::string log = dir.File("workers.log");
  EXPECT_EQ(RunOrdalis({"process", "--db", dir.File("missing.db"), "--workers", "2"}, log), 1);
  const std::string out = ReadAll(log);
  EXPECT_NE(out.find("worker 1/2"), std::string::npos) << out;
  EXPECT_NE(out.find("worker 2/2"), std::string::npos) << out;
  EXPECT_NE(out.find("calls rated: 0"), std::string::npos) << out;
}

// The same on a PostgreSQL server: one process, three shards at once and
// two workers, each on its own copy of the installation.
TEST(ShardedPostgresRunTest, ShardsAndWorkersGiveTheRowsAndStatisticsOfOneProcess) {
  TempDir dir;
  const std::string file = WriteTimeOrderedInstallation(dir.Dir() + "demo", 800);
  PgCluster& pg = PgCluster::Instance();
  const auto process = [&](const std::string& database, std::vector<std::string> extra, const std::string& log,
                           bool by_driver = false) {
    std::vector<std::string> args = {"process"};
    for (const std::string& a : by_driver ? DriverArguments(pg, database) : PostgresArguments(pg, database))
      args.push_back(a);
    args.insert(args.end(), extra.begin(), extra.end());
    return RunOrdalis(args, dir.File(log));
  };
  const std::string single = CopyToPostgres(pg, file, dir.Dir());
  {
    // This one reaches the server through a connect string that names the
    // driver, on a machine where no data source is defined.
    std::filesystem::copy_file(std::string(std::getenv("ODBCSYSINI")) + "/odbcinst.ini", dir.File("odbcinst.ini"));
    std::ofstream(dir.File("odbc.ini")).close();
    ScopedEnv system_ini("ODBCSYSINI", dir.Dir());
    ScopedEnv user_ini("ODBCINI", dir.File("odbc.ini"));
    ASSERT_EQ(process(single, {}, "single.log", true), 0) << ReadAll(dir.File("single.log"));
  }
  const TableRows expected = DumpPostgres(pg, single);
  EXPECT_NE(Differences(expected, DumpPostgres(pg, CopyToPostgres(pg, file, dir.Dir()))).count("Rubrica"), 0u);

  const std::string sharded = CopyToPostgres(pg, file, dir.Dir());
  std::vector<std::thread> shards;
  std::vector<int> codes(3, -1);
  for (int k = 1; k <= 3; ++k)
    shards.emplace_back([&, k] {
      codes[k - 1] = process(sharded, {"--shard", std::to_string(k) + "/3"}, "shard" + std::to_string(k) + ".log");
    });
  for (auto& t : shards) t.join();
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(codes[k - 1], 0) << ReadAll(dir.File("shard" + std::to_string(k) + ".log"));
  std::vector<std::string> examples;
  EXPECT_EQ(Differences(expected, DumpPostgres(pg, sharded), &examples), (std::map<std::string, int>{}))
      << ::testing::PrintToString(examples);

  const std::string workers = CopyToPostgres(pg, file, dir.Dir());
  ASSERT_EQ(process(workers, {"--workers", "2"}, "workers.log"), 0) << ReadAll(dir.File("workers.log"));
  examples.clear();
  EXPECT_EQ(Differences(expected, DumpPostgres(pg, workers), &examples), (std::map<std::string, int>{}))
      << ::testing::PrintToString(examples);

  // A worker killed part-way: its calls are rated or as loaded, and a rerun
  // of its shard completes it without counting a call twice.
  const std::string killed = CopyToPostgres(pg, file, dir.Dir());
  const TableRows loaded = DumpPostgres(pg, killed);
  ASSERT_EQ(process(killed, {"--shard", "1/2"}, "w1.log"), 0) << ReadAll(dir.File("w1.log"));
  std::vector<std::string> args = {"process", "--shard", "2/2"};
  for (const std::string& a : PostgresArguments(pg, killed)) args.push_back(a);
  // A sharded run on a server commits each call, so the kill may also land
  // after its last call, while it writes the statistics back.
  RunOrdalis(args, dir.File("w2.log"), std::chrono::milliseconds(1500));
  const TableRows part = DumpPostgres(pg, killed);
  for (std::size_t i = 0; i < part.at("CHIAMATE").size(); ++i) {
    const std::string& row = part.at("CHIAMATE")[i];
    EXPECT_TRUE(row == expected.at("CHIAMATE")[i] || row == loaded.at("CHIAMATE")[i]) << "row " << i << ": " << row;
  }
  ASSERT_EQ(process(killed, {"--shard", "2/2"}, "w2.log"), 0) << ReadAll(dir.File("w2.log"));
  examples.clear();
  EXPECT_EQ(Differences(expected, DumpPostgres(pg, killed), &examples), (std::map<std::string, int>{}))
      << ::testing::PrintToString(examples);
}

}  // namespace
}  // namespace ordalis::testing
