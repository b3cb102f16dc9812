#pragma once
// clsCommesse: the job codes of table Commesse. With extended job codes
// (registry switch CommesseEstese) a code is one job code for all sites and
// keyed by itself; otherwise each site has its own, keyed code + "¦" + site.
#include <memory>
#include <string>

#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsCommessa;

class clsCommesse {
 public:
  using Collection = KeyedCollection<clsCommessa>;

  clsCommesse();
  explicit clsCommesse(clsChiamate* engine, rdo::RdoConnection* connection = nullptr);
  ~clsCommesse();

  // The engine database the table is read from (not owned).
  rdo::RdoConnection* Connection = nullptr;
  // The engine (back-reference, not owned).
  clsChiamate* Chiamate = nullptr;

  const Collection& Commesse() const { return *commesse_; }
  // Replaces the collection (null gives an empty one).
  void set_Commesse(std::shared_ptr<Collection> commesse);

  CacheType Tipo() const { return tipo_; }

  // Reads the extended-job-codes switch (CheckCommesseEstese), stores the
  // mode and, for ctPreload, loads every row of Commesse until the engine's
  // CacheStopped: the first row of a code wins (letter case ignored) under
  // the key rule of UseCommesseEstese(). REQUIRES: Connection and Chiamate
  // set. Throws ComponentError 13 when iPrivacy is not a number.
  void Cache(CacheType tipo);

  // The job code of a call: by code alone or by code and site, as loaded.
  // Null when there is none.
  std::shared_ptr<clsCommessa> GetCommessa(const std::string& codice, const std::string& sito) const;

 private:
  std::shared_ptr<Collection> commesse_;
  CacheType tipo_ = ctNone;
};

}  // namespace ordalis
