// The library's C entry points. Each one checks its call, traces it (with the
// reason when it is refused), then forwards it to the unit that does the work;
// the trace never reads caller memory that the check has not vouched for.
// Nothing here throws.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bands.h"
#include "board_context.h"
#include "display.h"
#include "framebuffer.h"
#include "grlib.h"
#include "png_file.h"
#include "rasterizer.h"
#include "settings.h"
#include "texture_file.h"
#include "texture_memory.h"
#include "trace.h"

namespace softboard {

BoardState& TheBoard() {
  static BoardState* board = new BoardState;
  return *board;
}

void FinishDrawing(BoardState& board) {
  if (board.bands) board.bands->Flush();
}

namespace {

// A polygon larger than this is refused: its index list is not ours to trust.
constexpr int kMaxPolygonVertices = 1024;
// Vertex indices at or above this are refused for the same reason.
constexpr int kMaxVertexIndex = 1 << 20;

void Complain(const std::string& line) {
  std::fprintf(stderr, "softboard: %s\n", line.c_str());
}

int RefreshHz(int refresh) {
  static constexpr int kRates[] = {60, 70, 72, 75, 80, 90, 100, 85, 120};
  return refresh >= 0 && refresh < int(std::size(kRates)) ? kRates[refresh] : 0;
}

// Why a call that needs an open display is refused; empty when it is not.
std::string NeedsDisplay(const BoardState& board) {
  if (!board.initialized) return "grLibInit not called";
  return board.open ? "" : "no display open";
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

std::string CheckTexture(const BoardState& board, int tmu, uint32_t address, uint32_t level_mask,
                         const GrTexInfo* info) {
  std::string refusal = NeedsDisplay(board);
  if (!refusal.empty()) return refusal;
  if (tmu != GR_TMU0) return "no such texture unit";
  if (info == nullptr) return "null record";
  const char* reason = TextureRefusal(address, level_mask, *info);
  return reason ? reason : "";
}

// Only for a list of at most kMaxPolygonVertices.
std::string CheckIndices(int n, const int* ilist) {
  for (int i = 0; i < n; i++) {
    if (ilist[i] < 0 || ilist[i] >= kMaxVertexIndex)
      return "vertex index " + std::to_string(ilist[i]) + " out of range (0 to " +
             std::to_string(kMaxVertexIndex - 1) + ")";
  }
  return "";
}

void SaveScreenshot(const BoardState& board, const std::string& path) {
  std::string error;
  const Image shown = ShownFrame(board.frame);
  const std::vector<uint32_t> pixels = ImagePixels(shown);
  if (!texfile::WritePng(path, pixels.data(), shown.width, shown.height, false, &error))
    Complain("screenshot not saved: " + error);
}

// The size frames are shown at: the scene times the scale setting, or the
// largest 4:3 size that fits the window (never below the scene's own size;
// headless, the scene's size).
void ShownSize(const BoardState& board, int* width, int* height) {
  double scale = board.settings.scale;
  int w = 0, h = 0;
  if (scale == 0 && board.display && board.display->DrawableSize(&w, &h))
    scale = std::min(double(w) / kScreenWidth, double(h) / kScreenHeight);
  scale = std::clamp(scale, 1.0, kMaxScale);
  *width = int(std::lround(kScreenWidth * scale));
  *height = int(std::lround(kScreenHeight * scale));
}

// Supersampling as asked, but never beyond buffers of this many pixels a side.
constexpr int kMaxBufferSide = 16384;

int Samples(const BoardState& board, int width) {
  int ssaa = board.settings.ssaa;
  while (ssaa > 1 && width * ssaa > kMaxBufferSide) ssaa /= 2;
  return ssaa;
}

// Threads to draw with: the setting, or for `auto` as many as the frame's
// size is worth (see DrawingThreads); made again when that changes.
void MatchThreads(BoardState& board) {
  const FrameBuffers& frame = board.frame;
  const int threads =
      DrawingThreads(board.settings.threads, size_t(frame.width) * size_t(frame.height));
  if (board.bands && board.bands->threads() == threads) return;
  FinishDrawing(board);
  board.bands = std::make_unique<BandRenderer>(threads);
}

void SizeFrameBuffers(BoardState& board, int count) {
  int width = 0, height = 0;
  ShownSize(board, &width, &height);
  const int ssaa = Samples(board, width);
  if (ssaa != board.settings.ssaa && ssaa != board.frame.ssaa) {
    Complain("SOFTBOARD_SSAA=" + std::to_string(board.settings.ssaa) + " at " +
             std::to_string(width) + "x" + std::to_string(height) + " needs buffers larger than " +
             std::to_string(kMaxBufferSide) + " pixels a side; using " + std::to_string(ssaa));
  }
  // The frame shown is read after its swap only by a screenshot at shutdown.
  const bool keep_shown = !board.settings.screenshot_path.empty();
  // The frame as shown may live in the display's own memory, unless it is
  // 5-6-5, or drawing after the last swap could reach the screenshot.
  const bool rgb565 = board.settings.color_bits == 16 && ssaa == 1;
  DisplayRows direct;
  if (board.display && !rgb565 && (ssaa > 1 || !keep_shown))
    direct = board.display->FrameRows(width, height);
  if (width * ssaa == board.frame.width && height * ssaa == board.frame.height &&
      count == board.frame.count && direct == board.frame.direct)
    return;
  FinishDrawing(board);
  SetColorDepth(board.frame, board.settings.color_bits, board.settings.dither);
  InitFrameBuffers(board.frame, count, width, height, ssaa, true, keep_shown, direct);
  MatchThreads(board);
}

// F12: the first free screenshot-NNNN.png in the current directory.
void SaveNumberedScreenshot(const BoardState& board) {
  for (int n = 1; n < 10000; n++) {
    char name[32];
    std::snprintf(name, sizeof name, "screenshot-%04d.png", n);
    std::error_code ignored;
    if (!std::filesystem::exists(std::filesystem::symlink_status(name, ignored)))
      return SaveScreenshot(board, name);
  }
}

void CloseDisplay(BoardState& board) {
  board.bands.reset();  // what is recorded and not shown is dropped
  board.display.reset();
  FreeFrameBuffers(board.frame);
  board.open = false;
}

void DrawFan(BoardState& board, int n, const int* ilist, const GrVertex* vlist) {
  // The fan shares its first corner; a lower-left origin flips y once here.
  const auto corner = [&](int i) {
    GrVertex v = vlist[ilist[i]];
    if (board.origin == GR_ORIGIN_LOWER_LEFT) v.y = float(kScreenHeight) - v.y;
    return v;
  };
  const GrVertex first = corner(0);
  GrVertex previous = corner(1);
  for (int i = 2; i < n; i++) {
    const GrVertex next = corner(i);
    DrawTriangle(board, first, previous, next);
    previous = next;
  }
}

}  // namespace
}  // namespace softboard

using namespace softboard;

extern "C" {

void GR_CALL grLibInit(void) {
  BoardState& board = TheBoard();
  if (board.open) CloseDisplay(board);
  CloseTrace(board.trace);
  std::vector<std::string> problems;
  board.settings = ReadSettings(&problems);
  for (const std::string& problem : problems) Complain(problem);
  std::string error;
  if (!board.settings.trace_path.empty() &&
      !OpenTrace(board.trace, board.settings.trace_path, &error))
    Complain(error);
  board.initialized = true;
  board.selected = -1;
  TraceLine trace(board.trace, "grLibInit");
}

FxBool GR_CALL grSstQueryHardware(GrHwConfiguration* hwconfig) {
  BoardState& board = TheBoard();
  const char* refusal = !board.initialized    ? "grLibInit not called"
                        : hwconfig == nullptr ? "null record"
                                              : nullptr;
  TraceLine trace(board.trace, "grSstQueryHardware", TraceOutput{hwconfig});
  if (refusal) {
    trace.Refused(refusal);
    return FXFALSE;
  }
  *hwconfig = GrHwConfiguration{};
  hwconfig->num_sst = board.settings.boards;
  for (int i = 0; i < board.settings.boards; i++)
    hwconfig->SSTs[i] = {GR_SSTTYPE_SOFTWARE, 4, 1, int(kTextureMemoryBytes >> 20)};
  const FxBool found = board.settings.boards > 0 ? FXTRUE : FXFALSE;
  trace.Returned(found, *hwconfig);
  return found;
}

void GR_CALL grSstSelect(int which) {
  BoardState& board = TheBoard();
  const char* refusal = !board.initialized                            ? "grLibInit not called"
                        : which < 0 || which >= board.settings.boards ? "no such board"
                                                                      : nullptr;
  TraceLine trace(board.trace, "grSstSelect", which);
  if (refusal) return trace.Refused(refusal);
  board.selected = which;
}

FxBool GR_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int color_buffers,
                            int aux_buffers) {
  BoardState& board = TheBoard();
  const std::string refusal =
      CheckWinOpen(board, resolution, refresh, format, origin, color_buffers, aux_buffers);
  TraceLine trace(board.trace, "grSstWinOpen", hWnd, resolution, refresh, format, origin,
                  color_buffers, aux_buffers);
  if (!refusal.empty()) {
    trace.Refused(refusal);
    return FXFALSE;
  }
  std::string error;
  board.display = OpenDisplay(board.settings, &error);
  if (!board.display) {
    trace.Failed(error);
    // After the program's prompt, which ends with no line break.
    const std::string hint = TerminalHint(board.settings);
    if (!hint.empty()) std::fprintf(stderr, "\nsoftboard: %s\n", hint.c_str());
    return FXFALSE;
  }
  if (board.selected < 0) board.selected = 0;
  board.color_format = format;
  board.origin = origin;
  board.refresh_hz = RefreshHz(refresh);
  board.render = RenderState{};
  board.frame = FrameBuffers{};
  SizeFrameBuffers(board, color_buffers);
  ResetTextureUnit(board.tmu0);
  MatchThreads(board);
  board.open = true;
  trace.Returned(FXTRUE);
  return FXTRUE;
}

FxBool GR_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info) {
  BoardState& board = TheBoard();
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
    return FXFALSE;
  }
  trace.Returned(FXTRUE, *info);
  return FXTRUE;
}

