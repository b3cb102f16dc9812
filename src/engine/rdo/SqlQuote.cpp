#include "engine/rdo/SqlQuote.h"

namespace ordalis::rdo {

std::string SqlQuote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    if (c == '\0') continue;
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

}  // namespace ordalis::rdo
