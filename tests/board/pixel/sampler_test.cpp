#include "pixel/sampler.h"

#include <cmath>

#include "board/pipeline_support.h"

namespace softboard {
namespace {

uint32_t Pattern(int x, int y) {
  uint32_t h = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u;
  h ^= h >> 13;
  return h * 0xC2B2AE3Du;
}

DecodedTexture MakeLevel(int width, int height) {
  DecodedTexture level;
  level.width = width;
  level.height = height;
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) level.texels.push_back(Pattern(x, y));
  }
  return level;
}

int Channel(uint32_t p, int c) {
  return int(p >> (c == 3 ? 24 : 16 - 8 * c) & 255);
}

// Filtering in real numbers: 256 units of s or t span the longer side.
uint32_t Reference(const DecodedTexture& level, double s, double t, bool bilinear, bool wrap) {
  const double scale = std::max(level.width, level.height) / 256.0;
  const double u = s * scale - (bilinear ? 0.5 : 0), v = t * scale - (bilinear ? 0.5 : 0);
  const int x = int(std::floor(u)), y = int(std::floor(v));
  const auto texel = [&](int i, int j) {
    i = wrap ? i & (level.width - 1) : std::clamp(i, 0, level.width - 1);
    j = wrap ? j & (level.height - 1) : std::clamp(j, 0, level.height - 1);
    return level.texels[size_t(j * level.width + i)];
  };
  if (!bilinear) return texel(x, y);
  const double fx = u - x, fy = v - y;
  int out[4];
  for (int c = 0; c < 4; c++) {
    out[c] = int(std::lround(Channel(texel(x, y), c) * (1 - fx) * (1 - fy) +
                             Channel(texel(x + 1, y), c) * fx * (1 - fy) +
                             Channel(texel(x, y + 1), c) * (1 - fx) * fy +
                             Channel(texel(x + 1, y + 1), c) * fx * fy));
  }
  return Argb(out[3], out[0], out[1], out[2]);
}

// One sample through the general path's sampler: coordinates divided per
// pixel, or (`affine`, wrapping only) stepped in wrapping fixed point.
uint32_t SampleAt(const DecodedTexture& level, double s, double t, bool bilinear, bool wrap,
                  bool affine = false) {
  const SharedTexture made = MakeDecodedTexture(level.width, level.height, level.texels);
  TriangleInputs tri;
  tri.state.sampler = {bilinear, wrap, wrap};
  tri.texture = MakeSampledTexture(made.get());
  tri.affine = affine && wrap && tri.texture.texels;
  SpanInputs span;
  span.count = 1;
  span.sow = float(s), span.tow = float(t), span.oow = 1;
  const double offset = bilinear ? kBilinearOffset : 0;
  span.u = WrapFixed(s * tri.texture.scale + offset, tri.texture.width_log2);
  span.v = WrapFixed(t * tri.texture.scale + offset, tri.texture.height_log2);
  Chunk c;
  SampleChunk(tri, span, 0, 1, c);
  return Argb(c.c[3][0], c.c[0][0], c.c[1][0], c.c[2][0]);
}

struct Size {
  int width, height;
  friend std::ostream& operator<<(std::ostream& out, Size z) {
    return out << z.width << "x" << z.height;
  }
};
class Sampling : public testing::TestWithParam<Size> {};

TEST_P(Sampling, FilteringMatchesRealArithmeticWithWrapAndClamp) {
  const DecodedTexture level = MakeLevel(GetParam().width, GetParam().height);
  Random random(3);
  for (int k = 0; k < 400; k++) {
    // s and t from -256 to 512 in 1/64 steps: across both wrap boundaries.
    const double s = random.Below(768 * 64) / 64.0 - 256, t = random.Below(768 * 64) / 64.0 - 256;
    for (bool bilinear : {true, false}) {
      for (bool wrap : {true, false}) {
        const uint32_t want = Reference(level, s, t, bilinear, wrap);
        for (bool affine : {false, true}) {
          const uint32_t got = SampleAt(level, s, t, bilinear, wrap, affine);
          ASSERT_TRUE(Near(got, want, 1))
              << "at s " << s << " t " << t << (bilinear ? " bilinear" : " point")
              << (wrap ? " wrap" : " clamp") << (affine ? " affine: " : ": ") << Hex(got)
              << ", expected " << Hex(want);
        }
      }
    }
  }
}

