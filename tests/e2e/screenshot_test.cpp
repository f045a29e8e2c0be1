// The screenshot at shutdown: interrupted while it is written, saved under
// the longest names, or not saved for want of room, with the reason.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "demo_run.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class Screenshot : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

// Whether process `pid` has a file open in `dir` other than the trace and
// the texture: the screenshot, named or not.
bool WritingInto(int pid, const std::string& dir) {
  std::error_code error;
  for (const auto& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (target.rfind(dir + "/", 0) == 0 && target != dir + "/trace.txt" &&
        target != dir + "/tex.3df")
      return true;
  }
  return false;
}

// Whether process `pid` has ended (a zombie not yet waited for, or gone).
bool Ended(int pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(") ");
  return name_end == std::string::npos || stat.compare(name_end + 2, 1, "Z") == 0;
}

// SIGTERM while a scale-8 frame (about a second's work) is being saved: the
// run ends by the signal, the terminal is restored, and no file is left, not
// even a partial one under another name. The signal goes once the save is
// seen begun; which came first is then read from how the run ended, not
// timed. A save that ended before the signal (a loaded machine may hold this
// test back that long) left its whole file, and the run is tried again.
TEST_F(Screenshot, SigtermWhileSavingLeavesNothing) {
  for (int attempt = 1;; attempt++) {
    ASSERT_LE(attempt, 5) << "every save ended before the signal came";
    for (const std::string& name : Entries())
      if (name != "tex.3df") std::filesystem::remove(dir_ + "/" + name);
    DemoRun run({dir_,
                 {{"SOFTBOARD_DISPLAY", "headless"},
                  {"SOFTBOARD_SCALE", "8"},
                  {"SOFTBOARD_TRACE", "trace.txt"},
                  {"SOFTBOARD_SCREENSHOT", "big.png"}},
                 {}});
    // The limits only keep a hang from lasting.
    ASSERT_TRUE(run.WaitForOutput("continue", 60s));
    run.Type(" ");
    ASSERT_TRUE(WaitForFileText(dir_ + "/trace.txt", "grBufferSwap(1)", 60s));
    run.Type("\033");
    ASSERT_TRUE(WaitForFileText(dir_ + "/trace.txt", "grLibShutdown()", 60s));
    const auto limit = std::chrono::steady_clock::now() + 60s;
    while (!WritingInto(run.pid(), dir_) && !Ended(run.pid()) &&
           std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(1ms);
    const bool began = WritingInto(run.pid(), dir_);
    if (began) run.Signal(SIGTERM);
    run.Wait(60s);
    const std::vector<std::string> left = Entries();
    if (run.end_signal() == SIGTERM) {
      EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()));
    }
    if (began && run.end_signal() == SIGTERM &&
        left == std::vector<std::string>{"tex.3df", "trace.txt"})
      return;  // cut short, and nothing left
    // Otherwise the save ended first: all it may leave is its whole file.
    ASSERT_EQ(left, (std::vector<std::string>{"big.png", "tex.3df", "trace.txt"}))
        << "began: " << began << ", the signal that ended the run: " << run.end_signal();
    // Whole: the PNG's signature, a 5120-pixel-wide header, its end chunk.
    const std::string png = ReadFile(dir_ + "/big.png");
    ASSERT_GT(png.size(), 45u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(16, 4), std::string("\0\0\x14\0", 4));
    EXPECT_EQ(png.substr(png.size() - 8), "IEND\xAE\x42\x60\x82");
  }
}

// 254 and 255 bytes: names as long as the file system takes, new and
// written over.
TEST_F(Screenshot, TheLongestNamesAreSaved) {
  for (size_t length : {254, 255}) {
    const std::string name = std::string(length - 4, 's') + ".png";
    for (int round = 0; round < 2; round++) {
      const ShellRun run =
          RunShell(dir_, "printf ' \\033' | " + Demo(),
                   {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_SCREENSHOT", name}});
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "") << length;
    }
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/" + name)) << length;
    EXPECT_EQ(Entries().size(), 2u) << "no temporary file beside it";
    std::filesystem::remove(dir_ + "/" + name);
  }
}

// A full file system, made for the run: a 16 KB one, mounted in a mount and
// user namespace of the run's own, where the system allows one.
TEST_F(Screenshot, AFullDiskGivesTheReason) {
  if (RunShell(dir_, "unshare -rm true").status != 0)
    GTEST_SKIP() << "no user namespaces here to mount a small file system in";
  std::filesystem::create_directory(dir_ + "/full");
  const ShellRun run =
      RunShell(dir_,
               "unshare -rm sh -c 'mount -t tmpfs -o size=16k tmpfs full && printf \" \\033\" | " +
                   Demo() + "'",
               {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_SCREENSHOT", "full/shot.png"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "softboard: screenshot not saved: full/shot.png: cannot write: No space left on "
            "device\n");
}

}  // namespace
}  // namespace e2e
