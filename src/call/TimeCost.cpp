#include "call/TimeCost.h"

#include "call/Arrotonda.h"
#include "tariffs/clsTariffa.h"

namespace ordalis {

TimeCostResult CalcTimeCost(const clsTariffa& t, std::int64_t duration_seconds, bool waive_answer) {
  TimeCostResult r;
  std::int64_t d = duration_seconds - t.TempoComposizione;
  if (d <= 0) return r;
  r.chargeable = true;
  if (d < t.DurataMinima) d = t.DurataMinima;
  Money cost = waive_answer ? Money() : t.CostoRisposta;
  d -= t.DurataRisposta;
  if (d <= 0) {
    r.cost = cost;  // the answer charge alone, not raised to the minimum
    return r;
  }
  std::int64_t seconds = Arrotonda(d, t.ArrotDurata, t.TipoArrotDurata).value_or(0);
  if (const auto* bands = t.CostoMinutoIfAny()) {
    for (const auto& band : *bands) {
      bool last = seconds <= band->DurataAl;
      std::int64_t upper = last ? seconds : band->DurataAl;
      // (upper - from) seconds at the price per minute.
      cost += band->CostoMinuto.MulDiv(upper - band->DurataDal, 60);
      if (last) break;
    }
  }
  std::int64_t step = Money::FromDouble(t.ArrotCosto).Raw();
  cost = Money::FromRaw(Arrotonda(cost.Raw(), step, t.TipoArrotCosto).value_or(0));
  if (cost < t.CostoMinimo) cost = t.CostoMinimo;
  r.cost = cost;
  return r;
}

}  // namespace ordalis
