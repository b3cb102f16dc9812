#pragma once
// clsChiamate: the engine. A host creates one, sets its switches, calls Init
// with the data source, then rates the stored calls with Process or one call
// described through the mirror properties with Run.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ordalis/DateTime.h"
#include "ordalis/EngineEvents.h"
#include "ordalis/Enums.h"
#include "ordalis/Export.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/Money.h"
#include "ordalis/Variant.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamata;
class clsCalendario;
class clsDestinazioni;
class clsCarriers;
class clsGruppiDest;
class clsSiti;
class clsLcrs;
class clsNominativi;
class clsSwings;
class clsDerivati;
class clsCommesse;
class clsValute;
class clsTimeZones;
class CacheErrorSink;
class clsDatiTariffa;
class Grid;

// A text member of a keyed collection (interconnection prefixes, carrier files).
struct TextItem {
  std::string value;
};

class ORDALIS_API clsChiamate {
 public:
  clsChiamate();  // Class_Initialize
  ~clsChiamate();
  clsChiamate(const clsChiamate&) = delete;
  clsChiamate& operator=(const clsChiamate&) = delete;

  // The host's event sink; null means no handlers. Not owned.
  void SetEvents(EngineEvents* events) { events_ = events; }
  EngineEvents& Events();
  // Called at every yield point of the long loops (the host's message loop).
  void SetYield(std::function<void()> yield) { yield_ = std::move(yield); }
  void DoEvents();

  // What the last Process met in one call table.
  struct RunTally {
    std::int32_t rated = 0;
    // Outgoing calls of a known site that no tariff priced: cost 0 for want
    // of a carrier.
    std::int32_t no_tariff = 0;
    // Calls whose site the sites table does not hold.
    std::int32_t unknown_site = 0;
    // Calls of a known site whose extension is not known (and was not
    // added automatically); their cost is 0.
    std::int32_t unknown_extension = 0;
  };

  // Lifecycle.
  void Init(const std::string& vsDsn);  // never throws: failures go to Errore
  void Cache();
  void UnCache();
  void Process();  // throws ComponentError when a step fails
  // Per call table of the last Process: [0] CHIAMATE, [1] CHIAMATEINTERNE.
  const std::array<RunTally, 2>& LastRunTally() const;
  // Why the current call's cost of that kind is 0, in words (unknown site,
  // no tariff, unknown extension, no duration); empty when the cost is not 0
  // or nothing explains it (a tariff that charges nothing).
  std::string ZeroCostReason(TipoCosto tipo) const;
  void Run();      // never throws: failures go to Errore
  void CloseConnection();
  void StopIt() { mbStop_ = true; }
  void PauseIt() { mbPause_ = true; }
  void RestartIt() { mbPause_ = false; }
  void Test() {}

  // Switches and state.
  bool mbStop() const { return mbStop_; }
  void set_mbStop(bool v) { mbStop_ = v; }
  bool mbPause() const { return mbPause_; }
  void set_mbPause(bool v) { mbPause_ = v; }
  const std::string& Filter() const { return filter_; }
  void set_Filter(std::string v) { filter_ = std::move(v); }
  const std::string& Operation() const { return operation_; }
  void set_Operation(std::string v) { operation_ = std::move(v); }
  const std::string& Database() const { return database_; }
  void set_Database(const std::string& value);  // connects
  const std::string& User() const { return user_; }
  void set_User(std::string v) { user_ = std::move(v); }
  const std::string& Pwd() const { return pwd_; }
  void set_Pwd(std::string v) { pwd_ = std::move(v); }
  const std::string& Errore() const { return errore_; }
  // The data-access layer's own description of the last failed open of the
  // engine's database (SQLite's message, or the ODBC driver's SQLSTATE and
  // text), which Errore does not repeat; empty after a good open.
  const std::string& ConnectionError() const { return connection_error_; }
  void set_Errore(std::string v) { errore_ = std::move(v); }
  bool Cached() const { return cached_; }
  void set_Cached(bool v) { cached_ = v; }
  CacheType TipoCache() const { return tipo_cache_; }
  void set_TipoCache(CacheType v) { tipo_cache_ = v; }
  UpdateType TipoAggiornamento() const { return tipo_aggiornamento_; }
  void set_TipoAggiornamento(UpdateType v) { tipo_aggiornamento_ = v; }
  bool NoUndo() const { return no_undo_; }
  void set_NoUndo(bool v) { no_undo_ = v; }
  // Set when several processes rate this database at once, each a shard of
  // the calls: the last-call time of a phone-book entry or swing number
  // (and a swing's site and extension) then follow the latest call by date
  // and time rather than the last call rated, so that the rows do not depend
  // on which process got there first. Off by default.
  bool SharedRun() const { return shared_run_; }
  void set_SharedRun(bool v) { shared_run_ = v; }
  bool NoCount() const { return no_count_; }
  void set_NoCount(bool v) { no_count_ = v; }
  ordalis::TipoDb TipoDb() const { return tipo_db_; }
  void set_TipoDb(ordalis::TipoDb v) { tipo_db_ = v; }
  bool UsoRiproc() const { return uso_riproc_; }
  void set_UsoRiproc(bool v) { uso_riproc_ = v; }
  bool CacheStopped() const { return cache_stopped_; }
  void set_CacheStopped(bool v) { cache_stopped_ = v; }
  const std::string& PrefissiMDB() const { return prefissi_mdb_; }
  void set_PrefissiMDB(std::string v) { prefissi_mdb_ = std::move(v); }
  KeyedCollection<TextItem>& PrefissiInterconn() { return *prefissi_interconn_; }
  void set_PrefissiInterconn(std::shared_ptr<KeyedCollection<TextItem>> v) { prefissi_interconn_ = std::move(v); }
  KeyedCollection<TextItem>& colCarrier() { return *col_carrier_; }
  bool ConnectionOpen() const { return mb_conn_aperta_; }
  // Rows of both call tables the last Process wrote back (a call stopped
  // before its save, or whose save failed, is not counted).
  std::int32_t CallsSaved() const { return calls_saved_; }
  // 0: memory taken by the last Cache; 1: freed by the last UnCache; else 0.
  std::int32_t Memoria(std::int16_t viTipo) const;
  std::string Version() const;
  std::string RemoveExeName(const std::string& sPath) const;

