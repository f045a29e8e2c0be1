// The frame's size follows the window: at open and every time the window's
// drawable area changes, the largest 4:3 size that fits, with nothing kept of
// the sizes before.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "api/board_context.h"
#include "frame/framebuffer.h"
#include "grlib.h"
#include "output/display.h"
#include "png_file.h"

namespace softboard {
namespace {

// A window that is resized between frames as the test says. With
// `own_rows`, frames of the size it shows live in rows of its own memory, as
// a window's surface.
class FakeWindow final : public Display {
 public:
  int width = 1920, height = 1080;
  bool resized = false;
  bool own_rows = false;
  std::vector<uint32_t> surface;
  int shown_width = 0, shown_height = 0;
  FrameDamage damage;  // of the last frame shown
  void Show(const PixelRows& frame, const FrameDamage& d, int) override {
    shown_width = frame.width;
    shown_height = frame.height;
    damage = d;
  }
  PixelRows FrameRows(int w, int h) override {
    if (!own_rows) return {};
    surface.assign(size_t(w) * size_t(h), 0);  // a new surface, as after a resize
    return ArgbRows(surface.data(), w, h);
  }
  bool WaitsForRetrace() const override { return false; }
  DisplayEvents PumpEvents() override {
    DisplayEvents events;
    events.resized = resized;
    resized = false;
    return events;
  }
  bool DrawableSize(int* w, int* h) const override {
    *w = width;
    *h = height;
    return true;
  }
};

// Each test draws on a board of its own, headless and untraced, swaps not
// waiting; a test may then put a fake window in the display's place.
class DisplaySize : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings settings;
    settings.display = DisplayMode::kHeadless;
    settings.vsync = false;
    board_ = std::make_unique<ScopedBoard>(settings);
  }
  void TearDown() override { board_.reset(); }
  Settings& settings() { return *board_->state().given_settings; }
  FakeWindow* Open() {
    grLibInit();
    GrHwConfiguration config;
    EXPECT_TRUE(grSstQueryHardware(&config));
    EXPECT_TRUE(grSstWinOpen(0, 7, 0, 2, 0, 2, 1));
    auto window = std::make_unique<FakeWindow>();
    FakeWindow* raw = window.get();
    TheBoard().display = std::move(window);
    return raw;
  }
  std::unique_ptr<ScopedBoard> board_;
};

TEST_F(DisplaySize, HeadlessAutoIsTheScenesSize) {
  grLibInit();
  GrHwConfiguration config;
  ASSERT_TRUE(grSstQueryHardware(&config));
  ASSERT_TRUE(grSstWinOpen(0, 7, 0, 2, 0, 2, 1));
  EXPECT_EQ(TheBoard().frame.width, 640);
  EXPECT_EQ(TheBoard().frame.height, 480);
}

TEST_F(DisplaySize, ResizingTheWindowChoosesTheLargestFourByThreeThatFits) {
  FakeWindow* window = Open();
  struct Case {
    int width, height, want_width, want_height;
  };
  const Case cases[] = {{1920, 1080, 1440, 1080}, {800, 600, 800, 600},
                        {1280, 1024, 1280, 960},  {300, 200, 640, 480},
                        {6000, 6000, 5120, 3840}, {1920, 1080, 1440, 1080}};
  for (const Case& c : cases) {
    window->width = c.width;
    window->height = c.height;
    window->resized = true;
    grBufferSwap(0);  // the new size takes effect after this frame
    grBufferClear(0xFF0000FF, 0, 0);
    grBufferSwap(0);
    const FrameBuffers& frame = TheBoard().frame;
    EXPECT_EQ(frame.width, c.want_width) << c.width << "x" << c.height;
    EXPECT_EQ(frame.height, c.want_height) << c.width << "x" << c.height;
    EXPECT_EQ(window->shown_width, c.want_width);
    EXPECT_EQ(window->shown_height, c.want_height);
    const size_t pixels = size_t(c.want_width) * c.want_height;
    ASSERT_GT(frame.color[0].bytes(), 0u);
    for (const PixelMemory& buffer : frame.color) {
      if (buffer.bytes()) {
        EXPECT_EQ(buffer.bytes(), 4 * pixels) << "nothing kept of larger sizes";
      }
    }
  }
}

