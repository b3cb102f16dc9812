#pragma once
// clsCarrier: a telephone operator with its own tariff list, read from the
// carrier's tariff file. Priced calls reach its tariffs through Tariffe().
#include <cstdint>
#include <memory>
#include <string>

#include "ordalis/Enums.h"
#include "ordalis/Money.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
class RdoResultset;
}  // namespace rdo
class clsCarriers;
class clsChiamata;
class clsDestinazioni;
class clsTariffe;

class clsCarrier {
 public:
  clsCarrier();
  ~clsCarrier();
  clsCarrier(const clsCarrier&) = delete;
  clsCarrier& operator=(const clsCarrier&) = delete;

  std::string Name;
  std::string Key;  // the name, once the carrier is in its collection
  std::string PrefissoInterconn;
  std::string DatabaseTariffe;  // path of the tariff file
  // The tariff file, open while the carrier lives; null when it was never
  // opened.
  std::shared_ptr<rdo::RdoConnection> Database;
  // A resultset slot held for the carrier; the loader leaves it empty.
  std::shared_ptr<rdo::RdoResultset> rdoResultset;
  Stato Status = stDaIndividuare;
  std::int16_t Scatti = 0;
  Money CostoScatto;
  clsCarriers* Carriers = nullptr;  // owning collection, not owned
  clsChiamata* Chiamata = nullptr;  // call being rated, not owned
  // The destinations the carrier's own file lists (members shared with the
  // comparison's destinations), so that a number is matched only against
  // them; null when not loaded for a comparison.
  std::shared_ptr<clsDestinazioni> Destinazioni;

  // The carrier's tariffs, keyed "Carrier¦Group¦TipoGiorno¦Dalle¦DalKm¦
  // ValidaDal"; created on first use.
  clsTariffe& Tariffe();
  bool HasTariffe() const { return tariffe_ != nullptr; }
  const std::shared_ptr<clsTariffe>& TariffeRef() const { return tariffe_; }
  void set_Tariffe(std::shared_ptr<clsTariffe> tariffe) { tariffe_ = std::move(tariffe); }

 private:
  std::shared_ptr<clsTariffe> tariffe_;
};

}  // namespace ordalis
