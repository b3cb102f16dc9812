#pragma once
// clsDatiTariffa: a snapshot of one tariff handed to the host, its duration
// steps flattened into the CostiMinuto text.
#include <cstdint>
#include <string>

#include "ordalis/DateTime.h"
#include "ordalis/Money.h"

namespace ordalis {

class clsTariffa;

class clsDatiTariffa {
 public:
  std::string GruppoDest;  // Denominazione of the tariff's group
  std::int16_t TipoGiorno = 0;
  DateTime Dalle = 0;
  DateTime Alle = 0;
  double DalKm = 0;
  double AlKm = 0;
  DateTime ValidaDal = 0;
  DateTime ValidaAl = 0;
  Money CostoMinimo;
  Money CostoRisposta;
  // "DurataDal|DurataAl|CostoMinuto|" for each step in order; empty text
  // when the tariff has no steps.
  std::string CostiMinuto;
  std::int16_t TempoComposizione = 0;
  std::string Fascia;
  std::int16_t ArrotDurata = 0;
  std::int16_t TipoArrotDurata = 0;
  double ArrotCosto = 0;
  std::int16_t TipoArrotCosto = 0;
  std::int16_t DurataMinima = 0;
  std::int16_t DurataRisposta = 0;

  // The snapshot of a tariff. GruppoDest is empty when the tariff has no group.
  static clsDatiTariffa FromTariffa(const clsTariffa& tariffa);
  // The CostiMinuto text of a tariff's steps.
  static std::string EncodeCostiMinuto(const clsTariffa& tariffa);
};

}  // namespace ordalis
