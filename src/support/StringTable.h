#pragma once
// The component's string table: the texts the host may show and the engine
// compares (destination-type names, day names, warnings, failure messages).
#include <string>

namespace ordalis {

// The text of a string-table id; the empty text for an unknown id.
const std::string& LoadResString(int id);

}  // namespace ordalis
