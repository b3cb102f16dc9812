// Values a batch run cannot use (dates out of every calendar, text that is no
// date, numbers beyond any duration), a registry path that is no file, and
// filters carrying comments: each either rates or stops the run with an
// error naming the row and the column, and leaves the row as it was.
#include <sys/stat.h>

#include "EngineFixture.h"
#include "engine/FilterClause.h"
#include "ordalis/ComponentError.h"

namespace ordalis::testing {
namespace {

class StoredValueTest : public RatingTest {
 protected:
  // Stores calls 1..3 of `table` and runs `change` on them.
  void Store(const std::string& change, const std::string& table = "CHIAMATE") {
    AddCalls(table, 3);
    Sql(change);
  }
  // Rates the calls; the error that stopped the run ("" when none) as
  // "<number>: <description>".
  std::string Rate() {
    auto engine = MakeEngine();
    try {
      engine->Process();
    } catch (const ComponentError& e) {
      return std::to_string(e.Number()) + ": " + e.Description();
    }
    return "";
  }
  std::string Column(const std::string& expr, int id, const std::string& table = "CHIAMATE") {
    return Query("SELECT " + expr + " FROM " + table + " WHERE lPKId = " + std::to_string(id));
  }
};

TEST_F(StoredValueTest, UnreadableOrOutOfRangeValuesNameTheirRowAndColumn) {
  struct Case {
    const char* change;
    const char* error;
    const char* kept;  // the bad column, as it must stay stored
  } cases[] = {
      {"UPDATE CHIAMATE SET dData = '2024-13-45' WHERE lPKId = 2",
       "13: CHIAMATE, row lPKId 2, column dData ('2024-13-45'): Type mismatch", "dData"},
      {"UPDATE CHIAMATE SET dData = 2.9e16 WHERE lPKId = 2",
       "6: CHIAMATE, row lPKId 2, column dData (29000000000000000): Overflow", "typeof(dData) || dData"},
      {"UPDATE CHIAMATE SET DRISPOSTA = 1e20 WHERE lPKId = 2",
       "6: CHIAMATE, row lPKId 2, column DRISPOSTA (100000000000000000000): Overflow",
       "typeof(DRISPOSTA) || DRISPOSTA"},
      {"UPDATE CHIAMATE SET DDURATA = '1234567890123456789012345678901234567890123456789012' WHERE lPKId = 2",
       "6: CHIAMATE, row lPKId 2, column DDURATA (1234567890123456832193333584623060870551...): Overflow", "DDURATA"},
      {"UPDATE CHIAMATE SET SNUMERO = 'x', DORA = 'half past ' || char(27) || '[2J' WHERE lPKId = 2",
       "13: CHIAMATE, row lPKId 2, column DORA ('half past \\x1b[2J'): Type mismatch", "length(DORA)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    TearDown();
    SetUp();
    Store(c.change);
    const std::string stored = Column(c.kept, 2);
    EXPECT_EQ(Rate(), c.error);
    // The row before is rated; the bad row and the rest are left as stored.
    EXPECT_EQ(Column("SESITOCHIAMATA_C", 1), "1");
    EXPECT_EQ(Column("SESITOCHIAMATA_C", 2), "<null>");
    EXPECT_EQ(Column("SESITOCHIAMATA_C", 3), "<null>");
    EXPECT_EQ(Column(c.kept, 2), stored);
  }
}

TEST_F(StoredValueTest, InternalCallsTableIsNamedAndTheLatestDateStillRates) {
  Store("UPDATE CHIAMATEINTERNE SET dData2 = -1e20 WHERE lPKId = 3", "CHIAMATEINTERNE");
  EXPECT_EQ(Rate(), "6: CHIAMATEINTERNE, row lPKId 3, column dData2 (-100000000000000000000): Overflow");
}

TEST_F(StoredValueTest, ExtremeButValidDatesAndDurationsRate) {
  // The last days of the calendar and a duration of 8,000 years are values,
  // not faults. Seconds past the last price band are free, so the long call
  // costs what a call filling the band (a day, after the 2 s dialling
  // allowance) costs.
  Store("UPDATE CHIAMATE SET DDURATA = '1899-12-31 00:00:02', dData = '2024-01-03' WHERE lPKId = 1;"
        "UPDATE CHIAMATE SET dData = '9999-12-30 00:00:00' WHERE lPKId = 2;"
        "UPDATE CHIAMATE SET DDURATA = 2958465.5 WHERE lPKId = 3");
  EXPECT_EQ(Rate(), "");
  EXPECT_EQ(Column("sGiorno_c", 2), "Thu");
  EXPECT_EQ(Column("dData", 2), "9999-12-30 00:00:00");
  EXPECT_EQ(Column("SESITOCHIAMATA_C", 3), "1");
  EXPECT_NE(Column("CCOSTO1_C", 1), "0.0");
  EXPECT_EQ(Column("CCOSTO1_C", 3), Column("CCOSTO1_C", 1));
  EXPECT_EQ(Column("DDURATA", 3), "2958465.5");  // not rewritten
}

TEST_F(StoredValueTest, FilterEndingInACommentSelectsAndKeepsNoOrder) {
  AddCalls("CHIAMATE", 3);
  auto engine = MakeEngine();
  engine->set_Filter("SELECT * FROM CHIAMATE WHERE lPKId >= 2 ORDER BY lPKId DESC -- the later ones");
  engine->Process();
  EXPECT_EQ(Query("SELECT group_concat(lPKId) FROM CHIAMATE WHERE SESITOCHIAMATA_C IS NOT NULL"), "2,3");
  // Rated in the table's order, not the filter's.
  ASSERT_EQ(events_.progress.size(), 2u);
  EXPECT_EQ(events_.progress[0], std::make_pair(1, 2));

  EXPECT_EQ(ExtractClause("SELECT * FROM CHIAMATE WHERE iStato = 0 ORDER BY dData"), "WHERE iStato = 0 ");
  EXPECT_EQ(ExtractClause("select * from chiamate where a = 1 -- order by b\n and b = '--x' /* c */"),
            "where a = 1  \n and b = '--x'");
  EXPECT_EQ(ExtractClause("SELECT * FROM CHIAMATE -- WHERE a = 1"), "");
  EXPECT_EQ(ExtractClause("WHERE a = 1 /* unclosed"), "WHERE a = 1");
}

TEST_F(StoredValueTest, RegistryPathThatIsNoRegularFileIsASetupError) {
  platform::Registry::SetForTesting(nullptr);
  const std::string fifo = (dir_ / "registry.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), dir_.string()}) {
    ::setenv("ORDALIS_REGISTRY", path.c_str(), 1);
    auto engine = MakeEngine();  // returns at once: nothing waits on the FIFO
    EXPECT_EQ(engine->Errore(), "registry file " + path + ": not a regular file");
  }
  const std::string missing = (dir_ / "none.reg").string();
  ::setenv("ORDALIS_REGISTRY", missing.c_str(), 1);
  EXPECT_EQ(MakeEngine()->Errore(), "");  // a missing file is an empty registry
  ::unsetenv("ORDALIS_REGISTRY");
}

}  // namespace
}  // namespace ordalis::testing
