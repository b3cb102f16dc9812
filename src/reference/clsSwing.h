#pragma once
// clsSwing: one swing number (a row of Swing): an external number called or
// calling through an extension marked "swing", with the extension and site it
// is attributed to and running totals of its calls, conversation time and
// cost.
#include <cstdint>
#include <string>

#include "ordalis/DateTime.h"
#include "ordalis/Enums.h"
#include "ordalis/Money.h"

namespace ordalis {

class clsChiamata;

class clsSwing {
 public:
  // The figures of one rated call that a swing number accumulates.
  struct DatiChiamata {
    bool uscente = true;       // sTipo "O"; any other type counts as incoming
    DateTime dData = 0;        // date of the call
    DateTime dOra = 0;         // time of the call
    DateTime dDurata = 0;      // duration, as a fraction of a day
    Money cCosto;              // cCosto1_c as just rated
    Money cCostoPrecedente;    // cCosto1_c as loaded (the previous rating)
    bool annulla = false;      // the previous rating is taken off first
    bool per_data = false;     // last-call fields follow the latest call (several processes rating at once)
    std::string sNumero, sSito, sDerivato;
  };

  clsChiamata* Chiamata = nullptr;  // the call being rated; not owned
  Stato Status = stDaIndividuare;
  std::string Nome;
  std::string Numero;  // sNumero, the collection key
  std::int32_t NumeroChiamateO = 0;
  std::int32_t NumeroChiamateI = 0;
  std::string Key;
  DateTime DataUltimaChiamataO = 0;
  DateTime DataUltimaChiamataI = 0;
  DateTime OraUltimaChiamataI = 0;
  DateTime OraUltimaChiamataO = 0;
  DateTime MinutiConversazione = 0;  // total conversation time, as a duration
  Money CostoConversazioni;
  std::string Derivato;
  bool Videotel = false;
  std::string Sito;
  std::int32_t PKId = 0;  // 0: never stored
  // The statistics as the row held them when this process last read or
  // wrote it (all zero for a swing without a row). A save adds to the row
  // what the swing gained since, so that several processes counting into one
  // row keep each other's counts.
  struct Statistiche {
    std::int32_t NumeroChiamateO = 0, NumeroChiamateI = 0;
    Money CostoConversazioni;
    DateTime MinutiConversazione = 0;
    DateTime DataUltimaChiamataO = 0, OraUltimaChiamataO = 0, DataUltimaChiamataI = 0, OraUltimaChiamataI = 0;
    std::string Sito, Derivato;
    bool operator==(const Statistiche&) const = default;
  };
  Statistiche Letto;
  Statistiche Attuali() const {
    return {NumeroChiamateO,     NumeroChiamateI,     CostoConversazioni,  MinutiConversazione, DataUltimaChiamataO,
            OraUltimaChiamataO,  DataUltimaChiamataI, OraUltimaChiamataI,  Sito,                Derivato};
  }
  // Totals changed since the row was last read or written.
  bool Changed() const { return !(Attuali() == Letto); }

  // Accumulates one call. With `annulla` the previous rating's cost, the
  // duration and one call of the call's direction are taken off first. The
  // last-call date only moves forward, the last-call time is the call's. The
  // swing then takes an empty name, the call's number, site and extension,
  // Status stIndividuato and Videotel True. `nuovo` (a swing just created for
  // this call) sets the call count of the direction to 1 instead of adding.
  // Throws ComponentError 6 when a count or the cost leaves its range.
  void RegistraChiamata(const DatiChiamata& chiamata, bool nuovo);
};

}  // namespace ordalis
