#pragma once
// The text of a --dsn option: a data-source name ("calls", also with
// attributes after it: "calls;Database=x;") or a full ODBC connect string ("DSN=calls;UID=ordalis;PWD=secret;", "Driver={PostgreSQL
// Unicode};Server=db;Database=calls;"). Every command that takes --dsn
// turns it into what it needs with these two functions.
#include <string>

namespace ordalis::host {

// As the engine's database name for a data source: the engine connects
// with "DSN=" + this + ";" followed by its user and password, so the
// data-source name comes first and the other attributes follow it.
std::string EngineDataSource(const std::string& dsn);

// As a full connect string for the data access, with UID and PWD added
// when given and not already in the text.
std::string DataSourceConnect(const std::string& dsn, const std::string& user, const std::string& pwd);

}  // namespace ordalis::host
