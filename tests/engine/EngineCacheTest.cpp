#include <fstream>

#include "EngineFixture.h"
#include "data/RdoConnection.h"
#include "ordalis/ComponentError.h"

namespace ordalis::testing {
namespace {

using Changes = std::vector<std::pair<int, std::string>>;

TEST_F(RatingTest, FullOperationLoadsEveryCacheStep) {
  auto engine = MakeEngine();
  EXPECT_EQ(events_.cache_start, 12);
  EXPECT_EQ(events_.cache_changes, (Changes{{1, "Calendar"}, {2, "Sites"}, {3, "Swing"}, {4, "Extensions"},
                                            {5, "Account"}, {6, "Currency"}, {7, "TimeZone"}, {8, "Stat"}}));
  EXPECT_EQ(events_.cache_done, 1);
  EXPECT_TRUE(engine->Cached());
  EXPECT_EQ(engine->Operation(), "11111111111111110111");
}

TEST_F(RatingTest, DayTypeOnlyOperationSkipsTheSitesStep) {
  auto engine = MakeEngine();
  events_.cache_changes.clear();
  engine->set_Operation("10000000000000000000");
  engine->Cache();
  EXPECT_EQ(events_.cache_changes, (Changes{{1, "Calendar"}, {2, "Swing"}, {3, "Extensions"}, {4, "Account"},
                                            {5, "Currency"}, {6, "TimeZone"}, {7, "Stat"}}));
}

TEST_F(RatingTest, OptionsComeFromOpzioniWithDefaults) {
  Sql("DELETE FROM Opzioni");
  Sql("INSERT INTO Opzioni VALUES ('Process', 'Nazione', NULL, '41')");
  Sql("INSERT INTO Opzioni VALUES ('Configurazione', 'PrefissoInternazionale', '011', '00')");
  Sql("INSERT INTO Opzioni VALUES ('Process', 'DefaultPrivacy', 'abc', '2')");
  auto engine = MakeEngine();
  EXPECT_EQ(engine->PrefissoNazione(), "41");
  EXPECT_EQ(engine->PrefissoInternazionale(), "011");
  EXPECT_EQ(engine->OpzioneValuta(), "");
  EXPECT_EQ(engine->DefaultPrivacy(), 0);
  EXPECT_EQ(events_.cache_done, 1);
  Sql("UPDATE Opzioni SET sValue = '3' WHERE sEntry = 'DefaultPrivacy'");
  Sql("DELETE FROM Opzioni WHERE sEntry = 'Nazione'");
  engine->Cache();
  EXPECT_EQ(engine->DefaultPrivacy(), 3);
  EXPECT_EQ(engine->PrefissoNazione(), "39");
}

TEST_F(RatingTest, CacheWithoutConnectionFollowsTheErrorConvention) {
  auto engine = MakeEngine();
  engine->CloseConnection();
  events_.cache_changes.clear();
  engine->Cache();
  EXPECT_EQ(engine->Errore(), "No connection open");
  EXPECT_TRUE(engine->CacheStopped());
  EXPECT_TRUE(events_.cache_changes.empty());
  engine->set_UsoRiproc(true);
  try {
    engine->Cache();
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), ObjectError(1026));
  }
}

TEST_F(RatingTest, QueryTimeoutComesFromTheRegistry) {
  auto registry = std::make_shared<platform::Registry>();
  const char* key = "software\\Valmer\\Quarzo\\Processor";
  registry->SetString(key, "QueryTimeout", "45");
  platform::Registry::SetForTesting(registry);
  auto engine = MakeEngine();
  EXPECT_EQ(engine->Connection()->QueryTimeout(), 45);
  EXPECT_TRUE(events_.boxes.empty());
  for (const char* bad : {"abc", "-5", "40000"}) {
    registry->SetString(key, "QueryTimeout", bad);
    events_.boxes.clear();
    engine->set_Database(db_path_);
    EXPECT_EQ(engine->Connection()->QueryTimeout(), 30) << bad;
    ASSERT_EQ(events_.boxes.size(), 1u) << bad;
    EXPECT_EQ(events_.boxes[0], "Wrong value for the Query Timeout, the default value will be used (30 sec.).");
  }
  platform::Registry::SetForTesting(std::make_shared<platform::Registry>());
  events_.boxes.clear();
  engine->set_Database(db_path_);
  EXPECT_EQ(engine->Connection()->QueryTimeout(), 30);
  EXPECT_TRUE(events_.boxes.empty());
}

