#include "Commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "CopyCommand.h"
#include "DataSource.h"
#include "Json.h"
#include "Progress.h"
#include "ReportCommand.h"
#include "Workers.h"
#include "demo/Demo.h"
#include "ordalis/CarrierComparison.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Databases.h"
#include "ordalis/clsChiamate.h"

namespace ordalis::host {
namespace {

constexpr int kExitInterrupted = 130;

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
    std::fprintf(stderr, "\nsave failed (attempt %d)%s%s\n", attempt, desc.empty() ? "" : ": ", desc.c_str());
  }
  void Warning(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", text.c_str()); }
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
  std::int32_t done_ = 0, total_ = 0;

 private:
  Progress& progress_;
  WorkerReport* report_;
};

struct ConnectOptions {
  std::string db, dsn, user, pwd;
};

void AddConnectOptions(CLI::App* cmd, ConnectOptions& o) {
  auto* db = cmd->add_option("--db", o.db, "engine database file (SQLite)");
  auto* dsn = cmd->add_option("--dsn", o.dsn, "ODBC data source: a name or a connect string");
  db->excludes(dsn);
  cmd->add_option("--user", o.user, "login name for the data source");
  cmd->add_option("--pwd", o.pwd, "password for the data source");
}

// Creates and initialises the engine; false (message printed) on failure.
bool InitEngine(clsChiamate& engine, const ConnectOptions& o) {
  if (o.db.empty() == o.dsn.empty()) {
    std::fprintf(stderr, "error: give one of --db FILE or --dsn NAME\n");
    return false;
  }
  engine.set_TipoDb(o.dsn.empty() ? dbAccess : dbSql);
  engine.set_User(o.user);
  engine.set_Pwd(o.pwd);
  engine.Init(o.dsn.empty() ? o.db : EngineDataSource(o.dsn));
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "error: %s\n", engine.Errore().c_str());
    return false;
  }
  return true;
}

struct ProcessOptions {
  ConnectOptions connect;
  std::string filter, operation, shard, workers;
  bool nocount = false, batch_update = false, no_undo = false, worker = false;
};

constexpr int kExitUsage = 2;

// The command line of one worker of `process --workers`, without its shard.
std::vector<std::string> WorkerArguments(const ProcessOptions& o) {
  std::vector<std::string> args = {"process"};
  const auto add = [&](const char* name, const std::string& value) {
    if (!value.empty()) args.insert(args.end(), {name, value});
  };
  add("--db", o.connect.db);
  add("--dsn", o.connect.dsn);
  add("--user", o.connect.user);
  add("--pwd", o.connect.pwd);
  add("--filter", o.filter);
  add("--operation", o.operation);
  if (o.nocount) args.push_back("--nocount");
  if (o.batch_update) args.push_back("--batch-update");
  if (o.no_undo) args.push_back("--no-undo");
  return args;
}

