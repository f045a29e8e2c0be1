// The fused depth loops against the general one, on every SIMD target this
// CPU runs: the same pixels and the same depths, bit for bit, for random
// states of every test, fog and depth mode, spans of every length and
// alignment, and nothing written outside the span; then whole triangles.
#include <hwy/targets.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "api/frame_drawing.h"
#include "board/pipeline_support.h"
#include "pixel/fused_depth.h"
#include "pixel/rgb565.h"
#include "pixel/sampler.h"
#include "pixel/span_general.h"
#include "raster/row_spans.h"
#include "raster/triangle.h"

namespace softboard {
namespace {

constexpr CombineState kColors[] = {
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
     GR_COMBINE_OTHER_TEXTURE, false},
    {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_TEXTURE, false},
    {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_ITERATED, false},
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_TEXTURE, false},
};
constexpr CombineState kAlphas[] = {
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
     GR_COMBINE_OTHER_CONSTANT, false},
    {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_TEXTURE, false},
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_TEXTURE, false},
};
constexpr BlendState kBlends[] = {
    {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO},
    {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO},
    {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ONE},
    {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO},
};
constexpr int kSizes[][2] = {{256, 128}, {8, 64}, {1, 1}, {64, 64}};

uint32_t Texel(int x, int y) {
  uint32_t h = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  // Some texels the chroma key will find.
  return (h & 7) == 0 ? (h & 0xFF000000u) | 0x00FF00FFu : h;
}

struct Case {
  PixelState state;
  SharedTexture level;
};

Case MakeCase(Random& random) {
  Case c;
  PixelState& s = c.state;
  s.color = kColors[random.Below(4)];
  s.alpha = kAlphas[random.Below(3)];
  s.blend = kBlends[random.Below(4)];
  s.constant = {uint8_t(random.Below(256)), uint8_t(random.Below(256)), uint8_t(random.Below(256)),
                uint8_t(random.Below(256))};
  s.perspective = random.Below(2) == 1;
  PipelineState& p = s.pipeline;
  const int depth = random.Below(4);
  p.depth.mode = depth == 0   ? GR_DEPTHBUFFER_DISABLE
                 : depth == 1 ? GR_DEPTHBUFFER_ZBUFFER
                 : depth == 2 ? GR_DEPTHBUFFER_WBUFFER
                              : GR_DEPTHBUFFER_ZBUFFER_COMPARE_TO_BIAS + random.Below(2);
  p.depth.function = random.Below(8);
  p.depth.write = random.Below(3) != 0;
  p.depth.bias = int16_t(random.Below(3) == 0 ? random.Below(65536) - 32768 : 0);
  if (random.Below(2)) {
    p.alpha_function = random.Below(8);
    p.alpha_reference = uint8_t(random.Below(256));
  }
  if (random.Below(3) == 0) {
    p.chroma_key = true;
    p.key = random.Below(2) ? Rgba8{255, 0, 255, 0}
                            : Rgba8{uint8_t(random.Below(256)), uint8_t(random.Below(256)),
                                    uint8_t(random.Below(256)), 0};
  }
  if (random.Below(2)) {
    p.fog.source = random.Below(2) ? FogSource::kTable : FogSource::kIteratedAlpha;
    p.fog.apply = FogApply(random.Below(3));
    p.fog.color = {uint8_t(random.Below(256)), uint8_t(random.Below(256)),
                   uint8_t(random.Below(256)), uint8_t(random.Below(256))};
    for (uint8_t& e : p.fog.table) e = uint8_t(random.Below(256));
  }
  if (PlainPipeline(p)) p.alpha_function = GR_CMP_GEQUAL;  // these loops draw the rest
  const auto& size = kSizes[random.Below(4)];
  std::vector<uint32_t> texels;
  for (int y = 0; y < size[1]; y++) {
    for (int x = 0; x < size[0]; x++) texels.push_back(Texel(x, y));
  }
  c.level = MakeDecodedTexture(size[0], size[1], std::move(texels));
  return c;
}