// SSAA 4 at a 5120-pixel-wide frame would pass 16384 pixels a side: it is
// reduced to 2, and that is said once, however often resizes make the
// decision again.
TEST_F(DisplaySize, ReducedSupersamplingIsSaidOnce) {
  settings().ssaa = 4;
  FakeWindow* window = Open();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 10; i++) {
    window->width = window->height = i % 2 ? 1000 : 6000;
    window->resized = true;
    grBufferSwap(0);
    EXPECT_EQ(TheBoard().frame.ssaa, i % 2 ? 4 : 2) << i;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "softboard: SOFTBOARD_SSAA=4 at 5120x3840 needs buffers larger than 16384 pixels a "
            "side; using 2\n");
}

TEST_F(DisplaySize, AFixedScaleIgnoresTheWindowAndSupersamplingShowsTheSameSize) {
  settings().scale = 2.25;
  settings().ssaa = 2;
  FakeWindow* window = Open();
  window->width = 800;
  window->height = 600;
  window->resized = true;
  grBufferSwap(0);
  grBufferSwap(0);
  EXPECT_EQ(window->shown_width, 1440);
  EXPECT_EQ(window->shown_height, 1080);
  EXPECT_EQ(TheBoard().frame.width, 2880) << "drawn twice as large each way";
}

// A clear and one triangle of the given colour (RGBA), the same every frame.
void DrawScene(GrColor_t color) {
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_NONE, FXFALSE);
  grConstantColorValue(color);
  grBufferClear(0x000000FF, 0, 0);
  GrVertex v[3] = {};
  v[0].x = 100, v[0].y = 100, v[1].x = 500, v[1].y = 120, v[2].x = 300, v[2].y = 400;
  const int ilist[3] = {0, 1, 2};
  grDrawPolygon(3, ilist, v);
}

// A screenshot to save at shutdown costs a still scene nothing: frames are
// drawn in the display's rows as without one, and a repeated frame is
// neither drawn nor sent again. What is saved is the last frame shown, also
// when the display changed size after it.
TEST_F(DisplaySize, AScreenshotToSaveCostsAStillSceneNothing) {
  const std::string path =
      ::testing::TempDir() + "display_size_shot_" + std::to_string(getpid()) + ".png";
  settings().screenshot_path = path;
  grLibInit();
  GrHwConfiguration config;
  ASSERT_TRUE(grSstQueryHardware(&config));
  auto window = std::make_unique<FakeWindow>();
  window->own_rows = true;
  window->width = 640;
  window->height = 480;
  FakeWindow* raw = window.get();
  ASSERT_TRUE(grSstWinOpen(0, 7, 0, 2, 0, 2, 1));
  TheBoard().display = std::move(window);
  raw->resized = true;  // takes the fake window's rows
  grBufferSwap(0);
  EXPECT_EQ(TheBoard().frame.storage, FrameStorage::kDisplayRows);

  DrawScene(0xFF0000FF);
  grBufferSwap(0);
  EXPECT_FALSE(raw->damage.None());
  DrawScene(0xFF0000FF);
  grBufferSwap(0);
  EXPECT_TRUE(raw->damage.None()) << "the still frame was drawn or sent again";

  // The next frame is drawn (and then not shown: the program ends first).
  raw->resized = true;
  raw->width = 800;
  raw->height = 600;
  DrawScene(0x00FF00FF);
  grBufferSwap(0);
  DrawScene(0x0000FFFF);
  grLibShutdown();
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  std::string error;
  ASSERT_TRUE(texfile::ReadPng(path, &pixels, &width, &height, &error)) << error;
  std::remove(path.c_str());
  EXPECT_EQ(width, 640) << "the size it was shown at";
  EXPECT_EQ(pixels[size_t(200) * 640 + 300], 0xFF00FF00u) << "the last frame shown";
  EXPECT_EQ(pixels[0], 0xFF000000u);
}

}  // namespace
}  // namespace softboard
