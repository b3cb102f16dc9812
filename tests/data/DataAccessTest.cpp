// The data-access layer on both backends: every TEST_P body runs on an
// SQLite file and on PostgreSQL through psqlODBC (PgCluster).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "PgCluster.h"
#include "Raised.h"
#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoQuery.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "ordalis/ComponentError.h"

namespace ordalis::rdo {
namespace {

using ordalis::testing::PgCluster;
using ordalis::testing::Raised;
using Clock = std::chrono::steady_clock;

enum class Db { Sqlite, Postgres };

std::string TempDir() {
  std::string pattern = "/tmp/ordalis-data-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  return pattern;
}

// Creates an empty SQLite file (the layer itself never creates one).
void CreateSqliteFile(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

// Another process holding a write lock on the database (SQLite: BEGIN
// IMMEDIATE in the sqlite3 shell; PostgreSQL: SELECT ... FOR UPDATE of one
// row in an open transaction in psql) until Release.
class LockHolder {
 public:
  LockHolder(const std::string& command, const std::string& statements, const std::string& flag) : flag_(flag) {
    std::remove(flag.c_str());
    pipe_ = ::popen((command + " >/dev/null 2>&1").c_str(), "w");
    if (!pipe_) throw std::runtime_error("popen failed");
    std::fputs(statements.c_str(), pipe_);
    std::fflush(pipe_);
    auto until = Clock::now() + std::chrono::seconds(20);
    while (::access(flag.c_str(), F_OK) != 0) {
      if (Clock::now() > until) throw std::runtime_error("the lock holder did not start: " + command);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void Release() {
    if (pipe_) ::pclose(pipe_);  // end of input: the session ends, the lock goes
    pipe_ = nullptr;
  }
  ~LockHolder() { Release(); }

 private:
  FILE* pipe_ = nullptr;
  std::string flag_;
};

class DataAccess : public ::testing::TestWithParam<Db> {
 protected:
  void SetUp() override {
    dir_ = TempDir();
    if (sqlite()) {
      path_ = dir_ + "/calls.mdb";
      CreateSqliteFile(path_);
      connect_ = "Driver={Microsoft Access Driver (*.mdb)};DBQ=" + path_ + ";";
    } else {
      PgCluster& cluster = PgCluster::Instance();
      database_ = cluster.CreateDatabase();
      connect_ = cluster.ConnectString(database_);
    }
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  bool sqlite() const { return GetParam() == Db::Sqlite; }

  std::unique_ptr<RdoConnection> Open() {
    auto c = std::make_unique<RdoConnection>();
    c->SetConnect(connect_);
    c->EstablishConnection();
    return c;
  }

  // calls(id, s varchar(20), i integer, d double, f single, m money,
  //       t date-time, b yes/no), in each backend's type names.
  void CreateCalls(RdoConnection& c) {
    std::string types = sqlite() ? "s varchar(20), i INTEGER, d DOUBLE, f SINGLE, m MONEY, t DATETIME, b BIT"
                                 : "s varchar(20), i integer, d double precision, f real, m numeric(19,4), "
                                   "t timestamp, b boolean";
    c.Execute("CREATE TABLE calls (id INTEGER PRIMARY KEY, " + types + ")");
  }

  void InsertRows(RdoConnection& c, int count) {
    std::string values;
    for (int id = 1; id <= count; ++id) {
      std::string n = std::to_string(id);
      values += (values.empty() ? "(" : ", (") + n + ", 'r" + n + "', " + std::to_string(id * 10) + ")";
    }
    c.Execute("INSERT INTO calls (id, s, i) VALUES " + values);
  }

  // The value of one column of the row with this id, read on a connection
  // of its own (what another reader sees).
  Variant Stored(const std::string& column, int id) {
    auto c = Open();
    auto rs = c->OpenResultset("SELECT " + column + " FROM calls WHERE id = " + std::to_string(id));
    if (rs->Eof()) return Variant("<no row>");
    return rs->Value(0);
  }

  LockHolder HoldLock() {
    std::string flag = dir_ + "/locked";
    if (sqlite()) return LockHolder("sqlite3 " + path_, "BEGIN IMMEDIATE;\n.shell touch " + flag + "\n", flag);
    return LockHolder(PgCluster::Instance().PsqlCommand(database_),
                      "BEGIN;\nSELECT id FROM calls WHERE id = 1 FOR UPDATE;\n\\! touch " + flag + "\n", flag);
  }

  std::string dir_, path_, database_, connect_;
};

std::string Name(const ::testing::TestParamInfo<Db>& info) {
  return info.param == Db::Sqlite ? "Sqlite" : "Postgres";
}

INSTANTIATE_TEST_SUITE_P(Backends, DataAccess, ::testing::Values(Db::Sqlite, Db::Postgres), Name);

TEST_P(DataAccess, EveryValueKindRoundTripsWithNulls) {
  auto c = Open();
  CreateCalls(*c);
  const DateTime when = dt::FromCivil({2024, 2, 29, 23, 59, 58});
  const DateTime before_epoch = -1.25;  // 1899-12-29 06:00
  {
    auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
    rs->AddNew();
    rs->SetValue("id", 1);
    rs->SetValue("s", "O'Brien \"x\" àè");
    rs->SetValue("i", std::int64_t{-32768});
    rs->SetValue("d", 0.1);
    rs->SetValue("f", 1.5f);
    rs->SetValue("m", Money::FromRaw(-1234567891));  // -123456.7891
    rs->SetValue("t", Variant::FromDate(when));
    rs->SetValue("b", true);
    rs->Update();
    rs->AddNew();
    rs->SetValue("id", 2);  // every other column NULL
    rs->Update();
    rs->AddNew();
    rs->SetValue("id", 3);
    rs->SetValue("s", "");
    rs->SetValue("i", 32767);
    rs->SetValue("m", Money::FromRaw(5));  // 0.0005
    rs->SetValue("t", Variant::FromDate(before_epoch));
    rs->SetValue("b", false);
    rs->SetValue("f", Variant());
    rs->Update();
  }
  c->Flush();
  auto rs = c->OpenResultset("SELECT id, s, i, d, f, m, t, b FROM calls ORDER BY id");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Value("s"), Variant("O'Brien \"x\" àè"));
  EXPECT_EQ(rs->Value("i"), Variant(std::int64_t{-32768}));
  EXPECT_EQ(rs->Value("d"), Variant(0.1));
  EXPECT_EQ(rs->Value("f"), Variant(1.5f));
  EXPECT_EQ(rs->Value("m"), Variant(Money::FromRaw(-1234567891)));
  EXPECT_EQ(rs->Value("t"), Variant::FromDate(when));
  EXPECT_EQ(rs->Value("b"), Variant(true));
  rs->MoveNext();
  for (int i = 1; i < rs->ColumnCount(); ++i) EXPECT_TRUE(rs->Value(i).IsNull()) << rs->ColumnName(i);
  EXPECT_EQ(rs->Value("s").ToText(), "");  // NULL joins as empty text
  rs->MoveNext();
  EXPECT_EQ(rs->Value("s"), Variant(""));  // empty text is not NULL
  EXPECT_EQ(rs->Value("i"), Variant(std::int64_t{32767}));
  EXPECT_EQ(rs->Value("m"), Variant(Money::FromRaw(5)));
  EXPECT_EQ(rs->Value("t"), Variant::FromDate(before_epoch));
  EXPECT_EQ(rs->Value("b"), Variant(false));
  EXPECT_TRUE(rs->Value("f").IsNull());
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RowCount(), 3);
}

// One statement run again with plain ASCII and with other characters
// finds each value: the parameter changes how it is sent and stays right.
TEST_P(DataAccess, TextParametersOfOneStatementMayChangeCharacterSet) {
  auto c = Open();
  CreateCalls(*c);
  const std::vector<std::string> texts = {"plain", "Società €", "", "plain too", "Ærø"};
  {
    auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      rs->AddNew();
      rs->SetValue("id", static_cast<std::int64_t>(i + 1));
      rs->SetValue("s", texts[i]);
      rs->Update();
    }
  }
  c->Flush();
  for (int round = 0; round < 2; ++round)
    for (std::size_t i = 0; i < texts.size(); ++i) {
      auto rs = c->OpenResultset("SELECT id FROM calls WHERE s = ?", {texts[i]});
      ASSERT_FALSE(rs->Eof()) << texts[i];
      EXPECT_EQ(rs->Value("id").ToInteger(), static_cast<std::int64_t>(i + 1)) << texts[i];
    }
}

TEST_P(DataAccess, EmptyResultIsBofAndEof) {
  auto c = Open();
  CreateCalls(*c);
  auto rs = c->OpenResultset("SELECT * FROM calls");
  EXPECT_TRUE(rs->Bof());
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(Raised([&] { rs->Value(0); }).Number(), kErrNoCurrentRow);
  EXPECT_EQ(Raised([&] { rs->MoveNext(); }).Number(), kErrNoCurrentRow);
  InsertRows(*c, 1);
  auto one = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  EXPECT_FALSE(one->Bof());
  EXPECT_FALSE(one->Eof());
  one->MoveNext();
  EXPECT_FALSE(one->Bof());
  EXPECT_TRUE(one->Eof());
}

TEST_P(DataAccess, ColumnsByNameIgnoreCaseByPositionAndDeclaredSize) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 1);
  auto rs = c->OpenResultset("SELECT s, i FROM calls");
  EXPECT_EQ(rs->Value("S"), Variant("r1"));
  EXPECT_EQ(rs->Value("s"), rs->Value(0));
  EXPECT_EQ(rs->ColumnIndex("I"), 1);
  EXPECT_EQ(rs->ColumnIndex("nope"), -1);
  EXPECT_EQ(rs->ColumnSize(0), 20);
  EXPECT_EQ(rs->ColumnSize(1), 0);
  ComponentError missing = Raised([&] { rs->Value("nope"); });
  EXPECT_EQ(missing.Number(), kErrColumnNotFound);
  EXPECT_NE(missing.Description().find("nope"), std::string::npos);
  EXPECT_EQ(Raised([&] { rs->Value(2); }).Number(), kErrColumnNotFound);
}

TEST_P(DataAccess, EditUpdateAndAddNewAreSeenByAnotherConnection) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 3);
  {
    auto rs = c->OpenResultset("SELECT * FROM calls WHERE id >= 2", CursorType::Keyset, LockType::OptimisticRowVer);
    int visited = 0;
    while (!rs->Eof()) {
      rs->Edit();
      rs->SetValue("s", "edited " + rs->Value("id").ToText());
      rs->SetValue("m", 1.25);  // converted to money
      EXPECT_EQ(rs->Value("m"), Variant(Money::FromRaw(12500)));
      rs->Update();
      EXPECT_EQ(rs->Value("s").ToText(), "edited " + rs->Value("id").ToText());  // the row as saved
      ++visited;
      rs->MoveNext();
    }
    EXPECT_EQ(visited, 2);
    rs->AddNew();
    rs->SetValue("id", 9);
    rs->SetValue("s", "added");
    rs->Update();
  }
  c->Close();
  EXPECT_EQ(Stored("s", 1), Variant("r1"));
  EXPECT_EQ(Stored("s", 3), Variant("edited 3"));
  EXPECT_EQ(Stored("m", 2), Variant(Money::FromRaw(12500)));
  EXPECT_EQ(Stored("s", 9), Variant("added"));
}

