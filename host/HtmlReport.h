#pragma once
// Self-contained HTML pages (inline style and SVG charts, nothing fetched
// from anywhere) for the report and the carrier comparison.
#include <string>

#include "ordalis/CallReport.h"
#include "ordalis/CarrierComparison.h"

namespace ordalis::host {

// Per currency: a table of the groups, a bar chart of the cost per group
// and a column chart of the cost per day.
std::string CallReportHtml(const CallReport& report);

// The carriers side by side per destination type, as a table and a chart.
std::string ComparisonHtml(const ComparisonTable& table, const std::string& site, const std::string& from,
                           const std::string& to);

// Writes a page; false (message printed) when the file cannot be written.
bool WriteFile(const std::string& path, const std::string& text);

}  // namespace ordalis::host
