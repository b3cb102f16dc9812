// Carriers of a comparison loaded from carrier tariff files, and their
// destination groups fitted to the comparison site.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/SqliteFile.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppiDest.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsCarriers.h"
#include "tariffs/clsTariffe.h"

using namespace ordalis;
using namespace ordalis::testing;
using Strings = std::vector<std::string>;

namespace {

const std::string kSep = kKeySeparator;

std::string Dest(const std::string& area, const std::string& tipo) {
  return "INSERT INTO Destinazioni (sNazione,sArea,sTipo) VALUES ('39'," + Quote(area) + "," + Quote(tipo) + ");";
}
std::string Members(const std::string& group, const Strings& areas) {
  std::string sql;
  for (const auto& area : areas)
    sql += "INSERT INTO GruppoDiDestinazioni (sDenominazione,sNazione,sArea) VALUES (" + Quote(group) + ",'39'," +
           Quote(area) + ");";
  return sql;
}
std::string Tariff(const std::string& group, long from = 0, long to = 999999, double price = 0.1) {
  return "INSERT INTO Listino (sGruppoDest_e,iTipoGiorno_e,dDalleOre,lDalKm,lAlKm,cCostoMinuto,lDurataInizio,"
         "lDurataFine,dValiditaDal,sFasciaOraria_e,iArrotDurata,iTipoArrotDurata,iArrotCosto,iTipoArrotCosto,"
         "iDurataRisposta,iDurataMinima) VALUES (" +
         Quote(group) + ",1,'1899-12-30 08:00:00',0,9999," + std::to_string(price) + "," + std::to_string(from) + "," +
         std::to_string(to) + ",'2024-01-01','Piena',1,1,0.01,1,0,0);";
}

// Around Rome (the site's area 06): a local, adjacent, regional, district
// and national group, each priced; the adjacent group's name holds quotes.
std::string RomePlan() {
  std::string sql = Dest("06", "Local") + Dest("02", "Local") + Dest("011", "National") + Dest("0863", "Distrettuali");
  for (const char* a : {"0774", "0771", "0773"}) sql += Dest(a, "Adiacenti");
  for (const char* a : {"0775", "0776", "055"}) sql += Dest(a, "Regional");
  sql += Members("Nazionale", {"011", "06", "0774"}) + Members("Adj 'Sud'", {"0774", "0771", "0773"}) +
         Members("Regionale", {"0775", "0776", "055"}) + Members("Urbana", {"06", "02"}) +
         Members("Distretto", {"0863"});
  for (const char* g : {"Nazionale", "Adj 'Sud'", "Regionale", "Urbana", "Distretto"}) sql += Tariff(g);
  return sql;
}

class Carriers : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogPath(dir.Path().string() + "/");
    ExecSql(dir.File("prefissi.mdb"),
            "CREATE TABLE NearbyAreas (SrcArea TEXT, DstArea TEXT); CREATE TABLE Regionali (sPrefisso, sRegione);"
            "INSERT INTO NearbyAreas VALUES ('06','0774'),('06','0771'),('02','0773');"
            "INSERT INTO Regionali VALUES ('06','Lazio'),('0775','Lazio'),('0776','Lazio'),('055','Toscana');");
    engine.set_PrefissiMDB(dir.File("prefissi.mdb"));
    carriers.Chiamate = &engine;
    SetSiteArea("06");
  }

  // The comparison site's own area (none when empty).
  void SetSiteArea(const std::string& area) {
    carriers.SitoDestinazione = nullptr;
    if (area.empty()) return;
    carriers.SitoDestinazione = std::make_shared<clsDestinazione>();
    carriers.SitoDestinazione->PrefNaz = "39";
    carriers.SitoDestinazione->PrefArea = area;
  }
  // A carrier file of the shipped schema, filled by `sql`.
  std::string File(const std::string& carrier, const std::string& sql) {
    const std::string path = dir.File(carrier + ".mdb");
    CreateCarrierDatabase(path, carrier, "10" + std::to_string(++files));
    ExecSql(path, sql);
    return path;
  }
  rdo::RdoConnection* Open(const std::string& path) {
    connections.push_back(rdo::RdoEnvironment::Default().OpenConnection("", false, false, FileConnect(path)));
    return connections.back().get();
  }
  // As the comparison does for one file: its destinations and groups into
  // the engine's caches, then its carrier.
  void Load(const std::string& path, bool fresh = false) {
    if (fresh) engine.Destinazioni.reset(), engine.GruppiDest.reset();
    rdo::RdoConnection* connection = Open(path);
    if (!engine.Destinazioni) engine.Destinazioni = std::make_shared<clsDestinazioni>(&engine);
    if (!engine.GruppiDest) engine.GruppiDest = std::make_shared<clsGruppiDest>(&engine, nullptr);
    engine.GruppiDest->Destinazioni = engine.Destinazioni;
    engine.Destinazioni->Connection = engine.GruppiDest->Connection = carriers.Connection = connection;
    engine.Destinazioni->Cache(ctPreload);
    engine.GruppiDest->Cache(ctPreload, true);
    ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
    carriers.NomeFileCarrier = path;
    carriers.Cache(ctPreload);
  }
  // Runs `load` with UsoRiproc off and on; returns the two failure texts
  // (Errore, then the raised description) after checking the convention.
  Strings Failures(const std::function<void()>& load, std::int32_t number = 0) {
    Strings texts;
    for (bool raise : {false, true}) {
      engine.set_UsoRiproc(raise);
      engine.set_CacheStopped(false);
      try {
        load();
        EXPECT_FALSE(raise) << "nothing raised";
        texts.push_back(engine.Errore());
      } catch (const ComponentError& e) {
        EXPECT_TRUE(raise) << e.Description();
        EXPECT_EQ(e.Source(), "clsCarriers.Cache");
        if (number) {
          EXPECT_EQ(e.Number(), number);
        }
        texts.push_back(e.Description());
      }
      EXPECT_EQ(engine.CacheStopped(), !raise);
    }
    return texts;
  }

  Strings Areas(const std::string& group) {
    Strings areas;
    auto g = engine.GruppiDest->GruppiDest().Find(group);
    if (g && g->HasDestinazioni())
      for (const auto& d : g->Destinazioni()) areas.push_back(d->PrefArea);
    return areas;
  }
  std::shared_ptr<clsDestinazione> Destination(const std::string& area) {
    return engine.Destinazioni->Destinazioni().Find("39" + kSep + area);
  }
  Strings GroupsOf(const std::string& area) {
    Strings keys;
    if (auto d = Destination(area); d && d->HasGruppiDest())
      for (const auto& g : d->GruppiDest()) keys.push_back(g->Key);
    return keys;
  }

  ScratchDir dir;
  clsChiamate engine;
  std::vector<std::unique_ptr<rdo::RdoConnection>> connections;
  clsCarriers carriers;
  int files = 0;
};

}  // namespace

