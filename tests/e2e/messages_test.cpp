// What the board writes on standard error when it quotes what a user gave it:
// escaped byte by byte, one bounded line, whatever the bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "demo_run.h"
#include "demo_texts.h"

namespace e2e {
namespace {

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A headless run that starts and quits at once, with `settings`.
  ShellRun Run(std::map<std::string, std::string> settings) {
    settings.emplace("SOFTBOARD_DISPLAY", "headless");
    return RunShell(dir_, "printf ' \\033' | " + Demo(), settings);
  }

  std::string dir_;
};

TEST_F(Messages, AScreenshotPathIsEscapedByteByByte) {
  const ShellRun run =
      Run({{"SOFTBOARD_SCREENSHOT", "/nonexistent-dir/a\nb\x1b[31mred\xc2\x9b\xff.png"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.rfind("softboard: screenshot not saved: "
                          "/nonexistent-dir/a\\x0Ab\\x1B[31mred\\xC2\\x9B\\xFF.png: ",
                          0),
            0u)
      << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
}

TEST_F(Messages, AHugePathGivesAShortLine) {
  const ShellRun run =
      Run({{"SOFTBOARD_SCREENSHOT", "/nonexistent-dir/" + std::string(120000, 'x')}});
  EXPECT_EQ(run.status, 0);
  EXPECT_LT(run.err.size(), 1000u) << run.err.substr(0, 400);
  EXPECT_NE(run.err.find("xxx...: "), std::string::npos) << run.err.substr(0, 400);
}

TEST_F(Messages, SettingAndTraceComplaintsEscapeC1AndInvalidUtf8) {
  const ShellRun run = Run({{"SOFTBOARD_COLOR", "16\x9b;m\xff"},
                            {"SOFTBOARD_TRACE", "/nonexistent-dir/\x1b]0;title\x07"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "softboard: SOFTBOARD_COLOR=\"16\\x9B;m\\xFF\" is not a valid value; it takes 32 or "
            "16 (using 32)\n"
            "softboard: cannot write the trace file \"/nonexistent-dir/\\x1B]0;title\\x07\": No "
            "such file or directory\n");
}

// Started with standard output, error or input closed, the demo's text and the
// board's complaints never land in the trace file, which would otherwise take
// the closed descriptor's number.
TEST_F(Messages, ClosedStandardDescriptorsNeverSendTextIntoTheTrace) {
  for (const char* closed : {">&-", "2>&-", "<&-", ">&- 2>&-"}) {
    const ShellRun run = RunShell(dir_, "printf ' \\033' | " + Demo() + " " + closed,
                                  {{"SOFTBOARD_DISPLAY", "headless"},
                                   {"SOFTBOARD_TRACE", "trace.txt"},
                                   {"SOFTBOARD_VSYNC", "maybe"},
                                   {"SOFTBOARD_SCREENSHOT", "/nonexistent-dir/shot.png"}});
    EXPECT_EQ(run.status, 0) << closed;
    const std::vector<std::string> lines = ReadLines(dir_ + "/trace.txt");
    ASSERT_FALSE(lines.empty()) << closed;
    EXPECT_EQ(lines.back(), "grLibShutdown()") << closed;
    for (const std::string& line : lines)
      EXPECT_TRUE(line.starts_with("gr") || line.starts_with("gu")) << closed << ": " << line;
  }
}

}  // namespace
}  // namespace e2e