TEST_P(DataAccess, UpdatingTheOrderingColumnVisitsEachRowOnce) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 200);
  if (sqlite()) c->Execute("CREATE INDEX calls_i ON calls (i)");
  auto rs = c->OpenResultset("SELECT * FROM calls WHERE i > 0 ORDER BY i", CursorType::Keyset,
                             LockType::OptimisticRowVer);
  long visited = 0;
  std::int64_t last = 0;
  while (!rs->Eof()) {
    std::int64_t i = rs->Value("i").ToInteger();
    EXPECT_GT(i, last);
    last = i;
    rs->Edit();
    rs->SetValue("i", i + 100000);  // moves the row to the end of the order
    rs->Update();
    ++visited;
    rs->MoveNext();
  }
  EXPECT_EQ(visited, 200);
  EXPECT_EQ(rs->RowCount(), 200);
  rs->Close();
  EXPECT_EQ(Stored("i", 200), Variant(std::int64_t{102000}));
}

TEST_P(DataAccess, RowsAddedWhileIteratingAreNotVisited) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 5);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  int visited = 0;
  while (!rs->Eof()) {
    rs->AddNew();
    rs->SetValue("id", 100 + visited);
    rs->Update();
    ++visited;
    rs->MoveNext();
  }
  EXPECT_EQ(visited, 5);
}

