// The texture units through the library's calls, frames compared pixel by
// pixel with an independent computation of the rules: each pixel's level of
// detail from the exact derivatives of s/w, t/w and 1/w at its centre, the
// level or levels each mode takes, point or bilinear filtering in real
// arithmetic, wrapping or clamping, and the second unit chained into unit
// 0's combine. Pixels whose level of detail lies within a hair of a
// decision (where rounding anywhere decides) are not compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/board_context.h"
#include "frame/framebuffer.h"
#include "grlib.h"

namespace softboard {
namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr uint8_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

struct Rng {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

// An ARGB 4444 texture with every level from `large` to `small`, each level
// of its own random texels, and the same levels widened to 0xAARRGGBB here.
struct MipTexture {
  int large, small, aspect;
  std::vector<uint16_t> data;
  std::vector<int> widths, heights;
  std::vector<std::vector<uint32_t>> argb;
  GrTexInfo info;

  MipTexture(int large_lod, int small_lod, int aspect_ratio, uint32_t seed, bool smooth = false)
      : large(large_lod), small(small_lod), aspect(aspect_ratio) {
    Rng rng{seed};
    const int ratio = 1 << std::abs(aspect - GR_ASPECT_1x1);
    for (int lod = large; lod <= small; lod++) {
      const int longer = 256 >> lod, shorter = std::max(1, longer / ratio);
      const int w = aspect <= GR_ASPECT_1x1 ? longer : shorter;
      const int h = aspect <= GR_ASPECT_1x1 ? shorter : longer;
      widths.push_back(w);
      heights.push_back(h);
      argb.emplace_back();
      const uint32_t tint = rng.Next();
      for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
          // Smooth levels: gentle gradients a level tint apart; otherwise noise.
          const uint16_t t =
              smooth ? uint16_t(((tint + uint32_t(x + y) / 4) & 0xF) << 12 |
                                ((tint >> 4) & 0xF) << 8 | (uint32_t(x) * 15 / uint32_t(w)) << 4 |
                                (uint32_t(y) * 15 / uint32_t(h)))
                     : uint16_t(rng.Next());
          data.push_back(t);
          argb.back().push_back(uint32_t(t >> 12) * 0x11000000u |
                                uint32_t(t >> 8 & 15) * 0x110000u |
                                uint32_t(t >> 4 & 15) * 0x1100u | uint32_t(t & 15) * 0x11u);
        }
      }
    }
    info = {small, large, aspect, GR_TEXFMT_ARGB_4444, data.data()};
  }
  int levels() const { return small - large + 1; }
  int longest() const { return std::max(widths[0], heights[0]); }
};

// a + b x + c y.
struct Linear {
  double a, b, c;
  double At(double x, double y) const { return a + b * x + c * y; }
};

// A unit's texture planes (s/w, t/w, 1/w) and how it is set.
struct UnitSetup {
  const MipTexture* texture = nullptr;
  Linear s, t, q;
  int mipmap = GR_MIPMAP_DISABLE;
  bool blend = false;
  float bias = 0;
  bool min_bilinear = true, mag_bilinear = true;
  bool clamp_s = false, clamp_t = false;
  uint32_t mask = GR_MIPMAPLEVELMASK_BOTH;
};

double Channel(uint32_t p, int c) {
  return double(p >> (c == 3 ? 24 : 16 - 8 * c) & 255);
}

// The texel of `level` at integer (i, j), wrapped or clamped.
uint32_t Texel(const MipTexture& tex, int level, int i, int j, const UnitSetup& u) {
  const int w = tex.widths[size_t(level)], h = tex.heights[size_t(level)];
  i = u.clamp_s ? std::clamp(i, 0, w - 1) : ((i % w) + w) % w;
  j = u.clamp_t ? std::clamp(j, 0, h - 1) : ((j % h) + h) % h;
  return tex.argb[size_t(level)][size_t(j * w + i)];
}

