#pragma once
// SqlQuote: a text as a safely quoted SQL literal ('O''Brien').
#include <string>
#include <string_view>

namespace ordalis::rdo {

// 'text' with every quote doubled; NUL characters are dropped.
std::string SqlQuote(std::string_view text);

}  // namespace ordalis::rdo
