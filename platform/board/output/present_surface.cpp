#include <vector>

#include "output/window_presenter.h"

namespace softboard {
namespace {

// The window's own surface, kept by SDL in the window system's shared memory
// where it can (X11's MIT-SHM): showing a frame is handing over the rows that
// changed. Its layout is the board's (32-bit XRGB) on every common X screen;
// then the board may draw the frame straight into it, and it is shown as it
// was drawn. No retrace to wait for: the board paces by its own timer.
class SurfacePresenter final : public WindowPresenter {
 public:
  explicit SurfacePresenter(SDL_Window* window) : window_(window) {}

  bool Open(std::string* error) {
    if (Surface() != nullptr) return true;
    *error = std::string("no window surface: ") + SDL_GetError();
    return false;
  }

  void Show(const PixelRows& frame, const FrameDamage& damage, int) override {
    SDL_Surface* surface = Surface();
    if (surface == nullptr) return;
    const Placement at = Place(frame.width, frame.height, surface);
    if (at.width <= 0) return;
    uint8_t* origin = static_cast<uint8_t*>(surface->pixels) + size_t(at.y) * surface->pitch +
                      size_t(at.x) * surface->format->BytesPerPixel;
    // Only the rows that changed are copied and sent, when they can be told
    // and the surface holds the rest.
    static const FrameDamage kWhole;
    const bool all = whole_ || damage.all || !at.exact;
    if (frame.pixels != origin) Copy(frame, all ? kWhole : damage, at, surface, origin);
    if (whole_) {
      whole_ = SDL_UpdateWindowSurface(window_) != 0;
      return;
    }
    rects_.clear();
    if (all) {
      rects_.push_back({at.x, at.y, at.width, at.height});
    } else {
      for (const auto& [first, last] : damage.rows)
        rects_.push_back({at.x, at.y + first, at.width, last - first});
    }
    if (!rects_.empty()) SDL_UpdateWindowSurfaceRects(window_, rects_.data(), int(rects_.size()));
  }

  bool WaitsForRetrace() const override { return false; }

  bool DrawableSize(int* width, int* height) const override {
    SDL_GetWindowSizeInPixels(window_, width, height);
    return *width > 0 && *height > 0;
  }

  PixelRows FrameRows(int width, int height) override {
    SDL_Surface* surface = Surface();
    if (surface == nullptr || !BoardLayout(surface)) return {};
    const Placement at = Place(width, height, surface);
    if (!at.exact) return {};
    const size_t stride = size_t(surface->pitch) / 4;
    return ArgbRows(static_cast<uint32_t*>(surface->pixels) + size_t(at.y) * stride + size_t(at.x),
                    width, height, stride);
  }

  void Resized() override { stale_ = true; }
  void Exposed() override { whole_ = true; }

 private:
  // Pixels 0x--RRGGBB, rows a whole number of pixels apart, no locking: the
  // board's own pixels, whose alpha byte the window ignores.
  static bool BoardLayout(const SDL_Surface* surface) {
    return surface->format->format == SDL_PIXELFORMAT_RGB888 && surface->pitch % 4 == 0 &&
           !SDL_MUSTLOCK(surface);
  }

  // The current surface; a new one (after a resize) is cleared to black once
  // (by Place), borders included, and sent whole. After a resize the first
  // call comes before the board draws into it (see FrameRows).
  SDL_Surface* Surface() {
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (surface == nullptr) return nullptr;
    if (stale_ || surface != surface_ || surface->pixels != pixels_ || surface->w != width_ ||
        surface->h != height_) {
      surface_ = surface;
      placed_ = {};
      pixels_ = surface->pixels;
      width_ = surface->w;
      height_ = surface->h;
      stale_ = false;
      whole_ = true;
    }
    return surface;
  }

  // Where frames of this size go; when that moves, what the surface showed
  // around the old place is cleared, and all of it is sent.
  Placement Place(int width, int height, SDL_Surface* surface) {
    const Placement at = PlaceFrame(width, height, surface->w, surface->h);
    if (at.x != placed_.x || at.y != placed_.y || at.width != placed_.width ||
        at.height != placed_.height) {
      SDL_FillRect(surface, nullptr, 0);
      placed_ = at;
      whole_ = true;
    }
    return at;
  }

  // One pass from the frame into the surface: widened, scaled, or, for a
  // layout other than the board's, through a buffer of its own and converted.
  // Only the damaged rows, unless all are.
  void Copy(const PixelRows& frame, const FrameDamage& damage, const Placement& at,
            SDL_Surface* surface, uint8_t* origin) {
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
    const PixelRows rows = ArgbRows(reinterpret_cast<uint32_t*>(origin), at.width, at.height,
                                    size_t(surface->pitch) / 4);
    if (BoardLayout(surface) && !damage.all) {
      for (const auto& [first, last] : damage.rows) {
        for (int y = first; y < last; y++) CopyImageRow(frame, y, rows.Argb(y));
      }
    } else if (BoardLayout(surface)) {
      DrawImage(frame, rows);
    } else {
      staging_.resize(size_t(at.width) * size_t(at.height));
      DrawImage(frame, ArgbRows(staging_.data(), at.width, at.height));
      // Read as XRGB: whatever the alpha plane holds, the window is opaque.
      SDL_ConvertPixels(at.width, at.height, SDL_PIXELFORMAT_RGB888, staging_.data(), at.width * 4,
                        surface->format->format, origin, surface->pitch);
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  }

  SDL_Window* window_;
  SDL_Surface* surface_ = nullptr;
  void* pixels_ = nullptr;
  int width_ = 0, height_ = 0;
  bool stale_ = true;
  bool whole_ = true;
  Placement placed_;
  std::vector<uint32_t> staging_;
  std::vector<SDL_Rect> rects_;
};

}  // namespace

std::unique_ptr<WindowPresenter> MakeSurfacePresenter(SDL_Window* window, std::string* error) {
  // Without this hint SDL would back the surface with a renderer, GL included.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  auto presenter = std::make_unique<SurfacePresenter>(window);
  if (!presenter->Open(error)) return nullptr;
  return presenter;
}

}  // namespace softboard
