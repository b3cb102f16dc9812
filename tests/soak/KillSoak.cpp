// Kill-at-random soak: rates a generated installation with the real binary,
// SIGKILLs it at random instants, resumes, and checks every row and every
// statistics table against an undisturbed run.
//
//   kill_soak RUNS [sqlite|postgres] [KILLS_PER_RUN] [CALLS]
//
// On PostgreSQL the tests' own server is started and each run rates a fresh
// copy of the installation there.
// Prints one line per run and a summary; exits 1 when any database was
// corrupt, any row half-written, or any row or statistics table differed
// after the resume.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "../engine/PgInstallation.h"
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

// Where the runs rate: a copy of the installation in an SQLite file or in a
// PostgreSQL database.
struct Target {
  virtual ~Target() = default;
  virtual std::string Copy() = 0;  // a fresh copy of the pristine installation
  virtual std::vector<std::string> Arguments(const std::string& copy) = 0;
  virtual bool Intact(const std::string& copy) = 0;
  virtual TableRows Dump(const std::string& copy) = 0;
};

struct SqliteTarget : Target {
  SqliteTarget(std::string pristine, fs::path dir) : pristine(std::move(pristine)), dir(std::move(dir)) {}
  std::string Copy() override {
    const std::string db = (dir / ("run" + std::to_string(++copies) + ".db")).string();
    fs::copy_file(pristine, db);
    return db;
  }
  std::vector<std::string> Arguments(const std::string& copy) override { return {"--db", copy}; }
  bool Intact(const std::string& copy) override { return IntegrityOk(copy); }
  TableRows Dump(const std::string& copy) override { return DumpTables(copy); }
  std::string pristine;
  fs::path dir;
  int copies = 0;
};

struct PostgresTarget : Target {
  PostgresTarget(std::string pristine, fs::path dir)
      : pristine(std::move(pristine)), dir(std::move(dir)), pg(PgCluster::Instance()) {}
  std::string Copy() override { return CopyToPostgres(pg, pristine, dir.string()); }
  std::vector<std::string> Arguments(const std::string& copy) override { return PostgresArguments(pg, copy); }
  bool Intact(const std::string& copy) override {
    try {
      Dump(copy);
      return true;
    } catch (const std::exception& e) {
      std::printf("database %s: %s\n", copy.c_str(), e.what());
      return false;
    }
  }
  TableRows Dump(const std::string& copy) override { return DumpPostgres(pg, copy); }
  std::string pristine;
  fs::path dir;
  PgCluster& pg;
};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  const std::string backend = argc > 2 ? argv[2] : "sqlite";
  const int kills_per_run = argc > 3 ? std::atoi(argv[3]) : 3;
  const int calls = argc > 4 ? std::atoi(argv[4]) : 3000;
  if (runs < 1 || kills_per_run < 1 || calls < 1 || (backend != "sqlite" && backend != "postgres")) {
    std::fprintf(stderr, "usage: kill_soak RUNS [sqlite|postgres] [KILLS_PER_RUN] [CALLS]\n");
    return 2;
  }
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  std::string tmpl = (fs::temp_directory_path() / "ordalis-soak-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 2;
  const fs::path dir = tmpl;
  const std::string log = (dir / "ordalis.log").string();

  const std::string pristine = WriteTimeOrderedInstallation((dir / "demo").string() + "/", calls);
  std::unique_ptr<Target> target;
  if (backend == "sqlite")
    target = std::make_unique<SqliteTarget>(pristine, dir);
  else
    target = std::make_unique<PostgresTarget>(pristine, dir);
  const std::string reference = target->Copy();
  const TableRows loaded = target->Dump(reference);
  const auto start = std::chrono::steady_clock::now();
  if (RunOrdalis(With({"process"}, target->Arguments(reference)), log) != 0) {
    std::fprintf(stderr, "the undisturbed run failed; see %s\n", log.c_str());
    return 2;
  }
  const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  const TableRows rated = target->Dump(reference);
  std::printf("%s, seed %u, %d calls, undisturbed run %lld ms\n", backend.c_str(), seed, calls,
              static_cast<long long>(span.count()));

  int kills = 0, corrupt = 0, half = 0, row_diffs = 0, stat_diffs = 0, failed_resumes = 0, bad_runs = 0;
  for (int run = 1; run <= runs; ++run) {
    const std::string db = target->Copy();
    const std::vector<std::string> process = With({"process"}, target->Arguments(db));
    int run_kills = 0, run_corrupt = 0, run_half = 0;
    // A run that ended before its kill does not count: try again.
    for (int attempt = 0; run_kills < kills_per_run && attempt < 4 * kills_per_run; ++attempt) {
      const auto at = std::chrono::milliseconds(std::uniform_int_distribution<long long>(0, span.count() * 11 / 10)(rng));
      if (RunOrdalis(process, log, at) != -SIGKILL) continue;  // ended first
      ++run_kills;
      if (!target->Intact(db)) {
        ++run_corrupt;
        continue;
      }
      run_half += HalfWritten(target->Dump(db), loaded, rated);
    }
    const int code = RunOrdalis(process, log);
    failed_resumes += code != 0;
    int run_rows = 0, run_stats = 0;
    if (target->Intact(db)) {
      std::vector<std::string> examples;
      for (const auto& [table, n] : Differences(rated, target->Dump(db), &examples))
        (table.rfind("CHIAMATE", 0) == 0 ? run_rows : run_stats) += n;
      for (const std::string& e : examples) std::printf("  %s\n", e.c_str());
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
  PgCluster::StopIfStarted();
  if (bad_runs == 0) fs::remove_all(dir);
  else std::printf("kept %s\n", dir.c_str());
  return bad_runs == 0 ? 0 : 1;
}
