#include "reference/clsSwings.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
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
  s->Letto = s->Attuali();
  return s;
}

Variant TextOrNull(const std::string& text) { return text.empty() ? Variant() : Variant(text); }

// Every column of `swing` into the current row of `rs` (Edit) or a new row
// (AddNew). The counts, cost and time written over a row are the row's plus
// what the swing gained since this process last read or wrote it; the site
// and extension are those of the last call, as its time is; the swing then
// holds what was written.
void Scrivi(rdo::RdoResultset& rs, clsSwing& swing, bool inserting) {
  clsSwing::Statistiche s = swing.Attuali();
  if (inserting) {
    rs.AddNew();
  } else {
    const clsSwing::Statistiche& letto = swing.Letto;
    s.NumeroChiamateO = SommaContatore(ContatoreDaColonna(rs.Value("lNumeroChiamateO")),
                                       SommaContatore(s.NumeroChiamateO, -letto.NumeroChiamateO));
    s.NumeroChiamateI = SommaContatore(ContatoreDaColonna(rs.Value("lNumeroChiamateI")),
                                       SommaContatore(s.NumeroChiamateI, -letto.NumeroChiamateI));
    const Money costo = rs.Value("cCostoConversazioni").ToMoney();
    s.CostoConversazioni = costo + (s.CostoConversazioni - letto.CostoConversazioni);
    const DateTime minuti = rs.Value("dMinutiConversazione").ToDate();
    if (!StessoSecondo(minuti, letto.MinutiConversazione))
      s.MinutiConversazione = static_cast<double>(std::llround(minuti * 86400.0) +
                                                  std::llround(s.MinutiConversazione * 86400.0) -
                                                  std::llround(letto.MinutiConversazione * 86400.0)) /
                              86400.0;
    const DateTime data_o = rs.Value("dDataUltimaChiamataO").ToDate(), ora_o = rs.Value("dOraUltimaChiamataO").ToDate();
    const DateTime data_i = rs.Value("dDataUltimaChiamataI").ToDate(), ora_i = rs.Value("dOraUltimaChiamataI").ToDate();
    // The site and extension are those of the latest call: the row's when
    // another process wrote a call later than any this swing holds.
    const bool riga_cambiata =
        !(StessoSecondo(data_o, letto.DataUltimaChiamataO) && StessoSecondo(ora_o, letto.OraUltimaChiamataO) &&
          StessoSecondo(data_i, letto.DataUltimaChiamataI) && StessoSecondo(ora_i, letto.OraUltimaChiamataI));
    const auto ultima = [](DateTime d_o, DateTime o_o, DateTime d_i, DateTime o_i) {
      return NonPrecedente(d_o, o_o, d_i, o_i) ? std::pair(d_o, o_o) : std::pair(d_i, o_i);
    };
    const auto mia = ultima(s.DataUltimaChiamataO, s.OraUltimaChiamataO, s.DataUltimaChiamataI, s.OraUltimaChiamataI);
    const auto sua = ultima(data_o, ora_o, data_i, ora_i);
    if (riga_cambiata && !NonPrecedente(mia.first, mia.second, sua.first, sua.second)) {
      s.Sito = rs.Value("sSito").ToText();
      s.Derivato = rs.Value("sDerivato").ToText();
    }
    UnisciUltimaChiamata(data_o, ora_o, letto.DataUltimaChiamataO, letto.OraUltimaChiamataO, s.DataUltimaChiamataO,
                         s.OraUltimaChiamataO);
    UnisciUltimaChiamata(data_i, ora_i, letto.DataUltimaChiamataI, letto.OraUltimaChiamataI, s.DataUltimaChiamataI,
                         s.OraUltimaChiamataI);
    rs.Edit();
  }
  rs.SetValue("sNome", TextOrNull(swing.Nome));
  rs.SetValue("sNumero", TextOrNull(swing.Numero));
  rs.SetValue("cCostoConversazioni", Variant(s.CostoConversazioni));
  rs.SetValue("dDataUltimaChiamataO", Variant::FromDate(s.DataUltimaChiamataO));
  rs.SetValue("dDataUltimaChiamataI", Variant::FromDate(s.DataUltimaChiamataI));
  rs.SetValue("dOraUltimaChiamataO", Variant::FromDate(s.OraUltimaChiamataO));
  rs.SetValue("dOraUltimaChiamataI", Variant::FromDate(s.OraUltimaChiamataI));
  rs.SetValue("sDerivato", Variant(s.Derivato));
  rs.SetValue("dMinutiConversazione", Variant::FromDate(s.MinutiConversazione));
  rs.SetValue("lNumeroChiamateI", Variant(static_cast<std::int64_t>(s.NumeroChiamateI)));
  rs.SetValue("lNumeroChiamateO", Variant(static_cast<std::int64_t>(s.NumeroChiamateO)));
  rs.SetValue("sSito", Variant(s.Sito));
  rs.SetValue("bVideotel", Variant(swing.Videotel));
  rs.Update();
  swing.NumeroChiamateO = s.NumeroChiamateO;
  swing.NumeroChiamateI = s.NumeroChiamateI;
  swing.CostoConversazioni = s.CostoConversazioni;
  swing.MinutiConversazione = s.MinutiConversazione;
  swing.DataUltimaChiamataO = s.DataUltimaChiamataO;
  swing.OraUltimaChiamataO = s.OraUltimaChiamataO;
  swing.DataUltimaChiamataI = s.DataUltimaChiamataI;
  swing.OraUltimaChiamataI = s.OraUltimaChiamataI;
  swing.Sito = s.Sito;
  swing.Derivato = s.Derivato;
  swing.Letto = s;
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
  look_ahead_.Clear();
}

