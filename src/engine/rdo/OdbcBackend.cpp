#include "engine/rdo/OdbcBackend.h"

#include "engine/rdo/Cursor.h"

namespace ordalis::rdo {

std::unique_ptr<Backend> OpenOdbcBackend(const std::string& connect, int query_timeout_s) {
  ThrowDataError("ODBC data sources are not supported in this build yet");
}

}  // namespace ordalis::rdo
