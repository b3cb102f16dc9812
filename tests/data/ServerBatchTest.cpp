// Writing to a database server (PostgreSQL through psqlODBC): the write
// batch and its commits, units of writes that commit whole or not at all,
// statements that fail mid-batch, the session going away, and reading in
// blocks, key ranges and server cursors.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "PgCluster.h"
#include "Raised.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"

namespace ordalis::rdo {
namespace {

using ordalis::testing::PgCluster;
using ordalis::testing::Raised;

class ServerBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    PgCluster& cluster = PgCluster::Instance();
    database_ = cluster.CreateDatabase();
    connect_ = cluster.ConnectString(database_);
    writer_ = Open();
    writer_->Execute("CREATE TABLE calls (id INTEGER PRIMARY KEY, s varchar(20), i integer, t text)");
    writer_->Execute("INSERT INTO calls (id, s, i) SELECT g, 'r' || g, g * 10 FROM generate_series(1, 3000) g");
  }

  std::unique_ptr<RdoConnection> Open() {
    auto c = std::make_unique<RdoConnection>();
    c->SetConnect(connect_);
    c->EstablishConnection();
    return c;
  }

  // Column i of a row as another session sees it (what is committed).
  std::int64_t Committed(int id) {
    auto c = Open();
    auto rs = c->OpenResultset("SELECT i FROM calls WHERE id = " + std::to_string(id));
    return rs->Eof() ? -1 : rs->Value(0).ToInteger();
  }

  // Sets i of one row through an updatable resultset of the writer.
  void SetI(int id, std::int64_t value) {
    auto rs = writer_->OpenResultset("SELECT * FROM calls WHERE id = ?", {std::to_string(id)}, CursorType::Keyset,
                                     LockType::OptimisticRowVer);
    ASSERT_FALSE(rs->Eof()) << id;
    rs->Edit();
    rs->SetValue("i", value);
    rs->Update();
  }

  std::string database_, connect_;
  std::unique_ptr<RdoConnection> writer_;
};

