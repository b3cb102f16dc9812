#pragma once
// clsGruppiDest: the destination groups, loaded from GruppoDiDestinazioni and
// linked both ways with the destinations of Destinazioni.
#include <memory>
#include <string>

#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsDestinazioni;
class clsGruppoDest;

class clsGruppiDest {
 public:
  clsGruppiDest() = default;
  clsGruppiDest(clsChiamate* engine, rdo::RdoConnection* connection) : Connection(connection), Chiamate(engine) {}
  // Unlinks groups and member destinations, which refer to each other.
  ~clsGruppiDest();
  clsGruppiDest(const clsGruppiDest&) = delete;
  clsGruppiDest& operator=(const clsGruppiDest&) = delete;

  rdo::RdoConnection* Connection = nullptr;
  clsChiamate* Chiamate = nullptr;
  // The destinations that resolve the members; must be set before Cache.
  std::shared_ptr<clsDestinazioni> Destinazioni;

  KeyedCollection<clsGruppoDest>& GruppiDest() { return gruppi_; }
  const KeyedCollection<clsGruppoDest>& GruppiDest() const { return gruppi_; }

  // The carrier name of the last load with bCarrier, followed by "¦" (empty
  // without bCarrier): the prefix of the group keys.
  const std::string& PrefissoCarrier() const { return prefisso_; }

  // REQUIRES: Connection, Chiamate and Destinazioni set.
  // With bCarrier the group keys are prefixed by NomeCarrier of the first
  // Carrier row + "¦" (whatever tipo is). For ctPreload every row of
  // GruppoDiDestinazioni is read until the engine's CacheStopped: the first
  // row of a group creates it, each row links one member destination. An
  // empty table is failure 1036, a member missing from Destinazioni failure
  // 1037, both under the engine's cache-error convention.
  void Cache(CacheType tipo, bool bCarrier);

 private:
  KeyedCollection<clsGruppoDest> gruppi_;
  std::string prefisso_;
};

}  // namespace ordalis
