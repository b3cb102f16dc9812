// ordalis: the command-line host of the rating engine, a thin layer over the
// library's engine object.
#include <CLI/CLI.hpp>
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "Commands.h"
#include "ComparisonCommands.h"
#include "CopyCommand.h"
#include "ImportCommand.h"
#include "ExplainCommand.h"
#include "ReportCommand.h"
#include "ordalis/Version.h"

int main(int argc, char** argv) {
  // A rating run reads and frees blocks of rows of several megabytes, one
  // range after another, on more than one thread. By default the allocator
  // maps each such block afresh, or hands the freed top of the heap back to
  // the system, and the next block faults every page in again: a tenth of
  // the run's processor time. A batch program keeps what it had.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  CLI::App app{"Ordalis: rates the calls of telephone exchanges stored in a database."};
  app.set_version_flag("--version", std::string("ordalis ") + ordalis::VersionText());
  app.require_subcommand(1);
  int exit_code = 0;
  ordalis::host::AddCommands(app, exit_code);
  ordalis::host::AddComparisonCommands(app, exit_code);
  ordalis::host::AddCopyCommand(app, exit_code);
  ordalis::host::AddImportCommand(app, exit_code);
  ordalis::host::AddReportCommand(app, exit_code);
  ordalis::host::AddExplainCommand(app, exit_code);
  if (argc > 1 && argv[1][0] != '-' &&
      app.get_subcommands([&](CLI::App* sub) { return sub->check_name(argv[1]); }).empty()) {
    std::fprintf(stderr, "ordalis: unknown subcommand \"%s\" (see ordalis --help)\n", argv[1]);
    return ordalis::host::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    // A usage error: one line, status 2.
    std::string what = e.what();
    for (char& c : what)
      if (c == '\n') c = ' ';
    std::fprintf(stderr, "ordalis: %s (see ordalis --help)\n", what.c_str());
    return ordalis::host::kExitUsage;
  }
  return exit_code;
}
