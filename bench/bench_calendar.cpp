// Loading a calendar of 10,000 rows from a SQLite engine database with
// clsCalendario::Cache, then GetGiorno over random dates. The load must
// take at most one second.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsCalendario.h"
#include "reference/clsGiorno.h"

using namespace ordalis;

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// 10,000 rows: the seven weekdays, then explicit dates from 1 January 2000.
bool FillCalendar(const std::string& path, int rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Calendario (dData, iGiorno, iTipo) VALUES (?, ?, ?)", -1, &st, nullptr);
  for (int i = 0; i < rows; ++i) {
    if (i < 7) {
      sqlite3_bind_null(st, 1);
      sqlite3_bind_int(st, 2, i + 1);
    } else {
      const std::string date = dt::ToIsoText(dt::FromDate(2000, 1, 1) + (i - 7));
      sqlite3_bind_text(st, 1, date.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st, 2, 0);
    }
    sqlite3_bind_int(st, 3, i % 4);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() / ("ordalis-bench-calendar-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ::setenv("ORDALIS_HOME", dir.c_str(), 1);  // no international/ folder: the engine database is read
  const std::string path = (dir / "engine.db").string();
  CreateEngineDatabase(path);
  const int rows = 10'000;
  if (!FillCalendar(path, rows)) {
    std::fprintf(stderr, "cannot fill %s\n", path.c_str());
    return 2;
  }

  clsChiamate engine;
  auto connection = rdo::RdoEnvironment::Default().OpenConnection("", false, false, "DBQ=" + path + ";");
  std::vector<double> times;
  std::size_t loaded = 0;
  for (int run = 0; run < 7; ++run) {
    clsCalendario calendar(&engine, connection.get());
    const auto start = std::chrono::steady_clock::now();
    calendar.Cache(ctPreload, "Italia");
    times.push_back(Seconds(start));
    loaded = calendar.Giorni().Count();
  }
  std::sort(times.begin(), times.end());

  clsCalendario calendar(&engine, connection.get());
  calendar.Cache(ctPreload, "Italia");
  std::mt19937 rng(5);
  std::vector<DateTime> dates(4096);
  for (auto& d : dates) d = dt::FromDate(1995, 1, 1) + rng() % 15000 + (rng() % 86400) / 86400.0;
  const std::size_t lookups = 2'000'000;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < lookups; ++i) benchmark::DoNotOptimize(calendar.GetGiorno(dates[i & 4095]));
  const double lookup_rate = static_cast<double>(lookups) / Seconds(start);

  connection->Close();
  std::filesystem::remove_all(dir);

  std::printf("calendar rows %d, members loaded %zu\n", rows, loaded);
  std::printf("Cache load: best %.3f s, median %.3f s, worst %.3f s (%.0f rows/s)\n", times.front(),
              times[times.size() / 2], times.back(), rows / times[times.size() / 2]);
  std::printf("GetGiorno: %.0f lookups/s\n", lookup_rate);
  const bool ok = times[times.size() / 2] <= 1.0;
  std::printf("target 10,000 rows in at most 1 s: %s\n", ok ? "met" : "NOT MET");
  return ok ? 0 : 1;
}
