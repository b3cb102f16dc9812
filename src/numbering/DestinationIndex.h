#pragma once
// DestinationIndex: the prefix index behind clsDestinazioni::GetDestinazioneMigliore.
//
// It returns exactly what the linear best-destination match returns (visit
// every destination in collection order; a candidate replaces the best only
// when its Key is strictly longer, in characters), at a cost proportional to
// the length of the number instead of the size of the collection:
//
//  - international numbers (those beginning with the international prefix,
//    every number when that prefix is empty) walk one trie holding, for each
//    destination, PrefNaz + PrefArea, or PrefNaz alone when the area is "-"
//    (the whole-country destination, a candidate as soon as the number
//    begins with its country prefix);
//  - domestic numbers walk the trie of the caller's country prefix, holding
//    each PrefArea of the destinations whose PrefNaz equals it exactly ("-"
//    is an ordinary character there). An empty PrefArea sits on the root and
//    so matches every number.
//
// Every node on the walked path is a matching prefix; the best destination
// (longest Key, then first in collection order) among those of the nodes
// from the root down to a node is computed once at build time and kept in
// that node, so a lookup reads it from the last node it reaches. Prefixes compare byte by byte, which for
// UTF-8 text is the same as character by character.
//
// Layout: the tries are built with ten child slots per node, then laid out
// breadth first in 12-byte nodes whose digit children sit side by side (a
// 10-bit mask says which digits exist; the child is first_child plus the
// number of lower digits present). The top levels, which every lookup
// visits, share a few cache lines, and a 100,000-destination plan takes
// about 1.5 MB instead of 5.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ordalis/KeyedCollection.h"

namespace ordalis {

class clsDestinazione;

class DestinationIndex {
 public:
  // Replaces the content with an index of the collection as it is now.
  // The members must not be changed in place while the index is used.
  void Build(const KeyedCollection<clsDestinazione>& destinations);

  // The best destination, or null. The pointer stays valid until the next Build.
  const std::shared_ptr<clsDestinazione>* Find(std::string_view number, std::string_view pref_naz,
                                               std::string_view pref_int) const;

  std::size_t NodeCount() const { return compact_.size(); }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  struct Node {
    std::uint32_t digit[10];  // children for '0'..'9'; 0 is "no child" (no node points at node 0)
    std::uint32_t best;       // entries_ index, kNone when no destination ends here
  };
  struct Entry {
    std::uint32_t rank;      // length of Key in characters
    std::uint32_t position;  // position in the collection (0-based)
    std::shared_ptr<clsDestinazione> destination;
  };

  struct CompactNode {
    std::uint32_t first_child;  // index of the lowest digit child
    std::uint32_t best;         // best entry on the path from the root to here, or kNone
    std::uint16_t mask;         // bit d: digit d has a child
  };

  std::uint32_t NewNode();
  // Lays the build-time tries out breadth first into compact_.
  void Compact();
  std::uint32_t Child(std::uint32_t node, unsigned char c) const;
  std::uint32_t ChildOrNew(std::uint32_t node, unsigned char c);
  void Insert(std::uint32_t root, std::string_view path, std::uint32_t entry);
  // Best entry along the path of text from root, kNone when none.
  std::uint32_t Walk(std::uint32_t root, std::string_view text) const;

  std::vector<Node> nodes_;
  std::vector<Entry> entries_;
  // Children for characters other than the ten digits: (node << 8 | byte).
  // While building they refer to nodes_, afterwards to compact_.
  std::unordered_map<std::uint64_t, std::uint32_t> other_;
  std::uint32_t international_root_ = 0;
  std::unordered_map<std::string, std::uint32_t> domestic_roots_;
  std::vector<CompactNode> compact_;
};

// Length of a UTF-8 text in characters (bytes that do not continue a sequence).
std::size_t Utf8Length(std::string_view text);

}  // namespace ordalis
