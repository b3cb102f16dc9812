#pragma once
// State of the engine that the host does not see.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ordalis/clsChiamate.h"
#include "reference/CallUndo.h"
#include "support/CacheErrorSink.h"

namespace ordalis {

namespace rdo {
class RdoResultset;
}  // namespace rdo

struct clsChiamate::Impl {
  // Reports of AddToCollection go to the engine's error state.
  struct Sink : CacheErrorSink {
    explicit Sink(clsChiamate& e) : engine(e) {}
    bool UsoRiproc() const override { return engine.UsoRiproc(); }
    void SetErrore(const std::string& d) override { engine.set_Errore(d); }
    void SetCacheStopped(bool v) override { engine.set_CacheStopped(v); }
    clsChiamate& engine;
  };
  explicit Impl(clsChiamate& e) : sink(e) {}
  Sink sink;

  // Failure messages of the caches, ids 20501..20519.
  std::array<std::string, 19> messages;
  // Display names of the caches for CacheChange.
  std::string calendar, destinations, sites, groups, carriers, lcr, phonebook, swing, extensions, account, stat,
      currency, timezone;

  // The calls resultset of a batch run whose rows are prepared ahead from
  // the reference data: a reload stops that first (StopCallNotes).
  rdo::RdoResultset* noted_calls = nullptr;

  // The statistics moved by calls whose writes are not committed yet.
  CallUndo undo;
  // In a batch run whose statistics are written per call, on a connection
  // whose commits the engine chooses: the phone-book entries and swing
  // numbers wait in memory and are written just before each commit, into
  // the transaction of the calls they count.
  bool statistics_at_commit = false;
  // "<table>, row lPKId <key>": the row an error ended the batch run on.
  std::string stopped_at;

  // The last batch run's tally per call table.
  std::array<clsChiamate::RunTally, 2> tally{};

  // Per row of the last comparison grid: the calls it could not price.
  std::vector<std::int32_t> unpriced;
};

}  // namespace ordalis
