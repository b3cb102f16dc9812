#pragma once
#include <string>

namespace ordalis {
// The component's version as "major.minor.revision".
std::string VersionText();
}  // namespace ordalis
