#include "tariffs/clsTariffa.h"

#include <cmath>

#include "data/RdoResultset.h"
#include "numbering/clsDestinazione.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"

namespace ordalis {

namespace {

constexpr char kSource[] = "clsTariffa";

const Variant& Required(const rdo::RdoResultset& row, std::string_view column, const std::string& group) {
  const Variant& v = row.Value(column);
  if (v.IsNull())
    throw ComponentError(kErrInvalidUseOfNull,
                         "Listino: column " + std::string(column) + " is null in a row of group '" + group + "'",
                         kSource);
  return v;
}

std::int16_t ToInt16(const Variant& v, std::string_view column) {
  const std::int64_t n = v.ToInteger();
  if (n < -32768 || n > 32767)
    throw ComponentError(kErrOverflow, "Listino: column " + std::string(column) + " out of range", kSource);
  return static_cast<std::int16_t>(n);
}

std::int32_t ToInt32(const Variant& v, std::string_view column) {
  const std::int64_t n = v.ToInteger();
  if (n < INT32_MIN || n > INT32_MAX)
    throw ComponentError(kErrOverflow, "Listino: column " + std::string(column) + " out of range", kSource);
  return static_cast<std::int32_t>(n);
}

DateTime DateOrZero(const Variant& v) { return v.IsNull() ? 0.0 : v.ToDate(); }

}  // namespace

KeyedCollection<clsTariffaMinuto>& clsTariffa::CostoMinuto() {
  if (!steps_) steps_ = std::make_unique<KeyedCollection<clsTariffaMinuto>>();
  return *steps_;
}

std::string clsTariffa::MakeKey(std::string_view group) const {
  std::string key(group);
  key.append(kKeySeparator).append(std::to_string(TipoGiorno));
  key.append(kKeySeparator).append(dt::ToText(Dalle));
  key.append(kKeySeparator).append(NumberToText(DalKm));
  key.append(kKeySeparator).append(dt::ToText(ValidaDal));
  return key;
}

std::shared_ptr<clsTariffa> clsTariffa::FromListino(const rdo::RdoResultset& row) {
  auto t = std::make_shared<clsTariffa>();
  const Variant& group = row.Value("sGruppoDest_e");
  if (group.IsNull())
    throw ComponentError(kErrInvalidUseOfNull, "Listino: column sGruppoDest_e is null", kSource);
  t->NomeGruppo = group.ToText();
  const std::string& g = t->NomeGruppo;

  t->TipoGiorno = ToInt16(Required(row, "iTipoGiorno_e", g), "iTipoGiorno_e");
  t->Dalle = DateOrZero(row.Value("dDalleOre"));
  t->Alle = DateOrZero(row.Value("dAlleOre"));
  t->DalKm = static_cast<double>(ToInt32(Required(row, "lDalKm", g), "lDalKm"));
  t->AlKm = static_cast<double>(ToInt32(Required(row, "lAlKm", g), "lAlKm"));
  t->CostoMinimo = row.Value("cCostoMinimo").ToMoney();  // Null reads as 0
  t->CostoRisposta = row.Value("cCostoRisposta").ToMoney();
  t->TempoComposizione = ToInt16(row.Value("iTempoComposizione"), "iTempoComposizione");
  t->ValidaDal = DateOrZero(row.Value("dValiditaDal"));
  t->ValidaAl = DateOrZero(row.Value("dValiditaAl"));
  t->Fascia = Required(row, "sFasciaOraria_e", g).ToText();
  t->ArrotDurata = ToInt16(Required(row, "iArrotDurata", g), "iArrotDurata");
  t->TipoArrotDurata = ToInt16(Required(row, "iTipoArrotDurata", g), "iTipoArrotDurata");
  t->ArrotCosto = Required(row, "iArrotCosto", g).ToDouble();
  t->TipoArrotCosto = ToInt16(Required(row, "iTipoArrotCosto", g), "iTipoArrotCosto");
  t->DurataRisposta = ToInt16(Required(row, "iDurataRisposta", g), "iDurataRisposta");
  t->DurataMinima = ToInt16(Required(row, "iDurataMinima", g), "iDurataMinima");
  return t;
}

std::shared_ptr<clsTariffaMinuto> clsTariffa::StepFromListino(const rdo::RdoResultset& row, bool has_durations) {
  auto step = std::make_shared<clsTariffaMinuto>();
  step->CostoMinuto = row.Value("cCostoMinuto").ToMoney();
  if (has_durations) {
    const std::string group = row.Value("sGruppoDest_e").ToText();
    step->DurataDal = ToInt32(Required(row, "lDurataInizio", group), "lDurataInizio");
    step->DurataAl = ToInt32(Required(row, "lDurataFine", group), "lDurataFine");
  } else {
    step->DurataDal = 0;
    step->DurataAl = 999999999;
  }
  return step;
}

}  // namespace ordalis
