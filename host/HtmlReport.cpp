#include "HtmlReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

namespace ordalis::host {
namespace {

constexpr const char* kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2"};
constexpr std::size_t kMostGroups = 25;  // bars in the chart of the groups

std::string Esc(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + Esc(title) +
         "</title><style>"
         "body{font-family:sans-serif;margin:2em;color:#222}table{border-collapse:collapse;margin:1em 0}"
         "th,td{padding:.25em .75em;border-bottom:1px solid #ddd}td.n,th.n{text-align:right}"
         "tr.total td{font-weight:bold;border-top:2px solid #444}svg{display:block;margin:1em 0}"
         "svg text{font-size:11px;fill:#222}.note{color:#a33}"
         "</style></head><body>\n" +
         body + "</body></html>\n";
}

struct Bar {
  std::string label;
  double value;
  std::string shown;
};

// Horizontal bars, one line per item.
std::string BarChart(const std::string& title, const std::vector<Bar>& bars) {
  const double label_w = 220, plot_w = 420, row_h = 22;
  double most = 0;
  for (const Bar& b : bars) most = std::max(most, b.value);
  const double height = 30 + row_h * static_cast<double>(bars.size());
  std::string svg = "<svg class=\"chart\" role=\"img\" width=\"760\" height=\"" + Num(height) +
                    "\" viewBox=\"0 0 760 " + Num(height) + "\"><title>" + Esc(title) + "</title>";
  svg += "<text x=\"0\" y=\"14\" style=\"font-weight:bold\">" + Esc(title) + "</text>";
  double y = 24;
  for (const Bar& b : bars) {
    const double w = most > 0 ? std::max(0.0, b.value) / most * plot_w : 0;
    svg += "<text x=\"" + Num(label_w - 6) + "\" y=\"" + Num(y + 14) + "\" text-anchor=\"end\">" + Esc(b.label) +
           "</text><rect class=\"bar\" x=\"" + Num(label_w) + "\" y=\"" + Num(y + 3) + "\" width=\"" + Num(w) +
           "\" height=\"" + Num(row_h - 6) + "\" fill=\"" + kPalette[0] + "\"/><text x=\"" + Num(label_w + w + 6) +
           "\" y=\"" + Num(y + 14) + "\">" + Esc(b.shown) + "</text>";
    y += row_h;
  }
  return svg + "</svg>\n";
}

// Vertical columns, one per item, in order (days).
std::string ColumnChart(const std::string& title, const std::vector<Bar>& columns) {
  const double left = 90, plot_w = 650, plot_h = 200, top = 24;
  double most = 0;
  for (const Bar& c : columns) most = std::max(most, c.value);
  const double step = columns.empty() ? 0 : plot_w / static_cast<double>(columns.size());
  std::string svg = "<svg class=\"chart\" role=\"img\" width=\"760\" height=\"" + Num(top + plot_h + 40) +
                    "\" viewBox=\"0 0 760 " + Num(top + plot_h + 40) + "\"><title>" + Esc(title) + "</title>";
  svg += "<text x=\"0\" y=\"14\" style=\"font-weight:bold\">" + Esc(title) + "</text>";
  svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(top + plot_h) + "\" x2=\"" + Num(left + plot_w) + "\" y2=\"" +
         Num(top + plot_h) + "\" stroke=\"#444\"/>";
  if (!columns.empty()) {
    auto top_label = std::max_element(columns.begin(), columns.end(),
                                      [](const Bar& a, const Bar& b) { return a.value < b.value; });
    svg += "<text x=\"" + Num(left - 4) + "\" y=\"" + Num(top + 10) + "\" text-anchor=\"end\">" +
           Esc(top_label->shown) + "</text>";
  }
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Bar& c = columns[i];
    const double h = most > 0 ? std::max(0.0, c.value) / most * plot_h : 0;
    const double x = left + step * static_cast<double>(i);
    svg += "<rect class=\"bar\" x=\"" + Num(x + step * 0.1) + "\" y=\"" + Num(top + plot_h - h) + "\" width=\"" +
           Num(std::max(1.0, step * 0.8)) + "\" height=\"" + Num(h) + "\" fill=\"" + kPalette[0] + "\"><title>" +
           Esc(c.label + ": " + c.shown) + "</title></rect>";
  }
  if (!columns.empty()) {
    svg += "<text x=\"" + Num(left) + "\" y=\"" + Num(top + plot_h + 16) + "\">" + Esc(columns.front().label) +
           "</text><text x=\"" + Num(left + plot_w) + "\" y=\"" + Num(top + plot_h + 16) + "\" text-anchor=\"end\">" +
           Esc(columns.back().label) + "</text>";
  }
  return svg + "</svg>\n";
}

}  // namespace

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  std::fprintf(stderr, "error: cannot write %s\n", path.c_str());
  return false;
}

