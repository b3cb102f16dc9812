// Sites on SQLite files: loading with prefixes, flags, reference carrier, LCR
// tables and calendar; look-up by code; the OEM ordering; and the upgrade of
// an old Siti table.
#include <fstream>
#include <sstream>

#include "data/PgCluster.h"
#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "engine/EngineFixture.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsValute.h"
#include "reference/clsCalendario.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"
#include "tariffs/CarrierFiles.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"

namespace ordalis::testing {
namespace {

class SitesTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    home_ = dir_.string() + "/";
    engine_ = std::make_unique<clsChiamate>();
    engine_->set_TipoDb(dbAccess);
    engine_->set_Database(db_path_);
    ASSERT_TRUE(engine_->ConnectionOpen()) << engine_->Errore();
    // The LCR entries' carrier, named relative to the home as an
    // installation names it.
    CreateCarrierDatabase(home_ + "alpha.db", "Alpha", "");
    Sql("INSERT INTO Carrier (sNomeCarrier, sDbTariffe) VALUES ('Alpha', 'alpha.db')");
  }
  void TearDown() override {
    engine_.reset();
    EngineTest::TearDown();
  }

  // A site row with an LCR entry of its own (a site without one stops the
  // load with "There are no tariffs for the sites").
  void AddSite(const std::string& codice, const std::string& columns = "", const std::string& values = "") {
    Sql("INSERT INTO Siti (sCodice, sNome, sCountryId, sAreaLocale" + columns + ") VALUES (" + Quote(codice) +
        ", 'Site " + codice + "', 'Italia', 'Milano'" + values + ")");
    Sql("INSERT INTO CarrierSiti (sSito_e, sCarrier_e, sGruppoDestinazioni, sTipoGruppo, sLinea, bTassazioneScatti, "
        "iPriorita) VALUES (" +
        Quote(codice) + ", 'Alpha', 'Mobile', 'Mobile', 'L1', 0, 1)");
  }

  // A reference carrier's tariff file with one tariff group.
  void MakeReferenceCarrier(const std::string& path, const std::string& name) {
    MakeCarrierFile(path, name, "",
                    ListinoRow("Mobili", 1, "1899-12-30 00:00:00", 0, 3600, 0.1) +
                        "INSERT INTO Destinazioni VALUES ('39','3','Italia','Mobile','Mobile',0,0);"
                        "INSERT INTO GruppoDiDestinazioni VALUES ('Mobili','39','3');"
                        "CREATE TABLE Calendario (lPKId INTEGER PRIMARY KEY, dData TEXT, iGiorno INTEGER, "
                        "iTipo INTEGER);");
  }

  std::unique_ptr<clsSiti> Load() {
    auto siti = std::make_unique<clsSiti>(engine_.get(), engine_->Connection(), dbAccess);
    siti->Cache(ctPreload, home_);
    return siti;
  }

