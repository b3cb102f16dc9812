#pragma once
// SqlQuote: a text as a safely quoted SQL literal ('O''Brien').
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::rdo {

// 'text' with every quote doubled; NUL characters are dropped.
std::string SqlQuote(std::string_view text);

// The statement with each "?" outside quoted literals and names replaced by
// the next value as a quoted literal. Throws ComponentError when the number
// of markers and of values differ.
std::string WithQuotedValues(std::string_view sql, const std::vector<std::string_view>& values);

}  // namespace ordalis::rdo
