#pragma once
// clsTariffa: one priced tariff of a carrier for one destination group, valid
// on one day type, time window, distance band and validity period, with its
// per-minute duration steps.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ordalis/DateTime.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/Money.h"
#include "tariffs/clsTariffaMinuto.h"

namespace ordalis {

namespace rdo {
class RdoResultset;
}
class clsGruppoDest;

class clsTariffa {
 public:
  std::string Key;
  std::string Carrier;
  std::shared_ptr<clsGruppoDest> GruppoDest;  // where the loader resolves it
  std::int16_t TipoGiorno = 0;
  DateTime Dalle = 0;
  DateTime Alle = 0;
  double DalKm = 0;
  double AlKm = 0;
  DateTime ValidaDal = 0;
  DateTime ValidaAl = 0;
  Money CostoMinimo;
  Money CostoRisposta;
  std::int16_t TempoComposizione = 0;
  std::string Fascia;
  std::int16_t ArrotDurata = 0;
  std::int16_t TipoArrotDurata = 0;
  double ArrotCosto = 0;
  std::int16_t TipoArrotCosto = 0;
  std::int16_t DurataMinima = 0;
  std::int16_t DurataRisposta = 0;

  // The duration steps in the order they were added; created on first use.
  KeyedCollection<clsTariffaMinuto>& CostoMinuto();
  bool HasCostoMinuto() const { return steps_ != nullptr; }
  const KeyedCollection<clsTariffaMinuto>* CostoMinutoIfAny() const { return steps_.get(); }

  // The group name of a Listino row as read (sGruppoDest_e), kept by FromListino.
  std::string NomeGruppo;

  // group + "¦" + TipoGiorno + "¦" + Dalle + "¦" + DalKm + "¦" + ValidaDal,
  // numbers and dates in their standard text forms.
  std::string MakeKey(std::string_view group) const;

  // A tariff with its scalar properties from the current Listino row (nulls
  // read as 0 where the table allows them) and no steps.
  // Throws ComponentError 94 naming the table, the column and the group when
  // a column that must not be null is null, and the layer's error when a
  // value does not convert.
  static std::shared_ptr<clsTariffa> FromListino(const rdo::RdoResultset& row);
  // The duration step of the current Listino row. Without the duration
  // columns (older files) the step runs from 0 to 999999999.
  static std::shared_ptr<clsTariffaMinuto> StepFromListino(const rdo::RdoResultset& row, bool has_durations);

 private:
  std::unique_ptr<KeyedCollection<clsTariffaMinuto>> steps_;
};

// The error number of a NULL where Listino does not allow one.
inline constexpr std::int32_t kErrInvalidUseOfNull = 94;

}  // namespace ordalis
