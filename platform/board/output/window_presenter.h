// How a window shows a frame: through SDL's renderer, a texture uploaded each
// frame (cheap on a GPU, where vsync is real), or through the window's own
// surface, which on X11 is shared memory the X server copies from: a frame
// costs one copy at most, and no GL library is loaded.
#pragma once

#include <SDL.h>

#include <memory>
#include <string>

#include "output/display.h"

namespace softboard {

class WindowPresenter {
 public:
  virtual ~WindowPresenter() = default;
  virtual void Show(const PixelRows& frame, const FrameDamage& damage, int retraces) = 0;
  virtual bool WaitsForRetrace() const = 0;
  virtual bool DrawableSize(int* width, int* height) const = 0;
  virtual PixelRows FrameRows(int /*width*/, int /*height*/) { return {}; }
  // The window's size changed: frames go to a new surface, and FrameRows
  // will be asked again before a frame is drawn there.
  virtual void Resized() {}
  // Part of the window was uncovered: the next frame is sent whole.
  virtual void Exposed() {}
};

// Null, with the reason, when the window cannot be shown that way.
std::unique_ptr<WindowPresenter> MakeRendererPresenter(SDL_Window* window, std::string* error);
std::unique_ptr<WindowPresenter> MakeSurfacePresenter(SDL_Window* window, std::string* error);

}  // namespace softboard
