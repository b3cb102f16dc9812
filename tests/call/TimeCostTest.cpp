#include <gtest/gtest.h>

#include "call/Arrotonda.h"
#include "call/TimeCost.h"
#include "ordalis/ComponentError.h"
#include "tariffs/clsTariffa.h"

namespace ordalis {
namespace {

TEST(Arrotonda, RoundingKindsAtTheirBoundaries) {
  EXPECT_EQ(Arrotonda(61, 60, 3), 120);
  EXPECT_EQ(Arrotonda(120, 60, 3), 120);
  EXPECT_EQ(Arrotonda(119, 60, 1), 60);
  EXPECT_EQ(Arrotonda(89, 60, 2), 60);
  EXPECT_EQ(Arrotonda(90, 60, 2), 120);
  EXPECT_EQ(Arrotonda(-1, 60, 1), -60);  // floor, not truncation
  EXPECT_EQ(Arrotonda(77, 60, 0), 77);
  EXPECT_EQ(Arrotonda(77, 0, 3), 77);    // no step: unchanged
  EXPECT_EQ(Arrotonda(77, -5, 1), 77);
  EXPECT_EQ(Arrotonda(77, 60, 9), std::nullopt);
  // Cost steps on ten-thousandths: 0.125 to 0.01, halves up.
  EXPECT_EQ(Arrotonda(1250, 100, 2), 1300);
  EXPECT_EQ(Arrotonda(1249, 100, 2), 1200);
}

clsTariffa BandTariff() {
  clsTariffa t;
  auto add = [&](int from, int to, const char* price) {
    auto band = std::make_shared<clsTariffaMinuto>();
    band->DurataDal = from;
    band->DurataAl = to;
    band->CostoMinuto = Money::FromText(price);
    t.CostoMinuto().Add(band, std::to_string(from));
  };
  add(0, 60, "0.10");
  add(60, 600, "0.05");
  return t;
}

TEST(TimeCost, BandsChargeUpToTheLastBand) {
  clsTariffa t = BandTariff();
  EXPECT_EQ(CalcTimeCost(t, 90, false).cost.ToText(), "0.125");
  EXPECT_EQ(CalcTimeCost(t, 700, false).cost.ToText(), "0.55");
  EXPECT_EQ(CalcTimeCost(t, 60, false).cost.ToText(), "0.1");
}

TEST(TimeCost, DiallingAllowanceMinimumDurationAndAnswer) {
  clsTariffa t = BandTariff();
  t.TempoComposizione = 10;
  TimeCostResult r = CalcTimeCost(t, 10, false);
  EXPECT_FALSE(r.chargeable);
  EXPECT_EQ(r.cost, Money());
  t.TempoComposizione = 0;
  t.DurataMinima = 60;
  EXPECT_EQ(CalcTimeCost(t, 5, false).cost.ToText(), "0.1");  // priced as 60 s
  t.DurataMinima = 0;
  t.CostoRisposta = Money::FromText("0.2");
  t.CostoMinimo = Money::FromText("1");
  t.DurataRisposta = 120;
  // The answer allowance covers the call: the answer charge alone, below the minimum.
  EXPECT_EQ(CalcTimeCost(t, 100, false).cost.ToText(), "0.2");
  EXPECT_EQ(CalcTimeCost(t, 100, true).cost.ToText(), "0");
  // Past the allowance the minimum charge applies.
  EXPECT_EQ(CalcTimeCost(t, 180, false).cost.ToText(), "1");
}

TEST(TimeCost, MinimumDurationAfterTheDiallingAllowance) {
  clsTariffa t = BandTariff();
  t.TempoComposizione = 10;
  t.DurataMinima = 60;
  // 65 s less the 10 s allowance is 55 s, below the minimum: priced as 60 s.
  EXPECT_EQ(CalcTimeCost(t, 65, false).cost.ToText(), "0.1");
  // 80 s: 70 s charged, 60 at 0.10 and 10 at 0.05.
  EXPECT_EQ(CalcTimeCost(t, 80, false).cost.ToText(), "0.1083");
  EXPECT_FALSE(CalcTimeCost(t, 10, false).chargeable);
  EXPECT_TRUE(CalcTimeCost(t, 11, false).chargeable);
  EXPECT_EQ(CalcTimeCost(t, 11, false).cost.ToText(), "0.1");
}

TEST(TimeCost, AnswerAllowanceEqualToTheCallIsTheAnswerChargeAlone) {
  clsTariffa t = BandTariff();
  t.CostoRisposta = Money::FromText("0.2");
  t.CostoMinimo = Money::FromText("1");
  t.DurataRisposta = 100;
  EXPECT_EQ(CalcTimeCost(t, 100, false).cost.ToText(), "0.2");  // no bands, no minimum
  EXPECT_EQ(CalcTimeCost(t, 100, true).cost.ToText(), "0");
  EXPECT_EQ(CalcTimeCost(t, 101, false).cost.ToText(), "1");  // one second on: the minimum
  t.CostoMinimo = Money();
  // 160 s: 60 s past the allowance at 0.10 a minute, after the answer charge.
  EXPECT_EQ(CalcTimeCost(t, 160, false).cost.ToText(), "0.3");
  EXPECT_EQ(CalcTimeCost(t, 160, true).cost.ToText(), "0.1");
}

TEST(TimeCost, DurationAndCostRounding) {
  clsTariffa t = BandTariff();
  t.ArrotDurata = 60;
  t.TipoArrotDurata = 3;  // 61 s is charged as 120 s
  EXPECT_EQ(CalcTimeCost(t, 61, false).cost.ToText(), "0.15");
  t.TipoArrotDurata = 0;
  t.ArrotCosto = 0.01;
  t.TipoArrotCosto = 2;
  EXPECT_EQ(CalcTimeCost(t, 90, false).cost.ToText(), "0.13");  // 0.125 halves up
  t.TipoArrotCosto = 1;
  EXPECT_EQ(CalcTimeCost(t, 90, false).cost.ToText(), "0.12");
  t.TipoArrotCosto = 7;  // unknown rounding kind: no result, cost 0
  EXPECT_EQ(CalcTimeCost(t, 90, false).cost, Money());
}

TEST(TimeCost, AbsurdTariffValuesOverflowCleanly) {
  clsTariffa t = BandTariff();
  t.ArrotDurata = 60;
  t.TipoArrotDurata = 3;
  // A duration rounded up past the 64-bit range is an overflow, not a wrap.
  EXPECT_THROW(CalcTimeCost(t, INT64_MAX - 5, false), ComponentError);
  EXPECT_THROW(Arrotonda(INT64_MAX - 5, 1000, 2), ComponentError);
  EXPECT_THROW(Arrotonda(INT64_MIN + 5, 60, 1), ComponentError);
  EXPECT_EQ(Arrotonda(INT64_MAX - 7, 60, 1), INT64_MAX - 7 - (INT64_MAX - 7) % 60);
  t.TipoArrotDurata = 0;
  t.ArrotCosto = 1e300;  // a cost step no money can hold
  t.TipoArrotCosto = 1;
  EXPECT_THROW(CalcTimeCost(t, 90, false), ComponentError);
}

}  // namespace
}  // namespace ordalis

#include "call/CalcDistanza.h"
#include "numbering/clsDestinazione.h"
#include "reference/clsSito.h"

namespace ordalis {
namespace {

TEST(CalcDistanza, WholeKilometresOverTheChord) {
  clsSito milan;
  clsDestinazione rome, same;
  EXPECT_EQ(CalcDistanza(rome, milan), 0);  // no site destination
  milan.Destinazione = std::make_shared<clsDestinazione>();
  milan.Destinazione->Lat = 45.0f;
  milan.Destinazione->Longit = 9.0f;
  // One degree of latitude on a sphere of 6371.315 km is 111.2 km.
  rome.Lat = 46.0f;
  rome.Longit = 9.0f;
  EXPECT_EQ(CalcDistanza(rome, milan), 111);
  // The fraction is read as sixtieths: .30 is half a hundredth of a degree.
  rome.Lat = 45.30f;
  EXPECT_EQ(CalcDistanza(rome, milan), 1);
  same.Lat = 45.0f;
  same.Longit = 9.0f;
  EXPECT_EQ(CalcDistanza(same, milan), 1000);  // coincident points
}

}  // namespace
}  // namespace ordalis
