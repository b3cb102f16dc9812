// What a batch run leaves behind when it is stopped, when the disk fills
// up, or when another process holds the database: every call counts in the
// statistics exactly when its row was saved, so that resuming gives what an
// undisturbed run gives.
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EngineFixture.h"
#include "data/RdoConnection.h"
#include "ordalis/ComponentError.h"
#include "reference/clsDerivati.h"
#include "reference/clsNominativi.h"
#include "reference/clsNominativo.h"
#include "reference/clsSwing.h"
#include "reference/clsSwings.h"

namespace ordalis::testing {
namespace {

namespace fs = std::filesystem;

// Resuming rates the calls not rated yet.
constexpr char kNotRated[] = "SELECT * FROM CHIAMATE WHERE sGiorno_c IS NULL";

// Every row of the calls and of every statistics table, as text.
std::string Dump(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::ostringstream out;
  for (const char* table : {"CHIAMATE", "CHIAMATEINTERNE", "Rubrica", "Swing", "Derivati"}) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, (std::string("SELECT * FROM ") + table + " ORDER BY lPKId").c_str(), -1, &st, nullptr);
    out << table << '\n';
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* v = sqlite3_column_text(st, i);
        out << (v ? reinterpret_cast<const char*>(v) : "<null>") << '|';
      }
      out << '\n';
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out.str();
}

// Calls moved so far into the statistics the engine holds in memory.
long CountedInMemory(clsChiamate& engine) {
  long n = 0;
  if (engine.Nominativi)
    for (const auto& e : engine.Nominativi->Nominativi()) n += e->TotaleSelezioniO + e->TotaleSelezioniI;
  if (engine.Swings)
    for (const auto& s : engine.Swings->Swings()) n += s->NumeroChiamateO + s->NumeroChiamateI;
  if (engine.Derivati) n += static_cast<long>(engine.Derivati->Derivati().Count());
  return n;
}

// The first line where two dumps differ, so that a failure stays readable.
void ExpectSame(const std::string& got, const std::string& want) {
  if (got == want) return;
  std::istringstream a(got), b(want);
  std::string la, lb, table;
  for (int line = 1;; ++line) {
    const bool more_a = static_cast<bool>(std::getline(a, la)), more_b = static_cast<bool>(std::getline(b, lb));
    if (!more_a && !more_b) break;
    if (la.find('|') == std::string::npos) table = la;
    if (la != lb || more_a != more_b) {
      ADD_FAILURE() << "first difference in " << table << " (line " << line << "):\n  got:  " << la
                    << "\n  want: " << lb;
      return;
    }
  }
}

long PhoneBookCalls(clsChiamate& engine) {
  long n = 0;
  for (const auto& e : engine.Nominativi->Nominativi()) n += e->TotaleSelezioniO + e->TotaleSelezioniI;
  return n;
}

class DurableRunTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    demo_ = WriteDemoInstallation(dir_.string(), 1500);
    db_path_ = demo_.database;
    // Calls from extensions nobody has entered yet: the run adds them.
    Sql("UPDATE CHIAMATE SET SDERIVATO = '9' || (lPKId % 7) WHERE lPKId % 37 = 0");
    reference_ = (dir_ / "undisturbed.db").string();
    fs::copy_file(db_path_, reference_);
  }
  // Rates the not yet rated calls of `path` in one run, the way the tests
  // resume.
  void RateUndisturbed(const std::string& path, UpdateType mode) {
    clsChiamate engine;
    engine.set_TipoAggiornamento(mode);
    engine.Init(path);
    ASSERT_EQ(engine.Errore(), "");
    engine.set_Filter(kNotRated);
    engine.Process();
  }
  // The real host on a database, with a file-size limit when limit_bytes > 0.
  int RunHost(const std::string& db, std::string& err, long limit_bytes = 0) {
    const std::string err_file = (dir_ / "stderr.txt").string();
    pid_t child = fork();
    if (child == 0) {
      ::setenv("ORDALIS_HOME", demo_.directory.c_str(), 1);
      ::setenv("ORDALIS_REGISTRY", demo_.registry_file.c_str(), 1);
      if (limit_bytes > 0) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
        rlimit limit{static_cast<rlim_t>(limit_bytes), static_cast<rlim_t>(limit_bytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      if (!std::freopen(err_file.c_str(), "w", stderr) || !std::freopen("/dev/null", "w", stdout)) _exit(126);
      ::execl(ORDALIS_BINARY, "ordalis", "process", "--db", db.c_str(), "--filter", kNotRated,
              static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::ifstream in(err_file);
    err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  DemoInstallation demo_;
  std::string reference_;
};

// Stops land in calls that already moved a statistic (phone book, swing
// number, extension added) but are not saved yet; in both write-back modes
// the stopped call must leave neither its row nor its statistics, in the
// file or in memory.
TEST_F(DurableRunTest, StoppedCallsLeaveNoTraceAndResumingGivesTheUndisturbedResult) {
  for (UpdateType mode : {utImmediate, utBatch}) {
    SCOPED_TRACE(mode == utBatch ? "batch write-back" : "immediate write-back");
    fs::copy_file(reference_, db_path_, fs::copy_options::overwrite_existing);
    const std::string undisturbed = (dir_ / "undisturbed-run.db").string();
    fs::copy_file(reference_, undisturbed, fs::copy_options::overwrite_existing);
    RateUndisturbed(undisturbed, mode);

    events_ = RecordingEvents();
    auto engine = std::make_unique<clsChiamate>();
    engine->SetEvents(&events_);
    engine->set_TipoAggiornamento(mode);
    engine->Init(db_path_);
    engine->set_Filter(kNotRated);
    clsChiamate* e = engine.get();
    long counted_before_call = 0;
    int stops = 0;
    events_.on_progress = [&] { counted_before_call = CountedInMemory(*e); };
    engine->SetYield([&] {
      if (!e->mbStop() && events_.progress.size() % 29 == 11 && CountedInMemory(*e) != counted_before_call) {
        e->StopIt();
        ++stops;
      }
    });
    for (int run = 0; run < 100; ++run) {
      engine->Process();
      if (!engine->mbStop()) break;
      if (mode == utImmediate) {
        // In memory as in the file: the stopped call was taken back from both.
        // (Entries never fetched keep their stored counts, all 0.)
        EXPECT_EQ(Query("SELECT SUM(lTotaleSelezioniO + lTotaleSelezioniI) FROM Rubrica"),
                  std::to_string(PhoneBookCalls(*engine)));
      }
      engine->set_mbStop(false);
    }
    engine.reset();
    EXPECT_GE(stops, 5);
    ExpectSame(Dump(db_path_), Dump(undisturbed));
  }
}

// A reader keeps the database from being written while the end of the
// first table is committed: the commit is tried again each second and
// reported like a failed save, with its reason, and the run then goes on to
// the second table and the write-back of the statistics.
TEST_F(DurableRunTest, ACommitHeldUpByAReaderIsRetriedAndReported) {
  const std::string undisturbed = (dir_ / "undisturbed-run.db").string();
  fs::copy_file(reference_, undisturbed);
  RateUndisturbed(undisturbed, utBatch);

  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(db_path_.c_str(), &reader), SQLITE_OK);
  sqlite3_stmt* read = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(reader, "SELECT lPKId FROM Rubrica", -1, &read, nullptr), SQLITE_OK);
  auto engine = std::make_unique<clsChiamate>();
  engine->SetEvents(&events_);
  engine->set_TipoAggiornamento(utBatch);
  engine->Init(db_path_);
  engine->set_Filter(kNotRated);
  std::vector<std::string> reasons;
  clsChiamate* e = engine.get();
  const int first_table = std::stoi(Query("SELECT COUNT(*) FROM CHIAMATE"));
  // The reader's transaction starts with the last call of the first table
  // and ends at the second report.
  bool reading = false, done_reading = false;
  engine->SetYield([&] {
    if (events_.progress.size() == static_cast<std::size_t>(first_table) && !reading && !done_reading) {
      ASSERT_EQ(sqlite3_step(read), SQLITE_ROW);
      reading = true;
    }
  });
  events_.on_save_error = [&] {
    reasons.push_back(e->LastSaveError());
    if (events_.save_errors.size() == 2) {
      sqlite3_reset(read);
      reading = false;
      done_reading = true;
    }
  };
  engine->Process();
  sqlite3_finalize(read);
  sqlite3_close(reader);
  EXPECT_EQ(events_.save_errors, (std::vector<int>{1, 2}));
  EXPECT_EQ(reasons, (std::vector<std::string>{"database is locked", "database is locked"}));
  EXPECT_EQ(events_.done, 1);
  engine.reset();
  ExpectSame(Dump(db_path_), Dump(undisturbed));
}

// The disk fills up in the middle of the run: the run stops with the
// reason and a non-zero exit instead of reporting success, and once there is
// room again, resuming gives exactly the undisturbed result. On a small
// tmpfs when one can be mounted, else under a file-size limit.
TEST_F(DurableRunTest, AFullDiskStopsTheRunAndResumingGivesTheUndisturbedResult) {
  const std::string undisturbed = (dir_ / "undisturbed-run.db").string();
  fs::copy_file(reference_, undisturbed);
  std::string err;
  ASSERT_EQ(RunHost(undisturbed, err), 0) << err;
  const long before = static_cast<long>(fs::file_size(reference_));
  const long growth = static_cast<long>(fs::file_size(undisturbed)) - before;
  ASSERT_GT(growth, 16 * 1024);

  const fs::path mount = dir_ / "small-disk";
  fs::create_directories(mount);
  // Room for the file, its rollback journal and what the run adds.
  const long room = 2 * (before + growth) + (1 << 20);
  const bool tmpfs =
      ::mount("tmpfs", mount.c_str(), "tmpfs", 0, ("size=" + std::to_string(room / 1024) + "k").c_str()) == 0;
  struct Unmount {
    const fs::path& at;
    bool mounted;
    ~Unmount() {
      if (mounted) ::umount(at.c_str());
    }
  } unmount{mount, tmpfs};
  const std::string db = tmpfs ? (mount / "calls.db").string() : db_path_;
  if (tmpfs) fs::copy_file(reference_, db, fs::copy_options::overwrite_existing);
  // Then room for half of what the run needs.
  const fs::path filler = mount / "filler";
  if (tmpfs) {
    const std::size_t fill = fs::space(mount).available - static_cast<std::size_t>((before + growth) / 2);
    std::ofstream(filler).write(std::string(fill, 'f').data(), static_cast<std::streamsize>(fill));
  }
  const int code = RunHost(db, err, tmpfs ? 0 : before + growth / 2 + 1000);
  EXPECT_EQ(code, 1) << err;
  EXPECT_TRUE(err.find("database or disk is full") != std::string::npos ||
              (!tmpfs && err.find("disk I/O error") != std::string::npos))
      << err;
  EXPECT_NE(err.find("rolled back"), std::string::npos) << err;
  const int rated = std::stoi([&] {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL", -1, &st, nullptr);
    sqlite3_step(st);
    std::string n = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(h);
    return n;
  }());
  EXPECT_LT(rated, demo_.calls);

  if (tmpfs) fs::remove(filler);
  EXPECT_EQ(RunHost(db, err), 0) << err;
  ExpectSame(Dump(db), Dump(undisturbed));
}

}  // namespace
}  // namespace ordalis::testing