TEST_F(ServerBatch, SessionsTakingTurnsWriteOneAfterTheOther) {
  auto other = Open();
  CommitHold hold(*writer_);
  writer_->TakeTurn();
  SetI(1, 111);
  // The other session's turn comes when the writer's transaction ends; what
  // it reads then is what the writer left.
  auto turn = std::async(std::launch::async, [&] {
    other->TakeTurn();
    auto rs = other->OpenResultset("SELECT i FROM calls WHERE id = 1");
    return rs->Value(0).ToInteger();
  });
  EXPECT_EQ(turn.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  writer_->Flush();
  ASSERT_EQ(turn.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(turn.get(), 111);
  // With writes of its own not yet committed, a session asks for its turn
  // without waiting on the server (a wait that failed would cost those
  // writes), again and again until the turn is free...
  SetI(2, 222);
  auto late = std::async(std::launch::async, [&] { writer_->TakeTurn(); });
  EXPECT_EQ(late.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  other->Flush();
  ASSERT_EQ(late.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  late.get();
  writer_->Flush();
  EXPECT_EQ(Committed(2), 222);
  // ... or until the query timeout passed: it then goes on without it.
  SetI(3, 333);
  other->TakeTurn();
  writer_->SetQueryTimeout(1);
  const auto asked = std::chrono::steady_clock::now();
  writer_->TakeTurn();
  EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(900));
  writer_->Flush();
  EXPECT_EQ(Committed(3), 333);
  other->Flush();
}

TEST_F(ServerBatch, WritesWaitForTheBatchToCommit) {
  {
    CommitHold hold(*writer_);
    SetI(1, 111);
    SetI(2, 222);
    EXPECT_EQ(Committed(1), 10) << "a row written is not seen by others before the batch commits";
    writer_->Flush();
    EXPECT_EQ(Committed(1), 111);
    SetI(3, 333);
    // A batch older than its time limit commits before the next write.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SetI(4, 444);
    EXPECT_EQ(Committed(3), 333);
    EXPECT_EQ(Committed(4), 40);
  }
  EXPECT_EQ(Committed(4), 444) << "ending the hold commits";
  // Without a hold the resultset's close commits; the connection's close too.
  SetI(5, 555);
  EXPECT_EQ(Committed(5), 555);
  CommitHold hold(*writer_);
  SetI(6, 666);
  writer_->Close();
  EXPECT_EQ(Committed(6), 666);
}

TEST_F(ServerBatch, UnitsCommitWholeOrNotAtAll) {
  CommitHold hold(*writer_);
  // A unit given up while nothing else is in the batch, ...
  writer_->BeginUnit();
  SetI(1, 1);
  SetI(2, 2);
  writer_->EndUnit(false);
  // ... one kept, one given up after it (back to its savepoint), one kept.
  writer_->BeginUnit();
  SetI(3, 3);
  writer_->EndUnit(true);
  writer_->BeginUnit();
  SetI(4, 4);
  SetI(3, 33);
  writer_->EndUnit(false);
  writer_->BeginUnit();
  SetI(5, 5);
  // A flush inside a unit waits for the unit's end.
  writer_->Flush();
  EXPECT_EQ(Committed(5), 50);
  SetI(6, 6);
  writer_->EndUnit(true);
  EXPECT_EQ(Committed(6), 6);
  EXPECT_EQ(Committed(1), 10);
  EXPECT_EQ(Committed(2), 20);
  EXPECT_EQ(Committed(3), 3);
  EXPECT_EQ(Committed(4), 40);
  EXPECT_EQ(Committed(5), 5);

  // A due commit never splits a unit: the unit's rows stay out of sight
  // until it ends, however old the batch.
  writer_->BeginUnit();
  SetI(7, 7);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  SetI(8, 8);
  EXPECT_EQ(Committed(7), 70);
  writer_->EndUnit(true);
  writer_->Flush();
  EXPECT_EQ(Committed(8), 8);
}

// Processes that write the same rows: each kept unit commits at its end,
// so that its locks are not held while the next calls are rated.
TEST_F(ServerBatch, WithSharedRowsEachKeptUnitCommitsAtItsEnd) {
  CommitHold hold(*writer_);
  writer_->ShareRows(true);
  writer_->BeginUnit();
  SetI(1, 1);
  SetI(2, 2);
  EXPECT_EQ(Committed(1), 10) << "a unit is never split";
  writer_->EndUnit(true);
  EXPECT_EQ(Committed(1), 1);
  EXPECT_EQ(Committed(2), 2);
  writer_->BeginUnit();
  SetI(3, 3);
  writer_->EndUnit(false);
  // Another session takes the row the unit locked at once.
  auto other = Open();
  other->Execute("SET statement_timeout = 2000");
  other->Execute("UPDATE calls SET i = 301 WHERE id = 3");
  EXPECT_EQ(Committed(3), 301);
  writer_->ShareRows(false);
  writer_->BeginUnit();
  SetI(4, 4);
  writer_->EndUnit(true);
  EXPECT_EQ(Committed(4), 40) << "without shared rows the batch waits";
  writer_->Flush();

  // Rows a resultset locked (from its first update on) are the process's
  // own: units that wrote only those need no commit.
  writer_->ShareRows(true);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  for (; rs->Value("id").ToInteger() <= 1001; rs->MoveNext()) {
    writer_->BeginUnit();
    rs->Edit();
    rs->SetValue("i", -rs->Value("id").ToInteger());
    rs->Update();
    writer_->EndUnit(true);
  }
  EXPECT_EQ(Committed(1000), 10000) << "a held row waits for the batch";
  EXPECT_EQ(Committed(1001), 10010);
  rs->Close();
}

// A process's own rows (its shard of the calls) are written with the check
// once a commit released their lock, and still wait for the batch: only a
// unit that wrote rows other processes write commits at its end.
TEST_F(ServerBatch, OwnedRowsWaitForTheBatchAfterASharedUnitCommitted) {
  CommitHold hold(*writer_);
  writer_->ShareRows(true);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->SetRowsOwned();
  auto edit = [&](std::int64_t value) {
    rs->Edit();
    rs->SetValue("i", value);
    rs->Update();
    rs->MoveNext();
  };
  writer_->BeginUnit();
  edit(1);
  SetI(3000, 3);
  writer_->EndUnit(true);
  EXPECT_EQ(Committed(1), 1);
  EXPECT_EQ(Committed(3000), 3);
  for (std::int64_t value : {2, 3}) {
    writer_->BeginUnit();
    edit(value);
    writer_->EndUnit(true);
  }
  EXPECT_EQ(Committed(2), 20);
  // Written with the check: a row another session changed is not overwritten.
  Open()->Execute("UPDATE calls SET i = 44 WHERE id = 4");
  writer_->BeginUnit();
  EXPECT_EQ(Raised([&] { edit(4); }).Number(), kErrRowChanged);
  writer_->EndUnit(false);
  writer_->Flush();
  EXPECT_EQ(Committed(2), 2);
  EXPECT_EQ(Committed(3), 3);
  EXPECT_EQ(Committed(4), 44);
  rs->Close();
}

// After such a commit, the owned rows of the range from the current one on
// are locked again as far as they are as they were read, and their updates
// wait for the batch again; a row another session changed since is written
// with the check.
TEST_F(ServerBatch, OwnedRowsAreLockedAgainAfterASharedUnitCommitted) {
  writer_->Execute("SET lock_timeout = '2s'");
  auto other = Open();
  other->Execute("SET lock_timeout = '200ms'");
  CommitHold hold(*writer_);
  writer_->ShareRows(true);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->SetRowsOwned();
  auto unit = [&](bool shared) {
    const std::int64_t id = rs->Value("id").ToInteger();
    writer_->BeginUnit();
    rs->Edit();
    rs->SetValue("i", -id);
    rs->Update();
    if (shared) SetI(3000, 3);
    writer_->EndUnit(true);
    rs->MoveNext();
  };
  unit(false);
  // Into the second range, which was read ahead.
  while (rs->Value("id").ToInteger() < 1001) rs->MoveNext();
  unit(true);
  EXPECT_EQ(Committed(1001), -1001);
  other->Execute("UPDATE calls SET i = 44 WHERE id = 1004");
  unit(false);
  EXPECT_EQ(Committed(1002), 10020) << "held for the batch";
  ComponentError e = Raised([&] { other->Execute("UPDATE calls SET t = 'x' WHERE id = 1003"); });
  EXPECT_NE(e.Description().find("55P03"), std::string::npos) << e.Description();
  unit(false);
  EXPECT_EQ(Raised([&] { unit(false); }).Number(), kErrRowChanged);
  rs->CancelUpdate();
  writer_->EndUnit(false);
  writer_->Flush();
  EXPECT_EQ(Committed(1002), -1002);
  EXPECT_EQ(Committed(1003), -1003);
  EXPECT_EQ(Committed(1004), 44);
  rs->Close();
}

// Where the caller commits, the batch commits only on Flush, not when it is
// old, a writer closes or a unit wrote shared rows: CommitDue tells the
// caller instead. Close takes back what was not flushed.
TEST_F(ServerBatch, WhereTheCallerCommitsOnlyFlushCommits) {
  ASSERT_TRUE(writer_->CommitOnFlush(true));
  writer_->ShareRows(true);
  SetI(1, 1);
  EXPECT_FALSE(writer_->CommitDue());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(writer_->CommitDue());
  SetI(2, 2);
  EXPECT_EQ(Committed(1), 10);
  writer_->Flush();
  EXPECT_EQ(Committed(2), 2);
  EXPECT_FALSE(writer_->CommitDue());
  writer_->BeginUnit();
  SetI(3, 3);
  EXPECT_FALSE(writer_->CommitDue()) << "inside a unit";
  writer_->EndUnit(true);
  EXPECT_TRUE(writer_->CommitDue());
  EXPECT_EQ(Committed(3), 30);
  writer_->Close();
  EXPECT_EQ(Committed(3), 30);
}

// Row updates of another table do not send the held rows first; units
// still commit or go back whole, and a refused update takes back only its
// own unit.
TEST_F(ServerBatch, HeldRowsWaitWhileAnotherTablesRowsAreWritten) {
  writer_->Execute("CREATE TABLE totals (id integer PRIMARY KEY, n integer CHECK (n < 1000))");
  writer_->Execute("INSERT INTO totals VALUES (1, 0)");
  CommitHold hold(*writer_);
  std::unique_ptr<RdoResultset> rs;
  std::int64_t id = 0;
  auto call = [&](std::int64_t n, bool keep) {
    writer_->BeginUnit();
    id = rs->Value("id").ToInteger();
    rs->Edit();
    rs->SetValue("i", -n);
    rs->Update();
    auto total = writer_->OpenResultset("SELECT * FROM totals WHERE id = 1", CursorType::Keyset,
                                        LockType::OptimisticRowVer);
    total->Edit();
    total->SetValue("n", n);
    try {
      total->Update();
    } catch (const ComponentError&) {
      keep = false;
    }
    writer_->EndUnit(keep);
    rs->MoveNext();
    return id;
  };
  auto total = [&] { return Open()->OpenResultset("SELECT n FROM totals WHERE id = 1")->Value(0).ToInteger(); };

  // Units kept and dropped while the rows of the block are held.
  rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  call(1, true);
  call(2, true);
  call(3, false);
  call(4, true);
  call(5, false);
  writer_->Flush();
  EXPECT_EQ(Committed(1), -1);
  EXPECT_EQ(Committed(3), 30);
  EXPECT_EQ(Committed(4), -4);
  EXPECT_EQ(Committed(5), 50);
  EXPECT_EQ(total(), 4);
  rs->Close();

  // A refused update while held rows of earlier units wait.
  rs = writer_->OpenResultset("SELECT * FROM calls WHERE id > 1000", CursorType::Keyset, LockType::OptimisticRowVer);
  const std::int64_t kept = call(7, true);
  const std::int64_t refused = call(2000, true);
  const std::int64_t after = call(9, true);
  writer_->Flush();
  EXPECT_EQ(Committed(static_cast<int>(kept)), -7);
  EXPECT_EQ(Committed(static_cast<int>(refused)), refused * 10);
  EXPECT_EQ(Committed(static_cast<int>(after)), -9);
  EXPECT_EQ(total(), 9);
  rs->Close();
}

TEST_F(ServerBatch, AUnitWhoseFirstWriteMetAChangedRowGoesOnAfterADueCommit) {
  CommitHold hold(*writer_);
  SetI(1, 1);
  writer_->BeginUnit();
  // The unit's first write finds the row changed by another session and
  // writes nothing; the batch then falls due before its next write.
  auto rs = writer_->OpenResultset("SELECT * FROM calls WHERE id = 2", CursorType::Keyset,
                                   LockType::OptimisticRowVer);
  Open()->Execute("UPDATE calls SET i = 21 WHERE id = 2");
  rs->Edit();
  rs->SetValue("i", std::int64_t{22});
  EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), kErrRowChanged);
  rs->Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  SetI(3, 3);
  writer_->EndUnit(true);
  // The units after it take and give up their savepoints as usual.
  writer_->BeginUnit();
  SetI(4, 4);
  writer_->EndUnit(true);
  writer_->BeginUnit();
  SetI(5, 5);
  writer_->EndUnit(false);
  writer_->Flush();
  EXPECT_EQ(Committed(1), 1);
  EXPECT_EQ(Committed(2), 21);
  EXPECT_EQ(Committed(3), 3);
  EXPECT_EQ(Committed(4), 4);
  EXPECT_EQ(Committed(5), 50);
}

TEST_F(ServerBatch, AFailedStatementUndoesWhatItMustAndSaysSo) {
  CommitHold hold(*writer_);
  SetI(1, 1);
  SetI(2, 2);
  // A write that meets a key another session took is undone alone.
  ComponentError taken = Raised([&] { writer_->Execute("INSERT INTO calls (id) VALUES (3)"); });
  EXPECT_NE(taken.Description().find("23505"), std::string::npos) << taken.Description();
  EXPECT_EQ(taken.Description().find("rolled back"), std::string::npos) << taken.Description();
  writer_->Flush();
  EXPECT_EQ(Committed(1), 1);
  EXPECT_EQ(Committed(2), 2);

  // Any other failure aborts the server's transaction. While the batch
  // holds row updates only, they are written again: outside a unit nothing
  // else is lost.
  SetI(3, 3);
  ComponentError bad = Raised([&] { writer_->OpenResultset("SELECT no_such_column FROM calls"); });
  EXPECT_EQ(bad.Number(), kErrDataAccess) << bad.Description();
  EXPECT_EQ(bad.Description().find("rolled back"), std::string::npos) << bad.Description();
  SetI(4, 4);
  // Inside a unit only the unit goes back, and it takes no further writes.
  writer_->BeginUnit();
  SetI(5, 5);
  ComponentError inside = Raised([&] { writer_->OpenResultset("SELECT no_such_column FROM calls"); });
  EXPECT_NE(inside.Description().find("the 1 rows this call wrote were rolled back"), std::string::npos)
      << inside.Description();
  EXPECT_NE(Raised([&] { SetI(6, 6); }).Description().find("cannot be saved in part"), std::string::npos);
  writer_->EndUnit(false);
  // A unit given up goes back alone too.
  writer_->BeginUnit();
  SetI(6, 6);
  writer_->EndUnit(false);
  writer_->BeginUnit();
  SetI(7, 7);
  writer_->EndUnit(true);
  // A unit that goes on with a statement gets its savepoint then: its
  // failure still takes back the unit alone.
  writer_->BeginUnit();
  SetI(8, 8);
  writer_->Execute("UPDATE calls SET t = 'x' WHERE id = 8");
  Raised([&] { writer_->OpenResultset("SELECT no_such_column FROM calls"); });
  writer_->EndUnit(false);
  writer_->Flush();
  for (int id : {3, 4, 7}) EXPECT_EQ(Committed(id), id);
  for (int id : {5, 6, 8}) EXPECT_EQ(Committed(id), id * 10);

  // Once the batch holds another kind of write, a failure outside a unit
  // takes the batch back, and the error says so.
  SetI(9, 9);
  writer_->Execute("UPDATE calls SET t = 'y' WHERE id = 9");
  ComponentError lost = Raised([&] { writer_->OpenResultset("SELECT no_such_column FROM calls"); });
  EXPECT_EQ(lost.Number(), kErrWriteRefused);
  EXPECT_NE(lost.Description().find("the 2 rows written since the last commit were rolled back"), std::string::npos)
      << lost.Description();
  writer_->Flush();
  EXPECT_EQ(Committed(9), 90);
}

// The row updates below share one statement, run again with values of other
// kinds and lengths in the same parameters (its buffers are kept).
TEST_F(ServerBatch, AStatementRunAgainTakesValuesOfOtherLengthsAndNulls) {
  const std::string long_text(20, 'x');
  const Variant values[] = {Variant(), Variant(long_text), Variant(std::string("y")), Variant(),
                            Variant(std::string("zz"))};
  for (int id = 1; id <= 5; ++id) {
    auto rs = writer_->OpenResultset("SELECT * FROM calls WHERE id = ?", {std::to_string(id)}, CursorType::Keyset,
                                     LockType::OptimisticRowVer);
    rs->Edit();
    rs->SetValue("s", values[id - 1]);
    rs->Update();
  }
  auto rs = Open()->OpenResultset("SELECT s FROM calls WHERE id <= 5 ORDER BY id");
  for (const Variant& expected : values) {
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Value(0).IsNull(), expected.IsNull());
    if (!expected.IsNull()) {
      EXPECT_EQ(rs->Value(0).ToText(), expected.ToText());
    }
    rs->MoveNext();
  }
}

