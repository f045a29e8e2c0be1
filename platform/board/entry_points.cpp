// The library's C entry points: check the call, trace it, forward it to the
// unit that does the work. Nothing here throws; a bad call is traced and ignored.
#include <cstdio>
#include <ctime>
#include <filesystem>

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
namespace {

// The one board context. Never destroyed, so calls made while the process
// exits (from atexit handlers, say) still find it.
BoardState& Board() {
  static BoardState* board = new BoardState;
  return *board;
}

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

bool Usable(const BoardState& board) {
  return board.initialized && board.open;
}

void SaveScreenshot(const BoardState& board, const std::string& path) {
  std::string error;
  if (!texfile::WritePng(path, FrontBuffer(board.frame), kScreenWidth, kScreenHeight, false,
                         &error))
    Complain("screenshot not saved: " + error);
}

// F12: the first free screenshot-NNNN.png in the current directory.
void SaveNumberedScreenshot(const BoardState& board) {
  for (int n = 1; n < 10000; n++) {
    char name[32];
    std::snprintf(name, sizeof name, "screenshot-%04d.png", n);
    std::error_code ignored;
    if (!std::filesystem::exists(name, ignored)) return SaveScreenshot(board, name);
  }
}

void CloseDisplay(BoardState& board) {
  board.display.reset();
  FreeFrameBuffers(board.frame);
  board.open = false;
}

}  // namespace
}  // namespace softboard

using namespace softboard;

extern "C" {

void GR_CALL grLibInit(void) {
  BoardState& board = Board();
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
  if (Tracing(board.trace)) TraceLine(board.trace, "grLibInit");
}

FxBool GR_CALL grSstQueryHardware(GrHwConfiguration* hwconfig) {
  BoardState& board = Board();
  FxBool found = FXFALSE;
  if (board.initialized && hwconfig != nullptr) {
    *hwconfig = GrHwConfiguration{};
    hwconfig->num_sst = board.settings.boards;
    for (int i = 0; i < board.settings.boards; i++)
      hwconfig->SSTs[i] = {GR_SSTTYPE_SOFTWARE, 4, 1, int(kTextureMemoryBytes >> 20)};
    found = board.settings.boards > 0 ? FXTRUE : FXFALSE;
  }
  if (Tracing(board.trace)) TraceLine(board.trace, "grSstQueryHardware").HwConfig(hwconfig);
  return found;
}

void GR_CALL grSstSelect(int which) {
  BoardState& board = Board();
  if (Tracing(board.trace)) TraceLine(board.trace, "grSstSelect").Int(which);
  if (board.initialized && which >= 0 && which < board.settings.boards) board.selected = which;
}

FxBool GR_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int color_buffers,
                            int aux_buffers) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grSstWinOpen")
        .Int(hWnd)
        .Int(resolution)
        .Int(refresh)
        .Int(format)
        .Int(origin)
        .Int(color_buffers)
        .Int(aux_buffers);
  const bool valid = resolution == GR_RESOLUTION_640x480 && RefreshHz(refresh) > 0 &&
                     format >= GR_COLORFORMAT_ARGB && format <= GR_COLORFORMAT_BGRA &&
                     (origin == GR_ORIGIN_UPPER_LEFT || origin == GR_ORIGIN_LOWER_LEFT) &&
                     color_buffers >= 2 && color_buffers <= 3 && aux_buffers >= 0 &&
                     aux_buffers <= 1;
  if (!board.initialized || board.open || board.settings.boards == 0 || !valid) return FXFALSE;
  std::string error;
  board.display = OpenDisplay(board.settings, &error);
  if (!board.display) return FXFALSE;
  if (board.selected < 0) board.selected = 0;
  board.color_format = format;
  board.origin = origin;
  board.refresh_hz = RefreshHz(refresh);
  board.render = RenderState{};
  InitFrameBuffers(board.frame, color_buffers);
  ResetTextureUnit(board.tmu0);
  board.open = true;
  return FXTRUE;
}

FxBool GR_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info) {
  BoardState& board = Board();
  std::string error;
  const bool ok = filename != nullptr && info != nullptr &&
                  texfile::ReadTextureFileInfo(filename, info, &error);
  if (Tracing(board.trace))
    TraceLine(board.trace, "gu3dfGetInfo").Text(filename).Info3df(ok ? info : nullptr);
  return ok ? FXTRUE : FXFALSE;
}

FxBool GR_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info) {
  BoardState& board = Board();
  if (Tracing(board.trace)) TraceLine(board.trace, "gu3dfLoad").Text(filename).Info3df(info);
  std::string error;
  return filename != nullptr && info != nullptr && texfile::LoadTextureFile(filename, info, &error)
             ? FXTRUE
             : FXFALSE;
}

