// LCR tables of a site loaded from CarrierSiti and the carriers' tariff files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"
#include "tariffs/CarrierFiles.h"
#include "tariffs/SitoLcr.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"
#include "tariffs/clsTariffe.h"

using namespace ordalis;
using namespace ordalis::testing;

namespace {

const std::string kSep = kKeySeparator;

// Destinations of a carrier file: Rome and its districts, Milan, mobiles,
// a local-type area of two characters, the UK whole-country and "99".
const char kPlan[] =
    "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','Local',41.9,12.5);"
    "INSERT INTO Destinazioni VALUES ('39','0','Italia','Distretto','Local',NULL,NULL);"
    "INSERT INTO Destinazioni VALUES ('39','0654','Italia','Roma EUR','Local',41.8,12.4);"
    "INSERT INTO Destinazioni VALUES ('39','02','Italia','Milano','Locali',45.4,9.2);"
    "INSERT INTO Destinazioni VALUES ('39','3','Italia','Mobile','Mobile',0,0);"
    "INSERT INTO Destinazioni VALUES ('0044','-','UK','Tutto','International',0,0);"
    "INSERT INTO Destinazioni VALUES ('99','5','Italia','Speciale','National',0,0);"
    "INSERT INTO GruppoDiDestinazioni VALUES ('Urbana','39','06');"
    "INSERT INTO GruppoDiDestinazioni VALUES ('Urbana','39','0');"
    "INSERT INTO GruppoDiDestinazioni VALUES ('Urbana','39','0654');"
    "INSERT INTO GruppoDiDestinazioni VALUES ('Mob ''A''','39','3');"
    "INSERT INTO GruppoDiDestinazioni VALUES ('Mob ''A''','99','5');"
    "INSERT INTO GruppoDiDestinazioni VALUES ('Mob ''A''','0044','-');";

class Lcr : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogPath(dir.Path().string() + "/");
    SetLogEnabled(true);
    site.Codice = "S'1";
    site.PrefNaz = "39";
    site.PrefArea = "06";
    site.Destinazione = &site_destination;
  }
  void TearDown() override { SetLogEnabled(false); }

  std::string DetailLog() const {
    std::ifstream in(dir.File("process2008Detail.log"));
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::unique_ptr<rdo::RdoConnection> OpenEngineDb(const std::string& rows) {
    MakeEngineDb(dir.File("engine.db"), rows);
    return rdo::RdoEnvironment::Default().OpenConnection("", false, false, FileConnect(dir.File("engine.db")));
  }
  // Carrier "O'Brien" with file obrien.mdb holding the plan and the tariffs.
  std::string CarrierRow(const std::string& file) {
    return "INSERT INTO Carrier VALUES ('O''Brien'," + Quote(file) + ",'1055');";
  }

  ScratchDir dir;
  clsChiamate engine;
  SitoLcr site;
  std::shared_ptr<clsDestinazione> site_destination;
};

}  // namespace

