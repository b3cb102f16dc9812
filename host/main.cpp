// ordalis: the command-line host of the rating engine, a thin layer over the
// library's engine object.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "Commands.h"
#include "ComparisonCommands.h"
#include "CopyCommand.h"
#include "ExplainCommand.h"
#include "ReportCommand.h"
#include "ordalis/Version.h"

int main(int argc, char** argv) {
  CLI::App app{"Ordalis: rates the calls of telephone exchanges stored in a database."};
  app.set_version_flag("--version", std::string("ordalis ") + ordalis::VersionText());
  app.require_subcommand(1);
  int exit_code = 0;
  ordalis::host::AddCommands(app, exit_code);
  ordalis::host::AddComparisonCommands(app, exit_code);
  ordalis::host::AddCopyCommand(app, exit_code);
  ordalis::host::AddReportCommand(app, exit_code);
  ordalis::host::AddExplainCommand(app, exit_code);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return exit_code;
}
