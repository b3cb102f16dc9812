#include "reference/clsNominativi.h"

#include <algorithm>
#include <string>
#include <optional>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "reference/CallUndo.h"
#include "reference/ChunkedSave.h"
#include "reference/clsNominativo.h"
#include "support/CommonLib.h"

namespace ordalis {

namespace {

constexpr char kCacheSource[] = "clsNominativi.Cache";
// Column positions of a Rubrica resultset, looked up once per statement.
struct Columns {
  int id, numero, nome, localita, data_o, ora_o, data_i, ora_i, totale_o, totale_i;

  explicit Columns(const rdo::RdoResultset& rs)
      : id(Require(rs, "lPKId")),
        numero(Require(rs, "sNumero")),
        nome(Require(rs, "sNome")),
        localita(Require(rs, "sLocalita")),
        data_o(Require(rs, "dDataUltimaChiamataO")),
        ora_o(Require(rs, "dOraUltimaChiamataO")),
        data_i(Require(rs, "dDataUltimaChiamataI")),
        ora_i(Require(rs, "dOraUltimaChiamataI")),
        totale_o(Require(rs, "lTotaleSelezioniO")),
        totale_i(Require(rs, "lTotaleSelezioniI")) {}

  static int Require(const rdo::RdoResultset& rs, const char* name) {
    int i = rs.ColumnIndex(name);
    if (i < 0) throw ComponentError(rdo::kErrColumnNotFound, std::string("Column '") + name + "' not found in Rubrica");
    return i;
  }
};

std::shared_ptr<clsNominativo> Read(const rdo::RdoResultset& rs, const Columns& c, rdo::RdoConnection* database) {
  auto n = std::make_shared<clsNominativo>();
  n->Database = database;
  n->PKId = ContatoreDaColonna(rs.Value(c.id));
  n->NumeroTel = rs.Value(c.numero).ToText();
  n->Nome = rs.Value(c.nome).ToText();
  n->Localita = rs.Value(c.localita).ToText();
  n->DataUltimaChiamataO = rs.Value(c.data_o).ToDate();
  n->OraUltimaChiamataO = rs.Value(c.ora_o).ToDate();
  n->DataUltimaChiamataI = rs.Value(c.data_i).ToDate();
  n->OraUltimaChiamataI = rs.Value(c.ora_i).ToDate();
  n->TotaleSelezioniO = ContatoreDaColonna(rs.Value(c.totale_o));
  n->TotaleSelezioniI = ContatoreDaColonna(rs.Value(c.totale_i));
  n->Letto = n->Attuali();
  return n;
}

// The statistics of `entry` into the current row of `rs` (Edit), or into a
// new row with its name, number and place (AddNew); the edited row's name
// and place are read back into the entry first. The counts written are the
// row's plus what the entry gained since this process last read or wrote
// it; the entry then holds what was written.
void Scrivi(rdo::RdoResultset& rs, clsNominativo& entry, bool inserting) {
  clsNominativo::Statistiche s = entry.Attuali();
  if (inserting) {
    rs.AddNew();
    rs.SetValue("sNome", Variant(entry.Nome));
    rs.SetValue("sNumero", Variant(entry.NumeroTel));
    rs.SetValue("sLocalita", Variant(entry.Localita));
  } else {
    entry.Nome = rs.Value("sNome").ToText();
    entry.Localita = rs.Value("sLocalita").ToText();
    const clsNominativo::Statistiche& letto = entry.Letto;
    s.TotaleSelezioniO = SommaContatore(ContatoreDaColonna(rs.Value("lTotaleSelezioniO")),
                                        SommaContatore(s.TotaleSelezioniO, -letto.TotaleSelezioniO));
    s.TotaleSelezioniI = SommaContatore(ContatoreDaColonna(rs.Value("lTotaleSelezioniI")),
                                        SommaContatore(s.TotaleSelezioniI, -letto.TotaleSelezioniI));
    UnisciUltimaChiamata(rs.Value("dDataUltimaChiamataO").ToDate(), rs.Value("dOraUltimaChiamataO").ToDate(),
                         letto.DataUltimaChiamataO, letto.OraUltimaChiamataO, s.DataUltimaChiamataO,
                         s.OraUltimaChiamataO);
    UnisciUltimaChiamata(rs.Value("dDataUltimaChiamataI").ToDate(), rs.Value("dOraUltimaChiamataI").ToDate(),
                         letto.DataUltimaChiamataI, letto.OraUltimaChiamataI, s.DataUltimaChiamataI,
                         s.OraUltimaChiamataI);
    rs.Edit();
  }
  rs.SetValue("dDataUltimaChiamataO", Variant::FromDate(s.DataUltimaChiamataO));
  rs.SetValue("dDataUltimaChiamataI", Variant::FromDate(s.DataUltimaChiamataI));
  rs.SetValue("dOraUltimaChiamataI", Variant::FromDate(s.OraUltimaChiamataI));
  rs.SetValue("dOraUltimaChiamataO", Variant::FromDate(s.OraUltimaChiamataO));
  rs.SetValue("lTotaleSelezioniI", Variant(static_cast<std::int64_t>(s.TotaleSelezioniI)));
  rs.SetValue("lTotaleSelezioniO", Variant(static_cast<std::int64_t>(s.TotaleSelezioniO)));
  rs.Update();
  entry.TotaleSelezioniO = s.TotaleSelezioniO;
  entry.TotaleSelezioniI = s.TotaleSelezioniI;
  entry.DataUltimaChiamataO = s.DataUltimaChiamataO;
  entry.OraUltimaChiamataO = s.OraUltimaChiamataO;
  entry.DataUltimaChiamataI = s.DataUltimaChiamataI;
  entry.OraUltimaChiamataI = s.OraUltimaChiamataI;
  entry.Letto = s;
}

}  // namespace

clsNominativi::clsNominativi() : nominativi_(std::make_shared<Collection>()) {}

clsNominativi::clsNominativi(clsChiamate* engine, rdo::RdoConnection* connection, UpdateType tipo_aggiornamento)
    : Chiamate(engine),
      Connection(connection),
      TipoAggiornamento(tipo_aggiornamento),
      nominativi_(std::make_shared<Collection>()) {}

clsNominativi::~clsNominativi() = default;

void clsNominativi::set_Nominativi(std::shared_ptr<Collection> collection) {
  nominativi_ = collection ? std::move(collection) : std::make_shared<Collection>();
  look_ahead_.Clear();
}

std::shared_ptr<clsNominativo> clsNominativi::FromRow(const rdo::RdoResultset& row, rdo::RdoConnection* database) {
  return Read(row, Columns(row), database);
}

void clsNominativi::Cache(CacheType mode) {
  tipo_ = mode;
  if (mode == ctNone) return;
  nominativi_ = std::make_shared<Collection>();
  look_ahead_.Clear();
  SaveStatus = ssSaved;
  if (mode != ctPreload) return;
  try {
    auto rs = Connection->OpenResultset("SELECT * FROM Rubrica", rdo::CursorType::ForwardOnly,
                                        rdo::LockType::ReadOnly);
    const Columns columns(*rs);
    for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
      auto entry = Read(*rs, columns, Connection);
      const std::string key = entry->NumeroTel;
      entry->Key = key;
      AddToCollection(*nominativi_, std::move(entry), key, Chiamate->ErrorSink());
    }
    rs->Close();
  } catch (const ComponentError& e) {
    Chiamate->CacheError(ComponentError(e.Number(), e.Description(), kCacheSource));
  }
}

