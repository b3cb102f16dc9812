// The phone book on real SQLite engine databases: loading in each mode, the
// exact-number look-up, the write-back of the statistics and what happens
// when others change the table while the engine runs.
#include <limits>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "engine/EngineFixture.h"
#include "ordalis/ComponentError.h"
#include "reference/clsNominativi.h"
#include "reference/clsNominativo.h"

namespace ordalis::testing {
namespace {

class PhoneBookTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    engine_ = MakeEngine();
    ASSERT_TRUE(engine_->ConnectionOpen()) << engine_->Errore();
    // An empty installation stops the engine's own load (no sites); these
    // tests start from a clear error state.
    engine_->set_Errore("");
    engine_->set_CacheStopped(false);
    book_ = std::make_unique<clsNominativi>(engine_.get(), engine_->Connection());
  }
  // Commits what the engine's connection holds, so that another connection
  // sees it and may write.
  void Flush() { engine_->Connection()->Flush(); }
  std::string RowCount() { return Query("SELECT COUNT(*) FROM Rubrica"); }

  std::unique_ptr<clsChiamate> engine_;
  std::unique_ptr<clsNominativi> book_;
};

TEST_F(PhoneBookTest, PreloadReadsEveryColumnAndKeepsTheFirstOfARepeatedNumber) {
  Sql("INSERT INTO Rubrica VALUES (7, '0212345678', 'Rossi', 'Milano', '2024-03-01 00:00:00', "
      "'1899-12-30 10:15:30', '2024-02-29 00:00:00', '1899-12-30 23:59:59', 12, '3')");
  Sql("INSERT INTO Rubrica (lPKId, sNumero) VALUES (8, '0698765')");
  Sql("INSERT INTO Rubrica (lPKId, sNumero, sNome) VALUES (9, '0212345678', 'Bianchi')");
  book_->Cache(ctPreload);
  EXPECT_EQ(engine_->Errore(), "");
  EXPECT_FALSE(engine_->CacheStopped());
  ASSERT_EQ(book_->Nominativi().Count(), 2u);

  const auto& full = book_->Nominativi().Item("0212345678");
  EXPECT_EQ(full->PKId, 7);
  EXPECT_EQ(full->Nome, "Rossi");
  EXPECT_EQ(full->Localita, "Milano");
  EXPECT_EQ(full->Key, "0212345678");
  EXPECT_EQ(full->Database, engine_->Connection());
  EXPECT_EQ(full->DataUltimaChiamataO, dt::FromDate(2024, 3, 1));
  EXPECT_EQ(dt::ToSeconds(full->OraUltimaChiamataO), 10 * 3600 + 15 * 60 + 30);
  EXPECT_EQ(full->DataUltimaChiamataI, dt::FromDate(2024, 2, 29));
  EXPECT_EQ(dt::ToSeconds(full->OraUltimaChiamataI), 86399);
  EXPECT_EQ(full->TotaleSelezioniO, 12);
  EXPECT_EQ(full->TotaleSelezioniI, 3);

  const auto& bare = book_->Nominativi().Item(2);
  EXPECT_EQ(bare->NumeroTel, "0698765");
  EXPECT_EQ(bare->Nome, "");
  EXPECT_EQ(bare->DataUltimaChiamataO, 0);
  EXPECT_EQ(bare->OraUltimaChiamataI, 0);
  EXPECT_EQ(bare->TotaleSelezioniO, 0);
  EXPECT_EQ(bare->TotaleSelezioniI, 0);
}

TEST_F(PhoneBookTest, ModesNoneAndPerUse) {
  Sql("INSERT INTO Rubrica (sNumero, sNome) VALUES ('011', 'A')");
  book_->Cache(ctNone);
  EXPECT_EQ(book_->Nominativi().Count(), 0u);
  book_->Cache(ctPreload);
  EXPECT_EQ(book_->Nominativi().Count(), 1u);
  book_->Cache(ctNone);  // keeps what was loaded
  EXPECT_EQ(book_->Nominativi().Count(), 1u);
  book_->Cache(ctPerUse);  // starts empty
  EXPECT_EQ(book_->Nominativi().Count(), 0u);
  EXPECT_EQ(book_->Tipo(), ctPerUse);
  // An empty table is no error.
  Sql("DELETE FROM Rubrica");
  book_->Cache(ctPreload);
  EXPECT_EQ(book_->Nominativi().Count(), 0u);
  EXPECT_EQ(engine_->Errore(), "");
}