int RunProcess(ProcessOptions o) {
  std::string error;
  if (!o.workers.empty()) {
    // Validated as the shard count of "1/N" is.
    const std::optional<Shard> all = ParseShard("1/" + o.workers, error);
    if (!all || !o.shard.empty()) {
      std::fprintf(stderr, "error: --workers takes a whole number from 1 to %d, without --shard\n", kMostShards);
      return kExitUsage;
    }
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
  if (!InitEngine(engine, o.connect)) return 1;
  engine.set_Filter(o.filter);
  if (!o.operation.empty()) engine.set_Operation(o.operation);
  engine.set_NoCount(o.nocount);
  engine.set_NoUndo(o.no_undo);
  engine.set_SharedRun(!o.shard.empty());
  g_running = &engine;
  auto previous = std::signal(SIGINT, OnInterrupt);
  auto start = std::chrono::steady_clock::now();
  int code = 0;
  try {
    engine.Process();
  } catch (const ComponentError& e) {
    progress.Finish();
    std::fprintf(stderr, "error %d: %s (%s)\n", e.Number(), e.Description().c_str(), e.Source().c_str());
    code = 1;
  }
  std::signal(SIGINT, previous);
  g_running = nullptr;
  if (o.worker) report.Update(events.done_, events.total_, true);
  progress.Finish();
  if (code != 0) return code;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("calls rated: %d, seconds: %.2f, calls per second: %.0f\n", events.done_, seconds,
              seconds > 0 ? events.done_ / seconds : 0.0);
  return g_interrupted ? kExitInterrupted : 0;
}

struct RunOptions {
  ConnectOptions connect;
  std::string site, extension, number, date, time, type = "O", line;
  int duration = 0, pulses = 0;
  bool json = false;
};

int RunSingle(const RunOptions& o) {
  clsChiamate engine;
  Progress progress("run");
  ConsoleEvents events(progress);
  engine.SetEvents(&events);
  if (!InitEngine(engine, o.connect)) return 1;
  try {
    engine.set_Data(o.date);
    engine.set_Ora(o.time);
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: bad date or time: %s\n", e.Description().c_str());
    return 2;
  }
  engine.set_sSito(o.site);
  engine.SetProperty("sDerivato", o.extension);
  engine.SetProperty("sNumero", o.number);
  engine.SetProperty("dDurata", Variant::FromDate(static_cast<double>(o.duration) / 86400));
  engine.SetProperty("sTipo", o.type);
  engine.SetProperty("sLinea", o.line);
  engine.SetProperty("lScatti", o.pulses);
  engine.Run();
  if (!engine.Errore().empty()) {
    std::fprintf(stderr, "error: %s\n", engine.Errore().c_str());
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> fields;
  for (const std::string& name : clsChiamate::MirrorPropertyNames())
    fields.emplace_back(name, engine.Property(name).ToText());
  if (o.json) {
    std::printf("{");
    bool first = true;
    for (auto& [name, value] : fields) {
      std::printf("%s%s: %s", first ? "" : ", ", Json(name).c_str(), Json(value).c_str());
      first = false;
    }
    std::printf("}\n");
  } else {
    for (auto& [name, value] : fields) std::printf("%-20s %s\n", name.c_str(), value.c_str());
  }
  return 0;
}

int RunDemo(const std::string& dir, int calls, const ConnectOptions& server) {
  DemoInstallation demo;
  try {
    demo = WriteDemoInstallation(dir, calls);
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
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
      std::fputs(FormatComparisonTable(CompareCarriers(engine, site, demo.first_day, demo.last_day,
                                                       demo.carrier_files))
                     .c_str(),
                 stdout);
    }
  } catch (const ComponentError& e) {
    std::fprintf(stderr, "error: %s\n", e.Description().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

void AddCommands(CLI::App& app, int& exit_code) {
  static ProcessOptions process;
  auto* cmd = app.add_subcommand("process", "rate the stored calls that match the filter");
  AddConnectOptions(cmd, process.connect);
  cmd->add_option("--filter", process.filter, "selection, normally a query with a WHERE clause");
  cmd->add_option("--operation", process.operation, "operation mask of \"1\" and \"0\" characters");
  cmd->add_flag("--nocount", process.nocount, "skip the count queries");
  cmd->add_flag("--batch-update", process.batch_update, "write back the cached counters at the end of the run");
  cmd->add_flag("--no-undo", process.no_undo, "do not take a re-rated call's previous rating off the statistics");
  cmd->add_option("--shard", process.shard, "I/N: rate only the calls whose key falls in shard I of N");
  cmd->add_option("--workers", process.workers, "N: rate with N processes, one shard each");
  cmd->add_flag("--worker", process.worker, "")->group("");  // started by --workers: reports progress on stdout
  cmd->callback([&] { exit_code = RunProcess(process); });

  static RunOptions run;
  cmd = app.add_subcommand("run", "rate one call described on the command line; nothing is written");
  AddConnectOptions(cmd, run.connect);
  cmd->add_option("--site", run.site, "site code")->required();
  cmd->add_option("--extension", run.extension, "calling extension")->required();
  cmd->add_option("--number", run.number, "dialled number")->required();
  cmd->add_option("--date", run.date, "YYYY-MM-DD")->required();
  cmd->add_option("--time", run.time, "HH:MM:SS")->required();
  cmd->add_option("--duration", run.duration, "seconds")->required()->check(CLI::NonNegativeNumber);
  cmd->add_option("--type", run.type, "call type: O outgoing, E internal");
  cmd->add_option("--line", run.line, "trunk line");
  cmd->add_option("--pulses", run.pulses, "metering pulses")->check(CLI::NonNegativeNumber);
  cmd->add_flag("--json", run.json, "print one JSON object");
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
      std::fprintf(stderr, "error: %s\n", e.Description().c_str());
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
      std::fprintf(stderr, "error: %s\n", e.Description().c_str());
      exit_code = 1;
    }
  });
}

}  // namespace ordalis::host
