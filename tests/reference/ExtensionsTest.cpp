// Extensions on SQLite files: loading, write-back of the totals, automatic
// insertion and the per-use look-up.
#include "data/RdoConnection.h"
#include "engine/EngineFixture.h"
#include "ordalis/ComponentError.h"
#include "reference/clsDerivati.h"
#include "reference/clsDerivato.h"
#include "reference/clsSiti.h"

namespace ordalis::testing {
namespace {

const std::string kBar = "\xC2\xA6";

class ExtensionsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    engine_ = std::make_unique<clsChiamate>();
    engine_->set_TipoDb(dbAccess);
    engine_->set_Database(db_path_);
    ASSERT_TRUE(engine_->ConnectionOpen()) << engine_->Errore();
  }
  void TearDown() override {
    engine_.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<clsDerivati> Load() {
    auto d = std::make_unique<clsDerivati>(engine_.get(), engine_->Connection(), utBatch);
    d->Cache(ctPreload);
    return d;
  }
  // What the database file holds, once the layer has committed.
  std::string Committed(const std::string& sql) {
    engine_->Connection()->Flush();
    return Query(sql);
  }
  std::unique_ptr<clsChiamate> engine_;
};

TEST_F(ExtensionsTest, LoadsEveryColumnWithTheNullDefaults) {
  Sql("INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, sCentroDiCosto, sUbicazione, iPrivacy, sSedeFisica, "
      "IDTimeZone, bSwing, rRicaricoCosto, lTotMinuti, lTotChiamate, cTotCosto, lSogliaMinuti, lSogliaChiamate, "
      "cSogliaCosto, sSogliaSuperata) VALUES "
      "('201', 'Anna', 'MI', 'Sales', 'CC1', 'Floor 2', 3, 'Milano', 'CET', 1, 1.25, 100, 7, 12.3456, 500, 50, "
      "99.5, 'X'),"
      "('202', NULL, 'MI', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0, 0, 0, 0, 0, 0, NULL)");
  auto d = Load();
  ASSERT_EQ(d->Derivati().Count(), 2u);
  auto anna = d->Derivati().Item("201" + kBar + "MI");
  EXPECT_EQ(anna->Key, "201" + kBar + "MI");
  EXPECT_EQ(anna->PKId, 1);
  EXPECT_EQ(anna->Nome, "Anna");
  EXPECT_EQ(anna->Reparto, "Sales");
  EXPECT_EQ(anna->CentroDiCosto, "CC1");
  EXPECT_EQ(anna->Ubicazione, "Floor 2");
  EXPECT_EQ(anna->Privacy, 3);
  EXPECT_EQ(anna->SedeFisica, "Milano");
  EXPECT_EQ(anna->IDTimeZone, "CET");
  EXPECT_TRUE(anna->Swing);
  EXPECT_EQ(anna->Ricarico, Money::FromDouble(1.25));
  EXPECT_EQ(anna->TotMinuti, 100);
  EXPECT_EQ(anna->TotChiamate, 7);
  EXPECT_EQ(anna->TotCosto, Money::FromDouble(12.3456));
  EXPECT_EQ(anna->SogliaMinuti, 500);
  EXPECT_EQ(anna->SogliaChiamate, 50);
  EXPECT_EQ(anna->SogliaCosto, Money::FromDouble(99.5));
  EXPECT_EQ(anna->SogliaSuperata, "-");  // whatever the row holds

  auto empty = d->Derivati().Item("202" + kBar + "MI");
  EXPECT_EQ(empty->Nome, "");
  EXPECT_EQ(empty->Privacy, 0);
  EXPECT_FALSE(empty->Swing);
  EXPECT_EQ(empty->Ricarico, Money());
  EXPECT_EQ(empty->SogliaSuperata, "-");
}

TEST_F(ExtensionsTest, KeysAreNumberAndSiteTheFirstOfADuplicateWins) {
  Sql("INSERT INTO Derivati (sNumero, sNome, sSito) VALUES ('201', 'first', 'MI'), ('201', 'second', 'MI'), "
      "('201', 'Rome', 'RM'), ('A1', 'upper', 'Mi'), ('a1', 'lower', 'mi'), ('300', 'shared', '*')");
  auto d = Load();
  ASSERT_EQ(d->Derivati().Count(), 4u);
  EXPECT_EQ(d->Derivati().Item("201" + kBar + "MI")->Nome, "first");
  EXPECT_EQ(d->Derivati().Item("201" + kBar + "RM")->Nome, "Rome");
  EXPECT_EQ(d->Derivati().Item("a1" + kBar + "MI")->Nome, "upper");
  EXPECT_EQ(d->Derivati().Item("300" + kBar + "*")->Nome, "shared");
  EXPECT_EQ(d->Derivati().Find("300" + kBar + "MI"), nullptr);
}

TEST_F(ExtensionsTest, NullCounterOrOtherModesOrAStoppedEngine) {
  Sql("INSERT INTO Derivati (sNumero, sSito) VALUES ('201', 'MI'); "
      "INSERT INTO Derivati (sNumero, sSito, lTotChiamate) VALUES ('202', 'MI', NULL)");
  try {
    Load();
    FAIL() << "a NULL counter loaded";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.Number(), 94);
  }
  Sql("DELETE FROM Derivati WHERE sNumero = '202'");

