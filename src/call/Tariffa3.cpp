// Identification of the comparison tariff (tariff 3): the tariff a carrier
// under comparison would have charged for the call.
//
// The rule, for the carrier given by the comparison:
//  1. The dialled number loses the first interconnection prefix of the
//     engine's list that begins it (the list's order; empty prefixes are
//     skipped), so that a call dialled through one carrier's prefix is
//     priced on the bare number by every carrier.
//  2. The destination is the best match of the number among the comparison
//     destinations (the engine's Destinazioni, which hold the destinations of
//     every compared file, each linked to the groups of every carrier that
//     prices it), with the site's national and international prefixes.
//  3. Among the carrier's tariffs, those whose destination group is one of
//     that destination's groups are candidates. A candidate applies when it
//     matches the call as the least-cost search matches the tariffs of an LCR
//     entry: the call's date within ValidaDal..ValidaAl, its time of day in
//     Dalle..Alle (end excluded), the distance from the site's own
//     destination within DalKm..AlKm, and the day type of the call's date in
//     the site's calendar (the comparison calendar when the site has none;
//     type 0 when neither knows the date) equal to TipoGiorno.
//  4. As in the least-cost search, a later applicable tariff replaces an
//     earlier one; the last one is Tariffa3 and StatoTariffa3 becomes
//     stIndividuato. Without site, destination or applicable tariff,
//     StatoTariffa3 becomes stNonIndividuato and Tariffa3 is cleared.
// Nothing else of the call changes: the number, the destination and tariff 1
// stay as the main rating left them.
#include <cmath>

#include "call/clsChiamata.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsCalendario.h"
#include "reference/clsGiorno.h"
#include "reference/clsSito.h"
#include "support/CommonLib.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {
namespace {

// Whole kilometres between the site's own destination and a destination,
// computed as the least-cost search computes them (coordinates are whole
// degrees plus sixtieths; chord on a sphere of 6371.315 km; coincident
// points give 1000; no site destination gives 0).
std::int32_t Distance(const clsDestinazione& dest, const clsSito& site) {
  if (!site.Destinazione) return 0;
  constexpr double kRadius = 6371.315;
  constexpr double kPi = 3.14159265358979323846;
  auto degrees = [](float v) {
    double whole = std::trunc(v);
    return whole + (v - whole) / 60.0;
  };
  auto position = [&](float lat, float lon, double* p) {
    double la = degrees(lat) * kPi / 180, lo = degrees(lon) * kPi / 180;
    p[0] = kRadius * std::cos(la) * std::cos(lo);
    p[1] = kRadius * std::cos(la) * std::sin(lo);
    p[2] = kRadius * std::sin(la);
  };
  double a[3], b[3];
  position(site.Destinazione->Lat, site.Destinazione->Longit, a);
  position(dest.Lat, dest.Longit, b);
  double chord2 = (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
  double cosine = (2 * kRadius * kRadius - chord2) / (2 * kRadius * kRadius);
  if (!(cosine > -1 && cosine < 1)) return 1000;
  return static_cast<std::int32_t>(std::nearbyint(kRadius * std::acos(cosine)));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return prefix.size() <= text.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void clsChiamata::IndividuaTariffa3(const std::shared_ptr<clsCarrier>& carrier) {
  const bool log = LogEnabled();
  if (log) WriteDetailLog("Inizio IndividuaTariffa3");
  Tariffa3.reset();
  StatoTariffa3 = stNonIndividuato;
  const clsDestinazioni* destinations = Chiamate->Destinazioni.get();
  if (!carrier || !carrier->HasTariffe() || !destinations) {
    if (log) WriteDetailLog("Carrier o destinazioni di confronto non disponibili");
    return;
  }
  IndividuaSito();
  if (Sito->Status != stIndividuato) return;

  std::string_view number = sNumero;
  for (const auto& prefix : Chiamate->PrefissiInterconn()) {
    if (!prefix->value.empty() && StartsWithNoCase(number, prefix->value)) {
      number.remove_prefix(prefix->value.size());
      break;
    }
  }
  std::shared_ptr<clsDestinazione> dest =
      destinations->GetDestinazioneMigliore(number, Sito->PrefNaz, Sito->PrefInternazionale);
  if (!dest || !dest->HasGruppiDest()) {
    if (log) WriteDetailLog("Destinazione di confronto non trovata: " + std::string(number));
    return;
  }
  const auto& groups = dest->GruppiDest();

  std::int16_t day_type = 0;
  const clsCalendario* calendar = Sito->Calendario ? Sito->Calendario.get() : Chiamate->Calendario.get();
  if (calendar)
    if (auto giorno = calendar->GetGiorno(dData)) day_type = giorno->Tipo;
  const std::int32_t distance = Distance(*dest, *Sito);
  const std::int64_t call_time = dt::SecondOfDay(dOra);
  const std::int64_t call_day = dt::ToSeconds(dt::DatePart(dData));

  for (const auto& t : carrier->Tariffe().Tariffe) {
    if (t->TipoGiorno != day_type) continue;
    if (call_day < dt::ToSeconds(t->ValidaDal) || call_day > dt::ToSeconds(t->ValidaAl)) continue;
    if (dt::SecondOfDay(t->Dalle) > call_time || call_time >= dt::SecondOfDay(t->Alle)) continue;
    if (distance < t->DalKm || distance > t->AlKm) continue;
    bool member = false;
    for (const auto& g : groups) {
      if (g == t->GruppoDest) {
        member = true;
        break;
      }
    }
    if (!member) continue;
    Tariffa3 = t;
  }
  if (Tariffa3) {
    StatoTariffa3 = stIndividuato;
    if (log) WriteDetailLog("Trovata tariffa di confronto: " + Tariffa3->Key);
  }
}

}  // namespace ordalis
