#include "call/LcrSearch.h"

#include <map>
#include <optional>

#include "call/CalcDistanza.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/RatingTrace.h"
#include "reference/clsCalendario.h"
#include "reference/clsGiorno.h"
#include "reference/clsSito.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {
namespace {

// Length in characters of a UTF-8 text.
std::size_t Chars(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::int64_t Seconds(DateTime d) { return dt::ToSeconds(d); }
std::int64_t TimeOfDay(DateTime d) { return dt::SecondOfDay(d); }
std::string Clock(std::int64_t seconds_of_day) { return dt::ToText(dt::FromSeconds(seconds_of_day)); }

// Records the search's decisions into a trace; used only when one is given.
struct SearchExplainer {
  RatingTrace* trace;
  const char* section;

  void Add(TraceStep step) {
    step.section = section;
    trace->Add(std::move(step));
  }
  void Number(const LcrQuestion& q, const std::string& bare, const std::string& prefix_carrier, const clsSito& site) {
    TraceStep s{{}, "number " + q.number, "analysed", {}, {}};
    if (prefix_carrier.empty()) {
      s.reason = "no interconnection prefix begins the number";
    } else {
      s.reason = "interconnection prefix " + q.number.substr(0, q.number.size() - bare.size()) + " of carrier " +
                 prefix_carrier + " stripped";
      if (!q.carrier2) s.reason += ": only that carrier's entries qualify";
    }
    s.figures = {{"dialled", Variant(q.number)},
                 {"number", Variant(bare)},
                 {"prefix carrier", Variant(prefix_carrier)},
                 {"line", Variant(q.line)},
                 {"date", Variant::FromDate(dt::FromSeconds(q.day))},
                 {"time", Variant::FromDate(dt::FromSeconds(q.time))},
                 {"day type", Variant(static_cast<int>(q.day_type))},
                 {"national prefix", Variant(site.PrefNaz)},
                 {"international prefix", Variant(site.PrefInternazionale)},
                 {"entries", Variant(static_cast<std::int64_t>(q.lcrs->Lcrs().Count()))}};
    Add(std::move(s));
  }
  void Entry(const clsLcr& lcr, const char* outcome, std::string reason, const clsDestinazione* dest = nullptr) {
    TraceStep s{{}, "LCR entry " + lcr.Carrier + " / " + lcr.GruppoDest, outcome, std::move(reason), {}};
    s.figures = {{"priority", Variant(static_cast<int>(lcr.Priorita))},
                 {"carrier", Variant(lcr.Carrier)},
                 {"group", Variant(lcr.GruppoDest)},
                 {"line", Variant(lcr.Linea)},
                 {"from", Variant::FromDate(dt::TimePart(lcr.Dalle))},
                 {"to", Variant::FromDate(dt::TimePart(lcr.Alle))},
                 {"pulses", Variant(static_cast<bool>(lcr.Scatti))}};
    if (dest) {
      s.figures.emplace_back("destination", Variant(dest->Key));
      s.figures.emplace_back("country", Variant(dest->DescrNaz));
      s.figures.emplace_back("area", Variant(dest->DescrArea));
      s.figures.emplace_back("destination type", Variant(dest->Tipo));
    }
    Add(std::move(s));
  }
  void Tariff(const clsTariffa& t, const char* outcome, std::string reason, std::int32_t distance = -1) {
    TraceStep s{{}, "tariff " + t.Key, outcome, std::move(reason), {}, 1};
    s.figures = {{"day type", Variant(static_cast<int>(t.TipoGiorno))},
                 {"from", Variant::FromDate(dt::TimePart(t.Dalle))},
                 {"to", Variant::FromDate(dt::TimePart(t.Alle))},
                 {"valid from", Variant::FromDate(t.ValidaDal)},
                 {"valid to", Variant::FromDate(t.ValidaAl)},
                 {"from km", Variant(t.DalKm)},
                 {"to km", Variant(t.AlKm)},
                 {"band", Variant(t.Fascia)}};
    if (distance >= 0) s.figures.emplace_back("distance km", Variant(distance));
    Add(std::move(s));
  }
  void Choice(const LcrAnswer& a) {
    if (!a.tariff) {
      const char* why = !a.found_lcr           ? "no LCR entry qualifies for the call"
                        : !a.found_destination ? "no qualifying entry has a destination for the number"
                                               : "no tariff of the matching entries applies to the call";
      Add({{}, "tariff", "not found", why, {}});
      return;
    }
    TraceStep s{{}, "tariff " + a.tariff->Key, "chosen", "the last tariff that matched", {}};
    s.figures = {{"carrier", Variant(a.tariff->Carrier)},
                 {"group", Variant(a.group)},
                 {"destination", Variant(a.destination->Key)},
                 {"destination type", Variant(a.destination->Tipo)},
                 {"band", Variant(a.tariff->Fascia)},
                 {"pulses", Variant(a.pulses)},
                 {"pulse price", Variant(a.pulse_price)}};
    Add(std::move(s));
  }
};

}  // namespace

std::int16_t DayTypeOf(const clsCalendario* calendar, DateTime date) {
  if (!calendar) return 0;
  auto giorno = calendar->GetGiorno(date);
  return giorno ? giorno->Tipo : 0;
}

void SearchLcr(const LcrQuestion& q, LcrAnswer& a, const LcrTrace* trace, RatingTrace* explain,
               const char* section) {
  const clsSito& site = *q.site;
  a = LcrAnswer();
  // The interconnection prefix the number starts with (first match in the
  // dictionary's order) limits tariff 1 to that prefix's carrier.
  std::string prefix_carrier;
  a.number = q.number;
  for (const auto& [carrier, prefix] : q.lcrs->PrefissiCarrier())
    if (StartsWithNoCase(q.number, prefix)) {
      a.number = q.number.substr(prefix.size());
      prefix_carrier = carrier;
      break;
    }
  if (trace)
    (*trace)("\tNumero=" + a.number + " - PrefNaz=" + site.PrefNaz + " - PrefIntern=" + site.PrefInternazionale);
  SearchExplainer x{explain, section ? section : ""};
  if (explain) x.Number(q, a.number, prefix_carrier, site);
  static const std::string kAll = LoadResString(20811);
  std::int16_t best_priority = 9999;
  std::size_t best_length = 0, best_count = 1000000;
  for (const auto& lcr : q.lcrs->Lcrs()) {
    if (lcr->Priorita > best_priority) {
      if (explain) x.Entry(*lcr, "rejected", "priority " + std::to_string(lcr->Priorita) +
                                                 " comes after the best priority found so far, " +
                                                 std::to_string(best_priority));
      continue;
    }
    if (!EqualsNoCase(lcr->Linea, q.line) && !EqualsNoCase(lcr->Linea, "TUTTE") && !EqualsNoCase(lcr->Linea, "ALL") &&
        !EqualsNoCase(lcr->Linea, kAll)) {
      if (explain) x.Entry(*lcr, "rejected", "the call's line \"" + q.line + "\" is not the entry's line");
      continue;
    }
    if (TimeOfDay(lcr->Dalle) > q.time || q.time > TimeOfDay(lcr->Alle)) {
      if (explain) x.Entry(*lcr, "rejected", "the call's time " + Clock(q.time) + " is outside the entry's window");
      continue;
    }
    if (!q.carrier2 && !prefix_carrier.empty() && !EqualsNoCase(lcr->Carrier, prefix_carrier)) {
      if (explain) x.Entry(*lcr, "rejected", "the number was dialled with the prefix of carrier " + prefix_carrier);
      continue;
    }
    a.found_lcr = true;
    if (trace) (*trace)("\tTrovato LCR" + lcr->Key);
    const auto& destinations = lcr->Destinazioni();
    if (!destinations || destinations->Destinazioni().Count() == 0) {
      if (trace) (*trace)("Destinazioni non presenti per questo LCR");
      if (explain) x.Entry(*lcr, "rejected", "the entry has no destinations (its carrier file gave none)");
      continue;
    }
    std::shared_ptr<clsDestinazione> dest =
        destinations->GetDestinazioneMigliore(a.number, site.PrefNaz, site.PrefInternazionale);
    if (!dest) {
      if (explain)
        x.Entry(*lcr, "rejected",
                "none of its " + std::to_string(destinations->Destinazioni().Count()) + " destinations matches " +
                    a.number);
      continue;
    }
    std::optional<std::int32_t> distance;  // worked out when a tariff asks for it
    if (lcr->Priorita < best_priority) {
      best_length = 0;
      best_count = 1000000;
    }
    best_priority = lcr->Priorita;
    a.found_destination = true;
    if (trace) (*trace)("\t\tTrovato Numero " + dest->Key);
    std::size_t length = Chars(dest->Key), count = destinations->Destinazioni().Count();
    if (!(length > best_length || (length == best_length && count <= best_count))) {
      if (explain)
        x.Entry(*lcr, "passed over",
                "its destination " + dest->Key + " (" + std::to_string(length) + " characters, " +
                    std::to_string(count) + " destinations in the entry) is less specific than the one chosen (" +
                    std::to_string(best_length) + " characters, " + std::to_string(best_count) + " destinations)",
                dest.get());
      continue;
    }
    if (explain) x.Entry(*lcr, "destination matched", "", dest.get());
    if (!lcr->Tariffe()) continue;
    for (const auto& t : lcr->Tariffe()->Tariffe) {
      if (t->TipoGiorno != q.day_type) {
        if (explain) x.Tariff(*t, "rejected", "day type " + std::to_string(t->TipoGiorno) + ", the call's is " +
                                                  std::to_string(q.day_type));
        continue;
      }
      if (TimeOfDay(t->Dalle) > q.time || q.time >= TimeOfDay(t->Alle)) {
        if (explain) x.Tariff(*t, "rejected", "the call's time " + Clock(q.time) + " is outside its time band");
        continue;
      }
      if (q.day < Seconds(t->ValidaDal) || q.day > Seconds(t->ValidaAl)) {
        if (explain)
          x.Tariff(*t, "rejected", "the call's date " + dt::ToText(dt::FromSeconds(q.day)) + " is outside its validity");
        continue;
      }
      if (!distance) distance = CalcDistanza(*dest, site);
      if (*distance < t->DalKm || *distance > t->AlKm) {
        if (explain)
          x.Tariff(*t, "rejected", "the distance " + std::to_string(*distance) + " km is outside its distance band");
        continue;
      }
      best_length = length;
      best_count = count;
      a.tariff = t;
      a.destination = dest;
      a.pulses = lcr->Scatti;
      a.pulse_price = lcr->CostoScatto;
      a.group = lcr->GruppoDest;
      if (explain) x.Tariff(*t, "matches", "a later match replaces it", *distance);
      if (trace) {
        a.kept = "LCR:" + lcr->Key + " DESTINAZIONE: " + dest->Key + " TARIFFA: " + t->Key;
        (*trace)("Trovata tariffa: " + t->Key);
      }
    }
  }
  if (trace) (*trace)("Esco da For LCR");
  if (explain) x.Choice(a);
}

}  // namespace ordalis
