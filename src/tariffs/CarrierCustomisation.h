#pragma once
// SitoConfronto: what fitting a carrier's destination groups to the
// comparison site needs from that site: whether it was found with a
// destination of its own, and that destination's prefixes. The engine fills
// it from its sites cache (the site's Destinazione) before loading carriers.
#include <string>

namespace ordalis {

struct SitoConfronto {
  // False when the site is unknown or has no destination of its own: then
  // no group is fitted to it.
  bool HasDestinazione = false;
  std::string PrefNaz;   // the site destination's country prefix
  std::string PrefArea;  // the site destination's area prefix
};

}  // namespace ordalis