TEST_F(ServerBatch, ATableStampHoldsUntilThisSessionWritesTheTableOrItAges) {
  writer_->Execute("CREATE TABLE book (id INTEGER PRIMARY KEY, n varchar(20))");
  CommitHold hold(*writer_);
  // A stamp may also change because it aged: "holds" is checked only when
  // the steps took less than its life.
  auto started = std::chrono::steady_clock::now();
  auto young = [&] { return std::chrono::steady_clock::now() - started < std::chrono::milliseconds(200); };
  const auto calls = writer_->TableStamp("calls"), book = writer_->TableStamp("BOOK");
  ASSERT_TRUE(calls && book);
  EXPECT_NE(*calls, *book);
  writer_->ExecuteWith("INSERT INTO book (id, n) VALUES (?, ?)", {Variant(std::int64_t{1}), Variant(std::string("x"))});
  EXPECT_NE(writer_->TableStamp("public.\"book\""), book) << "a statement wrote the table";
  if (young()) {
    EXPECT_EQ(writer_->TableStamp("calls"), calls) << "another table was written";
  }

  started = std::chrono::steady_clock::now();
  const auto book_after = writer_->TableStamp("book");
  SetI(1, 5);
  EXPECT_NE(writer_->TableStamp("calls"), calls) << "a row was written through a resultset";
  if (young()) {
    EXPECT_EQ(writer_->TableStamp("book"), book_after);
  }

  const auto before_index = writer_->TableStamp("book");
  writer_->Execute("CREATE INDEX book_n ON book (n)");
  EXPECT_NE(writer_->TableStamp("book"), before_index) << "a statement that names no table it writes may write any";

  const auto aging = writer_->TableStamp("book");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_NE(writer_->TableStamp("book"), aging) << "other sessions' commits are seen once a stamp ages";
}

