#include "ordalis/clsValute.h"

#include <cmath>
#include <limits>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"

namespace ordalis {

namespace {

// Numbers are converted from the column joined to the empty text, so a NULL
// is the empty text and fails the conversion with a type mismatch.
double JoinedDouble(const Variant& value) { return Variant(value.ToText()).ToDouble(); }

std::int16_t JoinedInt16(const Variant& value) {
  const double v = std::nearbyint(JoinedDouble(value));
  if (!(v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max()))
    throw ComponentError(kErrOverflow, "Overflow");
  return static_cast<std::int16_t>(v);
}

}  // namespace

clsValute::clsValute() : valute_(std::make_shared<Collection>()) {}

clsValute::clsValute(clsChiamate* engine, rdo::RdoConnection* connection)
    : Connection(connection), Chiamate(engine), valute_(std::make_shared<Collection>()) {}

clsValute::~clsValute() = default;

void clsValute::set_Valute(std::shared_ptr<Collection> valute) {
  valute_ = valute ? std::move(valute) : std::make_shared<Collection>();
}

std::shared_ptr<clsValuta> clsValute::GetValuta(std::string_view vsCodiceValuta) const {
  for (const auto& valuta : *valute_)
    if (valuta->Codice == vsCodiceValuta) return valuta;
  return nullptr;
}

std::shared_ptr<clsValuta> clsValute::GetValutaByName(std::string_view vsNomeValuta) const {
  for (const auto& valuta : *valute_)
    if (valuta->Nome == vsNomeValuta) return valuta;
  return nullptr;
}

void clsValute::Cache() {
  auto rs = Connection->OpenResultset("SELECT * FROM Valute");
  valute_ = std::make_shared<Collection>();
  const int c_nome = rs->ColumnIndex("sDescrizione");
  const int c_simbolo = rs->ColumnIndex("sSimbolo");
  const int c_codice = rs->ColumnIndex("sCodice");
  const int c_decimali = rs->ColumnIndex("iNumeroDecimali");
  const int c_rif = rs->ColumnIndex("sValutaRif");
  const int c_cambio = rs->ColumnIndex("dblRapportoDiCambio");
  for (; !rs->Eof(); rs->MoveNext()) {
    auto valuta = std::make_shared<clsValuta>();
    valuta->Nome = rs->Value(c_nome).ToText();
    valuta->Simbolo = rs->Value(c_simbolo).ToText();
    valuta->Codice = rs->Value(c_codice).ToText();
    valuta->NumeroDecimali = JoinedInt16(rs->Value(c_decimali));
    valuta->ValutaRif = rs->Value(c_rif).ToText();
    valuta->RapportoCambio = JoinedDouble(rs->Value(c_cambio));
    const std::string key = valuta->Codice;
    AddToCollection(*valute_, std::move(valuta), key, Chiamate->ErrorSink());
  }
  rs->Close();
}

}  // namespace ordalis
