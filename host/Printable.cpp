#include "Printable.h"

#include <unistd.h>

#include <cstdio>

namespace ordalis::host {

std::string Printable(std::string_view s, bool keep_newlines) {
  std::string out;
  out.reserve(s.size());
  auto escape = [&out](unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", b);
    out += buf;
  };
  auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = byte(i);
    if (b < 0x80) {
      if ((b < 0x20 && !(keep_newlines && b == '\n')) || b == 0x7f)
        escape(b);
      else
        out += static_cast<char>(b);
      ++i;
      continue;
    }
    const std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    bool whole = n > 0 && i + n <= s.size();
    for (std::size_t k = 1; whole && k < n; ++k) whole = (byte(i + k) & 0xC0) == 0x80;
    const bool c1 = whole && b == 0xC2 && byte(i + 1) < 0xA0;  // U+0080..U+009F, CSI among them
    if (!whole || c1) {
      escape(b);
      ++i;
      continue;
    }
    out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

std::string CsvField(const std::string& text) {
  static const bool terminal = ::isatty(STDOUT_FILENO) != 0;
  const std::string s = terminal ? Printable(text) : text;
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace ordalis::host
