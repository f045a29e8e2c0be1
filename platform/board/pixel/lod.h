// Level of detail: which mipmap level a pixel samples, from how fast its
// texture coordinates change. The arithmetic is exact where it decides a
// level: floor(256 * lod) is computed from rho^2 in double precision with a
// table of the thresholds 2^(j/128), not with a rounded logarithm, so the
// general loop and the fused loops, which share these tables, choose alike,
// and both choose as real arithmetic would.
#pragma once

#include <cstdint>

namespace softboard {

// Levels of a texture: 256 down to 1 on its longer side.
constexpr int kMaxLevels = 9;

// The 4x4 ordered dither matrix in 16ths, a cell per pixel of the scene: the
// colour dither's (frame/framebuffer.cpp), which NEAREST_DITHER shares.
constexpr uint8_t kLodDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// rho^2 is held to [2^-200, 2^200] (NaN to the top) before its logarithm:
// far beyond any level, so every level decision is unchanged by it.
constexpr double kRho2Min = 0x1p-200;
constexpr double kRho2Max = 0x1p200;

// For each of the 256 bins of a mantissa's top 8 bits: floor(128 * log2 m) at
// the bin's start, and the one threshold 2^(j/128) that may lie above it
// inside the bin (rounded up to a double, so m >= it exactly when m >= the
// real threshold).
struct LodTables {
  double base[256];
  double threshold[256];
};
const LodTables& TheLodTables();

// floor(128 * log2(rho2)) of rho2 held as above; `inexact`: whether the
// logarithm lies strictly above that integer.
struct Lod128 {
  int value;
  bool inexact;
};
Lod128 FloorLog2x128(double rho2);

// A pixel's level of detail in 1/256: floor(256 * (log2(rho) + bias)), with
// rho2 = rho^2 and the bias in quarters; `above`: lod is strictly above
// value / 256 (so lod > 0 exactly when value > 0, or value is 0 and above).
struct Lod256 {
  int value;
  bool above;
};
inline Lod256 LodOf(double rho2, int bias_quarters) {
  const Lod128 l = FloorLog2x128(rho2);
  return {l.value + 64 * bias_quarters, l.inexact};
}

// rho^2 of a pixel, in texels of the largest level: `x_term` and (bs, bt)
// are the squared length of (dS/dx Q - S dQ/dx, dT/dx Q - T dQ/dx) and the
// vector (dS/dy Q - S dQ/dy, dT/dy Q - T dQ/dy) of the texture planes S = s/w,
// T = t/w, Q = 1/w at the pixel, `texel_scale2` (texels a unit of s)^2. The
// order of the operations is the fused loops' as well.
inline double Rho2(double x_term, double bs, double bt, double q, double texel_scale2) {
  const double y_term = bs * bs + bt * bt;
  const double m = x_term > y_term ? x_term : y_term;
  const double q2 = q * q;
  return m * texel_scale2 / (q2 * q2);
}

// The level a pixel samples, held to levels 0..levels-1 (levels >= 1).
inline int HoldLevel(int level, int levels) {
  return level < 0 ? 0 : level >= levels ? levels - 1 : level;
}
// NEAREST: floor(lod + 1/2).
inline int NearestLevel(int lod256) {
  return (lod256 + 128) >> 8;
}
// NEAREST_DITHER: floor(lod + (d + 1/2) / 16) for the pixel's dither value d.
inline int DitheredLevel(int lod256, int d) {
  return (lod256 + 16 * d + 8) >> 8;
}

}  // namespace softboard
