#include <SDL.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conio.h"
#include "display.h"

namespace softboard {
namespace {

const char* ProgramName() {
#if defined(__GLIBC__)
  if (program_invocation_short_name && *program_invocation_short_name)
    return program_invocation_short_name;
#endif
  return "softboard";
}

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The video drivers worth trying: those the user named in SDL_VIDEODRIVER, or
// else those whose display server is actually there. SDL's offscreen and dummy
// drivers show nothing, so a window never uses them; and a driver whose server
// is absent is not even tried, so its library cannot print noise on the
// console the program writes to.
std::vector<std::string> VideoDrivers() {
  std::vector<std::string> drivers;
  if (IsSet("SDL_VIDEODRIVER")) {
    const std::string named = std::getenv("SDL_VIDEODRIVER");
    size_t start = 0;
    while (start <= named.size()) {
      size_t end = named.find(',', start);
      if (end == std::string::npos) end = named.size();
      const std::string driver = named.substr(start, end - start);
      if (!driver.empty() && driver != "offscreen" && driver != "dummy" && driver != "evdev")
        drivers.push_back(driver);
      start = end + 1;
    }
    return drivers;
  }
  if (IsSet("DISPLAY")) drivers.push_back("x11");
  if (IsSet("WAYLAND_DISPLAY")) drivers.push_back("wayland");
  return drivers;
}

void QueueExtended(int prefix, int code) {
  console_queue_key(prefix);
  console_queue_key(code);
}

// The old console's codes for a key with no character of its own; false when
// the key gives none.
bool QueueSpecialKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_ESCAPE: console_queue_key(27); return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: console_queue_key(13); return true;
    case SDLK_BACKSPACE: console_queue_key(8); return true;
    case SDLK_TAB: console_queue_key(9); return true;
    case SDLK_UP: QueueExtended(0xE0, 0x48); return true;
    case SDLK_DOWN: QueueExtended(0xE0, 0x50); return true;
    case SDLK_LEFT: QueueExtended(0xE0, 0x4B); return true;
    case SDLK_RIGHT: QueueExtended(0xE0, 0x4D); return true;
    case SDLK_HOME: QueueExtended(0xE0, 0x47); return true;
    case SDLK_END: QueueExtended(0xE0, 0x4F); return true;
    case SDLK_PAGEUP: QueueExtended(0xE0, 0x49); return true;
    case SDLK_PAGEDOWN: QueueExtended(0xE0, 0x51); return true;
    case SDLK_INSERT: QueueExtended(0xE0, 0x52); return true;
    case SDLK_DELETE: QueueExtended(0xE0, 0x53); return true;
    default: break;
  }
  if (key >= SDLK_F1 && key <= SDLK_F10) {
    QueueExtended(0, 0x3B + int(key - SDLK_F1));
    return true;
  }
  return false;
}

class WindowDisplay final : public Display {
 public:
  ~WindowDisplay() override {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    if (video_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
  }

  bool Open(bool fullscreen, std::string* error) {
    // The console owns SIGINT and SIGTERM: Ctrl+C must still end the program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    for (const std::string& driver : VideoDrivers()) {
      SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, driver.c_str(), SDL_HINT_OVERRIDE);
      if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        video_ = true;
        break;
      }
    }
    if (!video_) {
      *error = "no display: no display server to show a window on";
      if (*SDL_GetError()) *error += std::string(" (") + SDL_GetError() + ")";
      return false;
    }
    Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
    if (fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    window_ = SDL_CreateWindow(ProgramName(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                               kScreenWidth, kScreenHeight, flags);
    if (!window_) return Fail(error, "cannot create the window");
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return Fail(error, "cannot create a renderer");
    SDL_RendererInfo info;
    vsync_ =
        SDL_GetRendererInfo(renderer_, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    SDL_RenderSetLogicalSize(renderer_, kScreenWidth, kScreenHeight);  // keeps the aspect
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                 kScreenWidth, kScreenHeight);
    if (!texture_) return Fail(error, "cannot create the frame texture");
    texture_width_ = kScreenWidth;
    texture_height_ = kScreenHeight;
    SDL_StartTextInput();
    return true;
  }

  void Show(const Image& frame, int retraces) override {
    const int width = frame.width, height = frame.height;
    if (width != texture_width_ || height != texture_height_) {
      SDL_Texture* texture = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888,
                                               SDL_TEXTUREACCESS_STREAMING, width, height);
      if (texture == nullptr) return;  // keep showing the last frame
      SDL_DestroyTexture(texture_);
      texture_ = texture;
      texture_width_ = width;
      texture_height_ = height;
    }
    Upload(frame);
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

  // 5-6-5 rows are widened as they are copied into the texture.
  void Upload(const Image& frame) {
    if (!frame.rgb565) {
      SDL_UpdateTexture(texture_, nullptr, frame.pixels, frame.width * 4);
      return;
    }
    void* texels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture_, nullptr, &texels, &pitch) != 0) return;
    for (int y = 0; y < frame.height; y++)
      CopyImageRow(frame, y,
                   reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(texels) + size_t(y) * pitch));
    SDL_UnlockTexture(texture_);
  }

  bool DrawableSize(int* width, int* height) const override {
    return SDL_GetRendererOutputSize(renderer_, width, height) == 0 && *width > 0 && *height > 0;
  }

  DisplayEvents PumpEvents() override {
    DisplayEvents events;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      switch (event.type) {
        case SDL_QUIT: console_queue_key(27); break;
        case SDL_WINDOWEVENT:
          if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) events.resized = true;
          break;
        case SDL_TEXTINPUT: QueueText(event.text.text); break;
        case SDL_KEYDOWN: OnKey(event.key, &events); break;
        default: break;
      }
    }
    return events;
  }

 private:
  static bool Fail(std::string* error, const char* what) {
    *error = std::string(what) + ": " + SDL_GetError();
    return false;
  }

  // Some drivers claim vsync and return at once (a virtual X server, for one).
  // After a few presents that returned far faster than a retrace, pace by timer.
  void CheckVsync(std::chrono::steady_clock::duration took) {
    if (!vsync_ || checked_ >= kChecks) return;
    if (took < std::chrono::milliseconds(4)) fast_++;
    if (++checked_ == kChecks && fast_ >= kChecks - 1) vsync_ = false;
  }

  static void QueueText(const char* text) {
    for (const char* p = text; *p; p++) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c < 0x7F) console_queue_key(c);
    }
  }

  void OnKey(const SDL_KeyboardEvent& key, DisplayEvents* events) {
    const SDL_Keycode code = key.keysym.sym;
    const bool alt = (key.keysym.mod & KMOD_ALT) != 0;
    if (code == SDLK_F11 || (alt && (code == SDLK_RETURN || code == SDLK_KP_ENTER))) {
      if (!key.repeat) ToggleFullscreen();
      return;
    }
    if (code == SDLK_F12) {
      if (!key.repeat) events->screenshot_requested = true;
      return;
    }
    QueueSpecialKey(code);
  }

  void ToggleFullscreen() {
    const bool full = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN) != 0;
    SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
  }

  static constexpr int kChecks = 8;
  bool video_ = false;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int texture_width_ = 0, texture_height_ = 0;
  bool vsync_ = false;
  int checked_ = 0;
  int fast_ = 0;
};

}  // namespace

std::unique_ptr<Display> OpenWindowDisplay(bool fullscreen, std::string* error) {
  auto display = std::make_unique<WindowDisplay>();
  if (!display->Open(fullscreen, error)) return nullptr;
  return display;
}

}  // namespace softboard
