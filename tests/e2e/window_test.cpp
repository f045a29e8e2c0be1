// The demo in a real window on a virtual X server (Xvfb): full screen renders
// at the screen's own size, a window at the scene's. Skipped where Xvfb is not
// installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "demo_run.h"
#include "screen_reference.h"
#include "virtual_screen.h"

namespace e2e {
namespace {

// A run in `mode` whose keys come a while apart through a pipe, so the window
// shows frames before Esc ends it; the last frame shown.
Screenshot RunInWindow(const std::string& dir, const std::string& display, const char* mode,
                       const std::string& settings = "") {
  const std::string shot = dir + "/window.png";
  const std::string command =
      "cd '" + dir + "' && (printf ' '; sleep 1; printf '\\033') | " +
      "env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=" + display +
      // The X and D-Bus client libraries keep a little memory
      // to the end, by design; the leak checker of a sanitized
      // build would report it as ours.
      " ASAN_OPTIONS=detect_leaks=0 " + settings + " SOFTBOARD_DISPLAY=" + mode +
      " SOFTBOARD_SCREENSHOT=window.png timeout 30 '" TRANSDEMO_PATH "' > /dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  Screenshot s;
  EXPECT_TRUE(s.Load(shot)) << mode;
  return s;
}

TEST(Window, FullScreenRendersAtTheScreensOwnSize) {
  if (!HaveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  const VirtualScreen screen(1920, 1080);
  ASSERT_FALSE(screen.display().empty()) << "Xvfb did not start";
  const std::string dir = MakeTempDir();
  std::filesystem::copy_file(DEFAULT_TEXTURE, dir + "/tex.3df");
  const Screenshot full = RunInWindow(dir, screen.display(), "fullscreen");
  EXPECT_EQ(full.width, 1440) << "the largest 4:3 size that fits 1920x1080";
  EXPECT_EQ(full.height, 1080);
  const Screenshot window = RunInWindow(dir, screen.display(), "window");
  EXPECT_EQ(window.width, 640);
  EXPECT_EQ(window.height, 480);
  const Screenshot window16 = RunInWindow(dir, screen.display(), "window", "SOFTBOARD_COLOR=16");
  EXPECT_EQ(window16.width, 640) << "16-bit frames are widened for the window";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace e2e