// A level sampled at (s, t): 256 units of s across the level's longer side;
// bilinear samples at texel centres, the position to the nearest 1/256 texel.
// `doubtful`: a point sample within a hair of a texel's edge, which the
// board's float coordinates may put on either side.
std::array<double, 4> SampleLevel(const MipTexture& tex, int level, double s, double t,
                                  bool bilinear, const UnitSetup& u, bool* doubtful) {
  const double side = std::max(tex.widths[size_t(level)], tex.heights[size_t(level)]);
  const double x = s * side / 256, y = t * side / 256;
  std::array<double, 4> out{};
  if (!bilinear) {
    constexpr double kHair = 1.0 / 4096;
    for (double v : {x, y})
      if (std::abs(v - std::round(v)) < kHair) *doubtful = true;
    const uint32_t p = Texel(tex, level, int(std::floor(x)), int(std::floor(y)), u);
    for (int c = 0; c < 4; c++) out[size_t(c)] = Channel(p, c);
    return out;
  }
  const double xq = std::floor((x - 0.5) * 256 + 0.5) / 256;
  const double yq = std::floor((y - 0.5) * 256 + 0.5) / 256;
  const int i = int(std::floor(xq)), j = int(std::floor(yq));
  const double fx = xq - i, fy = yq - j;
  for (int c = 0; c < 4; c++) {
    out[size_t(c)] = Channel(Texel(tex, level, i, j, u), c) * (1 - fx) * (1 - fy) +
                     Channel(Texel(tex, level, i + 1, j, u), c) * fx * (1 - fy) +
                     Channel(Texel(tex, level, i, j + 1, u), c) * (1 - fx) * fy +
                     Channel(Texel(tex, level, i + 1, j + 1, u), c) * fx * fy;
  }
  return out;
}

// What the unit gives pixel (x, y), and the LOD fraction; `doubtful` when
// its level of detail is within a hair of a decision.
struct UnitOutput {
  std::array<double, 4> c{};
  double lod_fraction = 0;
  bool doubtful = false;
};

// The level a mask leaves out is the nearest larger one in it, or smaller.
int HeldByMask(const MipTexture& tex, int level, uint32_t mask) {
  const auto in = [&](int l) { return (mask >> ((tex.large + l) & 1) & 1) != 0; };
  for (int l = level; l >= 0; l--)
    if (in(l)) return l;
  for (int l = level; l < tex.levels(); l++)
    if (in(l)) return l;
  return 0;
}

UnitOutput ReferenceUnit(const UnitSetup& u, int x, int y) {
  UnitOutput out;
  if (u.texture == nullptr) {
    out.c = {255, 255, 255, 255};
    return out;
  }
  const MipTexture& tex = *u.texture;
  const double px = x + 0.5, py = y + 0.5;
  const double S = u.s.At(px, py), T = u.t.At(px, py), Q = u.q.At(px, py);
  const double s = S / Q, t = T / Q;
  // Texels of the largest level a unit of s or t.
  const double k = tex.longest() / 256.0;
  const double ux = k * (u.s.b * Q - S * u.q.b) / (Q * Q),
               vx = k * (u.t.b * Q - T * u.q.b) / (Q * Q);
  const double uy = k * (u.s.c * Q - S * u.q.c) / (Q * Q),
               vy = k * (u.t.c * Q - T * u.q.c) / (Q * Q);
  const double rho = std::max(std::hypot(ux, vx), std::hypot(uy, vy));
  const double lod = std::log2(rho) + std::round(u.bias * 4) / 4;
  constexpr double kHair = 1e-6;
  const auto near_integer = [&](double v) { return std::abs(v - std::round(v)) < kHair; };
  const bool minified = lod > 0;
  if (u.min_bilinear != u.mag_bilinear && std::abs(lod) < kHair) out.doubtful = true;
  const bool bilinear = minified ? u.min_bilinear : u.mag_bilinear;
  const int levels = tex.levels();
  const auto hold = [&](double level) {
    return HeldByMask(tex, std::clamp(int(std::floor(level)), 0, levels - 1), u.mask);
  };
  if (u.mipmap == GR_MIPMAP_DISABLE) {
    out.c = SampleLevel(tex, hold(0), s, t, bilinear, u, &out.doubtful);
    return out;
  }
  if (std::floor(lod) >= 0 && std::floor(lod) < levels - 1)
    out.lod_fraction = std::floor((lod - std::floor(lod)) * 256);
  if (u.blend) {
    const int a = hold(lod), b = hold(lod + 1);
    const double w = std::floor((lod - std::floor(lod)) * 256);
    const auto ca = SampleLevel(tex, a, s, t, bilinear, u, &out.doubtful);
    const auto cb = SampleLevel(tex, b, s, t, bilinear, u, &out.doubtful);
    for (int c = 0; c < 4; c++)
      out.c[size_t(c)] = (ca[size_t(c)] * (256 - w) + cb[size_t(c)] * w) / 256;
    return out;
  }
  double level = lod + 0.5;
  if (u.mipmap == GR_MIPMAP_NEAREST_DITHER) level = lod + (kBayer[y & 3][x & 3] + 0.5) / 16;
  out.doubtful = out.doubtful || near_integer(level);
  out.c = SampleLevel(tex, hold(level), s, t, bilinear, u, &out.doubtful);
  return out;
}

