// Importing an Asterisk Master.csv into an SQLite engine database, against a
// plain loop that inserts the same calls, already in memory, through one
// prepared sqlite3 statement in transactions of 20,000 rows (the floor of
// what appending them costs). Prints rows/s for both and the import/plain
// ratio. The machine may be shared: the figures are also given per second
// of processor time of this process (its own work, the fsyncs excluded).
//
// Usage: bench_import [rows]   (or ORDALIS_BENCH_ROWS; default 200000)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ordalis/CallImport.h"
#include "ordalis/Databases.h"

using Clock = std::chrono::steady_clock;

// Wall and processor time of this process, in seconds.
struct Times {
  double wall = 0, cpu = 0;
};
struct Stopwatch {
  Clock::time_point wall0 = Clock::now();
  std::clock_t cpu0 = std::clock();
  Times Elapsed() const {
    return {std::chrono::duration<double>(Clock::now() - wall0).count(),
            static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC};
  }
};

namespace {

// One call as the plain loop binds it.
struct Row {
  std::string date, time, delay, duration, site, extension, type, line, number, id;
  int status = 0;
  bool internal = false;
};

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }
std::string Clock(int s) { return Two(s / 3600) + ":" + Two(s / 60 % 60) + ":" + Two(s % 60); }

// Writes `rows` calls of one site in Master.csv form: most outgoing, some
// internal and incoming, one in six unanswered.
std::vector<Row> WriteMasterCsv(const std::string& path, long rows) {
  std::mt19937 rng(7);
  std::vector<Row> out;
  out.reserve(static_cast<std::size_t>(rows));
  std::ofstream f(path, std::ios::trunc);
  for (long i = 0; i < rows; ++i) {
    Row r;
    // In time order, as an exchange appends them: 8,000 calls a day.
    int day = 1 + static_cast<int>(i / 8000 % 28);
    int at = 8 * 3600 + static_cast<int>(i % 8000) * 4 + static_cast<int>(rng() % 4);
    int billsec = rng() % 6 == 0 ? 0 : 5 + static_cast<int>(rng() % 900);
    int ring = 2 + static_cast<int>(rng() % 20);
    std::string ext = std::to_string(200 + rng() % 200);
    std::string other = std::to_string(200 + rng() % 200);
    std::string external = "0" + std::to_string(200000000 + rng() % 700000000);
    int kind = static_cast<int>(rng() % 10);  // 0 internal, 1 incoming, else outgoing
    std::string src = kind == 1 ? external : ext;
    std::string dst = kind == 0 ? other : kind == 1 ? ext : external;
    std::string channel = kind == 1 ? "SIP/provider-" : "SIP/" + ext + "-";
    std::string dstchannel = kind == 2 || kind > 2 ? "SIP/provider-" : "SIP/" + dst + "-";
    std::string start = "2024-02-" + Two(day) + " " + Clock(at);
    std::string id = "1706745600." + std::to_string(i);
    f << "\"\",\"" << src << "\",\"" << dst << "\",\"from-internal\",\"\"\"User\"\" <" << src << ">\",\"" << channel
      << "0000a1b2\",\"" << dstchannel << "0000a1b3\",\"Dial\",\"SIP/provider/" << dst << ",60\",\"" << start
      << "\",\"" << (billsec ? "2024-02-" + Two(day) + " " + Clock(at + ring) : "") << "\",\"2024-02-" << Two(day)
      << " " << Clock(at + ring + billsec) << "\"," << ring + billsec << "," << billsec << ",\""
      << (billsec ? "ANSWERED" : "NO ANSWER") << "\",\"DOCUMENTATION\",\"" << id << "\",\"\"\n";
    r.date = "2024-02-" + Two(day) + " 00:00:00";
    r.time = "1899-12-30 " + Clock(at);
    r.delay = "1899-12-30 " + Clock(billsec ? ring : 0);
    r.duration = "1899-12-30 " + Clock(billsec);
    r.site = "MI";
    r.extension = kind == 1 ? ext : src;
    r.number = kind == 1 ? external : dst;
    r.type = kind == 0 ? "E" : kind == 1 ? "I" : "O";
    r.line = kind == 0 ? "" : "provider";
    r.status = billsec ? 0 : 1;
    r.internal = kind == 0;
    r.id = start + "|" + std::to_string(billsec) + "|MI|" + r.extension + "|" + r.number + "|" + id + "|";
    out.push_back(std::move(r));
  }
  return out;
}