TEST_P(Sampling, TexelCentresGiveTheTexel) {
  const DecodedTexture level = MakeLevel(GetParam().width, GetParam().height);
  const double unit = 256.0 / std::max(level.width, level.height);  // s per texel
  for (int y = 0; y < level.height; y += 3) {
    for (int x = 0; x < level.width; x += 5) {
      for (bool bilinear : {true, false}) {
        for (bool affine : {false, true}) {
          EXPECT_EQ(SampleAt(level, (x + 0.5) * unit, (y + 0.5) * unit, bilinear, true, affine),
                    Pattern(x, y))
              << "texel (" << x << ", " << y << ")";
        }
      }
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Sizes, Sampling,
                         testing::Values(Size{256, 128}, Size{64, 64}, Size{16, 128}, Size{1, 1}));

TEST(Texturing, CornerOfTheTextureMixesTheWrappedNeighbours) {
  const DecodedTexture level = MakeLevel(64, 64);
  // s = t = 0 is the corner shared by texels (63, 63), (0, 63), (63, 0), (0, 0).
  int want[4];
  for (int c = 0; c < 4; c++) {
    want[c] = int(std::lround((Channel(Pattern(63, 63), c) + Channel(Pattern(0, 63), c) +
                               Channel(Pattern(63, 0), c) + Channel(Pattern(0, 0), c)) /
                              4.0));
  }
  EXPECT_TRUE(Near(SampleAt(level, 0, 0, true, true), Argb(want[3], want[0], want[1], want[2]), 1));
  EXPECT_EQ(SampleAt(level, 0, 0, true, false), Pattern(0, 0));
  EXPECT_EQ(SampleAt(level, 256 + 2, 0.5, false, true), Pattern(0, 0));
}

TEST(Texturing, NoTextureIsOpaqueWhite) {
  DecodedTexture odd;
  odd.width = 3;
  odd.height = 5;
  odd.texels.assign(15, 0);
  EXPECT_EQ(SampleAt(odd, 10, 10, true, true), 0xFFFFFFFFu);  // not a power of two
  TestBoard board;
  board.state.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                              GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
  board.state.render.alpha = board.state.render.color;
  DrawTriangle(board.state, TexVertex(0, 0, 0, 0), TexVertex(9, 0, 9, 0), TexVertex(0, 9, 0, 9));
  EXPECT_EQ(board.At(1, 1), 0xFFFFFFFFu);
}

// Textured triangles as a program draws them: linear s/w, t/w, 1/w across the
// screen, divided per pixel.
TEST(Texturing, TrianglesMapTextureCoordinatesPerspectiveCorrectly) {
  struct Corner {
    float x, y, s, t, w;
  };
  const Corner shapes[][3] = {
      {{100, 100, 0, 0, 100}, {500, 100, 256, 0, 100}, {500, 400, 256, 128, 100}},
      {{20, 30, -40, 10, 1}, {600, 50, 300, 0, 4}, {300, 470, 100, 200, 2}}};
  for (const auto& k : shapes) {
    int checked = 0;
    TestBoard board;
    board.SetTexture(256, 128, &Pattern);
    board.state.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                                GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
    board.state.render.alpha = board.state.render.color;
    DrawTriangle(board.state, TexVertex(k[0].x, k[0].y, k[0].s, k[0].t, k[0].w),
                 TexVertex(k[1].x, k[1].y, k[1].s, k[1].t, k[1].w),
                 TexVertex(k[2].x, k[2].y, k[2].s, k[2].t, k[2].w));
    const DecodedTexture& level = *board.state.tmu0.decoded;
    const double area =
        (k[1].x - k[0].x) * (k[2].y - k[0].y) - (k[1].y - k[0].y) * (k[2].x - k[0].x);
    for (int y = 0; y < kScreenHeight; y += 23) {
      for (int x = 0; x < kScreenWidth; x += 19) {
        const double px = x + 0.5, py = y + 0.5;
        double l[3], sum[3] = {0, 0, 0};
        for (int i = 0; i < 3; i++) {
          const Corner &a = k[(i + 1) % 3], &b = k[(i + 2) % 3];
          l[i] = ((b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x)) / area;
        }
        if (l[0] <= 0 || l[1] <= 0 || l[2] <= 0) continue;
        for (int i = 0; i < 3; i++) {
          sum[0] += l[i] * k[i].s / k[i].w;
          sum[1] += l[i] * k[i].t / k[i].w;
          sum[2] += l[i] / k[i].w;
        }
        const uint32_t want = Reference(level, sum[0] / sum[2], sum[1] / sum[2], true, true);
        EXPECT_TRUE(PixelNear(x, y, board.At(x, y), want, 1));
        checked++;
      }
    }
    EXPECT_GT(checked, 80);
  }
}

}  // namespace
}  // namespace softboard
