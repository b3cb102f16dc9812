// Loading destinations and destination groups from SQLite files.
#include <gtest/gtest.h>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/SqliteFile.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppiDest.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"

using namespace ordalis;
using namespace ordalis::testing;

namespace {

const std::string kSep = kKeySeparator;

class DestinationCache : public ::testing::Test {
 protected:
  std::unique_ptr<rdo::RdoConnection> Open(const std::string& file, const std::string& script) {
    ExecSql(file, std::string(kDestinazioniDdl) + "CREATE TABLE Carrier (NomeCarrier TEXT, sPrefissoInterconn TEXT);" +
                      script);
    return rdo::RdoEnvironment::Default().OpenConnection("", false, false, FileConnect(file));
  }
  ScratchDir dir;
  clsChiamate engine;
};

}  // namespace

TEST_F(DestinationCache, RowsLoadInDescendingPrefixOrderWithNullCoordinatesAsZero) {
  auto conn = Open(dir.File("d.db"),
                   "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','National',41.9,12.5);"
                   "INSERT INTO Destinazioni VALUES ('39','02','Italia','Milano','National',NULL,9.2);"
                   "INSERT INTO Destinazioni VALUES ('0044','20',NULL,'London','International',51.5,NULL);"
                   "INSERT INTO Destinazioni VALUES ('39','0654','Italia','Roma EUR','Local',41.8,12.4);");
  clsDestinazioni d(&engine, conn.get());
  d.Cache(ctPreload);
  ASSERT_EQ(d.Destinazioni().Count(), 4u);
  EXPECT_EQ(d.Destinazioni().Item(1)->Key, "39" + kSep + "0654");
  EXPECT_EQ(d.Destinazioni().Item(2)->Key, "39" + kSep + "06");
  EXPECT_EQ(d.Destinazioni().Item(3)->Key, "39" + kSep + "02");
  EXPECT_EQ(d.Destinazioni().Item(4)->Key, "0044" + kSep + "20");
  auto milano = d.Destinazioni().Item("39" + kSep + "02");
  EXPECT_EQ(milano->Lat, 0.0f);
  EXPECT_FLOAT_EQ(milano->Longit, 9.2f);
  auto london = d.Destinazioni().Item("0044" + kSep + "20");
  EXPECT_EQ(london->DescrNaz, "");
  EXPECT_EQ(london->Longit, 0.0f);
  EXPECT_EQ(london->Tipo, "International");
  EXPECT_FALSE(engine.CacheStopped());
  // The loaded order feeds the match.
  EXPECT_EQ(d.GetDestinazioneMigliore("065412", "39", "00")->DescrArea, "Roma EUR");
}

TEST_F(DestinationCache, RepeatedPrefixPairKeepsOneDestinationSilently) {
  auto conn = Open(dir.File("d.db"),
                   "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','National',1,1);"
                   "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma bis','National',2,2);");
  clsDestinazioni d(&engine, conn.get());
  d.Cache(ctPreload);
  EXPECT_EQ(d.Destinazioni().Count(), 1u);
  EXPECT_FALSE(engine.CacheStopped());
  EXPECT_EQ(engine.Errore(), "");
}

TEST_F(DestinationCache, SecondLoadAddsToTheSameCollectionAndOnlyPreloadReads) {
  auto first = Open(dir.File("a.db"), "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','National',1,1);");
  auto second = Open(dir.File("b.db"),
                     "INSERT INTO Destinazioni VALUES ('39','06','Italia','Other','National',1,1);"
                     "INSERT INTO Destinazioni VALUES ('39','02','Italia','Milano','National',1,1);");
  clsDestinazioni d(&engine, first.get());
  d.Cache(ctPerUse);
  EXPECT_EQ(d.Destinazioni().Count(), 0u);
  d.Cache(ctPreload);
  d.Connection = second.get();
  d.Cache(ctPreload);
  ASSERT_EQ(d.Destinazioni().Count(), 2u);
  EXPECT_EQ(d.Destinazioni().Item("39" + kSep + "06")->DescrArea, "Roma");
  EXPECT_EQ(d.GetDestinazioneMigliore("0212", "39", "00")->DescrArea, "Milano");
}

TEST_F(DestinationCache, EmptyDestinationTableFollowsTheCacheErrorConvention) {
  auto conn = Open(dir.File("d.db"), "");
  clsDestinazioni d(&engine, conn.get());
  d.Cache(ctPreload);
  EXPECT_TRUE(engine.CacheStopped());
  EXPECT_EQ(engine.Errore(), "There are no destinations");

  clsChiamate raising;
  raising.set_UsoRiproc(true);
  clsDestinazioni r(&raising, conn.get());
  try {
    r.Cache(ctPreload);
    FAIL() << "no error raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), ObjectError(1033));
    EXPECT_EQ(e.Source(), "clsDestinazioni.Cache");
    EXPECT_EQ(e.Description(), "There are no destinations");
  }
}

