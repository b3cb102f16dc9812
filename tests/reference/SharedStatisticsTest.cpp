// Two engines (two connections) counting into one SQLite database, as
// processes rating it together do: neither overwrites what the other wrote.
#include "engine/EngineFixture.h"
#include "ordalis/ComponentError.h"
#include "data/RdoConnection.h"
#include "reference/clsDerivati.h"
#include "reference/clsDerivato.h"
#include "reference/clsNominativi.h"
#include "reference/clsNominativo.h"
#include "reference/clsSwing.h"
#include "reference/clsSwings.h"

namespace ordalis::testing {
namespace {

class SharedStatisticsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    for (auto* engine : {&a_, &b_}) {
      *engine = MakeEngine();
      ASSERT_TRUE((*engine)->ConnectionOpen()) << (*engine)->Errore();
      (*engine)->set_Errore("");
      (*engine)->set_CacheStopped(false);
    }
  }
  // Commits what an engine's connection holds, so that the other may write.
  static void Flush(clsChiamate& engine) { engine.Connection()->Flush(); }

  std::unique_ptr<clsChiamate> a_, b_;
};

TEST_F(SharedStatisticsTest, PhoneBookCountsAddUpAndTheLatestCallKeepsItsTime) {
  Sql("INSERT INTO Rubrica VALUES (7, '0212345678', 'Rossi', 'Milano', '2024-03-01 00:00:00', "
      "'1899-12-30 10:00:00', NULL, NULL, 5, 1)");
  clsNominativi book_a(a_.get(), a_->Connection()), book_b(b_.get(), b_->Connection());
  book_a.Cache(ctPerUse);
  book_b.Cache(ctPerUse);
  auto a = book_a.GetNominativo("0212345678");
  auto b = book_b.GetNominativo("0212345678");
  ASSERT_TRUE(a && b);
  // Both read 5; A counts one call of 3 March, B two earlier ones and an incoming one.
  a->RegistraChiamata(true, dt::FromDate(2024, 3, 3), dt::FromTime(9, 0, 0), false, true);
  b->RegistraChiamata(true, dt::FromDate(2024, 3, 2), dt::FromTime(18, 0, 0), false, true);
  b->RegistraChiamata(true, dt::FromDate(2024, 2, 2), dt::FromTime(8, 0, 0), false, true);
  b->RegistraChiamata(false, dt::FromDate(2024, 2, 2), dt::FromTime(8, 30, 0), false, true);
  ASSERT_TRUE(book_a.Save(*a));
  Flush(*a_);
  ASSERT_TRUE(book_b.Save(*b));
  Flush(*b_);
  EXPECT_EQ(Query("SELECT lTotaleSelezioniO || '/' || lTotaleSelezioniI FROM Rubrica WHERE lPKId = 7"), "8/2");
  EXPECT_EQ(Query("SELECT dDataUltimaChiamataO || ' ' || dOraUltimaChiamataO FROM Rubrica"),
            "2024-03-03 00:00:00 1899-12-30 09:00:00");
  EXPECT_EQ(Query("SELECT dDataUltimaChiamataI || ' ' || dOraUltimaChiamataI FROM Rubrica"),
            "2024-02-02 00:00:00 1899-12-30 08:30:00");
  // B's memory now holds the row; A's next save adds only its own new call.
  EXPECT_EQ(b->TotaleSelezioniO, 8);
  a->RegistraChiamata(true, dt::FromDate(2024, 3, 4), dt::FromTime(7, 0, 0), false, true);
  ASSERT_TRUE(book_a.Save(*a));
  Flush(*a_);
  EXPECT_EQ(Query("SELECT lTotaleSelezioniO || ' ' || dOraUltimaChiamataO FROM Rubrica"), "9 1899-12-30 07:00:00");
}

TEST_F(SharedStatisticsTest, ANewSwingNumberMetByBothIsOneRowWithBothCalls) {
  Sql("CREATE UNIQUE INDEX Swing_sNumero_unique ON Swing (sNumero)");
  clsSwings swings_a(a_.get(), a_->Connection()), swings_b(b_.get(), b_->Connection());
  swings_a.Cache(ctPerUse);
  swings_b.Cache(ctPerUse);
  const auto call = [](const char* extension, int day, int seconds, double cost) {
    clsSwing::DatiChiamata c;
    c.dData = dt::FromDate(2024, 1, day);
    c.dOra = dt::FromTime(10, 0, 0);
    c.dDurata = seconds / 86400.0;
    c.cCosto = Money::FromDouble(cost);
    c.sNumero = "0612345";
    c.sSito = "MI";
    c.sDerivato = extension;
    c.per_data = true;
    return c;
  };
  auto a = std::make_shared<clsSwing>(), b = std::make_shared<clsSwing>();
  a->RegistraChiamata(call("201", 5, 90, 0.25), true);
  b->RegistraChiamata(call("202", 7, 30, 0.5), true);
  b->RegistraChiamata(call("202", 6, 45, 0.125), false);
  ASSERT_TRUE(swings_a.Save(*a));
  Flush(*a_);
  ASSERT_TRUE(swings_b.Save(*b));  // its insert meets A's row: counts are added to it
  Flush(*b_);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Swing"), "1");
  EXPECT_EQ(Query("SELECT lNumeroChiamateO || ' ' || cCostoConversazioni || ' ' || dMinutiConversazione || ' ' || "
                  "dDataUltimaChiamataO || ' ' || sDerivato FROM Swing"),
            "3 0.875 1899-12-30 00:02:45 2024-01-07 00:00:00 202");
  EXPECT_EQ(a->PKId, b->PKId);
}

