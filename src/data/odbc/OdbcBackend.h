#pragma once
// OdbcBackend: the backend for every connect string without DBQ=, through
// the unixODBC driver manager.
#include <memory>
#include <string>

#include "data/Backend.h"

namespace ordalis::rdo {

// Connects with the full connect string; throws ComponentError with the
// driver's message (unknown data source, wrong password...).
std::unique_ptr<Backend> OpenOdbcBackend(const std::string& connect, int query_timeout_s);

}  // namespace ordalis::rdo
