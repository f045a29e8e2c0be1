// The texture units' rules computed on their own, for the reference board:
// each pixel's level of detail from the exact derivatives of its texture
// planes, the level or levels each mipmap mode takes, point or bilinear
// filtering in real numbers (the position to the nearest 1/256 texel),
// wrapping or clamping, and unit 1 chained into unit 0's combine. Shares no
// code with the board.
#pragma once

#include <cstdint>
#include <vector>

#include "grlib.h"

namespace reference {

// A texture's levels as 0xAARRGGBB texels; level n is the largest halved n times.
struct MipTexture {
  struct Level {
    int width = 0, height = 0;
    std::vector<uint32_t> texels;
  };
  std::vector<Level> levels;
};

struct UnitState {
  const MipTexture* texture = nullptr;  // null: opaque white
  int mipmap = GR_MIPMAP_DISABLE;
  bool lod_blend = false;
  double bias = 0;  // already in quarters
  bool min_bilinear = true, mag_bilinear = true;
  bool clamp_s = false, clamp_t = false;
  int rgb_function = GR_COMBINE_FUNCTION_LOCAL, rgb_factor = GR_COMBINE_FACTOR_NONE;
  int alpha_function = GR_COMBINE_FUNCTION_LOCAL, alpha_factor = GR_COMBINE_FACTOR_NONE;
  bool rgb_invert = false, alpha_invert = false;
};

// A unit's texture planes at a pixel (s/w, t/w, 1/w) and their derivatives
// along x and y.
struct UnitPlanes {
  double s = 0, t = 0, q = 1;
  double sx = 0, sy = 0, tx = 0, ty = 0, qx = 0, qy = 0;
};

// What the units give pixel (x, y): unit 0's output, with unit 1's as its
// other where `two_units`. `uncertain`: a decision (a level, a texel edge
// under point sampling) lies within rounding of a tie.
struct UnitsOutput {
  double c[4] = {255, 255, 255, 255};  // r, g, b, a
  bool uncertain = false;
};
UnitsOutput UnitsAt(const UnitState (&units)[2], bool two_units, const UnitPlanes (&planes)[2],
                    int x, int y);

}  // namespace reference