TEST_F(Carriers, EachFileGivesOneCarrierWhoseTariffsUseItsOwnGroupsWithStepsAscending) {
  const std::string national = Dest("011", "National") + Members("Nazionale", {"011"});
  const std::string alpha =
      File("Alpha", national + Tariff("Nazionale", 60, 999999, 0.08) + Tariff("Nazionale", 0, 60));
  Load(alpha);
  Load(File("O'Brien", national + Tariff("Nazionale")));
  ASSERT_EQ(carriers.Carriers().Count(), 2u);

  const auto& a = carriers.Carriers().Item("alpha");
  EXPECT_EQ(a->Key, "Alpha");
  EXPECT_EQ(a->PrefissoInterconn, "101");
  EXPECT_EQ(a->DatabaseTariffe, alpha);
  ASSERT_EQ(a->Tariffe().Tariffe.Count(), 1u);
  const auto& ta = a->Tariffe().Tariffe.Item(1);
  EXPECT_EQ(ta->Key, "Alpha" + kSep + "Nazionale" + kSep + "1" + kSep + "08:00:00" + kSep + "0" + kSep + "2024-01-01");
  ASSERT_EQ(ta->CostoMinuto().Count(), 2u);
  EXPECT_EQ(ta->CostoMinuto().Item(1)->DurataAl, 60);
  EXPECT_EQ(ta->CostoMinuto().Item(2)->DurataDal, 60);
  EXPECT_EQ(ta->CostoMinuto().Item(2)->CostoMinuto, Money::FromDouble(0.08));

  // Same-named groups of two carriers stay apart.
  const auto& tb = carriers.Carriers().Item("O'Brien")->Tariffe().Tariffe.Item(1);
  ASSERT_TRUE(ta->GruppoDest && tb->GruppoDest);
  EXPECT_EQ(ta->GruppoDest->Key, "Alpha" + kSep + "Nazionale");
  EXPECT_EQ(tb->GruppoDest->Key, "O'Brien" + kSep + "Nazionale");
}

TEST_F(Carriers, AFileWithoutDurationColumnsGivesOneStepFromZeroTo999999999) {
  Load(File("Vecchio",
            Dest("011", "National") + Members("Nazionale", {"011"}) + Tariff("Nazionale", 5, 60) +
                "ALTER TABLE Listino DROP COLUMN lDurataInizio; ALTER TABLE Listino DROP COLUMN lDurataFine;"));
  const auto& tariffa = carriers.Carriers().Item("Vecchio")->Tariffe().Tariffe.Item(1);
  ASSERT_EQ(tariffa->CostoMinuto().Count(), 1u);
  EXPECT_EQ(tariffa->CostoMinuto().Item(1)->DurataDal, 0);
  EXPECT_EQ(tariffa->CostoMinuto().Item(1)->DurataAl, 999999999);
}

