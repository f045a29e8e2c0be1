#include "api/display_frames.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "api/entry_call.h"
#include "api/frame_drawing.h"
#include "api/process_output.h"
#include "api/screenshots.h"
#include "frame/frame_recorder.h"
#include "output/display.h"

namespace softboard {

void ShownSize(const BoardState& board, int* width, int* height) {
  double scale = board.settings.scale;
  int w = 0, h = 0;
  if (scale == 0 && board.display && board.display->DrawableSize(&w, &h))
    scale = std::min(double(w) / kScreenWidth, double(h) / kScreenHeight);
  scale = std::clamp(scale, 1.0, kMaxScale);
  *width = int(std::lround(kScreenWidth * scale));
  *height = int(std::lround(kScreenHeight * scale));
}

int SupersamplingAt(const Settings& settings, int width) {
  int ssaa = settings.ssaa;
  while (ssaa > 1 && width * ssaa > kMaxBufferSide) ssaa /= 2;
  return ssaa;
}

void FinishDrawing(BoardState& board) {
  if (board.recorder && !board.recorder->Flush())
    ComplainOnce(board, "out of memory while drawing: a frame is incomplete");
}

namespace {

// Rows a band of a frame `width` pixels wide: about 80 KB of colour, so that
// a scene of many small triangles visits each in fewer bands, while a wide
// frame's band still stays in a core's cache. A multiple of 4 (every SSAA).
int BandRowsFor(int width) {
  return std::clamp(32 * 640 / std::max(width, 1), 8, 32) / 4 * 4;
}

// A new recorder when the frame's size is worth another number of threads
// (the setting, or for `auto` as many as the size is worth; see
// DrawingThreads) or bands of another height. False when there is none and no
// memory for one.
bool RecorderForSize(BoardState& board) {
  const FrameBuffers& frame = board.frame;
  const int threads =
      DrawingThreads(board.settings.threads, size_t(frame.width) * size_t(frame.height));
  const int band_rows = BandRowsFor(frame.width);
  if (board.recorder && board.recorder->threads() == threads &&
      board.recorder->band_rows() == band_rows)
    return true;
  FinishDrawing(board);
  try {
    board.recorder = std::make_unique<FrameRecorder>(threads, band_rows);
    return true;
  } catch (const std::bad_alloc&) {
    return board.recorder != nullptr;  // the threads there were draw on
  }
}

// The display's rows the frame as shown may live in: none for a 5-6-5 frame.
PixelRows DisplayRows(BoardState& board, int width, int height, int ssaa) {
  const bool rgb565 = BufferLayout(board.settings.color_bits == 16, ssaa) == PixelLayout::kRgb565;
  // Through a gamma the display shows a corrected copy, never the rows drawn.
  if (!board.display || rgb565 || GammaActive(board.gamma)) return {};
  return board.display->FrameRows(width, height);
}

// Buffers to show width x height, drawn ssaa times as large each way. False,
// with no buffers at all (count 0: nothing is drawn), when there is no memory
// for them.
bool MakeFrameBuffers(BoardState& board, int count, int width, int height, int ssaa) {
  const PixelRows rows = DisplayRows(board, width, height, ssaa);
  try {
    SetColorDepth(board.frame, board.settings.color_bits, board.settings.dither);
    InitFrameBuffers(board.frame, count, width, height, ssaa, true, rows);
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
  const int ssaa = SupersamplingAt(board.settings, width);
  // Said once for each new reduction, not at every resize that makes it again.
  if (ssaa != board.settings.ssaa && ssaa != board.ssaa_reported) {
    board.ssaa_reported = ssaa;
    Complain("SOFTBOARD_SSAA=" + std::to_string(board.settings.ssaa) + " at " +
             std::to_string(width) + "x" + std::to_string(height) + " needs buffers larger than " +
             std::to_string(kMaxBufferSide) + " pixels a side; using " + std::to_string(ssaa));
  }
  FrameBuffers& frame = board.frame;
  if (width * ssaa == frame.width && height * ssaa == frame.height && count == frame.count &&
      DisplayRows(board, width, height, ssaa) == frame.display_rows)
    return true;
  FinishDrawing(board);
  const int before_ssaa = frame.ssaa;
  const int before_width = frame.width / before_ssaa;
  const int before_height = frame.height / before_ssaa;
  if (MakeFrameBuffers(board, count, width, height, ssaa)) return RecorderForSize(board);
  if (!board.open) return false;
  Complain("no memory for frame buffers of " + std::to_string(width * ssaa) + "x" +
           std::to_string(height * ssaa) + "; drawing at the size before");
  if (before_width > 0 && MakeFrameBuffers(board, count, before_width, before_height, before_ssaa))
    return RecorderForSize(board);
  return MakeFrameBuffers(board, count, kScreenWidth, kScreenHeight, 1) && RecorderForSize(board);
}

}  // namespace

bool StartDrawing(BoardState& board, int color_buffers) {
  board.frame = FrameBuffers{};
  // Sizing the new frame makes the buffers and the recorder.
  if (!SizeFrameBuffers(board, color_buffers)) return false;
  try {
    ResetTextureUnit(board.tmu0);
    ResetTextureUnit(board.tmu1);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void SwapFrame(BoardState& board, int retraces) {
  FrameBuffers& frame = board.frame;
  if (frame.ssaa > 1)
    board.recorder->RecordAverageDown(BackDestination(frame), frame.ssaa, AverageRows(frame));
  bool complete = true;
  const FrameDamage damage = ShownDamage(board.recorder->FlushFrame(&complete), frame.ssaa);
  if (!complete) ComplainOnce(board, "out of memory while drawing: a frame is incomplete");
  RotateBuffers(frame, false);
  FrameDamage shown_damage = damage;
  const PixelRows shown = GammaActive(board.gamma)
                              ? CorrectShown(board.gamma, ShownFrame(frame), &shown_damage)
                              : ShownFrame(frame);
  board.display->Present(shown, shown_damage, retraces, board.settings.vsync, board.refresh_hz);
  ForgetKeptFrame(board);
  const DisplayEvents events = board.display->PumpEvents();
  if (events.screenshot_requested) SaveNumberedScreenshot(board);
  // A new size takes effect between frames; the program draws the next one
  // whole, as it draws every frame. With a fixed scale only the display's rows
  // may have moved.
  if (events.resized) {
    KeepShownFrame(board);  // the last frame shown, for a screenshot at shutdown
    // The display may have cleared or replaced what it shows: the next frame
    // is drawn whole, not compared with this one.
    FinishDrawing(board);
    SizeFrameBuffers(board, frame.count);
  }
}

void SetShownGamma(BoardState& board, float g) {
  const bool was = GammaActive(board.gamma);
  SetGamma(board.gamma, g);
  if (was == GammaActive(board.gamma) || !board.open) return;
  FinishDrawing(board);
  SizeFrameBuffers(board, board.frame.count);
}

PixelRows ShownRows(const BoardState& board) {
  if (GammaActive(board.gamma)) return CorrectedRows(board.gamma);
  return ShownFrame(board.frame);
}

void StopDrawing(BoardState& board) {
  board.recorder.reset();         // what is recorded and not shown is dropped
  FreeFrameBuffers(board.frame);  // before the display whose rows it may hold
  board.display.reset();
  ForgetKeptFrame(board);
  board.open = false;
}

}  // namespace softboard
