// The ordalis binary on a demo installation: what it prints from stored data
// cannot drive the terminal, and bad setup or bad rows end it with a message
// and a non-zero status.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "demo/Demo.h"

namespace ordalis {
namespace {

class HostOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("ordalis-host-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    demo_ = WriteDemoInstallation(dir_.string(), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(demo_.database.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    const std::string message = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
  }
  void AddCall(int id, const std::string& account) {
    Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
        "SCOMMESSA) VALUES (" + std::to_string(id) + ", '2024-01-02 00:00:00', '1899-12-30 10:15:00', "
        "'1899-12-30 00:02:00', '024567890', 'MI', '202', 'O', 'L1', 0, " + account + ")");
  }
  // Runs `ordalis process` on the installation (stdout and stderr together)
  // with the environment assignments given; the exit status in `status`.
  std::string Process(const std::string& env, int& status) {
    const std::string command = "ORDALIS_REGISTRY=" + demo_.registry_file + " " + env + " timeout 60 " +
                                ORDALIS_BINARY + " process --db " + demo_.database + " 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    status = WEXITSTATUS(::pclose(out));
    return text;
  }

  std::filesystem::path dir_;
  DemoInstallation demo_;
};

TEST_F(HostOutputTest, StoredControlCharactersArePrintedEscaped) {
  // An account code that would clear the screen, ring the bell and start a
  // C1 control sequence (U+009B) in a UTF-8 terminal.
  AddCall(1, "'X' || char(27) || '[2J' || char(7) || char(155) || 'é'");
  int status = -1;
  const std::string out = Process("", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("warning: Account not found, code: X\\x1b[2J\\x07\\xc2\\x9bé - MI\n"), std::string::npos) << out;
  for (char c : out) EXPECT_FALSE(c == '\x1b' || c == '\x07') << out;
}

TEST_F(HostOutputTest, UnusableRowOrRegistryEndsTheRunWithAMessage) {
  AddCall(1, "NULL");
  Sql("UPDATE CHIAMATE SET dData = '2024-13-45' WHERE lPKId = 1");
  int status = -1;
  std::string out = Process("", status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "error 13: CHIAMATE, row lPKId 1, column dData ('2024-13-45'): Type mismatch (Ordalis)\n");

  const std::string fifo = (dir_ / "registry.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  out = Process("ORDALIS_REGISTRY=" + fifo, status);  // exported after the demo's: this one holds
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "error: registry file " + fifo + ": not a regular file\n");
}

}  // namespace
}  // namespace ordalis
