#include "Commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "CopyCommand.h"
#include "DataSource.h"
#include "Home.h"
#include "Inputs.h"
#include "JsonValue.h"
#include "Printable.h"
#include "Progress.h"
#include "ScratchCopy.h"
#include "ReportCommand.h"
#include "Workers.h"
#include "demo/Demo.h"
#include "ordalis/CarrierComparison.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"

namespace ordalis::host {
namespace {

std::atomic<clsChiamate*> g_running{nullptr};
std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  g_interrupted = true;
  if (clsChiamate* engine = g_running.load()) engine->StopIt();
}

// Prints the engine's events on stderr.
class ConsoleEvents : public EngineEvents {
 public:
  explicit ConsoleEvents(Progress& progress, WorkerReport* report = nullptr) : progress_(progress), report_(report) {}
  void ProgressChange(std::int32_t& done, std::int32_t& total) override {
    done_ = done;
    total_ = total;
    if (report_)
      report_->Update(done, total);
    else
      progress_.Update(done, total);
  }
  void SaveDataError(std::int16_t& attempt, std::string& desc, std::int16_t& code) override {
    // The event carries no description: the reason is the engine's.
    const clsChiamate* engine = g_running.load();
    const std::string& why = desc.empty() && engine ? engine->LastSaveError() : desc;
    std::fprintf(stderr, "\nsave failed (attempt %d)%s%s\n", attempt, why.empty() ? "" : ": ", Printable(why).c_str());
  }
  void Warning(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", Printable(text).c_str()); }
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", Printable(title).c_str(), Printable(text).c_str());
  }
  std::int32_t done_ = 0, total_ = 0;

 private:
  Progress& progress_;
  WorkerReport* report_;
};

}  // namespace

void AddConnectOptions(CLI::App* cmd, ConnectOptions& o) {
  auto* db = cmd->add_option("--db", o.db, "engine database file (SQLite)");
  auto* dsn = cmd->add_option("--dsn", o.dsn, "ODBC data source: a name or a connect string");
  db->excludes(dsn);
  cmd->add_option("--user", o.user, "login name for the data source");
  cmd->add_option("--pwd", o.pwd, "password for the data source (default: $ORDALIS_PWD)")->envname("ORDALIS_PWD");
  cmd->add_option("--home", o.home, "installation folder (default: $ORDALIS_HOME, else the folder of --db)");
  cmd->add_flag("--keep-going", o.keep_going, "rate even when loading the reference data reported an error");
}

void DescribeCall(clsChiamate& engine, const std::string& site, const std::string& extension,
                  const std::string& number, int duration_s, const std::string& type, const std::string& line,
                  int pulses) {
  engine.set_sSito(site);
  engine.SetProperty("sDerivato", extension);
  engine.SetProperty("sNumero", number);
  engine.SetProperty("dDurata", Variant::FromDate(static_cast<double>(duration_s) / 86400));
  engine.SetProperty("sTipo", type);
  engine.SetProperty("sLinea", line);
  engine.SetProperty("lScatti", pulses);
}

int InitEngine(clsChiamate& engine, const ConnectOptions& o) {
  if (o.db.empty() == o.dsn.empty()) {
    std::fprintf(stderr, "error: give one of --db FILE or --dsn NAME\n");
    return kExitUsage;
  }
  UseHome(ResolveHome(o.home, o.db));
  engine.set_TipoDb(o.dsn.empty() ? dbAccess : dbSql);
  engine.set_User(o.user);
  engine.set_Pwd(o.pwd);
  engine.Init(o.dsn.empty() ? o.db : EngineDataSource(o.dsn));
  if (!engine.ConnectionOpen()) {
    const std::string& cause = engine.ConnectionError();
    std::fprintf(stderr, "error: %s%s%s\n", Printable(engine.Errore()).c_str(), cause.empty() ? "" : ": ",
                 Printable(cause).c_str());
    return kExitError;
  }
  if (!engine.Errore().empty()) {
    if (!o.keep_going) {
      std::fprintf(stderr, "error: loading the reference data failed: %s; nothing rated (--keep-going rates with what loaded)\n",
                   engine.Errore().c_str());
      return kExitError;
    }
    std::fprintf(stderr, "warning: loading the reference data failed: %s (going on: --keep-going)\n",
                 engine.Errore().c_str());
  }
  return 0;
}

