// The explanation of a call: recorded by the rating steps themselves, so it
// must agree with what the batch stores, say why each LCR entry and tariff
// was passed over, and show cost figures that add up to the cost.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "EngineFixture.h"
#include "ordalis/CallExplanation.h"
#include "ordalis/ComponentError.h"

namespace ordalis::testing {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<const TraceStep*> Steps(const RatingTrace& trace, const std::string& section,
                                    const std::string& subject_start = "") {
  std::vector<const TraceStep*> out;
  for (const TraceStep& s : trace.Steps())
    if (s.section == section && s.subject.rfind(subject_start, 0) == 0) out.push_back(&s);
  return out;
}

Variant Result(const RatingTrace& trace, const std::string& field) {
  const TraceStep* result = trace.Find(kTraceResult, "rated");
  return result ? RatingTrace::Figure(*result, field) : Variant();
}

class ExplainTest : public RatingTest {
 protected:
  // Explains a call described as the run command describes it.
  RatingTrace Explain(clsChiamate& engine, const std::string& number, const std::string& date,
                      const std::string& time, int seconds, const std::string& line = "L1",
                      const std::string& extension = "200", int pulses = 0) {
    engine.set_sSito("MI");
    engine.SetProperty("sDerivato", extension);
    engine.SetProperty("sNumero", number);
    engine.set_Data(date);
    engine.set_Ora(time);
    engine.SetProperty("dDurata", Variant::FromDate(seconds / 86400.0));
    engine.SetProperty("sTipo", "O");
    engine.SetProperty("sLinea", line);
    engine.SetProperty("lScatti", pulses);
    RatingTrace trace;
    ExplainCall(engine, trace);
    return trace;
  }
};

TEST_F(ExplainTest, AStoredCallIsExplainedWithTheCostTheBatchStoredAndNothingIsWritten) {
  db_path_ = WriteDemoInstallation(dir_.string(), 300).database;
  {
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Errore(), "");
    engine->Process();
  }
  // An extension the sites do not know: the batch would add it.
  Sql("INSERT INTO CHIAMATE (lPKId, dData, DORA, DDURATA, SNUMERO, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO) "
      "VALUES (9001, '2024-01-09 00:00:00', '1899-12-30 10:00:00', '1899-12-30 00:02:00', '0612345678', 'MI', "
      "'999', 'O', 'L1', 0)");
  const std::string extensions = Query("SELECT COUNT(*) FROM Derivati");
  const std::string before = Bytes(db_path_);
  auto engine = MakeEngine();
  int priced = 0;
  for (int id = 1; id <= 60; ++id) {
    const std::string where = " FROM CHIAMATE WHERE lPKId = " + std::to_string(id);
    if (Query("SELECT COUNT(*)" + where) == "0") continue;  // an internal call's number
    RatingTrace trace;
    ExplainStoredCall(*engine, id, trace);
    const std::string carrier = Query("SELECT COALESCE(SCARRIER1_C, '')" + where);
    SCOPED_TRACE("call " + std::to_string(id));
    EXPECT_EQ(Result(trace, "cCosto1_c").ToMoney(), Money::FromText(Query("SELECT CCOSTO1_C" + where)));
    EXPECT_EQ(Result(trace, "cCosto2_c").ToMoney(), Money::FromText(Query("SELECT CCOSTO2_C" + where)));
    EXPECT_EQ(Result(trace, "sCarrier1_c").ToText(), carrier);
    const TraceStep* chosen = trace.Find(trace::kSearch1, "chosen");
    ASSERT_EQ(chosen != nullptr, !carrier.empty());
    if (chosen) EXPECT_EQ(RatingTrace::Figure(*chosen, "carrier").ToText(), carrier);
    // The cost section ends with the cost stored.
    const auto cost = Steps(trace, trace::kCost1, "cost");
    ASSERT_FALSE(cost.empty());
    EXPECT_EQ(RatingTrace::Figure(*cost.back(), "cost").ToMoney(), Result(trace, "cCosto1_c").ToMoney());
    priced += Result(trace, "cCosto1_c").ToMoney() > Money();
  }
  EXPECT_GT(priced, 20);

