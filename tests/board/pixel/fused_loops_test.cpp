// The fused loops against the general one, on every SIMD target this CPU
// runs: the same pixels bit for bit, for random states, textures and spans of
// every length and alignment, and nothing written outside the span; and for
// named states (the demo's among them), which loop draws them.
#include <hwy/targets.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "api/frame_drawing.h"
#include "board/pipeline_support.h"
#include "pixel/fused_loops.h"
#include "pixel/fused_loops_mipmap.h"
#include "pixel/lod.h"
#include "pixel/pixel_state.h"
#include "pixel/rgb565.h"
#include "pixel/sampler.h"
#include "pixel/span_general.h"
#include "pixel/texture_units.h"

namespace softboard {
namespace {

constexpr CombineState kTextureColor{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                                     GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
constexpr CombineState kIteratedColor{GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                                      GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
constexpr CombineState kModulate{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                                 GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
// Each source alpha two ways, as a program may ask for it.
constexpr CombineState kAlphas[] = {
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
     GR_COMBINE_OTHER_CONSTANT, false},
    {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
     GR_COMBINE_OTHER_TEXTURE, false},
    {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_TEXTURE, false},
    {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_DEPTH,
     GR_COMBINE_OTHER_CONSTANT, false},
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_ITERATED,
     GR_COMBINE_OTHER_TEXTURE, false},
    {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
     GR_COMBINE_OTHER_ITERATED, false},
};
constexpr BlendState kBlends[] = {
    {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO},
    {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO},
    {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ONE},
    {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO},
    {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO},
    {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ONE},
};
struct Size {
  int width, height;
};
constexpr Size kSizes[] = {{256, 128}, {8, 64}, {1, 8}, {64, 1}, {1, 1}, {256, 256}};

uint32_t Texel(int x, int y) {
  uint32_t h = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u;
  h ^= h >> 15;
  return h * 0x2C1B3C6Du;
}

// Named states, a table of the combine, blend and texture settings.
struct State {
  const char* name;
  bool fused;  // a fused loop draws it, where the target has them
  CombineState color, alpha;
  BlendState blend;
  TexCombineState tex;
  bool bilinear, wrap;
};

constexpr CombineState kTexture{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                                GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
constexpr CombineState kIterated{GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                                 GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
constexpr CombineState kConstant{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                                 GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, false};
constexpr BlendState kReplace{GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO};
constexpr BlendState kSrcAlpha{GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO,
                               GR_BLEND_ZERO};
constexpr TexCombineState kPass{};
constexpr TexCombineState kInvertedAlpha{GR_COMBINE_FUNCTION_LOCAL,
                                         GR_COMBINE_FACTOR_ZERO,
                                         GR_COMBINE_FUNCTION_LOCAL,
                                         GR_COMBINE_FACTOR_ZERO,
                                         false,
                                         true};

const State kStates[] = {
    {"demo textured pass", true, kTexture, kConstant, kReplace, kPass, true, true},
    {"demo first frame", true, kTexture, CombineState{}, kReplace, kPass, true, true},
    {"demo shaded pass", true, kIterated, kConstant, kSrcAlpha, kPass, true, true},
    {"replace with alpha", true, kIterated, CombineState{}, BlendState{}, kPass, true, true},
    {"keep alpha (point sampled, texture alpha inverted)",
     false,
     kModulate,
     kTexture,
     {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ONE},
     kInvertedAlpha,
     false,
     true},
    {"src alpha, alpha kept from source (clamped)",
     false,
     kModulate,
     kIterated,
     {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO},
     kPass,
     true,
     false},
    {"zero function",
     false,
     {GR_COMBINE_FUNCTION_ZERO, 0, 0, 0, false},
     kTexture,
     kReplace,
     kPass,
     true,
     true},
};

// Every fusable state: colour, source alpha, blend, texture size, and whether
// w varies, drawn from the tables by one number.
struct Case {
  PixelState state;
  SharedTexture level;
};

Case MakeCase(Random& random) {
  Case c;
  const CombineState colors[] = {kTextureColor, kIteratedColor, kModulate};
  c.state.color = colors[random.Below(3)];
  c.state.alpha = kAlphas[random.Below(int(std::size(kAlphas)))];
  c.state.blend = kBlends[random.Below(int(std::size(kBlends)))];
  c.state.constant = {uint8_t(random.Below(256)), uint8_t(random.Below(256)),
                      uint8_t(random.Below(256)), uint8_t(random.Below(256))};
  c.state.perspective = random.Below(2) == 1;
  const Size size = kSizes[random.Below(int(std::size(kSizes)))];
  std::vector<uint32_t> texels;
  for (int y = 0; y < size.height; y++) {
    for (int x = 0; x < size.width; x++) texels.push_back(Texel(x, y));
  }
  c.level = MakeDecodedTexture(size.width, size.height, std::move(texels));
  return c;
}

// A span at any place: colours that start anywhere and may run out of range
// (they clamp), coordinates that wrap, and 1/w near and far.
SpanInputs MakeSpan(Random& random, const TriangleInputs& tri, uint32_t* row, int x0, int count) {
  SpanInputs s;
  s.row = row;
  s.x0 = x0;
  s.count = count;
  for (int c = 0; c < 4; c++) {
    s.color[c] = uint32_t(random.Below(300 << 8)) << 8;
    s.color_step[c] = uint32_t(random.Below(16 << 16) - (8 << 16));
  }
  s.u = random.Next() << 8 ^ random.Next();
  s.v = random.Next() << 8 ^ random.Next();
  s.du = uint32_t(random.Below(1 << 24) - (1 << 23)) << (random.Below(8));
  s.dv = uint32_t(random.Below(1 << 24) - (1 << 23)) << (random.Below(8));
  s.oow = 0.25f + float(random.Below(1000)) / 250;
  s.doow = (float(random.Below(200)) - 100) / 40000;
  s.sow = (float(random.Below(2000)) - 1000) * s.oow;
  s.tow = (float(random.Below(2000)) - 1000) * s.oow;
  s.dsow = (float(random.Below(400)) - 200) / 64;
  s.dtow = (float(random.Below(400)) - 200) / 64;
  (void)tri;
  return s;
}

std::string Describe(const FusedKind& f) {
  return "colour " + std::to_string(int(f.color)) + " alpha " + std::to_string(int(f.alpha)) +
         " blend " + std::to_string(int(f.blend)) + " alpha write " +
         std::to_string(int(f.alpha_write)) + " coords " + std::to_string(int(f.coords));
}

// A case's state as a triangle's inputs, its fused kind matched.
TriangleInputs FusedInputs(const Case& c) {
  TriangleInputs tri;
  tri.state = c.state;
  tri.reads = InputsOf(tri.state);
  tri.texture = MakeSampledTexture(c.level.get());
  tri.affine = !tri.state.perspective;
  EXPECT_TRUE(MatchFused(tri.state, &tri.fused)) << Describe(tri.fused);
  return tri;
}

class FusedLoops : public testing::TestWithParam<int64_t> {
 protected:
  void SetUp() override { hwy::SetSupportedTargetsForTest(GetParam()); }
  void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

TEST_P(FusedLoops, EveryFusableStateMatchesTheGeneralLoopBitForBit) {
  const bool scalar = GetParam() == HWY_SCALAR;
  Random random(uint32_t(GetParam() % 1000003));
  constexpr int kGuard = 24, kWidth = 640 + 2 * kGuard;
  int fused_spans = 0;
  EXPECT_EQ(std::string(FusedTargetName()), hwy::TargetName(GetParam()));
  for (int k = 0; k < 600; k++) {
    Case c = MakeCase(random);
    TriangleInputs tri = FusedInputs(c);
    ASSERT_FALSE(HasFailure()) << k;
    const SpanLoop loop = ChooseFusedLoop(tri.fused);
    ASSERT_EQ(loop == nullptr, scalar) << "a SIMD target draws every fusable state";
    if (loop == nullptr) continue;
    // Every start alignment and lengths from 1 to 17, then some long spans.
    const int x0 = kGuard + random.Below(16);
    const int count = k < 400 ? 1 + k % 17 : 1 + random.Below(600);
    std::vector<uint32_t> want(kWidth), got(kWidth);
    for (uint32_t& p : want) p = random.Next() ^ random.Next() << 12;
    got = want;
    SpanInputs span = MakeSpan(random, tri, want.data(), x0, count);
    if (k % 37 == 0) span.oow = span.doow = 0;  // w infinite: coordinates not finite
    if (k % 41 == 0) span.sow = 3e38f;
    if (k % 43 == 0) span.color_step[0] = 0x7FFFFFFF;
    // Every other span in 16-bit colour: the fused loop quantises as it
    // stores, the general one is followed by the quantising pass.
    std::vector<uint32_t> offsets(kWidth + kDitherReadPast);
    for (uint32_t& o : offsets) o = DitherOffset(uint32_t(random.Below(16))) * 0x10001u;
    DrawSpanGeneral(tri, span);
    if (k % 2) DitherSpan(want.data() + x0, count, offsets.data() + x0);
    span.row = got.data();
    span.dither = k % 2 ? offsets.data() : nullptr;
    loop(tri, span);
    fused_spans++;
    const std::string where = std::string("target ") + hwy::TargetName(GetParam()) + ", " +
                              Describe(tri.fused) + ", " + std::to_string(c.level->width) + "x" +
                              std::to_string(c.level->height) + " texture, span " +
                              std::to_string(x0) + "+" + std::to_string(count);
    for (int x = 0; x < kWidth; x++) {
      ASSERT_EQ(got[size_t(x)], want[size_t(x)])
          << where << ": pixel " << x << " is " << Hex(got[size_t(x)])
          << ", the general loop gives " << Hex(want[size_t(x)]);
    }
    // The same span on a 5-6-5 row and its alpha plane.
    std::vector<uint16_t> want565(kWidth), got565(kWidth);
    std::vector<uint8_t> want_alpha(kWidth), got_alpha(kWidth);
    for (int x = 0; x < kWidth; x++) {
      want565[size_t(x)] = uint16_t(random.Next());
      want_alpha[size_t(x)] = uint8_t(random.Next());
    }
    got565 = want565;
    got_alpha = want_alpha;
    span.row = nullptr;
    span.dither = offsets.data();
    span.row565 = want565.data();
    span.alpha = want_alpha.data();
    DrawSpanGeneral565(tri, span);
    span.row565 = got565.data();
    span.alpha = got_alpha.data();
    ChooseFusedLoop(tri.fused, PixelLayout::kRgb565)(tri, span);
    for (int x = 0; x < kWidth; x++) {
      ASSERT_EQ(got565[size_t(x)], want565[size_t(x)]) << where << ", 5-6-5: pixel " << x;
      ASSERT_EQ(got_alpha[size_t(x)], want_alpha[size_t(x)]) << where << ", alpha plane: " << x;
    }
  }
  if (!scalar) {
    EXPECT_EQ(fused_spans, 600);
  }
}

// Memory followed by an unreadable page: a loop that reads or writes past
// what it was given there dies.
template <typename T>
class Guarded {
 public:
  explicit Guarded(size_t entries) {
    page_ = size_t(sysconf(_SC_PAGESIZE));
    size_ = (entries * sizeof(T) + page_ - 1) / page_ * page_ + page_;
    void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
    if (base_) mprotect(base_ + size_ - page_, page_, PROT_NONE);
  }
  ~Guarded() {
    if (base_) munmap(base_, size_);
  }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  // Where `entries` end at the guard page (null: no memory).
  T* EndingAfter(int entries) {
    if (!base_) return nullptr;
    return reinterpret_cast<T*>(base_ + size_ - page_) - entries;
  }

 private:
  uint8_t* base_ = nullptr;
  size_t size_ = 0, page_ = 0;
};

// A row of offsets for a span ending at `end`, filled up to the guard page.
uint32_t* OffsetsFor(Guarded<uint32_t>& guarded, int end) {
  uint32_t* row = guarded.EndingAfter(end + kDitherReadPast);
  if (row == nullptr) return nullptr;
  for (int i = 0; i < end + kDitherReadPast; i++)
    row[i] = DitherOffset(uint32_t(i) % 16) * 0x10001u;
  return row;
}

// A span's last pixels are read and written in place where lanes can be
// masked, through a copy elsewhere, and dither offsets are read no further
// than their padding: rows of each layout, and the offsets, end at an
// unreadable page, and the spans end there.
TEST_P(FusedLoops, NothingPastASpanIsTouched) {
  if (GetParam() == HWY_SCALAR) return;  // no fused loops there
  Random random(13);
  constexpr int kWidth = 700;
  Guarded<uint32_t> argb(kWidth), offsets(kWidth + kDitherReadPast);
  Guarded<uint16_t> rgb565(kWidth);
  Guarded<uint8_t> alpha(kWidth);
  for (int k = 0; k < 300; k++) {
    const Case c = MakeCase(random);
    const TriangleInputs tri = FusedInputs(c);
    ASSERT_FALSE(HasFailure());
    const int x0 = random.Below(40), count = k < 200 ? 1 + k % 67 : 1 + random.Below(640);
    const int end = x0 + count;
    SpanInputs span = MakeSpan(random, tri, argb.EndingAfter(end), x0, count);
    ASSERT_NE(span.row, nullptr);
    for (const bool dithered : {false, true}) {
      span.dither = dithered ? OffsetsFor(offsets, end) : nullptr;
      ChooseFusedLoop(tri.fused)(tri, span);
    }
    span.row = nullptr;
    span.row565 = rgb565.EndingAfter(end);
    span.alpha = alpha.EndingAfter(end);
    span.dither = OffsetsFor(offsets, end);
    ChooseFusedLoop(tri.fused, PixelLayout::kRgb565)(tri, span);
  }
}

// Whole triangles through the public drawing call: edges of the screen,
// slivers, huge and perspective ones.
TEST_P(FusedLoops, TrianglesMatchTheGeneralPathAtTheScreensEdges) {
  Random random(7);
  for (int k = 0; k < 40; k++) {
    Case c = MakeCase(random);
    TestBoard fast, general;
    for (TestBoard* b : {&fast, &general}) {
      uint32_t* p = BackRows(b->state.frame).Argb();
      for (int i = 0; i < kScreenPixels; i++) p[i] = uint32_t(i) * 2246822519u;
      b->SetTexture(c.level->width, c.level->height, &Texel);
      b->state.render.color = c.state.color;
      b->state.render.alpha = c.state.alpha;
      b->state.render.blend = c.state.blend;
      b->state.render.constant = c.state.constant;
    }
    const float w1 = 1, w2 = c.state.perspective ? 3.5f : 1;
    const float extent = k % 4 == 0 ? 3e6f : 900;
    GrVertex v[3];
    for (int i = 0; i < 3; i++) {
      const float x = float(random.Below(int(extent))) - extent / 3;
      const float y = float(random.Below(int(extent))) - extent / 3;
      v[i] = TexVertex(x, y, float(random.Below(700)) - 200, float(random.Below(700)) - 200,
                       i == 2 ? w2 : w1);
      v[i].r = float(random.Below(256)), v[i].g = float(random.Below(256));
      v[i].b = float(random.Below(256)), v[i].a = float(random.Below(256));
    }
    // Every other case on 16-bit boards, a 5-6-5 buffer and its alpha plane.
    if (k % 2) {
      SetColorDepth(fast.state.frame, 16, 4);
      SetColorDepth(general.state.frame, 16, 4);
    }
    DrawTriangle(fast.state, v[0], v[1], v[2]);
    DrawTriangle(general.state, v[0], v[1], v[2], SpanLoops::kGeneralOnly);
    for (int y = 0; y < kScreenHeight; y++) {
      for (int x = 0; x < kScreenWidth; x++) {
        ASSERT_EQ(fast.At(x, y), general.At(x, y))
            << "case " << k << ": pixel (" << x << ", " << y << ")";
      }
    }
  }
}

// Named states, the demo's among them, drawn whole: the general loop's pixels,
// by a fused loop exactly where one should draw them (not on the one-lane
// target, which has none).
TEST_P(FusedLoops, NamedStatesAreDrawnByTheLoopTheyShouldAsTheGeneralLoopDrawsThem) {
  for (const State& k : kStates) {
    TestBoard fast, general;
    for (TestBoard* b : {&fast, &general}) {
      uint32_t* p = BackRows(b->state.frame).Argb();
      for (int i = 0; i < kScreenPixels; i++) p[i] = uint32_t(i) * 2246822519u;
      b->SetTexture(256, 128, &Texel);
      b->state.render.color = k.color;
      b->state.render.alpha = k.alpha;
      b->state.render.blend = k.blend;
      b->state.render.constant = {17, 99, 201, 128};
      b->state.tmu0.combine = k.tex;
      b->state.tmu0.mode.mag_bilinear = b->state.tmu0.mode.min_bilinear = k.bilinear;
      b->state.tmu0.mode.wrap_s = b->state.tmu0.mode.wrap_t = k.wrap;
    }
    const auto corner = [](float x, float y, float s, float t, float r, float g, float b, float a) {
      GrVertex v = TexVertex(x, y, s, t, 100);
      v.r = r, v.g = g, v.b = b, v.a = a;
      return v;
    };
    const GrVertex v[4] = {
        corner(100, 100, 0, 0, 255, 0, 0, 20), corner(500, 100, 256, 0, 0, 255, 0, 240),
        corner(500, 400, 256, 128, 0, 0, 255, 128), corner(-30, 420.5, -50, 300, 90, 90, 9, 0)};
    constexpr int kFan[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const auto& abc : kFan) {
      FrameBuffers& frame = fast.state.frame;
      PreparedTriangle t;
      ASSERT_TRUE(PrepareTriangle(BackTarget(frame), fast.state.render, fast.state.tmu0, v[abc[0]],
                                  v[abc[1]], v[abc[2]], SpanLoops::kBest, &t));
      EXPECT_EQ(t.fused, k.fused && GetParam() != HWY_SCALAR) << k.name;
      DrawRows(t, BackRows(frame), 0, frame.height);
      DrawTriangle(general.state, v[abc[0]], v[abc[1]], v[abc[2]], SpanLoops::kGeneralOnly);
    }
    int failures = 0;
    for (int y = 0; y < kScreenHeight && failures < 10; y++) {
      for (int x = 0; x < kScreenWidth && failures < 10; x++) {
        if (fast.At(x, y) != general.At(x, y)) {
          ADD_FAILURE() << k.name << ": pixel (" << x << ", " << y << ") is " << Hex(fast.At(x, y))
                        << ", the general loop gives " << Hex(general.At(x, y));
          failures++;
        }
      }
    }
  }
}

// A texture of `levels` levels from w x h, random texels in each.
SharedTexture MakeChain(int w, int h, int levels, Random& random) {
  std::vector<LevelPlace> places;
  std::vector<uint32_t> texels;
  for (int n = 0; n < levels; n++) {
    const int lw = std::max(1, w >> n), lh = std::max(1, h >> n);
    places.push_back({lw, lh, texels.size()});
    for (int i = 0; i < lw * lh; i++) texels.push_back(random.Next() ^ random.Next() << 16);
  }
  return MakeDecodedChain(std::move(places), std::move(texels), std::max(w, h));
}

UnitMode RandomMipmapMode(Random& random) {
  UnitMode m;
  m.mipmap = random.Below(3);
  m.lod_blend = random.Below(2) == 1;
  m.lod_bias = random.Below(64) - 32;
  m.wrap_s = random.Below(3) > 0;
  m.wrap_t = random.Below(3) > 0;
  return m;
}

// The texture units' fused loops (mipmapped, trilinear, a light map; affine
// and perspective) against the general path, whole triangles at random,
// in 8-bit and 16-bit colour: the same pixels, and a fused loop draws them.
TEST_P(FusedLoops, MipmappedAndTwoUnitStatesMatchTheGeneralPathBitForBit) {
  const bool scalar = GetParam() == HWY_SCALAR;
  Random random(uint32_t(GetParam() % 999983) + 5);
  const Size sizes[] = {{64, 64}, {256, 32}, {8, 1}, {1, 16}, {128, 128}, {2, 2}};
  const CombineState colors[] = {kTextureColor, kModulate};
  int fused = 0;
  for (int k = 0; k < 120; k++) {
    const Size size = sizes[random.Below(int(std::size(sizes)))];
    int levels = 1;
    while ((std::max(size.width, size.height) >> levels) > 0 && random.Below(6) > 0) levels++;
    const SharedTexture texture = MakeChain(size.width, size.height, levels, random);
    const SharedTexture light = MakeChain(16, 16, 1 + random.Below(5), random);
    const bool two_units = k % 3 == 0;
    const bool perspective = k % 2 == 0;
    const UnitMode mode0 = RandomMipmapMode(random), mode1 = RandomMipmapMode(random);
    RenderState render;
    render.color = colors[k % 2];
    render.alpha = kAlphas[random.Below(int(std::size(kAlphas)))];
    render.blend = kBlends[random.Below(int(std::size(kBlends)))];
    render.constant = {1, 2, 3, uint8_t(random.Below(256))};
    TestBoard fast, general;
    for (TestBoard* b : {&fast, &general}) {
      uint32_t* p = BackRows(b->state.frame).Argb();
      for (int i = 0; i < kScreenPixels; i++) p[i] = uint32_t(i) * 2246822519u;
      b->state.render = render;
      b->state.tmu0.source.valid = true;
      b->state.tmu0.decoded = texture;
      b->state.tmu0.mode = mode0;
      if (two_units) {
        ResetTextureUnit(b->state.tmu1);
        b->state.tmu1.source.valid = true;
        b->state.tmu1.decoded = light;
        b->state.tmu1.mode = mode1;
        b->state.tmu0.combine = {GR_COMBINE_FUNCTION_SCALE_OTHER,
                                 GR_COMBINE_FACTOR_LOCAL,
                                 GR_COMBINE_FUNCTION_LOCAL,
                                 GR_COMBINE_FACTOR_NONE,
                                 false,
                                 false};
      }
      if (k % 4 == 1) SetColorDepth(b->state.frame, 16, 4);
    }
    // Coordinates from magnified to minified many times over.
    const float extent = float(256 << random.Below(6)) / float(1 << random.Below(4));
    GrVertex v[3];
    for (int i = 0; i < 3; i++) {
      const float w = perspective ? 0.5f + float(random.Below(1000)) / 100 : 2;
      v[i] = TexVertex(float(random.Below(900)) - 130, float(random.Below(700)) - 110,
                       float(random.Below(1000)) / 1000 * extent - extent / 3,
                       float(random.Below(1000)) / 1000 * extent, w);
      v[i].tmuvtx[1] = {v[i].tmuvtx[0].tow * 0.37f, v[i].tmuvtx[0].sow * 0.21f, v[i].tmuvtx[0].oow};
      v[i].r = float(random.Below(256)), v[i].g = float(random.Below(256));
      v[i].b = float(random.Below(256)), v[i].a = float(random.Below(256));
    }
    PreparedTriangle t;
    if (!PrepareTriangle(BackTarget(fast.state.frame), fast.state.render, fast.state.tmu0, v[0],
                         v[1], v[2], SpanLoops::kBest, &t, &fast.state.tmu1))
      continue;
    fused += t.fused;
    if (!scalar && t.Inputs().units) {
      FusedKind kind;
      const bool match = MatchFusedUnits(t.Inputs(), &kind);
      // WebAssembly's perspective loops are left to the general path.
      const bool declined = GetParam() == HWY_WASM && kind.coords == Coords::kPerspective;
      EXPECT_EQ(t.fused, match && !declined) << "case " << k;
    }
    DrawTriangle(fast.state, v[0], v[1], v[2]);
    DrawTriangle(general.state, v[0], v[1], v[2], SpanLoops::kGeneralOnly);
    const std::string what =
        "case " + std::to_string(k) + (two_units ? ", light map" : "") +
        (perspective ? ", perspective" : ", affine") + ", mode " + std::to_string(mode0.mipmap) +
        (mode0.lod_blend ? " blended" : "") + ", bias " + std::to_string(mode0.lod_bias) + ", " +
        std::to_string(levels) + " levels from " + std::to_string(size.width) + "x" +
        std::to_string(size.height) + (t.Inputs().units ? ", units' path" : ", one level") +
        (t.fused ? ", fused" : ", general") + " lod " + std::to_string(t.Inputs().unit[0].lod256) +
        " levels " + std::to_string(t.Inputs().unit[0].affine_level[0]) + "," +
        std::to_string(t.Inputs().unit[0].affine_level[1]);
    int failures = 0;
    for (int y = 0; y < kScreenHeight && failures < 5; y++) {
      for (int x = 0; x < kScreenWidth && failures < 5; x++) {
        if (fast.At(x, y) != general.At(x, y)) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << Hex(fast.At(x, y))
                        << ", the general loop gives " << Hex(general.At(x, y));
          failures++;
        }
      }
    }
  }
  if (!scalar) {
    EXPECT_GT(fused, GetParam() == HWY_WASM ? 20 : 60) << "the fused loops drew many cases";
  }
}

// The perspective loops' shortcut to a level of detail, for every float a
// mantissa in [1, 2] rounds to: where it is sure, every double that rounds to
// that float has the tables' floor(128 log2 m) (the floor rises with m, so
// the two ends of its interval decide); and it is sure of nearly all.
TEST_P(FusedLoops, TheLevelOfDetailShortcutAgreesWithTheTablesForEveryMantissa) {
  const double below_two = std::nextafter(2.0, 1.0);
  std::vector<float> m;
  for (float f = 1.0f; f <= 2.0f; f = std::nextafter(f, 3.0f)) m.push_back(f);
  std::vector<int32_t> k(m.size());
  FusedLog2x128(m.data(), k.data(), m.size());
  size_t unsure = 0;
  int failures = 0;
  for (size_t i = 0; i < m.size() && failures < 5; i++) {
    if (k[i] < 0) {
      unsure++;
      continue;
    }
    const double f = m[i];
    const double lo = i == 0 ? 1.0 : (double(m[i - 1]) + f) / 2;
    const double hi = std::min(f + (double(std::nextafter(m[i], 3.0f)) - f) / 2, below_two);
    const int low = FloorLog2x128(lo).value, high = FloorLog2x128(hi).value;
    if (low != k[i] || high != k[i]) {
      ADD_FAILURE() << "m " << f << ": the shortcut gives " << k[i] << ", the tables " << low
                    << " to " << high;
      failures++;
    }
  }
  if (unsure < m.size()) {
    EXPECT_LT(unsure, m.size() / 100) << "sure of 99% of the mantissas";
  }
}

std::vector<int64_t> Targets() {
  return hwy::SupportedAndGeneratedTargets();
}

INSTANTIATE_TEST_SUITE_P(Targets, FusedLoops, testing::ValuesIn(Targets()),
                         [](const testing::TestParamInfo<int64_t>& info) {
                           return std::string(hwy::TargetName(info.param));
                         });

TEST(MatchFused, TheDemosStatesAreFusedAndOthersAreNot) {
  PixelState state;
  FusedKind kind;
  state.color = kTextureColor;
  state.alpha = kAlphas[0];
  state.blend = kBlends[0];
  ASSERT_TRUE(MatchFused(state, &kind));
  EXPECT_EQ(kind.color, FusedColor::kTexture);
  EXPECT_EQ(kind.coords, Coords::kAffine);
  state.color = kIteratedColor;
  state.blend = kBlends[3];
  ASSERT_TRUE(MatchFused(state, &kind));
  EXPECT_EQ(kind.color, FusedColor::kIterated);
  EXPECT_EQ(kind.blend, FusedBlend::kSrcAlpha);
  EXPECT_EQ(kind.coords, Coords::kNone) << "Gouraud with constant alpha samples nothing";

  PixelState other = state;
  other.color.invert = true;
  EXPECT_FALSE(MatchFused(other, &kind)) << "inverted colour";
  other = state;
  other.blend.rgb_dst = GR_BLEND_ONE;
  EXPECT_FALSE(MatchFused(other, &kind)) << "additive blend";
  other = state;
  other.color = kTextureColor;
  other.sampler.wrap_s = false;
  EXPECT_FALSE(MatchFused(other, &kind)) << "clamped texture";
  other.sampler = {false, true, true};
  EXPECT_FALSE(MatchFused(other, &kind)) << "point sampled";
  other = state;
  other.color = kTextureColor;
  other.tex.rgb_function = GR_COMBINE_FUNCTION_ZERO;
  EXPECT_FALSE(MatchFused(other, &kind)) << "texture unit not passing its texel";
}

TEST(PixelInputs, OnlyWhatTheCombinesRead) {
  PixelState state;
  state.color = kIteratedColor;
  state.alpha = kAlphas[0];
  PixelInputs in = InputsOf(state);
  EXPECT_TRUE(in.iterated[0] && in.iterated[1] && in.iterated[2]);
  EXPECT_FALSE(in.iterated[3]);
  EXPECT_FALSE(in.texture);
  state.color = kModulate;
  state.alpha = kAlphas[3];  // DEPTH local: the iterated alpha
  in = InputsOf(state);
  EXPECT_TRUE(in.texture);
  EXPECT_TRUE(in.iterated[3]);
  state.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_TEXTURE_ALPHA,
                 GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, false};
  state.alpha = kAlphas[0];
  EXPECT_TRUE(InputsOf(state).texture) << "a texture-alpha factor samples the texture";
}

}  // namespace
}  // namespace softboard
