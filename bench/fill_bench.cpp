#include <benchmark/benchmark.h>

#include "board_state.h"
#include "framebuffer.h"
#include "rasterizer.h"

namespace softboard {
namespace {

GrVertex Corner(float x, float y, float r, float g, float b, float s, float t, float w) {
  GrVertex v{};
  v.x = x;
  v.y = y;
  v.r = r;
  v.g = g;
  v.b = b;
  v.oow = 1 / w;
  v.tmuvtx[0] = {s / w, t / w, 1 / w};
  return v;
}

// Two triangles covering the whole screen, every pixel once.
void FillScreen(benchmark::State& state, BoardState& board, float far_w) {
  const GrVertex a = Corner(0, 0, 255, 0, 0, 0, 0, 1), b = Corner(640, 0, 0, 255, 0, 512, 0, 1),
                 c = Corner(640, 480, 0, 0, 255, 512, 384, far_w),
                 d = Corner(0, 480, 90, 200, 40, 0, 384, far_w);
  for (auto _ : state) {
    DrawTriangle(board, a, b, c);
    DrawTriangle(board, a, c, d);
    benchmark::DoNotOptimize(BackBuffer(board.frame)[1000]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kScreenPixels);
}

void BM_FillGouraudBlend(benchmark::State& state) {
  BoardState board;
  InitFrameBuffers(board.frame, 2);
  board.render.color = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                        GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
  board.render.alpha = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                        GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, false};
  board.render.constant = {0, 0, 0, 128};
  board.render.blend = {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO,
                        GR_BLEND_ZERO};
  FillScreen(state, board, 1);
}
BENCHMARK(BM_FillGouraudBlend);

// Bilinear from a 256x128 texture, replacing; range(0) is 1 for constant w,
// 4 for w growing to 4 at the bottom (perspective).
void BM_FillTexturedBilinear(benchmark::State& state) {
  BoardState board;
  InitFrameBuffers(board.frame, 2);
  TextureUnitState& tmu = board.tmu0;
  tmu.source.valid = true;
  tmu.decoded_valid = true;
  tmu.decoded.width = 256;
  tmu.decoded.height = 128;
  for (int i = 0; i < 256 * 128; i++) tmu.decoded.texels.push_back(uint32_t(i) * 2654435761u);
  board.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                        GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
  board.render.blend = {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO};
  FillScreen(state, board, float(state.range(0)));
}
BENCHMARK(BM_FillTexturedBilinear)->Arg(1)->Arg(4);

}  // namespace
}  // namespace softboard
