#include "pixel/lod.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace softboard {
namespace {

// The smallest double at or above 2^(j/128): exp2l's long double result,
// rounded up where the double below it is less. j = 128 is 2 itself.
double ThresholdAbove(int j) {
  const long double exact = std::exp2l((long double)j / 128);
  double d = double(exact);
  if ((long double)d < exact) d = std::nextafter(d, 4.0);
  return d;
}

LodTables MakeTables() {
  LodTables t{};
  double thresholds[129];
  for (int j = 0; j <= 128; j++) thresholds[j] = ThresholdAbove(j);
  thresholds[0] = 1.0;
  thresholds[128] = 2.0;
  // A bin is 1/256 of [1, 2) wide, less than one step of 2^(1/128) anywhere
  // in it: at most one threshold lies inside.
  for (int i = 0; i < 256; i++) {
    const double start = 1.0 + i / 256.0;
    int k = 0;
    while (thresholds[k + 1] <= start) k++;
    t.base[i] = k;
    t.threshold[i] = thresholds[k + 1];
  }
  return t;
}

}  // namespace

const LodTables& TheLodTables() {
  static const LodTables tables = MakeTables();
  return tables;
}

Lod128 FloorLog2x128(double rho2) {
  if (!(rho2 <= kRho2Max)) rho2 = kRho2Max;  // NaN too
  if (rho2 < kRho2Min) rho2 = kRho2Min;
  uint64_t bits;
  std::memcpy(&bits, &rho2, 8);  // the web build's C++ library has no bit_cast
  const int exponent = int(bits >> 52) - 1023;
  const int bin = int(bits >> 44 & 255);
  const uint64_t mantissa_bits = (bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
  double mantissa;
  std::memcpy(&mantissa, &mantissa_bits, 8);
  const LodTables& t = TheLodTables();
  const int k = int(t.base[bin]) + (mantissa >= t.threshold[bin] ? 1 : 0);
  return {128 * exponent + k, mantissa != 1.0};
}

}  // namespace softboard
