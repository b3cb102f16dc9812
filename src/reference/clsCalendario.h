#pragma once
// clsCalendario: the day types of one country. An explicit entry for a date
// wins over the entry for its weekday; weekdays without a row get the
// built-in defaults (Sunday 2, Monday 1, Tuesday to Saturday 0).
#include <memory>
#include <string>

#include "ordalis/DateTime.h"
#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsGiorno;

class clsCalendario {
 public:
  using Collection = KeyedCollection<clsGiorno>;

  clsCalendario();
  explicit clsCalendario(clsChiamate* engine, rdo::RdoConnection* connection = nullptr);
  ~clsCalendario();

  // The engine database; used when the country has no prefix database.
  rdo::RdoConnection* Connection = nullptr;
  // The engine (back-reference, not owned).
  clsChiamate* Chiamate = nullptr;

  const Collection& Giorni() const { return *giorni_; }
  // Replaces the collection (null gives an empty one).
  void set_Giorni(std::shared_ptr<Collection> giorni);

  // Loads table Calendario, every row whatever the mode. sNazione is the
  // country description of the site: when
  // <component directory>/international/<sNazione>/prefissi.mdb exists the
  // table is read from that file, else through Connection.
  // REQUIRES: Connection set when the country has no prefix database.
  // Throws ComponentError when the database cannot be opened or read.
  void Cache(CacheType tipo, const std::string& sNazione);

  // The day that governs the date (time of day ignored): its explicit entry,
  // else its weekday entry; null when neither exists (a calendar that was
  // never loaded). Lookup failures follow the engine's cache-error rule.
  std::shared_ptr<clsGiorno> GetGiorno(DateTime data) const;

  // The key of an explicit entry: "yyyy/mm/dd".
  static std::string DateKey(DateTime data);

 private:
  std::shared_ptr<Collection> giorni_;
};

}  // namespace ordalis