TEST_F(PhoneBookTest, LookupMatchesTheStoredTextExactly) {
  Sql("INSERT INTO Rubrica (lPKId, sNumero, sNome) VALUES (1, '02 1234', 'Spaced'), (2, '+39021234', 'Prefixed'), "
      "(3, '021234', 'Plain'), (4, '0''; DROP TABLE Rubrica; --', 'Quote')");
  book_->Cache(ctPerUse);
  EXPECT_FALSE(book_->CercaNominativo("21234"));
  EXPECT_FALSE(book_->CercaNominativo("0212345"));
  EXPECT_FALSE(book_->CercaNominativo("39021234"));
  EXPECT_EQ(book_->Nominativi().Count(), 0u);
  ASSERT_TRUE(book_->CercaNominativo("021234"));
  EXPECT_EQ(book_->Nominativi().Item("021234")->Nome, "Plain");
  EXPECT_EQ(book_->Nominativi().Item("021234")->PKId, 3);
  ASSERT_TRUE(book_->CercaNominativo("02 1234"));
  EXPECT_EQ(book_->Nominativi().Item("02 1234")->Nome, "Spaced");

  const std::string hostile = "0'; DROP TABLE Rubrica; --";
  auto entry = book_->GetNominativo(hostile);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Nome, "Quote");
  entry->TotaleSelezioniO = 5;
  EXPECT_TRUE(book_->Save(*entry));
  Flush();
  EXPECT_EQ(RowCount(), "4");
  EXPECT_EQ(Query("SELECT lTotaleSelezioniO FROM Rubrica WHERE lPKId = 4"), "5");
  // A new entry under such a number gets its own row and identity.
  clsNominativo fresh;
  fresh.NumeroTel = "3'3";
  ASSERT_TRUE(book_->Save(fresh));
  Flush();
  EXPECT_EQ(Query("SELECT lPKId FROM Rubrica WHERE sNumero = '3''3'"), std::to_string(fresh.PKId));
}

TEST_F(PhoneBookTest, PerUseQueriesAKnownNumberOnceAndAnUnknownOneEveryTime) {
  Sql("INSERT INTO Rubrica (sNumero, sNome) VALUES ('055', 'Firenze')");
  book_->Cache(ctPerUse);
  auto first = book_->GetNominativo("055");
  ASSERT_NE(first, nullptr);
  Sql("UPDATE Rubrica SET sNome = 'Changed'");
  auto second = book_->GetNominativo("055");
  EXPECT_EQ(second, first);  // from memory: the table was not read again
  EXPECT_EQ(second->Nome, "Firenze");
  EXPECT_EQ(book_->Nominativi().Count(), 1u);

  EXPECT_EQ(book_->GetNominativo("066"), nullptr);
  Sql("INSERT INTO Rubrica (sNumero, sNome) VALUES ('066', 'Roma')");
  auto late = book_->GetNominativo("066");
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->Nome, "Roma");
  // Fetching a number already held keeps the member in memory.
  EXPECT_TRUE(book_->CercaNominativo("055"));
  EXPECT_EQ(book_->Nominativi().Count(), 2u);
  EXPECT_EQ(book_->Nominativi().Item("055"), first);
}

