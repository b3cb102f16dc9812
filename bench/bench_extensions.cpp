// Loading 100,000 extensions from a SQLite file with clsDerivati::Cache
// (ctPreload), beside a baseline that only steps through the same rows with
// the sqlite3 C API and touches every column. Prints the best of five runs of
// each and their ratio.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsDerivati.h"

using namespace ordalis;

namespace {

constexpr int kExtensions = 100000;
constexpr int kSites = 20;
constexpr int kRuns = 5;

void Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "";
    sqlite3_free(message);
    throw std::runtime_error(text);
  }
}

void Fill(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + path);
  Exec(db, "BEGIN");
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, sCentroDiCosto, sUbicazione, iPrivacy, "
                     "sSedeFisica, IDTimeZone, bSwing, rRicaricoCosto, lTotMinuti, lTotChiamate, cTotCosto, "
                     "lSogliaMinuti, lSogliaChiamate, cSogliaCosto, sSogliaSuperata) "
                     "VALUES (?1, ?2, ?3, 'Department', 'CC-01', 'Building A', ?4, 'Head office', 'CET', ?5, 0.1, "
                     "?6, ?7, ?8, 1000, 500, 250.5, NULL)",
                     -1, &st, nullptr);
  for (int i = 0; i < kExtensions; ++i) {
    const std::string numero = std::to_string(200000 + i / kSites);
    const std::string nome = "Holder " + std::to_string(i);
    const std::string sito = "S" + std::to_string(i % kSites);
    sqlite3_bind_text(st, 1, numero.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, nome.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, sito.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 4, i % 4);
    sqlite3_bind_int(st, 5, i % 2);
    sqlite3_bind_int(st, 6, i % 977);
    sqlite3_bind_int(st, 7, i % 113);
    sqlite3_bind_double(st, 8, (i % 1000) / 8.0);
    if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Every row, every column read as the engine's types would need them.
double Baseline(const std::string& path, std::size_t& bytes) {
  const auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM Derivati", -1, &st, nullptr);
  const int columns = sqlite3_column_count(st);
  while (sqlite3_step(st) == SQLITE_ROW)
    for (int c = 0; c < columns; ++c) bytes += static_cast<std::size_t>(sqlite3_column_bytes(st, c));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return Seconds(start);
}

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() / ("ordalis-bench-ext-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "calls.db").string();
  CreateEngineDatabase(path);
  Fill(path);

  clsChiamate engine;
  auto conn = rdo::RdoEnvironment::Default().OpenConnection("", false, false, "DBQ=" + path + ";");
  double best = 1e9, best_baseline = 1e9;
  std::size_t loaded = 0, bytes = 0;
  for (int run = 0; run < kRuns; ++run) {
    best_baseline = std::min(best_baseline, Baseline(path, bytes));
    const auto start = std::chrono::steady_clock::now();
    clsDerivati derivati(&engine, conn.get(), utBatch);
    derivati.Cache(ctPreload);
    const double seconds = Seconds(start);
    loaded = derivati.Derivati().Count();
    best = std::min(best, seconds);
    std::printf("run %d: %.3f s\n", run + 1, seconds);
  }
  conn->Close();
  std::filesystem::remove_all(dir);
  std::printf("Extensions load: %zu of %d rows: best %.3f s (target <= 1 s); sqlite3 scan baseline %.3f s, "
              "ratio %.1fx\n",
              loaded, kExtensions, best, best_baseline, best / best_baseline);
  if (!engine.Errore().empty()) std::printf("engine error: %s\n", engine.Errore().c_str());
  return loaded == static_cast<std::size_t>(kExtensions) ? 0 : 1;
}
