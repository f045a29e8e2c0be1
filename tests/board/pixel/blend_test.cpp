#include "pixel/blend.h"

#include <algorithm>
#include <cmath>

#include "board/pipeline_support.h"

namespace softboard {
namespace {

constexpr int kN = kChunk;

// Factor in 0..255 for channel c (3 is alpha), by the blend table.
int Factor(int factor, bool source, int c, int s, int sa, int d, int da) {
  const int colour = source ? d : s;  // SRC_COLOR names DST_COLOR as a source factor
  switch (factor) {
    case GR_BLEND_SRC_ALPHA: return sa;
    case GR_BLEND_SRC_COLOR: return colour;
    case GR_BLEND_DST_ALPHA: return da;
    case GR_BLEND_ONE: return 255;
    case GR_BLEND_ONE_MINUS_SRC_ALPHA: return 255 - sa;
    case GR_BLEND_ONE_MINUS_SRC_COLOR: return 255 - colour;
    case GR_BLEND_ONE_MINUS_DST_ALPHA: return 255 - da;
    case GR_BLEND_ALPHA_SATURATE: return !source ? 0 : c < 3 ? std::min(sa, 255 - da) : 255;
    default: return 0;
  }
}

// One rounding of the exact sum: the factors are whole numbers 0..255, so the
// result is exactly the nearest integer, never just within 1.
TEST(Blend, EveryFactorPairRoundsTheExactSumOnce) {
  Random random(11);
  Chunk src;
  uint32_t dst[kN];
  for (int i = 0; i < kN; i++) {
    for (auto& ch : src.c) ch[i] = uint8_t(i < 2 ? 255 * i : random.Below(256));
    dst[i] = i < 2 ? 0xFFFFFFFFu * uint32_t(1 - i) : random.Next() ^ (random.Next() << 8);
  }
  const int factors[] = {0, 1, 2, 3, 4, 5, 6, 7, 0xF, 9};
  for (int rs : factors) {
    for (int rd : factors) {
      for (int as : factors) {
        for (int ad : factors) {
          {
            uint32_t out[kN];
            std::copy(dst, dst + kN, out);
            BlendPixels({rs, rd, as, ad}, src, kN, out);
            for (int i = 0; i < kN; i++) {
              const int d[4] = {int(dst[i] >> 16 & 255), int(dst[i] >> 8 & 255), int(dst[i] & 255),
                                int(dst[i] >> 24)};
              const int sa = src.c[3][i];
              int want[4];
              for (int c = 0; c < 4; c++) {
                const int sc = src.c[c][i];
                const int fs = Factor(c < 3 ? rs : as, true, c, sc, sa, d[c], d[3]);
                const int fd = Factor(c < 3 ? rd : ad, false, c, sc, sa, d[c], d[3]);
                want[c] = int(std::lround(std::min(255.0, (sc * fs + d[c] * fd) / 255.0)));
              }
              ASSERT_TRUE(PixelNear(i, 0, out[i], Argb(want[3], want[0], want[1], want[2]), 0))
                  << "factors " << rs << " " << rd << " " << as << " " << ad;
            }
          }
        }
      }
    }
  }
}

// Rounding each product on its own (round(s*a/255) + round(d*(255-a)/255))
// shifts the mean colour at opacities near 0 and 255; one rounding of the sum
// does not. Over every source and destination value the mean error stays tiny.
TEST(Blend, SourceAlphaHasNoMeanBiasAtAnyOpacity) {
  for (int a : {1, 2, 127, 128, 253, 254}) {
    double total_error = 0;
    int n = 0;
    Chunk src;
    for (int s0 = 0; s0 < 256; s0 += kN) {
      for (int i = 0; i < kN; i++) {
        src.c[0][i] = src.c[1][i] = src.c[2][i] = uint8_t(s0 + i);
        src.c[3][i] = uint8_t(a);
      }
      for (int d = 0; d < 256; d++) {
        uint32_t out[kN];
        std::fill_n(out, kN, Argb(0, d, d, d));
        BlendPixels(
            {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO}, src,
            kN, out);
        for (int i = 0; i < kN; i++) {
          const double exact = ((s0 + i) * a + d * (255 - a)) / 255.0;
          total_error += int(out[i] & 255) - exact;
          n++;
        }
      }
    }
    EXPECT_LT(std::abs(total_error / n), 0.01) << "opacity " << a;
  }
}

class Opacity : public testing::TestWithParam<int> {};

TEST_P(Opacity, SourceAlphaMixesSourceAndDestination) {
  const int a = GetParam();
  const uint32_t dst = Argb(0x12, 0x40, 0x80, 0xC0);
  TestBoard board(dst);
  board.UseIterated();
  board.state.render.alpha = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                              GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, false};
  board.state.render.constant = {0, 0, 0, uint8_t(a)};
  board.SetBlend(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
  const GrVertex v[3] = {Vertex(0, 0, 200, 100, 0), Vertex(64, 0, 200, 100, 0),
                         Vertex(0, 64, 200, 100, 0)};
  DrawTriangle(board.state, v[0], v[1], v[2]);
  const auto mix = [a](int s, int d) { return int(std::lround((s * a + d * (255 - a)) / 255.0)); };
  const uint32_t want = Argb(0, mix(200, 0x40), mix(100, 0x80), mix(0, 0xC0));
  for (int y = 0; y < 32; y += 7) {
    for (int x = 0; x < 32; x += 5) EXPECT_TRUE(PixelNear(x, y, board.At(x, y), want, 1));
  }
  EXPECT_EQ(board.At(63, 63), dst);
}
INSTANTIATE_TEST_SUITE_P(Alphas, Opacity, testing::Values(0, 128, 255));

}  // namespace
}  // namespace softboard
