#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "demo.h"
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

// The demo's own DrawFrame, through the library, with a synthetic texture.
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

  DemoState demo{0.0f, 0.0f, 128.0f, 0, 0};
  for (auto _ : state) DrawFrame(&demo);
  grLibShutdown();
}
BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
