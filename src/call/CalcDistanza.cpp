#include "call/CalcDistanza.h"

#include <cmath>

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

}  // namespace

std::int32_t CalcDistanza(const clsDestinazione& dest, const clsSito& site) {
  if (!site.Destinazione) return 0;
  double a[3], b[3];
  Position(site.Destinazione->Lat, site.Destinazione->Longit, a);
  Position(dest.Lat, dest.Longit, b);
  double chord2 = (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
  double cosine = (2 * kRadius * kRadius - chord2) / (2 * kRadius * kRadius);
  if (!(cosine > -1 && cosine < 1)) return 1000;
  return static_cast<std::int32_t>(std::nearbyint(kRadius * std::acos(cosine)));
}

}  // namespace ordalis
