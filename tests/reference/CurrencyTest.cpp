// Currencies: the Valute table cache and its lookups by code and by name.
#include <gtest/gtest.h>

#include <string>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "numbering/SqliteFile.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"
#include "ordalis/clsValute.h"

namespace ordalis {
namespace {

using testing::ExecSql;
using testing::ScratchDir;

class CurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("engine.db");
    CreateEngineDatabase(path_);
  }
  void Rows(const std::string& rows) {
    ExecSql(path_,
            "INSERT INTO Valute (sDescrizione, sSimbolo, sCodice, iNumeroDecimali, sValutaRif, dblRapportoDiCambio) "
            "VALUES " + rows);
  }
  clsValute& Load() {
    connection_ = rdo::RdoEnvironment::Default().OpenConnection("", false, false, "DBQ=" + path_ + ";");
    valute_.Connection = connection_.get();
    valute_.Chiamate = &engine_;
    valute_.Cache();
    return valute_;
  }
  int ErrorOfLoad() {
    try {
      Load();
    } catch (const ComponentError& e) {
      return e.Number();
    }
    return 0;
  }

  ScratchDir dir_;
  std::string path_;
  clsChiamate engine_;
  std::unique_ptr<rdo::RdoConnection> connection_;
  clsValute valute_;
};

TEST_F(CurrencyTest, LoadsEveryColumnAndFindsByExactCode) {
  Rows("('Euro', '€', 'EUR', 2, 'EUR', 1), ('Swiss franc', 'CHF', 'CHF', 2, 'EUR', 0.9375), "
       "('Yen', '¥', 'JPY', 0, 'EUR', 157.25)");
  clsValute& v = Load();
  ASSERT_EQ(v.Valute().Count(), 3u);
  auto chf = v.GetValuta("CHF");
  ASSERT_NE(chf, nullptr);
  EXPECT_EQ(chf->Nome, "Swiss franc");
  EXPECT_EQ(chf->Simbolo, "CHF");
  EXPECT_EQ(chf->ValutaRif, "EUR");
  EXPECT_EQ(chf->NumeroDecimali, 2);
  EXPECT_DOUBLE_EQ(chf->RapportoCambio, 0.9375);
  EXPECT_EQ(v.GetValuta("JPY")->NumeroDecimali, 0);
  EXPECT_EQ(v.GetValuta("EUR")->Simbolo, "€");
  // Codes compare exactly, although the collection keys ignore case.
  EXPECT_EQ(v.GetValuta("chf"), nullptr);
  EXPECT_NE(v.Valute().Find("chf"), nullptr);
  // The value a site upgrade writes when no currency is configured.
  EXPECT_EQ(v.GetValuta("-"), nullptr);
}

TEST_F(CurrencyTest, ByNameIsCaseSensitiveAndTakesTheFirstLoaded) {
  Rows("('Dollar', '$', 'USD', 2, 'EUR', 1.08), ('Dollar', '$', 'CAD', 2, 'EUR', 1.47)");
  clsValute& v = Load();
  ASSERT_NE(v.GetValutaByName("Dollar"), nullptr);
  EXPECT_EQ(v.GetValutaByName("Dollar")->Codice, "USD");
  EXPECT_EQ(v.GetValutaByName("dollar"), nullptr);
  EXPECT_EQ(v.GetValutaByName(""), nullptr);
}

TEST_F(CurrencyTest, RepeatedCodeKeepsTheFirstAndQuotesAreOrdinary) {
  Rows("('Pound', '£', 'GBP', 2, 'EUR', 0.85), ('Other pound', '£', 'gbp', 2, 'EUR', 0.5), "
       "('O''Brien crown', 'c', 'O''B', 2, 'EUR', 3)");
  clsValute& v = Load();
  EXPECT_EQ(v.Valute().Count(), 2u);
  EXPECT_EQ(v.GetValuta("GBP")->Nome, "Pound");
  EXPECT_EQ(v.GetValuta("gbp"), nullptr);
  ASSERT_NE(v.GetValuta("O'B"), nullptr);
  EXPECT_EQ(v.GetValutaByName("O'Brien crown")->Codice, "O'B");
}

TEST_F(CurrencyTest, EmptyTableGivesNoCurrencies) {
  EXPECT_EQ(Load().Valute().Count(), 0u);
  EXPECT_EQ(engine_.Errore(), "");
}

TEST_F(CurrencyTest, NullRateOrDecimalsFailTheLoadWithTypeMismatch) {
  Rows("('Euro', '€', 'EUR', 2, 'EUR', 1), ('Bad', 'b', 'BAD', 2, 'EUR', NULL)");
  EXPECT_EQ(ErrorOfLoad(), kErrTypeMismatch);
  // The rows before the failing one stay.
  EXPECT_NE(valute_.GetValuta("EUR"), nullptr);
  ExecSql(path_, "DELETE FROM Valute; INSERT INTO Valute (sDescrizione, sSimbolo, sCodice, iNumeroDecimali, "
                 "sValutaRif, dblRapportoDiCambio) VALUES ('Bad', 'b', 'BAD', NULL, 'EUR', 1)");
  EXPECT_EQ(ErrorOfLoad(), kErrTypeMismatch);
}

TEST_F(CurrencyTest, NullTextsReadAsEmpty) {
  Rows("(NULL, NULL, 'XXX', 0, NULL, 1)");
  clsValute& v = Load();
  auto x = v.GetValuta("XXX");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->Nome, "");
  EXPECT_EQ(x->ValutaRif, "");
}

}  // namespace
}  // namespace ordalis
