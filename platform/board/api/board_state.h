// The board's whole state: one plain struct that gathers each unit's own.
// The entry points hold the one instance; units and tests are handed the part
// they work on.
#pragma once

#include <memory>
#include <optional>

#include "api/settings.h"
#include "api/trace.h"
#include "frame/framebuffer.h"
#include "pixel/render_state.h"
#include "raster/texture_memory.h"

namespace softboard {

class Display;        // window, terminal or headless; see display.h
class FrameRecorder;  // a frame's drawing; see frame_recorder.h

struct BoardState {
  bool initialized = false;
  bool failure_reported = false;  // a call that ran out of memory has said so
  int ssaa_reported = 0;          // the reduced supersampling last said on standard error
  bool shut_down = false;
  int selected = -1;  // board chosen by grSstSelect
  bool open = false;  // display open
  Settings settings;
  // Settings given rather than read from the environment (a test's board).
  std::optional<Settings> given_settings;
  int color_format = GR_COLORFORMAT_ARGB;
  int origin = GR_ORIGIN_UPPER_LEFT;
  int refresh_hz = 60;
  RenderState render;
  FrameBuffers frame;
  TextureUnitState tmu0;
  TraceState trace;
  std::unique_ptr<Display> display;
  // Made with the display: a frame's drawing is recorded and drawn in bands.
  // Null (a board a test builds): drawing happens at once.
  std::unique_ptr<FrameRecorder> recorder;

  BoardState();
  ~BoardState();
  BoardState(const BoardState&) = delete;
  BoardState& operator=(const BoardState&) = delete;
};

}  // namespace softboard
