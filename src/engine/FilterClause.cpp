#include "engine/FilterClause.h"

#include "data/SqlText.h"
#include "support/Text.h"

namespace ordalis {

std::string ExtractClause(const std::string& filter) {
  const std::string text = rdo::StripComments(filter);
  std::size_t where = UpperAscii(text).find("WHERE");
  if (where == std::string::npos) return {};
  std::string clause = TrimSpaces(text.substr(where));
  std::size_t order = UpperAscii(clause).find("ORDER BY");
  if (order != std::string::npos) clause = clause.substr(0, order);
  return clause;
}

}  // namespace ordalis
