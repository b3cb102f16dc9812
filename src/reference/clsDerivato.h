#pragma once
// clsDerivato: one extension (internal line) of a site, with the holder's
// name, department, cost centre and location the rating copies onto calls,
// its privacy level, swing flag, cost markup, running totals and thresholds.
#include <cstdint>
#include <string>

#include "ordalis/Enums.h"
#include "ordalis/Money.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamata;

class clsDerivato {
 public:
  std::string IDTimeZone;
  std::string SedeFisica;
  // Numero + "¦" + Sito: the extension's key in clsDerivati.
  std::string Key;
  Stato Status = stDaIndividuare;
  // Connection used by GetInfoDerivato (not owned).
  rdo::RdoConnection* Database = nullptr;
  // The call being rated (not owned).
  clsChiamata* Chiamata = nullptr;
  std::string Numero;
  std::string Reparto;
  std::string Nome;
  std::string CentroDiCosto;
  // Site code, or "*" for an extension shared by every site.
  std::string Sito;
  std::string Ubicazione;
  std::int16_t Privacy = 0;
  bool Swing = false;
  // Cost markup.
  Money Ricarico;
  std::int32_t TotMinuti = 0;
  std::int32_t TotChiamate = 0;
  Money TotCosto;
  // The totals as the row held them when this process last read or wrote
  // it: a save adds what the totals gained since, keeping what others added.
  std::int32_t TotMinutiLetto = 0;
  std::int32_t TotChiamateLetto = 0;
  Money TotCostoLetto;
  std::int32_t SogliaMinuti = 0;
  std::int32_t SogliaChiamate = 0;
  Money SogliaCosto;
  // Which thresholds were passed; "-" once loaded.
  std::string SogliaSuperata;
  std::int32_t PKId = 0;

  // The per-use look-up: only while Status is stDaIndividuare, reads the
  // Derivati row of Numero at Sito through Database: found, Nome, Reparto
  // and CentroDiCosto take its values and Status becomes stIndividuato;
  // not found, they become empty and Status stNonIndividuato.
  // REQUIRES: Database set. Statement failures reach the caller.
  void GetInfoDerivato();
};

}  // namespace ordalis
