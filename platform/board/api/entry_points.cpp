// The library's C entry points. Each one checks its call, traces it (with the
// reason when it is refused), then forwards it to the unit that does the work;
// the trace never reads caller memory that the check has not vouched for.
// Nothing here throws: memory that cannot be had is handled where a call can
// fail or do less, and every entry point ends in a handler that stops the
// call where it was.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>

#include "api/board_context.h"
#include "api/frame_drawing.h"
#include "api/packaged_copy.h"
#include "api/process_output.h"
#include "api/settings.h"
#include "api/trace.h"
#include "frame/frame_recorder.h"
#include "frame/framebuffer.h"
#include "grlib.h"
#include "output/display.h"
#include "png_file.h"
#include "quote.h"
#include "raster/texture_memory.h"
#include "texture_file.h"

namespace softboard {

namespace {

BoardState*& CurrentBoard() {
  static BoardState* board = new BoardState;
  return board;
}

}  // namespace

BoardState& TheBoard() {
  return *CurrentBoard();
}

ScopedBoard::ScopedBoard(const Settings& settings)
    : board_(std::make_unique<BoardState>()), previous_(CurrentBoard()) {
  board_->given_settings = settings;
  CurrentBoard() = board_.get();
}

ScopedBoard::~ScopedBoard() {
  if (board_->initialized) grLibShutdown();
  CurrentBoard() = previous_;
}

namespace {

// Says `what` on standard error, once a run: a board short of memory would
// otherwise say it every frame.
void ComplainOnce(BoardState& board, const char* what) noexcept {
  if (board.failure_reported) return;
  board.failure_reported = true;
  const SigpipeBlocked quiet;
  std::fprintf(stderr, "softboard: %s\n", what);  // no allocation: memory may be short
}

// The handler every entry point ends in: an exception (out of memory, mostly)
// stops the call where it was, and never crosses the C interface.
void CallFailed(const char* call) noexcept {
  const char* why = "an unexpected error";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    why = "out of memory";
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
  }
  char line[256];
  std::snprintf(line, sizeof line, "%s failed: %s; the call did nothing more", call, why);
  try {
    ComplainOnce(TheBoard(), line);
  } catch (...) {
  }
}

}  // namespace

void FinishDrawing(BoardState& board) {
  if (board.recorder && !board.recorder->Flush())
    ComplainOnce(board, "out of memory while drawing: a frame is incomplete");
}

