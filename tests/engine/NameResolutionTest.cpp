// The other party's name and the phone-book and swing statistics behind it,
// through rows of a database holding the demo's reference data (extension
// 240 of Milan is a swing extension, 202 an ordinary one).
#include "EngineFixture.h"
#include "ordalis/ComponentError.h"

namespace ordalis::testing {
namespace {

class NameResolutionTest : public RatingTest {
 protected:
  void SetUp() override {
    RatingTest::SetUp();
    Sql("INSERT INTO Rubrica (sNumero, sNome, lTotaleSelezioniO, lTotaleSelezioniI) VALUES ('024567890', 'Ada', 0, 0)");
  }
  void Call(int id, const std::string& site, const std::string& extension, const std::string& number) {
    Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO) "
        "VALUES (" + std::to_string(id) + ", '2024-01-02 00:00:00', '1899-12-30 10:15:00', '1899-12-30 00:02:00', '" +
        number + "', '" + site + "', '" + extension + "', 'O', 'L1', 0)");
  }
  std::string Name(int id) { return Query("SELECT SNOME_C FROM CHIAMATE WHERE lPKId = " + std::to_string(id)); }
  std::string AdasCalls() { return Query("SELECT lTotaleSelezioniO FROM Rubrica WHERE sNumero = '024567890'"); }
  std::string Swings() {
    return Query("SELECT coalesce(group_concat(sNumero || ':' || lNumeroChiamateO), '') FROM Swing");
  }
};

TEST_F(NameResolutionTest, ACallOfAnUnknownSiteHasNoNameAndCountsNothing) {
  Call(1, "MI", "202", "024567890");
  Call(2, "XX", "202", "0612345678");
  Call(3, "XX", "240", "024567890");
  auto engine = MakeEngine();
  engine->Process();
  EXPECT_EQ(Name(1), "Ada");
  EXPECT_EQ(Name(2), "<null>");
  EXPECT_EQ(Name(3), "<null>");
  EXPECT_EQ(AdasCalls(), "1");
  EXPECT_EQ(Swings(), "");
}

TEST_F(NameResolutionTest, WithoutTheSearchStepsNoNumberIsAnalysedForTheName) {
  // Name (14) and country (15) only: the country step analyses each call's
  // number after the name step has run, so the name step never has a
  // number of its own call.
  Call(1, "MI", "240", "0612345678");  // not in the phone book, swing extension
  Call(2, "MI", "240", "024567890");
  Call(3, "MI", "202", "0699999999");
  auto engine = MakeEngine();
  engine->set_Operation("0000000000000110000");
  engine->Process();
  EXPECT_EQ(Name(2), "<null>");
  EXPECT_EQ(Name(3), "<null>");
  EXPECT_EQ(AdasCalls(), "0");
  EXPECT_EQ(Swings(), "");
  EXPECT_EQ(Query("SELECT SNAZIONE_C FROM CHIAMATE WHERE lPKId = 3"), "Italia");
}

TEST_F(NameResolutionTest, ASingleCallOfAnUnknownSiteAfterAnotherCall) {
  auto engine = MakeEngine();
  auto run = [&](const std::string& site, const std::string& number) {
    engine->set_Data("2024-01-02");
    engine->set_Ora("10:15:00");
    engine->set_sSito(site);
    engine->SetProperty("sDerivato", std::string("202"));
    engine->SetProperty("sNumero", number);
    engine->SetProperty("dDurata", Variant::FromDate(120.0 / 86400));
    engine->SetProperty("sTipo", std::string("O"));
    engine->Run();
    EXPECT_EQ(engine->Errore(), "");
    return engine->Property("sNome_c").ToText();
  };
  EXPECT_EQ(run("MI", "024567890"), "Ada");
  EXPECT_EQ(AdasCalls(), "1");
  EXPECT_EQ(run("XX", "0612345678"), "");
  EXPECT_EQ(AdasCalls(), "1");
}

TEST_F(NameResolutionTest, APhoneBookFailureStillKeepsTheSwingStatistics) {
  auto engine = MakeEngine();
  // The phone book is looked up number by number; from now on it fails.
  Sql("ALTER TABLE Rubrica RENAME TO RubricaAltrove");
  Call(1, "MI", "240", "0612345678");
  Call(2, "MI", "202", "024567890");
  engine->Process();
  EXPECT_NE(engine->Errore(), "");
  EXPECT_TRUE(engine->CacheStopped());
  // The swing list still counts the swing extension's call; the run goes on.
  EXPECT_EQ(Swings(), "0612345678:1");
  EXPECT_EQ(Name(2), "<null>");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "2");
  // With UsoRiproc the failure ends the run instead.
  engine->set_UsoRiproc(true);
  try {
    engine->Process();
    ADD_FAILURE() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_NE(e.Description().find("Generic error getting PhoneBook name: "), std::string::npos) << e.Description();
  }
}

}  // namespace
}  // namespace ordalis::testing
