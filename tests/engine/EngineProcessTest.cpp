#include <sys/wait.h>
#include <unistd.h>

#include "EngineFixture.h"
#include "ordalis/ComponentError.h"

namespace ordalis::testing {
namespace {

using Progress = std::vector<std::pair<int, int>>;

TEST_F(RatingTest, CountsAndNumberingRunAcrossBothTables) {
  AddCalls("CHIAMATE", 5);
  AddCalls("CHIAMATEINTERNE", 3, 100);
  auto engine = MakeEngine();
  ASSERT_EQ(engine->Errore(), "");
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 8}, {2, 8}, {3, 8}, {4, 8}, {5, 8}, {6, 8}, {7, 8}, {8, 8}}));
  EXPECT_EQ(events_.done, 1);
  EXPECT_FALSE(engine->ConnectionOpen());
  // Every row was rated (day name) and saved.
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "5");
  EXPECT_EQ(Query("SELECT sGiorno_c FROM CHIAMATE WHERE lPKId = 1"), "Mon");  // 2024-01-01
  EXPECT_EQ(Query("SELECT sGiorno_c FROM CHIAMATEINTERNE WHERE lPKId = 102"), "Wed");
}

TEST_F(RatingTest, TheWorkingDirectoryStaysTheCallersAndCarrierPathsAreUnderTheHome) {
  // Table Carrier names the demo's files relative to the home (ORDALIS_HOME);
  // the caller works elsewhere, where a Carrier/ folder of its own is empty.
  const std::filesystem::path elsewhere = dir_ / "elsewhere";
  std::filesystem::create_directories(elsewhere / "Carrier");
  std::filesystem::current_path(elsewhere);
  AddCalls("CHIAMATE", 3);
  auto engine = MakeEngine();
  EXPECT_EQ(engine->Errore(), "");
  EXPECT_EQ(std::filesystem::current_path(), elsewhere);
  engine->Process();
  EXPECT_EQ(std::filesystem::current_path(), elsewhere);
  EXPECT_EQ(engine->LastRunTally()[0].rated, 3);
  EXPECT_EQ(engine->LastRunTally()[0].no_tariff, 0);
  EXPECT_EQ(Query("SELECT count(*) FROM CHIAMATE WHERE CCOSTO1_C > 0"), "3");

  // A file that is gone is an error naming it; the other caches still load.
  std::filesystem::remove(dir_ / "Carrier" / "gamma.mdb");
  engine = MakeEngine();
  EXPECT_NE(engine->Errore().find((dir_ / "Carrier" / "gamma.mdb").string()), std::string::npos) << engine->Errore();
  EXPECT_FALSE(engine->CacheStopped());
}

TEST_F(RatingTest, OnlyTheInternalTableWhenTheMainOneIsEmpty) {
  AddCalls("CHIAMATEINTERNE", 3);
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 3}, {2, 3}, {3, 3}}));
}

TEST_F(RatingTest, MasksOfTwentyOneAndTwentyTwoCharacters) {
  AddCalls("CHIAMATE", 2);
  AddCalls("CHIAMATEINTERNE", 1);
  auto engine = MakeEngine();
  engine->set_Operation("100000000000000000000");  // 21: both tables on
  engine->Process();
  EXPECT_EQ(events_.progress.size(), 3u);
  events_.progress.clear();
  engine->set_Operation("1000000000000000000000");  // 22, ending in 0: only the internal table
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 1}}));
  events_.progress.clear();
  engine->set_Operation("10000000000000000000010");  // 23: main on, internal off
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 2}, {2, 2}}));
  // Characters other than "1" switch nothing on: no day name is written.
  Sql("UPDATE CHIAMATE SET sGiorno_c = NULL");
  engine->set_Operation("x2Y");
  engine->Process();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "0");
}

TEST_F(RatingTest, NoCountReportsTheFixedTotal) {
  AddCalls("CHIAMATE", 2);
  AddCalls("CHIAMATEINTERNE", 1);
  auto engine = MakeEngine();
  engine->set_NoCount(true);
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 999999}, {2, 999999}, {1, 999999}}));
  // The rows written back are counted across both tables.
  EXPECT_EQ(engine->CallsSaved(), 3);
}

