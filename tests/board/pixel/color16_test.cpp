// The 16-bit colour buffer: 5-6-5 values widened by bit repetition, an
// ordered dither whose cells average to the 8-bit colour, and the same
// quantisation on every SIMD target.
#include <hwy/targets.h>

#include <vector>

#include "board/pipeline_support.h"
#include "pixel/average_down.h"
#include "pixel/rgb565.h"

namespace softboard {
namespace {

constexpr int kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// floor(c * L / 255 + t / 16) in exact integers, widened by repeating bits.
uint32_t Expected(int c, int bits, int t) {
  const int levels = (1 << bits) - 1;
  const int v = (16 * c * levels + 255 * t) / (16 * 255);
  return uint32_t(v << (8 - bits) | v >> (2 * bits - 8));
}

bool IsWidened565(uint32_t p) {
  const uint32_t r = p >> 19 & 31, g = p >> 10 & 63, b = p >> 3 & 31;
  return (p & 0x00FFFFFF) == ((r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2));
}

TEST(Color16, EachChannelTakesTheLevelOfTheFormula) {
  for (int c = 0; c < 256; c++) {
    for (int t = 0; t < 16; t++) {
      ASSERT_EQ(Quantize565(uint32_t(c), 5, DitherOffset(uint32_t(t))), Expected(c, 5, t))
          << c << " " << t;
      ASSERT_EQ(Quantize565(uint32_t(c), 6, DitherOffset(uint32_t(t))), Expected(c, 6, t))
          << c << " " << t;
    }
  }
  // Threshold 8 rounds to nearest; the background red is exact.
  EXPECT_EQ(Nearest565(0x00FF0000u), 0x00FF0000u);
  EXPECT_EQ(Nearest565(0x7F808080u), 0x7F848284u) << "alpha kept; 128 is nearest 16/31 and 32/63";
}

TEST(Color16, EveryTargetQuantisesAsThePlainArithmetic) {
  Random random(17);
  std::vector<uint32_t> pixels(77), thresholds(77);
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    for (int k = 0; k < 20; k++) {
      for (size_t i = 0; i < pixels.size(); i++) {
        pixels[i] = random.Next() ^ random.Next() << 16;
        const uint32_t t = DitherOffset(uint32_t(random.Below(16)));
        thresholds[i] = t | t << 16;
      }
      std::vector<uint32_t> got = pixels;
      DitherSpan(got.data(), int(got.size()), thresholds.data());
      // Packed to 16 bits and an alpha byte, and widened back: the same.
      std::vector<uint16_t> rgb(pixels.size());
      std::vector<uint8_t> alpha(pixels.size());
      std::vector<uint32_t> widened(pixels.size());
      Pack565(pixels.data(), int(pixels.size()), thresholds.data(), rgb.data(), alpha.data());
      Widen565(rgb.data(), alpha.data(), int(pixels.size()), widened.data());
      for (size_t i = 0; i < pixels.size(); i++) {
        const uint32_t p = pixels[i], t = thresholds[i] & 0xFFFF;
        const uint32_t want = (p & 0xFF000000u) | Quantize565(p >> 16 & 255, 5, t) << 16 |
                              Quantize565(p >> 8 & 255, 6, t) << 8 | Quantize565(p & 255, 5, t);
        ASSERT_EQ(got[i], want) << hwy::TargetName(target) << " pixel " << i;
        ASSERT_EQ(rgb[i], Level565(p >> 16 & 255, 5, t) << 11 | Level565(p >> 8 & 255, 6, t) << 5 |
                              Level565(p & 255, 5, t))
            << hwy::TargetName(target) << " pixel " << i;
        ASSERT_EQ(widened[i], want) << hwy::TargetName(target) << " pixel " << i;
      }
    }
  }
  hwy::SetSupportedTargetsForTest(0);
}

// A flat colour over a large triangle, drawn on a 16-bit board at `scale`.
std::vector<uint32_t> FlatPicture(Rgba8 color, int matrix, int scale) {
  TestBoard board;
  InitFrameBuffers(board.state.frame, 2, 640 * scale, 480 * scale);
  SetColorDepth(board.state.frame, 16, matrix);
  board.state.render.color = {GR_COMBINE_FUNCTION_LOCAL, 0, GR_COMBINE_LOCAL_CONSTANT, 0, false};
  board.state.render.alpha = board.state.render.color;
  board.state.render.constant = color;
  DrawTriangle(board.state, Vertex(-10, -10), Vertex(700, -10), Vertex(-10, 500));
  const FrameBuffers& frame = board.state.frame;
  EXPECT_EQ(frame.layout, PixelLayout::kRgb565);
  return ImagePixels(BackRows(frame));
}

TEST(Color16, FlatColoursDitherToTheMatrixAndAverageBackWithinOne) {
  for (int scale : {1, 3}) {
    const Rgba8 grey{128, 77, 200, 255};
    const std::vector<uint32_t> p = FlatPicture(grey, 4, scale);
    const int width = 640 * scale;
    for (uint32_t v : p) ASSERT_TRUE(IsWidened565(v)) << Hex(v);
    // The pattern is the matrix, a scene pixel a cell: scale x scale pixels.
    for (int y = 0; y < 16 * scale; y++) {
      for (int x = 0; x < 16 * scale; x++) {
        const int t = kBayer4[(y / scale) & 3][(x / scale) & 3];
        const uint32_t want =
            Expected(128, 5, t) << 16 | Expected(77, 6, t) << 8 | Expected(200, 5, t);
        ASSERT_EQ(p[size_t(y * width + x)] & 0xFFFFFF, want) << "(" << x << ", " << y << ")";
      }
    }
    // Each 4x4 cell of the scene averages to the 8-bit colour, within 1.
    for (int cy = 0; cy < 8; cy++) {
      for (int cx = 0; cx < 8; cx++) {
        double sum[3] = {};
        for (int y = 0; y < 4 * scale; y++) {
          for (int x = 0; x < 4 * scale; x++) {
            const uint32_t v = p[size_t((cy * 4 * scale + y) * width + cx * 4 * scale + x)];
            for (int c = 0; c < 3; c++) sum[c] += v >> (16 - 8 * c) & 255;
          }
        }
        const double n = 16.0 * scale * scale;
        EXPECT_NEAR(sum[0] / n, 128, 1.0);
        EXPECT_NEAR(sum[1] / n, 77, 1.0);
        EXPECT_NEAR(sum[2] / n, 200, 1.0);
      }
    }
  }
}

TEST(Color16, WithoutDitherEveryPixelIsTheNearestValue) {
  const std::vector<uint32_t> p = FlatPicture({128, 77, 200, 255}, 0, 1);
  const uint32_t nearest = Nearest565(0xFF804DC8u) & 0xFFFFFF;
  for (int y = 0; y < 100; y++) {
    for (int x = 0; x < 100; x++) ASSERT_EQ(p[size_t(y * 640 + x)] & 0xFFFFFF, nearest);
  }
  const std::vector<uint32_t> two = FlatPicture({128, 77, 200, 255}, 2, 1);
  EXPECT_NE(two[0] & 0xFFFFFF, two[1] & 0xFFFFFF) << "2x2 cells differ";
  EXPECT_EQ(two[0], two[2]) << "and repeat every 2 pixels";
}

}  // namespace
}  // namespace softboard
