#pragma once
// Comparing carriers for a host: what the outgoing calls of one site over a
// period would have cost with each of several carriers' tariff files, as a
// table with the carriers' names, and the fields of the tariff that priced
// a single call.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/DateTime.h"
#include "ordalis/Export.h"
#include "ordalis/Variant.h"

namespace ordalis {

class clsChiamate;

// Column titles of the comparison grid, in the grid's order.
inline constexpr std::array<const char*, 6> kComparisonColumns = {
    "Local", "National/Adjacent/Regional", "Mobile", "International", "Other", "Total"};

struct ComparisonRow {
  std::string carrier;  // the carrier's name as its file holds it
  std::string file;
  // The grid's cells: amounts (Money), or the text "0." where calls of that
  // type could not be priced with this carrier and nothing was added.
  std::array<Variant, 6> cells;
  // The calls of the period this carrier could not price (their amounts
  // are missing from the cells), and whether there were none.
  std::int32_t unpriced = 0;
  bool complete = true;
};

struct ComparisonTable {
  std::vector<ComparisonRow> rows;  // one per file, in the order given
  // The carrier with the lowest total among the complete rows, rows with a
  // zero total left out; empty when no carrier priced every call.
  std::string cheapest;
};

// Compares the outgoing calls of `site` from `from` to `to` (days, both
// inclusive) across `files` on an engine that Init has connected: sets the
// engine's comparison list to the files, loads the comparison caches for
// the site and fills the grid (ConfrontaCarrier), reporting through the
// engine's events. Throws ComponentError for a period that ends before it
// starts (5), no files or a file listed twice (5), a site missing from the
// sites table (5), and a failed comparison cache load (its description).
// A period without calls gives a table of zeros.
ORDALIS_API ComparisonTable CompareCarriers(clsChiamate& engine, const std::string& site, DateTime from, DateTime to,
                                const std::vector<std::string>& files);

// The table as fixed-width text: a header, one line per carrier (an
// incomplete one says how many calls it left unpriced), then
// "Cheapest: <name>" (or that no carrier priced every call).
ORDALIS_API std::string FormatComparisonTable(const ComparisonTable& table);

// Whether the comparison caches hold the site (after CacheConfrontoCarrier).
ORDALIS_API bool ComparisonSiteExists(const clsChiamate& engine, const std::string& site);

// The fields of the engine's DatiTariffa (the tariff the last CalcolaChiamata
// priced), by name in the record's order; empty when there was none.
ORDALIS_API std::vector<std::pair<std::string, Variant>> DatiTariffaFields(const clsChiamate& engine);

}  // namespace ordalis
