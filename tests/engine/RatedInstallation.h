#pragma once
// An installation rated by the real `ordalis` binary, and what its tables
// hold: for the tests that compare several processes or interrupted runs
// with one undisturbed run.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "demo/Demo.h"

namespace ordalis::testing {

// The tables a rating run writes; the identities of the statistics tables
// are left out (rows added by several processes number differently).
inline const std::vector<std::string>& RatedTables() {
  static const std::vector<std::string> tables = {"CHIAMATE", "CHIAMATEINTERNE", "Rubrica", "Swing", "Derivati"};
  return tables;
}

inline void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + text);
  }
}

// Every row of every rated table as text, per table (calls by key, the
// statistics sorted without their identity).
using TableRows = std::map<std::string, std::vector<std::string>>;
inline TableRows DumpTables(const std::string& file) {
  sqlite3* db = nullptr;
  // Read-write: a killed writer's journal is rolled back, as the next run would.
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + file);
  TableRows rows;
  for (const std::string& table : RatedTables()) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT * FROM " + table + " ORDER BY lPKId").c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db));
    const bool calls = table.rfind("CHIAMATE", 0) == 0;
    std::vector<std::string>& out = rows[table];
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (!calls && std::string(sqlite3_column_name(st, i)) == "lPKId") continue;
        const unsigned char* text = sqlite3_column_text(st, i);
        row += text ? reinterpret_cast<const char*>(text) : "<null>";
        row += '|';
      }
      out.push_back(row);
    }
    sqlite3_finalize(st);
    if (!calls) std::sort(out.begin(), out.end());
  }
  sqlite3_close(db);
  return rows;
}

// Rows of `a` not in `b` plus rows of `b` not in `a`, per table with any;
// the first few go to `examples` when given.
inline std::map<std::string, int> Differences(const TableRows& a, const TableRows& b,
                                              std::vector<std::string>* examples = nullptr) {
  std::map<std::string, int> result;
  for (const auto& [table, rows] : a) {
    const auto& other = b.at(table);
    std::multiset<std::string> left(rows.begin(), rows.end()), right(other.begin(), other.end());
    int n = 0;
    for (const auto* side : {&left, &right})
      for (const std::string& r : *side)
        if ((side == &left ? right : left).count(r) == 0) {
          ++n;
          if (examples && examples->size() < 12) examples->push_back(table + (side == &left ? " - " : " + ") + r);
        }
    if (n > 0) result[table] = n;
  }
  return result;
}

// A demo installation of `calls` calls stored in time order (as a collector
// stores them), with the unique keys that several rating processes need.
// Points ORDALIS_REGISTRY and ORDALIS_HOME at it. Returns the database file.
inline std::string WriteTimeOrderedInstallation(const std::string& dir, int calls) {
  DemoInstallation demo = WriteDemoInstallation(dir, calls);
  ::setenv("ORDALIS_REGISTRY", demo.registry_file.c_str(), 1);
  ::setenv("ORDALIS_HOME", demo.directory.c_str(), 1);
  sqlite3* db = nullptr;
  if (sqlite3_open(demo.database.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open the demo database");
  std::string columns;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('CHIAMATE') WHERE name <> 'lPKId'", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW)
    columns += std::string(columns.empty() ? "" : ",") + reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  Exec(db, "BEGIN; CREATE TEMP TABLE c AS SELECT * FROM CHIAMATE; DELETE FROM CHIAMATE; INSERT INTO CHIAMATE (" +
               columns + ") SELECT " + columns + " FROM c ORDER BY dData, DORA, lPKId; COMMIT;");
  Exec(db, "CREATE UNIQUE INDEX Derivati_sNumero_sSito ON Derivati (sNumero, sSito);"
           "CREATE UNIQUE INDEX Swing_sNumero_unique ON Swing (sNumero);");
  sqlite3_close(db);
  return demo.database;
}

// Runs the ordalis binary with `args` (output to `log`); with `kill_after`
// it is killed with SIGKILL after that long unless it ended first. Returns
// its exit status, or minus the signal that ended it.
inline int RunOrdalis(const std::vector<std::string>& args, const std::string& log,
                      std::chrono::milliseconds kill_after = std::chrono::milliseconds(-1)) {
  std::vector<char*> argv;
  // $ORDALIS_BINARY overrides the build's binary (a soak that must not see a rebuild).
  static std::string binary = std::getenv("ORDALIS_BINARY") ? std::getenv("ORDALIS_BINARY") : ORDALIS_BINARY;
  argv.push_back(binary.data());
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(log.c_str(), "a", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(126);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (kill_after.count() >= 0) {
    const auto end = std::chrono::steady_clock::now() + kill_after;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  } else {
    waitpid(pid, &status, 0);
  }
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace ordalis::testing
