#pragma once
// A small but realistic installation for trying the engine: an engine
// database with sites, extensions, options and stored calls, carrier tariff
// files and a registry file.
#include <string>
#include <vector>

#include "ordalis/DateTime.h"
#include "ordalis/Money.h"

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

// What a rating run left in an engine database (SQLite file), for the
// demo's report.
struct RatingReport {
  struct Group {
    std::string name;  // destination type, or "site/extension name"
    long calls = 0;
    Money cost;
  };
  long calls_rated = 0;  // rows of both call tables with a day name
  Money cost_main, cost_alternative, difference;
  std::vector<Group> by_destination_type;  // most expensive first
  std::vector<Group> top_extensions;       // the five that cost most
};
RatingReport SummariseRatedCalls(const std::string& database);

}  // namespace ordalis