TEST_F(RatingTest, FilterClauseDropsOrderByAndIgnoresCase) {
  AddCalls("CHIAMATE", 4);
  Sql("UPDATE CHIAMATE SET ISTATO = 1 WHERE lPKId IN (2, 4)");
  auto engine = MakeEngine();
  engine->set_Filter("SELECT * FROM CHIAMATE where ISTATO = 0 ORDER BY dData DESC");
  engine->Process();
  EXPECT_EQ(events_.progress.size(), 2u);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NULL"), "2");
  EXPECT_EQ(Query("SELECT group_concat(lPKId) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "1,3");
  // No WHERE at all: every row.
  events_.progress.clear();
  engine->set_Filter("SELECT * FROM CHIAMATE");
  engine->Process();
  EXPECT_EQ(events_.progress.size(), 4u);
}

TEST_F(RatingTest, InvalidFilterFailsWithoutChangingRows) {
  AddCalls("CHIAMATE", 2);
  auto engine = MakeEngine();
  engine->set_Filter("WHERE ISTATO = = 0");
  EXPECT_THROW(engine->Process(), ComponentError);
  EXPECT_EQ(events_.done, 0);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "0");
}

TEST_F(RatingTest, StopItLeavesTheCurrentCallUnsaved) {
  AddCalls("CHIAMATE", 5);
  auto engine = MakeEngine();
  clsChiamate* e = engine.get();
  // Stop while the third call is being rated (the yield after a step).
  int yields_in_third = 0;
  engine->SetYield([&] {
    if (events_.progress.size() == 2 && ++yields_in_third == 3) e->StopIt();
  });
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 5}, {2, 5}, {3, 5}}));
  EXPECT_EQ(events_.done, 1);
  EXPECT_EQ(Query("SELECT group_concat(lPKId) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "1,2");
  EXPECT_EQ(engine->CallsSaved(), 2);  // the third was reported, not saved
  // The next run does nothing until the host clears the flag.
  events_.progress.clear();
  engine->Process();
  EXPECT_TRUE(events_.progress.empty());
  EXPECT_EQ(events_.done, 2);
  engine->SetYield(nullptr);
  engine->set_mbStop(false);
  engine->Process();
  EXPECT_EQ(events_.progress.size(), 5u);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "5");
}

TEST_F(RatingTest, DifferenceAndPercentageUseTheLoadedCosts) {
  AddCalls("CHIAMATE", 2);
  Sql("UPDATE CHIAMATE SET CCOSTO1_C = 8, CCOSTO2_C = 10 WHERE lPKId = 1");
  Sql("UPDATE CHIAMATE SET CCOSTO1_C = 3, CCOSTO2_C = 0 WHERE lPKId = 2");
  auto engine = MakeEngine();
  engine->set_Operation("00000110000000000000");
  engine->Process();
  auto fixed = [&](const std::string& column, int id) {
    return Query("SELECT printf('%.4f', " + column + ") FROM CHIAMATE WHERE lPKId = " + std::to_string(id));
  };
  EXPECT_EQ(fixed("CDIFFERENZA_C", 1), "2.0000");
  EXPECT_EQ(fixed("RDIFFERENZAPERC_C", 1), "20.0000");
  EXPECT_EQ(fixed("CDIFFERENZA_C", 2), "-3.0000");
  EXPECT_EQ(fixed("RDIFFERENZAPERC_C", 2), "0.0000");
}

TEST_F(RatingTest, InternalCallsAreSavedWithTheirOwnType) {
  AddCalls("CHIAMATEINTERNE", 1);
  Sql("UPDATE CHIAMATEINTERNE SET STIPO = 'X'");
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Query("SELECT STIPO FROM CHIAMATEINTERNE"), "X");
  // Rated as internal: the other party's date is the call's own.
  EXPECT_EQ(Query("SELECT dData2 FROM CHIAMATEINTERNE"), "2024-01-01 00:00:00");
}