// Inside the engine's write batch a number found missing is remembered as
// missing only until the table may have changed.
TEST_F(PhoneBookTest, AMissingNumberIsFoundOnceAddedInsideTheBatchOrByOthersBetweenBatches) {
  rdo::RdoConnection& connection = *engine_->Connection();
  rdo::CommitHold hold(connection);
  auto write_a_call = [&] {
    auto rs = connection.OpenResultset("SELECT * FROM CHIAMATE", rdo::CursorType::Keyset,
                                       rdo::LockType::OptimisticRowVer);
    rs->AddNew();
    rs->SetValue("SNUMERO", "1");
    rs->Update();
  };
  book_->Cache(ctPerUse);
  write_a_call();
  EXPECT_EQ(book_->GetNominativo("077"), nullptr);
  EXPECT_EQ(book_->GetNominativo("077"), nullptr);
  connection.Execute("INSERT INTO Rubrica (sNumero, sNome) VALUES ('077', 'Torino')");
  auto added = book_->GetNominativo("077");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Nome, "Torino");

  EXPECT_EQ(book_->GetNominativo("088"), nullptr);
  Flush();
  Sql("INSERT INTO Rubrica (sNumero, sNome) VALUES ('088', 'Genova')");
  write_a_call();
  auto theirs = book_->GetNominativo("088");
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(theirs->Nome, "Genova");
}

TEST_F(PhoneBookTest, SaveAddsANeverStoredEntryThenUpdatesItsRow) {
  Sql("INSERT INTO Rubrica (lPKId, sNumero) VALUES (40, 'other')");
  clsNominativo entry;
  entry.NumeroTel = "0612";
  entry.Nome = "New";
  entry.Localita = "Roma";
  entry.RegistraChiamata(true, dt::FromDate(2024, 5, 6), dt::FromTime(8, 0, 1), false);
  ASSERT_TRUE(book_->Save(entry));
  EXPECT_GT(entry.PKId, 40);
  Flush();
  const std::string id = std::to_string(entry.PKId);
  EXPECT_EQ(Query("SELECT sNome || '/' || sLocalita || '/' || lTotaleSelezioniO || '/' || lTotaleSelezioniI "
                  "FROM Rubrica WHERE lPKId = " + id),
            "New/Roma/1/0");
  EXPECT_EQ(Query("SELECT dDataUltimaChiamataO FROM Rubrica WHERE lPKId = " + id), "2024-05-06 00:00:00");
  EXPECT_EQ(Query("SELECT dOraUltimaChiamataO FROM Rubrica WHERE lPKId = " + id), "1899-12-30 08:00:01");
  EXPECT_EQ(Query("SELECT dDataUltimaChiamataI FROM Rubrica WHERE lPKId = " + id), "1899-12-30 00:00:00");

  entry.RegistraChiamata(false, dt::FromDate(2024, 5, 7), dt::FromTime(9, 0, 0), false);
  ASSERT_TRUE(book_->Save(entry));
  Flush();
  EXPECT_EQ(RowCount(), "2");
  EXPECT_EQ(Query("SELECT lTotaleSelezioniI FROM Rubrica WHERE lPKId = " + id), "1");
  // What was written loads back the same.
  book_->Cache(ctPreload);
  auto loaded = book_->Nominativi().Item("0612");
  EXPECT_EQ(loaded->PKId, entry.PKId);
  EXPECT_EQ(loaded->DataUltimaChiamataI, dt::FromDate(2024, 5, 7));
  EXPECT_EQ(loaded->OraUltimaChiamataO, dt::FromTime(8, 0, 1));
  EXPECT_EQ(loaded->TotaleSelezioniO, 1);
}

TEST_F(PhoneBookTest, SaveReadsTheNameTypedInMeanwhileAndKeepsTheCounters) {
  Sql("INSERT INTO Rubrica (lPKId, sNumero, sNome, sLocalita, lTotaleSelezioniO) VALUES (3, '0444', NULL, NULL, 2)");
  auto entry = book_->GetNominativo("0444");
  ASSERT_NE(entry, nullptr);
  entry->RegistraChiamata(true, dt::FromDate(2024, 1, 2), dt::FromTime(7, 0, 0), false);
  Sql("UPDATE Rubrica SET sNome = 'Verdi', sLocalita = 'Vicenza' WHERE lPKId = 3");
  ASSERT_TRUE(book_->Save(*entry));
  EXPECT_EQ(entry->Nome, "Verdi");
  EXPECT_EQ(entry->Localita, "Vicenza");
  EXPECT_EQ(entry->PKId, 3);
  Flush();
  EXPECT_EQ(Query("SELECT sNome || lTotaleSelezioniO FROM Rubrica WHERE lPKId = 3"), "Verdi3");
}

