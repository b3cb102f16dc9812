#include "ordalis/KeyedCollection.h"

namespace ordalis {

std::string FoldKey(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00C0..U+00DE are C3 80..C3 9E; their small letters are C3 A0..C3 BE.
      unsigned char n = static_cast<unsigned char>(out[i + 1]);
      if (n >= 0x80 && n <= 0x9E && n != 0x97) out[i + 1] = static_cast<char>(n + 0x20);
      ++i;
    }
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FoldKey(a) == FoldKey(b);
}

void ThrowMissingMember() { throw ComponentError(kErrInvalidCall, "Invalid procedure call or argument"); }
void ThrowDuplicateKey() {
  throw ComponentError(kErrDuplicateKey, "This key is already associated with an element of this collection");
}

}  // namespace ordalis