// Blocks after the first that a writing resultset reads are locked, and
// their rows' updates held to be written together (a row that would stay
// as it is not at all): each unit still keeps or drops its row alone, and a
// held row the server refuses loses the batch.
TEST_F(ServerBatch, RowsOfLockedBlocksAreWrittenTogether) {
  writer_->Execute("ALTER TABLE calls ADD CONSTRAINT small CHECK (i < 1000000)");
  auto other = Open();
  other->Execute("SET lock_timeout = '200ms'");
  CommitHold hold(*writer_);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  for (; !rs->Eof(); rs->MoveNext()) {
    const std::int64_t id = rs->Value("id").ToInteger();
    writer_->BeginUnit();
    rs->Edit();
    rs->SetValue("i", -id);
    rs->Update();
    if (id == 1500) {
      rs->Edit();
      rs->SetValue("s", "twice");
      rs->Update();
    }
    writer_->EndUnit(id != 1600);
    if (id == 1700) {
      ComponentError e = Raised([&] { other->Execute("UPDATE calls SET t = 'x' WHERE id = 1800"); });
      EXPECT_NE(e.Description().find("55P03"), std::string::npos) << "a row of the block is locked: " << e.Description();
      EXPECT_EQ(Committed(1650), 16500);
    }
  }
  rs->Close();
  writer_->Flush();
  EXPECT_EQ(Committed(999), -999);
  EXPECT_EQ(Committed(1500), -1500);
  EXPECT_EQ(Open()->OpenResultset("SELECT s FROM calls WHERE id = 1500")->Value(0).ToText(), "twice");
  EXPECT_EQ(Committed(1600), 16000) << "the unit given up keeps its row as it was";
  EXPECT_EQ(Committed(2999), -2999);

  // Values as they are already are not written at all.
  writer_->Execute("CREATE TABLE updates (n integer)");
  writer_->Execute(
      "CREATE FUNCTION count_update() RETURNS trigger AS $$ BEGIN INSERT INTO updates VALUES (1); RETURN NEW; END $$ "
      "LANGUAGE plpgsql");
  writer_->Execute("CREATE TRIGGER counted AFTER UPDATE ON calls FOR EACH ROW EXECUTE FUNCTION count_update()");
  rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  for (; !rs->Eof(); rs->MoveNext()) {
    rs->Edit();
    rs->SetValue("i", rs->Value("i"));
    rs->Update();
  }
  rs->Close();
  writer_->Flush();
  EXPECT_EQ(Open()->OpenResultset("SELECT count(*) FROM updates")->Value(0).ToInteger(), 0);
  writer_->Execute("DROP TRIGGER counted ON calls");

  rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  ComponentError e = Raised([&] {
    for (; !rs->Eof(); rs->MoveNext()) {
      const std::int64_t id = rs->Value("id").ToInteger();
      rs->Edit();
      rs->SetValue("i", id == 2500 ? 2000000 : 3 * id);
      rs->Update();
    }
    writer_->Flush();
  });
  EXPECT_EQ(e.Number(), kErrWriteRefused) << e.Description();
  EXPECT_NE(e.Description().find("small"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("rolled back"), std::string::npos) << e.Description();
  // Locked blocks commit together once the batch is due: the blocks before
  // went with the lost batch unless it was due by then.
  EXPECT_TRUE(Committed(999) == -999 || Committed(999) == 2997) << Committed(999);
  EXPECT_TRUE(Committed(1500) == -1500 || Committed(1500) == 4500) << Committed(1500);
  EXPECT_EQ(Committed(2400), -2400) << "the lost batch's rows keep their values";
}

// The block read before a resultset's first update is locked at that
// update: its rows are then written together, unless one of them changed
// since it was read; a row another session holds locked does not make the
// update wait, and its block's rows go one by one with their check.
TEST_F(ServerBatch, TheBlockOfTheFirstUpdateIsLockedWhenItsRowsAreAsRead) {
  writer_->Execute("SET lock_timeout = '2s'");
  auto other = Open();
  other->Execute("SET lock_timeout = '200ms'");
  CommitHold hold(*writer_);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  auto update = [&] {
    rs->Edit();
    rs->SetValue("s", "mine");
    rs->Update();
  };
  update();
  ComponentError e = Raised([&] { other->Execute("UPDATE calls SET t = 'x' WHERE id = 900"); });
  EXPECT_NE(e.Description().find("55P03"), std::string::npos) << e.Description();
  for (rs->MoveNext(); rs->Value("id").ToInteger() <= 1000; rs->MoveNext()) update();
  EXPECT_EQ(Committed(1000), 10000) << "held rows wait for the batch";
  rs->Close();
  writer_->Flush();

  rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  other->Execute("UPDATE calls SET s = 'theirs' WHERE id = 500");
  auto holder = Open();
  {
    CommitHold held(*holder);
    holder->Execute("UPDATE calls SET s = 'held' WHERE id = 700");
    update();
    for (rs->MoveNext(); rs->Value("id").ToInteger() < 700; rs->MoveNext()) {
      if (rs->Value("id").ToInteger() != 500) {
        update();
        continue;
      }
      EXPECT_EQ(Raised(update).Number(), kErrRowChanged);
      rs->CancelUpdate();
    }
  }
  EXPECT_EQ(Raised(update).Number(), kErrRowChanged);
  rs->Close();
  writer_->Flush();
  auto stored = Open()->OpenResultset("SELECT string_agg(DISTINCT s, ',' ORDER BY s) FROM calls WHERE id <= 1000");
  EXPECT_EQ(stored->Value(0).ToText(), "held,mine,theirs");
}

// The next range is read ahead on another session while the rows before it
// are written; a range whose rows another session changed, deleted or added
// since is read again, locked, as it is now.
TEST_F(ServerBatch, RangesReadAheadAreTakenOnlyWhenLockedAsTheyWereRead) {
  auto other = Open();
  CommitHold hold(*writer_);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  std::vector<std::int64_t> visited;
  for (; !rs->Eof(); rs->MoveNext()) {
    const std::int64_t id = rs->Value("id").ToInteger();
    visited.push_back(id);
    if (id == 1500) EXPECT_EQ(rs->Value("s").ToText(), "theirs");
    if (id == 2200) EXPECT_EQ(rs->Value("s").ToText(), "again");
    if (id == 2300) EXPECT_EQ(rs->Value("i").ToInteger(), -1);
    rs->Edit();
    rs->SetValue("t", "mine");
    rs->Update();
    if (id == 1 || id == 1001) {
      // The range after this one is on its way, or read already.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (id == 1) {
        other->Execute("UPDATE calls SET s = 'theirs' WHERE id = 1500");
      } else {
        other->Execute("DELETE FROM calls WHERE id = 2200");
        other->Execute("INSERT INTO calls (id, s, i) VALUES (2200, 'again', -2)");
        other->Execute("UPDATE calls SET i = -1 WHERE id = 2300");
        other->Execute("DELETE FROM calls WHERE id = 2400");
      }
    }
  }
  rs->Close();
  writer_->Flush();
  EXPECT_EQ(visited.size(), 2999u);
  EXPECT_EQ(std::count(visited.begin(), visited.end(), 2400), 0);
  auto stored = Open()->OpenResultset("SELECT count(*) FROM calls WHERE t = 'mine'");
  EXPECT_EQ(stored->Value(0).ToInteger(), 2999);
}

