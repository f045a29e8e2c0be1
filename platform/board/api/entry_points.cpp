// The library's C entry points: each checks its call, traces it (with the
// reason when it is refused) and forwards it to the unit that does the work,
// all through entry_call.h, one call at a time.
#include <cstdio>
#include <string>

#include "api/display_frames.h"
#include "api/entry_call.h"
#include "api/frame_drawing.h"
#include "api/packaged_copy.h"
#include "api/polygon_checks.h"
#include "api/process_output.h"
#include "api/screenshots.h"
#include "api/settings.h"
#include "console_keys.h"
#include "frame/frame_recorder.h"
#include "grlib.h"
#include "output/display.h"
#include "raster/texture_memory.h"
#include "texture_file.h"

namespace softboard {
namespace {

// A swap waits for at most this many retraces: a program's larger interval
// (a stray value) would otherwise hold it for hours.
constexpr int kMaxSwapInterval = 8;

int RefreshHz(int refresh) {
  static constexpr int kRates[] = {60, 70, 72, 75, 80, 90, 100, 85, 120};
  return refresh >= 0 && refresh < int(std::size(kRates)) ? kRates[refresh] : 0;
}

std::string NeedsInit(const BoardState& board) {
  return board.initialized ? "" : "grLibInit not called";
}

std::string CheckWinOpen(const BoardState& board, int resolution, int refresh, int format,
                         int origin, int color_buffers, int aux_buffers) {
  if (!board.initialized) return "grLibInit not called";
  if (board.open) return "a display is already open";
  if (board.settings.boards == 0) return "no board";
  if (resolution != GR_RESOLUTION_640x480) return "only 640x480 (7) is offered";
  if (RefreshHz(refresh) == 0) return "unknown refresh rate";
  if (format < GR_COLORFORMAT_ARGB || format > GR_COLORFORMAT_BGRA) return "unknown colour format";
  if (origin != GR_ORIGIN_UPPER_LEFT && origin != GR_ORIGIN_LOWER_LEFT) return "unknown origin";
  if (color_buffers < 2 || color_buffers > 3) return "2 or 3 colour buffers are offered";
  if (aux_buffers < 0 || aux_buffers > 1) return "0 or 1 auxiliary buffer is offered";
  return "";
}

std::string CheckUnit(const BoardState& board, int tmu) {
  std::string refusal = NeedsDisplay(board);
  if (refusal.empty() && tmu != GR_TMU0 && tmu != GR_TMU1) refusal = "no such texture unit";
  return refusal;
}

std::string CheckTexture(const BoardState& board, int tmu, uint32_t address, uint32_t level_mask,
                         const GrTexInfo* info) {
  std::string refusal = CheckUnit(board, tmu);
  if (!refusal.empty()) return refusal;
  if (info == nullptr) return "null record";
  const char* reason = TextureRefusal(address, level_mask, *info);
  return reason ? reason : "";
}

// `bad_index`: what CheckIndices said of the list, if any.
std::string CheckPolygon(const BoardState& board, int n, const int* ilist, const GrVertex* vlist,
                         const std::string& bad_index) {
  std::string refusal = NeedsDisplay(board);
  if (refusal.empty() && n >= 3 && ilist == nullptr) refusal = "null index list";
  if (refusal.empty() && n >= 3 && vlist == nullptr) refusal = "null vertex array";
  return refusal.empty() ? bad_index : refusal;
}

void DrawFan(BoardState& board, int n, const int* ilist, const GrVertex* vlist) {
  // The fan shares its first corner; each triangle is culled on its own.
  const GrVertex first = vlist[ilist[0]];
  GrVertex previous = vlist[ilist[1]];
  for (int i = 2; i < n; i++) {
    const GrVertex next = vlist[ilist[i]];
    DrawSceneTriangle(board, first, previous, next);
    previous = next;
  }
}

bool OpenBoard(BoardState& board, TraceLine& trace, int format, int origin, int refresh,
               int color_buffers, int aux_buffers) {
  std::string error;
  board.display = OpenDisplay(board.settings, &error);
  if (!board.display) {
    trace.Failed(error);
    // After the program's prompt, which ends with no line break.
    const std::string hint = TerminalHint(board.settings);
    if (!hint.empty()) std::fprintf(stderr, "\nsoftboard: %s\n", hint.c_str());
    return false;
  }
  if (board.selected < 0) board.selected = 0;
  board.color_format = format;
  board.origin = origin;
  board.refresh_hz = RefreshHz(refresh);
  board.render = RenderState{};
  SetGamma(board.gamma, 1);
  if (!StartDrawing(board, color_buffers)) {
    int width = 0, height = 0;
    ShownSize(board, &width, &height);
    const int ssaa = SupersamplingAt(board.settings, width);
    const std::string why = "no memory to draw " + std::to_string(width * ssaa) + "x" +
                            std::to_string(height * ssaa) + " frames";
    StopDrawing(board);
    Complain("cannot open the display: " + why);
    trace.Failed(why);
    return false;
  }
  board.frame.depth_wanted = aux_buffers > 0;
  board.open = true;
  trace.Returned(FXTRUE);
  return true;
}

}  // namespace
}  // namespace softboard

