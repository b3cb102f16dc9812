#pragma once
// ordalis report: calls, minutes and cost of a period per group and currency.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "ordalis/CallReport.h"
#include "ordalis/clsChiamate.h"

namespace ordalis::host {

// Registers report; it sets exit_code when it runs.
void AddReportCommand(CLI::App& app, int& exit_code);

// The report as fixed-width text, one table per currency (its first
// `most_groups` groups and the total), amounts rounded to the currency's
// decimals.
std::string FormatCallReport(const CallReport& report, std::size_t most_groups = SIZE_MAX);

// The demo's closing report of the period: by site, by destination type and
// the five extensions that cost most. Throws ComponentError like ReportCalls.
std::string DemoClosingReport(clsChiamate& engine, DateTime from, DateTime to);

}  // namespace ordalis::host
