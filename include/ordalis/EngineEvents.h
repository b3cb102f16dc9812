#pragma once
// The six events of the engine, delivered synchronously on the engine's
// thread. Every handler is a no-op unless the host overrides it; handlers may
// call StopIt, PauseIt and RestartIt.
#include <cstdint>
#include <string>

#include "ordalis/Export.h"

namespace ordalis {

class ORDALIS_API EngineEvents {
 public:
  virtual ~EngineEvents() = default;
  virtual void ProgressChange(std::int32_t& /*lCallsDone*/, std::int32_t& /*lCallsTotal*/) {}
  virtual void Done() {}
  virtual void CacheStart(std::int32_t& /*lObjectsTotal*/) {}
  virtual void CacheDone() {}
  virtual void SaveDataError(std::int16_t& /*iTentativo*/, std::string& /*sErrDesc*/, std::int16_t& /*iErrCode*/) {}
  virtual void CacheChange(std::int32_t& /*lObjectsDone*/, std::int32_t& /*lObjectsTotal*/, std::string& /*sOggetto*/) {}

  // Not events of the component: the warnings the rating steps hand to the
  // engine, and the query-timeout warning boxes (title, text).
  virtual void Warning(const std::string& /*text*/) {}
  virtual void MessageBox(const std::string& /*title*/, const std::string& /*text*/) {}
};

}  // namespace ordalis
