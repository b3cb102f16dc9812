#include "call/clsChiamata.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "data/RdoResultset.h"
#include "data/RdoTypes.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"
#include "support/Text.h"

namespace ordalis {
namespace {

// Numeric evaluation of a text: its leading number, 0 when there is none.
double NumericValue(const std::string& text) {
  Variant v(text);
  if (v.IsNumeric()) return v.ToDouble();
  return 0;
}

constexpr int kMaxSaveAttempts = 1000;

// A stored value as an error message shows it: text quoted and cut, control
// characters escaped; a number in plain decimal.
std::string ShownValue(const Variant& v) {
  if (v.IsNull()) return "null";
  std::string raw = v.kind() == Variant::Kind::Text ? v.StoredText() : NumberToText(v.ToDouble());
  std::string shown;
  for (char c : raw.substr(0, 40)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      shown += hex;
    } else {
      shown += c;
    }
  }
  if (raw.size() > 40) shown += "...";
  return v.kind() == Variant::Kind::Text ? "'" + shown + "'" : shown;
}

}  // namespace

// Positions of the columns in the bound resultset, looked up once per run.
struct clsChiamata::ColumnMap {
  enum Col {
    lPKId, dData, DORA, sGiorno_c, SFASCIAORARIA_C, DRISPOSTA, DDURATA, DTEMPOCOMP, CTARIFFA_C, LSCATTI, CCOSTO1_C,
    CCOSTO2_C, CDIFFERENZA_C, RDIFFERENZAPERC_C, SCARRIER1_C, SCARRIER2_C, SCOMMESSA, SSITO, SREPARTO_C,
    SCENTRODICOSTO_C, SDERIVATO, SNOMEDERIVATO_C, STIPO, SLINEA, ISTATO, STIPODESTINAZIONE_C, SNUMERO, SNOME_C,
    SNAZIONE_C, SAREA_C, SESITOCHIAMATA_C, SCAMPO1, SCAMPO2, SCAMPO3, SCAMPO4, dData2, dOra2, dGatewayDateTime,
    dUTCDateTime, sValuta, dblRapportoCambio, SREPARTO2_C, SCENTRODICOSTO2_C, sValutaRif, sSedeFisica,
    sSedeFisica2, sNomeGruppo, kCount
  };
  static constexpr const char* kNames[kCount] = {
      "lPKId", "dData", "DORA", "sGiorno_c", "SFASCIAORARIA_C", "DRISPOSTA", "DDURATA", "DTEMPOCOMP", "CTARIFFA_C",
      "LSCATTI", "CCOSTO1_C", "CCOSTO2_C", "CDIFFERENZA_C", "RDIFFERENZAPERC_C", "SCARRIER1_C", "SCARRIER2_C",
      "SCOMMESSA", "SSITO", "SREPARTO_C", "SCENTRODICOSTO_C", "SDERIVATO", "SNOMEDERIVATO_C", "STIPO", "SLINEA",
      "ISTATO", "STIPODESTINAZIONE_C", "SNUMERO", "SNOME_C", "SNAZIONE_C", "SAREA_C", "SESITOCHIAMATA_C", "SCAMPO1",
      "SCAMPO2", "SCAMPO3", "SCAMPO4", "dData2", "dOra2", "dGatewayDateTime", "dUTCDateTime", "sValuta",
      "dblRapportoCambio", "SREPARTO2_C", "SCENTRODICOSTO2_C", "sValutaRif", "sSedeFisica", "sSedeFisica2",
      "sNomeGruppo"};
  int index[kCount];
  int size[kCount];

  explicit ColumnMap(const rdo::RdoResultset& rs) {
    for (int i = 0; i < kCount; ++i) {
      index[i] = rs.ColumnIndex(kNames[i]);
      size[i] = index[i] >= 0 ? rs.ColumnSize(index[i]) : 0;
    }
  }
  // REQUIRES: the column exists; throws the missing-column error otherwise.
  int At(const rdo::RdoResultset& rs, Col c) const {
    if (index[c] < 0) (void)rs.Value(kNames[c]);  // raises the layer's error for the missing column
    return index[c];
  }
};

clsChiamata::clsChiamata() = default;
clsChiamata::~clsChiamata() = default;

void clsChiamata::set_sSito(const std::string& value) { s_sito_ = TrimSpaces(value); }

bool clsChiamata::IsType(const char* code) const { return EqualsNoCase(sTipo, code); }

void clsChiamata::LoadText(const Variant& v, std::string& into) {
  if (v.kind() == Variant::Kind::Text)
    into.assign(v.StoredText());
  else if (v.IsNull())
    into.clear();
  else
    into = v.ToText();
}

