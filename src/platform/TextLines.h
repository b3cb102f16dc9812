#pragma once
// Helpers for the line-oriented configuration files (registry export, INI).
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::platform {

// Bytes of a text file as UTF-8: drops a UTF-8 byte-order mark; a UTF-16LE
// file (FF FE mark) is converted, unpaired surrogates becoming U+FFFD.
std::string DecodeTextFile(std::string_view bytes);

// Splits on LF, dropping a CR before it (CR LF and LF files alike).
std::vector<std::string_view> SplitLines(std::string_view text);

// Drops blanks (space, tab) on both sides.
std::string_view TrimBlanks(std::string_view s);

}  // namespace ordalis::platform
