// The board's whole state: one plain struct that gathers each unit's own.
// The entry points hold the one instance; units and tests are handed the part
// they work on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "api/settings.h"
#include "api/trace.h"
#include "frame/framebuffer.h"
#include "frame/gamma.h"
#include "pixel/render_state.h"
#include "raster/setup_lanes.h"
#include "raster/texture_memory.h"

namespace softboard {

class Display;        // window, terminal or headless; see display.h
class FrameRecorder;  // a frame's drawing; see frame_recorder.h

// A frame shown before the display changed size, kept for the screenshot at
// shutdown until another is shown. Empty: none.
struct KeptFrame {
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, row by row
  int width = 0, height = 0;
};

struct BoardState {
  bool initialized = false;
  bool failure_reported = false;  // a call that ran out of memory has said so
  int ssaa_reported = 0;          // the reduced supersampling last said on standard error
  int selected = -1;              // board chosen by grSstSelect
  bool open = false;              // display open
  Settings settings;
  // Settings given rather than read from the environment (a test's board).
  std::optional<Settings> given_settings;
  int color_format = GR_COLORFORMAT_ARGB;
  int origin = GR_ORIGIN_UPPER_LEFT;
  int refresh_hz = 60;
  RenderState render;
  FrameBuffers frame;
  TextureUnitState tmu0;
  TextureUnitState tmu1;  // the second unit, chained into unit 0's combine
  TraceState trace;
  std::unique_ptr<Display> display;
  // Made with the display: a frame's drawing is recorded and drawn in bands.
  // Null (a board a test builds): drawing happens at once.
  std::unique_ptr<FrameRecorder> recorder;
  // Triangles passed but not yet drawn (see QueueSceneTriangle), culled.
  TriangleCorners queued;
  KeptFrame kept_frame;
  ShownGamma gamma;  // what is shown passes through it

  BoardState();
  ~BoardState();
  BoardState(const BoardState&) = delete;
  BoardState& operator=(const BoardState&) = delete;
};

// Texture unit GR_TMU0 or GR_TMU1 (the caller has checked which).
inline TextureUnitState& UnitOf(BoardState& board, int tmu) {
  return tmu == GR_TMU1 ? board.tmu1 : board.tmu0;
}

}  // namespace softboard
