#pragma once
// clsDestinazione: one numbering area, a country prefix plus an area prefix.
// The area "-" stands for the whole country (it matches international numbers
// only, see clsDestinazioni::GetDestinazioneMigliore).
#include <memory>
#include <string>
#include <string_view>

#include "ordalis/KeyedCollection.h"

namespace ordalis {

class clsGruppoDest;

// The separator of composite keys, the broken bar U+00A6 in UTF-8.
inline constexpr char kKeySeparator[] = "\xC2\xA6";

class clsDestinazione {
 public:
  std::string Key;  // PrefNaz + "¦" + PrefArea, set by whoever adds it
  std::string PrefNaz;
  std::string PrefArea;
  std::string DescrNaz;
  std::string DescrArea;
  std::string Tipo;
  float Lat = 0;
  float Longit = 0;

  // The groups this destination belongs to; created on first use.
  KeyedCollection<clsGruppoDest>& GruppiDest();
  bool HasGruppiDest() const { return gruppi_ != nullptr; }
  // Drops the group references (breaks the group <-> destination cycle).
  void ClearGruppiDest() { gruppi_.reset(); }

  // A new destination with every field and the Key copied; no groups.
  std::shared_ptr<clsDestinazione> Copy() const;

  // PrefNaz + "¦" + PrefArea.
  static std::string MakeKey(std::string_view pref_naz, std::string_view pref_area);

 private:
  std::unique_ptr<KeyedCollection<clsGruppoDest>> gruppi_;
};

}  // namespace ordalis
