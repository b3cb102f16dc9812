#include "call/Arrotonda.h"

#include "ordalis/ComponentError.h"

namespace ordalis {
namespace {

// Computed on 128 bits: a step and a value near the 64-bit limits cannot
// overflow on the way, only in the result.
__int128 FloorDiv(__int128 a, __int128 b) {
  __int128 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::int64_t Fit(__int128 v) {
  if (v > INT64_MAX || v < INT64_MIN) throw ComponentError(kErrOverflow, "Overflow");
  return static_cast<std::int64_t>(v);
}

}  // namespace

std::optional<std::int64_t> Arrotonda(std::int64_t v, std::int64_t s, int type) {
  if (s <= 0) return v;
  const __int128 w = v, t = s;
  switch (type) {
    case 0: return v;
    case 1: return Fit(FloorDiv(w, t) * t);
    case 2: return Fit(FloorDiv(2 * w + t, 2 * t) * t);
    case 3: return w % t == 0 ? v : Fit((FloorDiv(w, t) + 1) * t);
    default: return std::nullopt;
  }
}

}  // namespace ordalis