SpanInputs MakeSpan(Random& random, uint32_t* row, uint16_t* depth, int x0, int count) {
  SpanInputs s;
  s.row = row;
  s.depth = depth;
  s.x0 = x0;
  s.count = count;
  for (int c = 0; c < 4; c++) {
    s.color[c] = uint32_t(random.Below(300 << 8)) << 8;
    s.color_step[c] = uint32_t(random.Below(16 << 16) - (8 << 16));
  }
  s.u = random.Next() << 8 ^ random.Next();
  s.v = random.Next() << 8 ^ random.Next();
  s.du = uint32_t(random.Below(1 << 24) - (1 << 23)) << random.Below(8);
  s.dv = uint32_t(random.Below(1 << 24) - (1 << 23)) << random.Below(8);
  s.oow = 0.25f + float(random.Below(1000)) / 250;
  s.doow = (float(random.Below(200)) - 100) / 40000;
  s.sow = (float(random.Below(2000)) - 1000) * s.oow;
  s.tow = (float(random.Below(2000)) - 1000) * s.oow;
  s.dsow = (float(random.Below(400)) - 200) / 64;
  s.dtow = (float(random.Below(400)) - 200) / 64;
  // Depths near the stored ones, so that every comparison goes both ways.
  s.z = uint32_t(random.Below(70000) - 2000) << kDepthFraction;
  s.dz = uint32_t(random.Below(1 << 20) - (1 << 19));
  s.q = std::ldexp(float(random.Below(1 << 20) + 1) / float(1 << 20), -random.Below(18));
  s.dq = s.q * (float(random.Below(200)) - 100) / 20000;
  return s;
}

// A board in the case's state, its pixels and depths all different.
void SetUpBoard(const Case& c, TestBoard* b) {
  uint32_t* p = BackRows(b->state.frame).Argb();
  for (int i = 0; i < kScreenPixels; i++) p[i] = uint32_t(i) * 2246822519u;
  b->SetTexture(c.level->width, c.level->height, &Texel);
  b->state.render.color = c.state.color;
  b->state.render.alpha = c.state.alpha;
  b->state.render.blend = c.state.blend;
  b->state.render.constant = c.state.constant;
  b->state.render.pipeline = c.state.pipeline;
  b->state.frame.depth_wanted = true;
  const DepthRows depth = DepthBuffer(b->state.frame);
  for (int i = 0; i < kScreenPixels; i++) depth.plane[i] = uint16_t(i * 2654435761u >> 16);
}

// Whether two boards hold the same pixels and depths; where not, the first
// that differs.
testing::AssertionResult SameBoards(TestBoard& fast, TestBoard& general) {
  const uint16_t* fd = MadeDepthBuffer(fast.state.frame).plane;
  const uint16_t* gd = MadeDepthBuffer(general.state.frame).plane;
  for (int y = 0; y < kScreenHeight; y++) {
    for (int x = 0; x < kScreenWidth; x++) {
      const int i = y * kScreenWidth + x;
      if (fast.At(x, y) != general.At(x, y) || fd[i] != gd[i]) {
        return testing::AssertionFailure()
               << "(" << x << ", " << y << ") is " << Hex(fast.At(x, y)) << " at depth " << fd[i]
               << ", the general path gives " << Hex(general.At(x, y)) << " at " << gd[i];
      }
    }
  }
  return testing::AssertionSuccess();
}