  RatingTrace unknown;
  ExplainStoredCall(*engine, 9001, unknown);
  EXPECT_NE(unknown.Find(trace::kSite, "not added"), nullptr);
  EXPECT_EQ(Result(unknown, "cCosto1_c").ToMoney(), Money());
  ASSERT_FALSE(Steps(unknown, trace::kCost1, "extension 999").empty());

  EXPECT_THROW(ExplainStoredCall(*engine, 123456, unknown), ComponentError);
  engine.reset();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Derivati"), extensions);
  EXPECT_EQ(Bytes(db_path_), before);
}

TEST_F(ExplainTest, EachEntryAndTariffPassedOverCarriesItsReason) {
  auto engine = MakeEngine();
  ASSERT_EQ(engine->Errore(), "");

  // Dialled through Gamma's interconnection prefix: only Gamma qualifies.
  RatingTrace prefixed = Explain(*engine, "1055347123456", "2024-01-09", "10:00:00", 95);
  const auto analysed = Steps(prefixed, trace::kSearch1, "number");
  ASSERT_FALSE(analysed.empty());
  EXPECT_EQ(RatingTrace::Figure(*analysed.front(), "number").ToText(), "347123456");
  EXPECT_EQ(RatingTrace::Figure(*analysed.front(), "prefix carrier").ToText(), "Gamma");
  int alpha = 0;
  for (const TraceStep* s : Steps(prefixed, trace::kSearch1, "LCR entry Alpha")) {
    ++alpha;
    EXPECT_EQ(s->outcome, "rejected");
    EXPECT_NE(s->reason.find("prefix of carrier Gamma"), std::string::npos) << s->reason;
  }
  EXPECT_GT(alpha, 0);
  ASSERT_NE(prefixed.Find(trace::kSearch1, "chosen"), nullptr);
  EXPECT_EQ(Result(prefixed, "sCarrier1_c").ToText(), "Gamma");

  // Gamma's mobile entry on line L2 covers 08:00-20:00 only.
  for (const auto& [time, carrier, outcome] : {std::tuple{"10:00:00", "Gamma", "destination matched"},
                                                std::tuple{"21:00:00", "Alpha", "rejected"}}) {
    RatingTrace mobile = Explain(*engine, "3471234567", "2024-01-09", time, 95, "L2");
    const TraceStep* entry = nullptr;
    for (const TraceStep* s : Steps(mobile, trace::kSearch1, "LCR entry Gamma / Mobile IT"))
      if (RatingTrace::Figure(*s, "line").ToText() == "L2") entry = s;
    ASSERT_NE(entry, nullptr) << time;
    EXPECT_EQ(entry->outcome, outcome) << time;
    if (std::string(outcome) == "rejected") EXPECT_NE(entry->reason.find("window"), std::string::npos);
    EXPECT_EQ(Result(mobile, "sCarrier1_c").ToText(), carrier) << time;
  }

  // A holiday (day type 2): the weekday tariffs are passed over for it.
  // (Extension 202 keeps the number whole: one search.)
  RatingTrace holiday = Explain(*engine, "0612345678", "2024-01-01", "10:00:00", 95, "L1", "202");
  EXPECT_EQ(RatingTrace::Figure(*Steps(holiday, trace::kSearch1, "number").front(), "day type").ToInteger(), 2);
  int weekday_tariffs = 0;
  for (const TraceStep* s : Steps(holiday, trace::kSearch1, "tariff Nazionale¦0¦")) {
    ++weekday_tariffs;
    EXPECT_EQ(s->level, 1);
    EXPECT_EQ(s->reason, "day type 0, the call's is 2");
  }
  EXPECT_EQ(weekday_tariffs, 3);

  // After every tariff's validity: no tariff, cost 0, and the cost says why.
  RatingTrace late = Explain(*engine, "0612345678", "2031-03-04", "10:00:00", 95);
  int expired = 0;
  for (const TraceStep* s : Steps(late, trace::kSearch1, "tariff Nazionale"))
    if (s->outcome == "rejected" && s->reason.find("validity") != std::string::npos) ++expired;
  EXPECT_GT(expired, 0);
  const TraceStep* none = late.Find(trace::kSearch1, "not found");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->reason, "no tariff of the matching entries applies to the call");
  EXPECT_NE(late.Find(trace::kCost1, "not found"), nullptr);
  EXPECT_EQ(Result(late, "cCosto1_c").ToMoney(), Money());
}

