#include "ReportCommand.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "HtmlReport.h"
#include "Inputs.h"
#include "Printable.h"
#include "ordalis/CarrierComparison.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"

namespace ordalis::host {
namespace {

struct ReportOptions {
  ConnectOptions connect;
  std::string from, to, site, html;
  ReportBy by = ReportBy::Site;
  bool json = false, csv = false;
};

// Minutes to two decimals.
double Minutes(std::int64_t seconds) { return std::round(static_cast<double>(seconds) / 0.6) / 100.0; }

nlohmann::json GroupJson(const ReportGroup& g) {
  nlohmann::json j = {{"name", g.name}, {"calls", g.calls}, {"seconds", g.seconds},
                      {"minutes", Minutes(g.seconds)}, {"cost", g.cost.ToDouble()}};
  if (!g.label.empty()) j["label"] = g.label;
  return j;
}

nlohmann::json ReportJson(const CallReport& r) {
  nlohmann::json currencies = nlohmann::json::array();
  for (const ReportCurrency& c : r.currencies) {
    nlohmann::json groups = nlohmann::json::array(), days = nlohmann::json::array();
    for (const auto& g : c.groups) groups.push_back(GroupJson(g));
    for (const auto& g : c.days) days.push_back(GroupJson(g));
    nlohmann::json total = GroupJson(c.total);
    total.erase("name");
    currencies.push_back({{"code", c.code}, {"name", c.name}, {"symbol", c.symbol}, {"decimals", c.decimals},
                          {"known", c.known}, {"total", total}, {"groups", groups}, {"days", days}});
  }
  return {{"from", dt::ToText(r.request.from)},
          {"to", dt::ToText(r.request.to)},
          {"site", r.request.site.empty() ? nlohmann::json() : nlohmann::json(r.request.site)},
          {"by", ReportByName(r.request.by)},
          {"unrated", r.unrated},
          {"currencies", currencies}};
}

std::string ReportCsv(const CallReport& r) {
  std::string out = "currency,decimals,";
  out += ReportByName(r.request.by);
  out += ",label,calls,seconds,minutes,cost\n";
  char minutes[32];
  for (const ReportCurrency& c : r.currencies)
    for (const ReportGroup& g : c.groups) {
      std::snprintf(minutes, sizeof minutes, "%.2f", Minutes(g.seconds));
      out += CsvField(c.code) + "," + std::to_string(c.decimals) + "," + CsvField(g.name) + "," + CsvField(g.label) + "," +
             std::to_string(g.calls) + "," + std::to_string(g.seconds) + "," + minutes + "," + g.cost.ToText() + "\n";
    }
  return out;
}

int RunReport(const ReportOptions& o) {
  ReportRequest request;
  if (ReportUsageError({CheckDay(o.from, "--from", request.from), CheckDay(o.to, "--to", request.to)}))
    return kExitUsage;
  if (request.to < request.from) {
    std::fprintf(stderr, "error: --to %s is before --from %s\n", o.to.c_str(), o.from.c_str());
    return kExitUsage;
  }
  request.site = o.site;
  request.by = o.by;
  clsChiamate engine;
  if (int failed = InitEngine(engine, o.connect)) return failed;
  CallReport report;
  try {
    report = ReportCalls(engine, request);
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
    return 1;
  }
  if (!o.site.empty() && !ComparisonSiteExists(engine, o.site)) {
    // A site filter that names no site: an empty report would look like a quiet period.
    if (report.currencies.empty() && report.unrated == 0) {
      std::fprintf(stderr, "error: there is no site %s\n", o.site.c_str());
      return 1;
    }
    std::fprintf(stderr, "warning: site %s is not in the sites table\n", o.site.c_str());
  }
  for (const ReportCurrency& c : report.currencies)
    if (!c.known)
      std::fprintf(stderr, "warning: currency \"%s\" is not in table Valute: its amounts are shown with 4 decimals\n",
                   c.code.c_str());
  if (report.unrated > 0)
    std::fprintf(stderr, "warning: %lld calls of the period are not rated yet and are not counted (run process)\n",
                 static_cast<long long>(report.unrated));
  if (!o.html.empty() && !WriteFile(o.html, CallReportHtml(report))) return 1;
  if (o.json)
    std::printf("%s\n", ReportJson(report).dump().c_str());
  else if (o.csv)
    std::fputs(ReportCsv(report).c_str(), stdout);
  else if (o.html.empty())
    std::fputs(FormatCallReport(report).c_str(), stdout);
  return 0;
}

}  // namespace

std::string FormatCallReport(const CallReport& r, std::size_t most_groups) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "calls from %s to %s, %s%s, by %s\n", dt::ToText(r.request.from).c_str(),
                dt::ToText(r.request.to).c_str(), r.request.site.empty() ? "all sites" : "site ",
                r.request.site.c_str(), ReportByName(r.request.by));
  out += line;
  if (r.currencies.empty()) out += "no rated calls\n";
  for (const ReportCurrency& c : r.currencies) {
    std::snprintf(line, sizeof line, "\n%s%s%s%s, %d decimals\n", c.code.c_str(), c.name.empty() ? "" : " (",
                  c.name.c_str(), c.name.empty() ? "" : ")", c.decimals);
    out += line;
    std::snprintf(line, sizeof line, "%-32s %10s %12s %16s\n", ReportByName(r.request.by), "calls", "minutes", "cost");
    out += line;
    auto row = [&](const ReportGroup& g, const std::string& name) {
      std::string shown = name.empty() ? "(none)" : name;
      if (!g.label.empty()) shown += " " + g.label;
      std::snprintf(line, sizeof line, "%-32s %10lld %12.2f %16s\n", shown.c_str(), static_cast<long long>(g.calls),
                    Minutes(g.seconds), FormatAmount(g.cost, c.decimals).c_str());
      out += line;
    };
    for (std::size_t i = 0; i < c.groups.size() && i < most_groups; ++i) row(c.groups[i], c.groups[i].name);
    row(c.total, "total");
  }
  return out;
}

