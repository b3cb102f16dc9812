#include "call/Arrotonda.h"

namespace ordalis {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

std::optional<std::int64_t> Arrotonda(std::int64_t v, std::int64_t s, int type) {
  if (s <= 0) return v;
  switch (type) {
    case 0: return v;
    case 1: return FloorDiv(v, s) * s;
    case 2: return FloorDiv(2 * v + s, 2 * s) * s;
    case 3: return v % s == 0 ? v : (FloorDiv(v, s) + 1) * s;
    default: return std::nullopt;
  }
}

}  // namespace ordalis
