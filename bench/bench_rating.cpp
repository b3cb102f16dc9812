// End-to-end batch rating against a plain sqlite3 loop over the same rows.
//
// bench_rating [calls [immediate]] (default 200000): writes the demo installation with
// that many stored calls and scales its reference data up to a real plan
// (20,000 destinations in every carrier file, 30 LCR entries per site,
// 2,000 extensions), rates the calls with the engine (Init, Process), then
// runs, on a copy of the file taken before the rating, a loop that reads
// every row and writes the columns a rating writes with constant values of
// the same kinds and sizes, and no rating.
// The two take turns three times; prints the best rate of each, their ratio
// and the peak memory of the process. The
// phone-book and swing statistics are written at the end of the run
// (utBatch) unless "immediate" asks for a write after each call.
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ScaledDemo.h"
#include "demo/Demo.h"
#include "ordalis/clsChiamate.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Reads every column of every call and writes the columns a rating writes,
// with constant values of the kinds and sizes a rating gives them.
long PlainLoop(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM CHIAMATE", -1, &read, nullptr);
  sqlite3_prepare_v2(db,
                     "UPDATE CHIAMATE SET sGiorno_c=?1, SFASCIAORARIA_C=?2, DTEMPOCOMP=?3, CTARIFFA_C=?4, "
                     "CCOSTO1_C=?5, CCOSTO2_C=?6, CDIFFERENZA_C=?7, RDIFFERENZAPERC_C=?8, SCARRIER1_C=?9, "
                     "SCARRIER2_C=?10, SREPARTO_C=?11, SCENTRODICOSTO_C=?11, SNOMEDERIVATO_C=?12, "
                     "STIPODESTINAZIONE_C=?13, SNOME_C=?14, SNAZIONE_C=?15, SAREA_C=?16, SESITOCHIAMATA_C='-', "
                     "sValuta=?17, dblRapportoCambio=1, sValutaRif=?17, dUTCDateTime=?18, dGatewayDateTime=?19, "
                     "sSedeFisica=?20, sNomeGruppo=?21 WHERE lPKId=?22",
                     -1, &write, nullptr);
  const char* texts[] = {"Monday", "Peak", "1899-12-30 00:00:05", nullptr, nullptr, nullptr, nullptr, nullptr,
                         "Alpha Telecom", "Beta Networks", "Sales", "User 1234", "National", "Rossi Mario",
                         "Italia", "Milano", "EUR", "2026-01-05 09:12:00", "2026-01-05 10:12:00", "Milan office",
                         "Nazionale"};
  const double amounts[] = {0.0845, 0.1234, 0.0987, -0.0247, -25.03};
  long rows = 0;
  while (sqlite3_step(read) == SQLITE_ROW) {
    int columns = sqlite3_column_count(read);
    for (int i = 0; i < columns; ++i) (void)sqlite3_column_text(read, i);
    for (int p = 1; p <= 21; ++p) {
      if (p >= 4 && p <= 8)
        sqlite3_bind_double(write, p, amounts[p - 4]);
      else
        sqlite3_bind_text(write, p, texts[p - 1], -1, SQLITE_STATIC);
    }
    sqlite3_bind_int64(write, 22, sqlite3_column_int64(read, 0));
    sqlite3_step(write);
    sqlite3_reset(write);
    if (++rows % 20000 == 0) {
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(read);
  sqlite3_finalize(write);
  sqlite3_close(db);
  return rows;
}

// User and system time of the process so far.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 200000;
  const bool immediate = argc > 2 && std::string(argv[2]) == "immediate";
  std::string dir = (std::filesystem::temp_directory_path() / "ordalis-bench-rating").string();
  std::filesystem::remove_all(dir);
  ordalis::DemoInstallation demo = ordalis::WriteDemoInstallation(dir, calls);
  ScaleUpDemo(demo);
  const std::string unrated = demo.database + ".unrated";
  std::filesystem::copy_file(demo.database, unrated);
  ::setenv("ORDALIS_HOME", demo.directory.c_str(), 1);
  ::setenv("ORDALIS_REGISTRY", demo.registry_file.c_str(), 1);

  // The machine's speed drifts from one second to the next: the engine and
  // the plain loop take turns, each on a fresh copy of the unrated file, and
  // the best round of each is compared.
  constexpr int kRounds = 3;
  double best_engine = 0, best_cpu = 0, best_plain = 0, init_seconds = 0;
  long rated = 0, rows = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::filesystem::copy_file(unrated, demo.database, std::filesystem::copy_options::overwrite_existing);
    auto start = std::chrono::steady_clock::now();
    CallCounter events;
    ordalis::clsChiamate engine;
    engine.SetEvents(&events);
    engine.set_TipoAggiornamento(immediate ? ordalis::utImmediate : ordalis::utBatch);
    engine.Init(demo.database);
    if (!engine.Errore().empty()) {
      std::fprintf(stderr, "Init: %s\n", engine.Errore().c_str());
      return 1;
    }
    auto process = std::chrono::steady_clock::now();
    const double cpu_before = CpuSeconds();
    engine.Process();
    rated = events.done;
    const double seconds = Seconds(process);
    const double cpu = CpuSeconds() - cpu_before;
    if (round == 0 || seconds < best_engine) {
      best_engine = seconds;
      init_seconds = std::chrono::duration<double>(process - start).count();
    }
    if (round == 0 || cpu < best_cpu) best_cpu = cpu;

    const std::string plain_copy = unrated + ".plain";
    std::filesystem::copy_file(unrated, plain_copy, std::filesystem::copy_options::overwrite_existing);
    start = std::chrono::steady_clock::now();
    rows = PlainLoop(plain_copy);
    const double plain = Seconds(start);
    if (round == 0 || plain < best_plain) best_plain = plain;
    std::printf("round %d: engine %.2f s, plain loop %.2f s, ratio %.3f\n", round + 1, seconds, plain,
                (rated / seconds) / (rows / plain));
  }
  std::printf("best of %d rounds each\n", kRounds);
  std::printf("engine:     %ld calls in %.2f s = %.0f calls/s (Init and caches %.2f s more)\n", rated, best_engine,
              rated / best_engine, init_seconds);
  std::printf("engine CPU: %.2f s = %.0f calls per CPU second\n", best_cpu, rated / best_cpu);
  std::printf("plain loop: %ld rows in %.2f s = %.0f rows/s\n", rows, best_plain, rows / best_plain);
  std::printf("ratio engine/plain: %.3f\n", (rated / best_engine) / (rows / best_plain));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  std::filesystem::remove_all(dir);
  return 0;
}
