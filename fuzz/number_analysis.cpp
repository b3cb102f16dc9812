// The best-destination match of a dialled number. Input lines: the national
// and international prefixes ("39 00"), then destinations ("39 02"), the
// last line the number. A match is always one of the destinations, and its
// area begins the number unless it stands for a whole country.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "ordalis/ComponentError.h"

namespace {

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t at = s.find(sep);
    out.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return out;
    s.remove_prefix(at + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis;
  const std::vector<std::string_view> lines = Split({reinterpret_cast<const char*>(data), size}, '\n');
  if (lines.size() < 2) return 0;
  const std::vector<std::string_view> prefixes = Split(lines.front(), ' ');
  const std::string_view naz = prefixes[0], intl = prefixes.size() > 1 ? prefixes[1] : "00";
  clsDestinazioni destinations;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::vector<std::string_view> f = Split(lines[i], ' ');
    auto d = std::make_shared<clsDestinazione>();
    d->PrefNaz = f[0];
    d->PrefArea = f.size() > 1 ? f[1] : "";
    d->Key = clsDestinazione::MakeKey(d->PrefNaz, d->PrefArea);
    try {
      destinations.Add(d, d->Key);
    } catch (const ComponentError&) {
    }
  }
  const std::string_view number = lines.back();
  auto best = destinations.GetDestinazioneMigliore(number, naz, intl);
  if (best) {
    if (!destinations.Destinazioni().Contains(best->Key)) std::abort();
    if (best->PrefArea != "-" && number.find(best->PrefArea) == std::string_view::npos) std::abort();
  }
  return 0;
}
