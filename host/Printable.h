#pragma once
// Text taken from data (numbers, names, account codes, messages that quote
// them) as the host prints it: control characters (C0, DEL, the C1 range) and
// bytes that are not UTF-8 become \xNN escapes, so that a stored value can
// neither move the cursor, clear the screen nor retitle the terminal.
#include <string>
#include <string_view>

namespace ordalis::host {

// keep_newlines: line breaks stay (a multi-line table); every other control
// character is escaped.
std::string Printable(std::string_view text, bool keep_newlines = false);

// A field of CSV output, quoted when it holds a comma, a quote or a line
// break; printed to a terminal, escaped as by Printable first.
std::string CsvField(const std::string& text);

}  // namespace ordalis::host