// Date-times read ahead (as text) read exactly as the driver reads them,
// the ones the text form does not hold in the usual way included.
// Text of bounded columns comes in blocks as the bytes the server sent:
// characters of one to four bytes fill a column to its declared size, and
// every value reads as when the row is read value by value.
TEST_F(ServerBatch, TextReadInBlocksReadsAsReadValueByValue) {
  writer_->Execute("CREATE TABLE texts (id integer PRIMARY KEY, v varchar(3), c char(3), x text)");
  const std::vector<std::string> stored = {"\U0001F600\U0001F600\U0001F600", "\u00e0\u00e8\u20ac", "abc", "",
                                           "a\U0001F600"};
  for (std::size_t i = 0; i < stored.size(); ++i)
    writer_->ExecuteWith("INSERT INTO texts VALUES (?, ?, ?, ?)",
                         {Variant(static_cast<std::int64_t>(i)), Variant(stored[i]), Variant(stored[i]),
                          Variant(stored[i])});
  writer_->Execute("INSERT INTO texts (id) VALUES (99)");
  auto by_value = writer_->OpenResultset("SELECT id, v, c, x FROM texts ORDER BY id");  // x: no size
  auto in_blocks = writer_->OpenResultset("SELECT id, v, c FROM texts ORDER BY id");
  auto ranged = writer_->OpenResultset("SELECT * FROM texts", CursorType::Keyset, LockType::OptimisticRowVer);
  for (std::size_t i = 0; i <= stored.size(); ++i) {
    ASSERT_FALSE(by_value->Eof() || in_blocks->Eof() || ranged->Eof()) << i;
    EXPECT_EQ(in_blocks->Value("v"), i < stored.size() ? Variant(stored[i]) : Variant()) << i;
    for (const char* column : {"v", "c"}) {
      EXPECT_EQ(in_blocks->Value(column), by_value->Value(column)) << column << " " << i;
      EXPECT_EQ(ranged->Value(column), by_value->Value(column)) << column << " " << i;
    }
    by_value->MoveNext();
    in_blocks->MoveNext();
    ranged->MoveNext();
  }
  EXPECT_TRUE(in_blocks->Eof());
}