class FusedDepthLoops : public testing::TestWithParam<int64_t> {
 protected:
  void SetUp() override { hwy::SetSupportedTargetsForTest(GetParam()); }
  void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

TEST_P(FusedDepthLoops, EveryStateMatchesTheGeneralLoopBitForBit) {
  const bool scalar = GetParam() == HWY_SCALAR;
  Random random(uint32_t(GetParam() % 1000003) + 17);
  constexpr int kGuard = 24, kWidth = 640 + 2 * kGuard;
  int fused = 0;
  for (int k = 0; k < 1500; k++) {
    Case c = MakeCase(random);
    TriangleInputs tri;
    tri.state = c.state;
    tri.reads = InputsOf(tri.state);
    tri.texture = MakeSampledTexture(c.level.get());
    tri.affine = !tri.state.perspective;
    FusedDepth depth;
    if (!MatchFusedDepth(tri.state, &tri.fused, &depth)) continue;
    if (tri.fused.coords != Coords::kNone)
      tri.fused.coords = tri.affine ? Coords::kAffine : Coords::kPerspective;
    const SpanLoop loop = ChooseFusedDepthLoop(tri.fused, depth, PixelLayout::kArgb8888);
    ASSERT_EQ(loop == nullptr, scalar);
    if (!loop) continue;
    const int x0 = kGuard + random.Below(16);
    const int count = k < 900 ? 1 + k % 19 : 1 + random.Below(600);
    std::vector<uint32_t> want(kWidth), got;
    std::vector<uint16_t> want_depth(kWidth), got_depth;
    for (uint32_t& p : want) p = random.Next() ^ random.Next() << 12;
    for (uint16_t& z : want_depth) z = uint16_t(random.Next());
    got = want;
    got_depth = want_depth;
    SpanInputs span = MakeSpan(random, want.data(), want_depth.data(), x0, count);
    std::vector<uint32_t> offsets(kWidth + kDitherReadPast);
    for (uint32_t& o : offsets) o = DitherOffset(uint32_t(random.Below(16))) * 0x10001u;
    if (k % 3 == 0) span.dither = offsets.data();
    if (k % 37 == 0) span.q = span.dq = 0;
    if (k % 41 == 0) span.dz = 0x7FFFFFFF;
    DrawSpanGeneral(tri, span);
    span.row = got.data();
    span.depth = got_depth.data();
    loop(tri, span);
    fused++;
    const std::string where = "target " + std::string(hwy::TargetName(GetParam())) + ", case " +
                              std::to_string(k) + ", span " + std::to_string(x0) + "+" +
                              std::to_string(count);
    for (int x = 0; x < kWidth; x++) {
      ASSERT_EQ(got[size_t(x)], want[size_t(x)])
          << where << ": pixel " << x << " is " << Hex(got[size_t(x)])
          << ", the general loop gives " << Hex(want[size_t(x)]);
      ASSERT_EQ(got_depth[size_t(x)], want_depth[size_t(x)]) << where << ": depth " << x;
    }
  }
  if (!scalar) {
    EXPECT_GT(fused, 600);
  }
}

// Whole triangles through the drawing call, fast against general.
TEST_P(FusedDepthLoops, TrianglesMatchTheGeneralPath) {
  Random random(31);
  for (int k = 0; k < 40; k++) {
    Case c = MakeCase(random);
    TestBoard fast, general;
    for (TestBoard* b : {&fast, &general}) SetUpBoard(c, b);
    GrVertex v[3];
    for (int i = 0; i < 3; i++) {
      const float w = c.state.perspective ? 1 + float(random.Below(300)) : 1;
      v[i] = TexVertex(float(random.Below(900)) - 130, float(random.Below(700)) - 110,
                       float(random.Below(700)) - 200, float(random.Below(700)) - 200, w);
      v[i].r = float(random.Below(256)), v[i].g = float(random.Below(256));
      v[i].b = float(random.Below(256)), v[i].a = float(random.Below(256));
      v[i].ooz = float(random.Below(65536));
    }
    DrawTriangle(fast.state, v[0], v[1], v[2]);
    DrawTriangle(general.state, v[0], v[1], v[2], SpanLoops::kGeneralOnly);
    ASSERT_TRUE(SameBoards(fast, general)) << "case " << k;
  }
}

// Small triangles, as a z-buffered object of thousands has them, drawn band
// by band as frames are (each band's rows starting part way down a triangle)
// through the loop over a triangle's rows, against the general loop drawing
// each whole: the same pixels and depths. A third of the cases quantise to
// 16-bit colour through a dither matrix.
TEST_P(FusedDepthLoops, SmallTrianglesDrawnInBandsMatchTheGeneralPath) {
  Random random(uint32_t(GetParam() % 1000003) + 77);
  std::vector<uint32_t> offsets[4];
  for (auto& row : offsets) {
    row.resize(kScreenWidth + kDitherReadPast);
    for (uint32_t& o : row) o = DitherOffset(uint32_t(random.Below(16))) * 0x10001u;
  }
  int with_rows_loop = 0, widths[3] = {}, tall = 0, walked = 0;
  for (int k = 0; k < 60; k++) {
    Case c = MakeCase(random);
    TestBoard fast, general;
    for (TestBoard* b : {&fast, &general}) SetUpBoard(c, b);
    TriangleTarget target = BackTarget(fast.state.frame);
    if (k % 3 == 0)
      for (int i = 0; i < 4; i++) target.dither[i] = offsets[i].data();
    PreparedTriangle other;
    const bool have_other = PrepareTriangle(
        target, fast.state.render, fast.state.tmu0, TexVertex(-10, -10, 0, 0, 1),
        TexVertex(1400, -10, 0, 0, 1), TexVertex(-10, 1100, 0, 0, 1), SpanLoops::kBest, &other);
    for (int n = 0; n < 40; n++) {
      const float cx = float(random.Below(660)) - 10, cy = float(random.Below(500)) - 10;
      const float extent = 1 + float(random.Below(n % 4 == 0 ? 40 : 16));
      GrVertex v[3];
      for (int i = 0; i < 3; i++) {
        const float w = c.state.perspective ? 1 + float(random.Below(40)) / 8 : 1;
        v[i] = TexVertex(cx + extent * (float(random.Below(1000)) / 1000 - 0.5f),
                         cy + extent * (float(random.Below(1000)) / 1000 - 0.5f),
                         float(random.Below(700)) - 200, float(random.Below(700)) - 200, w);
        v[i].r = float(random.Below(256)), v[i].g = float(random.Below(256));
        v[i].b = float(random.Below(256)), v[i].a = float(random.Below(256));
        v[i].ooz = float(random.Below(65536));
        v[i].oow = 1 / w;
      }
      if (n % 5 == 1) {  // constant planes (a flat alpha, one colour; a 1/w of -0)
        v[1].a = v[2].a = v[0].a;
        v[1].g = v[2].g = v[0].g;
        if (n % 10 == 1) v[0].oow = v[1].oow = v[2].oow = -0.0f;
      }
      if (n == 7 && k % 10 == 0) {  // over the screen, its edges far off: too large for the lanes
        v[0].x = -4e6f, v[0].y = -4e6f;
        v[1].x = 4e6f, v[1].y = -3e6f;
        v[2].x = cx, v[2].y = 4e6f;
      }
      if (n % 13 == 5) {  // values the planes must hold in range, as every loop holds them
        v[0].r = std::nanf("");
        v[1].g = 1e30f;
        v[2].ooz = -1e30f;
        v[1].a = std::numeric_limits<float>::infinity();
      }
      PreparedTriangle t, g;
      if (!PrepareTriangle(target, fast.state.render, fast.state.tmu0, v[0], v[1], v[2],
                           SpanLoops::kBest, &t))
        continue;
      with_rows_loop += t.rows_loop != nullptr;
      // The rows loop lays rows of up to 4 and up to 8 pixels out in lanes of
      // their own, and packs wider ones: each kind is drawn here.
      int widest = 0;
      RowWalker walker(t.setup, t.setup.row_begin);
      for (int row = t.setup.row_begin; row < t.setup.row_end; row++, walker.Next()) {
        int x0, x1;
        if (walker.Span(x0, x1)) widest = std::max(widest, x1 - x0);
      }
      if (t.rows_loop) widths[widest <= 4 ? 0 : widest <= 8 ? 1 : 2]++;
      // Bands of 8 rows and of 32 (up to 16 of a triangle's rows in a batch).
      const int band = n % 2 == 0 ? 8 : 32;
      tall += t.rows_loop && band > 8 && t.setup.row_end - t.setup.row_begin > 8;
      int32_t x0s[kRowSpansRoom], x1s[kRowSpansRoom];
      walked += t.rows_loop && !RowSpans(t.setup, t.setup.row_begin, 1, x0s, x1s);
      const DepthRows depth = MadeDepthBuffer(fast.state.frame);
      // Each band's first rows worked out ahead, as bands are drawn: every
      // other band those of a triangle over the whole screen instead, which
      // must not be taken for this one's.
      for (int top = 0; top < kScreenHeight; top += band) {
        SpansAhead ahead;
        WorkOutSpansAhead(top / band % 2 == 1 && have_other ? other : t, top, top + band, &ahead);
        DrawRows(t, BackRows(fast.state.frame), top, top + band, 0, depth, &ahead);
      }
      ASSERT_TRUE(PrepareTriangle(target, general.state.render, general.state.tmu0, v[0], v[1],
                                  v[2], SpanLoops::kGeneralOnly, &g));
      DrawRows(g, BackRows(general.state.frame), 0, kScreenHeight, 0,
               MadeDepthBuffer(general.state.frame));
    }
    ASSERT_TRUE(SameBoards(fast, general)) << "case " << k;
  }
  if (GetParam() != HWY_SCALAR) {
    EXPECT_GT(with_rows_loop, 200);
    for (const int n : widths) EXPECT_GT(n, 30);
    EXPECT_GT(tall, 30) << "batches of more than 8 rows";
    EXPECT_GE(walked, 4) << "rows walked, their values too large for the lanes";
  }
}

// Triangles prepared in states that change back and forth (the same
// state again after another, runs of one state, 1/w varying or not within a
// run), then drawn in bands: each in its own state.
TEST_P(FusedDepthLoops, StatesChangingBetweenTrianglesDrawEachInItsOwn) {
  Random random(uint32_t(GetParam() % 1000003) + 5);
  for (int k = 0; k < 20; k++) {
    const Case cases[2] = {MakeCase(random), MakeCase(random)};
    TestBoard fast, general;
    for (TestBoard* b : {&fast, &general}) SetUpBoard(cases[0], b);
    constexpr int kTriangles = 12;
    GrVertex v[kTriangles][3];
    bool flat_w[kTriangles];
    for (int n = 0; n < kTriangles; n++) {
      flat_w[n] = random.Below(2) == 0;
      for (int i = 0; i < 3; i++) {
        const float w = flat_w[n] ? 1 : float(1 + 4 * i + random.Below(4));
        GrVertex& c = v[n][i];
        c = TexVertex(float(random.Below(60)) + 40 * float(n), float(random.Below(60)) + 100,
                      float(random.Below(256)), float(random.Below(256)), w);
        c.r = float(random.Below(256)), c.g = float(random.Below(256));
        c.b = float(random.Below(256)), c.a = float(random.Below(256));
        c.ooz = float(random.Below(65536));
      }
    }
    const auto set_state = [&](TestBoard* b, int n) {
      const PixelState& s = cases[n % 3 == 1].state;  // 0, 1, 0, 0, 1, 0, ...
      b->state.render.color = s.color;
      b->state.render.alpha = s.alpha;
      b->state.render.blend = s.blend;
      b->state.render.constant = s.constant;
      b->state.render.pipeline = s.pipeline;
    };
    // Each board's triangles in a run of their own, as a program draws them.
    std::vector<PreparedTriangle> prepared(kTriangles);
    for (int n = 0; n < kTriangles; n++) {
      set_state(&fast, n);
      if (!PrepareTriangle(BackTarget(fast.state.frame), fast.state.render, fast.state.tmu0,
                           v[n][0], v[n][1], v[n][2], SpanLoops::kBest, &prepared[size_t(n)]))
        prepared[size_t(n)].setup.row_begin = prepared[size_t(n)].setup.row_end = 0;
      else
        EXPECT_EQ(prepared[size_t(n)].Inputs().state.perspective, !flat_w[n]) << n;
    }
    for (int n = 0; n < kTriangles; n++) {
      set_state(&general, n);
      DrawTriangle(general.state, v[n][0], v[n][1], v[n][2], SpanLoops::kGeneralOnly);
    }
    const DepthRows depth = MadeDepthBuffer(fast.state.frame);
    for (int top = 0; top < kScreenHeight; top += 8)
      for (const PreparedTriangle& t : prepared)
        DrawRows(t, BackRows(fast.state.frame), top, top + 8, 0, depth);
    ASSERT_TRUE(SameBoards(fast, general)) << "case " << k;
  }
}

// A run of untextured triangles in one state shares one block of inputs
// (its first keeps its own); a state changing every triangle shares none.
// Whatever a triangle holds, its inputs are those it would have alone.
TEST_P(FusedDepthLoops, RunsOfOneStateShareInputsTheirOwnWouldEqual) {
  Random random(uint32_t(GetParam() % 1000003) + 11);
  for (int k = 0; k < 20; k++) {
    const Case cases[2] = {MakeCase(random), MakeCase(random)};
    TestBoard board;
    SetUpBoard(cases[0], &board);
    const auto set_state = [&](int which) {
      const PixelState& s = cases[which].state;
      board.state.render.color = s.color;
      board.state.render.alpha = s.alpha;
      board.state.render.blend = s.blend;
      board.state.render.constant = s.constant;
      board.state.render.pipeline = s.pipeline;
    };
    const auto prepare = [&](int n, PreparedTriangle* out) {
      const float x = 40 * float(n % 12);
      const GrVertex a = TexVertex(x, 100, 0, 0, 1), b = TexVertex(x + 30, 110, 255, 0, 1);
      const GrVertex c = TexVertex(x + 10, 150, 0, 255, 1);
      return PrepareTriangle(BackTarget(board.state.frame), board.state.render, board.state.tmu0, a,
                             b, c, SpanLoops::kBest, out);
    };
    // A run of four in state 0, then four alternating 1, 0, 1, 0.
    constexpr int kTriangles = 8;
    const auto state_of = [](int n) { return n < 4 ? 0 : (n + 1) % 2; };
    std::vector<PreparedTriangle> run(kTriangles);
    bool prepared[kTriangles];
    for (int n = 0; n < kTriangles; n++) {
      set_state(state_of(n));
      prepared[n] = prepare(n, &run[size_t(n)]);
    }
    for (int n = 0; n < kTriangles; n++) {
      if (!prepared[n]) continue;
      const PreparedTriangle& t = run[size_t(n)];
      const bool untextured = !t.inputs.reads.texture && !(t.shared && t.shared->reads.texture);
      const bool shares = n >= 1 && n < 4 && untextured && prepared[n - 1];
      EXPECT_EQ(t.shared != nullptr, shares) << "case " << k << " triangle " << n;
      // The same triangle alone, after one in the other state.
      set_state(1 - state_of(n));
      PreparedTriangle other, alone;
      prepare(n + 1, &other);
      set_state(state_of(n));
      ASSERT_TRUE(prepare(n, &alone));
      EXPECT_TRUE(alone.shared == nullptr);
      const TriangleInputs &held = t.Inputs(), &own = alone.Inputs();
      EXPECT_TRUE(held.state == own.state) << "case " << k << " triangle " << n;
      EXPECT_TRUE(held.fused == own.fused) << "case " << k << " triangle " << n;
      EXPECT_EQ(held.reads.texture, own.reads.texture);
      EXPECT_EQ(held.units, own.units);
      EXPECT_EQ(held.affine, own.affine);
      EXPECT_EQ(held.state_serial == 0, own.state_serial == 0);  // serials name runs
      EXPECT_EQ(t.loop, alone.loop);
      EXPECT_EQ(t.rows_loop, alone.rows_loop);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FusedDepthLoops,
                         testing::ValuesIn(hwy::SupportedAndGeneratedTargets()),
                         [](const testing::TestParamInfo<int64_t>& info) {
                           return std::string(hwy::TargetName(info.param));
                         });

// The states the examples and programs like them draw with are fused.
TEST(MatchFusedDepth, CommonStatesAreFused) {
  PixelState s;
  s.color = kColors[2];  // Gouraud
  s.pipeline.depth = {GR_DEPTHBUFFER_ZBUFFER, GR_CMP_GREATER, true, 0};
  s.pipeline.fog.source = FogSource::kTable;
  FusedKind kind;
  FusedDepth depth;
  ASSERT_TRUE(MatchFusedDepth(s, &kind, &depth));
  EXPECT_EQ(depth, FusedDepth::kZ);
  EXPECT_EQ(kind.coords, Coords::kNone);
  s.color = kColors[0];  // a sprite: texture, its alpha tested, a chroma key on it
  s.alpha = kAlphas[2];
  s.pipeline = PipelineState{};
  s.pipeline.alpha_function = GR_CMP_GREATER;
  s.pipeline.chroma_key = true;
  ASSERT_TRUE(MatchFusedDepth(s, &kind, &depth));
  EXPECT_EQ(depth, FusedDepth::kNone);
  EXPECT_EQ(kind.alpha, FusedAlpha::kTexture) << "the alpha test reads the texture's alpha";
  s.pipeline.rgb_write = false;
  EXPECT_FALSE(MatchFusedDepth(s, &kind, &depth)) << "a colour mask";
  s.pipeline.rgb_write = true;
  s.color.other = GR_COMBINE_OTHER_CONSTANT;
  s.color.function = GR_COMBINE_FUNCTION_LOCAL;
  s.color.local = GR_COMBINE_LOCAL_ITERATED;
  EXPECT_FALSE(MatchFusedDepth(s, &kind, &depth)) << "a key on the constant colour";
}

}  // namespace
}  // namespace softboard
