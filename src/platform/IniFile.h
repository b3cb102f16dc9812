#pragma once
// Reading INI files with the private-profile rules.
#include <string>
#include <string_view>

namespace ordalis::platform {

// The value of `key` in `section` of the INI file at `path`:
//  - section and key names compare without regard to letter case;
//  - blanks around names and values are dropped;
//  - a value enclosed in matching double quotes loses them;
//  - a missing file, section or key gives the empty text;
//  - the first matching section is the one searched, and in it the first of
//    repeated keys wins;
//  - lines starting with ';' are comments; lines that are neither a section
//    header nor name=value are skipped; LF or CR LF, UTF-8 with or without
//    BOM, UTF-16LE with BOM.
// The file is read on every call, as the profile API does.
std::string ReadPrivateProfileString(const std::string& path, std::string_view section, std::string_view key);

// The same rules on text already in memory.
std::string LookupProfileString(std::string_view text, std::string_view section, std::string_view key);

}  // namespace ordalis::platform