// A row with a column of unbounded text is read value by value: its time
// stamps still read in whole seconds, the fraction dropped as in a block.
TEST_F(ServerBatch, DateTimesReadValueByValueReadAsInABlock) {
  writer_->Execute("ALTER TABLE calls ADD COLUMN w timestamp");
  writer_->Execute("UPDATE calls SET w = '2024-01-01 10:00:00.999', t = 'x' WHERE id = 1");
  writer_->Execute("UPDATE calls SET w = '2024-01-01 10:00:00' WHERE id = 2");
  writer_->Execute("UPDATE calls SET w = '0100-01-01 00:00:00.5' WHERE id = 3");
  const Variant whole = Variant::FromDate(dt::FromCivil({2024, 1, 1, 10, 0, 0}));
  auto by_value = writer_->OpenResultset("SELECT w, t FROM calls WHERE id <= 3 ORDER BY id");
  auto in_block = writer_->OpenResultset("SELECT w FROM calls WHERE id <= 3 ORDER BY id");
  for (int id = 1; id <= 3; ++id, by_value->MoveNext(), in_block->MoveNext()) {
    EXPECT_EQ(by_value->Value(0), in_block->Value(0)) << id;
    if (id < 3) EXPECT_EQ(by_value->Value(0), whole) << id;
  }
}

// Rows read ahead (as the text of a row value) read exactly as the driver
// reads them: every kind of column, text that needs quoting in a row value,
// long text, NULLs, and date-times the text form does not hold in the usual
// way (which send their range to the driver).
TEST_F(ServerBatch, RowsReadAheadReadAsTheDriverReadsThem) {
  writer_->Execute(
      "ALTER TABLE calls ADD COLUMN w timestamp, ADD COLUMN z timestamptz, ADD COLUMN m numeric(19,4), "
      "ADD COLUMN b bigint, ADD COLUMN h smallint, ADD COLUMN r real, ADD COLUMN d double precision, "
      "ADD COLUMN f boolean, ADD COLUMN c char(4)");
  writer_->Execute(
      "UPDATE calls SET w = TIMESTAMP '1899-12-30 00:00:00' + (id * 7919) * INTERVAL '1 second 1 millisecond' * "
      "(CASE WHEN id % 3 = 0 THEN -1 ELSE 1 END) * 1000, z = TIMESTAMPTZ '2024-03-31 01:59:59+00' + id * INTERVAL "
      "'1 minute', m = (id * 7919 % 100000) / 10000.0 - 3, b = id * 1234567891011 * (1 - 2 * (id % 2)), "
      "h = id % 300 - 150, r = id / 7.0, d = id / 3.0, f = id % 2 = 0, "
      "c = CASE WHEN id % 5 = 0 THEN NULL ELSE chr(65 + id % 26) END, t = repeat('a,b', id % 7)");
  writer_->Execute(
      "UPDATE calls SET s = CASE id % 9 WHEN 0 THEN '' WHEN 1 THEN 'say \"hi\"' WHEN 2 THEN 'back\\slash' "
      "WHEN 3 THEN '(a, b)' WHEN 4 THEN ' padded ' WHEN 5 THEN 'NULL' WHEN 6 THEN 'citt\u00e0 \u20ac\U0001d11e' "
      "WHEN 7 THEN NULL ELSE s END");
  // Too long for one row text: the third range is read as usual, as it is
  // for its infinity too.
  writer_->Execute("UPDATE calls SET t = repeat('\u00e9\"', 3000) WHERE id IN (5, 2300)");
  writer_->Execute("UPDATE calls SET w = NULL, m = NULL, b = NULL WHERE id % 17 = 0");
  writer_->Execute("UPDATE calls SET w = 'infinity' WHERE id = 2500");
  writer_->Execute("UPDATE calls SET w = '0100-01-01 00:00:00.999999' WHERE id = 2600");
  writer_->Execute("UPDATE calls SET w = '9999-12-31 23:59:59.7' WHERE id = 2700");
  writer_->Execute("UPDATE calls SET w = '2024-01-01 10:00:00.5' WHERE id = 2601");
  writer_->Execute("UPDATE calls SET w = '2024-01-01 10:00:00.499999' WHERE id = 2602");
  writer_->Execute("UPDATE calls SET w = '2024-01-01 10:00:00.5' WHERE id = 1601");
  writer_->Execute("UPDATE calls SET w = '2024-01-01 10:00:00.999' WHERE id = 1602");
  std::vector<std::vector<Variant>> expected;
  {
    auto reader = Open();
    auto plain = reader->OpenResultset("SELECT * FROM calls ORDER BY id");
    for (; !plain->Eof(); plain->MoveNext()) {
      expected.emplace_back();
      for (int i = 0; i < plain->ColumnCount(); ++i) expected.back().push_back(plain->Value(i));
    }
  }
  ASSERT_EQ(expected.size(), 3000u);
  EXPECT_EQ(expected[1601][4], Variant::FromDate(dt::FromCivil({2024, 1, 1, 10, 0, 0})));  // the fraction dropped
  EXPECT_EQ(expected[1][1].ToText(), "back\\slash");
  EXPECT_EQ(expected[2299][3].ToText().size(), 9000u);
  CommitHold hold(*writer_);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  std::size_t n = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++n) {
    ASSERT_LT(n, expected.size());
    for (int i = 0; i < rs->ColumnCount(); ++i)
      EXPECT_EQ(rs->Value(i), expected[n][static_cast<std::size_t>(i)])
          << "id " << rs->Value("id").ToInteger() << ", " << rs->ColumnName(i);
    rs->Edit();
    rs->SetValue("i", -1);
    rs->Update();
  }
  rs->Close();
  writer_->Flush();
  EXPECT_EQ(n, 3000u);
}

