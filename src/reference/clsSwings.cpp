#include "reference/clsSwings.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "reference/CallUndo.h"
#include "reference/ChunkedSave.h"
#include "reference/clsNominativo.h"
#include "reference/clsSwing.h"
#include "support/CommonLib.h"

namespace ordalis {

namespace {

constexpr char kCacheSource[] = "clsSwings.Cache";
// Column positions of a Swing resultset, looked up once per statement.
struct Columns {
  int id, numero, nome, costo, data_o, data_i, ora_i, ora_o, derivato, minuti, chiamate_i, chiamate_o, sito,
      videotel;

  explicit Columns(const rdo::RdoResultset& rs)
      : id(Require(rs, "lPKId")),
        numero(Require(rs, "sNumero")),
        nome(Require(rs, "sNome")),
        costo(Require(rs, "cCostoConversazioni")),
        data_o(Require(rs, "dDataUltimaChiamataO")),
        data_i(Require(rs, "dDataUltimaChiamataI")),
        ora_i(Require(rs, "dOraUltimaChiamataI")),
        ora_o(Require(rs, "dOraUltimaChiamataO")),
        derivato(Require(rs, "sDerivato")),
        minuti(Require(rs, "dMinutiConversazione")),
        chiamate_i(Require(rs, "lNumeroChiamateI")),
        chiamate_o(Require(rs, "lNumeroChiamateO")),
        sito(Require(rs, "sSito")),
        videotel(Require(rs, "bVideotel")) {}