  std::string DetailLog() {
    std::ifstream in(home_ + "process2008Detail.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string home_;
  std::unique_ptr<clsChiamate> engine_;
};

TEST_F(SitesTest, LoadsSitesWithTheirPrefixesFlagsAndTables) {
  AddSite("MI", ", sPrefNazione, sPrefArea, sPrefInternazionale, sValuta, IDTimeZone, bAbilitaLog, "
                "iAggiuntaAutomaticaTornel, iTipoGestioneDerivati",
          ", '99', '02', '', 'Euro', 'CET', 1, NULL, 1");
  AddSite("RM", ", sPrefNazione, sPrefArea, sPrefInternazionale, iAggiuntaAutomaticaTornel, iTipoGestioneDerivati",
          ", '39', '06', '011', 0, NULL");
  Sql("INSERT INTO CarrierSiti (sSito_e, sCarrier_e, sGruppoDestinazioni, sTipoGruppo, sLinea, bTassazioneScatti, "
      "iPriorita) VALUES ('MI', 'Alpha', 'Fissi', 'National', 'L1', 0, 2)");

  auto siti = Load();
  EXPECT_EQ(engine_->Errore(), "");
  EXPECT_FALSE(engine_->CacheStopped());
  ASSERT_EQ(siti->Siti().Count(), 2u);
  auto mi = siti->GetSito("MI");
  ASSERT_NE(mi, nullptr);
  EXPECT_EQ(mi->Key, "MI");
  EXPECT_EQ(mi->Nome, "Site MI");
  EXPECT_EQ(mi->DescrNaz, "Italia");
  EXPECT_EQ(mi->DescrArea, "Milano");
  EXPECT_EQ(mi->PrefNaz, "39");  // "99" stands for the home country
  EXPECT_EQ(mi->PrefArea, "02");
  EXPECT_EQ(mi->PrefInternazionale, "00");
  EXPECT_EQ(mi->Valuta, "Euro");
  EXPECT_EQ(mi->IDTimeZone, "CET");
  EXPECT_TRUE(mi->AbilitaLog);
  EXPECT_TRUE(mi->AggiuntaAutomaticaDerivati);  // NULL: on
  EXPECT_TRUE(mi->DerivatiPerTutteLeSedi);
  EXPECT_EQ(mi->Database, engine_->Connection());
  ASSERT_NE(mi->Lcrs(), nullptr);
  EXPECT_EQ(mi->Lcrs()->Lcrs().Count(), 2u);
  for (const auto& lcr : mi->Lcrs()->Lcrs()) EXPECT_EQ(lcr->Sito, "MI");
  ASSERT_NE(mi->Calendario, nullptr);
  EXPECT_NE(mi->Calendario->GetGiorno(dt::FromDate(2024, 1, 7)), nullptr);
  EXPECT_EQ(mi->Carrier2, "");
  EXPECT_EQ(mi->LcrsCarrier2(), nullptr);

  auto rm = siti->GetSito("RM");
  ASSERT_NE(rm, nullptr);
  EXPECT_EQ(rm->PrefInternazionale, "011");
  EXPECT_FALSE(rm->AggiuntaAutomaticaDerivati);
  EXPECT_FALSE(rm->DerivatiPerTutteLeSedi);  // NULL: off
  EXPECT_EQ(rm->Lcrs()->Lcrs().Count(), 1u);
  EXPECT_EQ(siti->SitoRiferimento, "MI");
}

TEST_F(SitesTest, LookUpIsExactAndDuplicateCodesKeepTheFirstRow) {
  AddSite("MI");
  AddSite("mi");  // the same key for the collection
  AddSite("MI");
  Sql("UPDATE Siti SET sNome = 'second' WHERE lPKId > 1");
  auto siti = Load();
  ASSERT_EQ(siti->Siti().Count(), 1u);
  EXPECT_EQ(siti->GetSito("MI")->Nome, "Site MI");
  EXPECT_EQ(siti->GetSito("mi"), nullptr);
  EXPECT_EQ(siti->GetSito("M"), nullptr);
  EXPECT_EQ(siti->SitoRiferimento, "MI");
  EXPECT_FALSE(engine_->CacheStopped());
}

TEST_F(SitesTest, MissingPrefixesComeFromTheDestinationOfTheArea) {
  SetLogEnabled(true);
  SetLogPath(home_);
  Sql("INSERT INTO Destinazioni (sNazione, sArea, sDescrizioneNaz, sDescrizioneArea, sTipo) "
      "VALUES ('39', '02', 'Italia', 'Milano', 'Local'), ('41', '91', 'Svizzera', 'Lugano''s lake', 'Local')");
  AddSite("MI", ", sPrefArea", ", '0'");  // one prefix present: both are looked up
  Sql("INSERT INTO Siti (sCodice, sCountryId, sAreaLocale) VALUES ('LU', 'Svizzera', 'Lugano''s lake'), "
      "('XX', 'Nowhere', 'Atlantis')");
  Sql("INSERT INTO CarrierSiti (sSito_e, sCarrier_e, sGruppoDestinazioni, sLinea) VALUES ('LU','Alpha','G','L'), "
      "('XX','Alpha','G','L')");
  auto siti = Load();
  SetLogEnabled(false);
  EXPECT_EQ(siti->GetSito("MI")->PrefNaz, "39");
  EXPECT_EQ(siti->GetSito("MI")->PrefArea, "02");
  EXPECT_EQ(siti->GetSito("LU")->PrefNaz, "41");
  EXPECT_EQ(siti->GetSito("LU")->PrefArea, "91");
  EXPECT_EQ(siti->GetSito("XX")->PrefNaz, "");
  EXPECT_EQ(siti->GetSito("XX")->PrefArea, "");
  const std::string log = DetailLog();
  EXPECT_NE(log.find("\tRecuperati PrefNaz e PrefArea dalla tabella destinazioni: 41 - 91"), std::string::npos);
  EXPECT_NE(log.find("\tATTENZIONE: mancano i valori per i campi PrefNaz e PrefArea"), std::string::npos);
  EXPECT_NE(log.find("Codice sito di riferimento = MI"), std::string::npos);
}

TEST_F(SitesTest, ReferenceCarrierByNameOrByFileAndOnlyWhenEnabled) {
  std::filesystem::create_directories(dir_ / "Carrier");
  MakeReferenceCarrier(home_ + "Carrier/o'brien.db", "O'Brien Tel");
  Sql("INSERT INTO Carrier (sNomeCarrier, sDbTariffe) VALUES ('O''Brien', 'o''brien.db'), ('Ghost', 'ghost.db')");
  const std::string cols = ", bAbilitaConfronto, sCarrierDiRifer";
  AddSite("A", cols, ", 1, 'O''Brien'");                      // by name, file under Carrier/
  AddSite("B", cols, ", 1, " + Quote(home_ + "Carrier/o'brien.db"));  // by file, as the upgrade leaves it
  AddSite("C", cols, ", 1, 'Carrier/o''brien.db'");           // by file relative to the home directory
  AddSite("D", cols, ", 0, 'O''Brien'");                      // comparison off
  AddSite("E", cols, ", 1, 'Nobody'");                        // neither a carrier nor a file
  AddSite("F", cols, ", 1, 'Ghost'");                         // a carrier whose file is missing
  auto siti = Load();
  EXPECT_EQ(engine_->Errore(), "");

  const std::string file = home_ + "Carrier/o'brien.db";
  for (const char* code : {"A", "B", "C"}) {
    auto s = siti->GetSito(code);
    EXPECT_EQ(s->Carrier2, file) << code;
    ASSERT_NE(s->LcrsCarrier2(), nullptr) << code;
    ASSERT_EQ(s->LcrsCarrier2()->Lcrs().Count(), 1u) << code;
    EXPECT_EQ(s->LcrsCarrier2()->Lcrs().Item(1)->GruppoDest, "Mobili");
    EXPECT_EQ(s->Carrier2Name(), "O'Brien Tel") << code;
  }
  for (const char* code : {"D", "E", "F"}) {
    EXPECT_EQ(siti->GetSito(code)->Carrier2, "") << code;
    EXPECT_EQ(siti->GetSito(code)->LcrsCarrier2(), nullptr) << code;
  }
}

TEST_F(SitesTest, ReferenceCarrierFileWithoutTariffsStillNamesTheCarrier) {
  MakeCarrierFile(home_ + "empty.db", "Empty Tel", "", "");
  AddSite("A", ", bAbilitaConfronto, sCarrierDiRifer", ", 1, 'empty.db'");
  auto siti = Load();
  auto a = siti->GetSito("A");
  ASSERT_NE(a->LcrsCarrier2(), nullptr);
  EXPECT_EQ(a->LcrsCarrier2()->Lcrs().Count(), 0u);
  EXPECT_EQ(a->Carrier2Name(), "Empty Tel");
}

TEST_F(SitesTest, QuotesInCodesAndDescriptionsAreOrdinaryText) {
  Sql("INSERT INTO Destinazioni (sNazione, sArea, sDescrizioneNaz, sDescrizioneArea) "
      "VALUES ('39', '0165', 'Italia', 'Valle d''Aosta')");
  Sql("INSERT INTO Siti (sCodice, sAreaLocale) VALUES ('AO''1', 'Valle d''Aosta'), ('x''; DROP TABLE Siti; --', '')");
  Sql("INSERT INTO CarrierSiti (sSito_e, sCarrier_e, sGruppoDestinazioni, sLinea) VALUES ('AO''1','Alpha','G','L'), "
      "('AO''1','Alpha','H','L'), ('x''; DROP TABLE Siti; --','Alpha','G','L')");
  auto siti = Load();
  EXPECT_EQ(engine_->Errore(), "");
  auto ao = siti->GetSito("AO'1");
  ASSERT_NE(ao, nullptr);
  EXPECT_EQ(ao->PrefArea, "0165");
  EXPECT_EQ(ao->Lcrs()->Lcrs().Count(), 2u);
  ASSERT_NE(siti->GetSito("x'; DROP TABLE Siti; --"), nullptr);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Siti"), "2");
}

TEST_F(SitesTest, EmptyTableFollowsTheCacheErrorConvention) {
  auto siti = Load();
  EXPECT_EQ(siti->Siti().Count(), 0u);
  EXPECT_EQ(siti->SitoRiferimento, "");
  EXPECT_EQ(engine_->Errore(), "There are no sites");
  EXPECT_TRUE(engine_->CacheStopped());

  engine_->set_CacheStopped(false);
  engine_->set_Errore("");
  engine_->set_UsoRiproc(true);
  clsSiti raising(engine_.get(), engine_->Connection());
  try {
    raising.Cache(ctPreload, home_);
    FAIL() << "no error raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.Number()), 0x8004040Eu);
    EXPECT_EQ(e.Description(), "There are no sites");
    EXPECT_EQ(e.Source(), "clsSiti.Cache");
  }
  EXPECT_FALSE(engine_->CacheStopped());
}

TEST_F(SitesTest, KelmoraEditionOrdersCodesWithLettersReadAsZero) {
  for (const char* code : {"9", "T5", "E1", "3", "S2"}) AddSite(code);
  // Without the OEM edition: the table's order.
  EXPECT_EQ(Load()->SitoRiferimento, "9");

  platform::Registry::SetForTesting(std::make_shared<platform::Registry>(platform::Registry::Parse(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\valmer\\oem]\r\n"
      "\"Name\"=\"Kelmora\"\r\n")));
  auto siti = Load();
  std::vector<std::string> order;
  for (const auto& s : siti->Siti()) order.push_back(s->Codice);
  // Compared as text: "01" < "02" < "05" < "3" < "9".
  EXPECT_EQ(order, (std::vector<std::string>{"E1", "S2", "T5", "3", "9"}));
  EXPECT_EQ(siti->SitoRiferimento, "E1");
}

// ---- Upgrade of an old table ----------------------------------------------

class SiteUpgradeTest : public SitesTest {
 protected:
  // Siti as old installations have it: none of the prefix, currency or
  // extension-handling columns, a narrow sCarrierDiRifer; no Valute.
  void MakeOldSchema() {
    Sql("DROP TABLE Siti; DROP TABLE Valute;"
        "CREATE TABLE Siti (lPKId INTEGER PRIMARY KEY, bAbilitaLog BIT, sCodice VARCHAR(50), sNome VARCHAR(100), "
        "sCountryId VARCHAR(100), sAreaLocale VARCHAR(100), IDTimeZone VARCHAR(50), bAbilitaConfronto BIT, "
        "sCarrierDiRifer VARCHAR(50));");
  }
  // The country's prefix database under the home directory.
  void MakePrefixDatabase(const std::string& country, const std::string& rows) {
    std::filesystem::create_directories(dir_ / "international" / country);
    ExecSql(home_ + "international/" + country + "/prefissi.mdb",
            std::string(kDestinazioniDdl) +
                "CREATE TABLE Calendario (lPKId INTEGER PRIMARY KEY, dData TEXT, iGiorno INTEGER, iTipo INTEGER);" +
                rows);
  }
};

TEST_F(SiteUpgradeTest, OldTableIsBroughtToTheCurrentSchemaAndLoadsLikeACurrentOne) {
  MakeOldSchema();
  MakePrefixDatabase("Italia", "INSERT INTO Destinazioni VALUES ('39','02','Italia','Milano','Local',0,0);");
  MakeReferenceCarrier(home_ + "beta.db", "Beta");
  Sql("INSERT INTO Carrier (sNomeCarrier, sDbTariffe) VALUES ('Beta', " + Quote(home_ + "beta.db") + ")");
  Sql("INSERT INTO Opzioni (sSection, sEntry, sValue) VALUES ('Valuta1', 'Descrizione', 'Euro')");
  AddSite("MI", ", bAbilitaConfronto, sCarrierDiRifer", ", 1, 'Beta'");

  auto siti = Load();
  EXPECT_EQ(siti->UpgradeError(), "");
  EXPECT_EQ(engine_->Errore(), "");
  auto* conn = engine_->Connection();
  for (const char* col : {"PrefNazione", "PrefArea", "PrefInternazionale", "Valuta", "sPrefNazione", "sPrefArea",
                          "sPrefInternazionale", "sValuta", "iAggiuntaAutomaticaTornel", "iTipoGestioneDerivati"})
    EXPECT_TRUE(conn->ColumnExists("Siti", col)) << col;
  conn->Flush();
  EXPECT_EQ(Query("SELECT PrefNazione || '/' || PrefArea || '/' || PrefInternazionale || '/' || Valuta FROM Siti"),
            "39/02/00/Euro");
  EXPECT_EQ(Query("SELECT sPrefNazione || '/' || sPrefArea || '/' || sValuta FROM Siti"), "39/02/Euro");
  EXPECT_EQ(Query("SELECT iAggiuntaAutomaticaTornel || iTipoGestioneDerivati FROM Siti"), "10");
  EXPECT_EQ(Query("SELECT sCarrierDiRifer FROM Siti"), home_ + "beta.db");

  auto mi = siti->GetSito("MI");
  ASSERT_NE(mi, nullptr);
  EXPECT_EQ(mi->PrefNaz, "39");
  EXPECT_EQ(mi->PrefArea, "02");
  EXPECT_EQ(mi->PrefInternazionale, "00");
  EXPECT_EQ(mi->Valuta, "Euro");
  EXPECT_TRUE(mi->AggiuntaAutomaticaDerivati);
  EXPECT_FALSE(mi->DerivatiPerTutteLeSedi);
  EXPECT_EQ(mi->Carrier2, home_ + "beta.db");
  EXPECT_EQ(mi->Carrier2Name(), "Beta");

  // The currency table it created is the one the currency cache reads.
  Sql("INSERT INTO Valute (sDescrizione, sSimbolo, sCodice, iNumeroDecimali, sValutaRif, dblRapportoDiCambio) "
      "VALUES ('Euro', 'E', 'EUR', 2, 'EUR', 1.0)");
  clsValute valute(engine_.get(), conn);
  valute.Cache();
  ASSERT_NE(valute.GetValutaByName(mi->Valuta), nullptr);

  // A second start finds the table current and changes nothing.
  Sql("UPDATE Siti SET PrefArea = 'kept'");
  Load();
  EXPECT_EQ(Query("SELECT PrefArea FROM Siti"), "kept");
}

TEST_F(SiteUpgradeTest, OlderCurrencyTableGetsTheColumnsTheCacheReads) {
  MakeOldSchema();
  Sql("CREATE TABLE Valute (ID INTEGER PRIMARY KEY, Descrizione VARCHAR(100) NOT NULL UNIQUE, "
      "Simbolo VARCHAR(20) NOT NULL, NumeroDecimali INTEGER NOT NULL, RapportoDiCambio DOUBLE NOT NULL);"
      "INSERT INTO Valute (Descrizione, Simbolo, NumeroDecimali, RapportoDiCambio) VALUES ('Franco', 'F', 2, 0.95);");
  Sql("INSERT INTO Destinazioni (sNazione, sArea, sDescrizioneNaz, sDescrizioneArea) VALUES "
      "('39','02','Italia','Milano')");
  AddSite("MI");
  auto siti = Load();
  EXPECT_EQ(siti->UpgradeError(), "");
  clsValute valute(engine_.get(), engine_->Connection());
  valute.Cache();
  auto franco = valute.GetValutaByName("Franco");
  ASSERT_NE(franco, nullptr);
  EXPECT_EQ(franco->Simbolo, "F");
  EXPECT_EQ(franco->NumeroDecimali, 2);
  EXPECT_DOUBLE_EQ(franco->RapportoCambio, 0.95);
  // Without the currency option the site's currency is "no currency".
  engine_->Connection()->Flush();
  EXPECT_EQ(Query("SELECT Valuta FROM Siti"), "-");
  EXPECT_EQ(Query("SELECT sValuta FROM Siti"), "<null>");
  EXPECT_EQ(siti->GetSito("MI")->Valuta, "");
  // The prefixes came from the engine's own destinations.
  EXPECT_EQ(siti->GetSito("MI")->PrefArea, "02");
}

TEST_F(SiteUpgradeTest, UnknownAreaIsReportedAndTheOtherPassesStillRun) {
  MakeOldSchema();
  Sql("INSERT INTO Opzioni (sSection, sEntry, sValue) VALUES ('Valuta1', 'Descrizione', 'Euro')");
  AddSite("MI");
  auto siti = Load();
  EXPECT_EQ(siti->UpgradeError(), "Unable to retrieve site area code");
  engine_->Connection()->Flush();
  EXPECT_EQ(Query("SELECT PrefNazione FROM Siti"), "<null>");
  EXPECT_EQ(Query("SELECT Valuta FROM Siti"), "Euro");
  EXPECT_EQ(siti->GetSito("MI")->Valuta, "Euro");
}

TEST_F(SiteUpgradeTest, CurrentTableIsNeverAltered) {
  AddSite("MI", ", sCarrierDiRifer, bAbilitaConfronto", ", 'Alpha', 1");
  Sql("INSERT INTO Opzioni (sSection, sEntry, sValue) VALUES ('Valuta1', 'Descrizione', 'Euro')");
  clsSiti siti(engine_.get(), engine_->Connection());
  siti.CheckSiteTable(home_);
  EXPECT_EQ(siti.UpgradeError(), "");
  engine_->Connection()->Flush();
  EXPECT_EQ(Query("SELECT sCarrierDiRifer FROM Siti"), "Alpha");
  EXPECT_EQ(Query("SELECT Valuta FROM Siti"), "<null>");
}

TEST_F(SiteUpgradeTest, DatabaseUpgradedByAnEarlierReleaseReadsTheUnprefixedColumns) {
  // PrefNazione is there (so nothing is altered) and only the unprefixed
  // columns hold the values.
  AddSite("MI", ", PrefNazione, PrefArea, PrefInternazionale, Valuta", ", '41', '91', '011', '-'");
  auto siti = Load();
  auto mi = siti->GetSito("MI");
  EXPECT_EQ(mi->PrefNaz, "41");
  EXPECT_EQ(mi->PrefArea, "91");
  EXPECT_EQ(mi->PrefInternazionale, "011");
  EXPECT_EQ(mi->Valuta, "");
}

// The same upgrade through ODBC on PostgreSQL: the server's own forms of the
// statements (ADD COLUMN one by one, ALTER COLUMN ... TYPE), then a load.
TEST(SiteUpgradePostgresTest, OldTableIsUpgradedAndLoads) {
  std::string connect;
  try {
    PgCluster& cluster = PgCluster::Instance();
    connect = cluster.ConnectString(cluster.CreateDatabase());
  } catch (const std::exception& e) {
    GTEST_SKIP() << "PostgreSQL test cluster unavailable: " << e.what();
  }
  ScratchDir home;
  platform::Registry::SetForTesting(std::make_shared<platform::Registry>());
  rdo::RdoConnection conn;
  conn.SetConnect(connect);
  conn.EstablishConnection();
  for (const char* ddl : {
           "CREATE TABLE Siti (lPKId SERIAL PRIMARY KEY, bAbilitaLog BOOLEAN, sCodice VARCHAR(50), "
           "sNome VARCHAR(100), sCountryId VARCHAR(100), sAreaLocale VARCHAR(100), IDTimeZone VARCHAR(50), "
           "bAbilitaConfronto BOOLEAN, sCarrierDiRifer VARCHAR(50))",
           "CREATE TABLE Carrier (lPKId SERIAL PRIMARY KEY, sNomeCarrier VARCHAR(100), sDbTariffe VARCHAR(255), "
           "sPrefissoInterconn VARCHAR(20))",
           "CREATE TABLE CarrierSiti (lPKId SERIAL PRIMARY KEY, sSito_e VARCHAR(50), sCarrier_e VARCHAR(100), "
           "sGruppoDestinazioni VARCHAR(100), dDalle TIMESTAMP, dAlle TIMESTAMP, cCostoScatto NUMERIC(19,4), "
           "sTipoGruppo VARCHAR(30), sLinea VARCHAR(50), bTassazioneScatti BOOLEAN, iPriorita SMALLINT)",
           "CREATE TABLE Destinazioni (sNazione VARCHAR(20) NOT NULL, sArea VARCHAR(20) NOT NULL, "
           "sDescrizioneNaz VARCHAR(100), sDescrizioneArea VARCHAR(100), sTipo VARCHAR(30), rLat REAL, rLong REAL, "
           "PRIMARY KEY (sNazione, sArea))",
           "CREATE TABLE Opzioni (sSection VARCHAR(50), sEntry VARCHAR(50), sValue VARCHAR(255), "
           "sDefault VARCHAR(255))",
           "CREATE TABLE Calendario (lPKId SERIAL PRIMARY KEY, dData TIMESTAMP, iGiorno SMALLINT, iTipo SMALLINT)",
           "INSERT INTO Siti (sCodice, sNome, sCountryId, sAreaLocale, sCarrierDiRifer) "
           "VALUES ('M''I', 'Milano', 'Italia', 'Milano', 'Alpha')",
           "INSERT INTO Carrier (sNomeCarrier, sDbTariffe) VALUES ('Alpha', 'alpha.mdb')",
           "INSERT INTO CarrierSiti (sSito_e, sCarrier_e, sGruppoDestinazioni, sLinea) "
           "VALUES ('M''I', 'Alpha', 'G', 'L')",
           "INSERT INTO Destinazioni (sNazione, sArea, sDescrizioneNaz, sDescrizioneArea) "
           "VALUES ('39', '02', 'Italia', 'Milano')",
           "INSERT INTO Opzioni (sSection, sEntry, sValue) VALUES ('Valuta1', 'Descrizione', 'Euro')"})
    conn.Execute(ddl);

  CreateCarrierDatabase(home.File("alpha.mdb"), "Alpha", "");
  clsChiamate engine;
  const std::string previous_home = LogPath();
  SetLogPath(home.Path().string() + "/");  // where the engine finds alpha.mdb
  clsSiti siti(&engine, &conn, dbSql);
  siti.Cache(ctPreload, home.Path().string() + "/");
  SetLogPath(previous_home);
  EXPECT_EQ(siti.UpgradeError(), "");
  EXPECT_EQ(engine.Errore(), "");
  EXPECT_EQ(QueryFirstValue("SELECT character_maximum_length FROM information_schema.columns "
                            "WHERE table_name = 'siti' AND column_name = 'scarrierdirifer'",
                            conn),
            "255");
  EXPECT_EQ(QueryFirstValue("SELECT PrefNazione || '/' || PrefArea || '/' || PrefInternazionale || '/' || Valuta || "
                            "'/' || iAggiuntaAutomaticaTornel || iTipoGestioneDerivati || '/' || sCarrierDiRifer "
                            "FROM Siti",
                            conn),
            "39/02/00/Euro/10/alpha.mdb");
  auto mi = siti.GetSito("M'I");
  ASSERT_NE(mi, nullptr);
  EXPECT_EQ(mi->PrefNaz, "39");
  EXPECT_EQ(mi->PrefArea, "02");
  EXPECT_EQ(mi->Valuta, "Euro");
  EXPECT_TRUE(mi->AggiuntaAutomaticaDerivati);
  EXPECT_EQ(mi->Lcrs()->Lcrs().Count(), 1u);

  conn.Execute("INSERT INTO Valute (sDescrizione, sSimbolo, sCodice, iNumeroDecimali, sValutaRif, "
               "dblRapportoDiCambio) VALUES ('Euro', 'E', 'EUR', 2, 'EUR', 1.5)");
  clsValute valute(&engine, &conn);
  valute.Cache();
  ASSERT_NE(valute.GetValutaByName("Euro"), nullptr);
  EXPECT_DOUBLE_EQ(valute.GetValutaByName("Euro")->RapportoCambio, 1.5);

  // Current now: a second start alters nothing.
  siti.CheckSiteTable(home.Path().string() + "/");
  EXPECT_EQ(siti.UpgradeError(), "");
  conn.Close();
  platform::Registry::SetForTesting(nullptr);
}

}  // namespace
}  // namespace ordalis::testing
