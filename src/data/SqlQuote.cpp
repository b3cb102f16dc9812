#include "data/SqlQuote.h"

#include "data/Cursor.h"

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

std::string WithQuotedValues(std::string_view sql, const std::vector<std::string_view>& values) {
  std::string out;
  std::size_t markers = 0;
  char quote = 0;  // the quote of the literal or name being copied
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote closes and reopens
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      if (markers < values.size()) out += SqlQuote(values[markers]);
      ++markers;
      continue;
    }
    out += c;
  }
  if (markers != values.size())
    ThrowDataError("The statement has " + std::to_string(markers) + " parameter markers for " +
                   std::to_string(values.size()) + " values");
  return out;
}

}  // namespace ordalis::rdo
