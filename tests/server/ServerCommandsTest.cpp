// The host's commands against a real PostgreSQL server (PgCluster), run as
// the real `ordalis` binary: copying an installation between a file and a
// server, the demo written straight into a server, the forms a --dsn option
// takes, and what a user sees when the server is missing or goes away.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../data/PgCluster.h"

namespace ordalis::testing {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;  // stdout and stderr
};

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

Result Ordalis(const std::string& args) {
  std::string command = std::string(ORDALIS_BINARY) + " " + args + " 2>&1";
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Every row of a table of an SQLite file, as text, ordered by its first
// column; the columns named in `skip` left out.
std::vector<std::string> Rows(const std::string& file, const std::string& table,
                              const std::vector<std::string>& skip = {}) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, ("SELECT * FROM " + table + " ORDER BY 1").c_str(), -1, &st, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  std::vector<std::string> rows;
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      std::string name = sqlite3_column_name(st, i);
      bool skipped = false;
      for (const std::string& s : skip) skipped = skipped || strcasecmp(s.c_str(), name.c_str()) == 0;
      if (skipped) continue;
      const unsigned char* text = sqlite3_column_text(st, i);
      // Numbers compare as numbers (a copy may turn 5 into 5.0).
      if (sqlite3_column_type(st, i) == SQLITE_FLOAT || sqlite3_column_type(st, i) == SQLITE_INTEGER) {
        char number[64];
        std::snprintf(number, sizeof number, "%.4f", sqlite3_column_double(st, i));
        row += name + "=" + number + "|";
      } else {
        row += name + "=" + (text ? reinterpret_cast<const char*>(text) : "NULL") + "|";
      }
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

class ServerCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    PgCluster& cluster = PgCluster::Instance();
    database_ = cluster.CreateDatabase();
    connect_ = cluster.ConnectString(database_);
    dir_ = fs::temp_directory_path() / ("ordalis-server-" + std::to_string(::getpid()) + "-" + database_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Dir(const std::string& name) const { return (dir_ / name).string(); }

  std::string database_, connect_;
  fs::path dir_;
};

TEST_F(ServerCommands, DemoRatedOnTheServerMatchesTheDemoRatedInAFile) {
  // The same demo rated in a file, and written into the server and rated
  // there; the server's rows copied back into a new file.
  Result file = Ordalis("demo --calls 1500 --dir " + Dir("file"));
  ASSERT_EQ(file.status, 0) << file.out;
  Result server = Ordalis("demo --calls 1500 --dir " + Dir("server") + " --dsn " + Quote(connect_));
  ASSERT_EQ(server.status, 0) << server.out;
  EXPECT_NE(server.out.find("rows copied"), std::string::npos) << server.out;
  EXPECT_NE(server.out.find("calls rated: 1"), std::string::npos) << server.out;
  Result back = Ordalis("copy --from-dsn " + Quote(connect_) + " --to-db " + Dir("back.mdb"));
  ASSERT_EQ(back.status, 0) << back.out;

  const std::string rated = Dir("file") + "/ordalis.db";
  ASSERT_TRUE(fs::exists(rated)) << "the demo's database file is named differently";
  for (const char* table : {"CHIAMATE", "CHIAMATEINTERNE", "Derivati", "Rubrica", "Swing"}) {
    std::vector<std::string> expected = Rows(rated, table), got = Rows(Dir("back.mdb"), table);
    ASSERT_EQ(got.size(), expected.size()) << table;
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << table << " row " << i;
  }
  EXPECT_GT(Rows(rated, "CHIAMATE").size(), 1000u);

  // Into tables that hold rows nothing is copied, and the tables are named.
  Result again = Ordalis("copy --from-db " + rated + " --to-dsn " + Quote(connect_));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("already holds rows in CHIAMATE"), std::string::npos) << again.out;
}

TEST_F(ServerCommands, CopyToTheServerAndBackKeepsEveryTable) {
  Result demo = Ordalis("demo --calls 300 --dir " + Dir("demo"));
  ASSERT_EQ(demo.status, 0) << demo.out;
  const std::string file = Dir("demo") + "/ordalis.db";
  Result there = Ordalis("copy --from-db " + file + " --to-dsn " + Quote(connect_));
  ASSERT_EQ(there.status, 0) << there.out;
  EXPECT_NE(there.out.find("tables created: CHIAMATE, CHIAMATEINTERNE"), std::string::npos) << there.out;
  Result back = Ordalis("copy --from-dsn " + Quote(connect_) + " --to-db " + Dir("back.db"));
  ASSERT_EQ(back.status, 0) << back.out;
  for (const char* table : {"CHIAMATE", "CHIAMATEINTERNE", "Opzioni", "PrefissiInterconnessione", "Siti", "Carrier",
                            "CarrierSiti", "Derivati", "Calendario", "Rubrica", "Swing", "Commesse", "Valute",
                            "TimeZone", "Destinazioni", "GruppoDiDestinazioni"})
    EXPECT_EQ(Rows(Dir("back.db"), table), Rows(file, table)) << table;
  // Keys generated on the server come after the copied ones.
  PgCluster::Instance().Psql("INSERT INTO Siti (sCodice) VALUES ('new')", database_);
}

