#pragma once
// clsTariffaMinuto: one duration step of a tariff, the price per minute
// between two durations (their meaning belongs to the cost computation).
#include <cstdint>

#include "ordalis/Money.h"

namespace ordalis {

class clsTariffaMinuto {
 public:
  std::int32_t DurataAl = 0;   // lDurataFine
  std::int32_t DurataDal = 0;  // lDurataInizio
  Money CostoMinuto;           // cCostoMinuto
};

}  // namespace ordalis
