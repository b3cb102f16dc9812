#pragma once
// ChunkedSave: what the statistics caches (phone book, swing numbers) share:
// adding a member fetched on first use, saving one member, and writing back
// every member. Members with a row are written through one cursor per
// chunk of identities, and members without a row yet are added through one
// more, so that their writes share the data layer's transactions; members
// neither reached (deleted by others, a chunk that could not be read, a row
// that could not be added) then go through the single-member save, in
// collection order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsNominativo.h"

namespace ordalis {

// Writes one member over its row (found by its identity), or adds a row when
// it has none and takes the new row's identity; write(rs, member, inserting)
// sets the columns. False (nothing written) on any failure.
template <class T, class Write>
bool SaveMember(rdo::RdoConnection& connection, const std::string& table, T& member, const std::string& number,
                Write&& write) {
  try {
    // The key as a value: the statements stay prepared from one save to the next.
    const std::string key = std::to_string(member.PKId);
    auto rs = connection.OpenResultset("SELECT * FROM " + table + " WHERE lPKId=?", {key}, rdo::CursorType::Keyset,
                                       rdo::LockType::OptimisticRowVer);
    const bool inserting = rs->Eof();
    const std::string highest =
        inserting ? QueryFirstValue("SELECT MAX(lPKId) FROM " + table, connection) : std::string();
    write(*rs, member, inserting);
    rs->Close();
    if (inserting) member.PKId = NuovoPKId(connection, table, number, highest);
    return true;
  } catch (const std::exception&) {
    return false;
  }
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

// write(rs, member, inserting) writes a member over the current row or as
// a new one; number is the member's number; save(member) saves one member
// alone and reports success. Returns the members that could not be written.
template <class T, class Write, class Save>
std::size_t SaveInChunks(rdo::RdoConnection& connection, const std::string& table, const KeyedCollection<T>& members,
                         const std::string T::*number, Write&& write, Save&& save) {
  constexpr std::size_t kChunk = 500;
  std::size_t failed = 0;
  std::unordered_set<const T*> handled;
  std::vector<T*> stored;
  for (const auto& m : members)
    if (m->PKId > 0) stored.push_back(m.get());
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
          ++failed;
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
      for (T* m : fresh) {
        try {
          write(*rs, *m, true);
        } catch (const std::exception&) {
          rs->CancelUpdate();
          continue;  // saved alone below
        }
        handled.insert(m);  // the row is in: never added twice
        try {
          m->PKId = NuovoPKId(connection, table, m->*number, highest);
        } catch (const std::exception&) {
          ++failed;
        }
      }
      rs->Close();
    } catch (const std::exception&) {
      // What was not added is saved alone below.
    }
  }
  for (const auto& m : members)
    if (!handled.count(m.get()) && !save(*m)) ++failed;
  return failed;
}

}  // namespace ordalis