FxBool GR_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info) {
  BoardState& board = TheBoard();
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
}

FxU32 GR_CALL grTexMinAddress(GrChipID_t tmu) {
  BoardState& board = TheBoard();
  TraceLine trace(board.trace, "grTexMinAddress", tmu);
  if (tmu != GR_TMU0) {
    trace.Refused("no such texture unit");
    return 0;
  }
  trace.Returned(TexMinAddress());
  return TexMinAddress();
}

void GR_CALL grTexDownloadMipMap(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) {
  BoardState& board = TheBoard();
  const std::string refusal = CheckTexture(board, tmu, address, level_mask, info);
  TraceLine trace(board.trace, "grTexDownloadMipMap", tmu, address, level_mask,
                  static_cast<const GrTexInfo*>(info));
  if (!refusal.empty()) return trace.Refused(refusal);
  if (info->data == nullptr) return trace.Refused("null data");
  FinishDrawing(board);
  DownloadMipMap(board.tmu0, address, level_mask, *info);
}

void GR_CALL grTexSource(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) {
  BoardState& board = TheBoard();
  const std::string refusal = CheckTexture(board, tmu, address, level_mask, info);
  TraceLine trace(board.trace, "grTexSource", tmu, address, level_mask,
                  static_cast<const GrTexInfo*>(info));
  if (!refusal.empty()) return trace.Refused(refusal);
  FinishDrawing(board);
  SelectSource(board.tmu0, address, level_mask, *info);
}

