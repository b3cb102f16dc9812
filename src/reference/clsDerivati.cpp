#include "reference/clsDerivati.h"

#include <chrono>
#include <limits>
#include <thread>
#include <unordered_set>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsDerivato.h"
#include "reference/clsSiti.h"
#include "support/CommonLib.h"
#include "support/RegistryLib.h"
#include "support/StringTable.h"

namespace ordalis {

namespace {

constexpr char kCacheSource[] = "clsDerivati.Cache";
constexpr std::int32_t kErrInvalidUseOfNull = 94;
constexpr char kKeySeparator[] = "\xC2\xA6";  // U+00A6 broken bar

[[noreturn]] void ThrowNull(const char* column) {
  throw ComponentError(kErrInvalidUseOfNull, std::string("Invalid use of Null (") + column + ")", kCacheSource);
}

// Totals and thresholds: a NULL does not convert.
std::int32_t ToLong(const Variant& v, const char* column) {
  if (v.IsNull()) ThrowNull(column);
  const std::int64_t n = v.ToInteger();
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
    throw ComponentError(kErrOverflow, "Overflow", kCacheSource);
  return static_cast<std::int32_t>(n);
}
Money ToMoneyNotNull(const Variant& v, const char* column) {
  if (v.IsNull()) ThrowNull(column);
  return v.ToMoney();
}
// iPrivacy is read through its text form: NULL and non-numbers give 0.
std::int16_t ToPrivacy(const Variant& v) {
  const Variant text(v.ToText());
  if (!text.IsNumeric()) return 0;
  const std::int64_t n = text.ToInteger();
  if (n < std::numeric_limits<std::int16_t>::min() || n > std::numeric_limits<std::int16_t>::max())
    throw ComponentError(kErrOverflow, "Overflow", kCacheSource);
  return static_cast<std::int16_t>(n);
}
bool ToSwing(const Variant& v) { return !v.IsNull() && v.ToBool(); }
Money ToRicarico(const Variant& v) { return v.IsNull() ? Money() : Money::FromDouble(v.ToDouble()); }

int Require(const rdo::RdoResultset& rs, const char* name) {
  const int i = rs.ColumnIndex(name);
  if (i < 0) throw ComponentError(rdo::kErrColumnNotFound, std::string("Column '") + name + "' not found in Derivati",
                                  kCacheSource);
  return i;
}

struct Columns {
  explicit Columns(const rdo::RdoResultset& rs)
      : pk(Require(rs, "lPKId")),
        numero(Require(rs, "sNumero")),
        nome(Require(rs, "sNome")),
        sito(Require(rs, "sSito")),
        reparto(Require(rs, "sReparto")),
        centro(Require(rs, "sCentroDiCosto")),
        ubicazione(Require(rs, "sUbicazione")),
        privacy(Require(rs, "iPrivacy")),
        sede(Require(rs, "sSedeFisica")),
        time_zone(Require(rs, "IDTimeZone")),
        swing(Require(rs, "bSwing")),
        ricarico(Require(rs, "rRicaricoCosto")),
        tot_minuti(Require(rs, "lTotMinuti")),
        tot_chiamate(Require(rs, "lTotChiamate")),
        tot_costo(Require(rs, "cTotCosto")),
        soglia_minuti(Require(rs, "lSogliaMinuti")),
        soglia_chiamate(Require(rs, "lSogliaChiamate")),
        soglia_costo(Require(rs, "cSogliaCosto")) {}
  int pk, numero, nome, sito, reparto, centro, ubicazione, privacy, sede, time_zone, swing, ricarico, tot_minuti,
      tot_chiamate, tot_costo, soglia_minuti, soglia_chiamate, soglia_costo;
};

Variant TextOrNull(const std::string& text) { return text.empty() ? Variant() : Variant(text); }

// Writes the totals `minuti`, `chiamate`, `costo`; the extension then holds
// them as written.
void WriteTotals(rdo::RdoResultset& rs, clsDerivato& d, std::int32_t minuti, std::int32_t chiamate, Money costo) {
  rs.SetValue("lTotMinuti", Variant(static_cast<std::int64_t>(minuti)));
  rs.SetValue("lTotChiamate", Variant(static_cast<std::int64_t>(chiamate)));
  rs.SetValue("cTotCosto", Variant(costo));
  rs.SetValue("sSogliaSuperata", TextOrNull(d.SogliaSuperata));
  rs.Update();
  d.TotMinuti = d.TotMinutiLetto = minuti;
  d.TotChiamate = d.TotChiamateLetto = chiamate;
  d.TotCosto = d.TotCostoLetto = costo;
}

// Writes the totals over the current row, first reading its descriptive
// columns back: what was changed in the table while the engine ran wins
// over memory. The totals written are the row's plus what memory gained
// since this process last read or wrote them, so that what other processes
// added stays.
void EditTotals(rdo::RdoResultset& rs, clsDerivato& d) {
  const std::int32_t minuti = ToLong(rs.Value("lTotMinuti"), "lTotMinuti");
  const std::int32_t chiamate = ToLong(rs.Value("lTotChiamate"), "lTotChiamate");
  const Money costo = ToMoneyNotNull(rs.Value("cTotCosto"), "cTotCosto");
  std::int32_t nuovi_minuti, nuove_chiamate;
  if (__builtin_add_overflow(minuti, static_cast<std::int64_t>(d.TotMinuti) - d.TotMinutiLetto, &nuovi_minuti) ||
      __builtin_add_overflow(chiamate, static_cast<std::int64_t>(d.TotChiamate) - d.TotChiamateLetto,
                             &nuove_chiamate))
    throw ComponentError(kErrOverflow, "Overflow", kCacheSource);
  rs.Edit();
  d.Nome = rs.Value("sNome").ToText();
  d.Reparto = rs.Value("sReparto").ToText();
  d.CentroDiCosto = rs.Value("sCentroDiCosto").ToText();
  d.Ubicazione = rs.Value("sUbicazione").ToText();
  d.Privacy = ToPrivacy(rs.Value("iPrivacy"));
  d.Swing = ToSwing(rs.Value("bSwing"));
  d.Ricarico = ToRicarico(rs.Value("rRicaricoCosto"));
  d.SogliaMinuti = ToLong(rs.Value("lSogliaMinuti"), "lSogliaMinuti");
  d.SogliaChiamate = ToLong(rs.Value("lSogliaChiamate"), "lSogliaChiamate");
  d.SogliaCosto = ToMoneyNotNull(rs.Value("cSogliaCosto"), "cSogliaCosto");
  WriteTotals(rs, d, nuovi_minuti, nuove_chiamate, costo + (d.TotCosto - d.TotCostoLetto));
}

}  // namespace

clsDerivati::clsDerivati()
    : derivati_(std::make_shared<Collection>()), text_added_(LoadResString(20801)), text_error_(LoadResString(20802)) {}

clsDerivati::clsDerivati(clsChiamate* engine, rdo::RdoConnection* connection, UpdateType tipo_aggiornamento)
    : Connection(connection),
      TipoAggiornamento(tipo_aggiornamento),
      Chiamate(engine),
      derivati_(std::make_shared<Collection>()),
      text_added_(LoadResString(20801)),
      text_error_(LoadResString(20802)) {}

clsDerivati::~clsDerivati() = default;

std::string clsDerivati::MakeKey(const std::string& numero, const std::string& sito) {
  std::string key;
  key.reserve(numero.size() + sito.size() + 2);
  key += numero;
  key += kKeySeparator;
  key += sito;
  return key;
}

void clsDerivati::Cache(CacheType tipo) {
  tipo_ = tipo;
  if (tipo != ctPreload) return;
  auto rs = Connection->OpenResultset("SELECT * FROM Derivati", rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
  derivati_ = std::make_shared<Collection>();
  const Columns c(*rs);
  for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
    auto d = std::make_shared<clsDerivato>();
    d->PKId = ToLong(rs->Value(c.pk), "lPKId");
    d->Numero = rs->Value(c.numero).ToText();
    d->Nome = rs->Value(c.nome).ToText();
    d->Sito = rs->Value(c.sito).ToText();
    d->Reparto = rs->Value(c.reparto).ToText();
    d->CentroDiCosto = rs->Value(c.centro).ToText();
    d->Ubicazione = rs->Value(c.ubicazione).ToText();
    d->Privacy = ToPrivacy(rs->Value(c.privacy));
    d->SedeFisica = rs->Value(c.sede).ToText();
    d->IDTimeZone = rs->Value(c.time_zone).ToText();
    d->Swing = ToSwing(rs->Value(c.swing));
    d->Ricarico = ToRicarico(rs->Value(c.ricarico));
    d->TotMinuti = ToLong(rs->Value(c.tot_minuti), "lTotMinuti");
    d->TotChiamate = ToLong(rs->Value(c.tot_chiamate), "lTotChiamate");
    d->TotCosto = ToMoneyNotNull(rs->Value(c.tot_costo), "cTotCosto");
    d->SogliaMinuti = ToLong(rs->Value(c.soglia_minuti), "lSogliaMinuti");
    d->SogliaChiamate = ToLong(rs->Value(c.soglia_chiamate), "lSogliaChiamate");
    d->SogliaCosto = ToMoneyNotNull(rs->Value(c.soglia_costo), "cSogliaCosto");
    d->TotMinutiLetto = d->TotMinuti;
    d->TotChiamateLetto = d->TotChiamate;
    d->TotCostoLetto = d->TotCosto;
    d->SogliaSuperata = "-";
    d->Database = Connection;
    d->Key = MakeKey(d->Numero, d->Sito);
    const std::string key = d->Key;
    // A repeated number¦site (letter case ignored) keeps the first row.
    AddToCollection(*derivati_, std::move(d), key, Chiamate->ErrorSink());
  }
  rs->Close();
}

bool clsDerivati::Save(clsDerivato& d) {
  // A write that failed (the row changed by another process since it was
  // read, the database held by another writer) is tried again on the row
  // read afresh.
  constexpr int kAttempts = 10;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (SaveOnce(d)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
  }
  return false;
}

bool clsDerivati::SaveOnce(clsDerivato& d) {
  const std::string where = " WHERE sSito=" + rdo::SqlQuote(d.Sito) + " and sNumero=" + rdo::SqlQuote(d.Numero);
  try {
    auto rs = Connection->OpenResultset("SELECT * FROM Derivati" + where, rdo::CursorType::Keyset,
                                        rdo::LockType::OptimisticRowVer);
    const bool insert = rs->Eof();
    try {
      if (insert) {
        rs->AddNew();
        rs->SetValue("sNumero", Variant(d.Numero));
        rs->SetValue("sNome", Variant(d.Nome));
        rs->SetValue("sSito", Variant(d.Sito));
        rs->SetValue("sReparto", Variant(d.Reparto));
        rs->SetValue("sCentroDiCosto", Variant(d.CentroDiCosto));
        rs->SetValue("sUbicazione", Variant(d.Ubicazione));
        rs->SetValue("iPrivacy", Variant(static_cast<int>(d.Privacy)));
        rs->SetValue("bSwing", Variant(d.Swing));
        rs->SetValue("rRicaricoCosto", Variant(d.Ricarico.ToDouble()));
        rs->SetValue("lSogliaMinuti", Variant(static_cast<std::int64_t>(d.SogliaMinuti)));
        rs->SetValue("lSogliaChiamate", Variant(static_cast<std::int64_t>(d.SogliaChiamate)));
        rs->SetValue("cSogliaCosto", Variant(d.SogliaCosto));
        WriteTotals(*rs, d, d.TotMinuti, d.TotChiamate, d.TotCosto);
      } else {
        EditTotals(*rs, d);
      }
    } catch (...) {
      rs->CancelUpdate();
      throw;
    }
    // A row just added is not the resultset's current row: read its
    // identity back from the table.
    const Variant pk = insert ? Variant(QueryFirstValue("SELECT lPKId FROM Derivati" + where, *Connection))
                              : rs->Value("lPKId");
    rs->Close();
    if (pk.IsNumeric()) d.PKId = static_cast<std::int32_t>(pk.ToInteger());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::size_t clsDerivati::SaveAll() {
  // One pass over the table writes every member that has a row (the first
  // row of a repeated number¦site, as Cache keeps it); the members it did
  // not reach (no row yet, a row that could not be written, a table that
  // could not be read) are then saved one by one.
  std::unordered_set<const clsDerivato*> written;
  try {
    auto rs = Connection->OpenResultset("SELECT * FROM Derivati", rdo::CursorType::Keyset,
                                        rdo::LockType::OptimisticRowVer);
    const int numero = Require(*rs, "sNumero"), sito = Require(*rs, "sSito"), pk = Require(*rs, "lPKId");
    for (; !rs->Eof(); rs->MoveNext()) {
      auto d = derivati_->Find(MakeKey(rs->Value(numero).ToText(), rs->Value(sito).ToText()));
      if (!d || !written.insert(d.get()).second) continue;
      try {
        EditTotals(*rs, *d);
        if (rs->Value(pk).IsNumeric()) d->PKId = static_cast<std::int32_t>(rs->Value(pk).ToInteger());
      } catch (const std::exception&) {
        rs->CancelUpdate();
        written.erase(d.get());
      }
    }
    rs->Close();
  } catch (const std::exception&) {
  }
  std::size_t failed = 0;
  for (const auto& d : *derivati_)
    if (!written.count(d.get()) && !Save(*d)) ++failed;
  return failed;
}

bool clsDerivati::HasRow(const std::string& numero, const std::string& sito) {
  return !QueryFirstValue("SELECT lPKId FROM Derivati WHERE sNumero=? AND sSito=?", {numero, sito}, *Connection)
              .empty();
}

void clsDerivati::AddRow(const std::string& numero, const std::string& sito, std::int16_t privacy) {
  // Only new rows are written: the resultset needs no existing row.
  auto rs = Connection->OpenResultset("Select * from Derivati WHERE 1 = 0", rdo::CursorType::Keyset,
                                      rdo::LockType::OptimisticRowVer);
  try {
    rs->AddNew();
    rs->SetValue("sNumero", Variant(numero));
    rs->SetValue("sSito", Variant(sito));
    rs->SetValue("sNome", Variant("?"));
    rs->SetValue("sNote", Variant(text_added_));
    rs->SetValue("sReparto", Variant("-"));
    rs->SetValue("sCentroDiCosto", Variant("-"));
    rs->SetValue("sUbicazione", Variant("-"));
    rs->SetValue("iPrivacy", Variant(static_cast<int>(privacy)));
    rs->SetValue("rRicaricoCosto", Variant(0.0));
    rs->SetValue("lSogliaChiamate", Variant(0));
    rs->SetValue("cSogliaCosto", Variant(Money()));
    rs->SetValue("lSogliaMinuti", Variant(0));
    rs->SetValue("sSogliaSuperata", Variant(""));
    rs->SetValue("bSwing", Variant(true));
    rs->SetValue("lTotChiamate", Variant(0));
    rs->SetValue("cTotCosto", Variant(Money()));
    rs->SetValue("lTotMinuti", Variant(0));
    rs->Update();
  } catch (...) {
    rs->CancelUpdate();
    throw;
  }
  rs->Close();
}

bool clsDerivati::InserimentoAutomaticoDerivato(const std::string& numero, std::string& sito,
                                                std::shared_ptr<clsDerivato>& derivato, bool condiviso) {
  if (numero.empty()) return false;
  if (condiviso) {
    sito = "*";
    if (IsOem(kOemKelmora) && Chiamate && Chiamate->Siti && !Chiamate->Siti->SitoRiferimento.empty())
      sito = Chiamate->Siti->SitoRiferimento;
  }
  const std::int16_t privacy = Chiamate ? Chiamate->DefaultPrivacy() : 0;
  constexpr int kAttempts = 10;
  bool stored = false;
  for (int attempt = 1; attempt <= kAttempts && !stored; ++attempt) {
    try {
      // Another process rating the same database may have added it: its row
      // is the one this call would have added.
      if (!HasRow(numero, sito)) AddRow(numero, sito, privacy);
      stored = true;
    } catch (const ComponentError& e) {
      last_error_ = text_error_ + e.Description();
    } catch (const std::exception& e) {
      last_error_ = text_error_ + e.what();
    }
    if (!stored && attempt < kAttempts) std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
  }
  if (!stored) {
    WriteDetailLogNoThrow(last_error_);
    return false;
  }
  auto d = std::make_shared<clsDerivato>();
  d->Numero = numero;
  d->Sito = sito;
  d->Nome = "?";
  d->Reparto = d->CentroDiCosto = d->Ubicazione = "-";
  d->Privacy = privacy;
  d->Swing = true;
  d->SogliaSuperata = "-";
  d->Database = Connection;
  d->Key = MakeKey(numero, sito);
  const std::string key = d->Key;
  if (Chiamate) AddToCollection(*derivati_, d, key, Chiamate->ErrorSink());
  derivato = std::move(d);
  return true;
}

}  // namespace ordalis
