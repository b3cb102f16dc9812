#include "numbering/clsGruppoDest.h"

#include "numbering/clsDestinazione.h"

namespace ordalis {

KeyedCollection<clsDestinazione>& clsGruppoDest::Destinazioni() {
  if (!destinazioni_) destinazioni_ = std::make_unique<KeyedCollection<clsDestinazione>>();
  return *destinazioni_;
}

}  // namespace ordalis
