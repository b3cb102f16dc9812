// Kill-at-random soak: rates a generated installation with the real binary,
// SIGKILLs it at random instants, resumes, and checks every row and every
// statistics table against an undisturbed run.
//
//   kill_soak RUNS [KILLS_PER_RUN] [CALLS]
//
// Prints one line per run and a summary; exits 1 when any database was
// corrupt, any row half-written, or any row or statistics table differed
// after the resume.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "../engine/RatedInstallation.h"

using namespace ordalis::testing;
namespace fs = std::filesystem;

namespace {

// PRAGMA integrity_check after opening the file as the next run would (a
// killed writer's journal rolled back); prints what is wrong.
bool IntegrityOk(const std::string& file) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    else
      result = sqlite3_errmsg(db);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  if (result != "ok") std::printf("integrity check of %s: %s\n", file.c_str(), result.c_str());
  return result == "ok";
}

// Call rows that are neither as loaded nor as rated.
int HalfWritten(const TableRows& now, const TableRows& loaded, const TableRows& rated) {
  int n = 0;
  for (const char* table : {"CHIAMATE", "CHIAMATEINTERNE"})
    for (std::size_t i = 0; i < now.at(table).size(); ++i)
      n += now.at(table)[i] != loaded.at(table)[i] && now.at(table)[i] != rated.at(table)[i];
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  const int kills_per_run = argc > 2 ? std::atoi(argv[2]) : 3;
  const int calls = argc > 3 ? std::atoi(argv[3]) : 3000;
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  std::string tmpl = (fs::temp_directory_path() / "ordalis-soak-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 2;
  const fs::path dir = tmpl;
  const std::string log = (dir / "ordalis.log").string();

  const std::string pristine = WriteTimeOrderedInstallation((dir / "demo").string() + "/", calls);
  const std::string reference = (dir / "reference.db").string();
  fs::copy_file(pristine, reference);
  const auto start = std::chrono::steady_clock::now();
  if (RunOrdalis({"process", "--db", reference}, log) != 0) {
    std::fprintf(stderr, "the undisturbed run failed; see %s\n", log.c_str());
    return 2;
  }
  const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  const TableRows rated = DumpTables(reference), loaded = DumpTables(pristine);
  std::printf("seed %u, %d calls, undisturbed run %lld ms\n", seed, calls, static_cast<long long>(span.count()));

  int kills = 0, corrupt = 0, half = 0, row_diffs = 0, stat_diffs = 0, failed_resumes = 0, bad_runs = 0;
  for (int run = 1; run <= runs; ++run) {
    const std::string db = (dir / "run.db").string();
    fs::remove(db);
    fs::remove(db + "-journal");
    fs::remove(db + "-wal");
    fs::copy_file(pristine, db);
    int run_kills = 0, run_corrupt = 0, run_half = 0;
    // A run that ended before its kill does not count: try again.
    for (int attempt = 0; run_kills < kills_per_run && attempt < 4 * kills_per_run; ++attempt) {
      const auto at = std::chrono::milliseconds(std::uniform_int_distribution<long long>(0, span.count() * 11 / 10)(rng));
      if (RunOrdalis({"process", "--db", db}, log, at) != -SIGKILL) continue;  // ended first
      ++run_kills;
      if (!IntegrityOk(db)) {
        ++run_corrupt;
        continue;
      }
      run_half += HalfWritten(DumpTables(db), loaded, rated);
    }
    const int code = RunOrdalis({"process", "--db", db}, log);
    failed_resumes += code != 0;
    int run_rows = 0, run_stats = 0;
    if (IntegrityOk(db)) {
      for (const auto& [table, n] : Differences(rated, DumpTables(db)))
        (table.rfind("CHIAMATE", 0) == 0 ? run_rows : run_stats) += n;
    } else {
      ++run_corrupt;
    }
    std::printf("run %d: kills %d, corrupt %d, half-written %d, resume exit %d, row differences %d, "
                "statistics differences %d\n",
                run, run_kills, run_corrupt, run_half, code, run_rows, run_stats);
    std::fflush(stdout);
    kills += run_kills, corrupt += run_corrupt, half += run_half, row_diffs += run_rows, stat_diffs += run_stats;
    bad_runs += run_corrupt + run_half + run_rows + run_stats + (code != 0) > 0;
  }
  std::printf("runs %d, kills %d, corrupt %d, half-written %d, failed resumes %d, row differences %d, "
              "statistics differences %d, runs with a fault %d\n",
              runs, kills, corrupt, half, failed_resumes, row_diffs, stat_diffs, bad_runs);
  if (bad_runs == 0) fs::remove_all(dir);
  else std::printf("kept %s\n", dir.c_str());
  return bad_runs == 0 ? 0 : 1;
}
