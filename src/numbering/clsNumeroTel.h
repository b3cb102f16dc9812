#pragma once
// clsNumeroTel: the dialled number of a call while it is identified. The call
// record owns one and reuses it for every row; the identification step sets
// Status and, when a destination was found, Destinazione.
#include <memory>
#include <string>

#include "ordalis/Enums.h"

namespace ordalis {

class clsDestinazione;

class clsNumeroTel {
 public:
  std::string Numero;
  Stato Status = stDaIndividuare;
  // Set only while Status is stIndividuato. Country, area, descriptions and
  // destination type of the number are read from it; no copies are kept.
  std::shared_ptr<clsDestinazione> Destinazione;

  // Back to "not yet looked up" for the next call, keeping the text buffer.
  void Reset() {
    Numero.clear();
    Status = stDaIndividuare;
    Destinazione.reset();
  }
};

}  // namespace ordalis