namespace {

// A polygon larger than this is refused: its index list is not ours to trust.
constexpr int kMaxPolygonVertices = 1024;
// Vertex indices at or above this are refused for the same reason.
constexpr int kMaxVertexIndex = 1 << 20;

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
  // Made first: without memory, the message must still be said.
  const std::string shown_path = quote::Escape(path);
  std::string error;
  try {
    // Rows go to the file as they are: converted one at a time, if at all.
    const PixelRows shown = ShownFrame(board.frame);
    const auto row = [&](int y, uint32_t* scratch) -> const uint32_t* {
      if (shown.layout == PixelLayout::kArgb8888) return shown.Argb(y);
      CopyImageRow(shown, y, scratch);
      return scratch;
    };
    if (shown.pixels == nullptr)
      error = shown_path + ": no frame to save";
    else if (texfile::WritePngRows(path, shown.width, shown.height, false, row, &error))
      return;
    Complain("screenshot not saved: " + error);
  } catch (const std::bad_alloc&) {
    const SigpipeBlocked quiet;
    std::fprintf(stderr, "softboard: screenshot not saved: %s: out of memory\n",
                 shown_path.c_str());
  }
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
// size is worth (see DrawingThreads); made again when that changes. False
// when there is no memory for them.
bool MatchThreads(BoardState& board) {
  const FrameBuffers& frame = board.frame;
  const int threads =
      DrawingThreads(board.settings.threads, size_t(frame.width) * size_t(frame.height));
  if (board.recorder && board.recorder->threads() == threads) return true;
  FinishDrawing(board);
  try {
    board.recorder = std::make_unique<FrameRecorder>(threads);
    return true;
  } catch (const std::bad_alloc&) {
    return board.recorder != nullptr;  // the threads there were draw on
  }
}

// The rows of the display's own memory the frame as shown may live in: none
// for a 5-6-5 frame, or where drawing after the last swap could reach the
// screenshot saved at shutdown.
PixelRows DirectRows(BoardState& board, int width, int height, int ssaa) {
  const bool keep_shown = !board.settings.screenshot_path.empty();
  const bool rgb565 = BufferLayout(board.settings.color_bits == 16, ssaa) == PixelLayout::kRgb565;
  if (!board.display || rgb565 || (ssaa == 1 && keep_shown)) return {};
  return board.display->FrameRows(width, height);
}

// Buffers to show width x height, drawn ssaa times as large each way. False,
// with no buffers at all (count 0: nothing is drawn), when there is no memory
// for them.
bool MakeFrameBuffers(BoardState& board, int count, int width, int height, int ssaa) {
  // The frame shown is read after its swap only by a screenshot at shutdown.
  const bool keep_shown = !board.settings.screenshot_path.empty();
  const PixelRows direct = DirectRows(board, width, height, ssaa);
  try {
    SetColorDepth(board.frame, board.settings.color_bits, board.settings.dither);
    InitFrameBuffers(board.frame, count, width, height, ssaa, true, keep_shown, direct);
    return true;
  } catch (const std::bad_alloc&) {
    FreeFrameBuffers(board.frame);
    return false;
  }
}

// Sizes the frame buffers for the display as it is now. Without the memory
// for that size: false while the display opens (it then fails); later (a
// larger window) one line, and the size before, or else the scene's own.
bool SizeFrameBuffers(BoardState& board, int count) {
  int width = 0, height = 0;
  ShownSize(board, &width, &height);
  const int ssaa = Samples(board, width);
  // Said once for each new reduction, not at every resize that makes it again.
  if (ssaa != board.settings.ssaa && ssaa != board.ssaa_reported) {
    board.ssaa_reported = ssaa;
    Complain("SOFTBOARD_SSAA=" + std::to_string(board.settings.ssaa) + " at " +
             std::to_string(width) + "x" + std::to_string(height) + " needs buffers larger than " +
             std::to_string(kMaxBufferSide) + " pixels a side; using " + std::to_string(ssaa));
  }
  if (width * ssaa == board.frame.width && height * ssaa == board.frame.height &&
      count == board.frame.count && DirectRows(board, width, height, ssaa) == board.frame.direct)
    return true;
  FinishDrawing(board);
  const int before_ssaa = board.frame.ssaa;
  const int before_width = board.frame.width / before_ssaa;
  const int before_height = board.frame.height / before_ssaa;
  if (MakeFrameBuffers(board, count, width, height, ssaa)) return MatchThreads(board);
  if (!board.open) return false;
  Complain("no memory for frame buffers of " + std::to_string(width * ssaa) + "x" +
           std::to_string(height * ssaa) + "; drawing at the size before");
  if (before_width > 0 && MakeFrameBuffers(board, count, before_width, before_height, before_ssaa))
    return MatchThreads(board);
  return MakeFrameBuffers(board, count, kScreenWidth, kScreenHeight, 1) && MatchThreads(board);
}

// The frame buffers, texture memory and drawing threads of a display being
// opened; false when there is no memory for them.
bool StartDrawing(BoardState& board, int color_buffers) {
  // The frame was reset: sizing it makes the buffers and matches the threads.
  if (!SizeFrameBuffers(board, color_buffers)) return false;
  try {
    ResetTextureUnit(board.tmu0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
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
  board.recorder.reset();  // what is recorded and not shown is dropped
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

void GR_CALL grLibInit(void) try {
  // Before the board opens any file of its own.
  OpenStandardDescriptors();
  BoardState& board = TheBoard();
  if (board.open) CloseDisplay(board);
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
} catch (...) {
  CallFailed("grLibInit");
}

FxBool GR_CALL grSstQueryHardware(GrHwConfiguration* hwconfig) try {
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
} catch (...) {
  CallFailed("grSstQueryHardware");
  return FXFALSE;
}

void GR_CALL grSstSelect(int which) try {
  BoardState& board = TheBoard();
  const char* refusal = !board.initialized                            ? "grLibInit not called"
                        : which < 0 || which >= board.settings.boards ? "no such board"
                                                                      : nullptr;
  TraceLine trace(board.trace, "grSstSelect", which);
  if (refusal) return trace.Refused(refusal);
  board.selected = which;
} catch (...) {
  CallFailed("grSstSelect");
}

FxBool GR_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int color_buffers,
                            int aux_buffers) try {
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
  if (!StartDrawing(board, color_buffers)) {
    int width = 0, height = 0;
    ShownSize(board, &width, &height);
    const int ssaa = Samples(board, width);
    const std::string why = "no memory to draw " + std::to_string(width * ssaa) + "x" +
                            std::to_string(height * ssaa) + " frames";
    CloseDisplay(board);
    Complain("cannot open the display: " + why);
    trace.Failed(why);
    return FXFALSE;
  }
  board.open = true;
  trace.Returned(FXTRUE);
  return FXTRUE;
} catch (...) {
  CallFailed("grSstWinOpen");
  return FXFALSE;
}

FxBool GR_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info) try {
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
    HintPackagedCopy(filename);
    return FXFALSE;
  }
  trace.Returned(FXTRUE, *info);
  return FXTRUE;
} catch (...) {
  CallFailed("gu3dfGetInfo");
  return FXFALSE;
}

FxBool GR_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info) try {
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
} catch (...) {
  CallFailed("gu3dfLoad");
  return FXFALSE;
}

