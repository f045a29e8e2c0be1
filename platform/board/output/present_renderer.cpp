#include <chrono>

#include "output/window_presenter.h"

namespace softboard {
namespace {

class RendererPresenter final : public WindowPresenter {
 public:
  explicit RendererPresenter(SDL_Window* window) : window_(window) {}
  ~RendererPresenter() override {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
  }

  bool Open(std::string* error) {
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return Fail(error, "cannot create a renderer");
    SDL_RendererInfo info;
    vsync_ =
        SDL_GetRendererInfo(renderer_, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    SDL_RenderSetLogicalSize(renderer_, kScreenWidth, kScreenHeight);  // keeps the aspect
    if (!MakeTexture(kScreenWidth, kScreenHeight)) return Fail(error, "cannot create the texture");
    return true;
  }

  void Show(const PixelRows& frame, const FrameDamage& damage, int retraces) override {
    const bool resized = frame.width != texture_width_ || frame.height != texture_height_;
    if (resized && !MakeTexture(frame.width, frame.height)) return;  // keep showing the last frame
    if (resized || !damage.None()) Upload(frame);
    const int presents = vsync_ && retraces > 1 ? retraces : 1;
    for (int i = 0; i < presents; i++) {
      const auto start = std::chrono::steady_clock::now();
      SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
      SDL_RenderClear(renderer_);
      SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
      SDL_RenderPresent(renderer_);
      if (retraces > 0) CheckVsync(std::chrono::steady_clock::now() - start);
    }
  }

  bool WaitsForRetrace() const override { return vsync_; }

  bool DrawableSize(int* width, int* height) const override {
    return SDL_GetRendererOutputSize(renderer_, width, height) == 0 && *width > 0 && *height > 0;
  }

 private:
  static bool Fail(std::string* error, const char* what) {
    *error = std::string(what) + ": " + SDL_GetError();
    return false;
  }

  bool MakeTexture(int width, int height) {
    SDL_Texture* texture = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888,
                                             SDL_TEXTUREACCESS_STREAMING, width, height);
    if (texture == nullptr) return false;
    if (texture_) SDL_DestroyTexture(texture_);
    texture_ = texture;
    texture_width_ = width;
    texture_height_ = height;
    return true;
  }

  // 5-6-5 rows are widened as they are copied into the texture.
  void Upload(const PixelRows& frame) {
    if (frame.layout == PixelLayout::kArgb8888) {
      SDL_UpdateTexture(texture_, nullptr, frame.pixels, int(frame.stride * 4));
      return;
    }
    void* texels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture_, nullptr, &texels, &pitch) != 0) return;
    DrawImage(frame, ArgbRows(static_cast<uint32_t*>(texels), frame.width, frame.height,
                              size_t(pitch) / 4));
    SDL_UnlockTexture(texture_);
  }

  // Some drivers claim vsync and return at once (a virtual X server, for one).
  // After a few presents that returned far faster than a retrace, pace by timer.
  void CheckVsync(std::chrono::steady_clock::duration took) {
    if (!vsync_ || checked_ >= kChecks) return;
    if (took < std::chrono::milliseconds(4)) fast_++;
    if (++checked_ == kChecks && fast_ >= kChecks - 1) vsync_ = false;
  }

  static constexpr int kChecks = 8;
  SDL_Window* window_;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int texture_width_ = 0, texture_height_ = 0;
  bool vsync_ = false;
  int checked_ = 0;
  int fast_ = 0;
};

}  // namespace

std::unique_ptr<WindowPresenter> MakeRendererPresenter(SDL_Window* window, std::string* error) {
  auto presenter = std::make_unique<RendererPresenter>(window);
  if (!presenter->Open(error)) return nullptr;
  return presenter;
}

}  // namespace softboard
