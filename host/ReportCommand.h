#pragma once
// ordalis report: calls, minutes and cost of a period per group and currency.
#include <CLI/CLI.hpp>
#include <string>

#include "ordalis/CallReport.h"

namespace ordalis::host {

// Registers report; it sets exit_code when it runs.
void AddReportCommand(CLI::App& app, int& exit_code);

// The report as fixed-width text, one table per currency, amounts rounded
// to the currency's decimals.
std::string FormatCallReport(const CallReport& report);

}  // namespace ordalis::host