TEST_P(DataAccess, CancelUpdateLeavesTheRowAsItWas) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 1);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->Edit();
  rs->SetValue("s", "changed");
  EXPECT_EQ(rs->Value("s"), Variant("changed"));
  rs->CancelUpdate();
  EXPECT_EQ(rs->Value("s"), Variant("r1"));
  EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), kErrNoCurrentRow);
  EXPECT_EQ(Raised([&] { rs->SetValue("s", "x"); }).Number(), kErrNoCurrentRow);
  rs->AddNew();
  rs->SetValue("id", 5);
  rs->CancelUpdate();
  rs->Close();
  c->Close();
  EXPECT_EQ(Stored("s", 1), Variant("r1"));
  EXPECT_EQ(Stored("s", 5), Variant("<no row>"));
}

TEST_P(DataAccess, RowChangedByAnotherWriterFailsUntilResync) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 1);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  auto other = Open();
  EXPECT_EQ(other->Execute("UPDATE calls SET s = 'theirs' WHERE id = 1"), 1);
  rs->Edit();
  rs->SetValue("s", "mine");
  ComponentError e = Raised([&] { rs->Update(); });
  EXPECT_EQ(e.Number(), kErrRowChanged);
  EXPECT_EQ(Stored("s", 1), Variant("theirs"));  // nothing overwritten
  EXPECT_EQ(rs->Value("s"), Variant("mine"));      // the edit is still pending
  rs->Resync();
  EXPECT_EQ(rs->Value("s"), Variant("mine"));
  rs->Update();
  rs->Close();
  c->Close();
  EXPECT_EQ(Stored("s", 1), Variant("mine"));
}

TEST_P(DataAccess, RowDeletedByAnotherWriterFailsUpdateAndResync) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 600);
  auto rs = c->OpenResultset("SELECT * FROM calls ORDER BY id", CursorType::Keyset, LockType::OptimisticRowVer);
  auto other = Open();
  other->Execute("DELETE FROM calls WHERE id = 1");
  other->Execute("DELETE FROM calls WHERE id = 600");  // far ahead: not read yet, so skipped
  rs->Edit();
  rs->SetValue("i", 7);
  EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), kErrRowChanged);
  EXPECT_EQ(Raised([&] { rs->Resync(); }).Number(), kErrRowChanged);
  rs->CancelUpdate();
  long visited = 1;
  for (rs->MoveNext(); !rs->Eof(); rs->MoveNext()) ++visited;
  EXPECT_EQ(visited, 599);
  EXPECT_EQ(Stored("i", 1), Variant("<no row>"));
}

TEST_P(DataAccess, TextIntoIntegerColumnIsTypeMismatchAndWritesNothing) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 1);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->Edit();
  EXPECT_EQ(Raised([&] { rs->SetValue("i", "twelve"); }).Number(), kErrTypeMismatch);
  EXPECT_EQ(Raised([&] { rs->SetValue("t", "not a date"); }).Number(), kErrTypeMismatch);
  rs->SetValue("i", " 12 ");  // numeric text converts
  EXPECT_EQ(rs->Value("i"), Variant(std::int64_t{12}));
  rs->SetValue("t", "2024-01-31");
  rs->Update();
  rs->Close();
  c->Close();
  EXPECT_EQ(Stored("i", 1), Variant(std::int64_t{12}));
  EXPECT_EQ(Stored("t", 1), Variant::FromDate(dt::FromDate(2024, 1, 31)));
}