std::string DemoClosingReport(clsChiamate& engine, DateTime from, DateTime to) {
  std::string out;
  ReportRequest request;
  request.from = from;
  request.to = to;
  for (ReportBy by : {ReportBy::Site, ReportBy::DestinationType, ReportBy::Extension}) {
    request.by = by;
    out += "\n" + FormatCallReport(ReportCalls(engine, request), by == ReportBy::Extension ? 5 : SIZE_MAX);
  }
  return out;
}

void AddReportCommand(CLI::App& app, int& exit_code) {
  static ReportOptions o;
  auto* cmd = app.add_subcommand("report", "calls, minutes and cost of a period per group, per currency");
  AddConnectOptions(cmd, o.connect);
  cmd->add_option("--from", o.from, "first day, YYYY-MM-DD")->required();
  cmd->add_option("--to", o.to, "last day, YYYY-MM-DD")->required();
  cmd->add_option("--site", o.site, "only the calls of this site");
  const std::map<std::string, ReportBy> groupings = {
      {"site", ReportBy::Site},         {"department", ReportBy::Department},
      {"cost-centre", ReportBy::CostCentre}, {"extension", ReportBy::Extension},
      {"destination-type", ReportBy::DestinationType}, {"carrier", ReportBy::Carrier},
      {"day", ReportBy::Day}};
  cmd->add_option("--by", o.by, "group by site|department|cost-centre|extension|destination-type|carrier|day")
      ->transform(CLI::CheckedTransformer(groupings));
  auto* json = cmd->add_flag("--json", o.json, "print one JSON object");
  auto* csv = cmd->add_flag("--csv", o.csv, "print comma-separated values");
  auto* html = cmd->add_option("--html", o.html, "write a self-contained HTML page with charts to FILE");
  json->excludes(csv);
  html->excludes(json)->excludes(csv);
  cmd->callback([&] { exit_code = RunReport(o); });
}

}  // namespace ordalis::host
