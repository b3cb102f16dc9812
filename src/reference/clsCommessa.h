#pragma once
// clsCommessa: one job code, per site or (extended job codes) for all sites.
#include <cstdint>
#include <string>

#include "ordalis/Enums.h"

namespace ordalis {

class clsCommessa {
 public:
  // Set by the call pipeline when it looks the job code up.
  Stato Status = stDaIndividuare;
  std::string Sito;
  std::int16_t Privacy = 0;
  // The key in clsCommesse: Codice, or Codice + "¦" + Sito (MakeKey).
  std::string Key;
  std::string Codice;
  std::string Descrizione;

  // The key of a job code: the code alone with extended job codes
  // (UseCommesseEstese), else code + "¦" + site.
  static std::string MakeKey(const std::string& codice, const std::string& sito, bool estese);
};

}  // namespace ordalis
