#include "ComparisonCommands.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "Inputs.h"
#include "JsonValue.h"
#include "Printable.h"
#include "HtmlReport.h"
#include "Progress.h"
#include "ordalis/CarrierComparison.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"
#include "ordalis/EngineEvents.h"
#include "ordalis/clsChiamate.h"

namespace ordalis::host {
namespace {

std::atomic<clsChiamate*> g_comparing{nullptr};

void StopComparison(int) {
  if (clsChiamate* engine = g_comparing.load()) engine->StopIt();
}

class ComparisonEvents : public EngineEvents {
 public:
  explicit ComparisonEvents(Progress* progress) : progress_(progress) {}
  void ProgressChange(std::int32_t& done, std::int32_t& total) override {
    if (progress_) progress_->Update(done, total);
  }
  void Warning(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", Printable(text).c_str()); }
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", Printable(title).c_str(), Printable(text).c_str());
  }

 private:
  Progress* progress_;
};

bool CarrierFilesExist(const std::vector<std::string>& files) {
  for (const auto& f : files) {
    if (!std::filesystem::is_regular_file(f)) {
      std::fprintf(stderr, "error: no carrier file %s\n", f.c_str());
      return false;
    }
  }
  return true;
}

// Initialises the engine for a comparison: the prefix database (NearbyAreas,
// Regionali) is --prefix-db, else each carrier's own file.
int OpenEngine(clsChiamate& engine, const ConnectOptions& connect, const std::string& prefix_db) {
  if (!prefix_db.empty() && !std::filesystem::is_regular_file(prefix_db)) {
    std::fprintf(stderr, "error: no prefix database %s\n", prefix_db.c_str());
    return kExitError;
  }
  engine.set_PrefissiMDB(prefix_db);
  return InitEngine(engine, connect);
}

struct CalcOptions {
  ConnectOptions connect;
  std::string carrier_file, prefix_db, site, extension, number, date, time;
  int duration = 0;
  bool json = false;
};

int RunCalc(const CalcOptions& o) {
  DateTime day = 0, time = 0;
  if (ReportUsageError({CheckDay(o.date, "--date", day), CheckTime(o.time, "--time", time)})) return kExitUsage;
  if (!CarrierFilesExist({o.carrier_file})) return kExitError;
  clsChiamate engine;
  ComparisonEvents events(nullptr);
  engine.SetEvents(&events);
  if (int code = OpenEngine(engine, o.connect, o.prefix_db)) return code;
  engine.set_Errore("");  // what follows reports the comparison load's own errors
  try {
    engine.CalcolaChiamata(day, time, o.duration / 86400.0, o.number, o.carrier_file, o.site, o.extension, true);
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", Printable(engine.Errore().empty() ? e.Description() : engine.Errore()).c_str());
    return kExitError;
  }
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "error: %s\n", Printable(engine.Errore()).c_str());
    return kExitError;
  }
  if (!ComparisonSiteExists(engine, o.site)) {
    std::fprintf(stderr, "error: there is no site %s\n", o.site.c_str());
    return kExitError;
  }
  const std::string why = engine.ZeroCostReason(tcCosto3);
  auto fields = DatiTariffaFields(engine);
  if (o.json) {
    nlohmann::ordered_json out;
    out["cCosto3_c"] = engine.cCosto3_c().ToDouble();
    out["DatiTariffa"] = nullptr;
    for (const auto& [name, value] : fields) out["DatiTariffa"][name] = ToJson(value);
    out["zero_cost_reason"] = why.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(why);
    std::printf("%s\n", out.dump().c_str());
  } else {
    std::printf("%-20s %s\n", "cCosto3_c", engine.cCosto3_c().ToText().c_str());
    for (const auto& [name, value] : fields) std::printf("%-20s %s\n", name.c_str(), Printable(value.ToText()).c_str());
  }
  if (!why.empty()) std::fprintf(stderr, "cost 0: %s\n", why.c_str());
  return 0;
}

struct CompareOptions {
  ConnectOptions connect;
  std::string prefix_db, site, from, to;
  std::vector<std::string> carrier_files;
  std::string html;
  bool json = false, csv = false;
};

void PrintJson(const CompareOptions& o, const ComparisonTable& table) {
  nlohmann::ordered_json out{{"site", o.site}, {"from", o.from}, {"to", o.to}};
  out["carriers"] = nlohmann::ordered_json::array();
  for (const auto& row : table.rows) {
    nlohmann::ordered_json carrier{{"carrier", row.carrier}, {"file", row.file}};
    // A cell the carrier could not price holds no amount: null.
    for (std::size_t c = 0; c < kComparisonColumns.size(); ++c)
      carrier[kComparisonColumns[c]] =
          row.cells[c].kind() == Variant::Kind::Text ? nlohmann::ordered_json() : ToJson(row.cells[c]);
    carrier["complete"] = row.complete;
    carrier["unpriced"] = row.unpriced;
    out["carriers"].push_back(std::move(carrier));
  }
  out["cheapest"] = table.cheapest.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(table.cheapest);
  std::printf("%s\n", out.dump().c_str());
}