TEST_P(DataAccess, QuotedValueRoundTripsAndCannotInjectSql) {
  auto c = Open();
  CreateCalls(*c);
  const std::string number = "0';DROP TABLE calls;";  // fits varchar(20)
  EXPECT_EQ(SqlQuote("O'Brien"), "'O''Brien'");
  c->Execute("INSERT INTO calls (id, s) VALUES (1, " + SqlQuote(number) + ")");
  auto rs = c->OpenResultset("SELECT id FROM calls WHERE s = " + SqlQuote(number));
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Value(0).ToInteger(), 1);
  EXPECT_TRUE(c->TableExists("calls"));
  EXPECT_EQ(Stored("s", 1), Variant(number));
}

TEST_P(DataAccess, LookupsWithValuesAreQuotedAndReused) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 3);
  const std::string number = "0';DROP TABLE calls;";
  c->Execute("INSERT INTO calls (id, s, i) VALUES (4, " + SqlQuote(number) + ", 40)");
  const std::string sql = "SELECT id, s FROM calls WHERE s = ? AND i > ? AND s <> 'a?b'";
  auto first = c->OpenResultset(sql, {"r2", "5"});
  // The same statement again while the first is still open, then after it.
  auto second = c->OpenResultset(sql, {number, "5"});
  ASSERT_FALSE(first->Eof());
  EXPECT_EQ(first->Value("id").ToInteger(), 2);
  ASSERT_FALSE(second->Eof());
  EXPECT_EQ(second->Value(0).ToInteger(), 4);
  first->Close();
  second->Close();
  for (int id = 1; id <= 3; ++id) {
    auto rs = c->OpenResultset(sql, {"r" + std::to_string(id), "15"});
    EXPECT_EQ(rs->Eof(), id == 1) << id;
  }
  EXPECT_TRUE(c->TableExists("calls"));
  EXPECT_EQ(Raised([&] { c->OpenResultset(sql, {"r1"}); }).Number(), kErrDataAccess);
}

// A row read while the write batch is open is written without reading it
// again only as long as nothing else wrote: a change made through another
// resultset or a statement of the same connection is still caught (commits
// held, as in a batch run, so that the other resultset's close does not end
// the batch).
TEST_P(DataAccess, SqliteWritesOnlyTheValuesThatDiffer) {
  if (!sqlite()) GTEST_SKIP() << "the server backend writes every column set";
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 2);
  c->Execute("UPDATE calls SET t = '2024-01-31T10:00:00' WHERE id = 1");  // a date in another accepted form
  c->Execute("CREATE TABLE written (id INTEGER)");
  c->Execute("CREATE TRIGGER noted AFTER UPDATE ON calls BEGIN INSERT INTO written VALUES (new.id); END");
  auto rs = c->OpenResultset("SELECT * FROM calls ORDER BY id", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->Edit();
  rs->SetValue("s", "r1");
  rs->SetValue("t", Variant::FromDate(dt::FromDate(2024, 1, 31) + 10 / 24.0 + 0.2 / 86400));  // the same second
  rs->Update();
  rs->MoveNext();
  rs->Edit();
  rs->SetValue("s", "r2");
  rs->SetValue("i", 21);
  rs->Update();
  rs->Close();
  c->Close();
  EXPECT_EQ(Stored("(SELECT COUNT(*) FROM written)", 1), Variant(std::int64_t{1}));
  EXPECT_EQ(Stored("(SELECT MIN(id) FROM written)", 1), Variant(std::int64_t{2}));
  EXPECT_EQ(Stored("t || ''", 1), Variant("2024-01-31T10:00:00"));  // as the host stored it
  EXPECT_EQ(Stored("i", 2), Variant(std::int64_t{21}));
  EXPECT_EQ(Stored("s", 2), Variant("r2"));
}

TEST_P(DataAccess, ChangesThroughTheSameConnectionAreCaughtInsideTheBatch) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 2600);
  CommitHold hold(*c);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  auto update = [&](int value) {
    rs->Edit();
    rs->SetValue("i", value);
    rs->Update();
  };
  // In the rows read first, then in rows read later (on a server, locked
  // as they were read).
  int id = 1;
  for (int base : {300, 1300}) {
    for (; id <= base; ++id, rs->MoveNext()) update(id);  // rows read after the batch began
    ASSERT_EQ(rs->Value("id").ToInteger(), base + 1);
    {
      auto other = c->OpenResultset("SELECT * FROM calls WHERE id = ?", {std::to_string(base + 2)},
                                    CursorType::Keyset, LockType::OptimisticRowVer);
      other->Edit();
      other->SetValue("s", "theirs");
      other->Update();
    }
    update(base + 1);
    rs->MoveNext();
    rs->Edit();
    rs->SetValue("s", "mine");
    EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), kErrRowChanged) << base + 2;
    rs->CancelUpdate();
    rs->MoveNext();
    c->Execute("UPDATE calls SET s = 'statement' WHERE id = " + std::to_string(base + 3));
    rs->Edit();
    rs->SetValue("s", "mine");
    EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), kErrRowChanged) << base + 3;
    rs->CancelUpdate();
    rs->MoveNext();
    update(base + 4);
    rs->MoveNext();
    id = base + 5;
  }
  rs->Close();
  c->Close();
  for (int base : {300, 1300}) {
    EXPECT_EQ(Stored("s", base + 2), Variant("theirs"));
    EXPECT_EQ(Stored("s", base + 3), Variant("statement"));
    EXPECT_EQ(Stored("i", base + 1), Variant(std::int64_t{base + 1}));
    EXPECT_EQ(Stored("i", base + 4), Variant(std::int64_t{base + 4}));
  }
}