TEST_F(Lcr, CacheLoadsTheSiteEntriesWithQuotedNamesAndNullsAsZero) {
  const std::string file = dir.File("obrien.mdb");
  MakeCarrierFile(file, "O'Brien", "1055",
                  std::string(kPlan) + ListinoRow("Mob 'A'", 1, "1899-12-30 08:00:00", 0, 60, 0.2));
  auto conn = OpenEngineDb(CarrierRow(file) +
                           "INSERT INTO CarrierSiti VALUES ('S''1','O''Brien','Mob ''A''',NULL,NULL,NULL,'Mobile',"
                           "'L1',1,' 2.5');"
                           "INSERT INTO CarrierSiti VALUES ('S''1','O''Brien','Mob ''A''','1899-12-30 00:00:00',"
                           "'1899-12-30 12:00:00',0.3,'Mobile','L1',0,'7');"
                           "INSERT INTO CarrierSiti VALUES ('S2','O''Brien','Urbana',NULL,NULL,0,'Local','L1',0,'1');");
  clsLcrs lcrs(&engine, conn.get());
  lcrs.Cache(ctPreload, site);
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  // The second row has the same site, carrier, group, window start and line.
  ASSERT_EQ(lcrs.Lcrs().Count(), 1u);
  const auto& lcr = lcrs.Lcrs().Item(1);
  EXPECT_EQ(lcr->Key, "S'1" + kSep + "O'Brien" + kSep + "Mob 'A'" + kSep + "00:00:00" + kSep + "L1");
  EXPECT_EQ(lcr->CostoScatto, Money());
  EXPECT_EQ(lcr->Dalle, 0.0);
  EXPECT_EQ(lcr->Alle, 0.0);
  EXPECT_TRUE(lcr->Scatti);
  EXPECT_EQ(lcr->Priorita, 2);  // " 2.5" read as a number, halves to even
  EXPECT_EQ(lcr->Sito, "S'1");
  EXPECT_EQ(lcr->Connection, conn.get());
  ASSERT_EQ(lcrs.PrefissiCarrier().size(), 1u);
  EXPECT_EQ(lcrs.PrefissiCarrier().at("O'Brien"), "1055");

  // The group's members, "99" read as Italy, and the group's tariff.
  ASSERT_TRUE(lcr->Destinazioni());
  const auto& members = lcr->Destinazioni()->Destinazioni();
  ASSERT_EQ(members.Count(), 3u);
  EXPECT_TRUE(members.Contains("39" + kSep + "3"));
  auto speciale = members.Find("39" + kSep + "5");
  ASSERT_TRUE(speciale);
  EXPECT_EQ(speciale->PrefNaz, "39");
  EXPECT_EQ(speciale->Tipo, "Mobile");  // the entry's group kind, not the row's type
  EXPECT_EQ(lcr->Destinazioni()->GetDestinazioneMigliore("3351234", "39", "00")->DescrArea, "Mobile");
  EXPECT_EQ(lcr->Destinazioni()->GetDestinazioneMigliore("0044207", "39", "00")->DescrNaz, "UK");
  ASSERT_TRUE(lcr->Tariffe());
  ASSERT_EQ(lcr->Tariffe()->Tariffe.Count(), 1u);
  const auto& tariff = lcr->Tariffe()->Tariffe.Item(1);
  EXPECT_EQ(tariff->Carrier, "O'Brien");
  EXPECT_EQ(tariff->Key, "Mob 'A'" + kSep + "1" + kSep + "08:00:00" + kSep + "0" + kSep + "2024-01-01");
  // The site's own area was found in the carrier file on the way.
  ASSERT_TRUE(site_destination);
  EXPECT_EQ(site_destination->Key, "39" + kSep + "06");
  EXPECT_EQ(site_destination->Tipo, "Local");
}

TEST_F(Lcr, NoEntriesForTheSiteFollowsTheCacheErrorConvention) {
  auto conn = OpenEngineDb("INSERT INTO CarrierSiti VALUES ('S2','X','G',NULL,NULL,0,'','L',0,'1');");
  clsLcrs lcrs(&engine, conn.get());
  lcrs.Cache(ctPreload, site);
  EXPECT_TRUE(engine.CacheStopped());
  EXPECT_EQ(engine.Errore(), "There are no tariffs for the sites");

  clsChiamate raising;
  raising.set_UsoRiproc(true);
  clsLcrs r(&raising, conn.get());
  try {
    r.Cache(ctPreload, site);
    FAIL() << "no error raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), ObjectError(1035));
    EXPECT_EQ(e.Source(), "clsLcrs.Cache");
  }
}

