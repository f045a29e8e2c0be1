#include "reference/reference_units.h"

#include <algorithm>
#include <cmath>

namespace reference {
namespace {

constexpr uint8_t kDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
// Within this of a decision, rounding anywhere may decide it.
constexpr double kHair = 1e-6;
constexpr double kEdgeHair = 1.0 / 4096;  // a texel's edge, in texels

double Channel(uint32_t p, int c) {
  return double(p >> (c == 3 ? 24 : 16 - 8 * c) & 255);
}

struct Texel4 {
  double c[4];
};

uint32_t At(const MipTexture::Level& l, int i, int j, const UnitState& u) {
  i = u.clamp_s ? std::clamp(i, 0, l.width - 1) : ((i % l.width) + l.width) % l.width;
  j = u.clamp_t ? std::clamp(j, 0, l.height - 1) : ((j % l.height) + l.height) % l.height;
  return l.texels[size_t(j) * size_t(l.width) + size_t(i)];
}

// Level `n` at (s, t), 256 units of s across its longer side.
Texel4 Sample(const MipTexture::Level& l, double s, double t, bool bilinear, const UnitState& u,
              bool* uncertain) {
  const double side = std::max(l.width, l.height);
  const double x = s * side / 256, y = t * side / 256;
  Texel4 out{};
  if (!bilinear) {
    for (double v : {x, y})
      if (std::abs(v - std::round(v)) < kEdgeHair) *uncertain = true;
    const uint32_t p = At(l, int(std::floor(x)), int(std::floor(y)), u);
    for (int c = 0; c < 4; c++) out.c[c] = Channel(p, c);
    return out;
  }
  // Texel centres, the position to the nearest 1/256 texel.
  const double xq = std::floor((x - 0.5) * 256 + 0.5) / 256;
  const double yq = std::floor((y - 0.5) * 256 + 0.5) / 256;
  const int i = int(std::floor(xq)), j = int(std::floor(yq));
  const double fx = xq - i, fy = yq - j;
  for (int c = 0; c < 4; c++) {
    out.c[c] =
        (Channel(At(l, i, j, u), c) * (1 - fx) + Channel(At(l, i + 1, j, u), c) * fx) * (1 - fy) +
        (Channel(At(l, i, j + 1, u), c) * (1 - fx) + Channel(At(l, i + 1, j + 1, u), c) * fx) * fy;
  }
  return out;
}

struct UnitResult {
  Texel4 texel;
  double lod_fraction = 0;
};

UnitResult Unit(const UnitState& u, const UnitPlanes& p, int x, int y, bool* uncertain) {
  UnitResult r;
  if (u.texture == nullptr || u.texture->levels.empty()) {
    r.texel = {{255, 255, 255, 255}};
    return r;
  }
  const MipTexture& tex = *u.texture;
  const double s = p.s / p.q, t = p.t / p.q;
  const double k = std::max(tex.levels[0].width, tex.levels[0].height) / 256.0;
  const double q2 = p.q * p.q;
  const double ux = k * (p.sx * p.q - p.s * p.qx) / q2, vx = k * (p.tx * p.q - p.t * p.qx) / q2;
  const double uy = k * (p.sy * p.q - p.s * p.qy) / q2, vy = k * (p.ty * p.q - p.t * p.qy) / q2;
  const double rho = std::max(std::hypot(ux, vx), std::hypot(uy, vy));
  const double lod = std::log2(rho) + u.bias / 4;
  const int levels = int(tex.levels.size());
  const auto hold = [&](double level) { return std::clamp(int(std::floor(level)), 0, levels - 1); };
  const bool bilinear = lod > 0 ? u.min_bilinear : u.mag_bilinear;
  if (u.min_bilinear != u.mag_bilinear && std::abs(lod) < kHair) *uncertain = true;
  if (u.mipmap == GR_MIPMAP_DISABLE) {
    r.texel = Sample(tex.levels[0], s, t, bilinear, u, uncertain);
    return r;
  }
  const double whole = std::floor(lod), frac = lod - whole;
  if (whole >= 0 && whole < levels - 1) r.lod_fraction = std::floor(frac * 256);
  if (u.lod_blend) {
    const double w = std::floor(frac * 256);
    const Texel4 a = Sample(tex.levels[size_t(hold(lod))], s, t, bilinear, u, uncertain);
    const Texel4 b = Sample(tex.levels[size_t(hold(lod + 1))], s, t, bilinear, u, uncertain);
    for (int c = 0; c < 4; c++) r.texel.c[c] = (a.c[c] * (256 - w) + b.c[c] * w) / 256;
    return r;
  }
  const double level =
      u.mipmap == GR_MIPMAP_NEAREST_DITHER ? lod + (kDither[y & 3][x & 3] + 0.5) / 16 : lod + 0.5;
  if (std::abs(level - std::round(level)) < kHair) *uncertain = true;
  r.texel = Sample(tex.levels[size_t(hold(level))], s, t, bilinear, u, uncertain);
  return r;
}

// A texture unit's combine of its texel with the unit upstream (other),
// the factors as grTexCombine numbers them, rounded to 8 bits.
double TexCombine(int function, int factor, bool invert, double local, double local_alpha,
                  double other, double other_alpha, double lod_fraction) {
  double f = 0;
  switch (factor & 7) {
    case GR_COMBINE_FACTOR_LOCAL: f = local; break;
    case GR_COMBINE_FACTOR_OTHER_ALPHA: f = other_alpha; break;
    case GR_COMBINE_FACTOR_LOCAL_ALPHA: f = local_alpha; break;
    case GR_COMBINE_FACTOR_LOD_FRACTION: f = lod_fraction; break;
    default: f = 0;  // DETAIL_FACTOR too: no detail textures
  }
  if (factor & 8) f = 255 - f;
  f /= 255;
  double v = 0;
  switch (function) {
    case GR_COMBINE_FUNCTION_LOCAL: v = local; break;
    case GR_COMBINE_FUNCTION_LOCAL_ALPHA: v = local_alpha; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER: v = f * other; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL: v = f * other + local; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA: v = f * other + local_alpha; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL: v = f * (other - local); break;
    case GR_COMBINE_FUNCTION_BLEND: v = f * (other - local) + local; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
      v = f * (other - local) + local_alpha;
      break;
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL: v = local - f * local; break;
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA: v = local_alpha - f * local; break;
    default: v = 0;
  }
  v = std::clamp(std::floor(v + 0.5), 0.0, 255.0);
  return invert ? 255 - v : v;
}

Texel4 Combined(const UnitState& u, const UnitResult& r, const Texel4* other) {
  Texel4 out;
  const double other_alpha = other ? other->c[3] : 0;
  for (int c = 0; c < 3; c++) {
    out.c[c] = TexCombine(u.rgb_function, u.rgb_factor, u.rgb_invert, r.texel.c[c], r.texel.c[3],
                          other ? other->c[c] : 0, other_alpha, r.lod_fraction);
  }
  out.c[3] = TexCombine(u.alpha_function, u.alpha_factor, u.alpha_invert, r.texel.c[3],
                        r.texel.c[3], other_alpha, other_alpha, r.lod_fraction);
  return out;
}

}  // namespace

UnitsOutput UnitsAt(const UnitState (&units)[2], bool two_units, const UnitPlanes (&planes)[2],
                    int x, int y) {
  UnitsOutput out;
  const UnitResult zero = Unit(units[0], planes[0], x, y, &out.uncertain);
  Texel4 one_out;
  if (two_units) {
    const UnitResult one = Unit(units[1], planes[1], x, y, &out.uncertain);
    one_out = Combined(units[1], one, nullptr);
  }
  const Texel4 result = Combined(units[0], zero, two_units ? &one_out : nullptr);
  for (int c = 0; c < 4; c++) out.c[c] = result.c[c];
  return out;
}

}  // namespace reference
