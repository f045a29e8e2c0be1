#include "board_scenes.h"

#include <cstdlib>
#include <vector>

#include "api/board_context.h"
#include "api/board_state.h"
#include "api/display_frames.h"
#include "api/frame_drawing.h"
#include "demo.h"
#include "frame/framebuffer.h"
#include "grlib.h"
#include "scenes.h"

namespace bench {
namespace {

std::vector<uint16_t>& Texels565() {
  static std::vector<uint16_t> texels = SceneTexture565();
  return texels;
}

GrVertex ToVertex(const Corner& c) {
  GrVertex v{};
  v.x = c.x;
  v.y = c.y;
  v.r = c.r;
  v.g = c.g;
  v.b = c.b;
  v.oow = 1 / c.w;
  v.tmuvtx[0] = {c.s / c.w, c.t / c.w, 1 / c.w};
  return v;
}

}  // namespace

BoardDemoFrame::BoardDemoFrame(const char* scale, const char* threads, const char* ssaa,
                               const char* color) {
  setenv("SOFTBOARD_COLOR", color, 1);
  setenv("SOFTBOARD_SCALE", scale, 1);
  setenv("SOFTBOARD_THREADS", threads, 1);
  setenv("SOFTBOARD_SSAA", ssaa, 1);
  setenv("SOFTBOARD_DISPLAY", "headless", 1);
  setenv("SOFTBOARD_VSYNC", "0", 1);
  unsetenv("SOFTBOARD_TRACE");
  grLibInit();
  GrHwConfiguration hw;
  if (!grSstQueryHardware(&hw)) return;
  grSstSelect(0);
  if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                    GR_ORIGIN_UPPER_LEFT, 2, 1))
    return;
  GrTexInfo info{GR_LOD_256, GR_LOD_256, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, Texels565().data()};
  const FxU32 address = grTexMinAddress(GR_TMU0);
  grTexDownloadMipMap(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexSource(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
               GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, FXFALSE, FXFALSE);
  ok_ = true;
}

BoardDemoFrame::~BoardDemoFrame() {
  grLibShutdown();
}

void BoardDemoFrame::Run(bool still) {
  // Ends the board's comparison with the last frame: every band is drawn.
  if (!still) softboard::FinishDrawing(softboard::TheBoard());
  DemoState demo{0.0f, 0.0f, 128.0f, 0, 0};
  DrawFrame(&demo);
}

struct BoardFill::State {
  softboard::BoardState board;
  GrVertex first[3], second[3];
};

BoardFill::BoardFill(Kind kind, float far_w) : state_(std::make_unique<State>()) {
  softboard::BoardState& board = state_->board;
  softboard::InitFrameBuffers(board.frame, 2);
  if (kind == kGouraudBlend) {
    board.render.color = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                          GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
    board.render.alpha = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                          GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_CONSTANT, false};
    board.render.constant = {0, 0, 0, 128};
    board.render.blend = {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO,
                          GR_BLEND_ZERO};
  } else {
    softboard::TextureUnitState& tmu = board.tmu0;
    tmu.source.valid = true;
    tmu.decoded = softboard::MakeDecodedTexture(256, 128, SceneTexture());
    board.render.color = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                          GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, false};
    board.render.blend = {GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO, GR_BLEND_ZERO};
  }
  Corner a[3], b[3];
  ScreenQuad(far_w, a, b);
  for (int i = 0; i < 3; i++) {
    state_->first[i] = ToVertex(a[i]);
    state_->second[i] = ToVertex(b[i]);
  }
}

BoardFill::~BoardFill() = default;

void BoardFill::Run() {
  const GrVertex* a = state_->first;
  const GrVertex* b = state_->second;
  softboard::DrawTriangle(state_->board, a[0], a[1], a[2]);
  softboard::DrawTriangle(state_->board, b[0], b[1], b[2]);
}

}  // namespace bench