TEST_F(Lcr, LocalEntryTakesShortAreasOfTheGroupPlusTheSiteArea) {
  const std::string file = dir.File("obrien.mdb");
  MakeCarrierFile(file, "O'Brien", "", kPlan);
  auto conn = OpenEngineDb(CarrierRow(file));
  clsLcrs lcrs(&engine, conn.get());
  lcrs.AddLcr("O'Brien", site, "Urbana", 0, 0, "L1", false, Money(), 1, "locali", nullptr);
  const auto& lcr = lcrs.Lcrs().Item(1);
  ASSERT_TRUE(lcr->Destinazioni());
  const auto& members = lcr->Destinazioni()->Destinazioni();
  ASSERT_EQ(members.Count(), 2u);
  EXPECT_EQ(members.Item(1)->Key, "39" + kSep + "0");  // the one-character area of the group
  auto own = members.Item(2);
  EXPECT_EQ(own->Key, "39" + kSep + "06");               // the site's area, added as a copy
  EXPECT_NE(own, site_destination);
  EXPECT_EQ(own->DescrArea, "Roma");
  EXPECT_FALSE(members.Contains("39" + kSep + "0654"));  // longer areas of the group are left out
  EXPECT_EQ(lcr->Destinazioni()->GetDestinazioneMigliore("065412", "39", "00"), own);
}

TEST_F(Lcr, NationalEntryAddsEveryLocalTypeAreaOfTwoOrMoreCharacters) {
  const std::string file = dir.File("obrien.mdb");
  MakeCarrierFile(file, "O'Brien", "", kPlan);
  auto conn = OpenEngineDb(CarrierRow(file));
  clsLcrs lcrs(&engine, conn.get());
  lcrs.AddLcr("O'Brien", site, "Mob 'A'", 0, 0, "L1", false, Money(), 1, "National", nullptr);
  const auto& members = lcrs.Lcrs().Item(1)->Destinazioni()->Destinazioni();
  // Three group members, then Roma, Roma EUR ("Local") and Milano ("Locali");
  // "0" is local-type but one character long.
  EXPECT_EQ(members.Count(), 6u);
  for (const char* area : {"06", "0654", "02"}) EXPECT_TRUE(members.Contains("39" + kSep + area)) << area;
  EXPECT_FALSE(members.Contains("39" + kSep + "0"));
  EXPECT_EQ(members.Item("39" + kSep + "02")->Tipo, "National");
  // Nothing failed, so nothing was logged.
  EXPECT_EQ(DetailLog().find("Error"), std::string::npos) << DetailLog();
}

TEST_F(Lcr, RepeatedTariffKeyKeepsTheFirstStepAndLogsTheSecond) {
  const std::string file = dir.File("obrien.mdb");
  MakeCarrierFile(file, "O'Brien", "", std::string(kPlan) +
                                           ListinoRow("Urbana", 1, "1899-12-30 08:00:00", 60, 120, 0.05) +
                                           ListinoRow("Urbana", 1, "1899-12-30 08:00:00", 0, 60, 0.1) +
                                           ListinoRow("Urbana", 2, "1899-12-30 08:00:00", 0, 60, 0.3) +
                                           ListinoRow("Altro", 1, "1899-12-30 08:00:00", 0, 60, 0.9));
  auto conn = OpenEngineDb(CarrierRow(file));
  clsLcrs lcrs(&engine, conn.get());
  lcrs.AddLcr("O'Brien", site, "Urbana", 0, 0, "L1", false, Money(), 1, "", nullptr);
  const auto& tariffs = lcrs.Lcrs().Item(1)->Tariffe()->Tariffe;
  ASSERT_EQ(tariffs.Count(), 2u);
  const auto& first = tariffs.Item(1);
  ASSERT_EQ(first->CostoMinuto().Count(), 1u);
  EXPECT_EQ(first->CostoMinuto().Item(1)->DurataDal, 0);  // the lowest start wins
  EXPECT_EQ(first->CostoMinuto().Item(1)->CostoMinuto, Money::FromRaw(1000));
  EXPECT_EQ(tariffs.Item(2)->TipoGiorno, 2);
  EXPECT_NE(DetailLog().find("Error adding tariff of (O'Brien): "), std::string::npos) << DetailLog();
}