TEST_F(Carriers, AGroupMissingFromTheGroupsStopsAndRaises1043WhateverUsoRiproc) {
  const std::string path = File(
      "Ghost", Dest("011", "National") + Members("Nazionale", {"011"}) + Tariff("Nazionale") + Tariff("Fantasma 'X'"));
  for (bool raise : {false, true}) {
    engine.set_UsoRiproc(raise);
    engine.set_CacheStopped(false);
    try {
      Load(path, true);
      ADD_FAILURE() << "nothing raised";
    } catch (const ComponentError& e) {
      EXPECT_EQ(e.Number(), ObjectError(1043));
      EXPECT_EQ(e.Description(), "Fantasma 'X'");
    }
    EXPECT_TRUE(engine.CacheStopped());
    EXPECT_EQ(carriers.Carriers().Count(), 0u);
  }
}

TEST_F(Carriers, LoadFailuresFollowTheCacheErrorConventionAndAddNoCarrier) {
  const std::string empty = File("Alpha", "");
  const std::string missing = dir.File("missing.mdb");
  const std::string junk = dir.File("junk.mdb");
  std::ofstream(junk) << "not a tariff database" << std::string(4096, 'x');
  const struct {
    std::string file, nome_file, message;
    std::int32_t number;
  } cases[] = {
      {empty, "", "You have not indicated the tariff database for the carrierAlpha", ObjectError(1029)},
      {empty, missing, "There is no tariff database" + missing + " for the carrierAlpha", ObjectError(1028)},
      {empty, empty, "There are no tariffs for the carrierAlpha", ObjectError(1027)},
      {File("Beta", "DELETE FROM Carrier;"), "x", "There are no carriers", ObjectError(1030)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    carriers.Connection = Open(c.file);
    carriers.NomeFileCarrier = c.nome_file;
    EXPECT_EQ(Failures([&] { carriers.Cache(ctPreload); }, c.number), Strings(2, c.message));
  }
  // A carrier whose tariff file is junk; a NULL where Listino allows none.
  carriers.Connection = Open(empty);
  carriers.NomeFileCarrier = junk;
  for (const auto& text : Failures([&] { carriers.Cache(ctPreload); })) EXPECT_NE(text.find(junk), std::string::npos);
  const std::string nulls =
      File("Nullo", Dest("011", "National") + Members("Nazionale", {"011"}) + Tariff("Nazionale") +
                        "CREATE TABLE L AS SELECT * FROM Listino; DROP TABLE Listino;"
                        "ALTER TABLE L RENAME TO Listino; UPDATE Listino SET lDalKm = NULL;");
  for (const auto& text : Failures([&] { Load(nulls, true); })) EXPECT_NE(text.find("lDalKm"), std::string::npos);
  EXPECT_EQ(carriers.Carriers().Count(), 0u);
}

TEST_F(Carriers, AdjacentRegionalLocalAndDistrictGroupsAreFittedToTheSite) {
  Load(File("Alpha", RomePlan()));
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  const std::string p = "Alpha" + kSep;
  EXPECT_EQ(Areas(p + "Adj 'Sud'"), (Strings{"0774", "0771"}));  // NearbyAreas of 06
  EXPECT_EQ(Areas(p + "Regionale"), (Strings{"0775", "0776"}));  // the rest of Lazio
  EXPECT_EQ(Areas(p + "Urbana"), (Strings{"06"}));               // the site's own area
  // What left its group is national now, in the national group only.
  EXPECT_EQ(Areas(p + "Nazionale"), (Strings{"011", "06", "0774", "0773", "055", "02"}));
  for (const char* area : {"0773", "055", "02"}) {
    EXPECT_EQ(Destination(area)->Tipo, "National") << area;
    EXPECT_EQ(GroupsOf(area), Strings{p + "Nazionale"}) << area;
  }
  EXPECT_EQ(GroupsOf("0774"), (Strings{p + "Nazionale", p + "Adj 'Sud'"}));
  EXPECT_EQ(Destination("0774")->Tipo, "Adiacenti");
  // The district group is out of the carrier.
  EXPECT_TRUE(GroupsOf("0863").empty());
  const auto& tariffe = carriers.Carriers().Item("Alpha")->Tariffe().Tariffe;
  EXPECT_EQ(tariffe.Count(), 4u);
  for (const auto& t : tariffe) EXPECT_NE(t->NomeGruppo, "Distretto");
}

TEST_F(Carriers, TheSmallestCandidateWithoutNationalMembersIsFittedTheFirstOnATie) {
  // AMisto, met first and as small as AdjPiccolo, holds a national area.
  std::string sql = Dest("011", "National");
  for (const char* a : {"0774", "0771", "0773", "0772"}) sql += Dest(a, "Adiacenti");
  sql += Members("Nazionale", {"011"}) + Members("AMisto", {"0772", "011"}) +
         Members("AdjGrande", {"0774", "0771", "0773"}) + Members("AdjPiccolo", {"0774", "0772"});
  for (const char* g : {"Nazionale", "AMisto", "AdjGrande", "AdjPiccolo"}) sql += Tariff(g);
  Load(File("Alpha", sql));
  const std::string a = "Alpha" + kSep;
  EXPECT_EQ(Areas(a + "AdjPiccolo"), Strings{"0774"});
  EXPECT_EQ(Areas(a + "AdjGrande"), (Strings{"0774", "0771", "0773"}));
  EXPECT_EQ(Areas(a + "AMisto"), (Strings{"0772", "011"}));
  EXPECT_EQ(Areas(a + "Nazionale"), (Strings{"011", "0772"}));

  Load(File("Beta", sql.substr(0, sql.find("INSERT INTO Gruppo")) + Members("Nazionale", {"011"}) +
                        Members("AdjA", {"0774", "0773"}) + Members("AdjB", {"0774", "0772"}) + Tariff("Nazionale") +
                        Tariff("AdjB") + Tariff("AdjA")));
  const std::string b = "Beta" + kSep;
  EXPECT_EQ(Areas(b + "AdjA"), Strings{"0774"});
  EXPECT_EQ(Areas(b + "AdjB"), (Strings{"0774", "0772"}));
}

TEST_F(Carriers, ThePrefixDatabaseIsReadOnlyWhenAGroupIsFittedAndMustThenBeReadable) {
  // A site without a destination of its own: nothing is fitted.
  engine.set_PrefissiMDB(dir.File("nowhere.mdb"));
  SetSiteArea("");
  Load(File("Alpha", RomePlan()));
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  EXPECT_EQ(Areas("Alpha" + kSep + "Adj 'Sud'"), (Strings{"0774", "0771", "0773"}));
  EXPECT_EQ(Areas("Alpha" + kSep + "Urbana"), (Strings{"06", "02"}));

  // A file with no adjacent or regional group needs no prefix database.
  SetSiteArea("06");
  Load(File("Beta", Dest("06", "Local") + Dest("011", "National") + Members("Nazionale", {"011", "06"}) +
                        Members("Urbana", {"06"}) + Tariff("Nazionale") + Tariff("Urbana")));
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  EXPECT_EQ(carriers.Carriers().Count(), 2u);

  const std::string broken = dir.File("broken.mdb");
  ExecSql(broken, "CREATE TABLE Altro (x TEXT);");
  for (const std::string& prefissi : {dir.File("nowhere.mdb"), broken}) {
    engine.set_PrefissiMDB(prefissi);
    const std::string path = File("C" + std::to_string(files), RomePlan());
    for (const auto& text : Failures([&] { Load(path, true); }))
      EXPECT_NE(text.find(prefissi), std::string::npos) << text;
  }
}

TEST_F(Carriers, WithoutAPrefixDatabaseTheCarrierFileHoldsTheAreaTables) {
  engine.set_PrefissiMDB("");
  Load(File("Alpha", RomePlan() +
                         "INSERT INTO NearbyAreas (SrcArea, DstArea) VALUES ('06','0774'),('06','0771');"
                         "INSERT INTO Regionali (sPrefisso, sRegione) VALUES ('06','Lazio'),('0775','Lazio'),"
                         "('055','Toscana');"));
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  EXPECT_EQ(Areas("Alpha" + kSep + "Adj 'Sud'"), (Strings{"0774", "0771"}));
  EXPECT_EQ(Areas("Alpha" + kSep + "Regionale"), (Strings{"0775"}));  // 0776 is in no region of this file

  // A file without those tables cannot be fitted: the error names it.
  const std::string bare = File("Bare", RomePlan() + "DROP TABLE NearbyAreas;");
  const auto failures = Failures([&] { Load(bare, true); });
  ASSERT_FALSE(failures.empty());
  for (const auto& text : failures) EXPECT_NE(text.find(bare), std::string::npos) << text;
}

TEST_F(Carriers, WithoutALocalGroupTheSiteAreaLeavesTheNationalGroup) {
  // This carrier prices urban calls as national: no area is local.
  std::string sql = Dest("06", "National") + Dest("02", "National") + Dest("011", "National");
  Load(File("Alpha", sql + Members("Nazionale", {"011", "06", "02"}) + Tariff("Nazionale")));
  EXPECT_EQ(Areas("Alpha" + kSep + "Nazionale"), (Strings{"011", "02"}));
  EXPECT_TRUE(GroupsOf("06").empty());
  EXPECT_EQ(GroupsOf("02"), Strings{"Alpha" + kSep + "Nazionale"});
}
