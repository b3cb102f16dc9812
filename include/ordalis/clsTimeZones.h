#pragma once
// clsTimeZones: the time zones of table TimeZone, keyed by their id.
#include <memory>
#include <string>
#include <string_view>

#include "ordalis/Export.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsTimeZone.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;

class ORDALIS_API clsTimeZones {
 public:
  using Collection = KeyedCollection<clsTimeZone>;

  clsTimeZones();
  explicit clsTimeZones(clsChiamate* engine, rdo::RdoConnection* connection = nullptr);
  ~clsTimeZones();

  // The engine database the table is read from (not owned).
  rdo::RdoConnection* Connection = nullptr;
  // The engine (back-reference, not owned).
  clsChiamate* Chiamate = nullptr;

  const Collection& TimeZones() const { return *zones_; }
  // Replaces the collection (null gives an empty one).
  void set_TimeZones(std::shared_ptr<Collection> zones);

  // Loads every row of TimeZone, keyed by sID (a repeated id keeps the
  // first zone). REQUIRES: Connection and Chiamate set. Throws
  // ComponentError 13 when a rule string has a non-numeric field, 6 when a
  // field is out of 16-bit range, 94 when an offset is NULL; the zones read
  // before the failing row stay loaded.
  void Cache();

  // The first zone in load order whose iD equals id exactly (letter case
  // counts); null when there is none.
  std::shared_ptr<clsTimeZone> GetTimeZone(std::string_view id) const;

 private:
  std::shared_ptr<Collection> zones_;
};

}  // namespace ordalis
