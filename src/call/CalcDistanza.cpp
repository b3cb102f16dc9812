#include "call/CalcDistanza.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "numbering/clsDestinazione.h"
#include "reference/clsSito.h"

namespace ordalis {
namespace {

constexpr double kRadius = 6371.315;
constexpr double kPi = 3.14159265358979323846;

double Degrees(float value) {
  double whole = std::trunc(value);
  return whole + (value - whole) / 60.0;
}

void Position(float lat, float lon, double* p) {
  double la = Degrees(lat) * kPi / 180, lo = Degrees(lon) * kPi / 180;
  p[0] = kRadius * std::cos(la) * std::cos(lo);
  p[1] = kRadius * std::cos(la) * std::sin(lo);
  p[2] = kRadius * std::sin(la);
}

// The points of recent coordinates, keyed by the coordinates themselves:
// a plan has a few thousand places and the same ones come back call after call.
void CachedPosition(float lat, float lon, double* p) {
  struct Entry {
    std::uint32_t lat = 0, lon = 0;
    bool filled = false;
    double point[3];
  };
  static thread_local std::array<Entry, 4096> cache;
  const std::uint32_t a = std::bit_cast<std::uint32_t>(lat), b = std::bit_cast<std::uint32_t>(lon);
  Entry& e = cache[(a * 2654435761u ^ b * 40503u) >> 20];
  if (!e.filled || e.lat != a || e.lon != b) {
    Position(lat, lon, e.point);
    e.lat = a;
    e.lon = b;
    e.filled = true;
  }
  std::copy(e.point, e.point + 3, p);
}

}  // namespace

std::int32_t CalcDistanza(const clsDestinazione& dest, const clsSito& site) {
  if (!site.Destinazione) return 0;
  double a[3], b[3];
  CachedPosition(site.Destinazione->Lat, site.Destinazione->Longit, a);
  CachedPosition(dest.Lat, dest.Longit, b);
  double chord2 = (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
  double cosine = (2 * kRadius * kRadius - chord2) / (2 * kRadius * kRadius);
  if (!(cosine > -1 && cosine < 1)) return 1000;
  return static_cast<std::int32_t>(std::nearbyint(kRadius * std::acos(cosine)));
}

}  // namespace ordalis
