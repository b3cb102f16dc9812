#pragma once
// Helpers for the line-oriented configuration files (registry export, INI).
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::platform {

// Bytes of a text file as UTF-8: drops a UTF-8 byte-order mark; a UTF-16LE
// file (FF FE mark) is converted, unpaired surrogates becoming U+FFFD.
std::string DecodeTextFile(std::string_view bytes);

// UTF-8 to UTF-16 (a stray byte is taken as Latin-1), and UTF-16 to UTF-8
// (an unpaired surrogate becomes U+FFFD), as the ODBC driver manager and
// UTF-16 files want them.
std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

// Splits on LF, dropping a CR before it (CR LF and LF files alike).
std::vector<std::string_view> SplitLines(std::string_view text);

// Drops blanks (space, tab) on both sides.
std::string_view TrimBlanks(std::string_view s);

// Whether `part` occurs in `text`, ASCII letters matched in either case.
bool ContainsNoCase(std::string_view text, std::string_view part);

}  // namespace ordalis::platform
