#pragma once
// NumberLookAhead: what a table keyed by sNumero is known to hold, for a
// connection where each look-up is a round trip to a server:
// - the numbers it did not have, as long as the connection's TableStamp of
//   the table stays the same (a connection that cannot tell keeps none);
// - rows fetched together for the numbers a block of calls will ask for,
//   and the numbers found without one or already known missing, held until
//   the next Prefetch (a block's worth of calls: a number added meanwhile by
//   another session is found from the next block on).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "support/TextSet.h"

namespace ordalis {

template <class Entry>
class NumberLookAhead {
 public:
  explicit NumberLookAhead(std::string table) : table_(std::move(table)) {}

  // The row of `number` read by itself with `read` (a row to an entry);
  // null when the table does not have it or is known not to (no statement
  // then). Statement failures reach the caller.
  template <class Read>
  std::shared_ptr<Entry> Fetch(rdo::RdoConnection& connection, std::string_view number, Read read) {
    if (missing_ahead_.Contains(number) || (Stamp(connection) && missing_.Contains(number))) return nullptr;
    auto rs = connection.OpenResultset("SELECT * FROM " + table_ + " WHERE sNumero=?", {number});
    if (rs->Eof()) {
      rs->Close();
      if (Stamp(connection)) missing_.Insert(number);
      return nullptr;
    }
    std::shared_ptr<Entry> entry = read(*rs);
    rs->Close();
    return entry;
  }

  // Fetches the rows of those of `numbers` neither `known` nor missing,
  // reading each with `read` (a row to an entry) and keying it by
  // `number_of` (an entry to its number). Statement failures reach the
  // caller.
  template <class Known, class Read, class NumberOf>
  void Prefetch(rdo::RdoConnection& connection, const std::vector<std::string_view>& numbers, Known known, Read read,
                NumberOf number_of) {
    Clear();
    if (!Stamp(connection)) return;
    std::vector<std::string_view> wanted;
    TextSet seen;
    for (std::string_view number : numbers) {
      if (number.empty() || seen.Contains(number) || known(number)) continue;
      seen.Insert(number);
      if (missing_.Contains(number)) {
        // Still missing for this block when the stamp ages within it.
        missing_ahead_.Insert(number);
        continue;
      }
      wanted.push_back(number);
    }
    // One statement text, prepared once: a short last chunk repeats a number.
    constexpr std::size_t kChunk = 200;
    std::string sql = "SELECT * FROM " + table_ + " WHERE sNumero IN (?";
    for (std::size_t i = 1; i < kChunk; ++i) sql += ",?";
    sql += ")";
    for (std::size_t first = 0; first < wanted.size(); first += kChunk) {
      const std::size_t end = std::min(wanted.size(), first + kChunk);
      std::vector<std::string_view> values(wanted.begin() + static_cast<std::ptrdiff_t>(first),
                                           wanted.begin() + static_cast<std::ptrdiff_t>(end));
      values.resize(kChunk, values.front());
      auto rs = connection.OpenResultset(sql, values);
      for (; !rs->Eof(); rs->MoveNext()) {
        std::shared_ptr<Entry> entry = read(*rs);
        std::string number = number_of(*entry);
        ahead_.try_emplace(std::move(number), std::move(entry));
      }
      rs->Close();
      for (std::size_t i = first; i < end; ++i)
        if (!ahead_.count(std::string(wanted[i]))) {
          missing_ahead_.Insert(wanted[i]);
          missing_.Insert(wanted[i]);
        }
    }
  }

  // The row fetched ahead for `number`, taken out; null when there is none.
  std::shared_ptr<Entry> Take(std::string_view number) {
    auto it = ahead_.find(std::string(number));
    if (it == ahead_.end()) return nullptr;
    std::shared_ptr<Entry> entry = std::move(it->second);
    ahead_.erase(it);
    return entry;
  }
  void Clear() {
    ahead_.clear();
    missing_ahead_.Clear();
  }

 private:
  // The connection's stamp of the table, with missing_ forgotten when it
  // was filled under another (or is full); none: the connection cannot
  // tell, and missing_ does not count.
  std::optional<std::uint64_t> Stamp(rdo::RdoConnection& connection) {
    const std::optional<std::uint64_t> stamp = connection.TableStamp(table_);
    constexpr std::size_t kMostMissing = 100000;
    if (stamp && (*stamp != stamp_ || missing_.Size() >= kMostMissing)) {
      missing_.Clear();
      stamp_ = *stamp;
    }
    return stamp;
  }

  std::string table_;
  // The last Prefetch's rows not taken yet, and the numbers it did not find
  // or knew missing: both as they were when it ran, until the next.
  std::unordered_map<std::string, std::shared_ptr<Entry>> ahead_;
  TextSet missing_ahead_;
  TextSet missing_;  // numbers found missing under stamp_
  std::uint64_t stamp_ = 0;
};

}  // namespace ordalis
