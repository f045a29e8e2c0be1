#include <cstring>

#include "pipeline_support.h"

namespace softboard {
namespace {

uint32_t Texel(int x, int y) {
  return (uint32_t(x) * 0x01030507u ^ uint32_t(y) * 0x0B0D1113u) * 2654435761u;
}

struct State {
  const char* name;
  CombineState color, alpha;
  BlendState blend;
  TexCombineState tex;
  bool bilinear, wrap;
  friend std::ostream& operator<<(std::ostream& out, const State& k) { return out << k.name; }
};

constexpr CombineState kTexture{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                                GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
constexpr CombineState kIterated{GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                                 GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
constexpr CombineState kConstant{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                                 GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, false};
constexpr CombineState kModulate{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                                 GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
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
    {"demo textured pass", kTexture, kConstant, kReplace, kPass, true, true},
    {"demo first frame", kTexture, CombineState{}, kReplace, kPass, true, true},
    {"demo shaded pass", kIterated, kConstant, kSrcAlpha, kPass, true, true},
    {"replace with alpha", kIterated, CombineState{}, BlendState{}, kPass, true, true},
    {"keep alpha",
     kModulate,
     kTexture,
     {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ONE},
     kInvertedAlpha,
     false,
     true},
    {"src alpha, alpha kept from source",
     kModulate,
     kIterated,
     {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE, GR_BLEND_ZERO},
     kPass,
     true,
     false},
    {"zero function",
     {GR_COMBINE_FUNCTION_ZERO, 0, 0, 0, false},
     kTexture,
     kReplace,
     kPass,
     true,
     true},
};

class FastPaths : public testing::TestWithParam<State> {};

TEST_P(FastPaths, GiveTheSamePixelsAsTheGeneralPath) {
  const State& k = GetParam();
  TestBoard fast, general;
  for (TestBoard* b : {&fast, &general}) {
    uint32_t* p = BackBuffer(b->state.frame);
    for (int i = 0; i < kScreenPixels; i++) p[i] = uint32_t(i) * 2246822519u;
    b->SetTexture(256, 128, &Texel);
    b->state.render.color = k.color;
    b->state.render.alpha = k.alpha;
    b->state.render.blend = k.blend;
    b->state.render.constant = {17, 99, 201, 128};
    b->state.tmu0.combine = k.tex;
    b->state.tmu0.bilinear = k.bilinear;
    b->state.tmu0.wrap_s = b->state.tmu0.wrap_t = k.wrap;
  }
  const auto corner = [](float x, float y, float s, float t, float r, float g, float b, float a) {
    GrVertex v = TexVertex(x, y, s, t, 100);
    v.r = r, v.g = g, v.b = b, v.a = a;
    return v;
  };
  const GrVertex v[4] = {
      corner(100, 100, 0, 0, 255, 0, 0, 20), corner(500, 100, 256, 0, 0, 255, 0, 240),
      corner(500, 400, 256, 128, 0, 0, 255, 128), corner(-30, 420.5, -50, 300, 90, 90, 9, 0)};
  DrawTriangle(fast.state, v[0], v[1], v[2]);
  DrawTriangle(fast.state, v[0], v[2], v[3]);
  DrawTriangleGeneral(general.state, v[0], v[1], v[2]);
  DrawTriangleGeneral(general.state, v[0], v[2], v[3]);
  int failures = 0;
  for (int y = 0; y < kScreenHeight && failures < 10; y++) {
    for (int x = 0; x < kScreenWidth && failures < 10; x++) {
      if (fast.At(x, y) != general.At(x, y)) {
        ADD_FAILURE() << k.name << ": pixel (" << x << ", " << y << ") is " << Hex(fast.At(x, y))
                      << ", the general path gives " << Hex(general.At(x, y));
        failures++;
      }
    }
  }
}
INSTANTIATE_TEST_SUITE_P(States, FastPaths, testing::ValuesIn(kStates));

}  // namespace
}  // namespace softboard
