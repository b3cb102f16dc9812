// Options and cache loading, the configuration dump and the
// interconnection prefixes.
#include <cstdlib>
#include <functional>

#include "call/clsChiamata.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "engine/EngineState.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "ordalis/clsTimeZones.h"
#include "ordalis/clsValute.h"
#include "platform/MemoryStatus.h"
#include "platform/Paths.h"
#include "reference/clsCommesse.h"
#include "reference/clsDerivati.h"
#include "reference/clsNominativi.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"
#include "reference/clsSwings.h"
#include "support/CommonLib.h"
#include "support/RegistryLib.h"
#include "support/StringTable.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {
namespace {

constexpr std::int32_t kErrNoConnection = 1026;
constexpr std::int32_t kCacheObjectsTotal = 12;
constexpr std::int32_t kErrInternal = 51;

bool AnyOn(const std::string& operation, std::initializer_list<int> positions) {
  for (int p : positions)
    if (operation.size() >= static_cast<std::size_t>(p) && operation[p - 1] == '1') return true;
  return false;
}

// Sum of the three memory figures (physical, page file, address space).
std::int64_t AvailableMemory() {
  platform::MemoryStatus m = platform::QueryMemoryStatus();
  return static_cast<std::int64_t>(m.avail_phys) + static_cast<std::int64_t>(m.avail_page_file) +
         static_cast<std::int64_t>(m.avail_virtual);
}

std::int32_t ClampToInt32(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::string clsChiamate::ReadOption(const std::string& section, const std::string& entry,
                                    const std::string& fallback) {
  std::string sql = "SELECT * FROM Opzioni WHERE sSection =" + rdo::SqlQuote(section) +
                    " and sEntry=" + rdo::SqlQuote(entry);
  auto rs = connection_->OpenResultset(sql, rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
  std::string value = fallback;
  if (!rs->Eof()) {
    const Variant& v = rs->Value("sValue");
    value = v.IsNull() ? rs->Value("sDefault").ToText() : v.ToText();
  }
  rs->Close();
  return value;
}

void clsChiamate::Cache() {
  StopCallNotes();
  Impl& s = *impl_;
  s.calendar = LoadResString(21000);
  s.destinations = LoadResString(21001);
  s.sites = LoadResString(21002);
  s.groups = LoadResString(21003);
  s.carriers = LoadResString(21004);
  s.lcr = LoadResString(21005);
  s.phonebook = LoadResString(21006);
  s.swing = LoadResString(21007);
  s.extensions = LoadResString(21008);
  s.account = LoadResString(21009);
  s.stat = LoadResString(21010);
  s.currency = LoadResString(23019);
  s.timezone = LoadResString(23020);

  if (!mb_conn_aperta_) {
    // A failed open has already stopped the caches with its own message,
    // which stays the one the host reads.
    if (!cache_stopped_ || uso_riproc_) CacheError(kErrNoConnection, s.messages[20501 - 20501], "clsChiamate.Cache");
    return;
  }
  pref_nazione_ = ReadOption("Process", "Nazione", "39");
  pref_internazionale_ = ReadOption("Configurazione", "PrefissoInternazionale", "00");
  opz_valuta_ = ReadOption("Configurazione", "Valuta", "");

  std::int32_t error_number = 0;
  try {
    std::int32_t total = kCacheObjectsTotal;
    std::int32_t done = 1;
    Events().CacheStart(total);
    auto change = [&](const std::string& name) {
      std::int32_t d = done, t = total;
      std::string n = name;
      Events().CacheChange(d, t, n);
    };
    change(s.calendar);
    std::int64_t before = AvailableMemory();
    prefissi_interconn_ = std::make_shared<KeyedCollection<TextItem>>();

    SetLogPath(RemoveExeName(platform::ExecutablePath()));
    if (const char* home = std::getenv("ORDALIS_HOME"); home && *home) SetLogPath(platform::LogPath());
    // The working directory stays the caller's: names under the log
    // directory are joined to it wherever they are used.
    if (ReadIniString(LogPath() + "quarzo.ini", "Configurazione", "AbilitalogProcess") == "1") SetLogEnabled(true);

    auto load = [&](const char* log_name, bool condition, const std::function<void()>& loader) {
      if (!condition) return;
      WriteDetailLog(std::string("Cache: ") + log_name);
      loader();
      WriteDetailLog("      Done (" + std::to_string(error_number) + ")");
    };
    const std::string& op = operation_;
    bool sites_on = AnyOn(op, {2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}) && !cache_stopped_;
    if (sites_on) {
      ++done;
      change(s.sites);
    }
    load("Siti", sites_on, [&] {
      Siti = std::make_shared<clsSiti>(this, connection_.get(), tipo_db_);
      Siti->Cache(ctPreload, LogPath());
    });
    load("Rubrica", AnyOn(op, {14}) && !cache_stopped_, [&] {
      Nominativi = std::make_shared<clsNominativi>(this, connection_.get(), tipo_aggiornamento_);
      Nominativi->Undo = &impl_->undo;
      // The OEM partner's installations look names up in its directory.
      if (!(IsOem(kOemKelmora) && OemKeyExists())) Nominativi->Cache(ctPerUse);
    });
    ++done;
    change(s.swing);
    load("Swing", AnyOn(op, {14}) && !cache_stopped_, [&] {
      Swings = std::make_shared<clsSwings>(this, connection_.get(), tipo_aggiornamento_);
      Swings->Undo = &impl_->undo;
      Swings->Cache(ctPerUse);
    });
    ++done;
    change(s.extensions);
    load("Derivati", AnyOn(op, {2, 3, 4, 5, 8, 10, 11, 12, 14, 17, 18}) && !cache_stopped_, [&] {
      Derivati = std::make_shared<clsDerivati>(this, connection_.get(), tipo_aggiornamento_);
      Derivati->Undo = &impl_->undo;
      Derivati->Cache(ctPreload);
    });
    ++done;
    change(s.account);
    load("Commesse", AnyOn(op, {19}) && !cache_stopped_, [&] {
      Commesse = std::make_shared<clsCommesse>(this, connection_.get());
      Commesse->Cache(ctPreload);
    });
    ++done;
    change(s.currency);
    load("Valute", (AnyOn(op, {8}) && !cache_stopped_) || AnyOn(op, {2, 3, 4, 5}), [&] {
      Valute = std::make_shared<clsValute>(this, connection_.get());
      Valute->Cache();
    });
    ++done;
    change(s.timezone);
    load("TimeZone", !cache_stopped_, [&] {
      moTimeZones = std::make_shared<clsTimeZones>(this, connection_.get());
      moTimeZones->Cache();
    });

    ++done;
    change(s.stat);
    if (LogEnabled()) ConfigurationDump();

    WriteDetailLog("Cache: Privacy di default... (" + std::to_string(error_number) + ")");
    default_privacy_ = 0;
    std::string sql = "SELECT * FROM Opzioni WHERE sSection = 'Process' and sEntry='DefaultPrivacy'";
    WriteDetailLog("Cache: Privacy di default ... sql: " + sql);
    auto rs = connection_->OpenResultset(sql, rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
    if (!rs->Eof()) {
      const Variant& v = rs->Value("sValue");
      WriteDetailLog("Cache: Privacy di default ... valore letto " + (v.IsNull() ? std::string("(null)") : v.ToText()));
      if (!v.IsNull() && v.IsNumeric()) {
        std::int64_t p = v.ToInteger();
        if (p < INT16_MIN || p > INT16_MAX) throw ComponentError(kErrOverflow, "Overflow");
        default_privacy_ = static_cast<std::int16_t>(p);
      }
    }
    WriteDetailLog("Cache: Privacy di default = " + std::to_string(default_privacy_));
    WriteDetailLog("      Done (" + std::to_string(error_number) + ")");
    rs->Close();

    mem_cache_ = ClampToInt32(before - AvailableMemory());
    Events().CacheDone();
    cached_ = true;
  } catch (const ComponentError& e) {
    // The load ends here; the caches loaded so far stay.
    error_number = e.Number();
  } catch (const std::exception&) {
    error_number = kErrInternal;
  }
  WriteDetailLogNoThrow("Cache: Fine (" + std::to_string(error_number) + ")");
}

void clsChiamate::StopCallNotes() {
  if (impl_->noted_calls) impl_->noted_calls->SetRowPreparer({});
  impl_->noted_calls = nullptr;
}

void clsChiamate::ReleaseCaches() {
  StopCallNotes();
  Calendario.reset();
  Destinazioni.reset();
  Siti.reset();
  GruppiDest.reset();
  Carriers.reset();
  Lcrs.reset();
  Nominativi.reset();
  Swings.reset();
  Derivati.reset();
  Commesse.reset();
  Valute.reset();
  moTimeZones.reset();
}

void clsChiamate::UnCache() {
  std::int64_t before = AvailableMemory();
  ReleaseCaches();
  prefissi_interconn_ = std::make_shared<KeyedCollection<TextItem>>();
  mem_uncache_ = ClampToInt32(AvailableMemory() - before);
}

void clsChiamate::ConfigurationDump() {
  // The least-cost configuration of every site: the file is replaced at
  // every load, and the least-cost search then appends to it.
  CreateLogFile(kProcessLogFile);
  auto line = [](const std::string& text) { AppendLogLine(kProcessLogFile, text); };
  auto dump = [&](const clsLcrs* lcrs) {
    if (!lcrs) return;
    for (const auto& [carrier, prefix] : lcrs->PrefissiCarrier())
      line("      CARRIER: " + carrier + " (" + prefix + ")");
    for (const auto& lcr : lcrs->Lcrs()) {
      const auto& destinations = lcr->Destinazioni();
      std::size_t count = destinations ? destinations->Destinazioni().Count() : 0;
      line("      LCR:     " + lcr->Carrier + " - " + lcr->GruppoDest + " - linea:" + lcr->Linea +
           " - priorità:" + std::to_string(lcr->Priorita) + " - scatti:" + (lcr->Scatti ? "True" : "False") +
           " - destinazioni: " + std::to_string(count));
      if (destinations)
        for (const auto& d : destinations->Destinazioni())
          line("                DEST:     " + d->PrefNaz + " - " + d->PrefArea + " - " + d->Key);
      if (lcr->Tariffe())
        for (const auto& t : lcr->Tariffe()->Tariffe) {
          std::size_t steps = t->CostoMinutoIfAny() ? t->CostoMinutoIfAny()->Count() : 0;
          line("                Tariffa:  Giorno:" + std::to_string(t->TipoGiorno) + " - Fascia:" + t->Fascia +
               " - Orario:" + dt::ToText(t->Dalle) + "-" + dt::ToText(t->Alle) + " - Costi:" + std::to_string(steps));
        }
    }
  };
  if (!Siti) return;
  for (const auto& site : Siti->Siti()) {
    line("Sito: " + site->Codice + "-" + site->Nome);
    line("      Nazione:" + site->DescrNaz + " Area:" + site->DescrArea);
    dump(site->Lcrs().get());
    line("  ######## Carrier 2 ###########");
    dump(site->LcrsCarrier2().get());
  }
}

void clsChiamate::LoadInterconnectionPrefixes() {
  StopCallNotes();
  auto rs = connection_->OpenResultset("SELECT * FROM PrefissiInterconnessione", rdo::CursorType::ForwardOnly,
                                       rdo::LockType::ReadOnly);
  while (!rs->Eof()) {
    auto item = std::make_shared<TextItem>();
    item->value = rs->Value("sPrefisso").ToText();
    prefissi_interconn_->Add(item, item->value);
    rs->MoveNext();
  }
  rs->Close();
}

}  // namespace ordalis