FxU32 GR_CALL grTexMinAddress(GrChipID_t tmu) try {
  BoardState& board = TheBoard();
  TraceLine trace(board.trace, "grTexMinAddress", tmu);
  if (tmu != GR_TMU0) {
    trace.Refused("no such texture unit");
    return 0;
  }
  trace.Returned(TexMinAddress());
  return TexMinAddress();
} catch (...) {
  CallFailed("grTexMinAddress");
  return 0;
}

void GR_CALL grTexDownloadMipMap(GrChipID_t tmu, FxU32 address, FxU32 level_mask,
                                 GrTexInfo* info) try {
  BoardState& board = TheBoard();
  const std::string refusal = CheckTexture(board, tmu, address, level_mask, info);
  TraceLine trace(board.trace, "grTexDownloadMipMap", tmu, address, level_mask,
                  static_cast<const GrTexInfo*>(info));
  if (!refusal.empty()) return trace.Refused(refusal);
  if (info->data == nullptr) return trace.Refused("null data");
  FinishDrawing(board);
  DownloadMipMap(board.tmu0, address, level_mask, *info);
} catch (...) {
  CallFailed("grTexDownloadMipMap");
}

void GR_CALL grTexSource(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) try {
  BoardState& board = TheBoard();
  const std::string refusal = CheckTexture(board, tmu, address, level_mask, info);
  TraceLine trace(board.trace, "grTexSource", tmu, address, level_mask,
                  static_cast<const GrTexInfo*>(info));
  if (!refusal.empty()) return trace.Refused(refusal);
  FinishDrawing(board);
  SelectSource(board.tmu0, address, level_mask, *info);
} catch (...) {
  CallFailed("grTexSource");
}

