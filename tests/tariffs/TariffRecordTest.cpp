// Tariff records built from Listino rows, and the host snapshot.
#include <gtest/gtest.h>

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/ComponentError.h"
#include "tariffs/CarrierFiles.h"
#include "tariffs/clsDatiTariffa.h"
#include "tariffs/clsTariffa.h"

using namespace ordalis;
using namespace ordalis::testing;

namespace {

class TariffRecord : public ::testing::Test {
 protected:
  // The resultset over Listino after running the script on a fresh file.
  std::unique_ptr<rdo::RdoResultset> Rows(const std::string& script) {
    const std::string file = dir.File("t.mdb");
    ExecSql(file, std::string(kListinoDdl) + script);
    conn = rdo::RdoEnvironment::Default().OpenConnection("", false, false, FileConnect(file));
    return conn->OpenResultset("SELECT * FROM Listino");
  }
  ScratchDir dir;
  std::unique_ptr<rdo::RdoConnection> conn;
};

}  // namespace

TEST_F(TariffRecord, RowFillsEveryPropertyAndTheKey) {
  auto rs = Rows(
      "INSERT INTO Listino VALUES ('Mobili',2,'1899-12-30 08:30:00','1899-12-30 18:00:00',10,50,0.25,0.1,0.19,"
      "0,60,7,'2024-03-01','2024-12-31','Piena',30,1,0.01,2,4,15);");
  auto t = clsTariffa::FromListino(*rs);
  auto step = clsTariffa::StepFromListino(*rs, true);
  EXPECT_EQ(t->TipoGiorno, 2);
  EXPECT_EQ(dt::ToText(t->Dalle), "08:30:00");
  EXPECT_EQ(dt::ToText(t->Alle), "18:00:00");
  EXPECT_EQ(t->DalKm, 10);
  EXPECT_EQ(t->AlKm, 50);
  EXPECT_EQ(t->CostoMinimo, Money::FromRaw(2500));
  EXPECT_EQ(t->CostoRisposta, Money::FromRaw(1000));
  EXPECT_EQ(t->TempoComposizione, 7);
  EXPECT_EQ(dt::ToText(t->ValidaDal), "2024-03-01");
  EXPECT_EQ(dt::ToText(t->ValidaAl), "2024-12-31");
  EXPECT_EQ(t->Fascia, "Piena");
  EXPECT_EQ(t->ArrotDurata, 30);
  EXPECT_EQ(t->TipoArrotDurata, 1);
  EXPECT_DOUBLE_EQ(t->ArrotCosto, 0.01);
  EXPECT_EQ(t->TipoArrotCosto, 2);
  EXPECT_EQ(t->DurataRisposta, 4);
  EXPECT_EQ(t->DurataMinima, 15);
  EXPECT_EQ(step->DurataDal, 0);
  EXPECT_EQ(step->DurataAl, 60);
  EXPECT_EQ(step->CostoMinuto, Money::FromRaw(1900));
  const std::string sep = kKeySeparator;
  EXPECT_EQ(t->MakeKey("Mobili"), "Mobili" + sep + "2" + sep + "08:30:00" + sep + "10" + sep + "2024-03-01");
}

TEST_F(TariffRecord, NullableColumnsReadAsZero) {
  auto rs = Rows(
      "INSERT INTO Listino VALUES ('G',1,NULL,NULL,0,100,NULL,NULL,NULL,0,60,NULL,NULL,NULL,'F',60,1,0,0,0,0);");
  auto t = clsTariffa::FromListino(*rs);
  auto step = clsTariffa::StepFromListino(*rs, true);
  EXPECT_EQ(t->Dalle, 0.0);  // window 00:00 to 00:00
  EXPECT_EQ(t->Alle, 0.0);
  EXPECT_EQ(t->CostoMinimo, Money());
  EXPECT_EQ(t->CostoRisposta, Money());
  EXPECT_EQ(step->CostoMinuto, Money());
  EXPECT_EQ(t->TempoComposizione, 0);
  EXPECT_EQ(t->ValidaDal, 0.0);
  EXPECT_EQ(t->ValidaAl, 0.0);
}

