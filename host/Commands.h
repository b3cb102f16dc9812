#pragma once
// The subcommands of the command-line host.
#include <CLI/CLI.hpp>
#include <string>

namespace ordalis {
class clsChiamate;
}

namespace ordalis::host {

// Exit statuses: 1 an error, 2 a usage error, 3 a --strict run that left
// calls unpriced, 130 interrupted.
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnpriced = 3;
constexpr int kExitInterrupted = 130;

// Registers process, run, demo, init-db and init-carrier; each sets
// exit_code when it runs.
void AddCommands(CLI::App& app, int& exit_code);

// Where the engine's data is, and how a load failure is taken.
struct ConnectOptions {
  std::string db, dsn, user, pwd, home;
  bool keep_going = false;
};
void AddConnectOptions(CLI::App* cmd, ConnectOptions& o);
// Gives the engine its home and initialises it; 0 when it may rate, else
// the exit status (message printed). A failed open always stops; a failed
// cache load stops unless keep_going.
int InitEngine(clsChiamate& engine, const ConnectOptions& o);

// Describes one call to the engine through its properties, as `run` and
// `explain` take it (the date and time are set by the caller).
void DescribeCall(clsChiamate& engine, const std::string& site, const std::string& extension,
                  const std::string& number, int duration_s, const std::string& type, const std::string& line,
                  int pulses);

}  // namespace ordalis::host