// Unit 0's combine of its texel with unit 1's output, in real numbers.
struct TexCombine {
  int rgb_function = GR_COMBINE_FUNCTION_LOCAL, rgb_factor = GR_COMBINE_FACTOR_NONE;
  int alpha_function = GR_COMBINE_FUNCTION_LOCAL, alpha_factor = GR_COMBINE_FACTOR_NONE;
};

double Combine(int function, int factor, double local, double local_alpha, double other,
               double other_alpha, double lod_fraction) {
  double f = 0;
  switch (factor & 7) {
    case 1: f = local; break;
    case 2: f = other_alpha; break;
    case 3: f = local_alpha; break;
    case 5: f = lod_fraction; break;
  }
  if (factor >= 8) f = 255 - f;
  f /= 255;
  double v = 0;
  switch (function) {
    case GR_COMBINE_FUNCTION_LOCAL: v = local; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER: v = f * other; break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL: v = f * other + local; break;
    case GR_COMBINE_FUNCTION_BLEND: v = f * (other - local) + local; break;
  }
  return std::clamp(v, 0.0, 255.0);
}

class TextureUnits : public testing::Test {
 protected:
  void SetUp() override {
    Settings settings;
    settings.display = DisplayMode::kHeadless;
    settings.vsync = false;
    settings.threads = 1;
    board_ = std::make_unique<ScopedBoard>(settings);
    grLibInit();
    grSstSelect(0);
    ASSERT_EQ(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                           GR_ORIGIN_UPPER_LEFT, 2, 1),
              FXTRUE);
    // The pixel is the texture units' output, alpha too.
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
  }
  void TearDown() override { board_.reset(); }

  void SetUnit(int tmu, const UnitSetup& u, uint32_t address) {
    grTexDownloadMipMap(tmu, address, u.mask, const_cast<GrTexInfo*>(&u.texture->info));
    grTexSource(tmu, address, u.mask, const_cast<GrTexInfo*>(&u.texture->info));
    grTexMipMapMode(tmu, u.mipmap, u.blend);
    grTexLodBiasValue(tmu, u.bias);
    grTexFilterMode(tmu, u.min_bilinear, u.mag_bilinear);
    grTexClampMode(tmu, u.clamp_s, u.clamp_t);
  }

  // The whole screen as two triangles whose vertices carry the planes.
  void DrawScreen(const UnitSetup& u0, const UnitSetup* u1) {
    const double corners[4][2] = {{0, 0}, {kWidth, 0}, {kWidth, kHeight}, {0, kHeight}};
    GrVertex v[4] = {};
    for (int i = 0; i < 4; i++) {
      const double x = corners[i][0], y = corners[i][1];
      v[i].x = float(x), v[i].y = float(y), v[i].oow = float(u0.q.At(x, y));
      v[i].tmuvtx[0] = {float(u0.s.At(x, y)), float(u0.t.At(x, y)), float(u0.q.At(x, y))};
      if (u1)
        v[i].tmuvtx[1] = {float(u1->s.At(x, y)), float(u1->t.At(x, y)), float(u1->q.At(x, y))};
    }
    const int ilist[4] = {0, 1, 2, 3};
    grBufferClear(0, 0, 0);
    grDrawPolygon(4, ilist, v);
    grBufferSwap(0);
  }

  // Compares the frame with the reference; returns how many pixels were compared.
  int Compare(const std::string& what, const UnitSetup& u0, const UnitSetup* u1,
              const TexCombine& combine, int tolerance) {
    const PixelRows shown = ShownFrame(board_->state().frame);
    std::vector<uint32_t> row(size_t(shown.width));
    int compared = 0, failures = 0;
    for (int y = 0; y < kHeight && failures < 8; y++) {
      CopyImageRow(shown, y, row.data());
      for (int x = 0; x < kWidth && failures < 8; x++) {
        const UnitOutput o0 = ReferenceUnit(u0, x, y);
        UnitOutput o1;
        if (u1) o1 = ReferenceUnit(*u1, x, y);
        if (o0.doubtful || o1.doubtful) continue;
        compared++;
        for (int c = 0; c < 4; c++) {
          double want = o0.c[size_t(c)];
          if (u1) {
            const bool alpha = c == 3;
            want = Combine(alpha ? combine.alpha_function : combine.rgb_function,
                           alpha ? combine.alpha_factor : combine.rgb_factor, o0.c[size_t(c)],
                           o0.c[3], o1.c[size_t(c)], o1.c[3], o0.lod_fraction);
          }
          const double got = Channel(row[size_t(x)], c);
          if (std::abs(got - want) > tolerance) {
            ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") channel " << c << " is "
                          << got << ", the rules give " << want;
            failures++;
            break;
          }
        }
      }
    }
    return compared;
  }

  std::unique_ptr<ScopedBoard> board_;
};

