#pragma once
// ordalis explain: why a call costs what it costs, step by step.
#include <CLI/CLI.hpp>

namespace ordalis::host {

// Registers explain; it sets exit_code when it runs.
void AddExplainCommand(CLI::App& app, int& exit_code);

}  // namespace ordalis::host
