#include "ComparisonCommands.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "HtmlReport.h"
#include "Json.h"
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
  void Warning(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", text.c_str()); }
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }

 private:
  Progress* progress_;
};

// A value as JSON: numbers bare, everything else (dates, "0.") as strings.
std::string JsonValue(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Integer:
    case Variant::Kind::Double:
    case Variant::Kind::Single:
    case Variant::Kind::Money:
      return v.ToText();
    default:
      return Json(v.ToText());
  }
}

std::string Csv(const std::string& s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

bool ParseDay(const std::string& text, const char* what, DateTime& out) {
  try {
    out = dt::FromText(text);
    if (dt::TimePart(out) == 0 && text.size() == 10) return true;
  } catch (const ComponentError&) {
  }
  std::fprintf(stderr, "error: %s must be YYYY-MM-DD, not \"%s\"\n", what, text.c_str());
  return false;
}

bool OpenEngine(clsChiamate& engine, const std::string& db) {
  if (!std::filesystem::exists(db)) {
    std::fprintf(stderr, "error: no database file %s\n", db.c_str());
    return false;
  }
  engine.set_TipoDb(dbAccess);
  engine.Init(db);
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "error: %s\n", engine.Errore().c_str());
    return false;
  }
  return true;
}

bool CarrierFilesExist(const std::vector<std::string>& files) {
  for (const auto& f : files) {
    if (!std::filesystem::is_regular_file(f)) {
      std::fprintf(stderr, "error: no carrier file %s\n", f.c_str());
      return false;
    }
  }
  return true;
}

struct CalcOptions {
  std::string db, carrier_file, site, extension, number, date, time;
  int duration = 0;
  bool json = false;
};

int RunCalc(const CalcOptions& o) {
  DateTime day = 0, time = 0;
  if (!ParseDay(o.date, "--date", day)) return 2;
  try {
    time = dt::FromText(o.time);
  } catch (const ComponentError&) {
    std::fprintf(stderr, "error: --time must be HH:MM:SS, not \"%s\"\n", o.time.c_str());
    return 2;
  }
  if (!CarrierFilesExist({o.carrier_file})) return 1;
  clsChiamate engine;
  ComparisonEvents events(nullptr);
  engine.SetEvents(&events);
  if (!OpenEngine(engine, o.db)) return 1;
  try {
    engine.CalcolaChiamata(day, time, o.duration / 86400.0, o.number, o.carrier_file, o.site, o.extension, true);
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", (engine.Errore().empty() ? e.Description() : engine.Errore()).c_str());
    return 1;
  }
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "error: %s\n", engine.Errore().c_str());
    return 1;
  }
  if (!ComparisonSiteExists(engine, o.site)) {
    std::fprintf(stderr, "error: there is no site %s\n", o.site.c_str());
    return 1;
  }
  const std::string cost = engine.cCosto3_c().ToText();
  auto fields = DatiTariffaFields(engine);
  if (o.json) {
    std::printf("{\"cCosto3_c\": %s, \"DatiTariffa\": ", cost.c_str());
    if (fields.empty()) {
      std::printf("null}\n");
    } else {
      std::printf("{");
      for (std::size_t i = 0; i < fields.size(); ++i)
        std::printf("%s%s: %s", i ? ", " : "", Json(fields[i].first).c_str(), JsonValue(fields[i].second).c_str());
      std::printf("}}\n");
    }
  } else {
    std::printf("%-20s %s\n", "cCosto3_c", cost.c_str());
    if (fields.empty()) std::printf("no tariff of this carrier applies to the call\n");
    for (const auto& [name, value] : fields) std::printf("%-20s %s\n", name.c_str(), value.ToText().c_str());
  }
  return 0;
}

struct CompareOptions {
  std::string db, site, from, to;
  std::vector<std::string> carrier_files;
  std::string html;
  bool json = false, csv = false;
};

int RunCompare(const CompareOptions& o) {
  DateTime from = 0, to = 0;
  if (!ParseDay(o.from, "--from", from) || !ParseDay(o.to, "--to", to)) return 2;
  if (!CarrierFilesExist(o.carrier_files)) return 1;
  clsChiamate engine;
  Progress progress("comparing");
  ComparisonEvents events(&progress);
  engine.SetEvents(&events);
  if (!OpenEngine(engine, o.db)) return 1;
  ComparisonTable table;
  g_comparing = &engine;
  auto previous = std::signal(SIGINT, StopComparison);
  try {
    table = CompareCarriers(engine, o.site, from, to, o.carrier_files);
  } catch (const ComponentError& e) {
    std::signal(SIGINT, previous);
    g_comparing = nullptr;
    progress.Finish();
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
    return 1;
  }
  std::signal(SIGINT, previous);
  g_comparing = nullptr;
  progress.Finish();
  if (engine.mbStop()) std::fprintf(stderr, "interrupted: the totals cover the calls priced so far\n");
  if (!o.html.empty() && !WriteFile(o.html, ComparisonHtml(table, o.site, o.from, o.to))) return 1;

  if (o.json) {
    std::printf("{\"site\": %s, \"from\": %s, \"to\": %s, \"carriers\": [", Json(o.site).c_str(), Json(o.from).c_str(),
                Json(o.to).c_str());
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const auto& row = table.rows[r];
      std::printf("%s{\"carrier\": %s, \"file\": %s", r ? ", " : "", Json(row.carrier).c_str(), Json(row.file).c_str());
      for (std::size_t c = 0; c < kComparisonColumns.size(); ++c)
        std::printf(", %s: %s", Json(kComparisonColumns[c]).c_str(), JsonValue(row.cells[c]).c_str());
      std::printf("}");
    }
    std::printf("], \"cheapest\": %s}\n", Json(table.cheapest).c_str());
  } else if (o.csv) {
    std::printf("Carrier");
    for (const char* title : kComparisonColumns) std::printf(",%s", Csv(title).c_str());
    std::printf("\n");
    for (const auto& row : table.rows) {
      std::printf("%s", Csv(row.carrier).c_str());
      for (const auto& cell : row.cells) std::printf(",%s", Csv(cell.ToText()).c_str());
      std::printf("\n");
    }
    std::fprintf(stderr, "cheapest: %s\n", table.cheapest.c_str());
  } else {
    std::printf("%s", FormatComparisonTable(table).c_str());
  }
  return engine.mbStop() ? 130 : 0;
}

}  // namespace

void AddComparisonCommands(CLI::App& app, int& exit_code) {
  static CalcOptions calc;
  auto* cmd = app.add_subcommand("calc", "price one outgoing call with a carrier's tariff file; nothing is written");
  cmd->add_option("--db", calc.db, "engine database file (SQLite)")->required();
  cmd->add_option("--carrier-file", calc.carrier_file, "carrier tariff file")->required();
  cmd->add_option("--site", calc.site, "site code")->required();
  cmd->add_option("--extension", calc.extension, "calling extension")->required();
  cmd->add_option("--number", calc.number, "dialled number")->required();
  cmd->add_option("--date", calc.date, "YYYY-MM-DD")->required();
  cmd->add_option("--time", calc.time, "HH:MM:SS")->required();
  cmd->add_option("--duration", calc.duration, "seconds")->required()->check(CLI::Range(0, 86399));
  cmd->add_flag("--json", calc.json, "print one JSON object");
  cmd->callback([&] { exit_code = RunCalc(calc); });

  static CompareOptions compare;
  cmd = app.add_subcommand("compare", "price a site's outgoing calls of a period with several carriers");
  cmd->add_option("--db", compare.db, "engine database file (SQLite)")->required();
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
