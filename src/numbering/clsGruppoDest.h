#pragma once
// clsGruppoDest: a named set of destinations to which tariffs and LCR entries
// are attached. Loaded from a carrier's tariff file its Key carries the
// carrier name ("Carrier¦Group"), so same-named groups of two carriers stay
// apart.
#include <memory>
#include <string>

#include "ordalis/KeyedCollection.h"

namespace ordalis {

class clsDestinazione;

class clsGruppoDest {
 public:
  std::string Key;  // carrier prefix + Denominazione
  std::string Denominazione;
  std::string PrefNaz;   // of the first row of the group met while loading
  std::string PrefArea;  // likewise

  // Member destinations keyed by destination Key; created on first use.
  KeyedCollection<clsDestinazione>& Destinazioni();
  bool HasDestinazioni() const { return destinazioni_ != nullptr; }
  // Drops the member references (breaks the group <-> destination cycle).
  void ClearDestinazioni() { destinazioni_.reset(); }

 private:
  std::unique_ptr<KeyedCollection<clsDestinazione>> destinazioni_;
};

}  // namespace ordalis