std::string CallReportHtml(const CallReport& r) {
  const std::string by = ReportByName(r.request.by);
  const std::string period = dt::ToText(r.request.from) + " to " + dt::ToText(r.request.to);
  std::string body = "<h1>Calls from " + Esc(period) + "</h1>\n<p>" +
                     Esc(r.request.site.empty() ? std::string("All sites") : "Site " + r.request.site) + ", by " +
                     Esc(by) + ".</p>\n";
  if (r.unrated > 0)
    body += "<p class=\"note\">" + std::to_string(r.unrated) +
            " calls of the period are not rated yet and are not counted.</p>\n";
  if (r.currencies.empty()) body += "<p>No rated calls.</p>\n";
  for (const ReportCurrency& c : r.currencies) {
    auto money = [&](Money m) { return FormatAmount(m, c.decimals) + " " + c.code; };
    body += "<section class=\"currency\"><h2>" + Esc(c.code) + (c.name.empty() ? "" : " (" + Esc(c.name) + ")") +
            "</h2>\n<table><tr><th>" + Esc(by) +
            "</th><th class=\"n\">calls</th><th class=\"n\">minutes</th><th class=\"n\">cost</th></tr>\n";
    auto row = [&](const ReportGroup& g, const std::string& cls, const std::string& name) {
      char minutes[32];
      std::snprintf(minutes, sizeof minutes, "%.2f", static_cast<double>(g.seconds) / 60.0);
      body += "<tr" + cls + "><td>" + Esc(name.empty() ? "(none)" : name) +
              (g.label.empty() ? "" : " " + Esc(g.label)) + "</td><td class=\"n\">" + std::to_string(g.calls) +
              "</td><td class=\"n\">" + minutes + "</td><td class=\"n\">" + Esc(money(g.cost)) + "</td></tr>\n";
    };
    for (const ReportGroup& g : c.groups) row(g, "", g.name);
    row(c.total, " class=\"total\"", "total");
    body += "</table>\n";
    std::vector<Bar> bars, days;
    for (const ReportGroup& g : c.groups) {
      if (bars.size() == kMostGroups) break;
      bars.push_back({g.name.empty() ? "(none)" : g.name, g.cost.ToDouble(), money(g.cost)});
    }
    for (const ReportGroup& g : c.days) days.push_back({g.name, g.cost.ToDouble(), money(g.cost)});
    body += BarChart("Cost per " + by + " (" + c.code + ")", bars);
    body += ColumnChart("Cost per day (" + c.code + ")", days);
    body += "</section>\n";
  }
  return Page("Ordalis report " + period, body);
}