void GR_CALL grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgb_function,
                          GrCombineFactor_t rgb_factor, GrCombineFunction_t alpha_function,
                          GrCombineFactor_t alpha_factor, FxBool rgb_invert,
                          FxBool alpha_invert) try {
  BoardState& board = TheBoard();
  std::string refusal = NeedsDisplay(board);
  if (refusal.empty() && tmu != GR_TMU0) refusal = "no such texture unit";
  TraceLine trace(board.trace, "grTexCombine", tmu, rgb_function, rgb_factor, alpha_function,
                  alpha_factor, rgb_invert, alpha_invert);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.tmu0.combine = {rgb_function, rgb_factor,      alpha_function,
                        alpha_factor, rgb_invert != 0, alpha_invert != 0};
} catch (...) {
  CallFailed("grTexCombine");
}

void GR_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) try {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grColorCombine", function, factor, local, other, invert);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.color = {function, factor, local, other, invert != 0};
} catch (...) {
  CallFailed("grColorCombine");
}

void GR_CALL grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) try {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grAlphaCombine", function, factor, local, other, invert);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.alpha = {function, factor, local, other, invert != 0};
} catch (...) {
  CallFailed("grAlphaCombine");
}

void GR_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_src, GrAlphaBlendFnc_t rgb_dst,
                                  GrAlphaBlendFnc_t alpha_src, GrAlphaBlendFnc_t alpha_dst) try {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grAlphaBlendFunction", rgb_src, rgb_dst, alpha_src, alpha_dst);
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.blend = {rgb_src, rgb_dst, alpha_src, alpha_dst};
} catch (...) {
  CallFailed("grAlphaBlendFunction");
}

void GR_CALL grConstantColorValue(GrColor_t color) try {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grConstantColorValue", TraceColor{color});
  if (!refusal.empty()) return trace.Refused(refusal);
  board.render.constant = UnpackColor(color, board.color_format);
} catch (...) {
  CallFailed("grConstantColorValue");
}

void GR_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth) try {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grBufferClear", TraceColor{color}, alpha, depth);
  if (!refusal.empty()) return trace.Refused(refusal);
  FrameBuffers& frame = board.frame;
  const uint32_t pixel = ClearPixel(frame, UnpackColor(color, board.color_format), alpha);
  board.recorder->RecordClear(BackDestination(frame), pixel);
  frame.depth = depth;
} catch (...) {
  CallFailed("grBufferClear");
}

void GR_CALL grDrawPolygon(int n, const int ilist[], const GrVertex vlist[]) try {
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
} catch (...) {
  CallFailed("grDrawPolygon");
}

void GR_CALL grBufferSwap(int swap_interval) try {
  BoardState& board = TheBoard();
  const std::string refusal = NeedsDisplay(board);
  TraceLine trace(board.trace, "grBufferSwap", swap_interval);
  if (!refusal.empty()) return trace.Refused(refusal);
  FrameBuffers& frame = board.frame;
  if (frame.ssaa > 1) {
    board.recorder->RecordAverageDown(BackDestination(frame), frame.ssaa, AverageRows(frame));
  }
  bool complete = true;
  FrameDamage damage = board.recorder->FlushFrame(&complete);
  if (!complete) ComplainOnce(board, "out of memory while drawing: a frame is incomplete");
  RotateBuffers(frame, false);
  if (frame.ssaa > 1) {
    for (auto& [first, last] : damage.rows) first /= frame.ssaa, last /= frame.ssaa;
  }
  const PixelRows shown = ShownFrame(board.frame);
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
} catch (...) {
  CallFailed("grBufferSwap");
}

void GR_CALL grLibShutdown(void) try {
  BoardState& board = TheBoard();
  { TraceLine trace(board.trace, "grLibShutdown"); }
  if (board.open && !board.settings.screenshot_path.empty())
    SaveScreenshot(board, board.settings.screenshot_path);
  CloseDisplay(board);
  CloseTrace(board.trace);
  board.initialized = false;
  board.selected = -1;
} catch (...) {
  CallFailed("grLibShutdown");
}

}  // extern "C"
