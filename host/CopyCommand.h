#pragma once
// `ordalis copy`: moves an installation's engine database between an SQLite
// file and a database server.
#include <CLI/CLI.hpp>
#include <string>

namespace ordalis::host {

void AddCopyCommand(CLI::App& app, int& exit_code);

// Copies the engine database file `database` into the data source `dsn`
// (a name or a connect string), with a progress bar; false (message
// printed) on failure.
bool CopyFileToDataSource(const std::string& database, const std::string& dsn, const std::string& user,
                          const std::string& pwd);

}  // namespace ordalis::host