// Rows written together reach the server with every kind of value as it
// was set, text that needs quoting included; a table with a column of a
// domain type is written row by row, as exactly.
TEST_F(ServerBatch, RowsWrittenTogetherKeepEveryValue) {
  writer_->Execute(
      "ALTER TABLE calls ALTER COLUMN s TYPE text, ADD COLUMN d double precision, ADD COLUMN m numeric(19,4), "
      "ADD COLUMN w timestamp, ADD COLUMN b boolean, ADD COLUMN r real");
  const std::vector<Variant> texts = {Variant("a\"b"), Variant("back\\slash"), Variant("(x,y)"), Variant(""),
                                      Variant(" lead "), Variant("àè€ {}"), Variant(), Variant("a,\"\\\"(")};
  auto text_of = [&](std::int64_t n) { return texts[static_cast<std::size_t>(n) % texts.size()]; };
  const DateTime when = dt::FromCivil({2024, 2, 29, 23, 59, 58});
  for (const char* domain : {"", "CREATE DOMAIN kept AS text NOT NULL DEFAULT 'k'"}) {
    const std::int64_t round = *domain ? 1 : 0;  // other values each round
    if (*domain) {
      writer_->Execute(domain);
      writer_->Execute("ALTER TABLE calls ADD COLUMN k kept");
      writer_ = Open();  // statements prepared before the change
    }
    {
      CommitHold hold(*writer_);
      auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
      for (; !rs->Eof(); rs->MoveNext()) {
        const std::int64_t n = rs->Value("id").ToInteger() + round;
        rs->Edit();
        rs->SetValue("s", text_of(n));
        rs->SetValue("i", n % 5 ? Variant(-n) : Variant());
        rs->SetValue("d", n / 8.0 + 0.1);
        rs->SetValue("m", Money::FromRaw(-n * 10001));
        rs->SetValue("w", Variant::FromDate(when + n));
        rs->SetValue("b", n % 2 == 0);
        rs->SetValue("r", static_cast<float>(n) / 3.0f);
        rs->Update();
      }
      rs->Close();
      writer_->Flush();
    }
    auto reader = Open();
    auto rs = reader->OpenResultset("SELECT * FROM calls ORDER BY id");
    int rows = 0;
    for (; !rs->Eof(); rs->MoveNext(), ++rows) {
      const std::int64_t n = rs->Value("id").ToInteger() + round;
      SCOPED_TRACE(std::string(domain) + " row " + std::to_string(n - round));
      ASSERT_EQ(rs->Value("s"), text_of(n));
      ASSERT_EQ(rs->Value("i"), n % 5 ? Variant(-n) : Variant());
      ASSERT_EQ(rs->Value("d"), Variant(n / 8.0 + 0.1));
      ASSERT_EQ(rs->Value("m"), Variant(Money::FromRaw(-n * 10001)));
      ASSERT_EQ(rs->Value("w"), Variant::FromDate(when + n));
      ASSERT_EQ(rs->Value("b"), Variant(n % 2 == 0));
      ASSERT_EQ(rs->Value("r"), Variant(static_cast<float>(n) / 3.0f));
    }
    EXPECT_EQ(rows, 3000);
  }
}

