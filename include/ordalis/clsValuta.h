#pragma once
// clsValuta: one currency with its symbol, decimals and exchange rate.
#include <cstdint>
#include <string>

namespace ordalis {

class clsValuta {
 public:
  std::string Nome;
  std::string Simbolo;
  // The currency's code, also its key in clsValute.
  std::string Codice;
  // Code of the currency RapportoCambio refers to.
  std::string ValutaRif;
  std::int16_t NumeroDecimali = 0;
  // Exchange rate against ValutaRif.
  double RapportoCambio = 0;
};

}  // namespace ordalis