// The engine database with the import's identity column and index.
std::string NewDatabase(const std::string& dir, const char* name) {
  std::string path = dir + "/" + name;
  std::filesystem::remove(path);
  ordalis::CreateEngineDatabase(path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  for (const char* t : {"CHIAMATE", "CHIAMATEINTERNE"}) {
    std::string sql = std::string("ALTER TABLE ") + t + " ADD COLUMN sIdImport VARCHAR(255); CREATE UNIQUE INDEX " +
                      t + "_sIdImport ON " + t + " (sIdImport);";
    Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
  }
  sqlite3_close(db);
  return path;
}

Times PlainInsert(const std::string& path, const std::vector<Row>& rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  sqlite3_stmt* insert[2] = {};
  for (int t = 0; t < 2; ++t) {
    std::string sql = std::string("INSERT INTO ") + (t ? "CHIAMATEINTERNE" : "CHIAMATE") +
                      " (dData, DORA, DRISPOSTA, DDURATA, LSCATTI, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, SNUMERO,"
                      " SCOMMESSA, sIdImport) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT DO NOTHING";
    Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &insert[t], nullptr), db);
  }
  auto text = [](sqlite3_stmt* s, int p, const std::string& v) {
    if (v.empty())
      sqlite3_bind_null(s, p);
    else
      sqlite3_bind_text(s, p, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  };
  Stopwatch watch;
  long n = 0;
  for (const Row& r : rows) {
    if (n++ % 20000 == 0) {
      if (n > 1) Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
      Check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
    }
    sqlite3_stmt* s = insert[r.internal ? 1 : 0];
    text(s, 1, r.date);
    text(s, 2, r.time);
    text(s, 3, r.delay);
    text(s, 4, r.duration);
    sqlite3_bind_int(s, 5, 0);
    text(s, 6, r.site);
    text(s, 7, r.extension);
    text(s, 8, r.type);
    text(s, 9, r.line);
    sqlite3_bind_int(s, 10, r.status);
    text(s, 11, r.number);
    sqlite3_bind_null(s, 12);
    text(s, 13, r.id);
    Check(sqlite3_step(s), db);
    sqlite3_reset(s);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  Times times = watch.Elapsed();
  for (sqlite3_stmt* s : insert) sqlite3_finalize(s);
  sqlite3_close(db);
  return times;
}

Times Import(const std::string& path, const std::string& csv, long rows) {
  Stopwatch watch;
  ordalis::ImportOptions options;
  options.format = ordalis::ImportFormat::Asterisk;
  options.site = "MI";
  options.extension_pattern = "[0-9]{3}";
  ordalis::CallImporter importer("DBQ=" + path, options);
  importer.ImportFile(csv);
  importer.Commit();
  Times times = watch.Elapsed();
  const ordalis::ImportCounts& n = importer.Counts();
  if (n.added + n.added_internal != rows || n.rejected != 0) {
    std::fprintf(stderr, "import added %lld calls and rejected %lld of %ld\n",
                 static_cast<long long>(n.added + n.added_internal), static_cast<long long>(n.rejected), rows);
    std::exit(1);
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 200000;
  if (const char* env = std::getenv("ORDALIS_BENCH_ROWS")) rows = std::atol(env);
  if (argc > 1) rows = std::atol(argv[1]);
  std::string dir = std::filesystem::temp_directory_path() / ("ordalis-bench-import-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::vector<Row> calls = WriteMasterCsv(dir + "/Master.csv", rows);

  // Alternate the two, best of three each, so neither gets a warmer cache.
  Times plain{1e9, 1e9}, imported{1e9, 1e9};
  for (int round = 0; round < 3; ++round) {
    Times p = PlainInsert(NewDatabase(dir, "plain.db"), calls);
    Times i = Import(NewDatabase(dir, "import.db"), dir + "/Master.csv", rows);
    plain = {std::min(plain.wall, p.wall), std::min(plain.cpu, p.cpu)};
    imported = {std::min(imported.wall, i.wall), std::min(imported.cpu, i.cpu)};
  }
  std::filesystem::remove_all(dir);
  std::printf("rows: %ld            rows/s (wall)   rows/s (processor)\n", rows);
  std::printf("plain prepared inserts: %10.0f %16.0f\n", rows / plain.wall, rows / plain.cpu);
  std::printf("ordalis import:         %10.0f %16.0f\n", rows / imported.wall, rows / imported.cpu);
  std::printf("ratio import/plain:     %10.2f %16.2f\n", plain.wall / imported.wall, plain.cpu / imported.cpu);
  return 0;
}
