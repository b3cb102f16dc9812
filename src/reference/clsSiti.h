#pragma once
// clsSiti: the sites of table Siti, loaded all at once, each with its LCR
// tables, calendar and reference carrier; looked up by code.
//
// The engine creates one per Cache: construct with the engine, its
// connection and its TipoDb, then Cache(ctPreload, LogPath()). Cache first
// brings an old Siti table to the current schema (CheckSiteTable).
#include <memory>
#include <string>
#include <string_view>

#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsDestinazioni;
class clsSito;

class clsSiti {
 public:
  using Collection = KeyedCollection<clsSito>;

  clsSiti();
  clsSiti(clsChiamate* engine, rdo::RdoConnection* connection, ordalis::TipoDb tipo_db = dbAccess);
  ~clsSiti();

  // Kind of database the engine was given. The upgrade's SQL dialect is
  // taken from the connection itself (SQLite file, PostgreSQL or SQL
  // Server); TipoDb only decides for an ODBC source that answers neither
  // way.
  ordalis::TipoDb TipoDb = dbAccess;
  rdo::RdoConnection* Connection = nullptr;  // not owned
  clsChiamate* Chiamate = nullptr;           // not owned
  // Held for other parts; not used by the sites themselves.
  std::shared_ptr<clsDestinazioni> Destinazioni;
  // Code of the first site loaded (before duplicates are dropped).
  std::string SitoRiferimento;

  // Never null; keyed by Codice (letter case ignored by the collection).
  Collection& Siti() { return *siti_; }
  const Collection& Siti() const { return *siti_; }

  // Loads every row of Siti (the mode is accepted and not used). base_dir is
  // the engine's LogPath: reference-carrier files are also looked for in
  // base_dir/Carrier/ and base_dir/, prefix databases under
  // base_dir/international/<country>/prefissi.mdb.
  // An empty table is failure 1038 ("There are no sites") under the engine's
  // cache-error convention. Other failures (an unreadable table, a site's
  // calendar or reference-carrier file) reach the caller.
  // REQUIRES: Connection and Chiamate set.
  void Cache(CacheType tipo, const std::string& base_dir);

  // The first site in load order whose Codice equals the code exactly,
  // letter case included; null when none does.
  std::shared_ptr<clsSito> GetSito(std::string_view codice) const;

  // Brings table Siti (and Valute) to the current schema; a table that has
  // column PrefNazione is current and left alone. Never throws: a failed
  // step leaves its message in UpgradeError() and the steps after it as
  // described in the implementation. Does nothing without a Connection.
  void CheckSiteTable(const std::string& base_dir);

  // The message of the last failed upgrade step of the last CheckSiteTable;
  // empty when every step succeeded or nothing had to be done.
  const std::string& UpgradeError() const { return upgrade_error_; }

 private:
  std::shared_ptr<Collection> siti_;
  std::string upgrade_error_;
};

}  // namespace ordalis