// A floor receding to the top of the screen: 1/w from 1/16 at the top to 1
// at the bottom, s across and t down; the top minified many times over, the
// bottom magnified.
UnitSetup Floor(const MipTexture* texture) {
  UnitSetup u;
  u.texture = texture;
  u.q = {1.0 / 16, 0, (1 - 1.0 / 16) / kHeight};
  u.s = {-0.9 * 320, 0.9, 0};
  u.t = {40, 0.05, 0.8};
  return u;
}

TEST_F(TextureUnits, EveryMipmapModeOnAPerspectiveFloor) {
  const MipTexture texture(GR_LOD_64, GR_LOD_1, GR_ASPECT_1x1, 11);
  struct Case {
    const char* name;
    int mipmap;
    bool blend;
    float bias;
    bool min_bilinear, mag_bilinear, clamp;
  };
  const Case cases[] = {
      {"largest level", GR_MIPMAP_DISABLE, false, 0, true, true, false},
      {"nearest", GR_MIPMAP_NEAREST, false, 0, true, true, false},
      {"nearest, dithered", GR_MIPMAP_NEAREST_DITHER, false, 0, true, true, false},
      {"trilinear", GR_MIPMAP_NEAREST, true, 0, true, true, false},
      {"trilinear from dithered", GR_MIPMAP_NEAREST_DITHER, true, 0, true, true, false},
      {"nearest, bias 1.25", GR_MIPMAP_NEAREST, false, 1.25f, true, true, false},
      {"trilinear, bias -0.8 (quarters: -0.75)", GR_MIPMAP_NEAREST, true, -0.8f, true, true, false},
      {"nearest, point sampled", GR_MIPMAP_NEAREST, false, 0, false, false, false},
      {"point minified, bilinear magnified", GR_MIPMAP_NEAREST, false, 0, false, true, false},
      {"largest level, bilinear minified, point magnified", GR_MIPMAP_DISABLE, false, 0, true,
       false, false},
      {"trilinear, clamped", GR_MIPMAP_NEAREST, true, 0, true, true, true},
  };
  for (const Case& c : cases) {
    UnitSetup u = Floor(&texture);
    u.mipmap = c.mipmap;
    u.blend = c.blend;
    u.bias = c.bias;
    u.min_bilinear = c.min_bilinear;
    u.mag_bilinear = c.mag_bilinear;
    u.clamp_s = u.clamp_t = c.clamp;
    SetUnit(GR_TMU0, u, 0);
    DrawScreen(u, nullptr);
    EXPECT_GT(Compare(c.name, u, nullptr, {}, 2), kWidth * kHeight * 9 / 10) << c.name;
  }
}

// 1/w the same everywhere: one level of detail for the whole triangle, from
// minified by 4 (level 2) to magnified.
TEST_F(TextureUnits, AffineTrianglesTakeOneLevelOfDetail) {
  const MipTexture texture(GR_LOD_128, GR_LOD_1, GR_ASPECT_2x1, 12);
  for (double texels_a_pixel : {5.3, 3.0, 1.7, 1.0, 0.4}) {
    for (int mipmap : {GR_MIPMAP_NEAREST, GR_MIPMAP_NEAREST_DITHER}) {
      for (bool blend : {false, true}) {
        UnitSetup u;
        u.texture = &texture;
        u.q = {0.5, 0, 0};
        const double per_pixel = texels_a_pixel * 256 / texture.longest() * 0.5;
        u.s = {3.25, per_pixel, per_pixel * 0.125};
        u.t = {-7.5, -per_pixel * 0.25, per_pixel * 0.5};
        u.mipmap = mipmap;
        u.blend = blend;
        SetUnit(GR_TMU0, u, 4096);
        DrawScreen(u, nullptr);
        const std::string what = std::to_string(texels_a_pixel) + " texels a pixel, mode " +
                                 std::to_string(mipmap) + (blend ? " blended" : "");
        EXPECT_GT(Compare(what, u, nullptr, {}, 2), kWidth * kHeight / 2) << what;
      }
    }
  }
}

