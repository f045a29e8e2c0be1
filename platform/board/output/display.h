// Where frames go: a window (or full screen) through SDL, the terminal, or nowhere but memory.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "frame/framebuffer.h"

namespace softboard {

enum class DisplayMode { kWindow, kFullscreen, kTerminal, kHeadless };
// How a window shows a frame: a texture drawn by SDL's renderer (worth it on a
// GPU), or the window's own surface, which costs a copy at most (where the
// renderer would be a software rasterizer). kAuto asks which it would be.
enum class PresentMode { kAuto, kGpu, kSurface };
// How the terminal display draws: a pixel protocol, or coloured character
// cells; kAuto takes the best the terminal is found to offer.
enum class TerminalMode { kAuto, kKitty, kIterm, kSixel, kSymbols };

// What the display reads of the board's settings.
struct DisplaySettings {
  DisplayMode display = DisplayMode::kWindow;
  PresentMode present = PresentMode::kAuto;
  TerminalMode terminal = TerminalMode::kAuto;
  int terminal_fps = 30;       // the most frames a second the terminal display sends
  bool display_named = false;  // SOFTBOARD_DISPLAY named a display (not left to the default)
};

// A steady timer at the refresh rate, for displays without vsync.
class RetraceTimer {
 public:
  explicit RetraceTimer(int refresh_hz);
  void SetRate(int refresh_hz);
  // Sleeps until `retraces` periods after the previous deadline; if the caller
  // fell more than a period behind, the schedule restarts from now.
  void Wait(int retraces);

 private:
  std::chrono::steady_clock::duration period_{};
  std::chrono::steady_clock::time_point next_{};
};

struct DisplayEvents {
  bool screenshot_requested = false;  // F12 in the window or the terminal
  bool resized = false;               // the window's (or terminal's) area changed
};

class Display {
 public:
  Display() : timer_(60) {}
  virtual ~Display() = default;
  // Shows the frame, of which the rows `damage` names changed since the
  // last, and, when `vsync` is set, returns after `retraces` retraces: the
  // display's own where it has them, otherwise a steady timer.
  void Present(const PixelRows& frame, const FrameDamage& damage, int retraces, bool vsync,
               int refresh_hz);

  // Shows a frame. With `retraces` >= 1 a display with vsync returns after
  // that many retraces.
  virtual void Show(const PixelRows& frame, const FrameDamage& damage, int retraces) = 0;
  // Whether Show really waited for retraces; if not, Present paces by timer.
  virtual bool WaitsForRetrace() const = 0;
  // Window keys go to the console's queue; a close request becomes Esc.
  virtual DisplayEvents PumpEvents() = 0;
  // The size of the area frames are shown in, in the display's own pixels;
  // false where there is none (headless).
  virtual bool DrawableSize(int* width, int* height) const = 0;
  // Rows of the display's own memory where a width x height frame would be
  // shown as it is (placed by PlaceFrame, exactly): a frame drawn there is
  // shown without a copy. None by default. They stay valid until PumpEvents
  // reports a resize.
  virtual PixelRows FrameRows(int /*width*/, int /*height*/) { return {}; }

 private:
  RetraceTimer timer_;
};

// Where a frame goes in an area: centred, as large as fits with its aspect.
// `exact`: at its own size, as `auto` scale sizes frames (a leftover pixel
// is not worth scaling for).
struct Placement {
  int x = 0, y = 0, width = 0, height = 0;
  bool exact = false;
};
Placement PlaceFrame(int frame_width, int frame_height, int area_width, int area_height);

// Writes `image` into `out` (0xAARRGGBB rows): row by row at its own size,
// 5-6-5 widened; otherwise scaled to out's size, to the nearest pixel.
void DrawImage(const PixelRows& image, const PixelRows& out);

// For a display whose keys come only from the console: once its input has
// ended (a script without Esc, /dev/null) with no key waiting, no key can
// ever come, so the program is told Esc, as a closed window would tell it,
// rather than left running forever.
void EscWhenInputEnded(bool key_waiting);

// Opens the display the settings ask for; null with a reason when it cannot.
std::unique_ptr<Display> OpenDisplay(const DisplaySettings& settings, std::string* error);
std::unique_ptr<Display> OpenHeadlessDisplay();
std::unique_ptr<Display> OpenWindowDisplay(bool fullscreen, PresentMode present,
                                           std::string* error);
std::unique_ptr<Display> OpenTerminalDisplay(const DisplaySettings& settings, std::string* error);

// Whether a window could find a display server (X11, Wayland, or the drivers
// SDL_VIDEODRIVER names).
bool DisplayServerNamed();

// After a window failed to open: the line that tells how to see the picture
// in this terminal instead, where the display was left to the default, no
// display server is there, and standard input and output are a terminal;
// empty otherwise.
std::string TerminalHint(const DisplaySettings& settings);

}  // namespace softboard
