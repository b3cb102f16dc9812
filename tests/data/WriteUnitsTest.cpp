// Units of writes on an SQLite file: a unit's writes are kept or taken back
// whole, the batch commits only between units, and a write the file refuses
// for good loses the whole batch loudly.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "data/RdoTypes.h"
#include "ordalis/ComponentError.h"

namespace ordalis::rdo {
namespace {

class WriteUnits : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = "/tmp/ordalis-units-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/calls.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE calls (id INTEGER PRIMARY KEY, s TEXT);"
                           "INSERT INTO calls VALUES (1, 'a'), (2, 'b'), (3, 'c');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    c_.SetConnect("DBQ=" + path_ + ";");
    c_.EstablishConnection();
  }
  void TearDown() override {
    c_.Close();
    std::system(("rm -rf " + dir_).c_str());
  }

  // Writes `value` over row `id` through an updatable resultset, closed at once.
  void Write(int id, const std::string& value) {
    auto rs = c_.OpenResultset("SELECT * FROM calls WHERE id = " + std::to_string(id), CursorType::Keyset,
                               LockType::OptimisticRowVer);
    rs->Edit();
    rs->SetValue("s", Variant(value));
    rs->Update();
    rs->Close();
  }
  // What another connection sees: committed values only.
  std::string Committed(int id) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    std::string out = "<none>";
    sqlite3_prepare_v2(db, ("SELECT s FROM calls WHERE id = " + std::to_string(id)).c_str(), -1, &st, nullptr);
    if (sqlite3_step(st) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }

  std::string dir_, path_;
  RdoConnection c_;
};

TEST_F(WriteUnits, AUnitIsTakenBackWholeOrCommittedOnlyAtItsEnd) {
  c_.BeginUnit();
  Write(1, "x");
  Write(2, "y");
  c_.EndUnit(false);
  c_.Flush();
  EXPECT_EQ(Committed(1), "a");
  EXPECT_EQ(Committed(2), "b");
  EXPECT_FALSE(c_.UnitsPending());

  // A resultset that wrote asks for a commit when it closes; inside a unit
  // that waits for the unit's end.
  c_.BeginUnit();
  Write(1, "x");
  EXPECT_EQ(Committed(1), "a");
  Write(2, "y");
  EXPECT_EQ(Committed(2), "b");
  c_.EndUnit(true);
  EXPECT_EQ(Committed(1), "x");
  EXPECT_EQ(Committed(2), "y");
  EXPECT_FALSE(c_.UnitsPending());

  // Under a commit hold a kept unit waits in the batch; a unit taken back
  // after it leaves the kept one alone.
  {
    CommitHold hold(c_);
    c_.BeginUnit();
    Write(3, "z");
    c_.EndUnit(true);
    EXPECT_TRUE(c_.UnitsPending());
    c_.BeginUnit();
    Write(1, "gone");
    c_.EndUnit(false);
    EXPECT_EQ(Committed(3), "c");
  }
  EXPECT_EQ(Committed(3), "z");
  EXPECT_EQ(Committed(1), "x");
}