// Rows far ahead of the cursor (pages the SQLite layer reads in advance on
// another connection) changed inside the batch, by a statement or by a
// trigger, are read as changed and written without a conflict; every other
// row is read once, in order, as stored.
TEST_P(DataAccess, RowsAheadChangedInsideTheBatchAreReadAsChanged) {
  auto run = [&](const std::string& how) {
    SCOPED_TRACE(how);
    auto c = Open();
    CreateCalls(*c);
    InsertRows(*c, 2000);
    if (how == "trigger")
      c->Execute("CREATE TRIGGER ahead AFTER UPDATE OF i ON calls WHEN new.id = 600 "
                 "BEGIN UPDATE calls SET s = 'trigger' WHERE id = 1200; END");
    {
      CommitHold hold(*c);
      auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
      int expected_id = 0;
      for (; !rs->Eof(); rs->MoveNext()) {
        const int id = static_cast<int>(rs->Value("id").ToInteger());
        ASSERT_EQ(id, ++expected_id);
        const std::string s = rs->Value("s").ToText();
        EXPECT_EQ(s, id == 1200 ? how : "r" + std::to_string(id));
        rs->Edit();
        rs->SetValue("i", -id);
        rs->SetValue("s", s + "+");
        rs->Update();
        if (id == 600 && how == "statement") c->Execute("UPDATE calls SET s = 'statement' WHERE id = 1200");
      }
      EXPECT_EQ(expected_id, 2000);
    }
    c->Close();
    EXPECT_EQ(Stored("s", 1200), Variant(how + "+"));
    EXPECT_EQ(Stored("i", 2000), Variant(std::int64_t{-2000}));
    auto drop = Open();
    drop->Execute("DROP TABLE calls");
  };
  run("statement");
  if (sqlite()) run("trigger");
}

// A table's stamp stays while nothing can have changed its rows, and moves
// with each way they can change: a resultset, a trigger, a statement of this
// connection, another connection between batches.
TEST_P(DataAccess, TableStampMovesWithEveryWayTheTableCanChange) {
  if (!sqlite()) GTEST_SKIP() << "a server's stamps also age: see ServerBatch";
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 10);
  c->Execute("CREATE TABLE book (id INTEGER PRIMARY KEY, n varchar(20))");
  c->Execute("CREATE TRIGGER t AFTER UPDATE ON calls WHEN new.id = 3 BEGIN INSERT INTO book (n) VALUES ('t'); END");
  c->Execute("CREATE VIEW v AS SELECT * FROM book");
  EXPECT_FALSE(c->TableStamp("book"));  // outside a batch anyone may write at any moment
  CommitHold hold(*c);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  auto write_next_call = [&] {
    rs->Edit();
    rs->SetValue("i", -rs->Value("id").ToInteger());
    rs->Update();
    rs->MoveNext();
  };
  write_next_call();  // the batch begins
  const auto first = c->TableStamp("book");
  ASSERT_TRUE(first);
  EXPECT_FALSE(c->TableStamp("v"));
  write_next_call();  // rows of another table only
  EXPECT_EQ(c->TableStamp("BOOK"), first);
  write_next_call();  // the trigger adds a book row
  const auto by_trigger = c->TableStamp("book");
  EXPECT_NE(by_trigger, first);
  c->Execute("UPDATE calls SET s = 'x' WHERE id = 9");
  const auto by_statement = c->TableStamp("book");
  EXPECT_NE(by_statement, by_trigger);
  {
    auto book = c->OpenResultset("SELECT * FROM book", CursorType::Keyset, LockType::OptimisticRowVer);
    book->AddNew();
    book->SetValue("n", "mine");
    book->Update();
  }
  const auto by_resultset = c->TableStamp("book");
  EXPECT_NE(by_resultset, by_statement);

  c->Flush();  // a new batch with no other writer in between keeps the stamp
  write_next_call();
  EXPECT_EQ(c->TableStamp("book"), by_resultset);
  c->Flush();
  {
    auto other = Open();
    other->Execute("INSERT INTO book (n) VALUES ('theirs')");
  }
  write_next_call();
  EXPECT_NE(c->TableStamp("book"), by_resultset);
}

