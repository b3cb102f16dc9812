#include "tariffs/clsCarrier.h"

#include "engine/rdo/RdoConnection.h"
#include "engine/rdo/RdoResultset.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

clsCarrier::clsCarrier() = default;

clsCarrier::~clsCarrier() = default;

clsTariffe& clsCarrier::Tariffe() {
  if (!tariffe_) tariffe_ = std::make_shared<clsTariffe>();
  return *tariffe_;
}

}  // namespace ordalis
