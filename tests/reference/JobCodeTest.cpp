// Job codes: keyed by code and site, or by code alone with extended job
// codes switched on in the registry.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/SqliteFile.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "platform/Registry.h"
#include "reference/clsCommessa.h"
#include "reference/clsCommesse.h"
#include "support/CommonLib.h"

namespace ordalis {
namespace {

using testing::ExecSql;
using testing::ScratchDir;

const std::string kBar = "\xC2\xA6";

class JobCodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("engine.db");
    CreateEngineDatabase(path_);
    SetExtended(false);
  }
  void TearDown() override {
    platform::Registry::SetForTesting(nullptr);
    CheckCommesseEstese();
  }
  static void SetExtended(bool on) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\valmer\\Process]\n";
    text += on ? "\"CommesseEstese\"=\"1\"\n" : "\"CommesseEstese\"=\"0\"\n";
    platform::Registry::SetForTesting(std::make_shared<platform::Registry>(platform::Registry::Parse(text)));
  }
  void Rows(const std::string& rows) {
    ExecSql(path_, "INSERT INTO Commesse (sCodice, sDescrizione, sSito, iPrivacy) VALUES " + rows);
  }
  clsCommesse& Load(CacheType tipo = ctPreload) {
    connection_ = rdo::RdoEnvironment::Default().OpenConnection("", false, false, "DBQ=" + path_ + ";");
    commesse_.Connection = connection_.get();
    commesse_.Chiamate = &engine_;
    commesse_.Cache(tipo);
    return commesse_;
  }

  ScratchDir dir_;
  std::string path_;
  clsChiamate engine_;
  std::unique_ptr<rdo::RdoConnection> connection_;
  clsCommesse commesse_;
};

TEST_F(JobCodeTest, SiteJobCodesAreKeyedByCodeAndSite) {
  Rows("('P1', 'Project one Milan', 'MI', 1), ('P1', 'Project one Rome', 'RM', 2), ('p1', 'Again', 'mi', 3)");
  clsCommesse& c = Load();
  EXPECT_FALSE(UseCommesseEstese());
  ASSERT_EQ(c.Commesse().Count(), 2u);
  auto rome = c.Commesse().Find("P1" + kBar + "RM");
  ASSERT_NE(rome, nullptr);
  EXPECT_EQ(rome->Descrizione, "Project one Rome");
  EXPECT_EQ(rome->Key, "P1" + kBar + "RM");
  EXPECT_EQ(rome->Privacy, 2);
  EXPECT_EQ(rome->Status, stDaIndividuare);
  // A code differing only in letter case is the same key: the first wins.
  EXPECT_EQ(c.GetCommessa("p1", "MI")->Descrizione, "Project one Milan");
  EXPECT_EQ(c.GetCommessa("P1", "NA"), nullptr);
  EXPECT_EQ(c.Commesse().Find("P1"), nullptr);
}

TEST_F(JobCodeTest, ExtendedJobCodesAreKeyedByCodeAlone) {
  SetExtended(true);
  Rows("('P1', 'First', 'MI', 1), ('P1', 'Second', 'RM', 2), ('p1', 'Third', 'NA', 0), ('P2', 'Other', 'RM', 4)");
  clsCommesse& c = Load();
  EXPECT_TRUE(UseCommesseEstese());
  ASSERT_EQ(c.Commesse().Count(), 2u);
  auto p1 = c.Commesse().Find("P1");
  ASSERT_NE(p1, nullptr);
  EXPECT_EQ(p1->Descrizione, "First");
  EXPECT_EQ(p1->Sito, "MI");
  EXPECT_EQ(p1->Key, "P1");
  EXPECT_EQ(c.GetCommessa("P2", "anything")->Privacy, 4);
}

TEST_F(JobCodeTest, OnlyPreloadReadsTheTable) {
  Rows("('P1', 'x', 'MI', 1)");
  EXPECT_EQ(Load(ctPerUse).Commesse().Count(), 0u);
  EXPECT_EQ(commesse_.Tipo(), ctPerUse);
  EXPECT_EQ(Load(ctPreload).Commesse().Count(), 1u);
}

TEST_F(JobCodeTest, QuotesNullsAndEmptyTable) {
  EXPECT_EQ(Load().Commesse().Count(), 0u);
  Rows("('O''Neil', 'Job''s', 'S''1', NULL), (NULL, NULL, NULL, '')");
  clsCommesse& c = Load();
  ASSERT_EQ(c.Commesse().Count(), 2u);
  auto quoted = c.GetCommessa("O'Neil", "S'1");
  ASSERT_NE(quoted, nullptr);
  EXPECT_EQ(quoted->Descrizione, "Job's");
  EXPECT_EQ(quoted->Privacy, 0);
  EXPECT_EQ(c.Commesse().Find(kBar)->Codice, "");
}

TEST_F(JobCodeTest, StopsAddingOnceTheEngineStopsLoading) {
  Rows("('P1', 'x', 'MI', 1), ('P2', 'y', 'MI', 1)");
  engine_.set_CacheStopped(true);
  EXPECT_EQ(Load().Commesse().Count(), 0u);
}

}  // namespace
}  // namespace ordalis
