#pragma once
// clsDestinazioni: a collection of destinations (the engine's, or the private
// one of an LCR entry) with the best-destination match of a dialled number.
//
// The members are changed only through this class (Add, Remove, Clear,
// set_Destinazioni), so that it knows when its prefix index is stale: every
// change bumps Version(), and the first match after a change rebuilds the
// index. Members must not have PrefNaz, PrefArea or Key changed in place
// while they are in the collection (call Invalidate() after doing so).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "numbering/DestinationIndex.h"
#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
class RdoResultset;
}  // namespace rdo
class clsChiamate;
class clsDestinazione;

class clsDestinazioni {
 public:
  using Collection = KeyedCollection<clsDestinazione>;

  clsDestinazioni();
  explicit clsDestinazioni(clsChiamate* engine, rdo::RdoConnection* connection = nullptr);
  ~clsDestinazioni();

  rdo::RdoConnection* Connection = nullptr;
  clsChiamate* Chiamate = nullptr;

  const Collection& Destinazioni() const { return *destinazioni_; }
  // Replaces the collection (null gives an empty one).
  void set_Destinazioni(std::shared_ptr<Collection> collection);

  // Adds at the end under the key; throws ComponentError 457 when present.
  void Add(std::shared_ptr<clsDestinazione> destination, std::string_view key);
  // Throw ComponentError 5 when missing.
  void Remove(std::string_view key);
  void Remove(std::size_t index);
  void Clear();
  // Marks the index stale (after members were changed in place).
  void Invalidate() { ++version_; }
  std::uint64_t Version() const { return version_; }

  CacheType Tipo() const { return tipo_; }

  // REQUIRES: Connection and Chiamate set. Stores tipo; for ctPreload loads
  // every row of Destinazioni, country prefix descending then area prefix
  // descending, keeping the first of a repeated key. An empty table is
  // failure 1033 under the engine's cache-error convention.
  void Cache(CacheType tipo);

  // The best destination for a dialled number, or null: the longest Key
  // among the candidates, the first in collection order on a tie.
  // International numbers (beginning with sPrefInt) match destinations whose
  // PrefNaz (held in dialled form) and PrefArea begin the number, the area
  // "-" matching the whole country; domestic numbers match the destinations
  // of country sPrefNaz whose PrefArea begins the number. Case-sensitive.
  std::shared_ptr<clsDestinazione> GetDestinazioneMigliore(std::string_view sNumero, std::string_view sPrefNaz,
                                                           std::string_view sPrefInt) const;

  // A destination from the current row of a Destinazioni resultset, nulls
  // read as empty text and coordinates as 0. Key is PrefNaz + "¦" + PrefArea.
  static std::shared_ptr<clsDestinazione> FromRow(const rdo::RdoResultset& row);

 private:
  std::shared_ptr<Collection> destinazioni_;
  CacheType tipo_ = ctNone;
  std::uint64_t version_ = 1;
  // Built on first use after a change; the thread that prepares calls ahead
  // may ask at the same time as the engine's.
  mutable std::atomic<std::uint64_t> indexed_version_{0};
  mutable DestinationIndex index_;
};

}  // namespace ordalis