TEST_F(RatingTest, SaveWritesNullForEmptyTextAndCutsComputedTexts) {
  AddCalls("CHIAMATE", 1);
  Sql("UPDATE CHIAMATE SET SCAMPO1 = '', SSITO = '  MI  ', SNAZIONE_C = 'Repubblica Federale di Germania e dintorni lontani',"
      " SAREA_C = '  Milano   ', SNOME_C = '" + std::string(150, 'n') + "'");
  auto engine = MakeEngine();
  engine->set_Operation("10000000000000000000");  // the computed texts stay as loaded
  engine->Process();
  EXPECT_EQ(Query("SELECT SCAMPO1 FROM CHIAMATE"), "<null>");
  EXPECT_EQ(Query("SELECT SCOMMESSA FROM CHIAMATE"), "<null>");
  EXPECT_EQ(Query("SELECT SSITO FROM CHIAMATE"), "MI");
  // SNAZIONE_C is varchar(50): cut to 50 characters, then trimmed.
  EXPECT_EQ(Query("SELECT SNAZIONE_C FROM CHIAMATE"), "Repubblica Federale di Germania e dintorni lontani");
  Sql("UPDATE CHIAMATE SET SNAZIONE_C = 'Repubblica Federale di Germania e dintorni lontanissimi'");
  engine->Process();
  EXPECT_EQ(Query("SELECT SNAZIONE_C FROM CHIAMATE"), "Repubblica Federale di Germania e dintorni lontani");
  EXPECT_EQ(Query("SELECT SAREA_C FROM CHIAMATE"), "Milano");
  // Other texts are handed over whole.
  EXPECT_EQ(Query("SELECT length(SNOME_C) FROM CHIAMATE"), "150");
}

TEST_F(RatingTest, RowOfNullsLoadsAndSaves) {
  Sql("INSERT INTO CHIAMATE (lPKId) VALUES (7)");
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(events_.progress, (Progress{{1, 1}}));
  EXPECT_EQ(Query("SELECT sGiorno_c FROM CHIAMATE"), "Sat");  // date 0 is 1899-12-30
  EXPECT_EQ(Query("SELECT SNUMERO FROM CHIAMATE"), "<null>");
  EXPECT_EQ(Query("SELECT dblRapportoCambio FROM CHIAMATE"), "0.0");
}

TEST_F(RatingTest, SaveRetriesWhileAnotherProcessHoldsTheLockAndStopsOnStopIt) {
  AddCalls("CHIAMATE", 2);
  auto engine = MakeEngine();
  int to_child[2], from_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(from_child), 0);
  pid_t child = fork();
  if (child == 0) {
    sqlite3* db = nullptr;
    sqlite3_open(db_path_.c_str(), &db);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    char c = 'L';
    (void)!write(from_child[1], &c, 1);
    (void)!read(to_child[0], &c, 1);  // hold the lock until told
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(from_child[0], &c, 1), 1);
  clsChiamate* e = engine.get();
  events_.on_save_error = [&] {
    if (events_.save_errors.size() == 2) e->StopIt();
  };
  EXPECT_NO_THROW(engine->Process());
  (void)!write(to_child[1], "x", 1);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(events_.save_errors, (std::vector<int>{1, 2}));
  EXPECT_EQ(engine->CallsSaved(), 0);
  EXPECT_EQ(events_.progress, (Progress{{1, 2}}));
  EXPECT_EQ(events_.done, 1);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "0");
}

TEST_F(RatingTest, InitAgainstAMissingDataSource) {
  auto engine = std::make_unique<clsChiamate>();
  engine->SetEvents(&events_);
  engine->Init((dir_ / "nothing-here.db").string());
  EXPECT_EQ(engine->Errore(), "Error during opening DSN " + (dir_ / "nothing-here.db").string());
  EXPECT_TRUE(engine->CacheStopped());
  EXPECT_EQ(events_.cache_start, 0);
  EXPECT_TRUE(events_.cache_changes.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "nothing-here.db"));
  // With UsoRiproc the open failure is raised by the Database let itself.
  engine->set_UsoRiproc(true);
  try {
    engine->set_Database((dir_ / "nothing-here.db").string());
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), ObjectError(1042));
  }
}

}  // namespace
}  // namespace ordalis::testing