int RunCompare(const CompareOptions& o) {
  DateTime from = 0, to = 0;
  if (ReportUsageError({CheckDay(o.from, "--from", from), CheckDay(o.to, "--to", to)})) return kExitUsage;
  if (!CarrierFilesExist(o.carrier_files)) return kExitError;
  clsChiamate engine;
  Progress progress("comparing");
  ComparisonEvents events(&progress);
  engine.SetEvents(&events);
  if (int code = OpenEngine(engine, o.connect, o.prefix_db)) return code;
  ComparisonTable table;
  g_comparing = &engine;
  auto previous = std::signal(SIGINT, StopComparison);
  try {
    table = CompareCarriers(engine, o.site, from, to, o.carrier_files);
  } catch (const ComponentError& e) {
    std::signal(SIGINT, previous);
    g_comparing = nullptr;
    progress.Finish();
    std::fprintf(stderr, "error: %s\n", Printable(e.Description()).c_str());
    return kExitError;
  }
  std::signal(SIGINT, previous);
  g_comparing = nullptr;
  progress.Finish();
  if (engine.mbStop()) std::fprintf(stderr, "interrupted: the totals cover the calls priced so far\n");
  if (!o.html.empty() && !WriteFile(o.html, ComparisonHtml(table, o.site, o.from, o.to))) return 1;

  if (o.json) {
    PrintJson(o, table);
  } else if (o.csv) {
    std::printf("Carrier");
    for (const char* title : kComparisonColumns) std::printf(",%s", CsvField(title).c_str());
    std::printf(",Unpriced calls\n");
    for (const auto& row : table.rows) {
      std::printf("%s", CsvField(row.carrier).c_str());
      for (const auto& cell : row.cells)
        std::printf(",%s", cell.kind() == Variant::Kind::Text ? "" : CsvField(cell.ToText()).c_str());
      std::printf(",%d\n", row.unpriced);
    }
    std::fprintf(stderr, "cheapest: %s\n",
                 table.cheapest.empty() ? "none (no carrier priced every call)" : Printable(table.cheapest).c_str());
  } else {
    std::printf("%s", Printable(FormatComparisonTable(table), true).c_str());
  }
  return engine.mbStop() ? kExitInterrupted : 0;
}

}  // namespace

void AddComparisonCommands(CLI::App& app, int& exit_code) {
  static CalcOptions calc;
  auto* cmd = app.add_subcommand("calc", "price one outgoing call with a carrier's tariff file; nothing is written");
  AddConnectOptions(cmd, calc.connect);
  cmd->add_option("--carrier-file", calc.carrier_file, "carrier tariff file")->required();
  cmd->add_option("--prefix-db", calc.prefix_db,
                  "prefix database with NearbyAreas and Regionali (default: the carrier file)");
  cmd->add_option("--site", calc.site, "site code")->required();
  cmd->add_option("--extension", calc.extension, "calling extension")->required();
  cmd->add_option("--number", calc.number, "dialled number")->required();
  cmd->add_option("--date", calc.date, "YYYY-MM-DD")->required();
  cmd->add_option("--time", calc.time, "HH:MM:SS")->required();
  cmd->add_option("--duration", calc.duration, "whole seconds, 0 to 86399")->required()->check(CLI::Range(0, 86399));
  cmd->add_flag("--json", calc.json, "print one JSON object");
  cmd->callback([&] { exit_code = RunCalc(calc); });

  static CompareOptions compare;
  cmd = app.add_subcommand("compare", "price a site's outgoing calls of a period with several carriers");
  AddConnectOptions(cmd, compare.connect);
  cmd->add_option("--prefix-db", compare.prefix_db,
                  "prefix database with NearbyAreas and Regionali (default: each carrier's own file)");
  cmd->add_option("--site", compare.site, "site code")->required();
  cmd->add_option("--from", compare.from, "first day, YYYY-MM-DD")->required();
  cmd->add_option("--to", compare.to, "last day, YYYY-MM-DD")->required();
  cmd->add_option("--carrier-file", compare.carrier_files, "carrier tariff file (repeat for each carrier)")
      ->required()
      ->take_all()
      ->allow_extra_args(false);
  auto* json = cmd->add_flag("--json", compare.json, "print one JSON object");
  auto* csv = cmd->add_flag("--csv", compare.csv, "print comma-separated values");
  json->excludes(csv);
  cmd->add_option("--html", compare.html, "also write a self-contained HTML page with a chart to FILE");
  cmd->callback([&] { exit_code = RunCompare(compare); });
}

}  // namespace ordalis::host
