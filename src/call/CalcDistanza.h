#pragma once
// The distance between a site and a destination, for the kilometre bands of
// the tariffs.
#include <cstdint>

namespace ordalis {

class clsDestinazione;
class clsSito;

// Whole kilometres between the site's own destination and a destination.
// Coordinates are whole degrees plus a fraction read as sixtieths; the
// distance goes through the chord between the two positions on a sphere of
// radius 6371.315 km. No site destination: 0. Coincident points (the arc
// cosine of 1, which the formula cannot take): 1000.
std::int32_t CalcDistanza(const clsDestinazione& dest, const clsSito& site);

}  // namespace ordalis
