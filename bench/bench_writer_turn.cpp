// Another writer during a batch run: a second process inserts one call
// every 10 ms through the sqlite3 library (with sqlite's own busy timeout,
// as a collector would) while the engine rates the demo installation's
// calls. Prints, per journal mode, the longest and the 99th-percentile wait
// of an insert, and the run's rate with the writer against the same run
// alone in the same process (the cost of giving way).
//
// Usage: bench_writer_turn [calls]   (or ORDALIS_BENCH_CALLS; default 200000)
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "demo/Demo.h"
#include "ordalis/clsChiamate.h"

using namespace ordalis;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t g_stop = 0;
void OnTerm(int) { g_stop = 1; }

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql, err ? err : "?");
    std::exit(1);
  }
}

// The writer: inserts a call every 10 ms until SIGTERM, then writes the
// wait of each insert (microseconds) to `out`.
[[noreturn]] void Writer(const std::string& path, int out) {
  signal(SIGTERM, OnTerm);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) _exit(1);
  sqlite3_busy_timeout(db, 30000);
  std::vector<long> waits;
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO CHIAMATE (dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, ISTATO) VALUES "
                     "('2024-03-01 00:00:00', '1899-12-30 10:00:00', '1899-12-30 00:01:00', '0212345678', 'MI', "
                     "'200', 'O', 0)",
                     -1, &insert, nullptr);
  auto next = Clock::now();
  while (!g_stop) {
    const auto start = Clock::now();
    const int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    if (rc != SQLITE_DONE) {
      std::fprintf(stderr, "writer: %s\n", sqlite3_errmsg(db));
      _exit(1);
    }
    waits.push_back(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    next += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(std::max(next, Clock::now()));
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  const auto bytes = static_cast<long>(waits.size() * sizeof(long));
  if (write(out, waits.data(), static_cast<size_t>(bytes)) != bytes) _exit(1);
  _exit(0);
}

// Save failures the run reported (a lock it could not take in time).
struct SaveErrors : EngineEvents {
  int count = 0;
  void SaveDataError(std::int16_t&, std::string&, std::int16_t&) override { ++count; }
};

double RateSeconds(const std::string& path, int& save_errors) {
  clsChiamate engine;
  SaveErrors errors;
  engine.SetEvents(&errors);
  engine.set_TipoAggiornamento(utBatch);
  engine.Init(path);
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "%s\n", engine.Errore().c_str());
    std::exit(1);
  }
  const auto start = Clock::now();
  engine.Process();
  save_errors = errors.count;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int calls = 200000;
  if (const char* env = std::getenv("ORDALIS_BENCH_CALLS")) calls = std::atoi(env);
  if (argc > 1) calls = std::atoi(argv[1]);
  const std::string dir = fs::temp_directory_path() / ("ordalis-writer-turn-" + std::to_string(getpid()));
  DemoInstallation demo = WriteDemoInstallation(dir, calls);
  setenv("ORDALIS_REGISTRY", demo.registry_file.c_str(), 1);
  setenv("ORDALIS_HOME", demo.directory.c_str(), 1);
  const std::string base = dir + "/base.db";
  fs::copy_file(demo.database, base);

  std::printf("%-8s %8s %10s %10s %8s %12s %12s\n", "journal", "calls", "alone s", "shared s", "ratio",
              "max wait ms", "p99 wait ms");
  std::vector<const char*> modes = {"delete", "wal"};
  if (const char* only = std::getenv("ORDALIS_BENCH_JOURNAL")) modes = {only};
  for (const char* mode : modes) {
    auto fresh = [&] {
      fs::copy_file(base, demo.database, fs::copy_options::overwrite_existing);
      sqlite3* db = nullptr;
      sqlite3_open(demo.database.c_str(), &db);
      Exec(db, (std::string("PRAGMA journal_mode = ") + mode).c_str());
      sqlite3_close(db);
    };
    fresh();
    int save_errors = 0;
    const double alone = RateSeconds(demo.database, save_errors);
    fresh();
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      Writer(demo.database, fds[1]);
    }
    close(fds[1]);
    const double shared = RateSeconds(demo.database, save_errors);
    kill(child, SIGTERM);
    std::vector<long> waits;
    long buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
      waits.insert(waits.end(), buffer, buffer + n / static_cast<ssize_t>(sizeof(long)));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || waits.empty()) {
      std::fprintf(stderr, "the writer failed\n");
      return 1;
    }
    std::sort(waits.begin(), waits.end());
    const double max_ms = waits.back() / 1000.0, p99_ms = waits[waits.size() * 99 / 100] / 1000.0;
    std::printf("%-8s %8d %10.2f %10.2f %8.2f %12.1f %12.1f  (%zu inserts, %d failed saves)\n", mode, calls, alone,
                shared, alone / shared, max_ms, p99_ms, waits.size(), save_errors);
  }
  fs::remove_all(dir);
  return 0;
}