// A unit announced to write once runs without a savepoint: a write that
// fails is undone by sqlite alone (its trigger's insert too), and taking back
// one that took effect can only lose the batch, loudly.
TEST_F(WriteUnits, AUnitThatWritesOnceNeedsNoSavepoint) {
  c_.Execute("CREATE TABLE seen (s TEXT)");
  c_.Execute(
      "CREATE TRIGGER record AFTER UPDATE ON calls BEGIN INSERT INTO seen VALUES (NEW.s); "
      "SELECT RAISE(ABORT, 'refused value') WHERE NEW.s = 'bad'; END");
  auto seen = [&] { return c_.OpenResultset("SELECT count(*) FROM seen")->Value(0).ToInteger(); };
  CommitHold hold(c_);
  c_.BeginUnit();
  Write(1, "x");
  c_.EndUnit(true);
  c_.BeginUnit();
  c_.LastWriteOfUnit();
  EXPECT_THROW(Write(2, "bad"), ComponentError);
  c_.EndUnit(false);
  EXPECT_EQ(seen(), 1) << "the failed statement's trigger write went back with it";
  c_.BeginUnit();
  c_.LastWriteOfUnit();
  Write(2, "y");
  c_.EndUnit(true);
  c_.Flush();
  EXPECT_EQ(Committed(1), "x");
  EXPECT_EQ(Committed(2), "y");

  c_.BeginUnit();
  Write(1, "kept, not yet committed");
  c_.EndUnit(true);
  c_.BeginUnit();
  c_.LastWriteOfUnit();
  Write(3, "z");
  try {
    c_.EndUnit(false);
    FAIL() << "taking back a write made without a savepoint must lose the batch";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrWriteRefused);
    EXPECT_NE(e.Description().find("the 2 rows written since the last commit were rolled back"), std::string::npos)
        << e.Description();
  }
  c_.Flush();
  EXPECT_EQ(Committed(1), "x");
  EXPECT_EQ(Committed(3), "c");
  EXPECT_EQ(seen(), 2);
}

TEST_F(WriteUnits, AWriteTheFileRefusesLosesTheBatchAndSaysSoUntilReported) {
  c_.Execute("PRAGMA max_page_count = " + c_.OpenResultset("PRAGMA page_count")->Value(0).ToText());
  CommitHold hold(c_);
  c_.BeginUnit();
  Write(1, "kept, not yet committed");
  c_.EndUnit(true);
  c_.BeginUnit();
  try {
    Write(2, std::string(200000, 'w'));  // needs pages the file may not grow to
    FAIL() << "the write should have been refused";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrWriteRefused);
    EXPECT_NE(e.Description().find("database or disk is full"), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("rolled back"), std::string::npos) << e.Description();
  }
  // A caller that swallowed the report still cannot write into the lost
  // batch, and the unit's end reports it again.
  EXPECT_THROW(Write(3, "after"), ComponentError);
  try {
    c_.EndUnit(true);
    FAIL() << "the end of the unit should report the lost batch";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrWriteRefused);
  }
  EXPECT_EQ(Committed(1), "a");
  EXPECT_EQ(Committed(3), "c");
  // Reported once, the connection writes again.
  c_.Flush();
  c_.BeginUnit();
  Write(3, "again");
  c_.EndUnit(true);
  c_.Flush();
  EXPECT_EQ(Committed(3), "again");
}

// A writer of another connection, waiting with sqlite's own busy timeout,
// gets in between two commits of a long run of units rather than at its
// end, with a rollback journal as in WAL mode.
TEST_F(WriteUnits, AnotherWriterGetsInBetweenCommitsInEitherJournalMode) {
  for (const char* mode : {"delete", "wal"}) {
    SCOPED_TRACE(mode);
    c_.Close();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, ("PRAGMA journal_mode = " + std::string(mode)).c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_busy_timeout(other, 20000);
    c_.EstablishConnection();
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> inserted{false};
    Clock::time_point asked, done;
    const std::string insert = std::string("INSERT INTO calls VALUES (") + (mode[0] == 'w' ? "101" : "100") +
                               ", '" + mode + "')";
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      asked = Clock::now();
      EXPECT_EQ(sqlite3_exec(other, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      done = Clock::now();
      inserted = true;
    });
    const auto until = Clock::now() + std::chrono::milliseconds(3000);
    {
      CommitHold hold(c_);
      for (int i = 0; Clock::now() < until; ++i) {
        c_.BeginUnit();
        Write(1 + i % 3, "v" + std::to_string(i));
        c_.EndUnit(true);
      }
      EXPECT_TRUE(inserted.load()) << "the other writer waited for the end of the run";
    }
    writer.join();
    sqlite3_close(other);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(done - asked).count(), 2000);
  }
  EXPECT_EQ(Committed(100), "delete");
  EXPECT_EQ(Committed(101), "wal");
}

}  // namespace
}  // namespace ordalis::rdo
