#include "tariffs/clsLcr.h"

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/ComponentError.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsChiamate.h"
#include "ordalis/Variant.h"
#include "platform/FileSystem.h"
#include "support/CommonLib.h"
#include "tariffs/SitoLcr.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

namespace {

float ReadSingle(const Variant& v) { return v.IsNull() ? 0.0f : static_cast<float>(v.ToDouble()); }

constexpr std::int32_t kErrNoTariffFile = 1028;

// A carrier file named relative to the installation is found under the
// log directory, never under the working directory.
std::string UnderHome(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return LogPath() + path;
}

}  // namespace

std::string clsLcr::MakeKey() const {
  std::string key = Sito;
  key.append(kKeySeparator).append(Carrier);
  key.append(kKeySeparator).append(GruppoDest);
  key.append(kKeySeparator).append(dt::ToText(Dalle));
  key.append(kKeySeparator).append(Linea);
  return key;
}

bool clsLcr::IsLocal() const { return EqualsNoCase(TipoGruppo, "LOCAL") || EqualsNoCase(TipoGruppo, "LOCALI"); }

bool clsLcr::IsNational() const {
  return EqualsNoCase(TipoGruppo, "NATIONAL") || EqualsNoCase(TipoGruppo, "NAZIONALI");
}

void clsLcr::GetDestinazioneFromDB(const rdo::RdoResultset& rs, std::shared_ptr<clsDestinazione>& oDest,
                                   std::string_view sTipo) {
  oDest = std::make_shared<clsDestinazione>();
  std::string nazione = rs.Value("sNazione").ToText();
  oDest->PrefNaz = nazione == "99" ? std::string("39") : std::move(nazione);
  oDest->PrefArea = rs.Value("sArea").ToText();
  oDest->DescrNaz = rs.Value("sDescrizioneNaz").ToText();
  oDest->DescrArea = rs.Value("sDescrizioneArea").ToText();
  oDest->Tipo = sTipo.empty() ? rs.Value("sTipo").ToText() : std::string(sTipo);
  oDest->Lat = ReadSingle(rs.Value("rLat"));
  oDest->Longit = ReadSingle(rs.Value("rLong"));
  oDest->Key = clsDestinazione::MakeKey(oDest->PrefNaz, oDest->PrefArea);
}

void clsLcr::CacheGruppoETariffe(SitoLcr& site, rdo::RdoConnection* carrier) {
  destinazioni_.reset();
  tariffe_.reset();

  std::unique_ptr<rdo::RdoConnection> own;
  std::string path;
  if (!carrier) {
    auto rs = Connection->OpenResultset("SELECT * FROM Carrier where sNomeCarrier = " + rdo::SqlQuote(Carrier));
    if (!rs->Eof()) path = UnderHome(rs->Value("sDbTariffe").ToText());
    rs->Close();
    if (path.empty()) {
      ReportUnreadableFile(path, "carrier " + Carrier + " has no row in table Carrier");
      return;
    }
    if (!platform::FileExists(path)) {
      ReportUnreadableFile(path, "no such file");
      return;
    }
  }

  // A file that is not a database fails at the open or at the first
  // statement: the entry then stays without destinations and tariffs.
  std::unique_ptr<rdo::RdoResultset> members;
  try {
    if (!carrier) {
      own = rdo::RdoEnvironment::Default().OpenConnection("", false, false, rdo::FileConnectString(path));
      carrier = own.get();
    }
    members = carrier->OpenResultset(
        "Select DE.* from Destinazioni as DE inner join GruppoDiDestinazioni GD on DE.sNazione = GD.sNazione and "
        "DE.sArea = GD.sArea where GD.sDenominazione = " +
        rdo::SqlQuote(GruppoDest));
  } catch (const ComponentError& e) {
    ReportUnreadableFile(path.empty() && carrier ? carrier->Connect() : path, e.Description());
    return;
  }

  destinazioni_ = std::make_shared<clsDestinazioni>(Chiamate, Connection);
  LoadDestinations(*members, site, *carrier);
  members.reset();
  LoadTariffs(*carrier);
  if (own) own->Close();
}

void clsLcr::ReportUnreadableFile(const std::string& path, const std::string& why) {
  const std::string message = "Carrier file " + path + " cannot be read (" + why + "): the calls of site " + Sito +
                              " to group " + GruppoDest + " have no tariff of carrier " + Carrier;
  WriteDetailLogNoThrow(message);
  if (!Chiamate) return;
  if (Chiamate->UsoRiproc()) throw ComponentError(ObjectError(kErrNoTariffFile), message, "clsLcr.Cache");
  Chiamate->set_Errore(message);
  Chiamate->SendWarningMsg(message);
}

