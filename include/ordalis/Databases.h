#pragma once
// Creating empty databases for the engine: the engine database with every
// table the engine reads or writes, and a carrier tariff file.
#include <string>

#include "ordalis/Export.h"

namespace ordalis {

// Creates a new SQLite engine database at `path`. Throws ComponentError when
// the file exists already or cannot be created.
ORDALIS_API void CreateEngineDatabase(const std::string& path);
// Creates a new SQLite carrier tariff file holding one Carrier row.
ORDALIS_API void CreateCarrierDatabase(const std::string& path, const std::string& name, const std::string& prefix);

}  // namespace ordalis
