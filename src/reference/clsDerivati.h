#pragma once
// clsDerivati: the extensions of table Derivati, keyed by number¦site (site
// "*" for an extension shared by every site). Unknown extensions are added
// to the table and the collection when a call comes from them; running
// totals are written back with Save and SaveAll.
//
// The engine creates one per Cache: construct with the engine, its
// connection and its TipoAggiornamento, then Cache(ctPreload). At the end of
// a batch run with TipoAggiornamento utBatch it calls SaveAll().
#include <memory>
#include <string>

#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsDerivato;

class clsDerivati {
 public:
  using Collection = KeyedCollection<clsDerivato>;

  clsDerivati();
  clsDerivati(clsChiamate* engine, rdo::RdoConnection* connection, UpdateType tipo_aggiornamento = utImmediate);
  ~clsDerivati();

  rdo::RdoConnection* Connection = nullptr;  // not owned
  // Copied from the engine; the batch run, not this cache, acts on it.
  UpdateType TipoAggiornamento = utImmediate;
  clsChiamate* Chiamate = nullptr;  // not owned

  // Never null; empty unless loaded with ctPreload.
  Collection& Derivati() { return *derivati_; }
  const Collection& Derivati() const { return *derivati_; }
  // The mode of the last Cache call.
  CacheType Tipo() const { return tipo_; }

  // The key of an extension: numero + "¦" + sito.
  static std::string MakeKey(const std::string& numero, const std::string& sito);

  // ctPreload: a new collection with every row of Derivati, until the end or
  // until the engine's CacheStopped (the first row of a repeated
  // number¦site wins; SogliaSuperata is "-" whatever the row holds). Other
  // modes load nothing. An empty table is not an error. A NULL in a total or
  // threshold column fails with error 94 and a value out of range with 6;
  // these and the table's own failures reach the caller.
  // REQUIRES: Connection and Chiamate set.
  void Cache(CacheType tipo);

  // Writes the extension's totals and SogliaSuperata to its row (found by
  // site and number), first reading the row's descriptive columns back into
  // the object so that edits made while the engine runs survive; inserts the
  // row from the object when it is missing. Never throws: false when the row
  // could not be written (the database keeps what it had).
  bool Save(clsDerivato& derivato);
  // Save for every member, in collection order; the number of failures.
  std::size_t SaveAll();

  // Adds an extension for a number not yet known: a Derivati row (name "?",
  // note "<Added automatically>", descriptions "-", the engine's default
  // privacy, swing, zero totals) and a member of the collection, returned in
  // `derivato`. When `condiviso` the site becomes "*" (for the OEM edition
  // "Kelmora", the sites' SitoRiferimento when there is one); `sito` returns
  // the site used. A row of that number and site that another process added
  // meanwhile is taken instead of adding a second one (with a unique key on
  // Derivati (sNumero, sSito), two processes adding at once cannot both
  // succeed: the loser reads the winner's row). A failed attempt is tried
  // again. False, with nothing changed, for an empty number or when the row
  // cannot be added. Never throws.
  bool InserimentoAutomaticoDerivato(const std::string& numero, std::string& sito,
                                     std::shared_ptr<clsDerivato>& derivato, bool condiviso);

  // The message of the last failed automatic insertion; empty when none.
  const std::string& LastError() const { return last_error_; }

 private:
  bool SaveOnce(clsDerivato& derivato);
  // Whether Derivati has a row of this number and site.
  bool HasRow(const std::string& numero, const std::string& sito);
  void AddRow(const std::string& numero, const std::string& sito, std::int16_t privacy);

  std::shared_ptr<Collection> derivati_;
  CacheType tipo_ = ctNone;
  std::string text_added_;  // "<Added automatically>"
  std::string text_error_;  // "Error in adding extension: "
  std::string last_error_;
};

}  // namespace ordalis
