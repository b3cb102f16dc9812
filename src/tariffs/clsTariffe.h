#pragma once
// clsTariffe: the tariffs of one owner (a carrier or an LCR entry), keyed by
// tariff Key.
#include "ordalis/KeyedCollection.h"
#include "tariffs/clsTariffa.h"

namespace ordalis {

class clsTariffe {
 public:
  KeyedCollection<clsTariffa> Tariffe;
};

}  // namespace ordalis
