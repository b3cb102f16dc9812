// Swing numbers on real SQLite engine databases: loading, the exact-number
// look-up, the write-back of every column and the totals of a call.
#include "data/RdoConnection.h"
#include "engine/EngineFixture.h"
#include "ordalis/ComponentError.h"
#include "reference/clsSwing.h"
#include "reference/clsSwings.h"

namespace ordalis::testing {
namespace {

class SwingTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    engine_ = MakeEngine();
    ASSERT_TRUE(engine_->ConnectionOpen()) << engine_->Errore();
    // An empty installation stops the engine's own load (no sites); these
    // tests start from a clear error state.
    engine_->set_Errore("");
    engine_->set_CacheStopped(false);
    swings_ = std::make_unique<clsSwings>(engine_.get(), engine_->Connection());
  }
  void Flush() { engine_->Connection()->Flush(); }

  std::unique_ptr<clsChiamate> engine_;
  std::unique_ptr<clsSwings> swings_;
};

TEST_F(SwingTest, PreloadReadsEveryColumnWithNullsAsZero) {
  Sql("INSERT INTO Swing VALUES (5, '3331234', 'Mobile', 12.3456, '2024-04-02 00:00:00', '2024-04-01 00:00:00', "
      "'1899-12-30 18:00:00', '1899-12-30 09:30:00', '201', '1899-12-31 01:00:30', 2, 7, 'MI', 1)");
  Sql("INSERT INTO Swing (lPKId, sNumero) VALUES (6, '3339999')");
  Sql("INSERT INTO Swing (lPKId, sNumero, sNome) VALUES (7, '3331234', 'Second')");
  swings_->Cache(ctPreload);
  EXPECT_EQ(engine_->Errore(), "");
  ASSERT_EQ(swings_->Swings().Count(), 2u);
  const auto& s = swings_->Swings().Item("3331234");
  EXPECT_EQ(s->PKId, 5);
  EXPECT_EQ(s->Nome, "Mobile");
  EXPECT_EQ(s->Key, "3331234");
  EXPECT_EQ(s->CostoConversazioni, Money::FromRaw(123456));
  EXPECT_EQ(s->DataUltimaChiamataO, dt::FromDate(2024, 4, 2));
  EXPECT_EQ(s->DataUltimaChiamataI, dt::FromDate(2024, 4, 1));
  EXPECT_EQ(s->OraUltimaChiamataI, dt::FromTime(18, 0, 0));
  EXPECT_EQ(s->OraUltimaChiamataO, dt::FromTime(9, 30, 0));
  EXPECT_EQ(s->Derivato, "201");
  EXPECT_EQ(dt::DurationSeconds(s->MinutiConversazione), 86400 + 3600 + 30);
  EXPECT_EQ(s->NumeroChiamateI, 2);
  EXPECT_EQ(s->NumeroChiamateO, 7);
  EXPECT_EQ(s->Sito, "MI");
  EXPECT_TRUE(s->Videotel);

  const auto& bare = swings_->Swings().Item("3339999");
  EXPECT_EQ(bare->CostoConversazioni, Money());
  EXPECT_FALSE(bare->Videotel);
  EXPECT_EQ(bare->MinutiConversazione, 0);
  EXPECT_EQ(bare->NumeroChiamateO, 0);
}

TEST_F(SwingTest, ACostThatIsNotANumberStopsTheLoad) {
  Sql("INSERT INTO Swing (lPKId, sNumero, cCostoConversazioni) VALUES (1, 'a', 1), (2, 'b', 'abc')");
  swings_->Cache(ctPreload);
  EXPECT_TRUE(engine_->CacheStopped());
  EXPECT_NE(engine_->Errore(), "");
  EXPECT_EQ(swings_->Swings().Count(), 1u);
  engine_->set_CacheStopped(false);
  engine_->set_UsoRiproc(true);
  try {
    swings_->Cache(ctPreload);
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), kErrTypeMismatch);
    EXPECT_EQ(e.Source(), "clsSwings.Cache");
  }
}

