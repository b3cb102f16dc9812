// Comparing 100,000 outgoing calls of one site across 4 carriers with
// ConfrontaCarrier, on the demo's reference data and carrier files (a fourth
// carrier is a renamed copy of the first). The baseline is the same
// comparison with no carrier listed: reading and loading every call row and
// the grid bookkeeping without any pricing. Prints the best of three runs of
// each, the call x carrier pricings per second and the ratio.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "demo/Demo.h"
#include "ordalis/Grid.h"
#include "ordalis/clsChiamate.h"

using namespace ordalis;

namespace {

constexpr int kCalls = 100000;
constexpr int kRuns = 3;

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "";
    sqlite3_free(message);
    throw std::runtime_error(text);
  }
}

// Calls of site MI over January and February 2024 to a mix of local,
// national, mobile and international numbers, at every hour of the working
// day, so that every day type, time band and group is met.
void FillCalls(const std::string& path) {
  struct Kind {
    const char* prefix;
    const char* type;
  };
  const Kind kinds[] = {{"02", "Local"},     {"0371", "Adiacenti"},       {"06", "National"},
                        {"011", "National"}, {"347", "Mobile"},           {"335", "Mobile"},
                        {"004420", "International"}, {"0033", "International"}, {"001212", "International"},
                        {"1055024", "Local"}};
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + path);
  Exec(db, "BEGIN");
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO CHIAMATE (dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, "
                     "LSCATTI, STIPODESTINAZIONE_C) VALUES (?1, ?2, ?3, ?4, 'MI', ?5, 'O', 'L1', 0, 0, ?6)",
                     -1, &st, nullptr);
  unsigned seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8); };
  for (int i = 0; i < kCalls; ++i) {
    const Kind& k = kinds[i % std::size(kinds)];
    char date[32], time[32], duration[32], number[32], extension[8];
    std::snprintf(date, sizeof date, "2024-%02d-%02d 00:00:00", 1 + i % 2, 1 + i % 28);
    std::snprintf(time, sizeof time, "1899-12-30 %02u:%02u:%02u", 6 + next() % 16, next() % 60, next() % 60);
    unsigned seconds = 5 + next() % 900;
    std::snprintf(duration, sizeof duration, "1899-12-30 %02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    std::snprintf(number, sizeof number, "%s%07u", k.prefix, next() % 10000000);
    std::snprintf(extension, sizeof extension, "%d", 200 + 2 * static_cast<int>(next() % 100));
    const char* values[] = {date, time, duration, number, extension, k.type};
    for (int c = 0; c < 6; ++c) sqlite3_bind_text(st, c + 1, values[c], -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

struct Result {
  double seconds = 1e300;
  std::string total_first_row;
};

Result Compare(const DemoInstallation& demo, const std::vector<std::string>& files) {
  Result best;
  for (int run = 0; run < kRuns; ++run) {
    clsChiamate engine;
    engine.set_TipoDb(dbAccess);
    engine.Init(demo.database);
    if (!engine.Errore().empty()) throw std::runtime_error(engine.Errore());
    for (const auto& f : files) engine.AggiungiCarrierPerConfronto(f);
    engine.CacheConfrontoCarrier("MI");
    if (!engine.Errore().empty()) throw std::runtime_error(engine.Errore());
    MemoryGrid grid(std::max<std::size_t>(files.size(), 1), 6);
    for (std::size_t r = 0; r < grid.Rows(); ++r)
      for (std::size_t c = 0; c < 6; ++c) grid.Set(r, c, Variant(Money()));
    auto start = std::chrono::steady_clock::now();
    engine.ConfrontaCarrier("MI", dt::FromDate(2024, 1, 1), dt::FromDate(2024, 2, 29), grid);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best.seconds) best = {seconds, grid.Get(0, 5).ToText()};
  }
  return best;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("ordalis-bench-comparison-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  ::setenv("ORDALIS_HOME", dir.c_str(), 1);
  try {
    DemoInstallation demo = WriteDemoInstallation(dir.string(), 0);
    FillCalls(demo.database);
    const std::string carriers = demo.directory + "Carrier/";
    fs::copy_file(carriers + "alpha.mdb", carriers + "delta.mdb");
    {
      sqlite3* db = nullptr;
      sqlite3_open((carriers + "delta.mdb").c_str(), &db);
      Exec(db, "UPDATE Carrier SET NomeCarrier = 'Delta'");
      sqlite3_close(db);
    }
    std::vector<std::string> files = {carriers + "alpha.mdb", carriers + "beta.mdb", carriers + "gamma.mdb",
                                      carriers + "delta.mdb"};

    Result baseline = Compare(demo, {});
    Result priced = Compare(demo, files);
    const double pricings = static_cast<double>(kCalls) * static_cast<double>(files.size());
    std::printf("calls: %d, carriers: %zu (Alpha's total %s)\n", kCalls, files.size(),
                priced.total_first_row.c_str());
    std::printf("baseline, rows loaded without pricing: %.3f s  %.0f calls/s\n", baseline.seconds,
                kCalls / baseline.seconds);
    std::printf("comparison across %zu carriers:         %.3f s  %.0f call x carrier pricings/s\n", files.size(),
                priced.seconds, pricings / priced.seconds);
    std::printf("ratio to baseline: %.2f\n", priced.seconds / baseline.seconds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}
