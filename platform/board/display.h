// Where frames go: a window (or full screen) through SDL, or nowhere but memory.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "board_state.h"
#include "framebuffer.h"

namespace softboard {

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
  bool screenshot_requested = false;  // F12 in the window
  bool resized = false;               // the window's drawable area changed
};

class Display {
 public:
  Display() : timer_(60) {}
  virtual ~Display() = default;
  // Shows the frame and, when `vsync` is set, returns after `retraces`
  // retraces: the display's own where it has them, otherwise a steady timer.
  void Present(const Image& frame, int retraces, bool vsync, int refresh_hz);

  // Shows a frame. With `retraces` >= 1 a display with vsync returns after
  // that many retraces.
  virtual void Show(const Image& frame, int retraces) = 0;
  // Whether Show really waited for retraces; if not, Present paces by timer.
  virtual bool WaitsForRetrace() const = 0;
  // Window keys go to the console's queue; a close request becomes Esc.
  virtual DisplayEvents PumpEvents() = 0;
  // The size of the area frames are shown in, in the display's own pixels;
  // false where there is none (headless).
  virtual bool DrawableSize(int* width, int* height) const = 0;

 private:
  RetraceTimer timer_;
};

// Opens the display the settings ask for; null with a reason when it cannot.
std::unique_ptr<Display> OpenDisplay(const Settings& settings, std::string* error);
std::unique_ptr<Display> OpenHeadlessDisplay();
std::unique_ptr<Display> OpenWindowDisplay(bool fullscreen, std::string* error);

}  // namespace softboard
