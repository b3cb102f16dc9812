#include "ordalis/Version.h"

namespace ordalis {
std::string VersionText() { return ORDALIS_VERSION; }
}  // namespace ordalis
