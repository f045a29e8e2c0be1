// How a window shows frames, read back from the X server itself: in both
// present paths and both colour depths, full screen and after a resize, the
// window holds the frame pixel for pixel, centred on black. `auto` picks the
// window's own surface under Xvfb, where SDL's renderer would draw on the CPU
// (as the helper program says), and then no GL library is loaded. Skipped where Xvfb or xwd is
// missing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "demo_run.h"
#include "screen_reference.h"
#include "under_emulator.h"
#include "virtual_screen.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// Moved right and down, and faded: a frame unlike the first.
constexpr char kKeys[] = "hhhhhbbbpppp";

bool HaveXwd() {
  return std::system("command -v xwd > /dev/null 2>&1") == 0;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveXvfb() || !HaveXwd()) GTEST_SKIP() << "needs Xvfb and xwd (x11-apps)";
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // The frame a headless run draws at `scale` after the same keys.
  Screenshot Reference(const char* scale, int color, const char* ssaa = "1") {
    DemoRun run({dir_,
                 {{"SOFTBOARD_DISPLAY", "headless"},
                  {"SOFTBOARD_SCALE", scale},
                  {"SOFTBOARD_COLOR", std::to_string(color)},
                  {"SOFTBOARD_SSAA", ssaa},
                  {"SOFTBOARD_SCREENSHOT", "reference.png"}},
                 {}});
    EXPECT_TRUE(run.WaitForOutput("continue", 10s));
    run.Type(std::string(" ") + kKeys + "\033");
    EXPECT_EQ(run.Wait(30s), 0);
    Screenshot shot;
    EXPECT_TRUE(shot.Load(dir_ + "/reference.png"));
    return shot;
  }

  // The demo in a window on `display`, started and sent the keys.
  std::unique_ptr<DemoRun> Start(const std::string& display, const char* mode, const char* present,
                                 int color, const char* ssaa = "1") {
    RunOptions options{dir_,
                       {{"DISPLAY", display},
                        {"SOFTBOARD_DISPLAY", mode},
                        {"SOFTBOARD_COLOR", std::to_string(color)},
                        {"SOFTBOARD_SSAA", ssaa},
                        {"SOFTBOARD_TRACE", "trace.txt"},
                        {"SOFTBOARD_SCREENSHOT", "last.png"},
                        // The X client libraries keep a little memory to the
                        // end, by design; a sanitized build would call it ours.
                        {"ASAN_OPTIONS", "detect_leaks=0"}},
                       {"WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SOFTBOARD_PRESENT"}};
    if (present) options.env.emplace("SOFTBOARD_PRESENT", present);
    auto run = std::make_unique<DemoRun>(options);
    EXPECT_TRUE(run->WaitForOutput("continue", 10s));
    run->Type(std::string(" ") + kKeys);
    return run;
  }

  void Quit(DemoRun& run) {
    run.Type("\033");
    const int status = run.Wait(30s);
    EXPECT_EQ(status, 0) << run.output() << "\n" << run.errors() << "\n" << Opened();
  }

  // How the trace says the display opened.
  std::string Opened() {
    for (const std::string& line : ReadLines(dir_ + "/trace.txt")) {
      if (line.rfind("grSstWinOpen", 0) == 0) return line;
    }
    return "no grSstWinOpen traced";
  }

  std::string dir_;
};