TEST_F(SwingTest, PerUseQueriesAMissingNumberAtEveryCall) {
  swings_->Cache(ctPerUse);
  EXPECT_EQ(swings_->GetSwing("0'1"), nullptr);
  EXPECT_FALSE(swings_->CercaSwing("0'1"));
  Sql("INSERT INTO Swing (sNumero, sNome, lNumeroChiamateO) VALUES ('0''1', 'Quoted', 3), ('0 1', 'Spaced', 1)");
  auto found = swings_->GetSwing("0'1");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Nome, "Quoted");
  EXPECT_EQ(found->NumeroChiamateO, 3);
  EXPECT_EQ(swings_->GetSwing("01"), nullptr);  // exact text only
  Sql("DELETE FROM Swing");
  EXPECT_EQ(swings_->GetSwing("0'1"), found);  // held in memory now
  EXPECT_EQ(Query("SELECT COUNT(*) FROM sqlite_master WHERE name = 'Swing'"), "1");
}

TEST_F(SwingTest, SaveWritesEveryColumnAndEmptyNamesAsNull) {
  auto swing = std::make_shared<clsSwing>();
  swing->Numero = "3471112";
  swing->CostoConversazioni = Money::FromRaw(15);  // 0.0015
  swing->DataUltimaChiamataO = dt::FromDate(2024, 2, 3);
  swing->DataUltimaChiamataI = dt::FromDate(2024, 2, 1);
  swing->OraUltimaChiamataO = dt::FromTime(10, 0, 0);
  swing->OraUltimaChiamataI = dt::FromTime(11, 0, 0);
  swing->Derivato = "305";
  swing->MinutiConversazione = dt::FromSeconds(90);
  swing->NumeroChiamateI = 4;
  swing->NumeroChiamateO = 6;
  swing->Sito = "RM";
  swing->Videotel = true;
  ASSERT_TRUE(swings_->Save(*swing));
  ASSERT_GT(swing->PKId, 0);
  Flush();
  const std::string where = " FROM Swing WHERE lPKId = " + std::to_string(swing->PKId);
  EXPECT_EQ(Query("SELECT IFNULL(sNome, 'null') || '/' || dMinutiConversazione || '/' || lNumeroChiamateI || '/' || "
                  "lNumeroChiamateO || '/' || bVideotel || '/' || sDerivato || '/' || sSito" + where),
            "null/1899-12-30 00:01:30/4/6/1/305/RM");

  // What was written loads back the same, field by field.
  clsSwings reload(engine_.get(), engine_->Connection());
  reload.Cache(ctPreload);
  const auto& back = reload.Swings().Item("3471112");
  EXPECT_EQ(back->CostoConversazioni, swing->CostoConversazioni);
  EXPECT_EQ(back->DataUltimaChiamataO, swing->DataUltimaChiamataO);
  EXPECT_EQ(back->DataUltimaChiamataI, swing->DataUltimaChiamataI);
  EXPECT_EQ(back->OraUltimaChiamataO, swing->OraUltimaChiamataO);
  EXPECT_EQ(back->OraUltimaChiamataI, swing->OraUltimaChiamataI);
  EXPECT_EQ(back->MinutiConversazione, swing->MinutiConversazione);
  EXPECT_EQ(back->PKId, swing->PKId);

  // A second save edits the same row; memory wins over the table, a name
  // typed in meanwhile is overwritten and not read back.
  Sql("UPDATE Swing SET sNome = 'Typed'");
  swing->NumeroChiamateO = 7;
  ASSERT_TRUE(swings_->Save(*swing));
  EXPECT_EQ(swing->Nome, "");
  Flush();
  EXPECT_EQ(Query("SELECT COUNT(*) || '/' || IFNULL(sNome, 'null') || '/' || lNumeroChiamateO FROM Swing"),
            "1/null/7");
}

