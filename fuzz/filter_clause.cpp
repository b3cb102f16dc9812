// The selection clause of a host's filter and the statements the data layer
// builds on it: the part of a statement the layer adds its own text after
// never holds a comment that would swallow that text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/SqlText.h"
#include "engine/FilterClause.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string filter(reinterpret_cast<const char*>(data), size);
  const std::string clause = ordalis::ExtractClause(filter);
  auto parts = ordalis::rdo::ParseSingleTableSelect("SELECT * FROM CHIAMATE " + clause);
  if (parts && ordalis::rdo::StripComments(parts->rest) != parts->rest) std::abort();
  (void)ordalis::rdo::RewriteDateEscapes(filter);
  return 0;
}