TEST_F(PhoneBookTest, ARowDeletedByOthersIsAddedAgainWithoutTouchingTheirRows) {
  Sql("INSERT INTO Rubrica (lPKId, sNumero, sNome) VALUES (1, '01', 'One'), (2, '02', 'Two')");
  book_->Cache(ctPreload);
  auto two = book_->Nominativi().Item("02");
  two->TotaleSelezioniO = 9;
  // Someone deletes the row and adds another one: its identity must not be
  // the deleted row's, or the save would overwrite a stranger's row.
  Sql("DELETE FROM Rubrica WHERE lPKId = 2");
  Sql("INSERT INTO Rubrica (sNumero, sNome) VALUES ('03', 'Three')");
  EXPECT_EQ(Query("SELECT lPKId FROM Rubrica WHERE sNumero = '03'"), "3");
  // SaveAll writes entry "01" in place and, not finding the row of "02",
  // adds it again.
  book_->Nominativi().Item("01")->TotaleSelezioniO = 5;
  EXPECT_EQ(book_->SaveAll(), 0u);
  EXPECT_EQ(two->PKId, 4);
  Flush();
  EXPECT_EQ(Query("SELECT sNome || '/' || IFNULL(lTotaleSelezioniO, 'null') FROM Rubrica WHERE lPKId = 3"),
            "Three/null");
  EXPECT_EQ(Query("SELECT sNumero || '/' || sNome || '/' || lTotaleSelezioniO FROM Rubrica WHERE lPKId = 4"),
            "02/Two/9");
  EXPECT_EQ(Query("SELECT lTotaleSelezioniO FROM Rubrica WHERE lPKId = 1"), "5");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Rubrica"), "3");
}

TEST_F(PhoneBookTest, AFailedSaveLeavesTheRowAndIsCountedBySaveAll) {
  Sql("INSERT INTO Rubrica (lPKId, sNumero, lTotaleSelezioniO) VALUES (1, 'a', 1), (2, 'b', 1), (3, 'c', 1)");
  Sql("CREATE TRIGGER refuse BEFORE UPDATE ON Rubrica WHEN NEW.sNumero = 'b' BEGIN SELECT RAISE(ABORT, 'refused'); "
      "END");
  book_->TipoAggiornamento = utBatch;
  book_->Cache(ctPreload);
  for (const auto& entry : book_->Nominativi()) {
    entry->RegistraChiamata(true, dt::FromDate(2024, 1, 1), 0, false);
    EXPECT_TRUE(book_->Aggiorna(*entry));
  }
  EXPECT_EQ(book_->SaveStatus, ssUnsaved);
  Flush();
  EXPECT_EQ(Query("SELECT SUM(lTotaleSelezioniO) FROM Rubrica"), "3");  // batch: nothing written yet

  EXPECT_EQ(book_->SaveAll(), 1u);
  EXPECT_EQ(book_->SaveStatus, ssUnsaved);
  Flush();
  EXPECT_EQ(Query("SELECT group_concat(lTotaleSelezioniO, ',') FROM (SELECT * FROM Rubrica ORDER BY lPKId)"),
            "2,1,2");
  Flush();
  Sql("DROP TRIGGER refuse");
  EXPECT_EQ(book_->SaveAll(), 0u);
  EXPECT_EQ(book_->SaveStatus, ssSaved);
  // Immediate mode writes at once.
  book_->TipoAggiornamento = utImmediate;
  auto a = book_->Nominativi().Item("a");
  a->RegistraChiamata(true, dt::FromDate(2024, 1, 2), 0, false);
  EXPECT_TRUE(book_->Aggiorna(*a));
  Flush();
  EXPECT_EQ(Query("SELECT group_concat(lTotaleSelezioniO, ',') FROM (SELECT * FROM Rubrica ORDER BY lPKId)"),
            "3,2,2");
}