void GR_CALL grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgb_function,
                          GrCombineFactor_t rgb_factor, GrCombineFunction_t alpha_function,
                          GrCombineFactor_t alpha_factor, FxBool rgb_invert, FxBool alpha_invert) {
  BoardState& board = TheBoard();
  std::string refusal = NeedsDisplay(board);
  if (refusal.empty() && tmu != GR_TMU0) refusal = "no such texture unit";
  TraceLine trace(board.trace, "grTexCombine", tmu, rgb_function, rgb_factor, alpha_function,
                  alpha_factor, rgb_invert, alpha_invert);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.tmu0.combine = {rgb_function, rgb_factor,      alpha_function,
                        alpha_factor, rgb_invert != 0, alpha_invert != 0};
}

void GR_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grColorCombine", function, factor, local, other, invert);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.color = {function, factor, local, other, invert != 0};
}

void GR_CALL grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grAlphaCombine", function, factor, local, other, invert);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.alpha = {function, factor, local, other, invert != 0};
}

void GR_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_src, GrAlphaBlendFnc_t rgb_dst,
                                  GrAlphaBlendFnc_t alpha_src, GrAlphaBlendFnc_t alpha_dst) {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grAlphaBlendFunction", rgb_src, rgb_dst, alpha_src, alpha_dst);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.blend = {rgb_src, rgb_dst, alpha_src, alpha_dst};
}