// A row preparer runs on the read-ahead thread: each row reached with a
// note carries its own row's note; once stopped, later pages carry none.
// Rows written to another table meanwhile do not stop the reading ahead.
// On PostgreSQL the rows are prepared a block at a time as each block is
// read, on the caller's thread, and each block's notes are told together.
TEST_P(DataAccess, RowsReadAheadCarryTheNotesOfTheirPreparation) {
  struct IdNote : RowNote {
    std::int64_t id = 0;
    std::thread::id thread;
  };
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 2000);
  c->Execute("CREATE TABLE book (id INTEGER PRIMARY KEY, n varchar(20))");
  CommitHold hold(*c);
  auto book = c->OpenResultset("SELECT * FROM book", CursorType::Keyset, LockType::OptimisticRowVer);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
  rs->SetRowPreparer([](const std::vector<Variant>& row, std::unique_ptr<RowNote>& note) {
    if (!note) note = std::make_unique<IdNote>();
    static_cast<IdNote&>(*note).id = row[0].ToInteger();
    static_cast<IdNote&>(*note).thread = std::this_thread::get_id();
  });
  std::vector<std::int64_t> told;
  rs->SetNotesTaken([&](const std::vector<const RowNote*>& notes) {
    for (const RowNote* note : notes) told.push_back(note ? static_cast<const IdNote*>(note)->id : 0);
  });
  constexpr std::int64_t kStop = 1500;
  int noted = 0, noted_after_stop = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    const std::int64_t id = rs->Value("id").ToInteger();
    if (const auto* note = dynamic_cast<const IdNote*>(rs->Note())) {
      EXPECT_EQ(note->id, id);
      EXPECT_EQ(note->thread != std::this_thread::get_id(), sqlite());
      ++noted;
      if (id > kStop + 2 * 256) ++noted_after_stop;  // beyond the page or block under way when stopped
    }
    rs->Edit();
    rs->SetValue("i", -id);
    rs->Update();
    if (id % 10 == 0) {
      book->AddNew();
      book->SetValue("id", id);
      book->SetValue("n", "call " + std::to_string(id));
      book->Update();
    }
    if (id == kStop) rs->SetRowPreparer({});
  }
  EXPECT_EQ(noted_after_stop, 0);
  if (sqlite()) {
    EXPECT_GT(noted, 1000);  // pages from the third on, up to the stop
    EXPECT_TRUE(told.empty());
  } else {
    // Every row but the first (reached before the preparer was set) of the
    // two blocks of 1,000 read before the stop was told; the rows reached
    // after it carry no note.
    EXPECT_EQ(noted, kStop - 1);
    ASSERT_EQ(told.size(), 1999u);
    for (std::size_t i = 0; i < told.size(); ++i) EXPECT_EQ(told[i], static_cast<std::int64_t>(i) + 2);
  }
}

// A file opened by a relative name is read ahead from that file even when
// the working directory has changed to one holding a file of that name.
TEST_P(DataAccess, ReadingAheadKeepsToTheFileOpenedAfterADirectoryChange) {
  if (!sqlite()) GTEST_SKIP() << "a file database's path";
  const std::string home = dir_ + "/home", elsewhere = dir_ + "/elsewhere";
  ::mkdir(home.c_str(), 0700);
  ::mkdir(elsewhere.c_str(), 0700);
  CreateSqliteFile(elsewhere + "/calls.mdb");
  {
    RdoConnection decoy;
    decoy.SetConnect("DBQ=" + elsewhere + "/calls.mdb;");
    decoy.EstablishConnection();
    CreateCalls(decoy);
    decoy.Execute("WITH RECURSIVE n(id) AS (SELECT 1 UNION ALL SELECT id + 1 FROM n WHERE id < 2000) "
                  "INSERT INTO calls (id, s, i) SELECT id, 'decoy', 0 FROM n");
  }
  CreateSqliteFile(home + "/calls.mdb");
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(home.c_str()), 0);
  RdoConnection c;
  c.SetConnect("DBQ=calls.mdb;");
  c.EstablishConnection();
  CreateCalls(c);
  InsertRows(c, 2000);
  ASSERT_EQ(::chdir(elsewhere.c_str()), 0);
  {
    CommitHold hold(c);
    auto rs = c.OpenResultset("SELECT * FROM calls", CursorType::Keyset, LockType::OptimisticRowVer);
    for (; !rs->Eof(); rs->MoveNext()) {
      const std::int64_t id = rs->Value("id").ToInteger();
      ASSERT_EQ(rs->Value("s").ToText(), "r" + std::to_string(id));
      rs->Edit();
      rs->SetValue("i", -id);
      rs->Update();
    }
  }
  c.Close();
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
}

