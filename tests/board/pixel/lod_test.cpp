// The level of detail against long double logarithms: floor(128 log2 rho^2)
// exact at and around every threshold 2^(j/128), and the level choices of
// each mipmap mode, held to the texture's levels.
#include "pixel/lod.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "pixel/texture_units.h"

namespace softboard {
namespace {

// floor(128 log2 x) exactly: x = M 2^E with M an integer, and floor(128 log2 M)
// is one less than the bit length of M^128, which big integers give.
int Floor128(double x) {
  int e = 0;
  const double fraction = std::frexp(x, &e);  // x = fraction 2^e, fraction in [1/2, 1)
  std::vector<uint32_t> m;                    // M = fraction 2^53, little-endian limbs
  const uint64_t mantissa = uint64_t(std::ldexp(fraction, 53));
  m = {uint32_t(mantissa), uint32_t(mantissa >> 32)};
  for (int square = 0; square < 7; square++) {
    std::vector<uint64_t> wide(m.size() * 2 + 1, 0);
    for (size_t i = 0; i < m.size(); i++) {
      uint64_t carry = 0;
      for (size_t j = 0; j < m.size(); j++) {
        const uint64_t t = wide[i + j] + uint64_t(m[i]) * m[j] + carry;
        wide[i + j] = t & 0xFFFFFFFFu;
        carry = t >> 32;
      }
      wide[i + m.size()] += carry;
    }
    m.assign(wide.size(), 0);
    for (size_t i = 0; i < wide.size(); i++) m[i] = uint32_t(wide[i]);
    while (m.size() > 1 && m.back() == 0) m.pop_back();
  }
  const int bits = int(m.size() - 1) * 32 + std::bit_width(m.back());
  return bits - 1 + 128 * (e - 53);
}

TEST(Lod, FloorOfTheLogarithmIsExactAroundEveryThreshold) {
  for (int e : {-40, -3, -1, 0, 1, 7, 33}) {
    for (int j = 0; j < 128; j++) {
      // 2^(e + j/128) and the doubles either side of it.
      const double at = std::ldexp(double(std::exp2l((long double)j / 128)), e);
      for (double x : {std::nextafter(at, 0.0), at, std::nextafter(at, 1e300)}) {
        const Lod128 got = FloorLog2x128(x);
        ASSERT_EQ(got.value, Floor128(x)) << "2^(" << e << " + " << j << "/128) near " << x;
        ASSERT_EQ(got.inexact, x != std::ldexp(1.0, std::ilogb(x))) << x;
      }
    }
  }
  for (double x : {1.0, 2.0, 0.5, 1.5, 3.0, 1e-9, 12345.678}) {
    ASSERT_EQ(FloorLog2x128(x).value, Floor128(x)) << x;
  }
  EXPECT_FALSE(FloorLog2x128(4.0).inexact);
  EXPECT_TRUE(FloorLog2x128(5.0).inexact);
}

TEST(Lod, ValuesBeyondAnyLevelAreHeldNotUndefined) {
  const int top = FloorLog2x128(kRho2Max).value, bottom = FloorLog2x128(kRho2Min).value;
  EXPECT_EQ(top, 128 * 200);
  EXPECT_EQ(bottom, -128 * 200);
  EXPECT_EQ(FloorLog2x128(std::nan("")).value, top);
  EXPECT_EQ(FloorLog2x128(INFINITY).value, top);
  EXPECT_EQ(FloorLog2x128(1e300).value, top);
  EXPECT_EQ(FloorLog2x128(0.0).value, bottom);
  EXPECT_EQ(FloorLog2x128(-5.0).value, bottom);
  EXPECT_EQ(FloorLog2x128(5e-324).value, bottom);
}

TEST(Lod, TheBiasAddsQuarters) {
  // rho = 2: lod 1; rho^2 = 4.
  EXPECT_EQ(LodOf(4.0, 0).value, 256);
  EXPECT_EQ(LodOf(4.0, -1).value, 192);
  EXPECT_EQ(LodOf(4.0, 31).value, 256 + 31 * 64);
  EXPECT_EQ(LodOf(1.0, -32).value, -8 * 256);
}

// Each mode's level for lod values around its decision points, as the rules
// give them: NEAREST floor(lod + 1/2), NEAREST_DITHER floor(lod + (d + 1/2)/16),
// blending floor(lod) and the next with weight floor(frac(lod) * 256).
TEST(Lod, LevelsOfEachModeHeldToTheTexture) {
  UnitMode nearest;
  nearest.mipmap = GR_MIPMAP_NEAREST;
  UnitMode dither = nearest;
  dither.mipmap = GR_MIPMAP_NEAREST_DITHER;
  UnitMode blend = nearest;
  blend.lod_blend = true;
  const int levels = 5;
  for (int v = -700; v <= 1600; v += 3) {
    const double lod = v / 256.0 + 1e-9;  // v / 256 and a little, as `above` says
    const Lod256 l{v, true};
    const auto hold = [&](double level) {
      return std::clamp(int(std::floor(level)), 0, levels - 1);
    };
    EXPECT_EQ(ChooseLevels(nearest, levels, l, 0).a, hold(lod + 0.5)) << v;
    for (int d = 0; d < 16; d++)
      EXPECT_EQ(ChooseLevels(dither, levels, l, d).a, hold(lod + (d + 0.5) / 16)) << v << " " << d;
    const LevelChoice c = ChooseLevels(blend, levels, l, 0);
    EXPECT_EQ(c.a, hold(lod)) << v;
    EXPECT_EQ(c.b, hold(lod + 1)) << v;
    EXPECT_EQ(c.blend, c.a != c.b) << v;
    if (c.blend) {
      EXPECT_EQ(c.weight, int(std::floor((lod - std::floor(lod)) * 256))) << v;
    }
    EXPECT_EQ(c.lod_fraction, lod >= 0 && lod < levels - 1 ? c.weight : 0) << v;
  }
  UnitMode off;
  off.mipmap = GR_MIPMAP_DISABLE;
  EXPECT_EQ(ChooseLevels(off, levels, {1000, true}, 15).a, 0) << "the largest level only";
  EXPECT_EQ(ChooseLevels(off, levels, {1000, true}, 15).lod_fraction, 0);
}

TEST(Lod, MagnificationAndMinificationFilters) {
  UnitMode m;
  m.min_bilinear = false;  // point sampled when minified
  EXPECT_TRUE(ChooseLevels(m, 1, {0, false}, 0).bilinear) << "lod 0 exactly magnifies";
  EXPECT_FALSE(ChooseLevels(m, 1, {0, true}, 0).bilinear) << "a hair above 0 minifies";
  EXPECT_TRUE(ChooseLevels(m, 1, {-1, true}, 0).bilinear);
  EXPECT_FALSE(ChooseLevels(m, 1, {1, false}, 0).bilinear);
}

TEST(Lod, Rho2IsTheLargerSquaredLengthOverQToTheFourth) {
  // At q = 2: ds/dx = 8 / q^2 = 2 and (ds/dy, dt/dy) = (6, 8) / q^2, of
  // length 2.5; with 8 texels a unit of s, rho = 20.
  EXPECT_DOUBLE_EQ(Rho2(8 * 8, 6, 8, 2, 64), 400.0);
  EXPECT_DOUBLE_EQ(Rho2(30 * 30, 6, 8, 2, 64), 30.0 * 30 * 64 / 16);
}

}  // namespace
}  // namespace softboard
