#include "numbering/clsDestinazione.h"

#include "numbering/clsGruppoDest.h"

namespace ordalis {

KeyedCollection<clsGruppoDest>& clsDestinazione::GruppiDest() {
  if (!gruppi_) gruppi_ = std::make_unique<KeyedCollection<clsGruppoDest>>();
  return *gruppi_;
}

std::shared_ptr<clsDestinazione> clsDestinazione::Copy() const {
  auto copy = std::make_shared<clsDestinazione>();
  copy->Key = Key;
  copy->PrefNaz = PrefNaz;
  copy->PrefArea = PrefArea;
  copy->DescrNaz = DescrNaz;
  copy->DescrArea = DescrArea;
  copy->Tipo = Tipo;
  copy->Lat = Lat;
  copy->Longit = Longit;
  return copy;
}

std::string clsDestinazione::MakeKey(std::string_view pref_naz, std::string_view pref_area) {
  std::string key;
  key.reserve(pref_naz.size() + pref_area.size() + 2);
  key.append(pref_naz).append(kKeySeparator).append(pref_area);
  return key;
}

}  // namespace ordalis
