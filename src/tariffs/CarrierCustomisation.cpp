// Fitting a carrier's destination groups to the comparison site: the members
// of clsCarriers that change the in-memory groups and destinations of the
// carrier just loaded (nothing is written to any file).
#include <set>
#include <string_view>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "numbering/CacheAdd.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsGruppoDest.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "platform/FileSystem.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"
#include "tariffs/clsCarrier.h"
#include "tariffs/clsCarriers.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

namespace {

constexpr char kCacheSource[] = "clsCarriers.Cache";
constexpr std::int32_t kErrFileNotFound = 53;

const std::string& TipoLocal() { return LoadResString(23011); }
const std::string& TipoNational() { return LoadResString(23012); }
const std::string& TipoAdiacenti() { return LoadResString(23013); }
const std::string& TipoRegional() { return LoadResString(23014); }
const std::string& TipoDistrettuali() { return LoadResString(23017); }

// Priced groups (named by Listino) holding destinations of type `tipo`; with
// `grouped` one row per group.
std::string CandidateGroupsSql(const std::string& tipo, bool grouped) {
  std::string sql =
      "Select sGruppoDest_e,sTipo FROM ( Listino INNER JOIN GruppoDiDestinazioni ON Listino.sGruppoDest_e = "
      "GruppoDiDestinazioni.sDenominazione) INNER JOIN Destinazioni ON ( GruppoDiDestinazioni.sNazione = "
      "Destinazioni.sNazione) AND ( GruppoDiDestinazioni.sArea = Destinazioni.sArea) WHERE (sTipo)=" +
      rdo::SqlQuote(tipo);
  if (grouped) sql += " group by sGruppoDest_e,sTipo";
  return sql;
}

// A set of destination keys, compared as the collections compare keys.
class KeySet {
 public:
  void Add(std::string_view key) { keys_.insert(FoldKey(key)); }
  bool Contains(std::string_view key) const { return keys_.count(FoldKey(key)) != 0; }

 private:
  std::set<std::string> keys_;
};

// Removes a member from a keyed collection when present.
template <class T>
void RemoveIfPresent(KeyedCollection<T>& collection, std::string_view key) {
  if (collection.Contains(key)) collection.Remove(key);
}

}  // namespace

bool clsCarriers::HasNationalMembers(const std::string& group) {
  auto rs = Connection->OpenResultset(
      "select * from GruppoDiDestinazioni inner join Destinazioni ON GruppoDiDestinazioni.sArea=Destinazioni.sArea "
      "where sDenominazione=" +
      rdo::SqlQuote(group) + " and sTipo=" + rdo::SqlQuote(TipoNational()));
  const bool found = !rs->Eof();
  rs->Close();
  return found;
}

std::string clsCarriers::GruppoNazionale() {
  return QueryFirstValue(
      "Select sGruppoDest_e, count (Destinazioni.sArea) FROM ( Listino INNER JOIN GruppoDiDestinazioni ON "
      "Listino.sGruppoDest_e = GruppoDiDestinazioni.sDenominazione) INNER JOIN Destinazioni ON ( "
      "GruppoDiDestinazioni.sNazione = Destinazioni.sNazione) AND ( GruppoDiDestinazioni.sArea = "
      "Destinazioni.sArea) WHERE (sTipo)=" +
          rdo::SqlQuote(TipoNational()) + " group by sGruppoDest_e order by count (Destinazioni.sArea)  DESC",
      *Connection);
}

rdo::RdoConnection& clsCarriers::Prefissi() {
  if (prefissi_) return *prefissi_;
  const std::string& path = Chiamate->PrefissiMDB();
  // Without a prefix database the carrier's own file holds the tables.
  if (path.empty()) return *Connection;
  if (!platform::FileExists(path))
    throw ComponentError(kErrFileNotFound, "Prefix database not found: " + path, kCacheSource);
  try {
    prefissi_ = rdo::RdoEnvironment::Default().OpenConnection(
        "", false, false, rdo::FileConnectString(path));
  } catch (const ComponentError& e) {
    throw ComponentError(e.Number(), "Prefix database " + path + ": " + e.Description(), kCacheSource);
  }
  return *prefissi_;
}

