#include "ExplainCommand.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "Commands.h"
#include "ordalis/CallExplanation.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"

namespace ordalis::host {
namespace {

struct ExplainOptions {
  ConnectOptions connect;
  long long id = 0;
  std::string site, extension, number, date, time, type = "O", line;
  int duration = 0, pulses = 0;
  bool json = false;
};

class Warnings : public EngineEvents {
 public:
  void Warning(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", text.c_str()); }
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
};

nlohmann::json ValueJson(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Null: return nullptr;
    case Variant::Kind::Integer: return v.ToInteger();
    case Variant::Kind::Double:
    case Variant::Kind::Single:
    case Variant::Kind::Money: return v.ToDouble();
    case Variant::Kind::Bool: return v.ToBool();
    default: return v.ToText();
  }
}

nlohmann::json TraceJson(const RatingTrace& trace) {
  nlohmann::json steps = nlohmann::json::array(), result = nlohmann::json::object();
  for (const TraceStep& s : trace.Steps()) {
    nlohmann::json figures = nlohmann::json::object();
    for (const auto& [name, value] : s.figures) figures[name] = ValueJson(value);
    if (s.section == kTraceResult) {
      result = figures;
      continue;
    }
    steps.push_back({{"section", s.section},
                     {"subject", s.subject},
                     {"outcome", s.outcome},
                     {"reason", s.reason},
                     {"level", s.level},
                     {"figures", figures}});
  }
  return {{"steps", steps}, {"result", result}};
}

std::string TraceText(const RatingTrace& trace) {
  std::string out, section;
  for (const TraceStep& s : trace.Steps()) {
    if (s.section != section) {
      section = s.section;
      out += (out.empty() ? "" : "\n") + section + "\n";
    }
    if (s.section == kTraceResult) {
      for (const auto& [name, value] : s.figures) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-20s %s\n", name.c_str(), value.ToText().c_str());
        out += line;
      }
      continue;
    }
    const std::string indent(2 + 4 * static_cast<std::size_t>(s.level), ' ');
    out += indent + s.subject + ": " + s.outcome;
    if (!s.reason.empty()) out += " (" + s.reason + ")";
    out += "\n";
    if (!s.figures.empty()) {
      std::string figures;
      for (const auto& [name, value] : s.figures) {
        const std::string text = value.ToText();
        if (text.empty()) continue;
        figures += (figures.empty() ? "" : ", ") + name + " " + text;
      }
      if (!figures.empty()) out += indent + "    " + figures + "\n";
    }
  }
  return out;
}

int RunExplain(const ExplainOptions& o, bool stored) {
  if (!stored && (o.site.empty() || o.extension.empty() || o.number.empty() || o.date.empty() || o.time.empty())) {
    std::fprintf(stderr, "error: give --id N, or --site, --extension, --number, --date, --time and --duration\n");
    return 2;
  }
  clsChiamate engine;
  Warnings warnings;
  engine.SetEvents(&warnings);
  if (int failed = InitEngine(engine, o.connect)) return failed;
  RatingTrace trace;
  try {
    if (stored) {
      ExplainStoredCall(engine, static_cast<std::int32_t>(o.id), trace);
    } else {
      try {
        engine.set_Data(o.date);
        engine.set_Ora(o.time);
      } catch (const ComponentError& e) {
        std::fprintf(stderr, "error: bad date or time: %s\n", e.Description().c_str());
        return 2;
      }
      DescribeCall(engine, o.site, o.extension, o.number, o.duration, o.type, o.line, o.pulses);
      ExplainCall(engine, trace);
    }
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
    return 1;
  }
  if (o.json)
    std::printf("%s\n", TraceJson(trace).dump().c_str());
  else
    std::fputs(TraceText(trace).c_str(), stdout);
  return 0;
}

}  // namespace

void AddExplainCommand(CLI::App& app, int& exit_code) {
  static ExplainOptions o;
  auto* cmd = app.add_subcommand(
      "explain", "show step by step how the engine rates a call (a stored one, or one described as for run); "
                 "nothing is written");
  AddConnectOptions(cmd, o.connect);
  auto* id = cmd->add_option("--id", o.id, "lPKId of a call of CHIAMATE")->check(CLI::Range(1LL, 2147483647LL));
  auto call_option = [&](const char* name, std::string& into, const char* help) {
    cmd->add_option(name, into, help)->excludes(id);
  };
  call_option("--site", o.site, "site code");
  call_option("--extension", o.extension, "calling extension");
  call_option("--number", o.number, "dialled number");
  call_option("--date", o.date, "YYYY-MM-DD");
  call_option("--time", o.time, "HH:MM:SS");
  call_option("--type", o.type, "call type: O outgoing, E internal");
  call_option("--line", o.line, "trunk line");
  cmd->add_option("--duration", o.duration, "seconds")->check(CLI::NonNegativeNumber)->excludes(id);
  cmd->add_option("--pulses", o.pulses, "metering pulses")->check(CLI::NonNegativeNumber)->excludes(id);
  cmd->add_flag("--json", o.json, "print one JSON object");
  cmd->callback([&exit_code, id] { exit_code = RunExplain(o, id->count() > 0); });
}

}  // namespace ordalis::host