namespace {

struct ProcessOptions {
  ConnectOptions connect;
  std::string filter, operation, shard, workers;
  bool nocount = false, batch_update = false, no_undo = false, worker = false, strict = false;
};

// What the run left unpriced, per call table; whether anything was.
bool PrintRunTally(const clsChiamate& engine) {
  static const char* const kTables[] = {"CHIAMATE", "CHIAMATEINTERNE"};
  bool any = false;
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& t = engine.LastRunTally()[i];
    if (t.rated == 0) continue;
    std::printf("%-16s rated: %d, no tariff (cost 0): %d, unknown site: %d, unknown extension: %d\n", kTables[i],
                t.rated, t.no_tariff, t.unknown_site, t.unknown_extension);
    any = any || t.no_tariff + t.unknown_site + t.unknown_extension > 0;
  }
  return any;
}

// The command line of one worker of `process --workers`, without its shard.
// The password goes to the workers through ORDALIS_PWD, not their command
// line, which any user of the machine can read.
std::vector<std::string> WorkerArguments(const ProcessOptions& o) {
  std::vector<std::string> args = {"process"};
  const auto add = [&](const char* name, const std::string& value) {
    if (!value.empty()) args.insert(args.end(), {name, value});
  };
  add("--db", o.connect.db);
  add("--dsn", o.connect.dsn);
  add("--user", o.connect.user);
  add("--home", o.connect.home);
  add("--filter", o.filter);
  add("--operation", o.operation);
  if (o.connect.keep_going) args.push_back("--keep-going");
  if (o.nocount) args.push_back("--nocount");
  if (o.batch_update) args.push_back("--batch-update");
  if (o.no_undo) args.push_back("--no-undo");
  if (o.strict) args.push_back("--strict");
  return args;
}

int RunProcess(ProcessOptions o) {
  if (ReportUsageError({CheckFilter(o.filter), o.operation.empty() ? "" : CheckOperation(o.operation)}))
    return kExitUsage;
  std::string error;
  if (!o.workers.empty()) {
    // Validated as the shard count of "1/N" is.
    const std::optional<Shard> all = ParseShard("1/" + o.workers, error);
    if (!all || !o.shard.empty()) {
      std::fprintf(stderr, "error: --workers takes a whole number from 1 to %d, without --shard\n", kMostShards);
      return kExitUsage;
    }
    if (!o.connect.pwd.empty()) ::setenv("ORDALIS_PWD", o.connect.pwd.c_str(), 1);
    return RunWorkers(all->count, WorkerArguments(o));
  }
  if (!o.shard.empty()) {
    const std::optional<Shard> shard = ParseShard(o.shard, error);
    if (!shard) {
      std::fprintf(stderr, "error: %s\n", error.c_str());
      return kExitUsage;
    }
    o.filter = ShardFilter(o.filter, *shard);
  }
  clsChiamate engine;
  Progress progress("rating");
  WorkerReport report;
  ConsoleEvents events(progress, o.worker ? &report : nullptr);
  engine.SetEvents(&events);
  // The caches take the write-back mode when Init loads them.
  engine.set_TipoAggiornamento(o.batch_update ? utBatch : utImmediate);
  // Timed from before the reference data load, as `--workers` times its
  // workers, so that the two rates compare.
  const auto start = std::chrono::steady_clock::now();
  if (int code = InitEngine(engine, o.connect)) return code;
  engine.set_Filter(o.filter);
  if (!o.operation.empty()) engine.set_Operation(o.operation);
  engine.set_NoCount(o.nocount);
  engine.set_NoUndo(o.no_undo);
  engine.set_SharedRun(!o.shard.empty());
  g_running = &engine;
  auto previous = std::signal(SIGINT, OnInterrupt);
  int code = 0;
  try {
    engine.Process();
  } catch (const ComponentError& e) {
    progress.Finish();
    std::fprintf(stderr, "error %d: %s (%s)\n", e.Number(), Printable(e.Description()).c_str(), e.Source().c_str());
    code = kExitError;
  }
  std::signal(SIGINT, previous);
  g_running = nullptr;
  if (o.worker) report.Update(events.done_, events.total_, true);
  progress.Finish();
  if (code != 0) return code;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The rows written back, not the progress counter: that restarts at the
  // second table without counts and includes a call stopped before its save.
  const std::int32_t saved = engine.CallsSaved();
  std::printf("calls rated: %d, seconds: %.2f, calls per second: %.0f%s\n", saved, seconds,
              seconds > 0 ? saved / seconds : 0.0, g_interrupted ? ", interrupted" : "");
  const bool unpriced = PrintRunTally(engine);
  if (g_interrupted) return kExitInterrupted;
  if (unpriced && o.strict) {
    std::fprintf(stderr, "error: calls were left unpriced (--strict)\n");
    return kExitUnpriced;
  }
  return 0;
}