TEST_F(DestinationCache, GroupTakesItsPrefixesFromTheFirstRowAndLinksEveryMember) {
  auto conn = Open(dir.File("d.db"),
                   "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','National',1,1);"
                   "INSERT INTO Destinazioni VALUES ('39','02','Italia','Milano','National',1,1);"
                   "INSERT INTO Destinazioni VALUES ('0044','-','UK',NULL,'International',1,1);"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Nazionale','39','02');"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Nazionale','39','06');"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Estero','0044','-');"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Tutto','39','06');");
  auto dest = std::make_shared<clsDestinazioni>(&engine, conn.get());
  dest->Cache(ctPreload);
  clsGruppiDest groups(&engine, conn.get());
  groups.Destinazioni = dest;
  groups.Cache(ctPreload, false);
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  ASSERT_EQ(groups.GruppiDest().Count(), 3u);
  auto naz = groups.GruppiDest().Item("Nazionale");
  EXPECT_EQ(naz->Key, "Nazionale");
  EXPECT_EQ(naz->PrefNaz, "39");
  EXPECT_EQ(naz->PrefArea, "02");
  EXPECT_EQ(naz->Destinazioni().Count(), 2u);
  auto roma = dest->Destinazioni().Item("39" + kSep + "06");
  ASSERT_TRUE(naz->Destinazioni().Contains(roma->Key));
  ASSERT_EQ(roma->GruppiDest().Count(), 2u);
  EXPECT_EQ(roma->GruppiDest().Item(1), naz);
  EXPECT_EQ(roma->GruppiDest().Item(2)->Denominazione, "Tutto");
}

TEST_F(DestinationCache, GroupMemberMissingFromDestinationsStopsTheGroupLoad) {
  auto conn = Open(dir.File("d.db"),
                   "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','National',1,1);"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Roma','39','06');"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Fantasma','39','099');"
                   "INSERT INTO GruppoDiDestinazioni VALUES ('Dopo','39','06');");
  auto dest = std::make_shared<clsDestinazioni>(&engine, conn.get());
  dest->Cache(ctPreload);
  {
    clsGruppiDest groups(&engine, conn.get());
    groups.Destinazioni = dest;
    groups.Cache(ctPreload, false);
    EXPECT_TRUE(engine.CacheStopped());
    EXPECT_EQ(engine.Errore(),
              "The destinations groupFantasma includes a destination which is not in the destinations table");
    EXPECT_TRUE(groups.GruppiDest().Contains("Roma"));
    EXPECT_FALSE(groups.GruppiDest().Contains("Dopo"));  // rows after the failure are not read
  }

  clsChiamate raising;
  raising.set_UsoRiproc(true);
  clsGruppiDest groups(&raising, conn.get());
  groups.Destinazioni = dest;
  try {
    groups.Cache(ctPreload, false);
    FAIL() << "no error raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), ObjectError(1037));
    EXPECT_EQ(e.Source(), "clsGruppiDest.Cache");
  }
  EXPECT_FALSE(raising.CacheStopped());
}

TEST_F(DestinationCache, EmptyGroupTableIsFailure1036) {
  auto conn = Open(dir.File("d.db"), "INSERT INTO Destinazioni VALUES ('39','06','Italia','Roma','National',1,1);");
  auto dest = std::make_shared<clsDestinazioni>(&engine, conn.get());
  dest->Cache(ctPreload);
  clsChiamate raising;
  raising.set_UsoRiproc(true);
  clsGruppiDest groups(&raising, conn.get());
  groups.Destinazioni = dest;
  try {
    groups.Cache(ctPreload, false);
    FAIL() << "no error raised";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), ObjectError(1036));
    EXPECT_EQ(e.Description(), "There are no destinations groups");
  }
}

TEST_F(DestinationCache, SameGroupNameFromTwoCarrierFilesGivesTwoGroups) {
  const std::string rows =
      "INSERT INTO Destinazioni VALUES ('39','3','Italia','Mobile','Mobile',0,0);"
      "INSERT INTO GruppoDiDestinazioni VALUES ('Mobili','39','3');";
  auto alpha = Open(dir.File("alpha.mdb"), rows + "INSERT INTO Carrier VALUES ('Alpha','1010');");
  auto beta = Open(dir.File("beta.mdb"), rows + "INSERT INTO Carrier VALUES ('O''Brien Tel','1020');");
  auto dest = std::make_shared<clsDestinazioni>(&engine, alpha.get());
  clsGruppiDest groups(&engine, alpha.get());
  groups.Destinazioni = dest;
  for (auto* conn : {alpha.get(), beta.get()}) {
    dest->Connection = conn;
    dest->Cache(ctPreload);
    groups.Connection = conn;
    groups.Cache(ctPreload, true);
  }
  ASSERT_FALSE(engine.CacheStopped()) << engine.Errore();
  EXPECT_EQ(dest->Destinazioni().Count(), 1u);  // destination keys carry no carrier
  ASSERT_EQ(groups.GruppiDest().Count(), 2u);
  EXPECT_EQ(groups.GruppiDest().Item(1)->Key, "Alpha" + kSep + "Mobili");
  EXPECT_EQ(groups.GruppiDest().Item(2)->Key, "O'Brien Tel" + kSep + "Mobili");
  EXPECT_EQ(groups.PrefissoCarrier(), "O'Brien Tel" + kSep);
  EXPECT_EQ(dest->Destinazioni().Item(1)->GruppiDest().Count(), 2u);
}
