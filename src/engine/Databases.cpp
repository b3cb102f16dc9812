#include "ordalis/Databases.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>

#include "data/SqlQuote.h"
#include "engine/SchemaText.h"
#include "ordalis/ComponentError.h"

namespace ordalis {
namespace {

constexpr std::int32_t kErrCreate = 75;
constexpr char kSource[] = "Ordalis schema";

// Creates the file and runs the statements in one transaction; on failure
// the half-made file is removed.
void CreateDatabase(const std::string& path, const std::string& sql) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) throw ComponentError(kErrCreate, "File already exists: " + path, kSource);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::string error;
  if (rc == SQLITE_OK) {
    char* message = nullptr;
    rc = sqlite3_exec(db, ("BEGIN;" + sql + ";COMMIT;").c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) error = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
  } else {
    error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  }
  sqlite3_close(db);
  if (rc != SQLITE_OK) {
    std::remove(path.c_str());
    throw ComponentError(kErrCreate, "Cannot create " + path + ": " + error, kSource);
  }
}

}  // namespace

void CreateEngineDatabase(const std::string& path) { CreateDatabase(path, kEngineSchemaSql); }

void CreateCarrierDatabase(const std::string& path, const std::string& name, const std::string& prefix) {
  CreateDatabase(path, std::string(kCarrierSchemaSql) + ";INSERT INTO Carrier (NomeCarrier, sPrefissoInterconn) VALUES (" +
                           rdo::SqlQuote(name) + "," + rdo::SqlQuote(prefix) + ")");
}

}  // namespace ordalis