struct RunOptions {
  ConnectOptions connect;
  std::string site, extension, number, date, time, type = "O", line;
  int duration = 0, pulses = 0;
  bool json = false, dry_run = false;
};

int RateOneCall(const RunOptions& o, DateTime day, DateTime time) {
  clsChiamate engine;
  Progress progress("run");
  ConsoleEvents events(progress);
  engine.SetEvents(&events);
  if (int code = InitEngine(engine, o.connect)) return code;
  engine.SetProperty("dData", Variant::FromDate(day));
  engine.SetProperty("dOra", Variant::FromDate(time));
  DescribeCall(engine, o.site, o.extension, o.number, o.duration, o.type, o.line, o.pulses);
  engine.Run();
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "error: %s\n", Printable(engine.Errore()).c_str());
    return kExitError;
  }
  const std::string why = engine.ZeroCostReason(tcCosto1);
  if (o.json) {
    nlohmann::ordered_json out;
    for (const std::string& name : clsChiamate::MirrorPropertyNames()) out[name] = ToJson(engine.Property(name));
    out["zero_cost_reason"] = why.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(why);
    std::printf("%s\n", out.dump().c_str());
  } else {
    for (const std::string& name : clsChiamate::MirrorPropertyNames())
      std::printf("%-20s %s\n", name.c_str(), Printable(engine.Property(name).ToText()).c_str());
  }
  if (!why.empty()) std::fprintf(stderr, "cost 0: %s\n", why.c_str());
  return 0;
}

int RunSingle(const RunOptions& o) {
  DateTime day = 0, time = 0;
  if (ReportUsageError({CheckDay(o.date, "--date", day), CheckTime(o.time, "--time", time)})) return kExitUsage;
  if (!o.dry_run) return RateOneCall(o, day, time);
  if (o.connect.db.empty()) {
    std::fprintf(stderr, "error: --dry-run needs --db FILE (it rates on a copy of the file)\n");
    return kExitUsage;
  }
  // The call is rated on a copy: whatever the rating writes (phone-book
  // counters, extensions added) goes with the copy.
  RunOptions on_copy = o;
  on_copy.connect.home = ResolveHome(o.connect.home, o.connect.db);
  try {
    ScratchCopy copy(o.connect.db);
    on_copy.connect.db = copy.path();
    return RateOneCall(on_copy, day, time);
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return kExitError;
  }
}

