#pragma once
// The carrier-comparison subcommands of the command-line host: calc (one
// call priced with a carrier's tariff file) and compare (a site's period
// priced with several carriers' files).
#include <CLI/CLI.hpp>

namespace ordalis::host {

// Registers calc and compare; each sets exit_code when it runs.
void AddComparisonCommands(CLI::App& app, int& exit_code);

}  // namespace ordalis::host