TEST_F(TariffRecord, NullInAColumnThatMustNotBeNullNamesTableColumnAndGroup) {
  const std::vector<std::string> columns = {"iTipoGiorno_e", "lDalKm",          "lAlKm",
                                            "sFasciaOraria_e", "iArrotDurata",  "iTipoArrotDurata",
                                            "iArrotCosto",   "iTipoArrotCosto", "iDurataRisposta",
                                            "iDurataMinima"};
  for (const auto& column : columns) {
    auto rs = Rows(ListinoRow("Rete 'X'", 1, "1899-12-30 00:00:00", 0, 60, 0.1) + "UPDATE Listino SET " + column +
                   " = NULL;");
    try {
      clsTariffa::FromListino(*rs);
      ADD_FAILURE() << column << ": no error";
    } catch (const ComponentError& e) {
      EXPECT_EQ(e.Number(), kErrInvalidUseOfNull) << column;
      EXPECT_NE(e.Description().find("Listino"), std::string::npos) << e.Description();
      EXPECT_NE(e.Description().find(column), std::string::npos) << e.Description();
      EXPECT_NE(e.Description().find("Rete 'X'"), std::string::npos) << e.Description();
    }
    rs.reset();
    conn.reset();
    std::filesystem::remove(dir.File("t.mdb"));
  }
}

TEST_F(TariffRecord, NullDurationColumnsOfAStepAreAnError) {
  auto rs = Rows(ListinoRow("G", 1, "1899-12-30 00:00:00", 0, 60, 0.1) + "UPDATE Listino SET lDurataFine = NULL;");
  EXPECT_THROW(clsTariffa::StepFromListino(*rs, true), ComponentError);
  // A file without the duration columns gives one step over every duration.
  auto step = clsTariffa::StepFromListino(*rs, false);
  EXPECT_EQ(step->DurataDal, 0);
  EXPECT_EQ(step->DurataAl, 999999999);
}

TEST(DatiTariffa, CostiMinutoListsEveryStepEachEndingInABar) {
  clsTariffa t;
  EXPECT_EQ(clsDatiTariffa::FromTariffa(t).CostiMinuto, "");
  t.CostoMinuto();  // an empty step collection encodes the same
  EXPECT_EQ(clsDatiTariffa::EncodeCostiMinuto(t), "");
  auto add = [&](int dal, int al, std::int64_t raw) {
    auto s = std::make_shared<clsTariffaMinuto>();
    s->DurataDal = dal;
    s->DurataAl = al;
    s->CostoMinuto = Money::FromRaw(raw);
    t.CostoMinuto().Add(s);
  };
  add(0, 60, 1900);
  add(60, 120, 1500);
  add(120, 999999999, 0);
  EXPECT_EQ(clsDatiTariffa::EncodeCostiMinuto(t), "0|60|0.19|60|120|0.15|120|999999999|0|");
}

TEST(DatiTariffa, SnapshotCarriesTheGroupNameAndTheValues) {
  clsTariffa t;
  auto g = std::make_shared<clsGruppoDest>();
  g->Denominazione = "Mobili";
  g->Key = std::string("Alpha") + kKeySeparator + "Mobili";
  t.GruppoDest = g;
  t.TipoGiorno = 3;
  t.Dalle = dt::FromTime(8, 0, 0);
  t.DalKm = 15;
  t.CostoRisposta = Money::FromRaw(1234);
  t.Fascia = "Ridotta";
  t.DurataMinima = -32768;
  auto d = clsDatiTariffa::FromTariffa(t);
  EXPECT_EQ(d.GruppoDest, "Mobili");
  EXPECT_EQ(d.TipoGiorno, 3);
  EXPECT_EQ(d.Dalle, t.Dalle);
  EXPECT_EQ(d.DalKm, 15);
  EXPECT_EQ(d.CostoRisposta, Money::FromRaw(1234));
  EXPECT_EQ(d.Fascia, "Ridotta");
  EXPECT_EQ(d.DurataMinima, -32768);
}
