#include "reference/clsCommesse.h"

#include <cmath>
#include <limits>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsCommessa.h"
#include "support/CommonLib.h"

namespace ordalis {

namespace {

// iPrivacy through its text form: NULL or empty is 0.
std::int16_t PrivacyColumn(const Variant& value) {
  const std::string text = value.ToText();
  if (text.empty()) return 0;
  const double v = std::nearbyint(Variant(text).ToDouble());
  if (!(v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max()))
    throw ComponentError(kErrOverflow, "Overflow");
  return static_cast<std::int16_t>(v);
}

}  // namespace

clsCommesse::clsCommesse() : commesse_(std::make_shared<Collection>()) {}

clsCommesse::clsCommesse(clsChiamate* engine, rdo::RdoConnection* connection)
    : Connection(connection), Chiamate(engine), commesse_(std::make_shared<Collection>()) {}

clsCommesse::~clsCommesse() = default;

void clsCommesse::set_Commesse(std::shared_ptr<Collection> commesse) {
  commesse_ = commesse ? std::move(commesse) : std::make_shared<Collection>();
}

void clsCommesse::Cache(CacheType tipo) {
  CheckCommesseEstese();
  tipo_ = tipo;
  if (tipo != ctPreload) return;
  const bool estese = UseCommesseEstese();
  auto rs = Connection->OpenResultset("SELECT * FROM Commesse");
  commesse_ = std::make_shared<Collection>();
  const int c_codice = rs->ColumnIndex("sCodice");
  const int c_descrizione = rs->ColumnIndex("sDescrizione");
  const int c_sito = rs->ColumnIndex("sSito");
  const int c_privacy = rs->ColumnIndex("iPrivacy");
  for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
    auto commessa = std::make_shared<clsCommessa>();
    commessa->Codice = rs->Value(c_codice).ToText();
    commessa->Descrizione = rs->Value(c_descrizione).ToText();
    commessa->Sito = rs->Value(c_sito).ToText();
    commessa->Privacy = PrivacyColumn(rs->Value(c_privacy));
    // A code already held under its own name (extended job codes) keeps
    // the first row; per-site keys never match the code alone.
    if (commesse_->Find(commessa->Codice)) continue;
    const std::string key = clsCommessa::MakeKey(commessa->Codice, commessa->Sito, estese);
    commessa->Key = key;
    AddToCollection(*commesse_, std::move(commessa), key, Chiamate->ErrorSink());
  }
  rs->Close();
}

std::shared_ptr<clsCommessa> clsCommesse::GetCommessa(const std::string& codice, const std::string& sito) const {
  return commesse_->Find(clsCommessa::MakeKey(codice, sito, UseCommesseEstese()));
}

}  // namespace ordalis