void clsChiamata::Load() {
  WriteDetailLog("Load chiamata");
  rdo::RdoResultset& rs = *rdoResultset;
  if (!columns_ || mapped_for_ != rdoResultset) {
    columns_ = std::make_unique<ColumnMap>(rs);
    mapped_for_ = rdoResultset;
  }
  const ColumnMap& m = *columns_;
  using C = ColumnMap;
  C::Col reading = C::lPKId;  // named by the error of a value that cannot be read
  auto value = [&](C::Col c) -> const Variant& {
    reading = c;
    return rs.Value(m.At(rs, c));
  };
  try {
    LoadColumns(value);
  } catch (const ComponentError& e) {
    std::string shown;
    if (m.index[reading] >= 0) shown = " (" + ShownValue(rs.Value(m.index[reading])) + ")";
    throw ComponentError(e.Number(), "column " + std::string(C::kNames[reading]) + shown + ": " + e.Description(),
                         e.Source());
  }
  WriteDetailLog("Load Chiamata - FINE");
}

template <typename Value>
void clsChiamata::LoadColumns(Value& value) {
  using C = ColumnMap;
  auto text = [&](C::Col c) { return value(c).ToText(); };
  // The numeric value of a column as its text reads.
  auto number = [&](C::Col c) {
    const Variant& v = value(c);
    switch (v.kind()) {
      case Variant::Kind::Integer:
      case Variant::Kind::Double:
      case Variant::Kind::Single: return v.ToDouble();
      default: return NumericValue(v.ToText());
    }
  };
  auto read = [&](C::Col c, std::string& into) { LoadText(value(c), into); };
  auto date = [&](C::Col c) {
    const Variant& v = value(c);
    return v.IsNull() ? 0.0 : v.ToDate();
  };
  auto money = [&](C::Col c) {
    const Variant& v = value(c);
    return v.IsNull() ? Money() : v.ToMoney();
  };

  WriteDetailLog("\tPKID");
  pk_id_ = static_cast<std::int32_t>(std::nearbyint(number(C::lPKId)));
  WriteDetailLog("\tData ora");
  dData = date(C::dData);
  dOra = date(C::DORA);
  read(C::sGiorno_c, sGiorno_c);
  read(C::SFASCIAORARIA_C, sFasciaOraria_c);
  dRisposta = date(C::DRISPOSTA);
  dDurata = date(C::DDURATA);
  TempoComp = date(C::DTEMPOCOMP);
  cTariffa_c = money(C::CTARIFFA_C);
  {
    const Variant& v = value(C::LSCATTI);
    lScatti = v.IsNull() ? 0 : static_cast<std::int32_t>(v.ToInteger());
  }
  cCosto1_c = money(C::CCOSTO1_C);
  cCosto2_c = money(C::CCOSTO2_C);
  cDifferenza_c = money(C::CDIFFERENZA_C);
  {
    const Variant& v = value(C::RDIFFERENZAPERC_C);
    rDifferenzaPerc_c = v.IsNull() ? 0.0f : static_cast<float>(v.ToDouble());
  }
  read(C::SCARRIER1_C, sCarrier1_c);
  read(C::SCARRIER2_C, sCarrier2_c);
  read(C::SCOMMESSA, sCommessa);
  set_sSito(text(C::SSITO));
  read(C::SREPARTO_C, sReparto_c);
  read(C::SCENTRODICOSTO_C, sCentroDiCosto_c);
  read(C::SDERIVATO, sDerivato);
  read(C::SNOMEDERIVATO_C, sNomeDerivato_c);
  read(C::STIPO, sTipo);
  read(C::SLINEA, sLinea);
  {
    double v = std::nearbyint(number(C::ISTATO));
    if (v > 32767 || v < -32768) throw ComponentError(kErrOverflow, "Overflow");
    iStato = static_cast<std::int16_t>(v);
  }
  read(C::STIPODESTINAZIONE_C, sTipoDestinazione_c);
  read(C::SNUMERO, sNumero);
  read(C::SNOME_C, sNome_c);
  read(C::SNAZIONE_C, sNazione_c);
  read(C::SAREA_C, sArea_c);
  read(C::SESITOCHIAMATA_C, sEsitoChiamata_c);
  read(C::SCAMPO1, sCampo1);
  read(C::SCAMPO2, sCampo2);
  read(C::SCAMPO3, sCampo3);
  read(C::SCAMPO4, sCampo4);
  WriteDetailLog("\tNuovi campi introdotti con la versione 2008");
  dData2 = date(C::dData2);
  dOra2 = date(C::dOra2);
  dGatewayTime = date(C::dGatewayDateTime);
  dUTCTime = date(C::dUTCDateTime);
  read(C::sValuta, sValuta);
  {
    const Variant& v = value(C::dblRapportoCambio);
    dblRapportoCambio = v.IsNull() ? 0.0 : v.ToDouble();
  }
  read(C::SREPARTO2_C, sReparto2_c);
  read(C::SCENTRODICOSTO2_C, sCentroDiCosto2_c);
  read(C::sValutaRif, sValutaRif);
  read(C::sSedeFisica, sSedeFisica);
  read(C::sSedeFisica2, sSedeFisica2);
  read(C::sNomeGruppo, sNomeGruppo);

  PrimoProc = sGiorno_c.empty();
  WriteDetailLog("\tcaricamento dei campi di backup");
  costo_backup_ = cCosto1_c;
}