  clsDerivati per_use(engine_.get(), engine_->Connection());
  per_use.Cache(ctPerUse);
  EXPECT_EQ(per_use.Derivati().Count(), 0u);
  EXPECT_EQ(per_use.Tipo(), ctPerUse);

  engine_->set_CacheStopped(true);
  EXPECT_EQ(Load()->Derivati().Count(), 0u);
  engine_->set_CacheStopped(false);
  EXPECT_EQ(Load()->Derivati().Count(), 1u);
}

TEST_F(ExtensionsTest, SaveWritesTotalsAndTakesBackWhatTheTableChanged) {
  Sql("INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, iPrivacy, sSogliaSuperata) VALUES "
      "('2''01', 'Anna', 'M''I', 'Sales', 1, 'X'), ('202', 'Bruno', 'MI', 'Ops', 0, NULL)");
  auto d = Load();
  auto anna = d->Derivati().Item("2'01" + kBar + "M'I");
  auto bruno = d->Derivati().Item("202" + kBar + "MI");
  anna->TotMinuti = 12;
  anna->TotChiamate = 3;
  anna->TotCosto = Money::FromDouble(4.5);
  bruno->TotChiamate = 9;
  bruno->SogliaSuperata = "";
  anna->Nome = "stale";
  // Edited by someone else while the engine runs.
  Sql("UPDATE Derivati SET sNome = 'Anna Maria', sReparto = 'Marketing', iPrivacy = 2, lSogliaMinuti = 40 "
      "WHERE sNumero = '2''01'");

  EXPECT_EQ(d->SaveAll(), 0u);
  EXPECT_EQ(Committed("SELECT lTotMinuti || '/' || lTotChiamate || '/' || cTotCosto || '/' || sSogliaSuperata "
                      "FROM Derivati WHERE sNumero = '2''01'"),
            "12/3/4.5/-");
  EXPECT_EQ(Query("SELECT sNome FROM Derivati WHERE sNumero = '2''01'"), "Anna Maria");
  EXPECT_EQ(anna->Nome, "Anna Maria");
  EXPECT_EQ(anna->Reparto, "Marketing");
  EXPECT_EQ(anna->Privacy, 2);
  EXPECT_EQ(anna->SogliaMinuti, 40);
  EXPECT_EQ(Query("SELECT lTotChiamate FROM Derivati WHERE sNumero = '202'"), "9");
  EXPECT_EQ(Query("SELECT sSogliaSuperata FROM Derivati WHERE sNumero = '202'"), "<null>");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Derivati"), "2");
}