FxU32 GR_CALL grTexMinAddress(GrChipID_t tmu) {
  BoardState& board = Board();
  if (Tracing(board.trace)) TraceLine(board.trace, "grTexMinAddress").Int(tmu);
  return TexMinAddress();
}

void GR_CALL grTexDownloadMipMap(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grTexDownloadMipMap")
        .Int(tmu)
        .Int(address)
        .Int(level_mask)
        .TexInfo(info);
  if (Usable(board) && tmu == GR_TMU0 && info != nullptr)
    DownloadMipMap(board.tmu0, address, level_mask, *info);
}

void GR_CALL grTexSource(GrChipID_t tmu, FxU32 address, FxU32 level_mask, GrTexInfo* info) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grTexSource").Int(tmu).Int(address).Int(level_mask).TexInfo(info);
  if (Usable(board) && tmu == GR_TMU0 && info != nullptr)
    SelectSource(board.tmu0, address, level_mask, *info);
}

void GR_CALL grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgb_function,
                          GrCombineFactor_t rgb_factor, GrCombineFunction_t alpha_function,
                          GrCombineFactor_t alpha_factor, FxBool rgb_invert, FxBool alpha_invert) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grTexCombine")
        .Int(tmu)
        .Int(rgb_function)
        .Int(rgb_factor)
        .Int(alpha_function)
        .Int(alpha_factor)
        .Int(rgb_invert)
        .Int(alpha_invert);
  if (Usable(board) && tmu == GR_TMU0)
    board.tmu0.combine = {rgb_function, rgb_factor,      alpha_function,
                          alpha_factor, rgb_invert != 0, alpha_invert != 0};
}

void GR_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grColorCombine")
        .Int(function)
        .Int(factor)
        .Int(local)
        .Int(other)
        .Int(invert);
  if (Usable(board)) board.render.color = {function, factor, local, other, invert != 0};
}

void GR_CALL grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grAlphaCombine")
        .Int(function)
        .Int(factor)
        .Int(local)
        .Int(other)
        .Int(invert);
  if (Usable(board)) board.render.alpha = {function, factor, local, other, invert != 0};
}

void GR_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_src, GrAlphaBlendFnc_t rgb_dst,
                                  GrAlphaBlendFnc_t alpha_src, GrAlphaBlendFnc_t alpha_dst) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grAlphaBlendFunction")
        .Int(rgb_src)
        .Int(rgb_dst)
        .Int(alpha_src)
        .Int(alpha_dst);
  if (Usable(board)) board.render.blend = {rgb_src, rgb_dst, alpha_src, alpha_dst};
}

void GR_CALL grConstantColorValue(GrColor_t color) {
  BoardState& board = Board();
  if (Tracing(board.trace)) TraceLine(board.trace, "grConstantColorValue").Color(color);
  if (Usable(board)) board.render.constant = UnpackColor(color, board.color_format);
}

void GR_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth) {
  BoardState& board = Board();
  if (Tracing(board.trace))
    TraceLine(board.trace, "grBufferClear").Color(color).Int(alpha).Int(depth);
  if (Usable(board))
    ClearBackBuffer(board.frame, UnpackColor(color, board.color_format), alpha, depth);
}

void GR_CALL grDrawPolygon(int n, const int ilist[], const GrVertex vlist[]) {
  BoardState& board = Board();
  const bool sized = n <= kMaxPolygonVertices;
  if (Tracing(board.trace)) {
    if (sized) {
      TraceLine(board.trace, "grDrawPolygon").Polygon(n, ilist, vlist);
    } else {
      TraceLine(board.trace, "grDrawPolygon").Int(n).Raw("too many vertices");
    }
  }
  if (!Usable(board) || !sized || n < 3 || ilist == nullptr || vlist == nullptr) return;
  for (int i = 0; i < n; i++) {
    if (ilist[i] < 0 || ilist[i] >= kMaxVertexIndex) return;
  }
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

void GR_CALL grBufferSwap(int swap_interval) {
  BoardState& board = Board();
  if (Tracing(board.trace)) TraceLine(board.trace, "grBufferSwap").Int(swap_interval);
  if (!Usable(board)) return;
  RotateBuffers(board.frame);
  board.display->Present(FrontBuffer(board.frame), swap_interval, board.settings.vsync,
                         board.refresh_hz);
  if (board.display->PumpEvents().screenshot_requested) SaveNumberedScreenshot(board);
}

void GR_CALL grLibShutdown(void) {
  BoardState& board = Board();
  if (Tracing(board.trace)) TraceLine(board.trace, "grLibShutdown");
  if (board.open && !board.settings.screenshot_path.empty())
    SaveScreenshot(board, board.settings.screenshot_path);
  CloseDisplay(board);
  CloseTrace(board.trace);
  board.initialized = false;
  board.selected = -1;
}

}  // extern "C"
