#pragma once
// SitoLcr: what loading a site's LCR tables needs from the site: its code,
// its own country and area prefixes, and the slot of its own destination,
// which the first load fills from the carrier's destinations when empty.
#include <memory>
#include <string>

namespace ordalis {

class clsDestinazione;

struct SitoLcr {
  std::string Codice;
  std::string PrefNaz;
  std::string PrefArea;
  // The site's Destinazione; may point at an empty pointer, or be null when
  // the caller keeps no destination for the site.
  std::shared_ptr<clsDestinazione>* Destinazione = nullptr;
};

}  // namespace ordalis