TEST_F(Lcr, NullRequiredListinoColumnDropsThatTariffWithAClearLogLine) {
  const std::string file = dir.File("obrien.mdb");
  MakeCarrierFile(file, "O'Brien", "", std::string(kPlan) +
                                           ListinoRow("Urbana", 1, "1899-12-30 08:00:00", 0, 60, 0.1) +
                                           ListinoRow("Urbana", 2, "1899-12-30 08:00:00", 0, 60, 0.1) +
                                           "UPDATE Listino SET lAlKm = NULL WHERE iTipoGiorno_e = 1;");
  auto conn = OpenEngineDb(CarrierRow(file));
  clsLcrs lcrs(&engine, conn.get());
  lcrs.AddLcr("O'Brien", site, "Urbana", 0, 0, "L1", false, Money(), 1, "", nullptr);
  const auto& tariffs = lcrs.Lcrs().Item(1)->Tariffe()->Tariffe;
  ASSERT_EQ(tariffs.Count(), 1u);
  EXPECT_EQ(tariffs.Item(1)->TipoGiorno, 2);
  EXPECT_NE(DetailLog().find("Listino: column lAlKm is null in a row of group 'Urbana'"), std::string::npos)
      << DetailLog();
  EXPECT_FALSE(engine.CacheStopped());
}

