#pragma once
// TextSet: a set of texts in one flat table, for look-ups that must touch
// as little memory as possible: a text of up to kInline bytes lives in its
// slot, so finding it reads one slot (longer texts are kept aside).
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace ordalis {

class TextSet {
 public:
  bool Contains(std::string_view text) const;
  void Insert(std::string_view text);
  void Clear();
  std::size_t Size() const { return size_ + long_.size(); }

 private:
  static constexpr std::size_t kInline = 22;
  struct Slot {
    std::uint64_t hash = 0;  // 0: free
    std::uint8_t length = 0;
    char text[kInline + 1];
  };
  static std::uint64_t Hash(std::string_view text);
  const Slot* Find(std::string_view text, std::uint64_t hash) const;
  void Grow();

  std::vector<Slot> slots_;  // a power of two of them, at most half used
  std::size_t size_ = 0;
  std::unordered_set<std::string> long_;
};

}  // namespace ordalis