std::shared_ptr<clsSwing> clsSwings::FromRow(const rdo::RdoResultset& row) { return Read(row, Columns(row)); }

void clsSwings::Cache(CacheType mode) {
  tipo_ = mode;
  if (mode == ctNone) return;
  swings_ = std::make_shared<Collection>();
  look_ahead_.Clear();
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
  auto swing = look_ahead_.Fetch(*Connection, numero, [](const rdo::RdoResultset& row) { return FromRow(row); });
  if (!swing) return false;
  const std::string key = swing->Numero;
  AddFetched(*swings_, std::move(swing), key, *Chiamate);
  return true;
}

void clsSwings::Prefetch(const std::vector<std::string_view>& numbers) {
  std::optional<Columns> columns;
  look_ahead_.Prefetch(
      *Connection, numbers, [&](std::string_view number) { return swings_->Find(number) != nullptr; },
      [&](const rdo::RdoResultset& row) {
        if (!columns) columns.emplace(row);
        return Read(row, *columns);
      },
      [](const clsSwing& swing) { return swing.Numero; });
}

std::shared_ptr<clsSwing> clsSwings::GetSwing(std::string_view numero) {
  if (auto swing = swings_->Find(numero)) return swing;
  if (auto swing = look_ahead_.Take(numero)) {
    const std::string key = swing->Numero;
    AddFetched(*swings_, std::move(swing), key, *Chiamate);
  } else if (!CercaSwing(numero)) {
    return nullptr;
  }
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

std::size_t clsSwings::SaveAll(bool changed_only) {
  std::size_t failed = SaveInChunks(
      *Connection, "Swing", *swings_, &clsSwing::Numero, Scrivi,
      [this](auto& member) { return Save(member); }, changed_only);
  SaveStatus = failed == 0 ? ssSaved : ssUnsaved;
  return failed;
}

bool clsSwings::Aggiorna(clsSwing& swing) {
  if (TipoAggiornamento == utImmediate) return Save(swing);
  SaveStatus = ssUnsaved;
  return true;
}

}  // namespace ordalis