// A swing's site and extension are those of its latest call in either
// direction, whichever process met it and whichever saved first.
TEST_F(SharedStatisticsTest, ASwingKeepsTheSiteAndExtensionOfItsLatestCall) {
  Sql("INSERT INTO Swing VALUES (3, '0612345', NULL, 1, '2024-01-05 00:00:00', NULL, NULL, '1899-12-30 10:00:00', "
      "'200', '1899-12-30 00:01:00', 0, 1, 'MI', 1)");
  clsSwings swings_a(a_.get(), a_->Connection()), swings_b(b_.get(), b_->Connection());
  swings_a.Cache(ctPerUse);
  swings_b.Cache(ctPerUse);
  const auto call = [](bool outgoing, int day, int hour, const char* site, const char* extension) {
    clsSwing::DatiChiamata c;
    c.uscente = outgoing;
    c.dData = dt::FromDate(2024, 1, day);
    c.dOra = dt::FromTime(hour, 0, 0);
    c.dDurata = 60 / 86400.0;
    c.cCosto = Money::FromDouble(0.5);
    c.sNumero = "0612345";
    c.sSito = site;
    c.sDerivato = extension;
    c.per_data = true;
    return c;
  };
  const auto site_and_extension = [&] { return Query("SELECT sSito || ' ' || sDerivato FROM Swing"); };
  auto a = swings_a.GetSwing("0612345"), b = swings_b.GetSwing("0612345");
  ASSERT_TRUE(a && b);
  // Each saves and commits, A first when `a_first`.
  const auto save = [&](bool a_first) {
    for (bool is_a : {a_first, !a_first}) {
      EXPECT_TRUE(is_a ? swings_a.Save(*a) : swings_b.Save(*b));
      Flush(is_a ? *a_ : *b_);
    }
  };
  // A's outgoing call is later than B's; A saves first.
  a->RegistraChiamata(call(true, 9, 10, "MI", "301"), false);
  b->RegistraChiamata(call(true, 8, 10, "RM", "302"), false);
  save(true);
  EXPECT_EQ(site_and_extension(), "MI 301");
  EXPECT_EQ(Query("SELECT lNumeroChiamateO || ' ' || dDataUltimaChiamataO FROM Swing"), "3 2024-01-09 00:00:00");
  // B's incoming call is the latest now, though A saves after it.
  b->RegistraChiamata(call(false, 9, 11, "RM", "303"), false);
  a->RegistraChiamata(call(true, 9, 9, "MI", "304"), false);
  save(false);
  EXPECT_EQ(site_and_extension(), "RM 303");
  EXPECT_EQ(Query("SELECT lNumeroChiamateO || '/' || lNumeroChiamateI FROM Swing"), "4/1");
}

TEST_F(SharedStatisticsTest, AnExtensionAddedByBothIsOneRowAndTotalsWrittenMeanwhileStay) {
  Sql("CREATE UNIQUE INDEX Derivati_sNumero_sSito ON Derivati (sNumero, sSito)");
  Sql("INSERT INTO Derivati (sNumero, sSito, sNome, lTotMinuti, lTotChiamate, cTotCosto, lSogliaMinuti, "
      "lSogliaChiamate, cSogliaCosto) VALUES ('300', 'MI', 'Kept', 10, 2, 1.5, 0, 0, 0)");
  clsDerivati ext_a(a_.get(), a_->Connection()), ext_b(b_.get(), b_->Connection());
  ext_a.Cache(ctPreload);
  ext_b.Cache(ctPreload);
  std::string site_a = "MI", site_b = "MI";
  std::shared_ptr<clsDerivato> added_a, added_b;
  ASSERT_TRUE(ext_a.InserimentoAutomaticoDerivato("555", site_a, added_a, false));
  Flush(*a_);
  ASSERT_TRUE(ext_b.InserimentoAutomaticoDerivato("555", site_b, added_b, false)) << ext_b.LastError();
  Flush(*b_);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Derivati WHERE sNumero = '555'"), "1");
  EXPECT_EQ(added_b->Nome, "?");
  // Totals another writer changes while the extensions are cached survive a write-back.
  Sql("UPDATE Derivati SET lTotMinuti = lTotMinuti + 7, cTotCosto = cTotCosto + 2 WHERE sNumero = '300'");
  EXPECT_EQ(ext_a.SaveAll(), 0u);
  Flush(*a_);
  EXPECT_EQ(Query("SELECT lTotMinuti || ' ' || lTotChiamate || ' ' || cTotCosto FROM Derivati WHERE sNumero = '300'"),
            "17 2 3.5");
}

}  // namespace
}  // namespace ordalis::testing
