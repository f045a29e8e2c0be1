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

// Whether process `pid` has a file open for writing in `dir` (other than the
// trace), named or not, before `limit` runs out.
bool WritingInto(int pid, const std::string& dir, std::chrono::milliseconds limit) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (target.rfind(dir + "/", 0) == 0 && target != dir + "/trace.txt" &&
          target != dir + "/tex.3df")
        return true;
    }
    std::this_thread::sleep_for(2ms);
  }
  return false;
}

// SIGTERM while a scale-8 frame (about a second's work) is being saved: the
// run ends by the signal, the terminal is restored, and no file is left, not
// even a partial one under another name.
TEST_F(Screenshot, SigtermWhileSavingLeavesNothing) {
  DemoRun run({dir_,
               {{"SOFTBOARD_DISPLAY", "headless"},
                {"SOFTBOARD_SCALE", "8"},
                {"SOFTBOARD_TRACE", "trace.txt"},
                {"SOFTBOARD_SCREENSHOT", "big.png"}},
               {}});
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(WaitForFileText(dir_ + "/trace.txt", "grBufferSwap(1)", 10s));
  run.Type("\033");
  ASSERT_TRUE(WaitForFileText(dir_ + "/trace.txt", "grLibShutdown()", 10s));
  ASSERT_TRUE(WritingInto(run.pid(), dir_, 10s)) << "the save never began";
  run.Signal(SIGTERM);
  run.Wait(20s);
  EXPECT_EQ(run.end_signal(), SIGTERM) << "the save ended before the signal came";
  EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"tex.3df", "trace.txt"}));
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