using namespace softboard;

extern "C" {

void GR_CALL grLibInit(void) {
  Guarded(__func__, [](BoardState& board) {
    // Before the board opens any file of its own.
    OpenStandardDescriptors();
    if (board.open) StopDrawing(board);
    CloseTrace(board.trace);
    std::vector<std::string> problems;
    board.settings = board.given_settings ? *board.given_settings : ReadSettings(&problems);
    for (const std::string& problem : problems) Complain(problem);
    std::string error;
    if (!board.settings.trace_path.empty() &&
        !OpenTrace(board.trace, board.settings.trace_path, &error))
      Complain(error);
    board.initialized = true;
    board.selected = -1;
    board.ssaa_reported = 0;
    TraceLine trace(board.trace, "grLibInit");
  });
}

FxBool GR_CALL grSstQueryHardware(GrHwConfiguration* hwconfig) {
  return Guarded(__func__, FXFALSE, [&](BoardState& board) -> FxBool {
    std::string refusal = NeedsInit(board);
    if (refusal.empty() && hwconfig == nullptr) refusal = "null record";
    TraceLine trace(board.trace, "grSstQueryHardware", TraceOutput{hwconfig});
    if (!refusal.empty()) {
      trace.Refused(refusal);
      return FXFALSE;
    }
    *hwconfig = GrHwConfiguration{};
    hwconfig->num_sst = board.settings.boards;
    for (int i = 0; i < board.settings.boards; i++)
      hwconfig->SSTs[i] = {GR_SSTTYPE_SOFTWARE, 4, 2, int(kTextureMemoryBytes >> 20)};
    const FxBool found = board.settings.boards > 0 ? FXTRUE : FXFALSE;
    trace.Returned(found, *hwconfig);
    return found;
  });
}

void GR_CALL grSstSelect(int which) {
  Checked(
      __func__,
      [&](const BoardState& board) -> std::string {
        if (!board.initialized) return "grLibInit not called";
        return which < 0 || which >= board.settings.boards ? "no such board" : "";
      },
      [&](BoardState& board, TraceLine&) { board.selected = which; }, which);
}

FxBool GR_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int color_buffers,
                            int aux_buffers) {
  return Guarded(__func__, FXFALSE, [&](BoardState& board) -> FxBool {
    const std::string refusal =
        CheckWinOpen(board, resolution, refresh, format, origin, color_buffers, aux_buffers);
    TraceLine trace(board.trace, "grSstWinOpen", hWnd, resolution, refresh, format, origin,
                    color_buffers, aux_buffers);
    if (!refusal.empty()) {
      trace.Refused(refusal);
      return FXFALSE;
    }
    return OpenBoard(board, trace, format, origin, refresh, color_buffers, aux_buffers) ? FXTRUE
                                                                                        : FXFALSE;
  });
}

FxBool GR_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info) {
  return Guarded(__func__, FXFALSE, [&](BoardState& board) -> FxBool {
    const char* refusal = filename == nullptr ? "null file name"
                          : info == nullptr   ? "null record"
                                              : nullptr;
    TraceLine trace(board.trace, "gu3dfGetInfo", filename, TraceOutput{info});
    if (refusal) {
      trace.Refused(refusal);
      return FXFALSE;
    }
    std::string error;
    if (!texfile::ReadTextureFileInfo(filename, info, &error)) {
      trace.Failed(error);
      HintPackagedCopy(filename);
      return FXFALSE;
    }
    trace.Returned(FXTRUE, *info);
    return FXTRUE;
  });
}

FxBool GR_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info) {
  return Guarded(__func__, FXFALSE, [&](BoardState& board) -> FxBool {
    const char* refusal = filename == nullptr     ? "null file name"
                          : info == nullptr       ? "null record"
                          : info->data == nullptr ? "null data"
                                                  : nullptr;
    TraceLine trace(board.trace, "gu3dfLoad", filename, static_cast<const Gu3dfInfo*>(info));
    if (refusal) {
      trace.Refused(refusal);
      return FXFALSE;
    }
    std::string error;
    if (!texfile::LoadTextureFile(filename, info, &error)) {
      trace.Failed(error);
      return FXFALSE;
    }
    trace.Returned(FXTRUE);
    return FXTRUE;
  });
}

FxU32 GR_CALL grTexMinAddress(GrChipID_t tmu) {
  return Guarded(__func__, FxU32{0}, [&](BoardState& board) -> FxU32 {
    TraceLine trace(board.trace, "grTexMinAddress", tmu);
    if (tmu != GR_TMU0 && tmu != GR_TMU1) {
      trace.Refused("no such texture unit");
      return 0;
    }
    trace.Returned(TexMinAddress());
    return TexMinAddress();
  });
}