// A row the server refuses stops the copy with the server's reason, the
// table and the row; the rows before it are copied.
TEST_F(ServerCommands, ARowTheServerRefusesStopsTheCopyAndSaysWhy) {
  Result demo = Ordalis("demo --calls 100 --dir " + Dir("demo"));
  ASSERT_EQ(demo.status, 0) << demo.out;
  PgCluster::Instance().Psql("CREATE TABLE Valute (ID integer PRIMARY KEY, sCodice varchar(20) CHECK (sCodice <> 'USD'));"
                             "ALTER TABLE Valute OWNER TO " + std::string(PgCluster::kUser),
                             database_);
  Result copy = Ordalis("copy --from-db " + Dir("demo") + "/ordalis.db --to-dsn " + Quote(connect_));
  EXPECT_EQ(copy.status, 1) << copy.out;
  EXPECT_NE(copy.out.find("Copying table Valute"), std::string::npos) << copy.out;
  EXPECT_NE(copy.out.find("valute_scodice_check"), std::string::npos) << copy.out;
  EXPECT_NE(copy.out.find("row 2 (ID 2)"), std::string::npos) << copy.out;
  Result back = Ordalis("copy --from-dsn " + Quote(connect_) + " --to-db " + Dir("back.db"));
  ASSERT_EQ(back.status, 0) << back.out;
  EXPECT_EQ(Rows(Dir("back.db"), "Valute").size(), 1u);  // the row before it
  EXPECT_EQ(Rows(Dir("back.db"), "CHIAMATE"), Rows(Dir("demo") + "/ordalis.db", "CHIAMATE"));
}

TEST_F(ServerCommands, ServerGoingAwayMidRunKeepsCommittedRowsAndARerunFinishes) {
  Result file = Ordalis("demo --calls 20000 --dir " + Dir("file"));
  ASSERT_EQ(file.status, 0) << file.out;
  Result copy = Ordalis("copy --from-db " + Dir("file") + "/ordalis.db --to-dsn " + Quote(connect_));
  ASSERT_EQ(copy.status, 0) << copy.out;
  PgCluster& cluster = PgCluster::Instance();
  for (const char* table : {"CHIAMATE", "CHIAMATEINTERNE"})
    cluster.Psql(std::string("UPDATE ") + table + " SET sGiorno_c = NULL, CCOSTO1_C = NULL, SCARRIER1_C = NULL", database_);
  const std::string process = "process --dsn " + Quote(connect_) + " --filter " + Quote("WHERE sGiorno_c IS NULL");
  ::setenv("ORDALIS_HOME", Dir("file").c_str(), 1);
  ::setenv("ORDALIS_REGISTRY", (Dir("file") + "/registry.reg").c_str(), 1);
  ASSERT_TRUE(fs::exists(Dir("file") + "/registry.reg")) << "the demo's registry file is named differently";

  // The server ends the run's session once its first rows are committed.
  std::thread stopper([&] {
    const std::string count = cluster.PsqlCommand(database_) +
                              " -At -c 'SELECT count(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL'";
    for (int i = 0; i < 600; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      FILE* in = ::popen(count.c_str(), "r");
      if (!in) continue;
      long rows = 0;
      const bool read = std::fscanf(in, "%ld", &rows) == 1;
      ::pclose(in);
      if (read && rows > 0) break;
    }
    cluster.Psql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + database_ +
                 "' AND pid <> pg_backend_pid()");
  });
  Result cut = Ordalis(process);
  stopper.join();
  EXPECT_EQ(cut.status, 1) << cut.out;
  EXPECT_NE(cut.out.find("SQLSTATE"), std::string::npos) << cut.out;
  Result back = Ordalis("copy --from-dsn " + Quote(connect_) + " --to-db " + Dir("cut.db"));
  ASSERT_EQ(back.status, 0) << back.out;
  // Each row is as the file run rated it, or as it was loaded.
  std::vector<std::string> rated = Rows(Dir("file") + "/ordalis.db", "CHIAMATE");
  std::vector<std::string> kept = Rows(Dir("cut.db"), "CHIAMATE");
  ASSERT_EQ(kept.size(), rated.size());
  std::size_t done = 0;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i] == rated[i]) ++done;
    else
      EXPECT_NE(kept[i].find("sGiorno_c=NULL|SFASCIAORARIA_C"), std::string::npos) << "row " << i << ": " << kept[i];
    if (kept[i].find("sGiorno_c=NULL|") != std::string::npos)
      EXPECT_TRUE(kept[i].find("CCOSTO1_C=NULL|") != std::string::npos &&
                  kept[i].find("SCARRIER1_C=NULL|") != std::string::npos)
          << "half-written row " << i << ": " << kept[i];
  }
  EXPECT_GT(done, 0u) << "rows committed before the server went away stay";
  EXPECT_LT(done, rated.size()) << "the run was cut short: " << cut.out;

  Result rerun = Ordalis(process);
  EXPECT_EQ(rerun.status, 0) << rerun.out;
  Result final_rows = Ordalis("copy --from-dsn " + Quote(connect_) + " --to-db " + Dir("final.db"));
  ASSERT_EQ(final_rows.status, 0) << final_rows.out;
  EXPECT_EQ(Rows(Dir("final.db"), "CHIAMATE"), rated);
}

