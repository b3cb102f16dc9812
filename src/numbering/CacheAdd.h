#pragma once
// CacheAdd: adding a member to a cache collection the way every cache load
// does. A key already present keeps the first member and says nothing (error
// 457); any other failure goes through the engine's cache-error convention
// (thrown with UsoRiproc, otherwise Errore + CacheStopped).
#include <memory>
#include <string_view>

#include "ordalis/ComponentError.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsChiamate.h"

namespace ordalis {

// Returns true when the member was added.
template <class T>
bool CacheAdd(KeyedCollection<T>& collection, std::shared_ptr<T> member, std::string_view key, clsChiamate& engine) {
  try {
    collection.Add(std::move(member), key);
    return true;
  } catch (const ComponentError& e) {
    if (e.Number() == kErrDuplicateKey) return false;
    engine.CacheError(e);
    return false;
  }
}

}  // namespace ordalis
