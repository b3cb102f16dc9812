#include "numbering/DestinationIndex.h"

#include "numbering/clsDestinazione.h"

namespace ordalis {

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
}

std::uint32_t DestinationIndex::Walk(std::uint32_t root, std::string_view text) const {
  std::uint32_t best = nodes_[root].best;
  std::uint32_t node = root;
  for (unsigned char c : text) {
    node = Child(node, c);
    if (node == 0) break;
    const std::uint32_t here = nodes_[node].best;
    if (here == kNone) continue;
    if (best == kNone) {
      best = here;
      continue;
    }
    const Entry& a = entries_[here];
    const Entry& b = entries_[best];
    if (a.rank > b.rank || (a.rank == b.rank && a.position < b.position)) best = here;
  }
  return best;
}

const std::shared_ptr<clsDestinazione>* DestinationIndex::Find(std::string_view number, std::string_view pref_naz,
                                                               std::string_view pref_int) const {
  if (nodes_.empty()) return nullptr;
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