TEST_F(RatingTest, EmptyDatabaseNameDropsTheConnection) {
  auto engine = MakeEngine();
  ASSERT_TRUE(engine->ConnectionOpen());
  engine->set_Database("");
  EXPECT_FALSE(engine->ConnectionOpen());
  EXPECT_EQ(engine->Errore(), "");
}

TEST_F(RatingTest, TracesOnlyWhenTheIniSwitchIsOn) {
  auto engine = MakeEngine();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "process2008Detail.log"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "process2008.log"));
  std::ofstream(dir_ / "quarzo.ini") << "[Configurazione]\r\nAbilitalogProcess = 1\r\n";
  engine->Cache();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "process2008Detail.log"));
  // The least-cost configuration of both sites, Milan's local entry with
  // its one destination and its tariffs.
  std::ifstream dump(dir_ / "process2008.log");
  std::string text((std::istreambuf_iterator<char>(dump)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Sito: MI-Milano\r\n      Nazione:Italia Area:Milano\r\n"), std::string::npos);
  EXPECT_NE(text.find("      CARRIER: Gamma (1055)\r\n"), std::string::npos);
  EXPECT_NE(text.find("      LCR:     Alpha - Locale MI - linea:All - priorità:2 - scatti:False - destinazioni: 1\r\n"
                      "                DEST:     39 - 02 - 39¦02\r\n"
                      "                Tariffa:  Giorno:0 - Fascia:Off-peak - Orario:00:00:00-08:00:00 - Costi:1\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Sito: NY-New York"), std::string::npos);
}

TEST_F(RatingTest, SmallMembers) {
  clsChiamate engine;
  EXPECT_EQ(engine.RemoveExeName("C:\\Programs\\host.exe"), "C:\\Programs\\");
  EXPECT_EQ(engine.RemoveExeName("host.exe"), "host.exe");
  EXPECT_EQ(engine.Memoria(2), 0);
  EXPECT_EQ(engine.Version(), "1.0.0");
  engine.set_sSito("  Roma ");
  EXPECT_EQ(engine.Property("sSito").ToText(), "Roma");
  engine.set_Durata("00:01:30");
  EXPECT_EQ(engine.Property("dDurata").ToText(), "00:01:30");
  EXPECT_THROW(engine.set_Data("31/01/2024"), ComponentError);
  engine.set_cCosto1_c(0.00015);
  EXPECT_DOUBLE_EQ(engine.cCosto1_c(), 0.0002);
  engine.SetProperty("CTARIFFA_C", 1.23456);
  EXPECT_DOUBLE_EQ(engine.cTariffa_c(), 1.2346);
  EXPECT_THROW(engine.SetProperty("iStato", 40000), ComponentError);
  EXPECT_THROW(engine.SetProperty("cCosto3_c", 1.0), ComponentError);
  EXPECT_THROW((void)engine.Property("nope"), ComponentError);
}

TEST_F(RatingTest, RunRatesTheMirrorCallWithoutWriting) {
  AddCalls("CHIAMATE", 1);
  auto engine = MakeEngine();
  engine->set_Operation("00000000000000000000");
  engine->set_Data("2024-03-10");
  engine->set_Ora("08:30");
  engine->SetProperty("sNumero", "0212345");
  engine->SetProperty("sEsitoChiamata_c", "1");
  engine->Run();
  EXPECT_EQ(engine->Errore(), "");
  EXPECT_EQ(engine->Property("sGiorno_c").ToText(), "Sun");
  // Not an outgoing call: no duration, no charge.
  EXPECT_EQ(engine->Property("sEsitoChiamata_c").ToText(), "0");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CHIAMATE WHERE sGiorno_c IS NOT NULL"), "0");
}

}  // namespace
}  // namespace ordalis::testing
