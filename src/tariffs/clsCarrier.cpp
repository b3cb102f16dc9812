#include "tariffs/clsCarrier.h"

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

clsCarrier::clsCarrier() = default;

clsCarrier::~clsCarrier() = default;

clsTariffe& clsCarrier::Tariffe() {
  if (!tariffe_) tariffe_ = std::make_shared<clsTariffe>();
  return *tariffe_;
}

}  // namespace ordalis
