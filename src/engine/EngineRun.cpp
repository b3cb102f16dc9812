// The batch run over the stored calls and the single-call run.
#include <cctype>
#include <chrono>
#include <exception>
#include <thread>

#include "call/CallNote.h"
#include "call/clsChiamata.h"
#include "data/RdoConnection.h"
#include "data/RdoQuery.h"
#include "data/RdoResultset.h"
#include "data/RdoTypes.h"
#include "engine/BatchSteps.h"
#include "engine/EngineState.h"
#include "engine/FilterClause.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "platform/Paths.h"
#include "reference/clsDerivati.h"
#include "reference/clsNominativi.h"
#include "reference/clsSwings.h"
#include "support/CommonLib.h"
#include "support/RegistryLib.h"
#include "support/Text.h"

namespace ordalis {
namespace {

constexpr std::int32_t kNoCountTotal = 999999;

std::int32_t CountRows(rdo::RdoConnection& connection, const std::string& sql) {
  auto rs = connection.OpenResultset(sql, rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
  std::int32_t count = 0;
  if (!rs->Eof()) count = static_cast<std::int32_t>(rs->Value(0).ToInteger());
  rs->Close();
  return count;
}

// Cost difference (position 6) and its percentage (position 7).
void CalcDifferenza(clsChiamata& c) { c.cDifferenza_c = c.cCosto2_c - c.cCosto1_c; }
void CalcDifferenzaPerc(clsChiamata& c) {
  if (c.cCosto2_c == Money()) {
    c.rDifferenzaPerc_c = 0;
    return;
  }
  double c1 = c.cCosto1_c.ToDouble(), c2 = c.cCosto2_c.ToDouble();
  c.rDifferenzaPerc_c = static_cast<float>((c2 - c1) / c2 * 100.0);
}

bool Refused(const ComponentError& e) { return e.Number() == rdo::kErrWriteRefused; }

// The phone-book numbers the least-cost searches ahead found for a block of
// calls, looked up together, and the swing numbers of the calls from swing
// extensions. A look-up that fails here is made again, and its failure
// reported, by the call that needs it; a failure that cost the batch its
// rows ends the run like any other.
void PrefetchNames(clsNominativi& book, clsSwings* swings, const std::vector<const rdo::RowNote*>& notes) {
  std::vector<std::string_view> numbers, swing_numbers;
  numbers.reserve(notes.size());
  for (const rdo::RowNote* note : notes) {
    const auto* call = dynamic_cast<const CallNote*>(note);
    if (!call) continue;
    for (const CallNote::Search* search : {&call->search[0], &call->masked[0]}) {
      if (!search->asked) continue;
      numbers.push_back(search->answer.number);
      if (call->swing) swing_numbers.push_back(search->answer.number);
    }
  }
  try {
    book.Prefetch(numbers);
    if (swings && !swing_numbers.empty()) swings->Prefetch(swing_numbers);
  } catch (const ComponentError& e) {
    if (Refused(e)) throw;
  }
}

// One call's writes (its row, the statistics it moved, an extension added
// for it) and what they changed in memory are kept or taken back together.
// Not ended, the call is taken back.
class CallUnit {
 public:
  CallUnit(rdo::RdoConnection& connection, CallUndo& undo) : connection_(connection), undo_(undo) {
    undo_.BeginCall();
    connection_.BeginUnit();
  }
  ~CallUnit() {
    if (ended_) return;
    try {
      End(false);
    } catch (...) {
      // The failure that ended the call is the one reported.
    }
  }
  CallUnit(const CallUnit&) = delete;
  CallUnit& operator=(const CallUnit&) = delete;

  // Throws when the layer lost the writes not yet committed (they are then
  // put back in memory too).
  void End(bool keep) {
    ended_ = true;
    if (keep)
      undo_.KeepCall();
    else
      undo_.DropCall();
    try {
      connection_.EndUnit(keep);
    } catch (const ComponentError& e) {
      if (Refused(e)) undo_.Lost();
      throw;
    }
    if (keep && !connection_.UnitsPending()) undo_.Committed();
  }

 private:
  rdo::RdoConnection& connection_;
  CallUndo& undo_;
  bool ended_ = false;
};

constexpr int kMaxCommitAttempts = 1000;  // as for a row's save

// The phone-book entries and swing numbers changed since they were last
// written, written into the open transaction; in a shared run in turn with
// the other processes, so that their writes do not meet.
void WriteChangedStatistics(clsChiamate& engine, rdo::RdoConnection& connection) {
  const bool book = engine.Nominativi && engine.Nominativi->TipoAggiornamento == utBatch;
  const bool swings = engine.Swings && engine.Swings->TipoAggiornamento == utBatch;
  if (!book && !swings) return;
  if (engine.SharedRun()) connection.TakeTurn();
  if (book) engine.Nominativi->SaveAll(true);
  if (swings) engine.Swings->SaveAll(true);
}

// For its lifetime, with `on`, the phone book and the swing numbers keep
// what the calls change for WriteChangedStatistics, as in a batch update,
// and `flag` (the engine's statistics_at_commit) says so.
class StatisticsAtCommit {
 public:
  StatisticsAtCommit(clsChiamate& engine, bool& flag, bool on) : flag_(flag) {
    flag_ = on;
    if (!on) return;
    book_ = engine.Nominativi;
    swings_ = engine.Swings;
    if (book_) book_->TipoAggiornamento = utBatch;
    if (swings_) swings_->TipoAggiornamento = utBatch;
  }
  ~StatisticsAtCommit() {
    flag_ = false;
    if (book_) book_->TipoAggiornamento = utImmediate;
    if (swings_) swings_->TipoAggiornamento = utImmediate;
  }
  StatisticsAtCommit(const StatisticsAtCommit&) = delete;
  StatisticsAtCommit& operator=(const StatisticsAtCommit&) = delete;

 private:
  bool& flag_;
  std::shared_ptr<clsNominativi> book_;
  std::shared_ptr<clsSwings> swings_;
};

// Commits what the layer holds; with `statistics`, the statistics waiting
// for the commit are written first (WriteChangedStatistics). A commit
// refused because another process holds the database is tried again once a
// second, each failure reported like a failed save (SaveDataError,
// LastSaveError), until it succeeds, the attempts run out or the host stops
// the run (the failure is then thrown). A commit refused for good puts back
// the statistics of the calls it lost.
void Commit(clsChiamate& engine, rdo::RdoConnection& connection, CallUndo& undo, bool statistics = false) {
  for (int attempt = 1;; ++attempt) {
    try {
      if (statistics && attempt == 1) WriteChangedStatistics(engine, connection);
      connection.Flush();
      undo.Committed();
      return;
    } catch (const ComponentError& e) {
      if (Refused(e)) {
        undo.Lost();
        throw;
      }
      if (attempt >= kMaxCommitAttempts || engine.mbStop()) throw;
      engine.set_LastSaveError(e.Description());
      engine.SendErrorMsg(static_cast<std::int16_t>(attempt), "", 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    while (engine.mbPause() && !engine.mbStop()) engine.DoEvents();
    engine.DoEvents();
  }
}

}  // namespace

void BuildMask(const std::string& operation, bool* mask) {
  for (int i = 0; i < kMaskSize; ++i) mask[i] = false;
  for (int i = 1; i <= 19; ++i) mask[i] = operation.size() >= static_cast<std::size_t>(i) && operation[i - 1] == '1';
  for (int i : {22, 23}) mask[i] = operation.size() < static_cast<std::size_t>(i) || operation[i - 1] == '1';
}

void RateLoadedCall(clsChiamate& engine, clsChiamata& call, const bool* mask, bool internal) {
  call.ResetIdentification();
  std::string loaded_tipo;
  if (internal) {
    loaded_tipo = call.sTipo;
    call.sTipo = "E";
  }
  call.CalcDate();
  call.UseGatewayTime();
  for (int position : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 19}) {
    if (mask[position] && !engine.mbStop()) {
      switch (position) {
        case 1: call.CalcGiorno(); break;
        case 2: call.CalcFascia(); break;
        case 3: call.CalcTariffa(); break;
        case 4: call.CalcCosto(tcCosto1); break;
        case 5: call.CalcCosto(tcCosto2); break;
        case 6: CalcDifferenza(call); break;
        case 7: CalcDifferenzaPerc(call); break;
        case 8: WriteDetailLog(".CalcCarrier1"); call.CalcCarrier1(); break;
        case 9: WriteDetailLog(".CalcCarrier2"); call.CalcCarrier2(); break;
        case 10:
          WriteDetailLog(".CalcReparto");
          call.CalcReparto();
          WriteDetailLog(".CalcSedeFisica");
          call.CalcSedefisica();
          break;
        case 11: WriteDetailLog(".CalcCentroDiCosto"); call.CalcCentroDiCosto(); break;
        case 12: WriteDetailLog(".CalcNomeDerivato"); call.CalcNomeDerivato(); break;
        case 13: WriteDetailLog(".CalcTipoDest"); call.CalcTipoDest(); break;
        case 14: WriteDetailLog(".CalcNome"); call.CalcNome(); break;
        case 15: WriteDetailLog(".CalcNazione"); call.CalcNazione(); break;
        case 16: WriteDetailLog(".CalcArea"); call.CalcArea(); break;
        case 19: WriteDetailLog(".CalcCommessa"); call.CalcCommessa(); break;
      }
    }
    engine.DoEvents();
  }
  call.SetDateTimeFields();
  if (internal) call.sTipo = loaded_tipo;
}

void clsChiamate::Process() {
  try {
    ProcessCalls();
  } catch (const ComponentError& e) {
    // Writes refused for good took every call not yet committed with them.
    if (Refused(e)) impl_->undo.Lost();
    throw;
  }
}

void clsChiamate::ProcessCalls() {
  WriteDetailLog("Inizio Processamento chiamate");
  calls_saved_ = 0;
  impl_->tally = {};

  if (!mb_conn_aperta_) {
    connection_->SetQueryTimeout(30);
    Reopen();
  }
  // The run's writes through short-lived resultsets (extensions added, the
  // statistics written back) share the batch of the calls' own writes.
  rdo::CommitHold hold(*connection_);
  connection_->ShareRows(shared_run_);
  // Statistics written per call wait for the commit of the calls they count
  // where the engine chooses the commits: one write of each row changed per
  // transaction instead of one per call.
  const bool at_commit = tipo_aggiornamento_ == utImmediate && connection_->CommitOnFlush(true);
  const StatisticsAtCommit deferred(*this, impl_->statistics_at_commit, at_commit);
  try {
    RateStoredCalls();
  } catch (const ComponentError& e) {
    // As at the end of the run, the calls committed carry their statistics;
    // when that fails too, what is left goes back at the close.
    if (at_commit && !Refused(e)) {
      try {
        Commit(*this, *connection_, impl_->undo, true);
        connection_->CommitOnFlush(false);
      } catch (const ComponentError&) {
        // The failure that ended the run is the one reported.
      }
    }
    throw;
  }
  connection_->CommitOnFlush(false);

  CloseConnection();
  Events().Done();
  DoEvents();
}

void clsChiamate::RateStoredCalls() {
  bool mask[kMaskSize];
  BuildMask(operation_, mask);

  std::string clause = ExtractClause(filter_);
  std::int32_t count1 = 0, count2 = 0, total;
  if (!no_count_) {
    if (mask[22]) count1 = CountRows(*connection_, "SELECT COUNT(lpkid) FROM CHIAMATE " + clause);
    if (mask[23]) count2 = CountRows(*connection_, "SELECT COUNT(lpkid) FROM CHIAMATEINTERNE " + clause);
    total = count1 + count2;
  } else {
    total = kNoCountTotal;
  }
  WriteDetailLog("Totale chiamate da riprocessare " + std::to_string(total) + " - " + std::to_string(count1) + "/" +
                 std::to_string(count2));

  impl_->stopped_at.clear();
  try {
    if (mask[22] && (no_count_ || count1 > 0)) ProcessaChiamate(clause, total, mask, false, 1);
    if (mask[23] && (no_count_ || count2 >= 1)) ProcessaChiamate(clause, total, mask, true, count1 + 1);
  } catch (const ComponentError& e) {
    if (impl_->stopped_at.empty()) throw;
    throw ComponentError(e.Number(), impl_->stopped_at + ", " + e.Description(), e.Source());
  }

  bool written_back = impl_->statistics_at_commit;
  std::size_t extensions_unsaved = 0;
  if (tipo_aggiornamento_ == utBatch) {
    if (shared_run_) {
      // The other processes write back the same rows: one at a time, each
      // reading them as the one before it left them.
      Commit(*this, *connection_, impl_->undo);
      connection_->TakeTurn();
    }
    if (operation_.size() >= 14 && operation_[13] == '1') {
      if (Nominativi) Nominativi->SaveAll();
      if (Swings) Swings->SaveAll();
      written_back = true;
    }
    bool extensions = false;
    for (int p : {2, 3, 4, 5, 8, 10, 11, 12, 14, 17, 18}) extensions = extensions || mask[p];
    if (extensions && Derivati) extensions_unsaved = Derivati->SaveAll();
  }
  // Writes still held in the layer's batch are committed here, so that a
  // failure reaches the host instead of being lost at the close.
  Commit(*this, *connection_, impl_->undo, impl_->statistics_at_commit);
  // Totals written back that could not be written (a row other processes
  // kept changing, a write the database refused) are told.
  if (written_back && Nominativi && Nominativi->SaveStatus == ssUnsaved)
    SendWarningMsg("the call counts of some phone-book entries could not be written to table Rubrica");
  if (written_back && Swings && Swings->SaveStatus == ssUnsaved)
    SendWarningMsg("the totals of some swing numbers could not be written to table Swing");
  if (extensions_unsaved > 0)
    SendWarningMsg("the totals of " + std::to_string(extensions_unsaved) +
                   " extensions could not be written to table Derivati");
}

bool clsChiamate::ProcessaChiamate(const std::string& clause, std::int32_t total, const bool* mask, bool internal,
                                   std::int32_t first) {
  WriteDetailLog("ProcessaChiamate: Where = " + clause);
  std::string sql = std::string(internal ? "SELECT * FROM CHIAMATEINTERNE " : "SELECT * FROM CHIAMATE ") + clause;
  auto query = connection_->CreateQuery("", sql);
  long fetch = tipo_db_ == dbSql ? 500 : 10;
  query->SetTuning(0, 1);
  query->SetTuning(1, fetch);
  query->SetTuning(2, fetch);
  query->SetTuning(3, 0);
  WriteDetailLog("Apro il recordset delle chiamate");
  auto rs = query->OpenResultset(rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
  if (shared_run_) rs->SetRowsOwned();  // the other processes rate the other shards
  const bool oem_directory = OemKeyExists() && IsOem(kOemKelmora);
  // The least-cost searches of the calls ahead are worked out while the
  // engine rates the current one (where the rows are read ahead).
  if (!internal) {
    rs->SetRowPreparer(CallNotePreparer(Siti, NoteExtensions(Derivati.get()), *rs));
    impl_->noted_calls = rs.get();
    if (Nominativi && mask[14] && !oem_directory)
      rs->SetNotesTaken([book = Nominativi, swings = Swings](const std::vector<const rdo::RowNote*>& notes) {
        PrefetchNames(*book, swings.get(), notes);
      });
  }
  struct NotesEnd {
    Impl& impl;
    ~NotesEnd() { impl.noted_calls = nullptr; }
  } notes_end{*impl_};
  // An error that ends the run is told with the row it stopped on.
  struct RowOnError {
    Impl& impl;
    rdo::RdoResultset& rows;
    const char* table;
    const int exceptions = std::uncaught_exceptions();
    ~RowOnError() {
      if (std::uncaught_exceptions() <= exceptions) return;
      try {
        if (!rows.Eof()) impl.stopped_at = std::string(table) + ", row lPKId " + rows.Value("lPKId").ToText();
      } catch (...) {
        // The row cannot be named; the error itself still stops the run.
      }
    }
  } row_on_error{*impl_, *rs, internal ? "CHIAMATEINTERNE" : "CHIAMATE"};
  if (!(rs->Bof() && rs->Eof())) {
    WriteDetailLog("        Recordset non vuoto");
    auto call = std::make_shared<clsChiamata>();
    // The engine keeps the record for the host (Run) after the run.
    const RowsOf rows(*call, rs.get());
    call->Chiamate = this;
    call->NoUndo = no_undo_;
    call->OemDirectory = oem_directory;
    std::int32_t number = first;
    while (!rs->Eof() && !mbStop_) {
      DoEvents();
      // A call stopped, failed or not saved leaves nothing behind.
      CallUnit unit(*connection_, impl_->undo);
      bool saved = false;
      WriteDetailLog("################INIZIO CHIAMATA##################");
      const auto started = LogEnabled() ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
      call->Load();
      if (LogEnabled()) {
        WriteDetailLog("Dopo la load della chiamata");
        WriteDetailLog("DATA: " + dt::ToText(call->dData));
        WriteDetailLog("ORA:  " + dt::ToText(call->dOra));
        WriteDetailLog("NUM:  " + call->sNumero);
      }
      WriteDetailLog("Imposto l'oggetto moChiamata");
      mo_chiamata_ = call;
      RateLoadedCall(*this, *call, mask, internal);
      if (!mbStop_) {
        connection_->LastWriteOfUnit();  // the row's update, one statement
        saved = call->Save();
        if (saved) {
          ++calls_saved_;
          TallyRatedCall(*call, internal, mask[4]);
        }
        if (LogEnabled()) {
          auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
          WriteDetailLog("Save " + std::to_string(ms.count()));
        }
      }
      unit.End(saved);
      WriteDetailLog("Notifico all'interfaccia che è stata processata un'altra chiamata");
      std::int32_t done = number, all = total;
      Events().ProgressChange(done, all);
      DoEvents();
      rs->MoveNext();
      WriteDetailLog("Incremento il numero di chiamate processato");
      ++number;
      // No write lock is held while paused.
      if (mbPause_ || (impl_->statistics_at_commit && connection_->CommitDue()))
        Commit(*this, *connection_, impl_->undo, impl_->statistics_at_commit);
      while (mbPause_ && !mbStop_) DoEvents();
      DoEvents();
    }
  }
  rs->Close();
  Commit(*this, *connection_, impl_->undo, impl_->statistics_at_commit);
  query->Close();
  return true;
}

void clsChiamate::Run() {
  try {
    clsChiamata& c = *mo_chiamata_;
    // The statistics and an extension added for the call are kept only
    // when the call is rated to its end without a stop.
    const bool stopped_before = mbStop_;
    CallUnit unit(*connection_, impl_->undo);
    WriteDetailLog("Inizio processamento chiamate Tornel - Run: \r\n" + dt::ToText(c.dData) + " " + dt::ToText(c.dOra) +
                   " - " + c.sDerivato + " - " + c.sNumero);
    c.ResetIdentification();
    c.ForgetMemos();
    c.PrimoProc = true;
    c.OemDirectory = OemKeyExists() && IsOem(kOemKelmora);
    c.cCosto1_c = c.cCosto2_c = c.cTariffa_c = Money();
    for (std::string* s : {&c.sArea_c, &c.sCentroDiCosto_c, &c.sFasciaOraria_c, &c.sGiorno_c, &c.sNazione_c,
                           &c.sNome_c, &c.sNomeDerivato_c, &c.sCarrier1_c, &c.sCarrier2_c, &c.sReparto_c,
                           &c.sTipoDestinazione_c, &c.sReparto2_c, &c.sCentroDiCosto2_c, &c.sNomeGruppo})
      s->clear();
    c.sEsitoChiamata_c = "-";
    c.TempoComp = 0;
    c.dUTCTime = 0;
    c.CalcDate();
    struct Step {
      const char* log;
      void (*run)(clsChiamata&);
    };
    static const Step kSteps[] = {
        {"Inizio calcolo giorno", [](clsChiamata& x) { x.CalcGiorno(); }},
        {"Inizio Calcolo fascia", [](clsChiamata& x) { x.CalcFascia(); }},
        {"Inizio calcolo tariffa", [](clsChiamata& x) { x.CalcTariffa(); }},
        {"Inizio Calcolo costo 1", [](clsChiamata& x) { x.CalcCosto(tcCosto1); }},
        {"Inizio Costo 2", [](clsChiamata& x) { x.CalcCosto(tcCosto2); }},
        {"Inizio calcolo differenza", [](clsChiamata& x) { CalcDifferenza(x); CalcDifferenzaPerc(x); }},
        {"Inizio calcolo carrier 1", [](clsChiamata& x) { x.CalcCarrier1(); }},
        {"Inizio calcolo carrier 2", [](clsChiamata& x) { x.CalcCarrier2(); }},
        {"Inizio calc reparto", [](clsChiamata& x) { x.CalcReparto(); }},
        {"Inizio calc sedefisica", [](clsChiamata& x) { x.CalcSedefisica(); }},
        {"Inizio calcolo centro di costo", [](clsChiamata& x) { x.CalcCentroDiCosto(); }},
        {"Inizio calcolo derivato", [](clsChiamata& x) { x.CalcNomeDerivato(); }},
        {"Inizio tipo di dest", [](clsChiamata& x) { x.CalcTipoDest(); }},
        {"Inizio calc nome", [](clsChiamata& x) { x.CalcNome(); }},
        {"Inizio calc nazione", [](clsChiamata& x) { x.CalcNazione(); }},
        {"Inizio calc area", [](clsChiamata& x) { x.CalcArea(); }},
        {"Inizio calc commessa", [](clsChiamata& x) { x.CalcCommessa(); }},
        {"Inizio calc DaScartare", [](clsChiamata& x) { x.CalcDaScartare(); }},
    };
    constexpr std::size_t kYieldUpTo = 15;  // a yield follows every step up to CalcNazione
    for (std::size_t i = 0; i < std::size(kSteps); ++i) {
      WriteDetailLog(kSteps[i].log);
      kSteps[i].run(c);
      if (i < kYieldUpTo) DoEvents();
    }
    c.SetDateTimeFields();
    unit.End(stopped_before || !mbStop_);
    if (connection_->UnitsPending()) Commit(*this, *connection_, impl_->undo);
  } catch (const ComponentError& e) {
    if (Refused(e)) impl_->undo.Lost();
    errore_ = e.Description();
  } catch (const std::exception& e) {
    errore_ = e.what();
  }
}

}  // namespace ordalis
