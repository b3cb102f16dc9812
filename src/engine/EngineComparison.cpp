// Carrier comparison and single-call rating: the list of compared carrier
// files, the comparison cache load, pricing one call with a chosen carrier,
// pricing a site's period with every listed carrier into the host's grid,
// and the library's comparison table built on them.
#include <cstdio>
#include <filesystem>
#include <set>

#include "call/clsChiamata.h"
#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "engine/EngineState.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppiDest.h"
#include "ordalis/CarrierComparison.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Grid.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsCalendario.h"
#include "reference/clsDerivati.h"
#include "reference/clsDerivato.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsCarriers.h"
#include "tariffs/clsDatiTariffa.h"
#include "tariffs/clsTariffa.h"

namespace ordalis {
namespace {

constexpr std::int32_t kErrObjectNotSet = 91;
constexpr std::int32_t kErrInvalidArgument = 5;
constexpr std::int32_t kErrInternal = 51;
constexpr int kGridColumns = 6;
constexpr std::size_t kTotalColumn = 5;  // 0-based
const char kNotPriced[] = "0.";

// NomeCarrier of the first row of the file's Carrier table; empty when the
// table is empty. Throws the layer's error.
std::string ReadCarrierName(rdo::RdoConnection& file) {
  auto rs = file.OpenResultset("SELECT * FROM Carrier");
  std::string name = rs->Eof() ? std::string() : rs->Value("NomeCarrier").ToText();
  rs->Close();
  return name;
}

// The grid column (0-based) of a destination type.
struct TypeColumns {
  std::string local = LoadResString(23011), national = LoadResString(23012), adjacent = LoadResString(23013),
              regional = LoadResString(23014), international = LoadResString(23015), mobile = LoadResString(23016);
  std::size_t Column(const std::string& tipo) const {
    if (tipo == local) return 0;
    if (tipo == national || tipo == adjacent || tipo == regional) return 1;
    if (tipo == mobile) return 2;
    if (tipo == international) return 3;
    return 4;
  }
};

// A cell's amount: the host's 0, an amount added before, or the "0." mark
// (which counts as 0 when an amount is added to it).
Money CellAmount(const Variant& cell) {
  if (cell.IsNull()) return Money();
  if (cell.kind() == Variant::Kind::Text) return cell.IsNumeric() ? cell.ToMoney() : Money();
  return cell.ToMoney();
}

bool IsZeroNumber(const Variant& cell) {
  if (cell.IsNull()) return true;
  if (cell.kind() == Variant::Kind::Text) return false;
  return cell.ToMoney() == Money();
}

// The destinations a carrier file lists, as members of the comparison's
// destinations and in their order.
std::shared_ptr<clsDestinazioni> FileDestinations(rdo::RdoConnection& file, const clsDestinazioni& all) {
  auto own = std::make_shared<clsDestinazioni>();
  auto rs = file.OpenResultset("SELECT sNazione, sArea FROM Destinazioni ORDER BY sNazione DESC, sArea DESC");
  for (; !rs->Eof(); rs->MoveNext()) {
    const std::string key = clsDestinazione::MakeKey(rs->Value(0).ToText(), rs->Value(1).ToText());
    if (own->Destinazioni().Contains(key)) continue;
    if (auto d = all.Destinazioni().Find(key)) own->Add(std::move(d), key);
  }
  rs->Close();
  return own;
}

std::string DateText(DateTime d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", dt::Year(d), dt::Month(d), dt::Day(d));
  return text;
}

// dData within the days from..to (both inclusive). A SQLite file may hold
// the date in any form the engine reads (ISO text with or without time,
// "T" or fractional seconds, or a number of days since 1899-12-30), so the
// day is worked out from the value rather than compared as text; a database
// server holds a real date-time.
std::string PeriodCondition(bool file_database, DateTime from, DateTime to) {
  if (file_database)
    return "(CASE WHEN dData GLOB '[0-9][0-9][0-9][0-9]-*' THEN date(dData) ELSE date(CAST(dData AS REAL) + "
           "2415018.5) END) BETWEEN '" + DateText(from) + "' AND '" + DateText(to) + "'";
  return "dData >= {d '" + DateText(from) + "'} and dData < {d '" + DateText(dt::DatePart(to) + 1) + "'}";
}

}  // namespace

// ---------------------------------------------------------------- the list of compared files

void clsChiamate::AggiungiCarrierPerConfronto(const std::string& sFileCarrier) {
  if (!col_carrier_) col_carrier_ = std::make_shared<KeyedCollection<TextItem>>();
  auto item = std::make_shared<TextItem>();
  item->value = sFileCarrier;
  col_carrier_->Add(std::move(item));
}

void clsChiamate::CancellaListaCarrierPerConfronto() {
  col_carrier_ = std::make_shared<KeyedCollection<TextItem>>();
}

bool clsChiamate::ControllaDuplicatiNomiCarrier(KeyedCollection<TextItem>& vcolCarrier) {
  KeyedCollection<TextItem> names;
  std::set<std::string> seen;
  auto environment = rdo::rdoCreateEnvironment("QuarzoCarriers", "", "");
  for (const auto& file : vcolCarrier) {
    // The same file named twice holds one carrier: renaming it against
    // itself would change its name on disk.
    std::error_code ec;
    std::string identity = std::filesystem::weakly_canonical(file->value, ec).string();
    if (ec) identity = file->value;
    if (!seen.insert(identity).second) continue;

    auto connection =
        environment->OpenConnection("", false, false, "driver=Microsoft Access Driver (*.mdb);DBQ=" + file->value + ";");
    std::unique_ptr<rdo::RdoResultset> rs;
    std::string stored;
    try {
      rs = connection->OpenResultset("SELECT * FROM Carrier", rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
      if (!rs->Eof()) stored = rs->Value("NomeCarrier").ToText();
    } catch (const ComponentError& e) {
      throw ComponentError(e.Number(), file->value + " is not a carrier tariff file: " + e.Description(), e.Source());
    }
    if (!rs->Eof()) {
      std::string name = stored;
      for (int n = 2; names.Contains(name); ++n) name = stored + " (" + std::to_string(n) + ")";
      auto item = std::make_shared<TextItem>();
      item->value = name;
      names.Add(std::move(item), name);
      if (name != stored) {
        WriteDetailLog("Carrier rinominato: " + stored + " -> " + name + " in " + file->value);
        rs->Edit();
        rs->SetValue("NomeCarrier", Variant(name));
        rs->Update();
      }
    }
    rs->Close();
    connection->Close();
  }
  environment->Close();
  return true;
}

// ---------------------------------------------------------------- comparison caches

void clsChiamate::Reconnect() {
  if (mb_conn_aperta_) return;
  Reopen();
  mb_conn_aperta_ = true;
}

void clsChiamate::CacheConfrontoCarrier(const std::string& sSito) {
  StopCallNotes();
  Reconnect();
  Impl& s = *impl_;
  s.calendar = LoadResString(21000);
  s.destinations = LoadResString(21001);
  s.sites = LoadResString(21002);
  s.groups = LoadResString(21003);
  s.carriers = LoadResString(21004);
  s.extensions = LoadResString(21008);
  pref_nazione_ = ReadOption("Process", "Nazione", "39");
  pref_internazionale_ = ReadOption("Configurazione", "PrefissoInternazionale", "00");
  // The events table is opened to check that it can be read; nothing in the
  // engine reads its rows, so no cursor is kept on the connection.
  if (connection_->TableExists("Eventi")) connection_->OpenResultset("SELECT * FROM Eventi")->Close();

  const std::size_t files = col_carrier_->Count();
  // Connections to the carrier files, open while their caches load.
  std::vector<std::unique_ptr<rdo::RdoConnection>> open_files;
  auto open = [&](const std::string& path) {
    open_files.push_back(rdo::RdoEnvironment::Default().OpenConnection("", false, false, rdo::FileConnectString(path)));
    return open_files.back().get();
  };
  // NomeCarrier of the file; a file whose carrier is already cached is
  // skipped. Errors reading the name are ignored here: the caches report
  // what is wrong with the file.
  auto already_cached = [&](rdo::RdoConnection& file) {
    std::string name;
    try {
      name = ReadCarrierName(file);
    } catch (const ComponentError&) {
    }
    return Carriers && Carriers->Carriers().Contains(name);
  };
  auto release_file_connections = [&] {
    if (Destinazioni) Destinazioni->Connection = nullptr;
    if (GruppiDest) GruppiDest->Connection = nullptr;
    if (Carriers) Carriers->Connection = nullptr;
    open_files.clear();
  };

  try {
    std::int32_t total = static_cast<std::int32_t>(2 * files + 5), done = 1;
    Events().CacheStart(total);
    auto change = [&](const std::string& name) {
      std::int32_t d = done++, t = total;
      std::string n = name;
      Events().CacheChange(d, t, n);
    };
    change(s.calendar);
    prefissi_interconn_ = std::make_shared<KeyedCollection<TextItem>>();
    ControllaDuplicatiNomiCarrier(*col_carrier_);

    if (!cache_stopped_) {
      Calendario = std::make_shared<clsCalendario>(this, connection_.get());
      Calendario->Cache(ctPreload, "");
      LoadInterconnectionPrefixes();
    }

    change(s.destinations);
    for (const auto& file : *col_carrier_) {
      if (cache_stopped_) break;
      rdo::RdoConnection* connection = open(file->value);
      if (!already_cached(*connection)) {
        if (!Destinazioni) Destinazioni = std::make_shared<clsDestinazioni>(this);
        Destinazioni->Connection = connection;
        Destinazioni->Chiamate = this;
        Destinazioni->Cache(ctPreload);
      }
      change(file->value);
    }

    change(s.sites);
    Siti = std::make_shared<clsSiti>(this, connection_.get(), tipo_db_);
    Siti->Cache(ctPreload, LogPath());

    change(s.groups);
    for (const auto& file : *col_carrier_) {
      rdo::RdoConnection* connection = open(file->value);
      if (!already_cached(*connection)) {
        if (!cache_stopped_) {
          if (!GruppiDest) GruppiDest = std::make_shared<clsGruppiDest>(this, nullptr);
          GruppiDest->Connection = connection;
          GruppiDest->Destinazioni = Destinazioni;
          GruppiDest->Chiamate = this;
          GruppiDest->Cache(ctPreload, true);
        }
        if (!cache_stopped_) {
          if (!Carriers) Carriers = std::make_shared<clsCarriers>();
          Carriers->Connection = connection;
          Carriers->Chiamate = this;
          Carriers->NomeFileCarrier = file->value;
          const auto site = Siti ? Siti->GetSito(sSito) : nullptr;
          Carriers->SitoDestinazione = site ? site->Destinazione : nullptr;
          Carriers->Cache(ctPreload);
          auto loaded = Carriers->Carriers().Find(Carriers->NomeCarrier());
          if (!cache_stopped_ && loaded && loaded->DatabaseTariffe == file->value && Destinazioni)
            loaded->Destinazioni = FileDestinations(*connection, *Destinazioni);
        }
      }
      change(file->value);
      if (cache_stopped_) {
        release_file_connections();
        UnCache();
        break;
      }
    }
    release_file_connections();

    if (!cache_stopped_) {
      change(s.extensions);
      Derivati = std::make_shared<clsDerivati>(this, connection_.get(), tipo_aggiornamento_);
      Derivati->Cache(ctPreload);
    }
    Events().CacheDone();
    cached_ = true;
  } catch (const ComponentError& e) {
    // The load ends at its first failure; the host finds it in Errore.
    release_file_connections();
    errore_ = e.Description();
    WriteDetailLogNoThrow("CacheConfrontoCarrier: " + e.Description());
  } catch (const std::exception& e) {
    release_file_connections();
    errore_ = e.what();
    WriteDetailLogNoThrow("CacheConfrontoCarrier: " + errore_);
  }
}

// ---------------------------------------------------------------- one call

void clsChiamate::CalcolaChiamata(DateTime dData, DateTime dOra, DateTime dDurata, const std::string& sNumero,
                                  const std::string& sFileCarrier, const std::string& sSito,
                                  const std::string& sDerivato, bool bCache) {
  WriteDetailLog("Start calcola chiamata");
  if (!mo_chiamata_) {
    mo_chiamata_ = std::make_shared<clsChiamata>();
    WriteDetailLog("Set moChiamata = New clsChiamata");
  }
  clsChiamata& call = *mo_chiamata_;
  call.ForgetMemos();  // the calendars may have been loaded again since the last call
  if (!call.Chiamate) {
    WriteDetailLog("Set moChiamata.Chiamate = Me");
    call.Chiamate = this;
    WriteDetailLog("Stato tariffa e numero");
    call.StatoTariffa3 = stDaIndividuare;
    call.StatoNumero = stDaIndividuare;
  }
  if (!col_carrier_) {
    WriteDetailLog("Set mcolConfrontoCarrier = New Collection");
    col_carrier_ = std::make_shared<KeyedCollection<TextItem>>();
  }
  WriteDetailLog("mcolConfrontoCarrier.Add sFileCarrier, sFileCarrier");
  std::string add_error;
  if (col_carrier_->Contains(sFileCarrier)) {
    add_error = "This key is already associated with an element of this collection";
    bCache = false;  // already listed: its caches are loaded
  } else {
    auto item = std::make_shared<TextItem>();
    item->value = sFileCarrier;
    col_carrier_->Add(std::move(item), sFileCarrier);
  }
  WriteDetailLog("Err = " + add_error);

  call.dData = dData;
  call.dOra = dOra;
  call.dDurata = dDurata;
  call.sNumero = sNumero;
  call.sTipo = "O";
  call.set_sSito(sSito);
  call.sDerivato = sDerivato;
  WriteDetailLog("Impostati i valori");
  if (bCache) {
    WriteDetailLog("CacheConfrontoCarrier sSito");
    CacheConfrontoCarrier(sSito);
  }
  WriteDetailLog(errore_ + " ");

  WriteDetailLog("If Carriers.Carriers.Count > 0 Then");
  if (!Carriers)
    throw ComponentError(kErrObjectNotSet, "The comparison carriers are not loaded", "clsChiamate.CalcolaChiamata");
  for (const auto& carrier : Carriers->Carriers()) {
    if (LogEnabled())
      WriteDetailLog("Carriers.Carriers(iConta).DatabaseTariffe = sFileCarrier: " + carrier->DatabaseTariffe + " " +
                     sFileCarrier);
    if (carrier->DatabaseTariffe == sFileCarrier) {
      WriteDetailLog("moChiamata.CalcCosto tcCosto3, Carriers.Carriers(iConta)");
      call.CalcCosto(tcCosto3, carrier);
      break;
    }
  }
}

const std::vector<std::int32_t>& clsChiamate::UnpricedCalls() const { return impl_->unpriced; }

std::shared_ptr<clsDatiTariffa> clsChiamate::DatiTariffa() const {
  if (!mo_chiamata_ || !mo_chiamata_->Tariffa3) return nullptr;
  return std::make_shared<clsDatiTariffa>(clsDatiTariffa::FromTariffa(*mo_chiamata_->Tariffa3));
}

// ---------------------------------------------------------------- a period

void clsChiamate::ConfrontaCarrier(const std::string& sCodiceSito, DateTime dDataDal, DateTime dDataAl,
                                   Grid& xrgTotali) {
  Reconnect();
  const std::string clause = " where " + PeriodCondition(connection_->IsFileDatabase(), dDataDal, dDataAl) +
                             " and sTipo='O' and sSito=" + rdo::SqlQuote(sCodiceSito);
  std::int32_t total = 0;
  {
    auto count = connection_->OpenResultset("select count(*) from Chiamate" + clause, rdo::CursorType::ForwardOnly,
                                            rdo::LockType::ReadOnly);
    if (!count->Eof()) total = static_cast<std::int32_t>(count->Value(0).ToInteger());
    count->Close();
  }
  auto rs = connection_->OpenResultset("select * from Chiamate" + clause, rdo::CursorType::Keyset,
                                       rdo::LockType::OptimisticRowVer);

  // The carrier of each listed file: the carrier at the same position when
  // it was loaded from that file, else the first loaded from it, else the
  // one at the same position (none when there is no such position).
  std::vector<std::shared_ptr<clsCarrier>> carriers;
  for (std::size_t r = 1; r <= col_carrier_->Count(); ++r) {
    const std::string& file = col_carrier_->Item(r)->value;
    std::shared_ptr<clsCarrier> chosen;
    if (Carriers) {
      const auto& cached = Carriers->Carriers();
      if (r <= cached.Count() && cached.Item(r)->DatabaseTariffe == file) chosen = cached.Item(r);
      for (auto it = cached.begin(); !chosen && it != cached.end(); ++it)
        if ((*it)->DatabaseTariffe == file) chosen = *it;
      if (!chosen && r <= cached.Count()) chosen = cached.Item(r);
    }
    carriers.push_back(std::move(chosen));
  }
  const TypeColumns columns;
  impl_->unpriced.assign(carriers.size(), 0);

  auto call = std::make_shared<clsChiamata>();
  const RowsOf rows(*call, rs.get());
  call->Chiamate = this;
  call->StatoSito = stDaIndividuare;
  std::int32_t number = 1;
  while (!rs->Eof() && !mbStop_) {
    call->StatoNumero = call->StatoDerivato = call->StatoDerivato2 = stDaIndividuare;
    call->Load();
    mo_chiamata_ = call;
    const std::string& tipo = call->sTipoDestinazione_c;
    const std::size_t type_column = columns.Column(tipo);
    for (std::size_t r = 0; r < carriers.size(); ++r) {
      call->StatoTariffa3 = stDaIndividuare;
      call->CalcCosto(tcCosto3, carriers[r]);
      if (call->StatoTariffa3 == stIndividuato && call->Derivato && call->Derivato->Status == stIndividuato) {
        xrgTotali.Set(r, kTotalColumn, Variant(CellAmount(xrgTotali.Get(r, kTotalColumn)) + call->cCosto3_c));
        xrgTotali.Set(r, type_column, Variant(CellAmount(xrgTotali.Get(r, type_column)) + call->cCosto3_c));
      } else {
        ++impl_->unpriced[r];
        if (!tipo.empty() && IsZeroNumber(xrgTotali.Get(r, type_column)))
          xrgTotali.Set(r, type_column, Variant(kNotPriced));
      }
    }
    std::int32_t done = number, all = total;
    Events().ProgressChange(done, all);
    DoEvents();
    ++number;
    rs->MoveNext();
  }
  rs->Close();
  CloseConnection();
  Events().Done();
  DoEvents();
}

// ---------------------------------------------------------------- the library's comparison table

ComparisonTable CompareCarriers(clsChiamate& engine, const std::string& site, DateTime from, DateTime to,
                                const std::vector<std::string>& files) {
  const char* source = "CompareCarriers";
  if (dt::DaySerial(to) < dt::DaySerial(from))
    throw ComponentError(kErrInvalidArgument, "The period ends (" + DateText(to) + ") before it starts (" +
                                                  DateText(from) + ")", source);
  if (files.empty()) throw ComponentError(kErrInvalidArgument, "No carrier file to compare", source);
  std::set<std::string> seen;
  for (const std::string& file : files) {
    std::error_code ec;
    std::string identity = std::filesystem::weakly_canonical(file, ec).string();
    if (!seen.insert(ec ? file : identity).second)
      throw ComponentError(kErrInvalidArgument, "The carrier file " + file + " is listed twice", source);
  }

  engine.CancellaListaCarrierPerConfronto();
  for (const std::string& file : files) engine.AggiungiCarrierPerConfronto(file);
  engine.set_Errore("");
  engine.CacheConfrontoCarrier(site);
  if (!engine.Errore().empty()) throw ComponentError(kErrInternal, engine.Errore(), source);
  if (!ComparisonSiteExists(engine, site))
    throw ComponentError(kErrInvalidArgument, "There is no site " + site, source);

  MemoryGrid grid(files.size(), kGridColumns);
  for (std::size_t r = 0; r < files.size(); ++r)
    for (std::size_t c = 0; c < kGridColumns; ++c) grid.Set(r, c, Variant(Money()));
  engine.ConfrontaCarrier(site, from, to, grid);

  ComparisonTable table;
  const clsCarriers* carriers = engine.Carriers.get();
  const ComparisonRow* best = nullptr;
  for (std::size_t r = 0; r < files.size(); ++r) {
    ComparisonRow row;
    row.file = files[r];
    if (carriers)
      for (const auto& c : carriers->Carriers())
        if (c->DatabaseTariffe == files[r]) {
          row.carrier = c->Name;
          break;
        }
    if (row.carrier.empty()) row.carrier = std::filesystem::path(files[r]).stem().string();
    for (std::size_t c = 0; c < kGridColumns; ++c) row.cells[c] = grid.Get(r, c);
    row.unpriced = r < engine.UnpricedCalls().size() ? engine.UnpricedCalls()[r] : 0;
    row.complete = row.unpriced == 0;
    table.rows.push_back(std::move(row));
  }
  // A carrier that left calls unpriced cannot be called cheaper: its total
  // lacks them.
  for (const auto& row : table.rows) {
    auto total = [](const ComparisonRow& x) { return CellAmount(x.cells[kTotalColumn]); };
    if (!row.complete || total(row) == Money()) continue;  // nothing priced: no basis for a choice
    if (!best || total(row) < total(*best)) best = &row;
  }
  if (best) table.cheapest = best->carrier;
  return table;
}

std::string FormatComparisonTable(const ComparisonTable& table) {
  std::size_t name_width = 7;
  for (const auto& row : table.rows) name_width = std::max(name_width, row.carrier.size());
  auto pad = [](std::string text, std::size_t width, bool right) {
    if (text.size() >= width) return text;
    return right ? std::string(width - text.size(), ' ') + text : text + std::string(width - text.size(), ' ');
  };
  std::vector<std::size_t> widths;
  std::string out = pad("Carrier", name_width, false);
  for (const char* title : kComparisonColumns) {
    widths.push_back(std::max<std::size_t>(std::string(title).size(), 10));
    out += "  " + pad(title, widths.back(), true);
  }
  out += "\n";
  for (const auto& row : table.rows) {
    out += pad(row.carrier, name_width, false);
    for (std::size_t c = 0; c < kGridColumns; ++c) {
      const Variant& cell = row.cells[c];
      std::string text = cell.kind() == Variant::Kind::Text ? cell.ToText() : CellAmount(cell).ToText();
      out += "  " + pad(text, widths[c], true);
    }
    if (!row.complete) out += "  incomplete: " + std::to_string(row.unpriced) + " calls unpriced";
    out += "\n";
  }
  out += table.cheapest.empty() ? std::string("Cheapest: none (no carrier priced every call of the period)\n")
                                : "Cheapest: " + table.cheapest + "\n";
  return out;
}

bool ComparisonSiteExists(const clsChiamate& engine, const std::string& site) {
  return engine.Siti && engine.Siti->GetSito(site) != nullptr;
}

std::vector<std::pair<std::string, Variant>> DatiTariffaFields(const clsChiamate& engine) {
  std::vector<std::pair<std::string, Variant>> fields;
  auto d = engine.DatiTariffa();
  if (!d) return fields;
  fields = {{"GruppoDest", Variant(d->GruppoDest)},
            {"TipoGiorno", Variant(static_cast<int>(d->TipoGiorno))},
            {"Dalle", Variant::FromDate(d->Dalle)},
            {"Alle", Variant::FromDate(d->Alle)},
            {"DalKm", Variant(d->DalKm)},
            {"AlKm", Variant(d->AlKm)},
            {"ValidaDal", Variant::FromDate(d->ValidaDal)},
            {"ValidaAl", Variant::FromDate(d->ValidaAl)},
            {"CostoMinimo", Variant(d->CostoMinimo)},
            {"CostoRisposta", Variant(d->CostoRisposta)},
            {"CostiMinuto", Variant(d->CostiMinuto)},
            {"TempoComposizione", Variant(static_cast<int>(d->TempoComposizione))},
            {"Fascia", Variant(d->Fascia)},
            {"ArrotDurata", Variant(static_cast<int>(d->ArrotDurata))},
            {"TipoArrotDurata", Variant(static_cast<int>(d->TipoArrotDurata))},
            {"ArrotCosto", Variant(d->ArrotCosto)},
            {"TipoArrotCosto", Variant(static_cast<int>(d->TipoArrotCosto))},
            {"DurataMinima", Variant(static_cast<int>(d->DurataMinima))},
            {"DurataRisposta", Variant(static_cast<int>(d->DurataRisposta))}};
  return fields;
}

}  // namespace ordalis
