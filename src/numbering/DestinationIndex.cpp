#include "numbering/DestinationIndex.h"

#include <bit>

#include "numbering/clsDestinazione.h"

namespace ordalis {

namespace {

// kRank[mask][d]: how many of the digits below d are in mask, the offset of
// digit d's child among its siblings (a table read is shorter on the
// lookup's dependency chain than a portable bit count).
struct RankTable {
  std::uint8_t rank[1024][10];
  constexpr RankTable() : rank{} {
    for (unsigned mask = 0; mask < 1024; ++mask)
      for (unsigned d = 0; d < 10; ++d) rank[mask][d] = static_cast<std::uint8_t>(std::popcount(mask & ((1u << d) - 1)));
  }
};
constexpr RankTable kRank;

}  // namespace

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::uint32_t DestinationIndex::NewNode() {
  Node node;
  for (auto& d : node.digit) d = 0;
  node.best = kNone;
  nodes_.push_back(node);
  return static_cast<std::uint32_t>(nodes_.size() - 1);
}

std::uint32_t DestinationIndex::Child(std::uint32_t node, unsigned char c) const {
  if (c >= '0' && c <= '9') return nodes_[node].digit[c - '0'];
  if (other_.empty()) return 0;
  auto it = other_.find((static_cast<std::uint64_t>(node) << 8) | c);
  return it == other_.end() ? 0 : it->second;
}

std::uint32_t DestinationIndex::ChildOrNew(std::uint32_t node, unsigned char c) {
  if (std::uint32_t existing = Child(node, c)) return existing;
  std::uint32_t created = NewNode();
  if (c >= '0' && c <= '9')
    nodes_[node].digit[c - '0'] = created;
  else
    other_.emplace((static_cast<std::uint64_t>(node) << 8) | c, created);
  return created;
}

void DestinationIndex::Insert(std::uint32_t root, std::string_view path, std::uint32_t entry) {
  std::uint32_t node = root;
  for (unsigned char c : path) node = ChildOrNew(node, c);
  // Entries arrive in collection order: an equal rank never displaces the
  // one already there.
  std::uint32_t& best = nodes_[node].best;
  if (best == kNone || entries_[entry].rank > entries_[best].rank) best = entry;
}

void DestinationIndex::Build(const KeyedCollection<clsDestinazione>& destinations) {
  nodes_.clear();
  entries_.clear();
  other_.clear();
  domestic_roots_.clear();
  nodes_.reserve(destinations.Count() * 2 + 1);
  entries_.reserve(destinations.Count());
  international_root_ = NewNode();

  std::uint32_t position = 0;
  std::string path;
  for (const auto& destination : destinations) {
    const std::uint32_t pos = position++;
    if (!destination) continue;
    const auto rank = static_cast<std::uint32_t>(Utf8Length(destination->Key));
    // The linear match needs a Key strictly longer than 0 to take a candidate.
    if (rank == 0) continue;
    const auto entry = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back({rank, pos, destination});

    if (destination->PrefArea == "-") {
      Insert(international_root_, destination->PrefNaz, entry);
    } else {
      path.assign(destination->PrefNaz).append(destination->PrefArea);
      Insert(international_root_, path, entry);
    }

    auto [it, inserted] = domestic_roots_.try_emplace(destination->PrefNaz, 0);
    if (inserted) it->second = NewNode();
    Insert(it->second, destination->PrefArea, entry);
  }
  Compact();
}

void DestinationIndex::Compact() {
  compact_.clear();
  compact_.reserve(nodes_.size());
  std::vector<std::uint32_t> order;  // build-time node of each compact node
  order.reserve(nodes_.size());
  std::unordered_map<std::uint64_t, std::uint32_t> other;
  // Non-digit children of each build-time node, found once.
  std::unordered_map<std::uint32_t, std::vector<std::pair<unsigned char, std::uint32_t>>> others_of;
  for (const auto& [k, child] : other_)
    others_of[static_cast<std::uint32_t>(k >> 8)].push_back({static_cast<unsigned char>(k & 0xFF), child});

  // A node keeps the best destination of its whole path from the root, so
  // that a walk only has to read the last node it reaches.
  auto better = [&](std::uint32_t a, std::uint32_t b) {
    if (a == kNone) return b;
    if (b == kNone) return a;
    const Entry& x = entries_[a];
    const Entry& y = entries_[b];
    return x.rank > y.rank || (x.rank == y.rank && x.position < y.position) ? a : b;
  };
  auto place = [&](std::uint32_t old, std::uint32_t path_best) {
    compact_.push_back({0, better(path_best, nodes_[old].best), 0});
    order.push_back(old);
    return static_cast<std::uint32_t>(compact_.size() - 1);
  };
  international_root_ = place(international_root_, kNone);
  for (auto& [naz, root] : domestic_roots_) root = place(root, kNone);
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Node& old = nodes_[order[i]];
    const std::uint32_t path_best = compact_[i].best;
    std::uint32_t first = static_cast<std::uint32_t>(compact_.size());
    std::uint16_t mask = 0;
    for (int d = 0; d < 10; ++d) {
      if (!old.digit[d]) continue;
      mask = static_cast<std::uint16_t>(mask | (1u << d));
      place(old.digit[d], path_best);
    }
    compact_[i].first_child = first;
    compact_[i].mask = mask;
    if (auto it = others_of.find(order[i]); it != others_of.end())
      for (const auto& [c, child] : it->second)
        other.emplace((static_cast<std::uint64_t>(i) << 8) | c, place(child, path_best));
  }
  other_ = std::move(other);
  nodes_.clear();
  nodes_.shrink_to_fit();
}

std::uint32_t DestinationIndex::Walk(std::uint32_t root, std::string_view text) const {
  std::uint32_t node = root;
  for (unsigned char c : text) {
    const CompactNode& n = compact_[node];
    const unsigned d = static_cast<unsigned>(c) - '0';
    if (d < 10) {
      if (!(n.mask & (1u << d))) break;
      node = n.first_child + kRank.rank[n.mask][d];
    } else {
      if (other_.empty()) break;
      auto it = other_.find((static_cast<std::uint64_t>(node) << 8) | c);
      if (it == other_.end()) break;
      node = it->second;
    }
  }
  return compact_[node].best;
}

const std::shared_ptr<clsDestinazione>* DestinationIndex::Find(std::string_view number, std::string_view pref_naz,
                                                               std::string_view pref_int) const {
  if (compact_.empty()) return nullptr;
  std::uint32_t best;
  if (number.starts_with(pref_int)) {
    best = Walk(international_root_, number);
  } else {
    auto it = domestic_roots_.find(std::string(pref_naz));
    if (it == domestic_roots_.end()) return nullptr;
    best = Walk(it->second, number);
  }
  return best == kNone ? nullptr : &entries_[best].destination;
}

}  // namespace ordalis
