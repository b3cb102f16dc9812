#pragma once
// ChunkedSave: what the statistics caches (phone book, swing numbers) share:
// adding a member fetched on first use, saving one member, and writing back
// every member. A save adds to a row what its member gained since this
// process last read or wrote it, so that processes rating one database
// together keep each other's counts. Members with a row are written through
// one cursor per chunk of identities, and members without a row yet are
// added through one more, so that their writes share the data layer's
// transactions; members neither reached (deleted by others, a chunk that
// could not be read, a row that could not be written or added) then go
// through the single-member save, in collection order.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsNominativo.h"

namespace ordalis {

// Whether two date-times fall in the same second (what a row stores).
inline bool StessoSecondo(DateTime a, DateTime b) { return std::llround(a * 86400.0) == std::llround(b * 86400.0); }

// The last call's date and time to write over a row that now holds
// `riga_data`/`riga_ora` and held `letto_data`/`letto_ora` when this process
// last read or wrote it; `data`/`ora` hold memory's on entry and the values
// to write on return. A row nobody else changed takes memory's values. A
// row another process changed keeps the later date; it takes memory's time
// when this process met a call since and that call is not earlier than the
// row's last one.
inline void UnisciUltimaChiamata(DateTime riga_data, DateTime riga_ora, DateTime letto_data, DateTime letto_ora,
                                 DateTime& data, DateTime& ora) {
  if (StessoSecondo(riga_data, letto_data) && StessoSecondo(riga_ora, letto_ora)) return;
  const bool nuova = !StessoSecondo(data, letto_data) || !StessoSecondo(ora, letto_ora);
  if (!(nuova && NonPrecedente(data, ora, riga_data, riga_ora))) ora = riga_ora;
  if (riga_data > data) data = riga_data;
}

// Writes one member over its row (found by its identity), or adds a row when
// it has none and takes the new row's identity; write(rs, member, inserting)
// sets the columns. A failed write (the row changed by another process since
// it was read, the database held by another writer, a row of the same
// number added meanwhile under a unique key) is tried again, reading the row
// afresh; a retry finds a member without identity by its number. False
// (nothing written) when every attempt failed.
template <class T, class Write>
bool SaveMember(rdo::RdoConnection& connection, const std::string& table, T& member, const std::string& number,
                Write&& write) {
  constexpr int kAttempts = 10;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    try {
      if (attempt > 1 && member.PKId <= 0 && !number.empty()) {
        const std::string id = QueryFirstValue("SELECT MIN(lPKId) FROM " + table + " WHERE sNumero=?", {number},
                                               connection);
        if (!id.empty()) member.PKId = ContatoreDaColonna(Variant(id));
      }
      // The key as a value: the statements stay prepared from one save to the next.
      const std::string key = std::to_string(member.PKId);
      auto rs = connection.OpenResultset("SELECT * FROM " + table + " WHERE lPKId=?", {key},
                                         rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
      const bool inserting = rs->Eof();
      const std::string highest =
          inserting ? QueryFirstValue("SELECT MAX(lPKId) FROM " + table, connection) : std::string();
      try {
        write(*rs, member, inserting);
      } catch (...) {
        rs->CancelUpdate();
        throw;
      }
      rs->Close();
      if (inserting) {
        // The row is in: never written again by a retry, whatever follows.
        try {
          member.PKId = NuovoPKId(connection, table, number, highest);
        } catch (const std::exception&) {
          return false;
        }
      }
      return true;
    } catch (const ComponentError& e) {
      if (e.Number() == kErrOverflow) return false;
      if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
    } catch (const std::exception&) {
      return false;
    }
  }
  return false;
}

// Adds a member fetched from the table on first use. A number already in
// the collection keeps its member; any other failure is recorded in the
// engine (Errore, CacheStopped) unless UsoRiproc, and raised in every case.
template <class T>
void AddFetched(KeyedCollection<T>& members, std::shared_ptr<T> member, const std::string& key, clsChiamate& engine) {
  member->Key = key;
  try {
    members.Add(std::move(member), key);
  } catch (const ComponentError& e) {
    if (e.Number() == kErrDuplicateKey) return;
    if (!engine.UsoRiproc()) {
      engine.set_Errore(e.Description());
      engine.set_CacheStopped(true);
    }
    throw;
  }
}

// The identities of the rows just added for `added` (as NuovoPKId gives
// them): read together, and one by one for a member they do not give (no
// number, or the statement failed); returns how many were not found.
template <class T>
std::size_t TakeNewIdentities(rdo::RdoConnection& connection, const std::string& table, const std::vector<T*>& added,
                              const std::string T::*number, const std::string& highest) {
  std::unordered_map<std::string, std::int32_t> ids;
  try {
    std::vector<std::string_view> bound;
    const std::string above = highest.empty() ? "" : std::to_string(ContatoreDaColonna(Variant(highest)));
    if (!above.empty()) bound.push_back(above);
    auto rs = connection.OpenResultset("SELECT sNumero, MIN(lPKId) FROM " + table +
                                           (above.empty() ? "" : " WHERE lPKId>?") + " GROUP BY sNumero",
                                       bound);
    for (; !rs->Eof(); rs->MoveNext())
      if (!rs->Value(0).IsNull()) ids.emplace(rs->Value(0).ToText(), ContatoreDaColonna(rs->Value(1)));
    rs->Close();
  } catch (const std::exception&) {
    ids.clear();
  }
  std::size_t missing = 0;
  for (T* m : added) {
    try {
      auto it = (m->*number).empty() ? ids.end() : ids.find(m->*number);
      m->PKId = it != ids.end() ? it->second : NuovoPKId(connection, table, m->*number, highest);
    } catch (const std::exception&) {
      ++missing;
    }
  }
  return missing;
}

// write(rs, member, inserting) writes a member over the current row or as
// a new one; number is the member's number; save(member) saves one member
// alone and reports success. With changed_only, members with a row are
// written only when they changed since (T::Changed). Returns the members
// that could not be written.
template <class T, class Write, class Save>
std::size_t SaveInChunks(rdo::RdoConnection& connection, const std::string& table, const KeyedCollection<T>& members,
                         const std::string T::*number, Write&& write, Save&& save, bool changed_only = false) {
  constexpr std::size_t kChunk = 500;
  std::size_t failed = 0;
  std::unordered_set<const T*> handled;
  std::vector<T*> stored;
  for (const auto& m : members)
    if (m->PKId > 0) {
      if (changed_only && !m->Changed())
        handled.insert(m.get());
      else
        stored.push_back(m.get());
    }
  for (std::size_t first = 0; first < stored.size(); first += kChunk) {
    const std::size_t last = std::min(stored.size(), first + kChunk);
    std::unordered_map<std::int32_t, T*> by_id;
    std::string ids;
    for (std::size_t i = first; i < last; ++i) {
      if (!by_id.emplace(stored[i]->PKId, stored[i]).second) continue;  // a repeated identity: saved alone
      if (!ids.empty()) ids += ',';
      ids += std::to_string(stored[i]->PKId);
    }
    try {
      auto rs = connection.OpenResultset("SELECT * FROM " + table + " WHERE lPKId IN (" + ids + ")",
                                         rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
      const int id_column = rs->ColumnIndex("lPKId");
      for (; !rs->Eof(); rs->MoveNext()) {
        auto it = by_id.find(ContatoreDaColonna(rs->Value(id_column)));
        if (it == by_id.end() || !handled.insert(it->second).second) continue;
        try {
          write(*rs, *it->second, false);
        } catch (const std::exception&) {
          rs->CancelUpdate();
          handled.erase(it->second);  // saved alone below, reading its row again
        }
      }
      rs->Close();
    } catch (const std::exception&) {
      // What the chunk did not reach is saved alone below.
    }
  }
  std::vector<T*> fresh;
  for (const auto& m : members)
    if (m->PKId <= 0) fresh.push_back(m.get());
  if (!fresh.empty()) {
    try {
      const std::string highest = QueryFirstValue("SELECT MAX(lPKId) FROM " + table, connection);
      auto rs = connection.OpenResultset("SELECT * FROM " + table + " WHERE 1 = 0", rdo::CursorType::Keyset,
                                         rdo::LockType::OptimisticRowVer);
      std::vector<T*> added;
      for (T* m : fresh) {
        try {
          write(*rs, *m, true);
        } catch (const std::exception&) {
          rs->CancelUpdate();
          continue;  // saved alone below
        }
        handled.insert(m);  // the row is in: never added twice
        added.push_back(m);
      }
      rs->Close();
      failed += TakeNewIdentities(connection, table, added, number, highest);
    } catch (const std::exception&) {
      // What was not added is saved alone below.
    }
  }
  for (const auto& m : members)
    if (!handled.count(m.get()) && !save(*m)) ++failed;
  return failed;
}

}  // namespace ordalis