bool clsNominativi::CercaNominativo(std::string_view numero) {
  auto entry =
      look_ahead_.Fetch(*Connection, numero, [this](const rdo::RdoResultset& row) { return FromRow(row, Connection); });
  if (!entry) return false;
  const std::string key = entry->NumeroTel;
  AddFetched(*nominativi_, std::move(entry), key, *Chiamate);
  return true;
}

void clsNominativi::Prefetch(const std::vector<std::string_view>& numbers) {
  std::optional<Columns> columns;
  look_ahead_.Prefetch(
      *Connection, numbers, [&](std::string_view number) { return nominativi_->Find(number) != nullptr; },
      [&](const rdo::RdoResultset& row) {
        if (!columns) columns.emplace(row);
        return Read(row, *columns, Connection);
      },
      [](const clsNominativo& entry) { return entry.NumeroTel; });
}

std::shared_ptr<clsNominativo> clsNominativi::GetNominativo(std::string_view numero) {
  if (auto entry = nominativi_->Find(numero)) return entry;
  if (auto entry = look_ahead_.Take(numero)) {
    const std::string key = entry->NumeroTel;
    AddFetched(*nominativi_, std::move(entry), key, *Chiamate);
  } else if (!CercaNominativo(numero)) {
    return nullptr;
  }
  return nominativi_->Find(numero);
}

bool clsNominativi::Save(clsNominativo& entry) {
  if (SaveMember(*Connection, "Rubrica", entry, entry.NumeroTel, Scrivi)) return true;
  SaveStatus = ssUnsaved;
  return false;
}

std::size_t clsNominativi::SaveAll(bool changed_only) {
  std::size_t failed = SaveInChunks(
      *Connection, "Rubrica", *nominativi_, &clsNominativo::NumeroTel, Scrivi,
      [this](auto& member) { return Save(member); }, changed_only);
  SaveStatus = failed == 0 ? ssSaved : ssUnsaved;
  return failed;
}

void clsNominativi::Registra(const std::shared_ptr<clsNominativo>& entry, bool uscente, DateTime dData, DateTime dOra,
                             bool annulla, bool per_data) {
  if (Undo) Undo->Remember(entry);
  entry->RegistraChiamata(uscente, dData, dOra, annulla, per_data);
  Aggiorna(*entry);
}

bool clsNominativi::Aggiorna(clsNominativo& entry) {
  if (TipoAggiornamento == utImmediate) return Save(entry);
  SaveStatus = ssUnsaved;
  return true;
}

}  // namespace ordalis
