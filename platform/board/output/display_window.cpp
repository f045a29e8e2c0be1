#include <SDL.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "conio.h"
#include "key_codes.h"
#include "output/display.h"
#include "output/renderer_probe.h"
#include "output/window_presenter.h"

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

void Queue(keys::Key key) {
  console_queue_key(key.prefix);
  console_queue_key(key.scan);
}

// The old console's codes for a key with no character of its own; false when
// the key gives none.
bool QueueSpecialKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_ESCAPE: console_queue_key(keys::kEsc); return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: console_queue_key(keys::kEnter); return true;
    case SDLK_BACKSPACE: console_queue_key(keys::kBackspace); return true;
    case SDLK_TAB: console_queue_key(keys::kTab); return true;
    case SDLK_UP: Queue(keys::kUp); return true;
    case SDLK_DOWN: Queue(keys::kDown); return true;
    case SDLK_LEFT: Queue(keys::kLeft); return true;
    case SDLK_RIGHT: Queue(keys::kRight); return true;
    case SDLK_HOME: Queue(keys::kHome); return true;
    case SDLK_END: Queue(keys::kEnd); return true;
    case SDLK_PAGEUP: Queue(keys::kPageUp); return true;
    case SDLK_PAGEDOWN: Queue(keys::kPageDown); return true;
    case SDLK_INSERT: Queue(keys::kInsert); return true;
    case SDLK_DELETE: Queue(keys::kDelete); return true;
    default: break;
  }
  if (key >= SDLK_F1 && key <= SDLK_F10) {
    Queue(keys::FunctionKey(1 + int(key - SDLK_F1)));
    return true;
  }
  return false;
}

// How long the helper that names the renderer may take: a GL library can take
// a while to start on a slow machine; past this, the surface it is.
constexpr std::chrono::seconds kProbeLimit{5};

// The window's own surface where SDL's renderer would draw on the CPU: the
// renderer would then spend far more than the board to show each frame.
bool ShouldUseSurface(PresentMode present, const std::vector<std::string>& drivers) {
  if (present != PresentMode::kAuto) return present == PresentMode::kSurface;
  const RendererProbe probe = ProbeRenderer(drivers, kProbeLimit);
  if (!probe.problem.empty())
    std::fprintf(stderr, "softboard: %s; showing frames through the window's surface\n",
                 probe.problem.c_str());
  return !probe.answered || DrawsInSoftware(probe);
}

class WindowDisplay final : public Display {
 public:
  ~WindowDisplay() override {
    presenter_.reset();
    if (window_) SDL_DestroyWindow(window_);
    if (video_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
  }

  bool Open(bool fullscreen, PresentMode present, std::string* error) {
    const std::vector<std::string> drivers = VideoDrivers();
    const bool surface = !drivers.empty() && ShouldUseSurface(present, drivers);
    // SIGINT and SIGTERM stay the program's own (a closed window is Esc).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    StartVideo(drivers, present == PresentMode::kAuto);
    if (!video_) {
      *error = "no display: no display server to show a window on";
      if (*SDL_GetError()) *error += std::string(" (") + SDL_GetError() + ")";
      return false;
    }
    Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
    SDL_Rect at = {int(SDL_WINDOWPOS_CENTERED), int(SDL_WINDOWPOS_CENTERED), kScreenWidth,
                   kScreenHeight};
    if (fullscreen) {
      flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
      // Full screen is the window manager's to give; where none runs (a bare
      // X server, a kiosk) the window still covers the screen.
      SDL_GetDisplayBounds(0, &at);
    }
    window_ = SDL_CreateWindow(ProgramName(), at.x, at.y, at.w, at.h, flags);
    if (!window_) {
      *error = std::string("cannot create the window: ") + SDL_GetError();
      return false;
    }
    if (surface) {
      std::string why;
      presenter_ = MakeSurfacePresenter(window_, &why);
      // A window system with no surface of its own (Wayland, in SDL 2) is
      // left to the renderer.
      if (!presenter_ && present == PresentMode::kSurface)
        std::fprintf(stderr, "%s: SOFTBOARD_PRESENT=surface: %s; using the renderer\n",
                     ProgramName(), why.c_str());
    }
    if (!presenter_) presenter_ = MakeRendererPresenter(window_, error);
    if (!presenter_) return false;
    // What F11 returns to; set now, as a renderer may make the window again.
    if (fullscreen) {
      SDL_SetWindowSize(window_, kScreenWidth, kScreenHeight);
      SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    }
    SDL_StartTextInput();
    return true;
  }

  // Starts SDL's video on the first driver that has its server. An X server
  // with no other client (Xvfb, a bare X session) resets itself when the
  // probe's connection closes and refuses new ones for a moment: after a
  // probe, a refusal is tried again for up to a second.
  void StartVideo(const std::vector<std::string>& drivers, bool probed) {
    for (int attempt = 0; attempt < (probed ? 20 : 1) && !video_; attempt++) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      video_ = StartSdlVideo(drivers);
    }
  }

  void Show(const PixelRows& frame, const FrameDamage& damage, int retraces) override {
    presenter_->Show(frame, damage, retraces);
  }
  bool WaitsForRetrace() const override { return presenter_->WaitsForRetrace(); }
  bool DrawableSize(int* width, int* height) const override {
    return presenter_->DrawableSize(width, height);
  }
  PixelRows FrameRows(int width, int height) override {
    return presenter_->FrameRows(width, height);
  }

  DisplayEvents PumpEvents() override {
    DisplayEvents events;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      switch (event.type) {
        case SDL_QUIT: console_queue_key(keys::kEsc); break;
        case SDL_WINDOWEVENT: OnWindowEvent(event.window.event, &events); break;
        case SDL_TEXTINPUT: QueueText(event.text.text); break;
        case SDL_KEYDOWN: OnKey(event.key, &events); break;
        default: break;
      }
    }
    return events;
  }

 private:
  void OnWindowEvent(Uint8 what, DisplayEvents* events) {
    if (what == SDL_WINDOWEVENT_SIZE_CHANGED) {
      presenter_->Resized();
      events->resized = true;
    } else if (what == SDL_WINDOWEVENT_EXPOSED) {
      presenter_->Exposed();
    }
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

  bool video_ = false;
  SDL_Window* window_ = nullptr;
  std::unique_ptr<WindowPresenter> presenter_;
};

}  // namespace

bool DisplayServerNamed() {
  return !VideoDrivers().empty();
}

std::unique_ptr<Display> OpenWindowDisplay(bool fullscreen, PresentMode present,
                                           std::string* error) {
  auto display = std::make_unique<WindowDisplay>();
  if (!display->Open(fullscreen, present, error)) return nullptr;
  return display;
}

}  // namespace softboard
