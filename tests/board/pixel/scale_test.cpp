// The 640x480 scene drawn on larger buffers: the same picture, sharper, and
// the fill rule kept on the finer grid; supersampled frames averaged down.
#include <hwy/targets.h>

#include <cmath>
#include <vector>

#include "board/pipeline_support.h"
#include "pixel/average_down.h"

namespace softboard {
namespace {

// Smooth, so that sampling a finer grid averages back to the same colour.
uint32_t Texel(int x, int y) {
  return 0xFF000000u | uint32_t(x) << 16 | uint32_t(y * 2) << 8 | uint32_t(x / 2 + y / 2);
}

// The demo's two triangles on a board showing width x height.
std::vector<uint32_t> DemoPicture(int width, int height, int ssaa = 1) {
  TestBoard board;
  InitFrameBuffers(board.state.frame, 2, width, height, ssaa);
  FrameBuffers& frame = board.state.frame;
  std::fill_n(BackRows(frame).Argb(), size_t(frame.width) * frame.height, 0x00FF0000u);
  board.SetTexture(256, 128, &Texel);
  board.state.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                              GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
  board.SetBlend(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO);
  const float xs[3] = {100, 500, 500}, ys[3] = {100, 100, 400}, ss[3] = {0, 256, 256},
              ts[3] = {0, 0, 128};
  GrVertex v[3];
  for (int i = 0; i < 3; i++) v[i] = TexVertex(xs[i], ys[i], ss[i], ts[i], 100);
  DrawTriangle(board.state, v[0], v[1], v[2]);
  board.state.render.color = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                              GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
  board.state.render.alpha = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                              GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
  board.state.render.constant = {0, 0, 0, 128};
  board.SetBlend(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
  for (int i = 0; i < 3; i++) {
    v[i].x += 30, v[i].y += 20;
    v[i].r = i == 0 ? 255 : 0, v[i].g = i == 1 ? 255 : 0, v[i].b = i == 2 ? 255 : 0;
  }
  DrawTriangle(board.state, v[0], v[1], v[2]);
  RotateBuffers(frame);
  return ImagePixels(ShownFrame(frame));
}

// Each channel of the k x k blocks of a picture averaged, rounded.
std::vector<uint32_t> Average(const std::vector<uint32_t>& p, int width, int k) {
  const int height = int(p.size()) / width;
  std::vector<uint32_t> out;
  for (int y = 0; y < height / k; y++) {
    for (int x = 0; x < width / k; x++) {
      uint32_t result = 0;
      for (int c = 0; c < 32; c += 8) {
        int sum = 0;
        for (int j = 0; j < k; j++) {
          for (int i = 0; i < k; i++)
            sum += int(p[size_t((y * k + j) * width + x * k + i)] >> c & 255);
        }
        result |= uint32_t((sum + k * k / 2) / (k * k)) << c;
      }
      out.push_back(result);
    }
  }
  return out;
}

// Near an edge of either triangle the finer grid rightly differs.
bool NearAnEdge(int x, int y) {
  const double px = x + 0.5, py = y + 0.5;
  for (double dx : {0.0, 30.0}) {
    const double dy = dx * 2 / 3;
    const double a = px - dx, b = py - dy;
    if (std::abs(b - 100) < 3 || std::abs(a - 500) < 3 || std::abs(0.75 * a - b + 25) < 4) {
      return true;
    }
  }
  return false;
}

TEST(Scale, LargerFramesAveragedDownMatchTheSceneAwayFromEdges) {
  const std::vector<uint32_t> base = DemoPicture(640, 480);
  for (int k : {2, 3, 4}) {
    const std::vector<uint32_t> big = Average(DemoPicture(640 * k, 480 * k), 640 * k, k);
    ASSERT_EQ(big.size(), base.size());
    int compared = 0;
    for (int y = 0; y < 480; y++) {
      for (int x = 0; x < 640; x++) {
        if (NearAnEdge(x, y)) continue;
        compared++;
        ASSERT_TRUE(PixelNear(x, y, big[size_t(y * 640 + x)], base[size_t(y * 640 + x)], 3))
            << "scale " << k;
      }
    }
    EXPECT_GT(compared, 280000);
  }
}

TEST(Scale, SupersamplingIsTheAverageOfTheLargerFrame) {
  const std::vector<uint32_t> big = DemoPicture(1280, 960);
  EXPECT_EQ(DemoPicture(640, 480, 2), Average(big, 1280, 2));
  const std::vector<uint32_t> bigger = DemoPicture(2560, 1920);
  EXPECT_EQ(DemoPicture(640, 480, 4), Average(bigger, 2560, 4));
}

// Two triangles sharing an edge, added into the buffer: at every scale, every
// pixel along the edge is drawn exactly once.
TEST(Scale, SharedEdgesAreCoveredOnceAtEveryScale) {
  for (double scale : {1.0, 1.5, 2.25, 3.0, 4.0}) {
    const int width = int(std::lround(640 * scale)), height = int(std::lround(480 * scale));
    TestBoard board;
    InitFrameBuffers(board.state.frame, 2, width, height);
    board.UseIterated();
    board.SetBlend(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    const GrVertex a = Vertex(10.3f, 7.1f, 1, 1, 1, 1), b = Vertex(600.7f, 33.9f, 1, 1, 1, 1),
                   c = Vertex(97.2f, 460.5f, 1, 1, 1, 1), d = Vertex(630.1f, 470.6f, 1, 1, 1, 1);
    DrawTriangle(board.state, a, b, c);
    DrawTriangle(board.state, b, d, c);
    const uint32_t* p = BackRows(board.state.frame).Argb();
    for (size_t i = 0; i < size_t(width) * height; i++) {
      ASSERT_TRUE(p[i] == 0 || p[i] == 0x01010101u) << "scale " << scale << ": pixel (" << i % width
                                                    << ", " << i / width << ") is " << Hex(p[i]);
    }
  }
}

TEST(AverageDown, EveryTargetRoundsEachChannelOfTheBlock) {
  Random random(9);
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    for (int ssaa : {2, 4}) {
      const int width = 37 * ssaa, height = 5 * ssaa;  // an odd width: a tail on every target
      std::vector<uint32_t> p(size_t(width) * height);
      for (uint32_t& v : p) v = random.Next() ^ random.Next() << 16;
      std::vector<uint32_t> got(size_t(width / ssaa) * (height / ssaa));
      AverageDown(p.data(), width, height, ssaa, got.data());
      EXPECT_EQ(got, Average(p, width, ssaa)) << hwy::TargetName(target) << " ssaa " << ssaa;
    }
  }
  hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
}  // namespace softboard