void clsChiamata::WriteColumns() {
  rdo::RdoResultset& rs = *rdoResultset;
  const ColumnMap& m = *columns_;
  using C = ColumnMap;
  auto set = [&](C::Col c, Variant v) { rs.SetValue(m.At(rs, c), std::move(v)); };
  auto text = [&](C::Col c, std::string_view s) {
    if (s.empty())
      set(c, Variant());
    else
      rs.SetText(m.At(rs, c), s);
  };
  // Padded to the column's size, cut to it and trimmed: a text that fits
  // loses only its outer blanks.
  auto sized = [&](C::Col c, const std::string& s) {
    const std::size_t size = m.size[c] > 0 ? static_cast<std::size_t>(m.size[c]) : 0;
    if (size == 0 || (s.size() <= size && (s.empty() || (s.front() != ' ' && s.back() != ' ')))) return text(c, s);
    // Cut on a character boundary of the UTF-8 text.
    std::size_t cut = 0, chars = 0;
    while (cut < s.size() && chars < size) {
      unsigned char b = static_cast<unsigned char>(s[cut]);
      cut += b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      ++chars;
    }
    text(c, TrimSpaces(std::string_view(s).substr(0, std::min(cut, s.size()))));
  };
  auto date = [&](C::Col c, DateTime d) { set(c, Variant::FromDate(d)); };

  date(C::dData, dData);
  date(C::DORA, dOra);
  text(C::sGiorno_c, sGiorno_c);
  sized(C::SFASCIAORARIA_C, sFasciaOraria_c);
  date(C::DRISPOSTA, dRisposta);
  date(C::DDURATA, dDurata);
  date(C::DTEMPOCOMP, TempoComp);
  set(C::CTARIFFA_C, cTariffa_c);
  set(C::LSCATTI, std::int64_t{lScatti});
  set(C::CCOSTO1_C, cCosto1_c);
  set(C::CCOSTO2_C, cCosto2_c);
  set(C::CDIFFERENZA_C, cDifferenza_c);
  set(C::RDIFFERENZAPERC_C, rDifferenzaPerc_c);
  text(C::SCARRIER1_C, sCarrier1_c);
  text(C::SCARRIER2_C, sCarrier2_c);
  text(C::SCOMMESSA, sCommessa);
  text(C::SSITO, s_sito_);
  text(C::SREPARTO_C, sReparto_c);
  text(C::SCENTRODICOSTO_C, sCentroDiCosto_c);
  text(C::SDERIVATO, sDerivato);
  text(C::SNOMEDERIVATO_C, sNomeDerivato_c);
  text(C::STIPO, sTipo);
  text(C::SLINEA, sLinea);
  set(C::ISTATO, std::int64_t{iStato});
  sized(C::STIPODESTINAZIONE_C, sTipoDestinazione_c);
  text(C::SNUMERO, sNumero);
  text(C::SNOME_C, sNome_c);
  sized(C::SNAZIONE_C, sNazione_c);
  sized(C::SAREA_C, sArea_c);
  text(C::SESITOCHIAMATA_C, sEsitoChiamata_c);
  text(C::SCAMPO1, sCampo1);
  text(C::SCAMPO2, sCampo2);
  text(C::SCAMPO3, sCampo3);
  text(C::SCAMPO4, sCampo4);
  text(C::sValuta, sValuta);
  set(C::dblRapportoCambio, dblRapportoCambio);
  date(C::dUTCDateTime, dUTCTime);
  date(C::dGatewayDateTime, dGatewayTime);
  text(C::SREPARTO2_C, sReparto2_c);
  text(C::SCENTRODICOSTO2_C, sCentroDiCosto2_c);
  text(C::sValutaRif, sValutaRif);
  date(C::dData2, dData2);
  date(C::dOra2, dOra2);
  text(C::sSedeFisica, sSedeFisica);
  text(C::sSedeFisica2, sSedeFisica2);
  text(C::sNomeGruppo, sNomeGruppo);
}

bool clsChiamata::Save() {
  WriteDetailLog("Salvataggio chiamata");
  rdo::RdoResultset* rs = rdoResultset;
  if (!columns_ || mapped_for_ != rs) {
    columns_ = std::make_unique<ColumnMap>(*rs);
    mapped_for_ = rs;
  }
  int attempt = 1;
  while (!Chiamate->mbStop() && attempt <= kMaxSaveAttempts) {
    try {
      rs->Edit();
    } catch (const ComponentError&) {
      return false;  // a row whose edit cannot begin is left unchanged
    }
    try {
      WriteColumns();
    } catch (...) {
      rs->CancelUpdate();
      throw;  // a value the row cannot hold ends the run
    }
    try {
      rs->Update();
      return true;
    } catch (const ComponentError& e) {
      rs->CancelUpdate();
      if (e.Number() == rdo::kErrWriteRefused) throw;
      Chiamate->set_LastSaveError(e.Description());
    }
    try {
      rs->Resync();
    } catch (const ComponentError&) {
      // The next attempt's Edit reports a row that is gone.
    }
    Chiamate->SendErrorMsg(static_cast<std::int16_t>(attempt), "", 0);
    ++attempt;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    while (Chiamate->mbPause() && !Chiamate->mbStop()) Chiamate->DoEvents();
    Chiamate->DoEvents();
  }
  return false;
}

}  // namespace ordalis
