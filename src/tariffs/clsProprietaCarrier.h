#pragma once
// clsProprietaCarrier: what a carrier tariff file says about its carrier,
// held only while the carriers are loaded.
#include <string>

namespace ordalis {

class clsProprietaCarrier {
 public:
  std::string NomeCarrier;
  std::string PrefissoInterconnessione;
  std::string NomeFile;  // path of the tariff file
};

}  // namespace ordalis