TEST_F(ExtensionsTest, SavingADeletedRowInsertsItAgainFromMemory) {
  Sql("INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, sCentroDiCosto, sUbicazione, iPrivacy, bSwing, "
      "rRicaricoCosto, lSogliaMinuti) VALUES ('201', 'Anna', 'MI', 'Sales', 'CC', 'F2', 2, 1, 0.5, 30)");
  auto d = Load();
  auto anna = d->Derivati().Item(1);
  anna->TotChiamate = 5;
  Sql("DELETE FROM Derivati");
  Sql("INSERT INTO Derivati (sNumero, sSito) VALUES ('other', 'MI')");
  ASSERT_TRUE(d->Save(*anna));
  EXPECT_EQ(Committed("SELECT sNome || '/' || sReparto || '/' || sCentroDiCosto || '/' || sUbicazione || '/' || "
                      "iPrivacy || '/' || bSwing || '/' || rRicaricoCosto || '/' || lSogliaMinuti || '/' || "
                      "lTotChiamate FROM Derivati WHERE sNumero = '201'"),
            "Anna/Sales/CC/F2/2/1/0.5/30/5");
  EXPECT_EQ(std::to_string(anna->PKId), Query("SELECT lPKId FROM Derivati WHERE sNumero = '201'"));
  EXPECT_NE(anna->PKId, 1);
}

TEST_F(ExtensionsTest, SaveAllWritesEachMemberOnceAndAddsBackADeletedRow) {
  Sql("INSERT INTO Derivati (sNumero, sNome, sSito) VALUES ('201', 'Anna', 'MI'), ('202', 'Bruno', 'MI'), "
      "('a7', 'First', 'MI'), ('A7', 'Second', 'MI'), ('201', 'Other site', 'NY')");
  auto d = Load();
  ASSERT_EQ(d->Derivati().Count(), 4u);  // A7 repeats a7 when letter case is ignored
  std::int32_t n = 0;
  for (const auto& m : d->Derivati()) m->TotChiamate = ++n;
  Sql("DELETE FROM Derivati WHERE sNumero = '202'");
  Sql("UPDATE Derivati SET sNome = 'Anna B' WHERE sNumero = '201' AND sSito = 'MI'");
  EXPECT_EQ(d->SaveAll(), 0u);
  // Only the first of the repeated rows is the member's; 202 is a new row.
  EXPECT_EQ(Committed("SELECT group_concat(sNumero || sSito || '=' || lTotChiamate, ',') FROM "
                      "(SELECT * FROM Derivati ORDER BY lPKId)"),
            "201MI=1,a7MI=3,A7MI=0,201NY=4,202MI=2");
  EXPECT_EQ(d->Derivati().Item("201" + kBar + "MI")->Nome, "Anna B");
  EXPECT_EQ(std::to_string(d->Derivati().Item("202" + kBar + "MI")->PKId),
            Query("SELECT lPKId FROM Derivati WHERE sNumero = '202'"));
}

TEST_F(ExtensionsTest, SaveFailsQuietly) {
  Sql("INSERT INTO Derivati (sNumero, sSito) VALUES ('201', 'MI')");
  auto d = Load();
  Sql("DROP TABLE Derivati");
  EXPECT_FALSE(d->Save(*d->Derivati().Item(1)));
  EXPECT_EQ(d->SaveAll(), 1u);
}

TEST_F(ExtensionsTest, AutomaticInsertionAddsARowAndAMember) {
  Sql("INSERT INTO Opzioni (sSection, sEntry, sValue) VALUES ('Process', 'DefaultPrivacy', '4')");
  engine_->Cache();  // reads the default privacy
  ASSERT_EQ(engine_->DefaultPrivacy(), 4);
  auto d = Load();

  std::shared_ptr<clsDerivato> added;
  std::string sito = "M'I";
  ASSERT_TRUE(d->InserimentoAutomaticoDerivato("0'9", sito, added, false));
  EXPECT_EQ(sito, "M'I");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Nome, "?");
  EXPECT_EQ(added->Reparto, "-");
  EXPECT_EQ(added->Privacy, 4);
  EXPECT_TRUE(added->Swing);
  EXPECT_EQ(added->SogliaSuperata, "-");
  EXPECT_EQ(d->Derivati().Find("0'9" + kBar + "M'I"), added);
  EXPECT_EQ(Committed("SELECT sNome || '/' || sNote || '/' || sReparto || '/' || sCentroDiCosto || '/' || "
                      "sUbicazione || '/' || iPrivacy || '/' || bSwing || '/' || lTotChiamate || '/' || cTotCosto "
                      "FROM Derivati WHERE sNumero = '0''9' AND sSito = 'M''I'"),
            "?/<Added automatically>/-/-/-/4/1/0/0");

  // The inserted extension is loaded by the next start like any other.
  auto again = Load();
  ASSERT_NE(again->Derivati().Find("0'9" + kBar + "M'I"), nullptr);
  EXPECT_EQ(again->Derivati().Find("0'9" + kBar + "M'I")->Privacy, 4);
}

