#pragma once
// clsCarriers: the carriers of a carrier comparison. Each Cache reads the one
// carrier a carrier tariff file holds, with its tariffs linked to the
// carrier's destination groups, then fits the carrier's adjacent, regional,
// local and district groups to the comparison site. Calling Cache once per
// file on the same object collects the carriers of several files.
#include <memory>
#include <string>
#include <vector>

#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsCarrier;
class clsDestinazione;
class clsGruppoDest;

class clsCarriers {
 public:
  clsCarriers();
  clsCarriers(clsChiamate* engine, rdo::RdoConnection* connection);
  ~clsCarriers();
  clsCarriers(const clsCarriers&) = delete;
  clsCarriers& operator=(const clsCarriers&) = delete;

  // The carrier tariff file being loaded (not owned).
  rdo::RdoConnection* Connection = nullptr;
  clsChiamate* Chiamate = nullptr;
  // Path of the file Connection is open on; becomes the carrier's
  // DatabaseTariffe.
  std::string NomeFileCarrier;
  // The comparison site's own area (its Destinazione), which the groups are
  // fitted to; none leaves the groups as the file has them.
  std::shared_ptr<clsDestinazione> SitoDestinazione;

  KeyedCollection<clsCarrier>& Carriers() { return *carriers_; }
  const KeyedCollection<clsCarrier>& Carriers() const { return *carriers_; }

  // The carrier name the last Cache read from its file; with "¦" after it,
  // the prefix of that carrier's group keys.
  const std::string& NomeCarrier() const { return nome_carrier_; }

  // REQUIRES: Connection, Chiamate and NomeFileCarrier set; the engine's
  // Destinazioni and GruppiDest loaded from this file (groups with the
  // carrier prefix). For ctPreload only: reads the carrier from table
  // Carrier, opens its tariff file, builds one tariff per distinct key of
  // Listino (rows with equal keys become its duration steps, ascending),
  // links each to the group "NomeCarrier¦sGruppoDest_e", adds the carrier
  // under its name (a name already present keeps the first carrier) and
  // fits its groups to the site.
  // Failures follow the engine's cache-error convention (source
  // "clsCarriers.Cache"): empty Carrier table 1030, no tariff file named
  // 1029, tariff file missing 1028, empty Listino 1027, and the data-access
  // layer's or the tariff row's own error; a failed carrier is not added.
  // A Listino group missing from the engine's groups sets CacheStopped and
  // throws 1043 with the group name, whatever UsoRiproc is.
  void Cache(CacheType tipo);

  // Fits the carrier's group of destination type sTipo ("Adiacenti",
  // "Regional" or "Local"; other types are ignored) to the site: among the
  // priced groups holding destinations of that type and no national one, the
  // smallest (first met on a tie) keeps only the site's qualifying areas;
  // every other area of it with a non-empty area prefix moves to the
  // carrier's national group (the priced group with most national areas)
  // and becomes "National". Qualifying areas: the site's own for "Local",
  // those NearbyAreas lists next to the site's area for "Adiacenti", the
  // other areas of the site's region (Regionali) for "Regional", both read
  // from the prefix database the engine's PrefissiMDB names, or from the
  // carrier's own file when PrefissiMDB is empty. Without a
  // "Local" group the site's own area leaves the national group
  // (TogliPrefissoUrbano). Nothing changes when the site is not among the
  // engine's sites or has no Destinazione.
  // Throws ComponentError when the prefix database cannot be read.
  // REQUIRES: Connection on the carrier file, NomeCarrier() of that file.
  void ConfiguraDestPersonalizzate(const std::string& sTipo);
  // Takes the carrier's first "Distrettuali" group without national members
  // out of the carrier: its destinations no longer list it and the
  // carrier's tariffs for it are dropped.
  void TogliDistrettuali(clsCarrier& oCarrier);
  // Takes the site's own destination out of the carrier's national group
  // (both ways), so that calls to the site's own area are not priced as
  // national calls of this carrier.
  void TogliPrefissoUrbano();

 private:
  void LoadCarrier(const class clsProprietaCarrier& record, bool& group_missing, std::string& missing_name);
  std::shared_ptr<clsGruppoDest> Gruppo(const std::string& name) const;
  std::string GruppoNazionale();
  bool HasNationalMembers(const std::string& group);
  std::vector<std::string> QualifyingKeys(const std::string& sTipo, const clsDestinazione& site);
  rdo::RdoConnection& Prefissi();

  std::shared_ptr<KeyedCollection<clsCarrier>> carriers_;
  std::string nome_carrier_;
  // The prefix database, opened on first need during one Cache.
  std::unique_ptr<rdo::RdoConnection> prefissi_;
};

}  // namespace ordalis
