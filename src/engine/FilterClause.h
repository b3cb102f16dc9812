#pragma once
// The selection clause a batch run takes from the host's filter.
#include <string>

namespace ordalis {

// The filter from its first "WHERE" (any letter case) to the end, trimmed and
// cut before an "ORDER BY"; empty without "WHERE" (every row). Comments are
// dropped first, so that a filter ending in "-- ..." still selects and the
// statements built on the clause are not cut short by it.
std::string ExtractClause(const std::string& filter);

}  // namespace ordalis
