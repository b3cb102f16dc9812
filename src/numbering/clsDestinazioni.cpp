#include "numbering/clsDestinazioni.h"

#include <mutex>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "numbering/CacheAdd.h"
#include "numbering/clsDestinazione.h"
#include "ordalis/clsChiamate.h"
#include "support/StringTable.h"

namespace ordalis {

namespace {
constexpr std::int32_t kErrNoDestinations = 1033;
constexpr char kCacheSource[] = "clsDestinazioni.Cache";

float ReadSingle(const Variant& v) { return v.IsNull() ? 0.0f : static_cast<float>(v.ToDouble()); }
}  // namespace

clsDestinazioni::clsDestinazioni() : destinazioni_(std::make_shared<Collection>()) {}

clsDestinazioni::clsDestinazioni(clsChiamate* engine, rdo::RdoConnection* connection)
    : Connection(connection), Chiamate(engine), destinazioni_(std::make_shared<Collection>()) {}

clsDestinazioni::~clsDestinazioni() = default;

void clsDestinazioni::set_Destinazioni(std::shared_ptr<Collection> collection) {
  destinazioni_ = collection ? std::move(collection) : std::make_shared<Collection>();
  ++version_;
}

void clsDestinazioni::Add(std::shared_ptr<clsDestinazione> destination, std::string_view key) {
  destinazioni_->Add(std::move(destination), key);
  ++version_;
}

void clsDestinazioni::Remove(std::string_view key) {
  destinazioni_->Remove(key);
  ++version_;
}

void clsDestinazioni::Remove(std::size_t index) {
  destinazioni_->Remove(index);
  ++version_;
}

void clsDestinazioni::Clear() {
  destinazioni_->Clear();
  ++version_;
}

std::shared_ptr<clsDestinazione> clsDestinazioni::FromRow(const rdo::RdoResultset& row) {
  auto d = std::make_shared<clsDestinazione>();
  d->PrefNaz = row.Value("sNazione").ToText();
  d->PrefArea = row.Value("sArea").ToText();
  d->DescrNaz = row.Value("sDescrizioneNaz").ToText();
  d->DescrArea = row.Value("sDescrizioneArea").ToText();
  d->Tipo = row.Value("sTipo").ToText();
  d->Lat = ReadSingle(row.Value("rLat"));
  d->Longit = ReadSingle(row.Value("rLong"));
  d->Key = clsDestinazione::MakeKey(d->PrefNaz, d->PrefArea);
  return d;
}

void clsDestinazioni::Cache(CacheType tipo) {
  tipo_ = tipo;
  if (tipo != ctPreload) return;
  auto rs = Connection->OpenResultset("SELECT * FROM Destinazioni ORDER BY sNazione DESC, sArea DESC");
  if (rs->Eof()) {
    rs->Close();
    Chiamate->CacheError(kErrNoDestinations, LoadResString(20509), kCacheSource);
    return;
  }
  for (; !rs->Eof(); rs->MoveNext()) {
    auto destination = FromRow(*rs);
    const std::string key = destination->Key;
    if (CacheAdd(*destinazioni_, std::move(destination), key, *Chiamate)) ++version_;
  }
  rs->Close();
}

std::shared_ptr<clsDestinazione> clsDestinazioni::GetDestinazioneMigliore(std::string_view sNumero,
                                                                          std::string_view sPrefNaz,
                                                                          std::string_view sPrefInt) const {
  if (indexed_version_.load(std::memory_order_acquire) != version_) {
    static std::mutex building;  // builds are rare: one lock for all
    std::lock_guard lock(building);
    if (indexed_version_.load(std::memory_order_relaxed) != version_) {
      index_.Build(*destinazioni_);
      indexed_version_.store(version_, std::memory_order_release);
    }
  }
  const auto* found = index_.Find(sNumero, sPrefNaz, sPrefInt);
  return found ? *found : nullptr;
}

}  // namespace ordalis
