// Identification of the comparison tariff (tariff 3): the tariff a carrier
// under comparison would have charged for the call.
//
// The rule, for the carrier given by the comparison:
//  1. The dialled number loses the first interconnection prefix of the
//     engine's list that begins it (the list's order; empty prefixes are
//     skipped), so that a call dialled through one carrier's prefix is
//     priced on the bare number by every carrier.
//  2. The destination is the best match of the number among the carrier's
//     own destinations (those its file lists; the engine's Destinazioni,
//     which hold the destinations of every compared file, when the carrier
//     has none of its own), with the site's national and international
//     prefixes. A carrier's price thus never depends on which other files
//     are compared.
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

#include "call/CalcDistanza.h"
#include "call/clsChiamata.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsSito.h"
#include "support/CommonLib.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

void clsChiamata::IndividuaTariffa3(const std::shared_ptr<clsCarrier>& carrier) {
  const bool log = LogEnabled();
  if (log) WriteDetailLog("Inizio IndividuaTariffa3");
  Tariffa3.reset();
  StatoTariffa3 = stNonIndividuato;
  const clsDestinazioni* destinations =
      carrier && carrier->Destinazioni ? carrier->Destinazioni.get() : Chiamate->Destinazioni.get();
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

  const std::int16_t day_type = DayType(Sito->Calendario ? Sito->Calendario.get() : Chiamate->Calendario.get());
  const std::int32_t distance = CalcDistanza(*dest, *Sito);
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
