#pragma once
// CacheAdd: AddToCollection for the numbering and tariff caches, reporting
// whether the member went in. A key already present keeps the first member
// and says nothing (error 457); any other failure goes through the engine's
// cache-error convention (thrown with UsoRiproc, otherwise Errore +
// CacheStopped).
#include <memory>
#include <string_view>

#include "ordalis/KeyedCollection.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"

namespace ordalis {

// Returns true when the member was added.
template <class T>
bool CacheAdd(KeyedCollection<T>& collection, std::shared_ptr<T> member, std::string_view key, clsChiamate& engine) {
  const std::size_t before = collection.Count();
  AddToCollection(collection, std::move(member), key, engine.ErrorSink());
  return collection.Count() != before;
}

}  // namespace ordalis