// Whether the window is width x height and shows `frame` centred on black;
// otherwise where it first differs.
::testing::AssertionResult ShowsFrame(const WindowImage& window, const Screenshot& frame, int width,
                                      int height) {
  if (window.width != width || window.height != height) {
    return ::testing::AssertionFailure()
           << "the window is " << window.width << "x" << window.height;
  }
  const int left = (width - frame.width) / 2, top = (height - frame.height) / 2;
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      const bool inside = x >= left && x < left + frame.width && y >= top && y < top + frame.height;
      const uint32_t want =
          inside ? frame.pixels[size_t(y - top) * frame.width + size_t(x - left)] & 0xFFFFFF : 0;
      if (window.At(x, y) != want) {
        return ::testing::AssertionFailure()
               << std::hex << "at " << std::dec << x << ", " << y << " the window shows "
               << std::hex << window.At(x, y) << ", the frame " << want;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Reads the window back until it shows the frame (a frame takes a few
// retraces to arrive) or the time runs out.
::testing::AssertionResult WindowShows(const std::string& display, const Screenshot& frame,
                                       int width, int height) {
  ::testing::AssertionResult last = ::testing::AssertionFailure() << "no window";
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (std::chrono::steady_clock::now() < deadline) {
    WindowImage window;
    if (ReadWindow(display, "transdemo", &window)) {
      last = ShowsFrame(window, frame, width, height);
      if (last) return last;
    }
    std::this_thread::sleep_for(50ms);
  }
  return last;
}

class Present : public WindowTest,
                public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(Present, TheWindowHoldsTheFrameCentredFullScreenAndAfterAResize) {
  const auto [present, color] = GetParam();
  if (kUnderEmulator && std::string(present) == "gpu")
    GTEST_SKIP() << "not under a user-mode emulator: Mesa's GL, emulated too, draws too slowly";
  const Screenshot full = Reference("2.25", color), scene = Reference("1", color),
                   resized = Reference("1.25", color);
  const VirtualScreen screen(1920, 1080);
  ASSERT_FALSE(screen.display().empty()) << "Xvfb did not start";

  auto run = Start(screen.display(), "fullscreen", present, color);
  EXPECT_TRUE(WindowShows(screen.display(), full, 1920, 1080)) << "full screen";
  Quit(*run);

  run = Start(screen.display(), "window", present, color);
  EXPECT_TRUE(WindowShows(screen.display(), scene, 640, 480)) << "the window as it opens";
  ASSERT_TRUE(ResizeWindow(screen.display(), "transdemo", 1024, 600));
  EXPECT_TRUE(WindowShows(screen.display(), resized, 1024, 600)) << "resized to 1024x600";
  Quit(*run);
}

INSTANTIATE_TEST_SUITE_P(Paths, Present,
                         ::testing::Combine(::testing::Values("surface", "gpu"),
                                            ::testing::Values(32, 16)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" +
                                  std::to_string(std::get<1>(info.param)) + "bit";
                         });

// Supersampled bands are averaged straight into the window's surface.
TEST_F(WindowTest, SupersampledFramesAreAveragedIntoTheSurface) {
  const VirtualScreen screen(1024, 768);
  ASSERT_FALSE(screen.display().empty()) << "Xvfb did not start";
  const Screenshot scene = Reference("1", 32, "2");
  auto run = Start(screen.display(), "window", "surface", 32, "2");
  EXPECT_TRUE(WindowShows(screen.display(), scene, 640, 480));
  Quit(*run);
}

// Whether a window named after the demo appears on `display` in time.
bool WindowAppears(const std::string& display) {
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  for (WindowImage window; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(50ms)) {
    if (ReadWindow(display, "transdemo", &window)) return true;
  }
  return false;
}

// The screenshot at exit is the frame as drawn: full screen at the largest
// 4:3 size the screen holds, a window at the scene's size, 16-bit frames too.
TEST_F(WindowTest, FramesAreDrawnAtTheSizeTheScreenHolds) {
  const VirtualScreen screen(1920, 1080);
  ASSERT_FALSE(screen.display().empty()) << "Xvfb did not start";
  const struct {
    const char* mode;
    int color, width, height;
  } cases[] = {{"fullscreen", 32, 1440, 1080}, {"window", 32, 640, 480}, {"window", 16, 640, 480}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.color) + "-bit");
    auto run = Start(screen.display(), c.mode, nullptr, c.color);
    EXPECT_TRUE(WindowAppears(screen.display()));
    Quit(*run);
    Screenshot last;
    ASSERT_TRUE(last.Load(dir_ + "/last.png"));
    EXPECT_EQ(last.width, c.width);
    EXPECT_EQ(last.height, c.height);
  }
}

// The libraries a process has mapped.
std::string Mapped(int pid) {
  return ReadFile("/proc/" + std::to_string(pid) + "/maps");
}

bool MapsGl(const std::string& maps) {
  return maps.find("libGL") != std::string::npos || maps.find("_dri.so") != std::string::npos;
}

TEST_F(WindowTest, AutoShowsFramesThroughTheSurfaceUnderXvfbWithNoGlLoaded) {
  const Screenshot scene = Reference("1", 32);
  const VirtualScreen screen(1024, 768);
  ASSERT_FALSE(screen.display().empty()) << "Xvfb did not start";
  auto run = Start(screen.display(), "window", nullptr, 32);
  EXPECT_TRUE(WindowShows(screen.display(), scene, 640, 480));
  EXPECT_FALSE(MapsGl(Mapped(run->pid()))) << "Xvfb's GL is a rasterizer on the CPU";
  Quit(*run);
  // (Under a user-mode emulator the helper, a program for another machine,
  // starts only where the kernel hands such programs to the emulator.)
  if (!kUnderEmulator) {
    EXPECT_EQ(run->errors().find("renderer probe"), std::string::npos)
        << "the helper answered, found in the build tree: " << run->errors();
  }

  // The check sees GL where it is loaded: the renderer path, forced.
  run = Start(screen.display(), "window", "gpu", 32);
  EXPECT_TRUE(WindowShows(screen.display(), scene, 640, 480));
  EXPECT_TRUE(MapsGl(Mapped(run->pid())));
  Quit(*run);
}

}  // namespace
}  // namespace e2e