  static int Require(const rdo::RdoResultset& rs, const char* name) {
    int i = rs.ColumnIndex(name);
    if (i < 0) throw ComponentError(rdo::kErrColumnNotFound, std::string("Column '") + name + "' not found in Swing");
    return i;
  }
};

std::shared_ptr<clsSwing> Read(const rdo::RdoResultset& rs, const Columns& c) {
  auto s = std::make_shared<clsSwing>();
  s->PKId = ContatoreDaColonna(rs.Value(c.id));
  s->Numero = rs.Value(c.numero).ToText();
  s->Nome = rs.Value(c.nome).ToText();
  // A NULL cost or flag (a row typed in by hand) reads as 0 / False; text
  // that is not a number or a yes/no is a type mismatch.
  s->CostoConversazioni = rs.Value(c.costo).ToMoney();
  s->DataUltimaChiamataO = rs.Value(c.data_o).ToDate();
  s->DataUltimaChiamataI = rs.Value(c.data_i).ToDate();
  s->OraUltimaChiamataI = rs.Value(c.ora_i).ToDate();
  s->OraUltimaChiamataO = rs.Value(c.ora_o).ToDate();
  s->Derivato = rs.Value(c.derivato).ToText();
  s->MinutiConversazione = rs.Value(c.minuti).ToDate();
  s->NumeroChiamateI = ContatoreDaColonna(rs.Value(c.chiamate_i));
  s->NumeroChiamateO = ContatoreDaColonna(rs.Value(c.chiamate_o));
  s->Sito = rs.Value(c.sito).ToText();
  const Variant& videotel = rs.Value(c.videotel);
  s->Videotel = !videotel.IsNull() && videotel.ToBool();
  return s;
}

Variant TextOrNull(const std::string& text) { return text.empty() ? Variant() : Variant(text); }

// Every column of `swing` into the current row of `rs` (Edit) or a new row
// (AddNew); nothing is read back.
void Scrivi(rdo::RdoResultset& rs, const clsSwing& swing, bool inserting) {
  if (inserting)
    rs.AddNew();
  else
    rs.Edit();
  rs.SetValue("sNome", TextOrNull(swing.Nome));
  rs.SetValue("sNumero", TextOrNull(swing.Numero));
  rs.SetValue("cCostoConversazioni", Variant(swing.CostoConversazioni));
  rs.SetValue("dDataUltimaChiamataO", Variant::FromDate(swing.DataUltimaChiamataO));
  rs.SetValue("dDataUltimaChiamataI", Variant::FromDate(swing.DataUltimaChiamataI));
  rs.SetValue("dOraUltimaChiamataO", Variant::FromDate(swing.OraUltimaChiamataO));
  rs.SetValue("dOraUltimaChiamataI", Variant::FromDate(swing.OraUltimaChiamataI));
  rs.SetValue("sDerivato", Variant(swing.Derivato));
  rs.SetValue("dMinutiConversazione", Variant::FromDate(swing.MinutiConversazione));
  rs.SetValue("lNumeroChiamateI", Variant(static_cast<std::int64_t>(swing.NumeroChiamateI)));
  rs.SetValue("lNumeroChiamateO", Variant(static_cast<std::int64_t>(swing.NumeroChiamateO)));
  rs.SetValue("sSito", Variant(swing.Sito));
  rs.SetValue("bVideotel", Variant(swing.Videotel));
  rs.Update();
}

}  // namespace

clsSwings::clsSwings() : swings_(std::make_shared<Collection>()) {}

clsSwings::clsSwings(clsChiamate* engine, rdo::RdoConnection* connection, UpdateType tipo_aggiornamento)
    : Chiamate(engine),
      Connection(connection),
      TipoAggiornamento(tipo_aggiornamento),
      swings_(std::make_shared<Collection>()) {}

clsSwings::~clsSwings() = default;

void clsSwings::set_Swings(std::shared_ptr<Collection> collection) {
  swings_ = collection ? std::move(collection) : std::make_shared<Collection>();
}

std::shared_ptr<clsSwing> clsSwings::FromRow(const rdo::RdoResultset& row) { return Read(row, Columns(row)); }

void clsSwings::Cache(CacheType mode) {
  tipo_ = mode;
  if (mode == ctNone) return;
  swings_ = std::make_shared<Collection>();
  SaveStatus = ssSaved;
  if (mode != ctPreload) return;
  try {
    auto rs = Connection->OpenResultset("SELECT * FROM Swing", rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
    const Columns columns(*rs);
    for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
      auto swing = Read(*rs, columns);
      const std::string key = swing->Numero;
      swing->Key = key;
      AddToCollection(*swings_, std::move(swing), key, Chiamate->ErrorSink());
    }
    rs->Close();
  } catch (const ComponentError& e) {
    Chiamate->CacheError(ComponentError(e.Number(), e.Description(), kCacheSource));
  }
}

bool clsSwings::CercaSwing(std::string_view numero) {
  auto rs = Connection->OpenResultset("SELECT * FROM Swing WHERE sNumero=?", {numero});
  if (rs->Eof()) {
    rs->Close();
    return false;
  }
  auto swing = FromRow(*rs);
  rs->Close();
  const std::string key = swing->Numero;
  AddFetched(*swings_, std::move(swing), key, *Chiamate);
  return true;
}

std::shared_ptr<clsSwing> clsSwings::GetSwing(std::string_view numero) {
  if (auto swing = swings_->Find(numero)) return swing;
  if (!CercaSwing(numero)) return nullptr;
  return swings_->Find(numero);
}

void clsSwings::Aggiungi(std::shared_ptr<clsSwing> swing) {
  const std::string key = swing->Numero;
  if (swing->Key.empty()) swing->Key = key;
  if (Undo) Undo->Added(swings_, key, swing);
  AddToCollection(*swings_, std::move(swing), key, Chiamate->ErrorSink());
}

void clsSwings::Remember(const std::shared_ptr<clsSwing>& swing) {
  if (Undo) Undo->Remember(swing);
}

bool clsSwings::Save(clsSwing& swing) {
  if (SaveMember(*Connection, "Swing", swing, swing.Numero, Scrivi)) return true;
  SaveStatus = ssUnsaved;
  return false;
}

std::size_t clsSwings::SaveAll() {
  std::size_t failed = SaveInChunks(
      *Connection, "Swing", *swings_, &clsSwing::Numero, Scrivi,
      [this](auto& member) { return Save(member); });
  SaveStatus = failed == 0 ? ssSaved : ssUnsaved;
  return failed;
}

bool clsSwings::Aggiorna(clsSwing& swing) {
  if (TipoAggiornamento == utImmediate) return Save(swing);
  SaveStatus = ssUnsaved;
  return true;
}

}  // namespace ordalis
