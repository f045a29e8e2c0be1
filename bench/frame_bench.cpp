#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "grlib.h"

namespace {

// A 256x128 RGB 565 texture: a colour ramp with a checker over it.
std::vector<uint16_t> SyntheticTexture() {
  std::vector<uint16_t> texels;
  for (int y = 0; y < 128; y++) {
    for (int x = 0; x < 256; x++) {
      const int check = ((x >> 4) ^ (y >> 4)) & 1;
      texels.push_back(uint16_t((x >> 3) << 11 | (y >> 1) << 5 | (check ? 31 : 8)));
    }
  }
  return texels;
}

GrVertex Corner(float x, float y, float s, float t) {
  GrVertex v{};
  v.x = x;
  v.y = y;
  v.oow = 1 / 100.0f;
  for (GrTmuVertex& tmu : v.tmuvtx) tmu = {s / 100.0f, t / 100.0f, 1 / 100.0f};
  return v;
}

// The demo's frame through the library, as its DrawFrame makes it.
void BM_DemoFrame(benchmark::State& state) {
  setenv("SOFTBOARD_DISPLAY", "headless", 1);
  setenv("SOFTBOARD_VSYNC", "0", 1);
  grLibInit();
  GrHwConfiguration hw;
  if (!grSstQueryHardware(&hw)) return state.SkipWithError("no board");
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                    GR_ORIGIN_UPPER_LEFT, 2, 1)) {
    return state.SkipWithError("display not opened");
  }
  std::vector<uint16_t> texels = SyntheticTexture();
  GrTexInfo info{GR_LOD_256, GR_LOD_256, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, texels.data()};
  const FxU32 address = grTexMinAddress(GR_TMU0);
  grTexDownloadMipMap(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexSource(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
               GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, FXFALSE, FXFALSE);

  GrVertex triangle[3] = {Corner(100, 100, 0, 0), Corner(500, 100, 256, 0),
                          Corner(500, 400, 256, 128)};
  const int vlist[3] = {0, 1, 2};
  for (auto _ : state) {
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                   GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grBufferClear(0xFF000000, 0, GR_WDEPTHVALUE_FARTHEST);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO);
    grDrawPolygon(3, vlist, triangle);
    const float colour[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int i = 0; i < 3; i++) {
      triangle[i].r = colour[i][0];
      triangle[i].g = colour[i][1];
      triangle[i].b = colour[i][2];
    }
    grConstantColorValue(128);
    grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                   GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO,
                         GR_BLEND_ZERO);
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grDrawPolygon(3, vlist, triangle);
    grBufferSwap(1);
  }
  grLibShutdown();
}
BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