std::vector<std::string> clsCarriers::QualifyingKeys(const std::string& sTipo, const clsDestinazione& site) {
  std::vector<std::string> keys;
  const std::string& area = site.PrefArea;
  if (sTipo == TipoLocal()) {
    keys.push_back(clsDestinazione::MakeKey(site.PrefNaz, area));
    return keys;
  }
  const std::string& home = Chiamate->PrefissoNazione();
  rdo::RdoConnection& prefissi = Prefissi();
  try {
    if (sTipo == TipoAdiacenti()) {
      auto rs = prefissi.OpenResultset("SELECT * FROM NearbyAreas WHERE SrcArea=" + rdo::SqlQuote(area));
      for (; !rs->Eof(); rs->MoveNext()) keys.push_back(clsDestinazione::MakeKey(home, rs->Value("DstArea").ToText()));
      rs->Close();
    } else {
      auto region = prefissi.OpenResultset("SELECT * FROM Regionali WHERE sPrefisso=" + rdo::SqlQuote(area));
      if (region->Eof()) {
        // An area in no region has no regional neighbours.
        WriteDetailLogNoThrow("Regione non trovata per il prefisso " + area);
        return keys;
      }
      const std::string regione = region->Value("sRegione").ToText();
      region->Close();
      auto rs = prefissi.OpenResultset("SELECT * FROM Regionali WHERE sRegione=" + rdo::SqlQuote(regione) +
                                       " and sPrefisso<>" + rdo::SqlQuote(area));
      for (; !rs->Eof(); rs->MoveNext())
        keys.push_back(clsDestinazione::MakeKey(home, rs->Value("sPrefisso").ToText()));
      rs->Close();
    }
  } catch (const ComponentError& e) {
    const std::string& file = Chiamate->PrefissiMDB().empty() ? NomeFileCarrier : Chiamate->PrefissiMDB();
    throw ComponentError(e.Number(), "Prefix tables of " + file + ": " + e.Description(), kCacheSource);
  }
  return keys;
}

void clsCarriers::ConfiguraDestPersonalizzate(const std::string& sTipo) {
  if (sTipo != TipoAdiacenti() && sTipo != TipoRegional() && sTipo != TipoLocal()) return;

  std::vector<std::string> candidates;
  {
    auto rs = Connection->OpenResultset(CandidateGroupsSql(sTipo, true));
    for (; !rs->Eof(); rs->MoveNext()) candidates.push_back(rs->Value("sGruppoDest_e").ToText());
    rs->Close();
  }
  if (candidates.empty()) {
    if (sTipo == TipoLocal()) TogliPrefissoUrbano();
    return;
  }

  // The smallest candidate without national members; the first met on a tie.
  std::string chosen;
  long best = 10000;
  for (const auto& name : candidates) {
    if (HasNationalMembers(name)) continue;
    const std::string size = QueryFirstValue(
        "Select count ( sDenominazione ) as NUMERO FROM ( GruppoDiDestinazioni ) where sDenominazione=" +
            rdo::SqlQuote(name),
        *Connection);
    const long numero = size.empty() ? 0 : std::stol(size);
    if (numero < best) {
      best = numero;
      chosen = name;
    }
  }
  if (best == 10000) return;

  const auto site = SitoDestinazione;
  const auto group = Gruppo(chosen);
  const auto national = Gruppo(GruppoNazionale());
  if (!site || !group || !national || group == national || !group->HasDestinazioni()) return;

  KeySet qualifying;
  for (const auto& key : QualifyingKeys(sTipo, *site)) qualifying.Add(key);

  std::vector<std::shared_ptr<clsDestinazione>> moving;
  for (const auto& destination : group->Destinazioni())
    if (!qualifying.Contains(destination->Key) && !destination->PrefArea.empty()) moving.push_back(destination);

  for (const auto& destination : moving) {
    RemoveIfPresent(group->Destinazioni(), destination->Key);
    if (destination->HasGruppiDest()) RemoveIfPresent(destination->GruppiDest(), group->Key);
    CacheAdd(national->Destinazioni(), destination, destination->Key, *Chiamate);
    CacheAdd(destination->GruppiDest(), national, national->Key, *Chiamate);
    destination->Tipo = TipoNational();
  }
}

void clsCarriers::TogliDistrettuali(clsCarrier& oCarrier) {
  std::string name;
  bool found = false;
  {
    std::set<std::string> tried;
    auto rs = Connection->OpenResultset(CandidateGroupsSql(TipoDistrettuali(), false));
    for (; !rs->Eof(); rs->MoveNext()) {
      std::string candidate = rs->Value("sGruppoDest_e").ToText();
      if (!tried.insert(candidate).second) continue;  // one row per member: ask once per group
      if (!HasNationalMembers(candidate)) {
        name = std::move(candidate);
        found = true;
        break;
      }
    }
    rs->Close();
  }
  if (!found) return;
  const auto group = Gruppo(name);
  if (!group) return;

  if (group->HasDestinazioni())
    for (const auto& destination : group->Destinazioni())
      if (destination->HasGruppiDest()) RemoveIfPresent(destination->GruppiDest(), group->Key);

  if (!oCarrier.HasTariffe()) return;
  auto& tariffe = oCarrier.Tariffe().Tariffe;
  for (std::size_t i = tariffe.Count(); i >= 1; --i)
    if (tariffe.Item(i)->GruppoDest == group) tariffe.Remove(i);
}

void clsCarriers::TogliPrefissoUrbano() {
  const auto site = SitoDestinazione;
  if (!site || !Chiamate->Destinazioni) return;
  const auto national = Gruppo(GruppoNazionale());
  if (!national) return;
  const auto destination =
      Chiamate->Destinazioni->Destinazioni().Find(clsDestinazione::MakeKey(site->PrefNaz, site->PrefArea));
  if (!destination) return;
  if (destination->HasGruppiDest()) RemoveIfPresent(destination->GruppiDest(), national->Key);
  if (national->HasDestinazioni()) RemoveIfPresent(national->Destinazioni(), destination->Key);
}

}  // namespace ordalis
