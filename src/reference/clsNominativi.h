#pragma once
// clsNominativi: the phone book (table Rubrica) in memory, keyed by number.
// Entries are either all loaded in advance (ctPreload) or fetched one by one
// the first time a number is met (ctPerUse); their call statistics are
// written back after each call (utImmediate) or at the end of a batch run
// (utBatch, SaveAll).
//
// The engine creates one per Cache: set Connection, TipoAggiornamento and
// Chiamate, then call Cache(ctPerUse). At the end of a batch run with
// TipoAggiornamento utBatch it calls SaveAll().
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ordalis/DateTime.h"
#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"
#include "reference/NumberLookAhead.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
class RdoResultset;
}  // namespace rdo
class CallUndo;
class clsChiamate;
class clsNominativo;

class clsNominativi {
 public:
  using Collection = KeyedCollection<clsNominativo>;

  clsNominativi();
  clsNominativi(clsChiamate* engine, rdo::RdoConnection* connection,
                UpdateType tipo_aggiornamento = utImmediate);
  ~clsNominativi();

  clsChiamate* Chiamate = nullptr;           // not owned
  rdo::RdoConnection* Connection = nullptr;  // not owned
  // utImmediate: the caller saves an entry after each call (Aggiorna does);
  // utBatch: SaveAll writes every entry at the end of the run.
  UpdateType TipoAggiornamento = utImmediate;
  // ssUnsaved while some change is known not to be in the table: an entry
  // updated under utBatch and not yet written, or a Save that failed.
  // SaveAll sets ssSaved when every entry was written.
  ordalis::SaveStatus SaveStatus = ssSaved;
  // Where changes made while rating a call are recorded (not owned; none
  // when null).
  CallUndo* Undo = nullptr;

  // Never null. Members are keyed by NumeroTel.
  Collection& Nominativi() { return *nominativi_; }
  const Collection& Nominativi() const { return *nominativi_; }
  void set_Nominativi(std::shared_ptr<Collection> collection);

  // The mode of the last Cache call.
  CacheType Tipo() const { return tipo_; }

  // REQUIRES: Connection and Chiamate set.
  // ctPreload: a new collection with every row of Rubrica (the first of a
  // repeated number wins); ctPerUse: a new, empty collection; ctNone: nothing
  // changes. An empty table is not an error. A failure (a missing table or
  // column, a count out of range) follows the engine's cache-error
  // convention: thrown with UsoRiproc, otherwise Errore and CacheStopped are
  // set and the members read so far stay. The load also stops adding members
  // as soon as the engine's CacheStopped is set.
  void Cache(CacheType mode);

  // Fetches the row whose sNumero is exactly `numero` (no prefix, suffix or
  // spacing tolerance) and adds it to the collection; true when found. A
  // number already in the collection keeps its member. A number found
  // missing is not asked for again while the connection can tell that the
  // table has not changed since (TableStamp). Statement failures
  // reach the caller; a failure to add records Errore/CacheStopped (without
  // UsoRiproc) and is raised to the caller in every case.
  bool CercaNominativo(std::string_view numero);

  // Looks up at once, a few dozen to a statement, those of `numbers` that
  // are neither members nor known missing, for a database where each
  // look-up is a round trip to a server: the rows found are held until the
  // next Prefetch, and one becomes a member when GetNominativo asks for its
  // number; the numbers not found are known missing as with
  // CercaNominativo. Statement failures reach the caller.
  void Prefetch(const std::vector<std::string_view>& numbers);

  // The entry for a number: from the collection, or else fetched with
  // CercaNominativo; null when the table does not have it either. This is
  // the look-up of name resolution: in ctPerUse mode each number is queried
  // once, a number missing from the table again whenever the table may have
  // changed.
  std::shared_ptr<clsNominativo> GetNominativo(std::string_view numero);

  // Writes the entry's statistics to its row (found by PKId) and reads the
  // row's sNome and sLocalita back into it, so that a name typed in while
  // the engine runs reaches memory. Without a row (PKId 0, or the row was
  // deleted by someone else meanwhile) a new row is added with the entry's
  // name, number and place, and PKId becomes the new row's. Never throws:
  // on failure the row stays as it was, SaveStatus becomes ssUnsaved and the
  // result is false.
  bool Save(clsNominativo& entry);
  // Save of every member in collection order (with changed_only, of those
  // whose counts changed since their row was read or written, and those
  // without a row); returns how many could not be written. SaveStatus is
  // ssSaved afterwards when none failed.
  std::size_t SaveAll(bool changed_only = false);

  // Counts one call on the entry (clsNominativo::RegistraChiamata), first
  // recording it in Undo, then Aggiorna.
  void Registra(const std::shared_ptr<clsNominativo>& entry, bool uscente, DateTime dData, DateTime dOra,
                bool annulla, bool per_data);

  // To be called after an entry's statistics changed: saves it now under
  // utImmediate (result of Save), marks the book ssUnsaved under utBatch
  // (result true).
  bool Aggiorna(clsNominativo& entry);

  // An entry from the current row of a Rubrica resultset.
  static std::shared_ptr<clsNominativo> FromRow(const rdo::RdoResultset& row, rdo::RdoConnection* database);

 private:
  std::shared_ptr<Collection> nominativi_;
  CacheType tipo_ = ctNone;
  // Numbers known missing, and rows of the last Prefetch not asked for yet.
  NumberLookAhead<clsNominativo> look_ahead_{"Rubrica"};
};

}  // namespace ordalis
