#pragma once
// Small text helpers the engine shares: upper-casing of codes and the
// trimming of blanks the engine applies to codes and clauses.
#include <string>
#include <string_view>

namespace ordalis {

// ASCII letters in upper case, every other byte unchanged.
std::string UpperAscii(std::string text);
// Without the spaces on both sides (tabs are kept, as the engine trims
// codes).
std::string TrimSpaces(std::string_view text);

}  // namespace ordalis