TEST_F(SwingTest, ARowDeletedByOthersIsAddedAgain) {
  Sql("INSERT INTO Swing (lPKId, sNumero, lNumeroChiamateO) VALUES (1, 'x', 1), (2, 'y', 1)");
  swings_->Cache(ctPreload);
  auto y = swings_->Swings().Item("y");
  y->NumeroChiamateO = 2;
  Sql("DELETE FROM Swing WHERE lPKId = 2");
  Sql("INSERT INTO Swing (sNumero, lNumeroChiamateO) VALUES ('z', 10)");
  ASSERT_TRUE(swings_->Save(*y));
  EXPECT_EQ(y->PKId, 4);
  Flush();
  EXPECT_EQ(Query("SELECT group_concat(lPKId || sNumero || lNumeroChiamateO, ',') FROM "
                  "(SELECT * FROM Swing ORDER BY lPKId)"),
            "1x1,3z10,4y2");
}

TEST_F(SwingTest, BatchModeWritesOnlyAtSaveAll) {
  swings_->TipoAggiornamento = utBatch;
  swings_->Cache(ctPerUse);
  clsSwing::DatiChiamata call;
  call.sNumero = "3471112";
  call.sSito = "MI";
  call.sDerivato = "201";
  call.dData = dt::FromDate(2024, 1, 5);
  call.dDurata = dt::FromSeconds(60);
  call.cCosto = Money::FromRaw(2500);
  for (const char* number : {"3471112", "3471113"}) {
    auto swing = std::make_shared<clsSwing>();
    call.sNumero = number;
    swing->RegistraChiamata(call, true);
    swings_->Aggiungi(swing);
    EXPECT_TRUE(swings_->Aggiorna(*swing));
  }
  EXPECT_EQ(swings_->SaveStatus, ssUnsaved);
  Flush();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Swing"), "0");
  EXPECT_EQ(swings_->SaveAll(), 0u);
  EXPECT_EQ(swings_->SaveStatus, ssSaved);
  Flush();
  EXPECT_EQ(Query("SELECT group_concat(sNumero || '/' || lNumeroChiamateO || '/' || cCostoConversazioni, ',') FROM "
                  "(SELECT * FROM Swing ORDER BY lPKId)"),
            "3471112/1/0.25,3471113/1/0.25");
  EXPECT_EQ(swings_->Swings().Item("3471113")->PKId, 2);
}

// Inside the engine's write batch, rows fetched ahead serve the look-ups
// with every column, and numbers found missing stay missing, as they were
// when fetched, until the next Prefetch; so do those a later block asks for
// again, which it knows missing without a statement.
TEST_F(SwingTest, PrefetchedRowsAndMissingNumbersHoldUntilTheNextPrefetch) {
  Sql("INSERT INTO Swing (lPKId, sNumero, sNome, lNumeroChiamateO, sSito) VALUES (4, '0611', 'Ahead', 6, 'MI'), "
      "(5, '0612', 'Not asked', 1, 'TO')");
  swings_->Cache(ctPerUse);
  rdo::RdoConnection& connection = *engine_->Connection();
  rdo::CommitHold hold(connection);
  auto calls = connection.OpenResultset("SELECT * FROM CHIAMATE", rdo::CursorType::Keyset,
                                        rdo::LockType::OptimisticRowVer);
  calls->AddNew();
  calls->SetValue("SNUMERO", "1");
  calls->Update();  // the batch is open: the connection can tell what changed
  swings_->Prefetch({"0611", "0699", "0611", ""});
  swings_->Prefetch({"0699", "0611"});
  connection.Execute("UPDATE Swing SET sNome = 'Changed' WHERE sNumero = '0611'");
  connection.Execute("INSERT INTO Swing (sNumero, sNome) VALUES ('0699', 'Added')");
  auto ahead = swings_->GetSwing("0611");
  ASSERT_NE(ahead, nullptr);
  EXPECT_EQ(ahead->PKId, 4);
  EXPECT_EQ(ahead->Nome, "Ahead");
  EXPECT_EQ(ahead->NumeroChiamateO, 6);
  EXPECT_EQ(ahead->Sito, "MI");
  EXPECT_EQ(swings_->GetSwing("0611"), ahead);
  EXPECT_EQ(swings_->GetSwing("0699"), nullptr);
  swings_->Prefetch({});
  auto added = swings_->GetSwing("0699");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Nome, "Added");
  EXPECT_EQ(swings_->Swings().Count(), 2u);
}