int RunDemo(const std::string& dir, int calls, const ConnectOptions& server) {
  DemoInstallation demo;
  try {
    demo = WriteDemoInstallation(dir, calls);
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", Printable(e.Description()).c_str());
    return 1;
  }
  std::fprintf(stderr, "demo installation in %s: %d calls, %d internal calls\n", demo.directory.c_str(), demo.calls,
               demo.internal_calls);
  ::setenv("ORDALIS_REGISTRY", demo.registry_file.c_str(), 1);
  ::setenv("ORDALIS_HOME", demo.directory.c_str(), 1);
  ProcessOptions o;
  o.connect.db = demo.database;
  o.batch_update = true;
  if (!server.dsn.empty()) {
    // The engine database goes to the server and is rated there.
    if (!CopyFileToDataSource(demo.database, server.dsn, server.user, server.pwd)) return 1;
    o.connect = server;
    return RunProcess(o);
  }
  int code = RunProcess(o);
  if (code != 0) return code;
  try {
    clsChiamate engine;
    engine.Init(demo.database);
    if (!engine.Errore().empty()) throw ComponentError(1, engine.Errore());
    std::fputs(DemoClosingReport(engine, demo.first_day, demo.last_day).c_str(), stdout);
    // What each site's calls would have cost with each carrier.
    for (const std::string& site : demo.sites) {
      std::printf("\ncarrier comparison, site %s, %s to %s\n", site.c_str(), dt::ToText(demo.first_day).c_str(),
                  dt::ToText(demo.last_day).c_str());
      std::fputs(Printable(FormatComparisonTable(
                               CompareCarriers(engine, site, demo.first_day, demo.last_day, demo.carrier_files)),
                           true)
                     .c_str(),
                 stdout);
    }
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", Printable(e.Description()).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

void AddCommands(CLI::App& app, int& exit_code) {
  static ProcessOptions process;
  auto* cmd = app.add_subcommand("process", "rate the stored calls that match the filter");
  AddConnectOptions(cmd, process.connect);
  cmd->add_option("--filter", process.filter, "selection: a WHERE clause (or a query holding one)");
  cmd->add_option("--operation", process.operation, "operation mask: up to 23 characters \"1\" or \"0\"");
  cmd->add_flag("--nocount", process.nocount, "skip the count queries");
  cmd->add_flag("--batch-update", process.batch_update, "write back the cached counters at the end of the run");
  cmd->add_flag("--no-undo", process.no_undo, "do not take a re-rated call's previous rating off the statistics");
  cmd->add_flag("--strict", process.strict,
                "exit with status 3 when a call was left without tariff or had an unknown site or extension");
  cmd->add_option("--shard", process.shard, "I/N: rate only the calls whose key falls in shard I of N");
  cmd->add_option("--workers", process.workers, "N: rate with N processes, one shard each");
  cmd->add_flag("--worker", process.worker, "")->group("");  // started by --workers: reports progress on stdout
  cmd->callback([&] { exit_code = RunProcess(process); });

  static RunOptions run;
  cmd = app.add_subcommand("run",
                           "rate one call described on the command line; like process, it counts the call in the "
                           "phone book and adds an unknown extension where its site says so (--dry-run writes nothing)");
  AddConnectOptions(cmd, run.connect);
  cmd->add_option("--site", run.site, "site code")->required();
  cmd->add_option("--extension", run.extension, "calling extension")->required();
  cmd->add_option("--number", run.number, "dialled number")->required();
  cmd->add_option("--date", run.date, "YYYY-MM-DD")->required();
  cmd->add_option("--time", run.time, "HH:MM:SS")->required();
  cmd->add_option("--duration", run.duration, "whole seconds, 0 to 86399")->required()->check(CLI::Range(0, 86399));
  cmd->add_option("--type", run.type, "call type: O outgoing, E internal");
  cmd->add_option("--line", run.line, "trunk line");
  cmd->add_option("--pulses", run.pulses, "metering pulses")->check(CLI::NonNegativeNumber);
  cmd->add_flag("--json", run.json, "print one JSON object");
  cmd->add_flag("--dry-run", run.dry_run, "rate on a copy of the --db file: nothing is written");
  cmd->callback([&] { exit_code = RunSingle(run); });

  static std::string demo_dir = "./ordalis-demo";
  static int demo_calls = 100000;
  static ConnectOptions demo_server;
  cmd = app.add_subcommand("demo", "write a demo installation and rate it");
  cmd->add_option("--dir", demo_dir, "directory of the installation");
  cmd->add_option("--calls", demo_calls, "number of stored calls")->check(CLI::Range(0, 100000000));
  cmd->add_option("--dsn", demo_server.dsn, "write the engine database into this (empty) data source and rate there");
  cmd->add_option("--user", demo_server.user, "login name for the data source");
  cmd->add_option("--pwd", demo_server.pwd, "password for the data source");
  cmd->callback([&] { exit_code = RunDemo(demo_dir, demo_calls, demo_server); });

  static std::string db_file;
  cmd = app.add_subcommand("init-db", "create an empty engine database");
  cmd->add_option("--db", db_file, "new database file")->required();
  cmd->callback([&] {
    try {
      CreateEngineDatabase(db_file);
    } catch (const ComponentError& e) {
      std::fprintf(stderr, "error: %s\n", Printable(e.Description()).c_str());
      exit_code = 1;
    }
  });

  static std::string carrier_file, carrier_name, carrier_prefix;
  cmd = app.add_subcommand("init-carrier", "create an empty carrier tariff database");
  cmd->add_option("--file", carrier_file, "new tariff database file")->required();
  cmd->add_option("--name", carrier_name, "carrier name")->required();
  cmd->add_option("--prefix", carrier_prefix, "interconnection prefix");
  cmd->callback([&] {
    try {
      CreateCarrierDatabase(carrier_file, carrier_name, carrier_prefix);
    } catch (const ComponentError& e) {
      std::fprintf(stderr, "error: %s\n", Printable(e.Description()).c_str());
      exit_code = 1;
    }
  });
}

}  // namespace ordalis::host
