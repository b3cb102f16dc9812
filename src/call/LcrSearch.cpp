#include "call/LcrSearch.h"

#include <map>
#include <optional>

#include "call/CalcDistanza.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "ordalis/KeyedCollection.h"
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

}  // namespace

std::int16_t DayTypeOf(const clsCalendario* calendar, DateTime date) {
  if (!calendar) return 0;
  auto giorno = calendar->GetGiorno(date);
  return giorno ? giorno->Tipo : 0;
}

void SearchLcr(const LcrQuestion& q, LcrAnswer& a, const LcrTrace* trace) {
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
  static const std::string kAll = LoadResString(20811);
  std::int16_t best_priority = 9999;
  std::size_t best_length = 0, best_count = 1000000;
  for (const auto& lcr : q.lcrs->Lcrs()) {
    if (lcr->Priorita > best_priority) continue;
    if (!EqualsNoCase(lcr->Linea, q.line) && !EqualsNoCase(lcr->Linea, "TUTTE") && !EqualsNoCase(lcr->Linea, "ALL") &&
        !EqualsNoCase(lcr->Linea, kAll))
      continue;
    if (TimeOfDay(lcr->Dalle) > q.time || q.time > TimeOfDay(lcr->Alle)) continue;
    if (!q.carrier2 && !prefix_carrier.empty() && !EqualsNoCase(lcr->Carrier, prefix_carrier)) continue;
    a.found_lcr = true;
    if (trace) (*trace)("\tTrovato LCR" + lcr->Key);
    const auto& destinations = lcr->Destinazioni();
    if (!destinations || destinations->Destinazioni().Count() == 0) {
      if (trace) (*trace)("Destinazioni non presenti per questo LCR");
      continue;
    }
    std::shared_ptr<clsDestinazione> dest =
        destinations->GetDestinazioneMigliore(a.number, site.PrefNaz, site.PrefInternazionale);
    if (!dest) continue;
    std::optional<std::int32_t> distance;  // worked out when a tariff asks for it
    if (lcr->Priorita < best_priority) {
      best_length = 0;
      best_count = 1000000;
    }
    best_priority = lcr->Priorita;
    a.found_destination = true;
    if (trace) (*trace)("\t\tTrovato Numero " + dest->Key);
    std::size_t length = Chars(dest->Key), count = destinations->Destinazioni().Count();
    if (!(length > best_length || (length == best_length && count <= best_count))) continue;
    if (!lcr->Tariffe()) continue;
    for (const auto& t : lcr->Tariffe()->Tariffe) {
      if (t->TipoGiorno != q.day_type) continue;
      if (TimeOfDay(t->Dalle) > q.time || q.time >= TimeOfDay(t->Alle)) continue;
      if (q.day < Seconds(t->ValidaDal) || q.day > Seconds(t->ValidaAl)) continue;
      if (!distance) distance = CalcDistanza(*dest, site);
      if (*distance < t->DalKm || *distance > t->AlKm) continue;
      best_length = length;
      best_count = count;
      a.tariff = t;
      a.destination = dest;
      a.pulses = lcr->Scatti;
      a.pulse_price = lcr->CostoScatto;
      a.group = lcr->GruppoDest;
      if (trace) {
        a.kept = "LCR:" + lcr->Key + " DESTINAZIONE: " + dest->Key + " TARIFFA: " + t->Key;
        (*trace)("Trovata tariffa: " + t->Key);
      }
    }
  }
  if (trace) (*trace)("Esco da For LCR");
}

}  // namespace ordalis
