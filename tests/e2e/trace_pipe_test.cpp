// A trace into a pipe: read by another program, with no reader at all, or
// with a reader that goes away. The run never hangs and never dies of it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "demo_run.h"
#include "demo_texts.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class TracePipe : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
    ASSERT_EQ(mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
};

const std::map<std::string, std::string> kHeadless = {{"SOFTBOARD_DISPLAY", "headless"},
                                                      {"SOFTBOARD_TRACE", "pipe"}};

TEST_F(TracePipe, NoReaderSaysSoOnceAndRunsUntraced) {
  const ShellRun run = RunShell(dir_, "printf ' \\033' | " + Demo(), kHeadless, 20s);
  EXPECT_EQ(run.status, 0) << "-1: the start hung";
  EXPECT_EQ(run.out,
            "This demo demonstrates the\n"
            "translucency/texture/gouraud shading capabilities\n"
            "of your 3D card, to move the transparent triangle\n"
            "use the f,g,h,b keys, to change the opacity of the\n"
            "translucent triangle use the o,p keys,\n"
            "to quit press esc.\n"
            "Press any key to continue");
  EXPECT_EQ(run.err,
            "softboard: the trace file \"pipe\" is a pipe with no reader; running untraced\n");
}

// A trace into standard error, a pipe read by another program.
TEST_F(TracePipe, AReaderGetsEveryLine) {
  const ShellRun run =
      RunShell(dir_, "printf ' \\033' | " + Demo() + " 2>&1 >/dev/null | cat > got.txt",
               {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_TRACE", "/dev/stderr"}}, 20s);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = ReadLines(dir_ + "/got.txt");
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines.front(), "grLibInit()");
  EXPECT_EQ(lines.back(), "grLibShutdown()");
}

// The trace's reader takes three lines and goes while the demo runs: the
// board says so once, the trace stops, and the run ends normally with its
// screenshot, rather than dying of SIGPIPE.
TEST_F(TracePipe, AReaderThatGoesAwayStopsTheTraceNotTheRun) {
  const ShellRun run = RunShell(dir_,
                                "(printf ' '; sleep 1; printf '\\033') | { " + Demo() +
                                    " 3>&1 >/dev/null; echo $? > status; } | head -3 > got.txt",
                                {{"SOFTBOARD_DISPLAY", "headless"},
                                 {"SOFTBOARD_TRACE", "/dev/fd/3"},
                                 {"SOFTBOARD_SCREENSHOT", "shot.png"}},
                                20s);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir_ + "/status"), "0\n") << "141: killed by SIGPIPE";
  EXPECT_EQ(run.err,
            "softboard: cannot write the trace file \"/dev/fd/3\": Broken pipe; tracing stops\n");
  EXPECT_EQ(ReadLines(dir_ + "/got.txt").size(), 3u);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/shot.png"));
}

}  // namespace
}  // namespace e2e
