#pragma once
// A small but realistic installation for trying the engine: an engine
// database with sites, extensions, options and stored calls, carrier tariff
// files and a registry file.
#include <string>
#include <vector>

#include "ordalis/DateTime.h"

namespace ordalis {

struct DemoInstallation {
  std::string directory;      // ends in '/'
  std::string database;       // engine database file
  std::string registry_file;  // registry export for ORDALIS_REGISTRY
  int calls = 0;              // calls stored in CHIAMATE
  int internal_calls = 0;     // calls stored in CHIAMATEINTERNE
  std::vector<std::string> carrier_files;  // the carriers' tariff files
  std::vector<std::string> sites;          // site codes
  DateTime first_day = 0, last_day = 0;    // the period of the stored calls
};

// Writes the installation into `directory` (created when missing; earlier
// demo files there are replaced). Throws ComponentError on failure.
DemoInstallation WriteDemoInstallation(const std::string& directory, int calls);

}  // namespace ordalis