// An updatable resultset over a statement with values: each open reads the
// rows of its own values (also pages read ahead), writes them back, and a
// value never becomes SQL.
TEST_P(DataAccess, UpdatableResultsetsTakeValues) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 2000);
  auto keyed = [&](const std::string& id) {
    return c->OpenResultset("SELECT * FROM calls WHERE id = ?", {id}, CursorType::Keyset, LockType::OptimisticRowVer);
  };
  for (const char* id : {"5", "6", "5"}) {
    auto rs = keyed(id);
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Value("s").ToText(), std::string("r") + id);
    rs->Edit();
    rs->SetValue("i", rs->Value("i").ToInteger() + 1);
    rs->Update();
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
  }
  EXPECT_EQ(Stored("i", 5), Variant(std::int64_t{52}));
  EXPECT_EQ(Stored("i", 6), Variant(std::int64_t{61}));
  EXPECT_TRUE(c->OpenResultset("SELECT * FROM calls WHERE s = ?", {"r1' OR '1'='1"}, CursorType::Keyset,
                               LockType::OptimisticRowVer)
                  ->Eof());
  if (sqlite()) {
    EXPECT_EQ(Raised([&] {
                c->OpenResultset("SELECT * FROM calls WHERE id = ?", {}, CursorType::Keyset, LockType::OptimisticRowVer);
              }).Number(),
              kErrDataAccess);
  }

  CommitHold hold(*c);
  auto rs = c->OpenResultset("SELECT * FROM calls WHERE i >= ?", {"100"}, CursorType::Keyset,
                             LockType::OptimisticRowVer);
  std::int64_t expected = 10;
  for (; !rs->Eof(); rs->MoveNext(), ++expected) {
    ASSERT_EQ(rs->Value("id").ToInteger(), expected);
    rs->Edit();
    rs->SetValue("s", "seen");
    rs->Update();
  }
  EXPECT_EQ(expected, 2001);
  rs->Close();
  c->Close();
  EXPECT_EQ(Stored("s", 9), Variant("r9"));
  EXPECT_EQ(Stored("s", 2000), Variant("seen"));
}

TEST_P(DataAccess, OdbcDateEscapesCompareWithStoredDates) {
  auto c = Open();
  CreateCalls(*c);
  c->Execute("INSERT INTO calls (id, t, s) VALUES (1, {ts '2024-01-31 10:20:30'}, '{d ''2024-01-01''}')");
  c->Execute("INSERT INTO calls (id, t) VALUES (2, {d '2024-02-01'})");
  auto rs = c->OpenResultset(
      "SELECT id, t, s FROM calls WHERE t >= {d '2024-01-31'} AND t < {ts '2024-02-01 00:00:00'}");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Value("id").ToInteger(), 1);
  EXPECT_EQ(rs->Value("t"), Variant::FromDate(dt::FromCivil({2024, 1, 31, 10, 20, 30})));
  EXPECT_EQ(rs->Value("s"), Variant("{d '2024-01-01'}"));  // inside quoted text: untouched
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(Stored("t", 2), Variant::FromDate(dt::FromDate(2024, 2, 1)));
}

TEST_P(DataAccess, BackendErrorsCarryTheBackendsMessage) {
  auto c = Open();
  CreateCalls(*c);
  ComponentError syntax = Raised([&] { c->OpenResultset("SELEC * FROM calls"); });
  EXPECT_EQ(syntax.Number(), kErrDataAccess);
  EXPECT_EQ(syntax.Source(), kSource);
  EXPECT_NE(syntax.Description().find("syntax"), std::string::npos) << syntax.Description();
  ComponentError table = Raised([&] { c->Execute("UPDATE no_such_table SET x = 1"); });
  EXPECT_NE(table.Description().find("no_such_table"), std::string::npos) << table.Description();
  ComponentError column = Raised([&] { c->OpenResultset("SELECT no_such_column FROM calls"); });
  EXPECT_NE(column.Description().find("no_such_column"), std::string::npos) << column.Description();
  // The connection stays usable after a failed statement.
  EXPECT_EQ(c->Execute("INSERT INTO calls (id) VALUES (1)"), 1);
}

TEST_P(DataAccess, TableAndColumnExistence) {
  auto c = Open();
  CreateCalls(*c);
  EXPECT_TRUE(c->TableExists("calls"));
  EXPECT_TRUE(c->TableExists("CALLS"));
  EXPECT_FALSE(c->TableExists("nothing"));
  EXPECT_TRUE(c->ColumnExists("calls", "S"));
  EXPECT_FALSE(c->ColumnExists("calls", "sCommessa"));
  c->Execute("ALTER TABLE calls ADD sCommessa varchar(50)");
  EXPECT_TRUE(c->ColumnExists("calls", "scommessa"));
  EXPECT_FALSE(c->ColumnExists("nothing", "s"));
}

TEST_P(DataAccess, ReadOnlyResultsetRefusesEditsAndNonSingleTableKeysetFails) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 2);
  auto rs = c->OpenResultset("SELECT * FROM calls", CursorType::ForwardOnly, LockType::ReadOnly);
  EXPECT_EQ(Raised([&] { rs->Edit(); }).Number(), kErrDataAccess);
  EXPECT_EQ(Raised([&] { rs->AddNew(); }).Number(), kErrDataAccess);
  auto count = c->OpenResultset("SELECT count(*) FROM calls");
  EXPECT_EQ(count->Value(0).ToInteger(), 2);
  EXPECT_EQ(Raised([&] {
              c->OpenResultset("SELECT a.id FROM calls a, calls b", CursorType::Keyset, LockType::OptimisticRowVer);
            }).Number(),
            kErrDataAccess);
}

TEST_P(DataAccess, QueryAndConnectionLifecycle) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 3);
  c->SetQueryTimeout(5);
  EXPECT_EQ(c->QueryTimeout(), 5);
  c->SetTuning(1, 500);
  EXPECT_EQ(c->Tuning(1), 500);
  auto q = c->CreateQuery("", "SELECT * FROM calls ORDER BY id");
  q->SetTuning(3, 10);
  EXPECT_EQ(q->Tuning(3), 10);
  auto rs = q->OpenResultset(CursorType::Keyset, LockType::OptimisticRowVer);
  EXPECT_EQ(rs->Value("id").ToInteger(), 1);
  rs->Close();
  rs->Close();
  EXPECT_TRUE(rs->Eof());
  q->Close();
  EXPECT_THROW(q->OpenResultset(CursorType::ForwardOnly, LockType::ReadOnly), ComponentError);
  auto open = c->OpenResultset("SELECT * FROM calls");
  c->Close();
  c->Close();
  EXPECT_FALSE(c->IsOpen());
  EXPECT_THROW(c->Execute("DELETE FROM calls"), ComponentError);
  open.reset();  // a resultset closed after its connection is harmless
  RdoConnection never_opened;
  never_opened.Close();
}

