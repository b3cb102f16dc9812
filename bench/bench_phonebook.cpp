// The phone book on an engine database of 100,000 Rubrica rows: the full
// load (ctPreload) beside a plain sqlite3 scan of the same rows, the per-use
// look-up (a miss in memory, fetched by number from the table) beside a hit
// in memory, and the end-of-run write-back of 10,000 entries (SaveAll).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "data/RdoConnection.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsNominativi.h"
#include "reference/clsNominativo.h"

using namespace ordalis;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 100000;

std::string Number(int i) { return "0" + std::to_string(200000000 + i * 7); }

struct Installation {
  std::filesystem::path dir;
  std::string db;
  std::unique_ptr<clsChiamate> engine;

  Installation() {
    dir = std::filesystem::temp_directory_path() / ("ordalis-bench-phonebook-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ::setenv("ORDALIS_HOME", dir.c_str(), 1);
    ::setenv("ORDALIS_REGISTRY", (dir / "none.reg").c_str(), 1);
    db = (dir / "calls.db").string();
    CreateEngineDatabase(db);
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       "INSERT INTO Rubrica (sNumero, sNome, sLocalita, dDataUltimaChiamataO, dOraUltimaChiamataO, "
                       "dDataUltimaChiamataI, dOraUltimaChiamataI, lTotaleSelezioniO, lTotaleSelezioniI) VALUES "
                       "(?, ?, 'Milano', '2024-03-01 00:00:00', '1899-12-30 10:15:30', NULL, NULL, ?, 0)",
                       -1, &st, nullptr);
    for (int i = 0; i < kRows; ++i) {
      std::string number = Number(i), name = "Cliente " + std::to_string(i);
      sqlite3_bind_text(st, 1, number.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st, 3, i % 50);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(h);
    engine = std::make_unique<clsChiamate>();
    engine->set_TipoDb(dbAccess);
    engine->set_Operation("10000000000000000000");
    engine->Init(db);
    if (!engine->ConnectionOpen()) {
      std::fprintf(stderr, "cannot open %s: %s\n", db.c_str(), engine->Errore().c_str());
      std::exit(1);
    }
    // The installation has no sites, which stops the engine's own load;
    // the phone book is loaded here on a clear error state.
    engine->set_Errore("");
    engine->set_CacheStopped(false);
  }
  ~Installation() {
    engine.reset();
    std::filesystem::remove_all(dir);
  }
};

Installation& Shared() {
  static Installation installation;
  return installation;
}

// The baseline: every column of every row through sqlite3 directly.
std::size_t RawScan(const std::string& db) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(h, "SELECT * FROM Rubrica", -1, &st, nullptr);
  std::size_t bytes = 0;
  while (sqlite3_step(st) == SQLITE_ROW)
    for (int c = 0; c < sqlite3_column_count(st); ++c) bytes += static_cast<std::size_t>(sqlite3_column_bytes(st, c));
  sqlite3_finalize(st);
  sqlite3_close(h);
  return bytes;
}

void BM_RawScan100k(benchmark::State& state) {
  auto& inst = Shared();
  for (auto _ : state) benchmark::DoNotOptimize(RawScan(inst.db));
}
BENCHMARK(BM_RawScan100k)->Unit(benchmark::kMillisecond);

void BM_Preload100k(benchmark::State& state) {
  auto& inst = Shared();
  for (auto _ : state) {
    clsNominativi book(inst.engine.get(), inst.engine->Connection());
    book.Cache(ctPreload);
    if (book.Nominativi().Count() != kRows) state.SkipWithError("wrong row count");
    benchmark::DoNotOptimize(book.Nominativi().Count());
  }
}
BENCHMARK(BM_Preload100k)->Unit(benchmark::kMillisecond);

// Numbers in a shuffled order, so that neither the table nor memory is
// visited sequentially.
std::vector<std::string> ShuffledNumbers() {
  std::vector<std::string> numbers;
  for (int i = 0; i < kRows; ++i) numbers.push_back(Number(i));
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(42));
  return numbers;
}

void BM_PerUseMiss(benchmark::State& state) {
  auto& inst = Shared();
  static const auto numbers = ShuffledNumbers();
  clsNominativi book(inst.engine.get(), inst.engine->Connection());
  book.Cache(ctPerUse);
  std::size_t next = 0;
  for (auto _ : state) {
    if (next == numbers.size()) {
      book.Cache(ctPerUse);
      next = 0;
    }
    benchmark::DoNotOptimize(book.GetNominativo(numbers[next++]));
  }
}
BENCHMARK(BM_PerUseMiss);

void BM_PerUseHit(benchmark::State& state) {
  auto& inst = Shared();
  static const auto numbers = ShuffledNumbers();
  clsNominativi book(inst.engine.get(), inst.engine->Connection());
  book.Cache(ctPreload);
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(book.GetNominativo(numbers[next]));
    next = next + 1 == numbers.size() ? 0 : next + 1;
  }
}
BENCHMARK(BM_PerUseHit);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  // The closing figures, measured once more outside the framework.
  auto& inst = Shared();
  auto t0 = Clock::now();
  std::size_t bytes = RawScan(inst.db);
  double raw = Seconds(Clock::now() - t0);
  benchmark::DoNotOptimize(bytes);

  clsNominativi book(inst.engine.get(), inst.engine->Connection());
  t0 = Clock::now();
  book.Cache(ctPreload);
  double preload = Seconds(Clock::now() - t0);

  const auto numbers = ShuffledNumbers();
  clsNominativi per_use(inst.engine.get(), inst.engine->Connection(), utBatch);
  per_use.Cache(ctPerUse);
  constexpr int kLookups = 20000;
  t0 = Clock::now();
  for (int i = 0; i < kLookups; ++i) benchmark::DoNotOptimize(per_use.GetNominativo(numbers[i]));
  double miss = Seconds(Clock::now() - t0);
  t0 = Clock::now();
  for (int round = 0; round < 10; ++round)
    for (int i = 0; i < kLookups; ++i) benchmark::DoNotOptimize(per_use.GetNominativo(numbers[i]));
  double hit = Seconds(Clock::now() - t0) / 10;

  constexpr int kSaved = 10000;
  clsNominativi batch(inst.engine.get(), inst.engine->Connection(), utBatch);
  batch.Cache(ctPerUse);
  for (int i = 0; i < kSaved; ++i) batch.GetNominativo(numbers[i])->TotaleSelezioniO += 1;
  t0 = Clock::now();
  std::size_t failed = batch.SaveAll();
  inst.engine->Connection()->Flush();
  double save_all = Seconds(Clock::now() - t0);

  std::printf("\nphone book of %d rows (SQLite file)\n", kRows);
  std::printf("  preload (ctPreload)        %8.3f s   (%zu entries; raw sqlite3 scan %.3f s, ratio %.1fx)  limit 1 s: %s\n",
              preload, book.Nominativi().Count(), raw, preload / raw, preload <= 1.0 && book.Nominativi().Count() == kRows ? "met" : "MISSED");
  std::printf("  per-use look-up, fetched   %10.0f look-ups/s\n", kLookups / miss);
  std::printf("  per-use look-up, in memory %10.0f look-ups/s  (fetch costs %.0fx a hit)\n", kLookups / hit,
              miss / hit);
  std::printf("  SaveAll of %d entries     %8.3f s   (%.0f entries/s, %zu failed)\n", kSaved, save_all,
              kSaved / save_all, failed);
  return 0;
}