  // Events and warnings.
  void SendErrorMsg(std::int16_t iTentativo, std::string sErrDesc, std::int16_t iErrCode);
  // Why the last failed save or commit failed (the database's message:
  // "database is locked", "database or disk is full", "UNIQUE constraint
  // failed: ..."), for a host's SaveDataError handler: the event itself
  // carries an empty description.
  const std::string& LastSaveError() const { return last_save_error_; }
  void set_LastSaveError(std::string v) { last_save_error_ = std::move(v); }
  void SendWarningMsg(const std::string& text);

  // Mirror properties: the current call's fields by property name ("dData",
  // "cCosto1_c", ...), money as Double as the host sees it. Throws error 438
  // for an unknown name or a read-only property.
  static const std::vector<std::string>& MirrorPropertyNames();
  Variant Property(std::string_view name) const;
  void SetProperty(std::string_view name, const Variant& value);
  // The current call record itself, for the component's own classes.
  clsChiamata& Chiamata() { return *mo_chiamata_; }
  bool HasChiamata() const { return mo_chiamata_ != nullptr; }
  void set_Data(const std::string& text);
  void set_Ora(const std::string& text);
  void set_Risposta(const std::string& text);
  void set_Durata(const std::string& text);
  void set_sSito(const std::string& text);
  double cCosto1_c() const;
  double cCosto2_c() const;
  double cTariffa_c() const;
  double cDifferenza_c() const;
  void set_cCosto1_c(double v);
  void set_cCosto2_c(double v);
  void set_cTariffa_c(double v);
  void set_cDifferenza_c(double v);
  Money cCosto3_c() const;

  // Carrier comparison and single-call rating with a carrier's tariff file.
  // colCarrier lists the compared files; its order is the order of the rows
  // of the comparison grid.
  void AggiungiCarrierPerConfronto(const std::string& sFileCarrier);  // appended without key
  void CancellaListaCarrierPerConfronto();                            // the list becomes empty
  // Makes the carrier names of the listed files unique, writing "Name (2)",
  // "Name (3)"... into the Carrier table of the later files; a file listed
  // again is the same carrier and is left alone. Throws ComponentError when
  // a file cannot be opened or is not a carrier tariff file. Returns True.
  bool ControllaDuplicatiNomiCarrier(KeyedCollection<TextItem>& vcolCarrier);
  // Loads calendar, comparison destinations and groups, sites, the carriers
  // of the files of colCarrier fitted to site sSito, and extensions. Raises
  // CacheStart/CacheChange/CacheDone; the first failure ends the load
  // without CacheDone and its description goes to Errore.
  // Throws ComponentError when the options cannot be read (no connection).
  void CacheConfrontoCarrier(const std::string& sSito);
  // Rates one outgoing call with the carrier of sFileCarrier (listed under
  // its own path; bCache loads the comparison caches unless the file was
  // already listed); the result is read through cCosto3_c and DatiTariffa.
  // Nothing is saved. Throws ComponentError 91 when no comparison carriers
  // are loaded.
  void CalcolaChiamata(DateTime dData, DateTime dOra, DateTime dDurata, const std::string& sNumero,
                       const std::string& sFileCarrier, const std::string& sSito, const std::string& sDerivato,
                       bool bCache = false);
  // Prices the outgoing calls of site sCodiceSito from dDataDal to dDataAl
  // (both days inclusive) with each file of colCarrier. Row r-1 of the grid
  // is file r; columns 0..5: Local, National/Adiacenti/Regional, Mobile,
  // International, other types, total. Amounts are added to the cells (the
  // host sets them to 0); a type cell still 0 when a call of that type could
  // not be priced becomes the text "0.". ProgressChange per call, Done at
  // the end (StopIt ends after the current call); the connection is closed
  // afterwards. REQUIRES: CacheConfrontoCarrier done; the grid has at least
  // as many rows as colCarrier and 6 columns.
  void ConfrontaCarrier(const std::string& sCodiceSito, DateTime dDataDal, DateTime dDataAl, Grid& xrgTotali);
  // Per row of the last ConfrontaCarrier grid (file of colCarrier), how
  // many calls of the period that carrier could not price (no comparison
  // tariff, or an unknown extension); nothing was added to the grid for them.
  const std::vector<std::int32_t>& UnpricedCalls() const;
  // The tariff the last comparison pricing chose, as a new record; null
  // when that call found no comparison tariff.
  std::shared_ptr<clsDatiTariffa> DatiTariffa() const;

