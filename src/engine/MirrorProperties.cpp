// The mirror properties: the current call's fields by their property names,
// with the engine's conversions (money as Double, Single, Integer, Long).
#include <array>
#include <functional>
#include <limits>

#include "call/clsChiamata.h"
#include "ordalis/ComponentError.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsChiamate.h"

namespace ordalis {
namespace {

struct Mirror {
  const char* name;
  std::function<Variant(const clsChiamata&)> get;
  std::function<void(clsChiamata&, const Variant&)> set;  // empty: get only
};

template <class T>
Mirror Text(const char* name, std::string T::*field) {
  return {name, [field](const clsChiamata& c) { return Variant(c.*field); },
          [field](clsChiamata& c, const Variant& v) { c.*field = v.ToText(); }};
}
Mirror Date(const char* name, DateTime clsChiamata::*field) {
  return {name, [field](const clsChiamata& c) { return Variant::FromDate(c.*field); },
          [field](clsChiamata& c, const Variant& v) { c.*field = v.ToDate(); }};
}
// Money held by the call, Double for the host.
Mirror Currency(const char* name, Money clsChiamata::*field) {
  return {name, [field](const clsChiamata& c) { return Variant((c.*field).ToDouble()); },
          [field](clsChiamata& c, const Variant& v) { c.*field = Money::FromDouble(v.ToDouble()); }};
}
template <class Int>
Mirror Whole(const char* name, Int clsChiamata::*field) {
  return {name, [field](const clsChiamata& c) { return Variant(static_cast<std::int64_t>(c.*field)); },
          [field](clsChiamata& c, const Variant& v) {
            std::int64_t x = v.ToInteger();
            if (x < std::numeric_limits<Int>::min() || x > std::numeric_limits<Int>::max())
              throw ComponentError(kErrOverflow, "Overflow");
            c.*field = static_cast<Int>(x);
          }};
}

const std::vector<Mirror>& Mirrors() {
  using C = clsChiamata;
  static const std::vector<Mirror> kMirrors = {
      Date("dData", &C::dData), Text("sGiorno_c", &C::sGiorno_c), Date("dOra", &C::dOra),
      Text("sFasciaOraria_c", &C::sFasciaOraria_c), Date("dRisposta", &C::dRisposta), Date("dDurata", &C::dDurata),
      Currency("cTariffa_c", &C::cTariffa_c), Whole("lScatti", &C::lScatti), Currency("cCosto1_c", &C::cCosto1_c),
      Currency("cCosto2_c", &C::cCosto2_c), Currency("cDifferenza_c", &C::cDifferenza_c),
      {"rDifferenzaPerc_c", [](const C& c) { return Variant(c.rDifferenzaPerc_c); },
       [](C& c, const Variant& v) { c.rDifferenzaPerc_c = static_cast<float>(v.ToDouble()); }},
      Text("sCarrier1_c", &C::sCarrier1_c), Text("sCarrier2_c", &C::sCarrier2_c), Text("sCommessa", &C::sCommessa),
      {"sSito", [](const C& c) { return Variant(c.sSito()); }, [](C& c, const Variant& v) { c.set_sSito(v.ToText()); }},
      Text("sReparto_c", &C::sReparto_c), Text("sReparto2_c", &C::sReparto2_c), Text("sValuta", &C::sValuta),
      Text("sValutaRif", &C::sValutaRif),
      {"dblRapportoCambio", [](const C& c) { return Variant(c.dblRapportoCambio); },
       [](C& c, const Variant& v) { c.dblRapportoCambio = v.ToDouble(); }},
      Date("dUTCTime", &C::dUTCTime), Date("dGatewayTime", &C::dGatewayTime), Text("sSedeFisica", &C::sSedeFisica),
      Text("sSedeFisica2", &C::sSedeFisica2), Text("sNomeGruppo", &C::sNomeGruppo),
      Whole("iDaScartare", &C::iDaScartare), Text("sCentroDiCosto_c", &C::sCentroDiCosto_c),
      Text("sCentroDiCosto2_c", &C::sCentroDiCosto2_c), Text("sDerivato", &C::sDerivato),
      Text("sNomeDerivato_c", &C::sNomeDerivato_c), Text("sTipo", &C::sTipo), Text("sLinea", &C::sLinea),
      Whole("iStato", &C::iStato), Text("sTipoDestinazione_c", &C::sTipoDestinazione_c), Text("sNumero", &C::sNumero),
      Text("sNome_c", &C::sNome_c), Text("sNazione_c", &C::sNazione_c), Text("sArea_c", &C::sArea_c),
      Text("sEsitoChiamata_c", &C::sEsitoChiamata_c), Text("sCampo1", &C::sCampo1), Text("sCampo2", &C::sCampo2),
      Text("sCampo3", &C::sCampo3), Text("sCampo4", &C::sCampo4),
      {"cCosto3_c", [](const C& c) { return Variant(c.cCosto3_c); }, nullptr},
      {"Data2", [](const C& c) { return Variant::FromDate(c.dData2); }, nullptr},
      {"Ora2", [](const C& c) { return Variant::FromDate(c.dOra2); }, nullptr},
      Date("TempoComposizione", &C::TempoComp),
  };
  return kMirrors;
}

const Mirror& Find(std::string_view name) {
  for (const Mirror& m : Mirrors())
    if (EqualsNoCase(m.name, name)) return m;
  throw ComponentError(438, "Object doesn't support this property or method: " + std::string(name));
}

}  // namespace

const std::vector<std::string>& clsChiamate::MirrorPropertyNames() {
  static const std::vector<std::string> kNames = [] {
    std::vector<std::string> names;
    for (const Mirror& m : Mirrors()) names.emplace_back(m.name);
    return names;
  }();
  return kNames;
}

Variant clsChiamate::Property(std::string_view name) const { return Find(name).get(*mo_chiamata_); }

void clsChiamate::SetProperty(std::string_view name, const Variant& value) {
  const Mirror& m = Find(name);
  if (!m.set) throw ComponentError(438, "Property is read-only: " + std::string(name));
  m.set(*mo_chiamata_, value);
}

}  // namespace ordalis