// A mask that leaves levels out: each missing level is the nearest larger one
// the memory holds.
TEST_F(TextureUnits, LevelsLeftOutByTheMaskAreHeldToOnesThatAreThere) {
  const MipTexture texture(GR_LOD_64, GR_LOD_1, GR_ASPECT_1x1, 13);
  for (uint32_t mask : {GR_MIPMAPLEVELMASK_EVEN, GR_MIPMAPLEVELMASK_ODD}) {
    UnitSetup u = Floor(&texture);
    u.mipmap = GR_MIPMAP_NEAREST;
    u.mask = mask;
    SetUnit(GR_TMU0, u, 0);
    DrawScreen(u, nullptr);
    EXPECT_GT(Compare("mask " + std::to_string(mask), u, nullptr, {}, 2),
              kWidth * kHeight * 9 / 10);
  }
}

// Unit 1's output is unit 0's "other": a light map modulating the wall, unit
// 1 passed through, blended by unit 0's alpha, and by its LOD fraction.
TEST_F(TextureUnits, TheSecondUnitChainsIntoUnitZerosCombine) {
  const MipTexture wall(GR_LOD_64, GR_LOD_1, GR_ASPECT_1x1, 14, true);
  const MipTexture light(GR_LOD_16, GR_LOD_1, GR_ASPECT_1x1, 15, true);
  UnitSetup u0 = Floor(&wall);
  u0.mipmap = GR_MIPMAP_NEAREST;
  u0.blend = true;
  UnitSetup u1 = Floor(&light);
  u1.s = {8, 0.2, 0.01};  // slower across: the light map is magnified
  u1.t = {3, 0.01, 0.15};
  u1.clamp_s = true;
  struct Case {
    const char* name;
    TexCombine combine;
  };
  const Case cases[] = {
      {"light map",
       {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL, GR_COMBINE_FUNCTION_LOCAL,
        GR_COMBINE_FACTOR_NONE}},
      {"unit 1 passed through",
       {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_FUNCTION_SCALE_OTHER,
        GR_COMBINE_FACTOR_ONE}},
      {"blended by unit 0's alpha",
       {GR_COMBINE_FUNCTION_BLEND, GR_COMBINE_FACTOR_LOCAL_ALPHA, GR_COMBINE_FUNCTION_LOCAL,
        GR_COMBINE_FACTOR_NONE}},
      {"by the LOD fraction",
       {GR_COMBINE_FUNCTION_BLEND, GR_COMBINE_FACTOR_ONE_MINUS_LOD_FRACTION,
        GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL, GR_COMBINE_FACTOR_LOD_FRACTION}},
  };
  SetUnit(GR_TMU0, u0, 0);
  SetUnit(GR_TMU1, u1, 0);
  for (const Case& c : cases) {
    grTexCombine(GR_TMU0, c.combine.rgb_function, c.combine.rgb_factor, c.combine.alpha_function,
                 c.combine.alpha_factor, FXFALSE, FXFALSE);
    DrawScreen(u0, &u1);
    EXPECT_GT(Compare(c.name, u0, &u1, c.combine, 2), kWidth * kHeight * 9 / 10) << c.name;
  }
}

// Until a texture is selected on unit 1 the board is one unit: its "other" is 0.
TEST_F(TextureUnits, UnitOneTakesPartOnlyOnceItHasATexture) {
  const MipTexture wall(GR_LOD_32, GR_LOD_32, GR_ASPECT_1x1, 16);
  UnitSetup u0 = Floor(&wall);
  SetUnit(GR_TMU0, u0, 0);
  grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL, GR_COMBINE_FACTOR_ONE,
               GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, FXFALSE, FXFALSE);
  DrawScreen(u0, nullptr);
  EXPECT_GT(Compare("other is 0", u0, nullptr, {}, 2), kWidth * kHeight * 9 / 10);
}

}  // namespace
}  // namespace softboard