  // For the component's own classes: connection, options and caches.
  rdo::RdoConnection* Connection() { return connection_.get(); }
  const std::string& PrefissoNazione() const { return pref_nazione_; }
  const std::string& PrefissoInternazionale() const { return pref_internazionale_; }
  const std::string& OpzioneValuta() const { return opz_valuta_; }
  std::int16_t DefaultPrivacy() const { return default_privacy_; }
  // The failure convention of every cache load: with UsoRiproc the error
  // (object-error base + offset) is thrown; otherwise Errore takes the
  // message and CacheStopped becomes True.
  void CacheError(std::int32_t offset, const std::string& message, const std::string& source);
  // The same for an error that already has its number.
  void CacheError(const class ComponentError& error);
  // The engine as AddToCollection reports to it.
  CacheErrorSink& ErrorSink();

  std::shared_ptr<clsCalendario> Calendario;
  std::shared_ptr<clsDestinazioni> Destinazioni;
  std::shared_ptr<clsCarriers> Carriers;
  std::shared_ptr<clsGruppiDest> GruppiDest;
  std::shared_ptr<clsSiti> Siti;
  std::shared_ptr<clsLcrs> Lcrs;
  std::shared_ptr<clsNominativi> Nominativi;
  std::shared_ptr<clsSwings> Swings;
  std::shared_ptr<clsDerivati> Derivati;
  std::shared_ptr<clsCommesse> Commesse;
  std::shared_ptr<clsValute> Valute;
  std::shared_ptr<clsTimeZones> moTimeZones;

 private:
  std::string ConnectString() const;
  int QueryTimeoutFromRegistry();
  void ProcessCalls();  // Process, without putting back lost statistics
  void RateStoredCalls();  // ProcessCalls' work on the open connection
  bool ProcessaChiamate(const std::string& clause, std::int32_t total, const bool* mask, bool internal,
                        std::int32_t first);
  void ConfigurationDump();
  void TallyRatedCall(const clsChiamata& call, bool internal, bool costed);
  void ReleaseCaches();
  // Opens the engine's connection object again with User and Pwd.
  void Reopen();
  void LoadInterconnectionPrefixes();
  // Stops the preparation of a running batch's calls ahead of their rating
  // (it reads the reference data, which is about to change).
  void StopCallNotes();
  // Opens the connection again when a run or a comparison closed it.
  void Reconnect();
  std::string ReadOption(const std::string& section, const std::string& entry, const std::string& fallback);

  struct ORDALIS_LOCAL Impl;
  std::unique_ptr<Impl> impl_;
  bool shared_run_ = false;
  EngineEvents* events_ = nullptr;
  std::function<void()> yield_;

  std::atomic<bool> mbStop_{false};
  std::atomic<bool> mbPause_{false};
  std::string filter_, operation_, database_, user_, pwd_, errore_, prefissi_mdb_, last_save_error_,
      connection_error_;
  bool cached_ = false, no_undo_ = false, no_count_ = false, uso_riproc_ = false, cache_stopped_ = false;
  bool mb_conn_aperta_ = false;
  CacheType tipo_cache_ = ctNone;
  UpdateType tipo_aggiornamento_ = utImmediate;
  ordalis::TipoDb tipo_db_ = dbAccess;
  std::shared_ptr<KeyedCollection<TextItem>> prefissi_interconn_;
  std::shared_ptr<KeyedCollection<TextItem>> col_carrier_;
  std::unique_ptr<rdo::RdoConnection> connection_;
  std::shared_ptr<clsChiamata> mo_chiamata_;
  std::string pref_nazione_ = "39", pref_internazionale_ = "00", opz_valuta_;
  std::int16_t default_privacy_ = 0;
  std::int32_t mem_cache_ = 0, mem_uncache_ = 0;
  std::int32_t calls_saved_ = 0;

};

}  // namespace ordalis