TEST_F(Lcr, MissingOrUnreadableCarrierFileLeavesTheEntryEmpty) {
  const std::string garbage = dir.File("garbage.mdb");
  { std::ofstream(garbage) << "this is not a database, just some text that is long enough to look like a header"; }
  auto conn = OpenEngineDb(
      "INSERT INTO Carrier VALUES ('Gone'," + Quote(dir.File("gone.mdb")) + ",'');"
      "INSERT INTO Carrier VALUES ('Junk'," + Quote(garbage) + ",'');");
  clsLcrs lcrs(&engine, conn.get());
  lcrs.AddLcr("Gone", site, "Urbana", 0, 0, "L1", false, Money(), 1, "", nullptr);
  lcrs.AddLcr("Junk", site, "Urbana", 0, 0, "L1", false, Money(), 1, "", nullptr);
  lcrs.AddLcr("Unknown", site, "Urbana", 0, 0, "L1", false, Money(), 1, "", nullptr);
  ASSERT_EQ(lcrs.Lcrs().Count(), 3u);
  for (const auto& lcr : lcrs.Lcrs()) {
    EXPECT_FALSE(lcr->Destinazioni()) << lcr->Carrier;
    EXPECT_FALSE(lcr->Tariffe()) << lcr->Carrier;
  }
  const std::string log = DetailLog();
  EXPECT_NE(log.find("Carrier file " + dir.File("gone.mdb") + " cannot be read (no such file)"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Carrier file " + garbage + " cannot be read ("), std::string::npos) << log;
  EXPECT_NE(log.find("carrier Unknown has no row in table Carrier"), std::string::npos) << log;
  // Each is an error the host is told of, but the other caches go on loading.
  EXPECT_NE(engine.Errore().find("Carrier file"), std::string::npos) << engine.Errore();
  EXPECT_FALSE(engine.CacheStopped());
  EXPECT_TRUE(lcrs.PrefissiCarrier().empty());  // empty prefixes are not kept
}

TEST_F(Lcr, OldTariffFileWithoutDurationsGivesOneOpenStep) {
  const std::string file = dir.File("old.mdb");
  MakeCarrierFile(file, "Old", "", std::string(kPlan) + ListinoRow("Urbana", 1, "1899-12-30 08:00:00", 5, 6, 0.1) +
                                       "ALTER TABLE Listino DROP COLUMN lDurataInizio;"
                                       "ALTER TABLE Listino DROP COLUMN lDurataFine;");
  auto conn = OpenEngineDb("INSERT INTO Carrier VALUES ('Old'," + Quote(file) + ",'');");
  clsLcrs lcrs(&engine, conn.get());
  lcrs.AddLcr("Old", site, "Urbana", 0, 0, "L1", false, Money(), 1, "", nullptr);
  const auto& tariffs = lcrs.Lcrs().Item(1)->Tariffe()->Tariffe;
  ASSERT_EQ(tariffs.Count(), 1u) << DetailLog();
  const auto& step = tariffs.Item(1)->CostoMinuto().Item(1);
  EXPECT_EQ(step->DurataDal, 0);
  EXPECT_EQ(step->DurataAl, 999999999);
}

TEST_F(Lcr, CacheFromMdbBuildsOneEntryPerTariffGroupWithItsCommonestType) {
  const std::string file = dir.File("ref 'carrier'.mdb");
  MakeCarrierFile(file, "Ref'Co", "1088",
                  std::string(kPlan) + ListinoRow("Urbana", 1, "1899-12-30 00:00:00", 0, 60, 0.1) +
                      ListinoRow("Urbana", 2, "1899-12-30 00:00:00", 0, 60, 0.1) +
                      ListinoRow("Mob 'A'", 1, "1899-12-30 00:00:00", 0, 60, 0.3));
  auto conn = OpenEngineDb("");
  clsLcrs lcrs(&engine, conn.get());
  lcrs.CacheFromMdb(file, site);
  ASSERT_EQ(lcrs.Lcrs().Count(), 2u);
  auto urbana = lcrs.Lcrs().Find("S'1" + kSep + "Ref'Co" + kSep + "Urbana" + kSep + "00:00:00" + kSep + "All");
  ASSERT_TRUE(urbana);
  EXPECT_EQ(urbana->TipoGruppo, "Local");  // all three members are Local
  EXPECT_EQ(dt::ToText(urbana->Alle), "23:59:59");
  EXPECT_EQ(urbana->Priorita, 1);
  EXPECT_FALSE(urbana->Scatti);
  EXPECT_EQ(urbana->Tariffe()->Tariffe.Count(), 2u);
  // Local: the group's one-character area plus the site's own area.
  EXPECT_EQ(urbana->Destinazioni()->Destinazioni().Count(), 2u);
  auto mob = lcrs.Lcrs().Find("S'1" + kSep + "Ref'Co" + kSep + "Mob 'A'" + kSep + "00:00:00" + kSep + "All");
  ASSERT_TRUE(mob);
  // Mobile, National and International once each: the first row returned.
  EXPECT_FALSE(mob->TipoGruppo.empty());
  EXPECT_EQ(lcrs.PrefissiCarrier().at("Ref'Co"), "1088");
}

TEST_F(Lcr, CacheFromMdbWithoutTheFileRaisesError111) {
  auto conn = OpenEngineDb("");
  clsLcrs lcrs(&engine, conn.get());
  try {
    lcrs.CacheFromMdb(dir.File("none.mdb"), site);
    FAIL() << "no error raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), 111);
    EXPECT_EQ(e.Source(), "Valmer Processor");
    EXPECT_EQ(e.Description(), "Unable to retreive Carrier2 file: " + dir.File("none.mdb"));
  }
}

TEST(LcrPriority, TextReadAsANumberThenRoundedHalvesToEven) {
  EXPECT_EQ(ParsePriorita("3"), 3);
  EXPECT_EQ(ParsePriorita(" 2.5"), 2);
  EXPECT_EQ(ParsePriorita("3.5"), 4);
  EXPECT_EQ(ParsePriorita(""), 0);
  EXPECT_EQ(ParsePriorita("abc"), 0);
  EXPECT_EQ(ParsePriorita("7x"), 7);
  EXPECT_EQ(ParsePriorita("-32768"), -32768);
  EXPECT_THROW(ParsePriorita("32768"), ComponentError);
}
