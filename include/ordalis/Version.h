#pragma once
#include <string>

#include "ordalis/Export.h"

namespace ordalis {
// The component's version as "major.minor.revision".
ORDALIS_API std::string VersionText();
}  // namespace ordalis