// Rows added at the end of a batch run take their own identities, not those
// of rows of the same number added by others before.
TEST_F(SwingTest, SaveAllGivesTheRowsItAddsTheirOwnIdentities) {
  swings_->TipoAggiornamento = utBatch;
  swings_->Cache(ctPerUse);
  for (const char* number : {"3471112", "3471113"}) {
    auto swing = std::make_shared<clsSwing>();
    swing->Numero = number;
    swing->NumeroChiamateO = 1;
    swings_->Aggiungi(swing);
  }
  Sql("INSERT INTO Swing (lPKId, sNumero, lNumeroChiamateO) VALUES (7, '3471113', 40)");
  EXPECT_EQ(swings_->SaveAll(), 0u);
  Flush();
  EXPECT_EQ(swings_->Swings().Item("3471112")->PKId, 8);
  EXPECT_EQ(swings_->Swings().Item("3471113")->PKId, 9);
  EXPECT_EQ(Query("SELECT group_concat(lPKId || '/' || sNumero || '/' || lNumeroChiamateO, ',') FROM "
                  "(SELECT * FROM Swing ORDER BY lPKId)"),
            "7/3471113/40,8/3471112/1,9/3471113/1");
}

TEST(SwingStatistics, ANewSwingAndAReRatedCall) {
  clsSwing::DatiChiamata call;
  call.uscente = true;
  call.dData = dt::FromDate(2024, 3, 10);
  call.dOra = dt::FromTime(9, 0, 0);
  call.dDurata = dt::FromSeconds(120);
  call.cCosto = Money::FromRaw(5000);
  call.sNumero = "3401";
  call.sSito = "TO";
  call.sDerivato = "12";

  clsSwing swing;
  swing.Nome = "stale";
  swing.RegistraChiamata(call, true);
  EXPECT_EQ(swing.NumeroChiamateO, 1);
  EXPECT_EQ(swing.NumeroChiamateI, 0);
  EXPECT_EQ(swing.CostoConversazioni, Money::FromRaw(5000));
  EXPECT_EQ(dt::DurationSeconds(swing.MinutiConversazione), 120);
  EXPECT_EQ(swing.Nome, "");
  EXPECT_EQ(swing.Numero, "3401");
  EXPECT_EQ(swing.Sito, "TO");
  EXPECT_EQ(swing.Derivato, "12");
  EXPECT_EQ(swing.Status, stIndividuato);
  EXPECT_TRUE(swing.Videotel);
  EXPECT_EQ(swing.DataUltimaChiamataO, call.dData);

  // The same row rated again at a new cost: the count and the duration stay,
  // the cost becomes the new one.
  clsSwing::DatiChiamata again = call;
  again.annulla = true;
  again.cCostoPrecedente = call.cCosto;
  again.cCosto = Money::FromRaw(7000);
  again.dData = dt::FromDate(2024, 3, 1);  // an older date leaves the last date
  again.dOra = dt::FromTime(8, 0, 0);
  swing.RegistraChiamata(again, false);
  EXPECT_EQ(swing.NumeroChiamateO, 1);
  EXPECT_EQ(swing.CostoConversazioni, Money::FromRaw(7000));
  EXPECT_EQ(dt::DurationSeconds(swing.MinutiConversazione), 120);
  EXPECT_EQ(swing.DataUltimaChiamataO, dt::FromDate(2024, 3, 10));
  EXPECT_EQ(swing.OraUltimaChiamataO, dt::FromTime(8, 0, 0));

  // An incoming call counts on the other side only.
  clsSwing::DatiChiamata incoming = call;
  incoming.uscente = false;
  swing.RegistraChiamata(incoming, false);
  EXPECT_EQ(swing.NumeroChiamateO, 1);
  EXPECT_EQ(swing.NumeroChiamateI, 1);
  EXPECT_EQ(swing.DataUltimaChiamataI, call.dData);
  EXPECT_EQ(swing.CostoConversazioni, Money::FromRaw(12000));
}

}  // namespace
}  // namespace ordalis::testing
