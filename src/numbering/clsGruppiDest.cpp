#include "numbering/clsGruppiDest.h"

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "numbering/CacheAdd.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/clsChiamate.h"
#include "support/StringTable.h"

namespace ordalis {

namespace {
constexpr std::int32_t kErrNoGroups = 1036;
constexpr std::int32_t kErrMemberMissing = 1037;
constexpr char kCacheSource[] = "clsGruppiDest.Cache";
}  // namespace

clsGruppiDest::~clsGruppiDest() {
  for (const auto& group : gruppi_) {
    if (!group || !group->HasDestinazioni()) continue;
    for (const auto& destination : group->Destinazioni())
      if (destination) destination->ClearGruppiDest();
    group->ClearDestinazioni();
  }
}

void clsGruppiDest::Cache(CacheType tipo, bool bCarrier) {
  prefisso_.clear();
  if (bCarrier) {
    try {
      auto rs = Connection->OpenResultset("SELECT * FROM Carrier");
      prefisso_ = rs->Value("NomeCarrier").ToText() + kKeySeparator;
    } catch (const ComponentError& e) {
      Chiamate->CacheError(e);
      return;
    }
  }
  if (tipo != ctPreload) return;

  auto rs = Connection->OpenResultset("SELECT * FROM GruppoDiDestinazioni");
  if (rs->Eof()) {
    rs->Close();
    Chiamate->CacheError(kErrNoGroups, LoadResString(20512), kCacheSource);
    return;
  }
  const auto& destinations = Destinazioni->Destinazioni();
  std::string group_key, member_key;
  for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
    std::string name = rs->Value("sDenominazione").ToText();
    std::string nazione = rs->Value("sNazione").ToText();
    std::string area = rs->Value("sArea").ToText();
    group_key.assign(prefisso_).append(name);

    auto group = gruppi_.Find(group_key);
    if (!group) {
      group = std::make_shared<clsGruppoDest>();
      group->Denominazione = name;
      group->PrefNaz = nazione;
      group->PrefArea = area;
      CacheAdd(gruppi_, group, group_key, *Chiamate);
      group->Key = group_key;
    }

    member_key = clsDestinazione::MakeKey(nazione, area);
    auto destination = destinations.Find(member_key);
    if (!destination) {
      Chiamate->CacheError(kErrMemberMissing, LoadResString(20513) + group->Key + LoadResString(20514),
                           kCacheSource);
      continue;
    }
    try {
      // A member named twice in one group is a load failure, as any failed
      // addition other than the group's own.
      group->Destinazioni().Add(destination, destination->Key);
    } catch (const ComponentError& e) {
      Chiamate->CacheError(e);
      continue;
    }
    CacheAdd(destination->GruppiDest(), group, group_key, *Chiamate);
  }
  rs->Close();
}

}  // namespace ordalis
