#pragma once
// The subcommands of the command-line host.
#include <CLI/CLI.hpp>

namespace ordalis::host {

// Registers process, run, demo, init-db and init-carrier; each sets
// exit_code when it runs.
void AddCommands(CLI::App& app, int& exit_code);

}  // namespace ordalis::host
