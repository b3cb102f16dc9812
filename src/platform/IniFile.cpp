#include "platform/IniFile.h"

#include "ordalis/KeyedCollection.h"
#include "platform/FileSystem.h"
#include "platform/TextLines.h"

namespace ordalis::platform {

std::string LookupProfileString(std::string_view raw, std::string_view section, std::string_view key) {
  std::string text = DecodeTextFile(raw);
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  bool in_section = false;
  bool seen_section = false;
  for (std::string_view line : SplitLines(text)) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      if (seen_section) return {};  // the first matching section held no such key
      in_section = EqualsNoCase(TrimBlanks(line.substr(1, close - 1)), section);
      seen_section = in_section;
      continue;
    }
    if (!in_section) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualsNoCase(TrimBlanks(line.substr(0, eq)), key)) continue;
    std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return {};
}

std::string ReadPrivateProfileString(const std::string& path, std::string_view section, std::string_view key) {
  auto bytes = ReadWholeFile(path);
  if (!bytes) return {};
  return LookupProfileString(*bytes, section, key);
}

}  // namespace ordalis::platform