void clsLcr::LoadDestinations(rdo::RdoResultset& members, SitoLcr& site, rdo::RdoConnection& carrier) {
  const bool local = IsLocal();
  const bool national = IsNational();

  for (; !members.Eof(); members.MoveNext()) {
    try {
      if (local && Utf8Length(members.Value("sArea").ToText()) >= 2) continue;
      std::shared_ptr<clsDestinazione> d;
      GetDestinazioneFromDB(members, d, TipoGruppo);
      const std::string key = d->Key;
      destinazioni_->Add(std::move(d), key);
    } catch (const std::exception& e) {
      WriteDetailLogNoThrow("Error getting destination: Carrier: " + Carrier + ", Group: " + GruppoDest + " " +
                            std::string(e.what()));
    }
  }

  // The site's own area.
  std::shared_ptr<clsDestinazione> own_area;
  std::shared_ptr<clsDestinazione>& slot = site.Destinazione ? *site.Destinazione : own_area;
  try {
    if (!slot) {
      auto rs = carrier.OpenResultset("Select * from destinazioni where sNazione = " + rdo::SqlQuote(site.PrefNaz) +
                                      " AND sArea = " + rdo::SqlQuote(site.PrefArea));
      if (!rs->Eof()) GetDestinazioneFromDB(*rs, slot, "Local");
    }
    if (local && slot) {
      auto copy = slot->Copy();
      const std::string key = copy->Key;
      destinazioni_->Add(std::move(copy), key);
    }
  } catch (const std::exception& e) {
    WriteDetailLogNoThrow("Error getting Local destination: Carrier: " + Carrier + ", Group: " + GruppoDest + " " +
                          std::string(e.what()));
  }

  if (!national) return;
  try {
    auto rs = carrier.OpenResultset("Select * from destinazioni where sTipo = 'Local' or sTipo = 'Locali'");
    for (; !rs->Eof(); rs->MoveNext()) {
      try {
        if (Utf8Length(rs->Value("sArea").ToText()) <= 1) continue;
        std::shared_ptr<clsDestinazione> d;
        GetDestinazioneFromDB(*rs, d, TipoGruppo);
        const std::string key = d->Key;
        destinazioni_->Add(std::move(d), key);
      } catch (const std::exception& e) {
        WriteDetailLogNoThrow("Error getting national destination: Carrier: " + Carrier + ", Group: " + GruppoDest +
                              " " + std::string(e.what()));
      }
    }
  } catch (const std::exception& e) {
    WriteDetailLogNoThrow("Error getting national destination: Carrier: " + Carrier + ", Group: " + GruppoDest +
                          " " + std::string(e.what()));
  }
}

void clsLcr::LoadTariffs(rdo::RdoConnection& carrier) {
  tariffe_ = std::make_shared<clsTariffe>();
  try {
    // Older tariff files have no duration columns: one step 0..999999999.
    const bool has_durations = carrier.ColumnExists("Listino", "lDurataInizio");
    std::string sql = "select * from listino where sGruppoDest_e = " + rdo::SqlQuote(GruppoDest) +
                      " order by iTipoGiorno_e, dDalleOre";
    if (has_durations) sql += ", lDurataInizio";
    auto rs = carrier.OpenResultset(sql);
    for (; !rs->Eof(); rs->MoveNext()) {
      try {
        auto tariffa = clsTariffa::FromListino(*rs);
        tariffa->CostoMinuto().Add(clsTariffa::StepFromListino(*rs, has_durations));
        tariffa->Carrier = Carrier;
        tariffa->Key = tariffa->MakeKey(GruppoDest);
        const std::string key = tariffa->Key;
        // A second row under a key already present is dropped: each tariff
        // of an entry keeps the step of its first row.
        tariffe_->Tariffe.Add(std::move(tariffa), key);
      } catch (const std::exception& e) {
        WriteDetailLogNoThrow("Error adding tariff of (" + Carrier + "): " + std::string(e.what()));
      }
    }
  } catch (const std::exception& e) {
    WriteDetailLogNoThrow("Error adding tariff of (" + Carrier + "): " + std::string(e.what()));
  }
}

}  // namespace ordalis
