#include "tariffs/clsCarriers.h"

#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsGruppiDest.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "platform/FileSystem.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsProprietaCarrier.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

namespace {

constexpr char kCacheSource[] = "clsCarriers.Cache";
constexpr std::int32_t kErrNoTariffs = 1027;         // 20502
constexpr std::int32_t kErrNoTariffFile = 1028;      // 20503 + path + 20504 + name
constexpr std::int32_t kErrNoTariffFileName = 1029;  // 20505 + name
constexpr std::int32_t kErrNoCarriers = 1030;        // 20506
constexpr std::int32_t kErrGroupMissing = 1043;

// A load failure with one of the engine's message texts.
struct LoadFailure {
  std::int32_t offset;
  std::string message;
};

// Closes the prefix database when a load ends, however it ends.
struct ClosePrefissi {
  std::unique_ptr<rdo::RdoConnection>& connection;
  ~ClosePrefissi() { connection.reset(); }
};

[[noreturn]] void RethrowForFile(const ComponentError& e, const std::string& path) {
  throw ComponentError(e.Number(), "Carrier file " + path + ": " + e.Description(), kCacheSource);
}

}  // namespace

clsCarriers::clsCarriers() : carriers_(std::make_shared<KeyedCollection<clsCarrier>>()) {}

clsCarriers::clsCarriers(clsChiamate* engine, rdo::RdoConnection* connection) : clsCarriers() {
  Chiamate = engine;
  Connection = connection;
}

clsCarriers::~clsCarriers() = default;

std::shared_ptr<clsGruppoDest> clsCarriers::Gruppo(const std::string& name) const {
  if (!Chiamate->GruppiDest) return nullptr;
  return Chiamate->GruppiDest->GruppiDest().Find(nome_carrier_ + kKeySeparator + name);
}

void clsCarriers::Cache(CacheType tipo) {
  if (tipo != ctPreload) return;
  ClosePrefissi close_prefissi{prefissi_};

  std::vector<clsProprietaCarrier> lista;
  bool group_missing = false;
  std::string missing_name;
  try {
    std::unique_ptr<rdo::RdoResultset> rs;
    try {
      rs = Connection->OpenResultset("SELECT * FROM Carrier");
    } catch (const ComponentError& e) {
      RethrowForFile(e, NomeFileCarrier);
    }
    if (rs->Eof()) throw LoadFailure{kErrNoCarriers, LoadResString(20506)};
    clsProprietaCarrier record;
    record.NomeCarrier = rs->Value("NomeCarrier").ToText();
    record.NomeFile = NomeFileCarrier;
    record.PrefissoInterconnessione = rs->Value("sPrefissoInterconn").ToText();
    rs->Close();
    nome_carrier_ = record.NomeCarrier;
    lista.push_back(std::move(record));

    for (const auto& item : lista) {
      if (Chiamate->CacheStopped() || group_missing) break;
      LoadCarrier(item, group_missing, missing_name);
    }
  } catch (const LoadFailure& f) {
    Chiamate->CacheError(f.offset, f.message, kCacheSource);
  } catch (const ComponentError& e) {
    Chiamate->CacheError(ComponentError(e.Number(), e.Description(), kCacheSource));
  }

  if (group_missing) {
    Chiamate->set_CacheStopped(true);
    throw ComponentError(ObjectError(kErrGroupMissing), missing_name, kCacheSource);
  }
}

void clsCarriers::LoadCarrier(const clsProprietaCarrier& record, bool& group_missing, std::string& missing_name) {
  auto carrier = std::make_shared<clsCarrier>();
  carrier->Name = record.NomeCarrier;
  carrier->PrefissoInterconn = record.PrefissoInterconnessione;
  carrier->DatabaseTariffe = record.NomeFile;
  carrier->Carriers = this;

  if (record.NomeFile.empty()) throw LoadFailure{kErrNoTariffFileName, LoadResString(20505) + carrier->Name};
  if (!platform::FileExists(record.NomeFile))
    throw LoadFailure{kErrNoTariffFile, LoadResString(20503) + record.NomeFile + LoadResString(20504) + carrier->Name};

  // Older tariff files have no duration columns: each row is then one step
  // from 0 to 999999999.
  bool has_durations = false;
  std::unique_ptr<rdo::RdoResultset> rs;
  try {
    carrier->Database =
        rdo::RdoEnvironment::Default().OpenConnection("", false, false, rdo::FileConnectString(record.NomeFile));
    has_durations = carrier->Database->ColumnExists("Listino", "lDurataInizio");
    rs = carrier->Database->OpenResultset(has_durations ? "SELECT * FROM Listino order by lDurataInizio"
                                                        : "SELECT * FROM Listino");
  } catch (const ComponentError& e) {
    RethrowForFile(e, record.NomeFile);
  }
  if (rs->Eof()) throw LoadFailure{kErrNoTariffs, LoadResString(20502) + carrier->Name};

  auto& tariffe = carrier->Tariffe().Tariffe;
  const std::string prefix = carrier->Name + kKeySeparator;
  for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
    auto tariffa = clsTariffa::FromListino(*rs);
    auto step = clsTariffa::StepFromListino(*rs, has_durations);
    tariffa->Carrier = carrier->Name;
    tariffa->GruppoDest = Gruppo(tariffa->NomeGruppo);
    if (!tariffa->GruppoDest) {
      group_missing = true;
      missing_name = tariffa->NomeGruppo;
      Chiamate->set_CacheStopped(true);
      return;
    }
    tariffa->Key = prefix + tariffa->MakeKey(tariffa->NomeGruppo);
    const std::string key = tariffa->Key;
    // Rows with equal keys are the duration steps of the first tariff with
    // that key, in the order read.
    AddToCollection(tariffe, std::move(tariffa), key, Chiamate->ErrorSink());
    if (auto held = tariffe.Find(key)) held->CostoMinuto().Add(std::move(step));
  }
  rs->Close();
  if (Chiamate->CacheStopped()) return;

  AddToCollection(Carriers(), carrier, carrier->Name, Chiamate->ErrorSink());
  carrier->Key = carrier->Name;

  for (int type : {23013, 23014, 23011}) {  // Adiacenti, Regional, Local
    if (Chiamate->CacheStopped()) return;
    ConfiguraDestPersonalizzate(LoadResString(type));
  }
  if (!Chiamate->CacheStopped()) TogliDistrettuali(*carrier);
}

}  // namespace ordalis
