#pragma once
// Rounding of durations and costs to a step, on exact integers so that a
// step of 0.01 never meets float noise.
#include <cstdint>
#include <optional>

namespace ordalis {

// Rounds v to a multiple of s: type 0 unchanged, 1 down, 2 to the nearest
// (halves up), 3 up. Any other type has no result (the caller takes 0).
// A step of 0 or below leaves v unchanged. A result beyond 64 bits is
// error 6 (overflow).
std::optional<std::int64_t> Arrotonda(std::int64_t v, std::int64_t s, int type);

}  // namespace ordalis
