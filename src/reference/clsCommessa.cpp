#include "reference/clsCommessa.h"

namespace ordalis {

std::string clsCommessa::MakeKey(const std::string& codice, const std::string& sito, bool estese) {
  if (estese) return codice;
  return codice + "\xC2\xA6" + sito;
}

}  // namespace ordalis
