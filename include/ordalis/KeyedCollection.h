#pragma once
// KeyedCollection: the ordered collection every cache keeps its members in.
// Members are indexed from 1 and optionally stored under a text key; keys
// compare without regard to letter case (ASCII and Latin-1 letters in UTF-8).
// Lookup by key is O(1) on average; removal is O(n).
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ordalis/ComponentError.h"
#include "ordalis/Export.h"

namespace ordalis {

// Folds a UTF-8 text for case-insensitive comparison: ASCII A-Z and the
// Latin-1 capitals U+00C0..U+00DE (but U+00D7) become small letters.
ORDALIS_API std::string FoldKey(std::string_view text);
// Case-insensitive equality with the same folding.
ORDALIS_API bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether text begins with prefix, compared the same way.
ORDALIS_API bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// A hash of the folded text, computed without building it.
ORDALIS_API std::size_t FoldedHash(std::string_view text);

// Hash and equality of keys under the folding; they look texts up without
// a copy.
struct FoldedKeyHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return FoldedHash(text); }
};
struct FoldedKeyEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return EqualsNoCase(a, b); }
};

[[noreturn]] ORDALIS_API void ThrowMissingMember();
[[noreturn]] ORDALIS_API void ThrowDuplicateKey();

template <class T>
class KeyedCollection {
 public:
  using Ptr = std::shared_ptr<T>;

  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }

  // Adds at the end. Throws error 457 when the key (non-empty) is present.
  void Add(Ptr item, std::string_view key = {}) {
    if (!key.empty()) {
      auto [it, inserted] = index_.try_emplace(std::string(key), item);
      if (!inserted) ThrowDuplicateKey();
    }
    items_.push_back({std::move(item), std::string(key)});
  }

  // 1-based index; throws error 5 when out of range.
  const Ptr& Item(std::size_t index) const {
    if (index < 1 || index > items_.size()) ThrowMissingMember();
    return items_[index - 1].item;
  }
  // Throws error 5 when the key is missing.
  const Ptr& Item(std::string_view key) const {
    auto it = index_.find(key);
    if (it == index_.end()) ThrowMissingMember();
    return it->second;
  }
  // Null when the key is missing (the non-throwing look-up).
  Ptr Find(std::string_view key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : it->second;
  }
  bool Contains(std::string_view key) const { return index_.count(key) != 0; }

  void Remove(std::size_t index) {
    if (index < 1 || index > items_.size()) ThrowMissingMember();
    if (!items_[index - 1].key.empty()) {
      auto it = index_.find(std::string_view(items_[index - 1].key));
      if (it != index_.end()) index_.erase(it);
    }
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index - 1));
  }
  void Remove(std::string_view key) {
    auto it = index_.find(key);
    if (it == index_.end()) ThrowMissingMember();
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].item == it->second && !items_[i].key.empty() && EqualsNoCase(items_[i].key, key)) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    index_.erase(it);
  }
  void Clear() {
    items_.clear();
    index_.clear();
  }
  void Reserve(std::size_t n) {
    items_.reserve(n);
    index_.reserve(n);
  }

  // The key a member was added under (1-based index).
  const std::string& KeyAt(std::size_t index) const {
    if (index < 1 || index > items_.size()) ThrowMissingMember();
    return items_[index - 1].key;
  }

  // Iteration in order over the members.
  auto begin() const { return MemberIterator{items_.begin()}; }
  auto end() const { return MemberIterator{items_.end()}; }

 private:
  struct Entry {
    Ptr item;
    std::string key;
  };
  struct MemberIterator {
    typename std::vector<Entry>::const_iterator it;
    const Ptr& operator*() const { return it->item; }
    MemberIterator& operator++() { ++it; return *this; }
    bool operator!=(const MemberIterator& o) const { return it != o.it; }
    bool operator==(const MemberIterator& o) const { return it == o.it; }
  };

  std::vector<Entry> items_;
  std::unordered_map<std::string, Ptr, FoldedKeyHash, FoldedKeyEqual> index_;
};

}  // namespace ordalis