void GR_CALL grTexDownloadMipMap(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) {
  Checked(
      __func__,
      [&](const BoardState& board) {
        std::string refusal = CheckTexture(board, tmu, address, level_mask, info);
        if (refusal.empty() && info->data == nullptr) refusal = "null data";
        return refusal;
      },
      [&](BoardState& board, TraceLine&) {
        DownloadMipMap(UnitOf(board, tmu), address, level_mask, *info);
      },
      tmu, address, level_mask, static_cast<const GrTexInfo*>(info));
}

void GR_CALL grTexSource(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) {
  Checked(
      __func__,
      [&](const BoardState& board) { return CheckTexture(board, tmu, address, level_mask, info); },
      [&](BoardState& board, TraceLine&) {
        SelectSource(UnitOf(board, tmu), address, level_mask, *info);
      },
      tmu, address, level_mask, static_cast<const GrTexInfo*>(info));
}

void GR_CALL grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgb_function,
                          GrCombineFactor_t rgb_factor, GrCombineFunction_t alpha_function,
                          GrCombineFactor_t alpha_factor, FxBool rgb_invert, FxBool alpha_invert) {
  Checked(
      __func__, [&](const BoardState& board) { return CheckUnit(board, tmu); },
      [&](BoardState& board, TraceLine&) {
        UnitOf(board, tmu).combine = {rgb_function, rgb_factor,      alpha_function,
                                      alpha_factor, rgb_invert != 0, alpha_invert != 0};
      },
      tmu, rgb_function, rgb_factor, alpha_function, alpha_factor, rgb_invert, alpha_invert);
}

void GR_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
  SetState(
      __func__,
      [&](BoardState& board) {
        board.render.color = {function, factor, local, other, invert != 0};
      },
      function, factor, local, other, invert);
}

void GR_CALL grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
  SetState(
      __func__,
      [&](BoardState& board) {
        board.render.alpha = {function, factor, local, other, invert != 0};
      },
      function, factor, local, other, invert);
}

void GR_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_src, GrAlphaBlendFnc_t rgb_dst,
                                  GrAlphaBlendFnc_t alpha_src, GrAlphaBlendFnc_t alpha_dst) {
  SetState(
      __func__,
      [&](BoardState& board) {
        board.render.blend = {rgb_src, rgb_dst, alpha_src, alpha_dst};
      },
      rgb_src, rgb_dst, alpha_src, alpha_dst);
}

void GR_CALL grConstantColorValue(GrColor_t color) {
  SetState(
      __func__,
      [&](BoardState& board) { board.render.constant = UnpackColor(color, board.color_format); },
      TraceColor{color});
}

void GR_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth) {
  SetState(
      __func__, [&](BoardState& board) { ClearBuffers(board, color, alpha, depth); },
      TraceColor{color}, alpha, depth);
}

void GR_CALL grDrawPolygon(int n, const int ilist[], const GrVertex vlist[]) {
  Guarded(__func__, [&](BoardState& board) {
    if (n > kMaxPolygonVertices) {
      // The list is longer than any we read: not even the trace looks at it.
      TraceLine trace(board.trace, "grDrawPolygon", n);
      return trace.Refused("more than " + std::to_string(kMaxPolygonVertices) + " vertices");
    }
    const std::string bad_index = ilist ? CheckIndices(n, ilist) : "";
    const std::string refusal = CheckPolygon(board, n, ilist, vlist, bad_index);
    TraceLine trace(board.trace, "grDrawPolygon", TracePolygon{n, ilist, vlist, bad_index.empty()});
    if (!refusal.empty()) return trace.Refused(refusal);
    if (n >= 3) DrawFan(board, n, ilist, vlist);
  });
}

void GR_CALL grBufferSwap(int swap_interval) {
  Checked(
      __func__, NeedsDisplay,
      [&](BoardState& board, TraceLine& trace) {
        int retraces = swap_interval;
        if (retraces > kMaxSwapInterval || retraces < 0) {
          retraces = retraces < 0 ? 0 : kMaxSwapInterval;
          trace.Held(std::to_string(retraces) + " retraces");
        }
        SwapFrame(board, retraces);
      },
      swap_interval);
}

void GR_CALL grLibShutdown(void) {
  Guarded(__func__, [](BoardState& board) {
    { TraceLine trace(board.trace, "grLibShutdown"); }
    if (board.open && !board.settings.screenshot_path.empty())
      SaveScreenshot(board, board.settings.screenshot_path);
    StopDrawing(board);
    CloseTrace(board.trace);
    // The displays read keys through the console: its terminal, taken then,
    // goes back with the rest (the next key read takes it again).
    ConsoleGiveBackTerminal();
    board.initialized = false;
    board.selected = -1;
  });
}

}  // extern "C"