void GR_CALL grConstantColorValue(GrColor_t color) {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grConstantColorValue", TraceColor{color});
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.constant = UnpackColor(color, board.color_format);
}

void GR_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth) {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grBufferClear", TraceColor{color}, alpha, depth);
  if (!refusal.empty()) return trace.Refused(refusal);
  FrameBuffers& frame = board.frame;
  const uint32_t pixel = ClearPixel(frame, UnpackColor(color, board.color_format), alpha);
  board.bands->RecordClear(BackBuffer(frame), frame.width, frame.height, BackStride(frame), pixel,
                           frame.rgb565);
  frame.depth = depth;
}

void GR_CALL grDrawPolygon(int n, const int ilist[], const GrVertex vlist[]) {
  BoardState& board = TheBoard();
  if (n > kMaxPolygonVertices) {
    // The list is longer than any we read: not even the trace looks at it.
    TraceLine trace(board.trace, "grDrawPolygon", n);
    return trace.Refused("more than " + std::to_string(kMaxPolygonVertices) + " vertices");
  }
  std::string refusal = NeedsDisplay(board);
  if (refusal.empty() && n >= 3 && ilist == nullptr) refusal = "null index list";
  if (refusal.empty() && n >= 3 && vlist == nullptr) refusal = "null vertex array";
  const std::string bad_index = ilist ? CheckIndices(n, ilist) : "";
  if (refusal.empty()) refusal = bad_index;
  TraceLine trace(board.trace, "grDrawPolygon", TracePolygon{n, ilist, vlist, bad_index.empty()});
  if (!refusal.empty()) return trace.Refused(refusal);
  if (n >= 3) DrawFan(board, n, ilist, vlist);
}

void GR_CALL grBufferSwap(int swap_interval) {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grBufferSwap", swap_interval);
  if (!refusal.empty()) return trace.Refused(refusal);
  FrameBuffers& frame = board.frame;
  if (frame.ssaa > 1) {
    const DisplayRows out = AverageRows(frame);
    board.bands->RecordAverageDown(BackBuffer(frame), frame.width, frame.height, frame.ssaa,
                                   out.pixels, out.stride);
  }
  FrameDamage damage = board.bands->FlushFrame();
  RotateBuffers(frame, false);
  if (frame.ssaa > 1) {
    for (auto& [first, last] : damage.rows) first /= frame.ssaa, last /= frame.ssaa;
  }
  const Image shown = ShownFrame(board.frame);
  board.display->Present(shown, damage, swap_interval, board.settings.vsync, board.refresh_hz);
  const DisplayEvents events = board.display->PumpEvents();
  if (events.screenshot_requested) SaveNumberedScreenshot(board);
  // A new window size takes effect between frames; the program draws the next
  // one whole, as it draws every frame. With a fixed scale only the display's
  // rows may have moved.
  if (events.resized) {
    // The display may have cleared or replaced what it shows: the next frame
    // is drawn whole.
    FinishDrawing(board);
    SizeFrameBuffers(board, board.frame.count);
  }
}

void GR_CALL grLibShutdown(void) {
  BoardState& board = TheBoard();
  { TraceLine trace(board.trace, "grLibShutdown"); }
  if (board.open && !board.settings.screenshot_path.empty())
    SaveScreenshot(board, board.settings.screenshot_path);
  CloseDisplay(board);
  CloseTrace(board.trace);
  board.initialized = false;
  board.selected = -1;
}

}  // extern "C"