std::string ComparisonHtml(const ComparisonTable& table, const std::string& site, const std::string& from,
                           const std::string& to) {
  std::string body = "<h1>Carrier comparison, site " + Esc(site) + ", " + Esc(from) + " to " + Esc(to) + "</h1>\n";
  body += "<table><tr><th>carrier</th>";
  for (const char* column : kComparisonColumns) body += "<th class=\"n\">" + Esc(column) + "</th>";
  body += "</tr>\n";
  for (const ComparisonRow& row : table.rows) {
    body += "<tr><td>" + Esc(row.carrier) + "</td>";
    for (const Variant& cell : row.cells)
      body += "<td class=\"n\">" + Esc(cell.kind() == Variant::Kind::Money ? cell.ToMoney().ToText() : "not priced") +
              "</td>";
    body += "</tr>\n";
  }
  body += "</table>\n<p>Cheapest: " + Esc(table.cheapest.empty() ? std::string("none priced") : table.cheapest) +
          "</p>\n";

  // Grouped columns: one group per destination type (the total left out),
  // one column per carrier.
  const std::size_t types = kComparisonColumns.size() - 1, carriers = table.rows.size();
  double most = 0;
  for (const ComparisonRow& row : table.rows)
    for (std::size_t t = 0; t < types; ++t)
      if (row.cells[t].kind() == Variant::Kind::Money) most = std::max(most, row.cells[t].ToMoney().ToDouble());
  const double left = 20, top = 40, plot_h = 220, group_w = 140, bar_w = carriers ? (group_w - 20) / carriers : 0;
  std::string svg = "<svg class=\"chart\" role=\"img\" width=\"760\" height=\"" + Num(top + plot_h + 40) +
                    "\" viewBox=\"0 0 760 " + Num(top + plot_h + 40) +
                    "\"><title>Cost per destination type and carrier</title>"
                    "<text x=\"0\" y=\"14\" style=\"font-weight:bold\">Cost per destination type and carrier</text>";
  for (std::size_t r = 0; r < carriers; ++r)
    svg += "<rect x=\"" + Num(left + 150 * static_cast<double>(r)) + "\" y=\"20\" width=\"10\" height=\"10\" fill=\"" +
           kPalette[r % std::size(kPalette)] + "\"/><text x=\"" + Num(left + 150 * static_cast<double>(r) + 14) +
           "\" y=\"29\">" + Esc(table.rows[r].carrier) + "</text>";
  for (std::size_t t = 0; t < types; ++t) {
    const double gx = left + group_w * static_cast<double>(t);
    for (std::size_t r = 0; r < carriers; ++r) {
      const Variant& cell = table.rows[r].cells[t];
      const double x = gx + 10 + bar_w * static_cast<double>(r);
      if (cell.kind() != Variant::Kind::Money) {
        svg += "<text x=\"" + Num(x) + "\" y=\"" + Num(top + plot_h - 4) + "\" class=\"note\">n/p</text>";
        continue;
      }
      const double v = cell.ToMoney().ToDouble(), h = most > 0 ? std::max(0.0, v) / most * plot_h : 0;
      svg += "<rect class=\"bar\" x=\"" + Num(x) + "\" y=\"" + Num(top + plot_h - h) + "\" width=\"" +
             Num(std::max(1.0, bar_w - 2)) + "\" height=\"" + Num(h) + "\" fill=\"" +
             kPalette[r % std::size(kPalette)] + "\"><title>" +
             Esc(table.rows[r].carrier + ", " + kComparisonColumns[t] + ": " + cell.ToMoney().ToText()) +
             "</title></rect>";
    }
    svg += "<text x=\"" + Num(gx + group_w / 2) + "\" y=\"" + Num(top + plot_h + 16) + "\" text-anchor=\"middle\">" +
           Esc(kComparisonColumns[t]) + "</text>";
  }
  svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(top + plot_h) + "\" x2=\"" +
         Num(left + group_w * static_cast<double>(types)) + "\" y2=\"" + Num(top + plot_h) + "\" stroke=\"#444\"/>";
  body += svg + "</svg>\n";
  return Page("Ordalis carrier comparison " + site, body);
}

}  // namespace ordalis::host
