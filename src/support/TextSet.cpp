#include "support/TextSet.h"

#include <cstring>
#include <functional>

namespace ordalis {

std::uint64_t TextSet::Hash(std::string_view text) {
  const std::uint64_t h = std::hash<std::string_view>()(text);
  return h ? h : 1;
}

const TextSet::Slot* TextSet::Find(std::string_view text, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.hash == 0) return &slot;
    if (slot.hash == hash && slot.length == text.size() && std::memcmp(slot.text, text.data(), text.size()) == 0)
      return &slot;
  }
}

bool TextSet::Contains(std::string_view text) const {
  if (text.size() > kInline) return long_.count(std::string(text)) > 0;
  return !slots_.empty() && Find(text, Hash(text))->hash != 0;
}

void TextSet::Insert(std::string_view text) {
  if (text.size() > kInline) {
    long_.emplace(text);
    return;
  }
  if ((size_ + 1) * 2 > slots_.size()) Grow();
  const std::uint64_t hash = Hash(text);
  Slot& slot = const_cast<Slot&>(*Find(text, hash));
  if (slot.hash != 0) return;
  slot.hash = hash;
  slot.length = static_cast<std::uint8_t>(text.size());
  std::memcpy(slot.text, text.data(), text.size());
  ++size_;
}

void TextSet::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.hash == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].hash != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void TextSet::Clear() {
  if (size_) slots_.assign(slots_.size(), Slot{});
  size_ = 0;
  long_.clear();
}

}  // namespace ordalis
