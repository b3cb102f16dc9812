#pragma once
// clsNominativo: one phone-book entry (a row of Rubrica): the name and place
// of an external number and the running statistics of the calls made to it
// and received from it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ordalis/DateTime.h"
#include "ordalis/Enums.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}  // namespace rdo
class clsChiamata;
class clsNumeroTel;
class Variant;

class clsNominativo {
 public:
  clsChiamata* Chiamata = nullptr;  // the call being rated; not owned
  Stato Status = stDaIndividuare;
  std::string Nome;
  std::shared_ptr<clsNumeroTel> Numero;  // set by the caller
  std::string Localita;
  rdo::RdoConnection* Database = nullptr;  // not owned
  std::string NumeroTel;                   // sNumero, the collection key
  std::string Key;
  std::int32_t PKId = 0;  // 0: never stored
  DateTime DataUltimaChiamataO = 0;
  std::int32_t TotaleSelezioniO = 0;
  std::int32_t TotaleSelezioniI = 0;
  DateTime DataUltimaChiamataI = 0;
  DateTime OraUltimaChiamataI = 0;
  DateTime OraUltimaChiamataO = 0;
  // The statistics as the row held them when this process last read or
  // wrote it. A save adds to the row what the entry gained since, so that
  // several processes counting into one row keep each other's counts.
  struct Statistiche {
    std::int32_t TotaleSelezioniO = 0, TotaleSelezioniI = 0;
    DateTime DataUltimaChiamataO = 0, OraUltimaChiamataO = 0, DataUltimaChiamataI = 0, OraUltimaChiamataI = 0;
    bool operator==(const Statistiche&) const = default;
  };
  Statistiche Letto;
  Statistiche Attuali() const {
    return {TotaleSelezioniO, TotaleSelezioniI, DataUltimaChiamataO, OraUltimaChiamataO, DataUltimaChiamataI,
            OraUltimaChiamataI};
  }
  // Counts changed since the row was last read or written.
  bool Changed() const { return !(Attuali() == Letto); }

  // Counts one call to (uscente) or from this number: with `annulla` the
  // contribution of the call's previous rating is taken off first, so that
  // re-rating a row does not count it twice. The last-call date only moves
  // forward; the last-call time is the call's in every case.
  // Throws ComponentError 6 when a count leaves the 32-bit range (the entry
  // is then unchanged).
  // With `per_data` (several processes rating at once) the last-call time
  // is the call's only when the call is not earlier than the entry's last
  // call.
  void RegistraChiamata(bool uscente, DateTime dData, DateTime dOra, bool annulla, bool per_data = false);
};

// A 32-bit call count as the phone-book and swing tables hold it, read
// through its text form: NULL and text without a leading number give 0, a
// leading number is taken up to the first character that does not belong to
// it ("12 calls" is 12) and rounded half to even. Throws ComponentError 6
// when it does not fit in 32 bits.
std::int32_t ContatoreDaColonna(const Variant& value);

// Whether a call at `data` `ora` is not earlier than one at `ultima_data`
// `ultima_ora` (dates first, then times, to the second).
bool NonPrecedente(DateTime data, DateTime ora, DateTime ultima_data, DateTime ultima_ora);
// count + delta, or ComponentError 6 when it leaves the 32-bit range.
std::int32_t SommaContatore(std::int32_t count, std::int32_t delta);

// The identity of the row just inserted into `table` (Rubrica or Swing) for
// `numero` (an empty number was stored as NULL): the lowest lPKId above
// `highest_before` (the table's MAX(lPKId) read before the insert, "" when
// the table was empty) under that number, so that rows added meanwhile by
// others under other numbers, or earlier rows of the same number, are not
// taken for it. Throws ComponentError when there is none.
std::int32_t NuovoPKId(rdo::RdoConnection& connection, std::string_view table, std::string_view numero,
                       const std::string& highest_before);

}  // namespace ordalis
