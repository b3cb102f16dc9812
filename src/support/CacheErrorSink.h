#pragma once
// The engine's side of a cache-load failure, as AddToCollection sees it:
// whether errors are raised to the caller (UsoRiproc) or recorded in the
// engine's error state (Errore, CacheStopped). The engine implements it.
#include <string>

namespace ordalis {

class CacheErrorSink {
 public:
  virtual ~CacheErrorSink() = default;
  virtual bool UsoRiproc() const = 0;
  virtual void SetErrore(const std::string& description) = 0;
  virtual void SetCacheStopped(bool stopped) = 0;
};

}  // namespace ordalis
