#pragma once
// The import subcommand: appends call records exported by exchanges to the
// engine's call tables.
#include <CLI/CLI.hpp>

namespace ordalis::host {

// Registers import; it sets exit_code when it runs.
void AddImportCommand(CLI::App& app, int& exit_code);

}  // namespace ordalis::host