// While held rows are on their way to the server, a look-up of a table the
// batch has not written is answered by a second session; one of a table it
// wrote, or of a view, waits and sees the batch's own rows.
TEST_F(ServerBatch, LookUpsWhileHeldRowsAreOnTheirWaySeeWhatTheBatchWrote) {
  writer_->Execute("CREATE TABLE names (n varchar(10) PRIMARY KEY, v integer)");
  writer_->Execute("CREATE TABLE others (n varchar(10) PRIMARY KEY, v integer)");
  writer_->Execute("INSERT INTO names VALUES ('a', 1); INSERT INTO others VALUES ('a', 5)");
  writer_->Execute("CREATE VIEW names_v AS SELECT * FROM names");
  writer_->Flush();
  const std::int64_t own = writer_->OpenResultset("SELECT pg_backend_pid()")->Value(0).ToInteger();
  // The session and the value of a look-up.
  auto look_up = [&](const std::string& table) {
    auto rs = writer_->OpenResultset("SELECT pg_backend_pid() AS p, v FROM " + table + " WHERE n = ?", {"a"});
    return std::make_pair(rs->Value("p").ToInteger(), rs->Value("v").ToInteger());
  };
  CommitHold hold(*writer_);
  auto rs = writer_->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  std::int64_t reader = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    const std::int64_t id = rs->Value("id").ToInteger();
    rs->Edit();
    rs->SetValue("i", -id);
    rs->Update();
    if (id == 1100) {
      auto name = writer_->OpenResultset("SELECT * FROM names WHERE n = ?", {"a"}, CursorType::Keyset,
                                         LockType::OptimisticRowVer);
      name->Edit();
      name->SetValue("v", 2);
      name->Update();
    } else if (id == 1360) {
      const auto [session, value] = look_up("others");
      EXPECT_NE(session, own);
      EXPECT_EQ(value, 5);
      reader = session;
      EXPECT_EQ(look_up("names_v"), std::make_pair(own, std::int64_t{2})) << "a view waits for the batch";
    } else if (id == 1620) {
      EXPECT_EQ(look_up("names"), std::make_pair(own, std::int64_t{2})) << "a table the batch wrote";
    } else if (id == 1880) {
      EXPECT_EQ(look_up("others").first, reader) << "the second session is kept";
    }
  }
  rs->Close();
  writer_->Flush();
  EXPECT_EQ(Committed(1700), -1700);
  EXPECT_EQ(Open()->OpenResultset("SELECT v FROM names")->Value(0).ToInteger(), 2);
}

TEST_F(ServerBatch, AFailedCommitGivesTheServersReason) {
  writer_->Execute(
      "CREATE TABLE codes (id INTEGER PRIMARY KEY, code integer, "
      "CONSTRAINT one_code UNIQUE (code) DEFERRABLE INITIALLY DEFERRED)");
  writer_->Execute("INSERT INTO codes VALUES (1, 1), (2, 2)");
  CommitHold hold(*writer_);
  auto rs = writer_->OpenResultset("SELECT * FROM codes", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->Edit();
  rs->SetValue("code", std::int64_t{2});  // checked only at the commit
  rs->Update();
  rs->Close();
  ComponentError e = Raised([&] { writer_->Flush(); });
  EXPECT_NE(e.Description().find("The commit failed"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("one_code"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("SQLSTATE 23505"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("the 1 rows written since the last commit were rolled back"), std::string::npos)
      << e.Description();
  auto other = Open();
  EXPECT_EQ(other->OpenResultset("SELECT code FROM codes WHERE id = 1")->Value(0).ToInteger(), 1);
  SetI(1, 5);  // the connection goes on
  writer_->Flush();
  EXPECT_EQ(Committed(1), 5);
}

TEST_F(ServerBatch, SessionGoingAwayKeepsWhatWasCommitted) {
  CommitHold hold(*writer_);
  SetI(1, 1);
  writer_->Flush();
  SetI(2, 2);
  PgCluster::Instance().Psql(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + database_ + "'");
  ComponentError e = Raised([&] { SetI(3, 3); });
  EXPECT_EQ(e.Number(), kErrWriteRefused) << "the rows of the batch are lost: the run must stop";
  EXPECT_NE(e.Description().find("SQLSTATE"), std::string::npos) << e.Description();
  writer_->Close();
  EXPECT_EQ(Committed(1), 1);
  EXPECT_EQ(Committed(2), 20) << "a row not committed keeps its previous value";
  EXPECT_EQ(Committed(3), 30);
}

TEST_F(ServerBatch, ATableWithoutAPrimaryKeyIsNamed) {
  writer_->Execute("CREATE TABLE loose (a integer, b varchar(10))");
  writer_->Execute("INSERT INTO loose VALUES (1, 'x')");
  ComponentError e = Raised([&] {
    writer_->OpenResultset("SELECT * FROM loose", CursorType::Keyset, LockType::OptimisticRowVer);
  });
  EXPECT_NE(e.Description().find("The table loose has no primary key"), std::string::npos) << e.Description();
  EXPECT_EQ(writer_->OpenResultset("SELECT b FROM loose")->Value(0).ToText(), "x") << "reading it still works";
}

TEST_F(ServerBatch, RowsReadInBlocksRangesAndServerCursors) {
  std::string long_text(9000, 'x');
  long_text += "\xC3\xA8";  // beyond any bound buffer, and not ASCII
  writer_->Execute("UPDATE calls SET t = '" + long_text + "' WHERE id = 2999");
  writer_->Execute("UPDATE calls SET s = NULL WHERE id = 1500");
  CommitHold hold(*writer_);
  // An updatable range over more rows than one key range holds, rows
  // deleted by another session while it is read skipped.
  auto rs = writer_->OpenResultset("SELECT id, s, i FROM calls WHERE i > 5", CursorType::Keyset,
                                   LockType::OptimisticRowVer);
  Open()->Execute("DELETE FROM calls WHERE id IN (1700, 2600)");
  long seen = 0;
  for (std::int64_t expected = 1; !rs->Eof(); rs->MoveNext(), ++expected) {
    if (expected == 1700 || expected == 2600) ++expected;
    ASSERT_EQ(rs->Value("id").ToInteger(), expected);
    EXPECT_EQ(rs->Value("s").IsNull(), expected == 1500);
    rs->Edit();
    rs->SetValue("i", -expected);
    rs->Update();
    ++seen;
  }
  EXPECT_EQ(seen, 2998);
  rs->Close();
  writer_->Flush();
  EXPECT_EQ(Committed(2999), -2999);

  // A whole-table read goes on across the batch's commits.
  auto all = writer_->OpenResultset("SELECT * FROM calls ORDER BY id");
  long rows = 0;
  for (; !all->Eof(); all->MoveNext()) {
    if (all->Value("id").ToInteger() == 2999) {
      EXPECT_EQ(all->Value("t").ToText(), long_text);
    }
    if (++rows % 1000 == 0) {
      SetI(1, rows);
      writer_->Flush();
    }
  }
  EXPECT_EQ(rows, 2998);
  EXPECT_EQ(Committed(1), 2000);
}

}  // namespace
}  // namespace ordalis::rdo
