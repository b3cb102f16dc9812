#pragma once
// What the rated calls of a period cost: calls, minutes and cost per group
// (site, department, cost centre, extension, destination type, carrier or
// day), kept apart per currency so that no sum mixes two currencies.
#include <cstdint>
#include <string>
#include <vector>

#include "ordalis/Export.h"
#include "ordalis/DateTime.h"
#include "ordalis/Money.h"

namespace ordalis {

class clsChiamate;

enum class ReportBy { Site, Department, CostCentre, Extension, DestinationType, Carrier, Day };

// "site", "department", "cost-centre", "extension", "destination-type",
// "carrier", "day".
ORDALIS_API const char* ReportByName(ReportBy by);

struct ReportRequest {
  DateTime from = 0, to = 0;  // days of the calls' date, both inclusive
  std::string site;           // empty: every site
  ReportBy by = ReportBy::Site;
};

struct ReportGroup {
  std::string name;   // the calls' value ("" when they have none); "site/number" for an extension; "YYYY-MM-DD" for a day
  std::string label;  // an extension's user name; empty otherwise
  std::int64_t calls = 0;
  std::int64_t seconds = 0;  // conversation time
  Money cost;                // the main cost (cCosto1_c), exact
};

struct ReportCurrency {
  std::string code;  // Codice in Valute; the text the calls hold when Valute does not know it
  std::string name, symbol;
  int decimals = 4;  // NumeroDecimali in Valute; 4, the engine's own precision, when unknown
  bool known = false;
  ReportGroup total;
  std::vector<ReportGroup> groups;  // most expensive first (by day: in date order)
  std::vector<ReportGroup> days;    // the same calls per day, in date order
};

struct CallReport {
  ReportRequest request;
  std::vector<ReportCurrency> currencies;  // in order of code
  // Calls of the period that were never rated (no day name): left out of
  // every figure above.
  std::int64_t unrated = 0;
};

// Reports the calls of CHIAMATE in the period. A call's currency is the one
// its rating stored (sValuta), else its site's, else the Valuta option; a
// currency named by its description is reported under its code.
// REQUIRES: Init done. Throws ComponentError when the period ends before it
// starts and with the data layer's error when the calls cannot be read.
ORDALIS_API CallReport ReportCalls(clsChiamate& engine, const ReportRequest& request);

// The amount rounded to `decimals` (0..4), halves to even, written with
// exactly that many decimals: 1411.6 with 2 decimals is "1411.60".
ORDALIS_API std::string FormatAmount(Money amount, int decimals);

}  // namespace ordalis
