#include "ordalis/KeyedCollection.h"

namespace ordalis {

namespace {

// Folds one byte of a UTF-8 text: ASCII capitals, and the Latin-1 capitals
// U+00C0..U+00DE (but U+00D7), whose second byte 80..9E follows a C3 lead,
// become small letters. `after_lead` carries the state from byte to byte.
char FoldByte(char byte, bool& after_lead) {
  unsigned char c = static_cast<unsigned char>(byte);
  if (after_lead) {
    after_lead = false;
    return c >= 0x80 && c <= 0x9E && c != 0x97 ? static_cast<char>(c + 0x20) : byte;
  }
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c + 32);
  after_lead = c == 0xC3;
  return byte;
}

}  // namespace

std::string FoldKey(std::string_view text) {
  std::string out(text);
  bool after_lead = false;
  for (char& c : out) c = FoldByte(c, after_lead);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  bool lead_a = false, lead_b = false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldByte(a[i], lead_a) != FoldByte(b[i], lead_b)) return false;
  return true;
}

std::size_t FoldedHash(std::string_view text) {
  std::size_t h = 14695981039346656037ull;  // FNV-1a
  bool after_lead = false;
  for (char c : text) {
    h ^= static_cast<unsigned char>(FoldByte(c, after_lead));
    h *= 1099511628211ull;
  }
  return h;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return prefix.size() <= text.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

void ThrowMissingMember() { throw ComponentError(kErrInvalidCall, "Invalid procedure call or argument"); }
void ThrowDuplicateKey() {
  throw ComponentError(kErrDuplicateKey, "This key is already associated with an element of this collection");
}

}  // namespace ordalis
