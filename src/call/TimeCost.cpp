#include "call/TimeCost.h"

#include "call/Arrotonda.h"
#include "ordalis/RatingTrace.h"
#include "tariffs/clsTariffa.h"

namespace ordalis {
namespace {

const char* RoundingRule(int type) {
  switch (type) {
    case 0: return "none";
    case 1: return "down";
    case 2: return "to nearest, halves up";
    case 3: return "up";
    default: return "unknown (result 0)";
  }
}

Variant Secs(std::int64_t s) { return Variant(s); }

}  // namespace

TimeCostResult CalcTimeCost(const clsTariffa& t, std::int64_t duration_seconds, bool waive_answer, RatingTrace* trace,
                            const char* section) {
  auto note = [&](std::string subject, const char* outcome, std::string reason,
                  std::vector<std::pair<std::string, Variant>> figures) {
    trace->Add({section ? section : "", std::move(subject), outcome, std::move(reason), std::move(figures)});
  };
  TimeCostResult r;
  std::int64_t d = duration_seconds - t.TempoComposizione;
  if (trace)
    note("dialling allowance", "applied", "the dialling time is not charged",
         {{"duration", Secs(duration_seconds)}, {"allowance", Secs(t.TempoComposizione)}, {"seconds", Secs(d)}});
  if (d <= 0) {
    if (trace) note("call", "not chargeable", "it does not last longer than the dialling allowance", {});
    return r;
  }
  r.chargeable = true;
  if (d < t.DurataMinima) {
    if (trace)
      note("minimum duration", "applied", "the call is priced as the minimum duration",
           {{"seconds", Secs(d)}, {"minimum", Secs(t.DurataMinima)}});
    d = t.DurataMinima;
  } else if (trace) {
    note("minimum duration", "not applied", "", {{"seconds", Secs(d)}, {"minimum", Secs(t.DurataMinima)}});
  }
  Money cost = waive_answer ? Money() : t.CostoRisposta;
  if (trace)
    note("answer charge", waive_answer ? "waived" : "applied",
         waive_answer ? "the call's state is not 0" : "", {{"charge", Variant(t.CostoRisposta)}, {"cost", Variant(cost)}});
  d -= t.DurataRisposta;
  if (trace)
    note("answer allowance", "applied", "the seconds the answer charge covers are taken off",
         {{"allowance", Secs(t.DurataRisposta)}, {"seconds", Secs(d)}});
  if (d <= 0) {
    if (trace) note("cost", "answer charge alone", "no seconds are left; the minimum cost does not apply", {});
    r.cost = cost;  // the answer charge alone, not raised to the minimum
    return r;
  }
  std::int64_t seconds = Arrotonda(d, t.ArrotDurata, t.TipoArrotDurata).value_or(0);
  if (trace)
    note("duration rounding", RoundingRule(t.TipoArrotDurata), "",
         {{"seconds", Secs(d)}, {"step", Secs(t.ArrotDurata)}, {"rule", Variant(static_cast<int>(t.TipoArrotDurata))},
          {"rounded", Secs(seconds)}});
  if (const auto* bands = t.CostoMinutoIfAny()) {
    for (const auto& band : *bands) {
      bool last = seconds <= band->DurataAl;
      std::int64_t upper = last ? seconds : band->DurataAl;
      // (upper - from) seconds at the price per minute.
      const Money amount = band->CostoMinuto.MulDiv(upper - band->DurataDal, 60);
      cost += amount;
      if (trace)
        note("band " + std::to_string(band->DurataDal) + "-" + std::to_string(band->DurataAl) + " s", "charged",
             last ? "" : "the call goes on into the next band",
             {{"from", Secs(band->DurataDal)}, {"up to", Secs(upper)}, {"price per minute", Variant(band->CostoMinuto)},
              {"amount", Variant(amount)}, {"cost", Variant(cost)}});
      if (last) break;
    }
    if (trace && bands->Count() > 0 && seconds > bands->Item(bands->Count())->DurataAl)
      note("seconds beyond the last band", "not charged", "",
           {{"seconds", Secs(seconds - bands->Item(bands->Count())->DurataAl)}});
  }
  std::int64_t step = Money::FromDouble(t.ArrotCosto).Raw();
  const Money before = cost;
  cost = Money::FromRaw(Arrotonda(cost.Raw(), step, t.TipoArrotCosto).value_or(0));
  if (trace)
    note("cost rounding", RoundingRule(t.TipoArrotCosto), "",
         {{"cost", Variant(before)}, {"step", Variant(Money::FromRaw(step))},
          {"rule", Variant(static_cast<int>(t.TipoArrotCosto))}, {"rounded", Variant(cost)}});
  if (cost < t.CostoMinimo) {
    if (trace)
      note("minimum cost", "applied", "the cost is raised to the minimum",
           {{"cost", Variant(cost)}, {"minimum", Variant(t.CostoMinimo)}});
    cost = t.CostoMinimo;
  } else if (trace) {
    note("minimum cost", "not applied", "", {{"cost", Variant(cost)}, {"minimum", Variant(t.CostoMinimo)}});
  }
  r.cost = cost;
  return r;
}

}  // namespace ordalis
