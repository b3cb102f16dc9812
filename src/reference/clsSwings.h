#pragma once
// clsSwings: the swing numbers (table Swing) in memory, keyed by number,
// loaded in advance (ctPreload) or fetched the first time a number is met
// (ctPerUse), with their totals written back after each call (utImmediate)
// or at the end of a batch run (utBatch, SaveAll).
//
// The engine creates one per Cache: set Connection, TipoAggiornamento and
// Chiamate, then call Cache(ctPerUse). At the end of a batch run with
// TipoAggiornamento utBatch it calls SaveAll().
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
class clsSwing;

class clsSwings {
 public:
  using Collection = KeyedCollection<clsSwing>;

  clsSwings();
  clsSwings(clsChiamate* engine, rdo::RdoConnection* connection, UpdateType tipo_aggiornamento = utImmediate);
  ~clsSwings();

  clsChiamate* Chiamate = nullptr;           // not owned
  rdo::RdoConnection* Connection = nullptr;  // not owned
  UpdateType TipoAggiornamento = utImmediate;
  // ssUnsaved while some change is known not to be in the table (a swing
  // updated under utBatch and not yet written, or a failed Save); SaveAll
  // sets ssSaved when every swing was written.
  ordalis::SaveStatus SaveStatus = ssSaved;
  // Where changes made while rating a call are recorded (not owned; none
  // when null).
  CallUndo* Undo = nullptr;

  // Never null. Members are keyed by Numero.
  Collection& Swings() { return *swings_; }
  const Collection& Swings() const { return *swings_; }
  void set_Swings(std::shared_ptr<Collection> collection);

  CacheType Tipo() const { return tipo_; }

  // REQUIRES: Connection and Chiamate set. As clsNominativi::Cache, on
  // table Swing: ctPreload loads every row (first of a repeated number
  // wins), ctPerUse starts empty, ctNone changes nothing; failures follow
  // the engine's cache-error convention; the load stops adding members once
  // the engine's CacheStopped is set.
  void Cache(CacheType mode);

  // Fetches the row whose sNumero is exactly `numero` and adds it; true when
  // found. Missing numbers and failures as clsNominativi::CercaNominativo.
  bool CercaSwing(std::string_view numero);

  // As clsNominativi::Prefetch, on table Swing.
  void Prefetch(const std::vector<std::string_view>& numbers);

  // From the collection, else a row of the last Prefetch, else through
  // CercaSwing; null when the table does not have it.
  std::shared_ptr<clsSwing> GetSwing(std::string_view numero);

  // A swing created for a call (not in the table): added under its number
  // with the collection-add rule (a number already present keeps the first
  // member), and recorded in Undo. REQUIRES: Chiamate set.
  void Aggiungi(std::shared_ptr<clsSwing> swing);
  // Before a member's totals change: recorded in Undo.
  void Remember(const std::shared_ptr<clsSwing>& swing);

  // Writes every column of the swing from memory to its row (found by
  // PKId), an empty name or number as NULL; reads nothing back. Without a
  // row (PKId 0, or the row was deleted by someone else meanwhile) a new row
  // is added and PKId becomes its identity. Never throws: on failure the row
  // stays as it was, SaveStatus becomes ssUnsaved and the result is false.
  bool Save(clsSwing& swing);
  // Save of every member in collection order (with changed_only, of those
  // whose totals changed since their row was read or written, and those
  // without a row); returns how many failed.
  std::size_t SaveAll(bool changed_only = false);

  // After a swing's totals changed: Save now under utImmediate, mark
  // ssUnsaved under utBatch (result true).
  bool Aggiorna(clsSwing& swing);

  // A swing from the current row of a Swing resultset.
  static std::shared_ptr<clsSwing> FromRow(const rdo::RdoResultset& row);

 private:
  std::shared_ptr<Collection> swings_;
  CacheType tipo_ = ctNone;
  // Numbers known missing, and rows of the last Prefetch not asked for yet.
  NumberLookAhead<clsSwing> look_ahead_{"Swing"};
};

}  // namespace ordalis
