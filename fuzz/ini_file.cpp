// The INI reader on text in memory. The first line of the input names the
// section and the key looked up ("section|key"), the rest is the file.
#include <cstdint>
#include <string_view>

#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = in.find('\n');
  std::string_view head = in.substr(0, eol);
  std::string_view text = eol == std::string_view::npos ? std::string_view() : in.substr(eol + 1);
  const std::size_t bar = head.find('|');
  std::string_view section = head.substr(0, bar);
  std::string_view key = bar == std::string_view::npos ? std::string_view() : head.substr(bar + 1);
  (void)ordalis::platform::LookupProfileString(text, section, key);
  (void)ordalis::platform::LookupProfileString(text, "Configurazione", "AbilitalogProcess");
  return 0;
}