TEST_F(ExtensionsTest, SharedExtensionGoesToEverySiteOrToTheOemReferenceSite) {
  auto d = Load();
  std::shared_ptr<clsDerivato> added;
  std::string sito = "MI";
  ASSERT_TRUE(d->InserimentoAutomaticoDerivato("301", sito, added, true));
  EXPECT_EQ(sito, "*");
  EXPECT_EQ(added->Key, "301" + kBar + "*");

  // The OEM edition puts it at the reference site when the sites have one.
  platform::Registry::SetForTesting(std::make_shared<platform::Registry>(platform::Registry::Parse(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\valmer\\oem]\r\n"
      "\"Name\"=\"Kelmora\"\r\n")));
  engine_->Siti = std::make_shared<clsSiti>(engine_.get(), engine_->Connection());
  sito = "MI";
  ASSERT_TRUE(d->InserimentoAutomaticoDerivato("302", sito, added, true));
  EXPECT_EQ(sito, "*");  // no reference site yet
  engine_->Siti->SitoRiferimento = "E01";
  sito = "MI";
  ASSERT_TRUE(d->InserimentoAutomaticoDerivato("303", sito, added, true));
  EXPECT_EQ(sito, "E01");
  sito = "MI";
  ASSERT_TRUE(d->InserimentoAutomaticoDerivato("304", sito, added, false));
  EXPECT_EQ(sito, "MI");
  EXPECT_EQ(Committed("SELECT group_concat(sNumero || sSito, ',') FROM Derivati"), "301*,302*,303E01,304MI");
}

TEST_F(ExtensionsTest, AutomaticInsertionFailuresChangeNothing) {
  auto d = Load();
  std::shared_ptr<clsDerivato> added;
  std::string sito = "MI";
  EXPECT_FALSE(d->InserimentoAutomaticoDerivato("", sito, added, false));
  EXPECT_EQ(added, nullptr);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Derivati"), "0");

  Sql("DROP TABLE Derivati");
  EXPECT_FALSE(d->InserimentoAutomaticoDerivato("201", sito, added, false));
  EXPECT_EQ(added, nullptr);
  EXPECT_EQ(d->Derivati().Count(), 0u);
  EXPECT_EQ(d->LastError().rfind("Error in adding extension: ", 0), 0u) << d->LastError();
}

TEST_F(ExtensionsTest, PerUseLookUpRunsOnlyWhileNotYetIdentified) {
  Sql("INSERT INTO Derivati (sNumero, sNome, sSito, sReparto, sCentroDiCosto) VALUES "
      "('2''01', 'Anna', 'M''I', 'Sales', NULL)");
  clsDerivato anna;
  anna.Database = engine_->Connection();
  anna.Numero = "2'01";
  anna.Sito = "M'I";
  anna.CentroDiCosto = "old";
  anna.GetInfoDerivato();
  EXPECT_EQ(anna.Status, stIndividuato);
  EXPECT_EQ(anna.Nome, "Anna");
  EXPECT_EQ(anna.Reparto, "Sales");
  EXPECT_EQ(anna.CentroDiCosto, "");

  Sql("UPDATE Derivati SET sNome = 'changed'");
  anna.GetInfoDerivato();
  EXPECT_EQ(anna.Nome, "Anna");  // already identified: no new query

  clsDerivato unknown;
  unknown.Database = engine_->Connection();
  unknown.Numero = "2'01";
  unknown.Sito = "MI";
  unknown.Nome = "x";
  unknown.GetInfoDerivato();
  EXPECT_EQ(unknown.Status, stNonIndividuato);
  EXPECT_EQ(unknown.Nome, "");
}

}  // namespace
}  // namespace ordalis::testing
