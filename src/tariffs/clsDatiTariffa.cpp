#include "tariffs/clsDatiTariffa.h"

#include "numbering/clsGruppoDest.h"
#include "tariffs/clsTariffa.h"

namespace ordalis {

std::string clsDatiTariffa::EncodeCostiMinuto(const clsTariffa& tariffa) {
  std::string text;
  if (const auto* steps = tariffa.CostoMinutoIfAny()) {
    for (const auto& step : *steps) {
      text.append(std::to_string(step->DurataDal)).push_back('|');
      text.append(std::to_string(step->DurataAl)).push_back('|');
      text.append(step->CostoMinuto.ToText()).push_back('|');
    }
  }
  return text;
}

clsDatiTariffa clsDatiTariffa::FromTariffa(const clsTariffa& t) {
  clsDatiTariffa d;
  d.GruppoDest = t.GruppoDest ? t.GruppoDest->Denominazione : std::string();
  d.TipoGiorno = t.TipoGiorno;
  d.Dalle = t.Dalle;
  d.Alle = t.Alle;
  d.DalKm = t.DalKm;
  d.AlKm = t.AlKm;
  d.ValidaDal = t.ValidaDal;
  d.ValidaAl = t.ValidaAl;
  d.CostoMinimo = t.CostoMinimo;
  d.CostoRisposta = t.CostoRisposta;
  d.CostiMinuto = EncodeCostiMinuto(t);
  d.TempoComposizione = t.TempoComposizione;
  d.Fascia = t.Fascia;
  d.ArrotDurata = t.ArrotDurata;
  d.TipoArrotDurata = t.TipoArrotDurata;
  d.ArrotCosto = t.ArrotCosto;
  d.TipoArrotCosto = t.TipoArrotCosto;
  d.DurataMinima = t.DurataMinima;
  d.DurataRisposta = t.DurataRisposta;
  return d;
}

}  // namespace ordalis