TEST_F(ServerCommands, DsnTakesANameOrAConnectString) {
  Result demo = Ordalis("demo --calls 50 --dir " + Dir("demo") + " --dsn " + Quote(connect_));
  ASSERT_EQ(demo.status, 0) << demo.out;
  const std::size_t at = demo.out.find("calls rated: ");
  ASSERT_NE(at, std::string::npos) << demo.out;
  const std::string rated = demo.out.substr(at, demo.out.find(',', at) - at);  // as many again each time
  PgCluster& cluster = PgCluster::Instance();
  cluster.Psql("UPDATE CHIAMATE SET sGiorno_c = NULL; UPDATE CHIAMATEINTERNE SET sGiorno_c = NULL", database_);
  // The installation's folder holds the carrier files the server's tables name.
  const std::string filter = " --home " + Dir("demo") + " --filter " + Quote("WHERE sGiorno_c IS NULL");
  // A data-source name with the database and login given apart...
  Result by_name = Ordalis(std::string("process --dsn ") + PgCluster::kDsn + " --user " + PgCluster::kUser +
                           " --pwd " + Quote(PgCluster::kPassword) + filter + " --operation 1");
  // It connects to the data source's own database (postgres), which has no calls table.
  EXPECT_EQ(by_name.status, 1) << by_name.out;
  EXPECT_NE(by_name.out.find("does not exist"), std::string::npos) << by_name.out;
  // ... and full connect strings: DSN= with attributes, and Driver= without a data source.
  cluster.Psql("UPDATE CHIAMATE SET sGiorno_c = NULL; UPDATE CHIAMATEINTERNE SET sGiorno_c = NULL", database_);
  Result full = Ordalis("process --dsn " + Quote(connect_) + filter);
  EXPECT_EQ(full.status, 0) << full.out;
  EXPECT_NE(full.out.find(rated), std::string::npos) << full.out;
  cluster.Psql("UPDATE CHIAMATE SET sGiorno_c = NULL; UPDATE CHIAMATEINTERNE SET sGiorno_c = NULL", database_);
  std::string driver = "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" + std::to_string(cluster.port()) +
                       ";Database=" + database_ + ";BoolsAsChar=0;";
  Result by_driver = Ordalis("process --dsn " + Quote(driver) + " --user " + PgCluster::kUser + " --pwd " +
                             Quote(PgCluster::kPassword) + filter);
  EXPECT_EQ(by_driver.status, 0) << by_driver.out;
  EXPECT_NE(by_driver.out.find(rated), std::string::npos) << by_driver.out;
}

TEST_F(ServerCommands, MissingDataSourceAndWrongPasswordAreReported) {
  Result missing = Ordalis("process --dsn no_such_source_here");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("no_such_source_here"), std::string::npos) << missing.out;
  Result not_copied = Ordalis("copy --from-dsn no_such_source_here --to-db " + Dir("y.db"));
  EXPECT_EQ(not_copied.status, 1);
  EXPECT_NE(not_copied.out.find("Data source name not found"), std::string::npos) << not_copied.out;
  EXPECT_NE(not_copied.out.find("IM002"), std::string::npos) << not_copied.out;

  std::string wrong = std::string("DSN=") + PgCluster::kDsn + ";Database=" + database_ + ";UID=" +
                      PgCluster::kUser + ";PWD=wrong;";
  Result denied = Ordalis("copy --from-dsn " + Quote(wrong) + " --to-db " + Dir("x.mdb"));
  EXPECT_EQ(denied.status, 1);
  EXPECT_NE(denied.out.find("password authentication failed"), std::string::npos) << denied.out;
}

}  // namespace
}  // namespace ordalis::testing