TEST_F(PhoneBookTest, LoadFailuresFollowTheCacheErrorConvention) {
  Sql("INSERT INTO Rubrica (lPKId, sNumero, lTotaleSelezioniO) VALUES (1, 'ok', '12 calls'), (2, 'big', 99999999999)");
  book_->Cache(ctPreload);
  EXPECT_TRUE(engine_->CacheStopped());
  EXPECT_EQ(engine_->Errore(), "Overflow");
  ASSERT_EQ(book_->Nominativi().Count(), 1u);  // the rows read before the failure stay
  EXPECT_EQ(book_->Nominativi().Item("ok")->TotaleSelezioniO, 12);

  // Once the engine has stopped, a load adds nothing.
  Sql("DELETE FROM Rubrica WHERE lPKId = 2");
  book_->Cache(ctPreload);
  EXPECT_EQ(book_->Nominativi().Count(), 0u);

  engine_->set_CacheStopped(false);
  engine_->set_UsoRiproc(true);
  Flush();
  Sql("DROP TABLE Rubrica");
  try {
    book_->Cache(ctPreload);
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Source(), "clsNominativi.Cache");
  }
  // A look-up that cannot run reaches the caller; a save stays quiet.
  EXPECT_THROW(book_->CercaNominativo("x"), ComponentError);
  clsNominativo entry;
  EXPECT_FALSE(book_->Save(entry));
  EXPECT_EQ(book_->SaveStatus, ssUnsaved);
}

TEST(PhoneBookStatistics, RecordingACallAndItsUndo) {
  clsNominativo entry;
  entry.TotaleSelezioniO = 4;
  entry.DataUltimaChiamataO = dt::FromDate(2024, 6, 10);
  // Re-rating a row counts it once: minus the old rating, plus the new one.
  entry.RegistraChiamata(true, dt::FromDate(2024, 6, 1), dt::FromTime(12, 0, 0), true);
  EXPECT_EQ(entry.TotaleSelezioniO, 4);
  EXPECT_EQ(entry.DataUltimaChiamataO, dt::FromDate(2024, 6, 10));  // an older call leaves the date
  EXPECT_EQ(entry.OraUltimaChiamataO, dt::FromTime(12, 0, 0));      // but sets the time
  entry.RegistraChiamata(true, dt::FromDate(2024, 6, 11), dt::FromTime(1, 0, 0), false);
  EXPECT_EQ(entry.TotaleSelezioniO, 5);
  EXPECT_EQ(entry.DataUltimaChiamataO, dt::FromDate(2024, 6, 11));
  EXPECT_EQ(entry.TotaleSelezioniI, 0);
  EXPECT_EQ(entry.DataUltimaChiamataI, 0);

  entry.TotaleSelezioniI = std::numeric_limits<std::int32_t>::max();
  EXPECT_THROW(entry.RegistraChiamata(false, dt::FromDate(2024, 7, 1), dt::FromTime(2, 0, 0), false),
               ComponentError);
  EXPECT_EQ(entry.TotaleSelezioniI, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(entry.DataUltimaChiamataI, 0);  // unchanged by the failed count
}

TEST(PhoneBookStatistics, CountsReadThroughTheirTextForm) {
  EXPECT_EQ(ContatoreDaColonna(Variant()), 0);
  EXPECT_EQ(ContatoreDaColonna(Variant("abc")), 0);
  EXPECT_EQ(ContatoreDaColonna(Variant("2.5")), 2);
  EXPECT_EQ(ContatoreDaColonna(Variant("2147483647")), 2147483647);
  EXPECT_THROW(ContatoreDaColonna(Variant("2147483648")), ComponentError);
}

}  // namespace
}  // namespace ordalis::testing