TEST_F(ExplainTest, ATariffOutsideItsDistanceBandIsPassedOverWithTheDistance) {
  const std::string engine_db = db_path_;
  for (const char* file : {"alpha.mdb", "gamma.mdb"}) {
    db_path_ = (dir_ / "Carrier" / file).string();
    Sql("UPDATE Listino SET lAlKm = 10");
  }
  db_path_ = engine_db;
  auto engine = MakeEngine();
  RatingTrace far = Explain(*engine, "0612345678", "2024-01-09", "10:00:00", 95);
  int banded = 0;
  for (const TraceStep* s : Steps(far, trace::kSearch1, "tariff Nazionale"))
    if (s->reason.find("km is outside its distance band") != std::string::npos) ++banded;
  EXPECT_GT(banded, 0);
  EXPECT_EQ(Result(far, "cCosto1_c").ToMoney(), Money());
}

TEST_F(ExplainTest, TheCostFiguresAddUpToTheCost) {
  auto engine = MakeEngine();
  // Alpha, national, peak: 0.05 a minute, answer charge 0.05, 2 s of
  // dialling free, seconds rounded up, cost to 0.01 halves up, minimum
  // 0.08; extension 200 has a markup of 10 %. 95 s: 93 s charged,
  // 0.0775 + 0.05 = 0.1275, rounded 0.13, marked up 0.143.
  RatingTrace trace = Explain(*engine, "0612345678", "2024-01-09", "10:00:00", 95);
  EXPECT_EQ(Result(trace, "cCosto1_c").ToMoney(), Money::FromText("0.143"));
  auto figure = [&](const std::string& subject, const std::string& name) {
    const auto steps = Steps(trace, trace::kCost1, subject);
    return steps.empty() ? Variant() : RatingTrace::Figure(*steps.front(), name);
  };
  EXPECT_EQ(figure("dialling allowance", "seconds").ToInteger(), 93);
  Money sum = figure("answer charge", "cost").ToMoney();
  for (const TraceStep* band : Steps(trace, trace::kCost1, "band ")) sum += RatingTrace::Figure(*band, "amount").ToMoney();
  EXPECT_EQ(sum, Money::FromText("0.1275"));
  EXPECT_EQ(figure("cost rounding", "cost").ToMoney(), sum);
  EXPECT_EQ(figure("cost rounding", "rounded").ToMoney(), Money::FromText("0.13"));
  EXPECT_EQ(figure("markup", "cost").ToMoney(), Money::FromText("0.13"));
  EXPECT_EQ(figure("markup", "marked up").ToMoney(), Money::FromText("0.143"));
  // The alternative carrier's cost is not marked up.
  const auto markup2 = Steps(trace, trace::kCost2, "markup");
  ASSERT_EQ(markup2.size(), 1u);
  EXPECT_EQ(markup2.front()->outcome, "not applied");

  // Line L3 of Milan is charged by pulses, at 0.05 each and without markup.
  RatingTrace pulses = Explain(*engine, "021234567", "2024-01-09", "10:00:00", 95, "L3", "200", 7);
  const auto charged = Steps(pulses, trace::kCost1, "pulses");
  ASSERT_EQ(charged.size(), 1u);
  EXPECT_EQ(RatingTrace::Figure(*charged.front(), "price per pulse").ToMoney(), Money::FromText("0.05"));
  EXPECT_EQ(Result(pulses, "cCosto1_c").ToMoney(), Money::FromText("0.35"));
  EXPECT_TRUE(Steps(pulses, trace::kCost1, "markup").empty());
}

}  // namespace
}  // namespace ordalis::testing