TEST_P(DataAccess, EnvironmentOpensConnections) {
  auto probe = Open();
  CreateCalls(*probe);
  InsertRows(*probe, 1);
  probe->Close();
  std::unique_ptr<RdoConnection> c;
  if (sqlite()) {
    auto env = rdoCreateEnvironment("second", "", "");
    c = env->OpenConnection(path_);  // a file name opens the file
    EXPECT_TRUE(c->IsFileDatabase());
    env->Close();
  } else {
    auto env = rdoCreateEnvironment("second", "", "");
    env->UserName = PgCluster::kUser;
    env->Password = PgCluster::kPassword;
    c = env->OpenConnection("", false, false, std::string("DSN=") + PgCluster::kDsn + ";Database=" + database_ + ";");
    EXPECT_FALSE(c->IsFileDatabase());
  }
  auto rs = c->OpenResultset("SELECT s FROM calls");
  EXPECT_EQ(rs->Value(0), Variant("r1"));
}

TEST_P(DataAccess, WriterInAnotherProcessMakesUpdateFailUntilReleased) {
  auto c = Open();
  CreateCalls(*c);
  InsertRows(*c, 2);
  c->SetQueryTimeout(1);
  auto rs = c->OpenResultset("SELECT * FROM calls ORDER BY id", CursorType::Keyset, LockType::OptimisticRowVer);
  LockHolder lock = HoldLock();
  rs->Edit();
  rs->SetValue("s", "saved after the lock");
  auto start = Clock::now();
  ComponentError e = Raised([&] { rs->Update(); });
  auto waited = Clock::now() - start;
  EXPECT_EQ(e.Number(), kErrDataAccess);
  if (sqlite()) {
    EXPECT_NE(e.Description().find("database is locked"), std::string::npos) << e.Description();
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
  } else {
    EXPECT_NE(e.Description().find("cancel"), std::string::npos) << e.Description();  // statement timeout
    EXPECT_LT(waited, std::chrono::seconds(5));
  }
  EXPECT_EQ(rs->Value("s"), Variant("saved after the lock"));  // still pending
  lock.Release();
  rs->Update();
  rs->Close();
  c->Close();
  EXPECT_EQ(Stored("s", 1), Variant("saved after the lock"));
}

// Opening failures are each backend's own.
class OpenFailures : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = TempDir(); }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  ComponentError OpenFails(const std::string& connect) {
    RdoConnection c;
    c.SetConnect(connect);
    ComponentError e = Raised([&] { c.EstablishConnection(); });
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(e.Number(), kErrDataAccess);
    EXPECT_FALSE(e.Description().empty());
    return e;
  }
  std::string dir_;
};

TEST_F(OpenFailures, SqliteMissingFileIsNotCreated) {
  std::string path = dir_ + "/missing.mdb";
  ComponentError e = OpenFails("DBQ=" + path + ";");
  EXPECT_NE(e.Description().find("unable to open"), std::string::npos) << e.Description();
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST_F(OpenFailures, SqliteDirectoryCorruptAndForeignFiles) {
  OpenFails("dbq=" + dir_);
  std::string text = dir_ + "/notes.mdb";
  std::ofstream(text) << "this is a text file, not a database, long enough to have a header............\n";
  EXPECT_NE(OpenFails("UID=admin;DBQ=" + text).Description().find("not a database"), std::string::npos);
  std::string corrupt = dir_ + "/corrupt.mdb";
  CreateSqliteFile(corrupt);
  {
    std::fstream f(corrupt, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0);
    f << "SQLite format 2\0garbage";  // a damaged header
  }
  OpenFails("DBQ=" + corrupt);
}

TEST_F(OpenFailures, OdbcUnknownDataSourceAndWrongPassword) {
  PgCluster& cluster = PgCluster::Instance();
  ComponentError unknown = OpenFails("DSN=no_such_source_ordalis;");
  EXPECT_NE(unknown.Description().find("IM002"), std::string::npos) << unknown.Description();
  RdoConnection c;
  c.SetConnect(std::string("DSN=") + PgCluster::kDsn + ";Database=postgres;");
  ComponentError wrong = Raised([&] { c.EstablishConnection(PgCluster::kUser, "wrong password"); });
  EXPECT_NE(wrong.Description().find("password authentication failed"), std::string::npos) << wrong.Description();
  RdoConnection right;
  right.SetConnect(std::string("DSN=") + PgCluster::kDsn + ";Database=postgres;");
  right.EstablishConnection(PgCluster::kUser, PgCluster::kPassword);
  EXPECT_TRUE(right.IsOpen());
  (void)cluster;
}

class ClusterEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { PgCluster::StopIfStarted(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ClusterEnvironment);

}  // namespace
}  // namespace ordalis::rdo
