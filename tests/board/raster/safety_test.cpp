#include <cmath>
#include <limits>

#include "board/pipeline_support.h"

namespace softboard {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Unsafe {
  const char* name;
  float p[3][2];
  friend std::ostream& operator<<(std::ostream& out, const Unsafe& k) { return out << k.name; }
};

const Unsafe kNothingDrawn[] = {
    {"NaN x", {{kNaN, 10}, {100, 10}, {50, 90}}},
    {"NaN y", {{10, 10}, {100, kNaN}, {50, 90}}},
    {"infinite", {{10, 10}, {kInf, 10}, {50, 90}}},
    {"minus infinite", {{-kInf, -kInf}, {100, 10}, {50, 90}}},
    {"beyond the guard band", {{-1e30f, 0}, {1e30f, 0}, {0, 1e30f}}},
    {"just beyond the guard band", {{-5e6f, -5e6f}, {5e6f, -5e6f}, {0, 5e6f}}},
    {"left of the screen", {{-300, 10}, {-0.6f, 200}, {-100, 470}}},
    {"below the screen", {{10, 480.5f}, {600, 481}, {300, 2000}}},
    {"above and right", {{641, -1}, {2000, -900}, {650, -3}}},
    {"a point", {{50.25f, 50.25f}, {50.25f, 50.25f}, {50.25f, 50.25f}}},
    {"collinear", {{10, 10}, {100, 100}, {300, 300}}},
    {"collinear once snapped", {{10, 10}, {300, 10.01f}, {600, 10}}},
    {"sliver between centres", {{0, 10.6f}, {639, 10.9f}, {639, 10.7f}}},
    {"tiny between centres", {{30.6f, 30.6f}, {30.9f, 30.6f}, {30.6f, 30.9f}}},
};

class NothingDrawn : public testing::TestWithParam<Unsafe> {};

TEST_P(NothingDrawn, AndNoBufferChanges) {
  const Unsafe& k = GetParam();
  TestBoard board(0x12345678);
  board.UseIterated();
  board.SetTexture(8, 8, [](int, int) { return 0xFFFFFFFFu; });
  const std::vector<uint32_t> front = ImagePixels(FrontRows(board.state.frame));
  for (bool reversed : {false, true}) {
    GrVertex v[3];
    for (int i = 0; i < 3; i++) v[i] = Vertex(k.p[i][0], k.p[i][1], 255, 255, 255, 255);
    DrawTriangle(board.state, v[0], reversed ? v[2] : v[1], reversed ? v[1] : v[2]);
  }
  for (int y = 0; y < kScreenHeight; y++) {
    for (int x = 0; x < kScreenWidth; x++) {
      ASSERT_EQ(board.At(x, y), 0x12345678u) << k.name << ": pixel (" << x << ", " << y << ")";
    }
  }
  EXPECT_EQ(ImagePixels(FrontRows(board.state.frame)), front);
}
INSTANTIATE_TEST_SUITE_P(Vertices, NothingDrawn, testing::ValuesIn(kNothingDrawn));

TEST(Unsafe, HugeTrianglesWithinTheGuardBandCoverTheScreenOnce) {
  TestBoard board;
  board.UseIterated();
  board.SetBlend(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
  const GrVertex a = Vertex(-4e6f, -3e6f, 1, 1, 1, 1), b = Vertex(4e6f, -3.5e6f, 1, 1, 1, 1),
                 c = Vertex(3e6f, 4e6f, 1, 1, 1, 1), d = Vertex(-4e6f, 3e6f, 1, 1, 1, 1);
  DrawTriangle(board.state, a, b, c);
  DrawTriangle(board.state, a, c, d);
  for (int y = 0; y < kScreenHeight; y++) {
    for (int x = 0; x < kScreenWidth; x++)
      ASSERT_TRUE(PixelNear(x, y, board.At(x, y), 0x01010101, 0));
  }
}

TEST(Unsafe, BadColoursAndTextureCoordinatesDrawSafely) {
  TestBoard board;
  board.UseIterated();
  // Colours: NaN gives 0, beyond the range clamps.
  DrawTriangle(board.state, Vertex(0, 0, kNaN, 1e9f, -kInf, 300),
               Vertex(64, 0, kNaN, 1e9f, -kInf, 300), Vertex(0, 64, kNaN, 1e9f, -kInf, 300));
  EXPECT_TRUE(PixelNear(5, 5, board.At(5, 5), Argb(255, 0, 255, 0), 0));

  // Texture coordinates that are not finite, huge, or divided by a w that
  // changes sign inside the triangle: whatever is sampled, nothing breaks and
  // nothing outside the triangle is written.
  board.Fill(0x12345678);
  board.SetTexture(256, 128, [](int x, int y) { return uint32_t(x ^ y); });
  board.state.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                              GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
  for (bool bilinear : {true, false}) {
    for (bool wrap : {true, false}) {
      board.state.tmu0.mode.min_bilinear = board.state.tmu0.mode.mag_bilinear = bilinear;
      board.state.tmu0.mode.wrap_s = board.state.tmu0.mode.wrap_t = wrap;
      GrVertex v[3] = {TexVertex(0, 0, kNaN, 0), TexVertex(639, 0, 1e30f, -kInf),
                       TexVertex(0, 479, 3e38f, 1, -1)};
      DrawTriangle(board.state, v[0], v[1], v[2]);
      v[0].tmuvtx[0] = {0, 0, 1};
      v[1].tmuvtx[0] = {1e20f, -1e20f, -1};
      v[2].tmuvtx[0] = {-3e38f, 3e38f, 0};
      DrawTriangle(board.state, v[0], v[1], v[2]);
    }
  }
  int inside_changed = 0;
  for (int y = 0; y < kScreenHeight; y++) {
    for (int x = 0; x < kScreenWidth; x++) {
      const double edge = (x + 0.5) / 639.0 + (y + 0.5) / 479.0;
      if (edge > 1.01) {
        ASSERT_EQ(board.At(x, y), 0x12345678u) << "pixel (" << x << ", " << y << ")";
      }
      if (edge < 0.99) inside_changed += board.At(x, y) != 0x12345678u;
    }
  }
  EXPECT_GT(inside_changed, 1000) << "the triangles were drawn";
}

TEST(Unsafe, NoBuffersDrawsNothing) {
  BoardState board;  // never opened: no colour buffers
  DrawTriangle(board, Vertex(0, 0), Vertex(100, 0), Vertex(0, 100));
  EXPECT_EQ(board.frame.color[1].data(), nullptr);
}

}  // namespace
}  // namespace softboard
