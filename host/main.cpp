// ordalis: the command-line host of the rating engine.
#include <CLI/CLI.hpp>
#include <iostream>

#include "ordalis/Version.h"

int main(int argc, char** argv) {
  CLI::App app{"Ordalis call-rating engine"};
  app.set_version_flag("--version", std::string("ordalis ") + ordalis::VersionText());
  app.require_subcommand(0, 1);
  CLI11_PARSE(app, argc, argv);
  if (argc == 1) std::cout << app.help();
  return 0;
}
