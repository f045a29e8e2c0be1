#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings.h"

namespace softboard {
namespace {

std::map<std::string, std::string> environment;

const char* Lookup(const char* name) {
  const auto it = environment.find(name);
  return it == environment.end() ? nullptr : it->second.c_str();
}

Settings Read(std::map<std::string, std::string> values, std::vector<std::string>* problems) {
  environment = std::move(values);
  return ReadSettings(problems, Lookup);
}

TEST(Settings, DefaultsWhenNothingIsSet) {
  std::vector<std::string> problems;
  const Settings settings = Read({}, &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(settings.display, DisplayMode::kWindow);
  EXPECT_TRUE(settings.vsync);
  EXPECT_EQ(settings.boards, 1);
  EXPECT_TRUE(settings.screenshot_path.empty());
  EXPECT_TRUE(settings.trace_path.empty());
}

TEST(Settings, EveryValueIsRead) {
  std::vector<std::string> problems;
  const Settings settings = Read({{"SOFTBOARD_DISPLAY", "headless"},
                                  {"SOFTBOARD_VSYNC", "0"},
                                  {"SOFTBOARD_BOARDS", "0"},
                                  {"SOFTBOARD_SCREENSHOT", "a.png"},
                                  {"SOFTBOARD_TRACE", "t.txt"}},
                                 &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(settings.display, DisplayMode::kHeadless);
  EXPECT_FALSE(settings.vsync);
  EXPECT_EQ(settings.boards, 0);
  EXPECT_EQ(settings.screenshot_path, "a.png");
  EXPECT_EQ(settings.trace_path, "t.txt");
  EXPECT_EQ(Read({{"SOFTBOARD_DISPLAY", "fullscreen"}}, &problems).display,
            DisplayMode::kFullscreen);
}

TEST(Settings, BadValuesKeepTheDefaultAndSayWhatIsAccepted) {
  std::vector<std::string> problems;
  const Settings settings = Read(
      {{"SOFTBOARD_DISPLAY", "Headless"}, {"SOFTBOARD_VSYNC", "yes"}, {"SOFTBOARD_BOARDS", "2"}},
      &problems);
  EXPECT_EQ(settings.display, DisplayMode::kWindow);
  EXPECT_TRUE(settings.vsync);
  EXPECT_EQ(settings.boards, 1);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0],
            "SOFTBOARD_DISPLAY=\"Headless\" is not a valid value; it takes window, fullscreen "
            "or headless (using window)");
  EXPECT_EQ(problems[1], "SOFTBOARD_VSYNC=\"yes\" is not a valid value; it takes 1 or 0 (using 1)");
  EXPECT_NE(problems[2].find("SOFTBOARD_BOARDS"), std::string::npos);
}

TEST(Settings, ComplaintsEscapeControlBytesAndCutLongValues) {
  std::vector<std::string> problems;
  Read({{"SOFTBOARD_DISPLAY", "\x1b[2J\x1b]0;owned\x07"},
        {"SOFTBOARD_VSYNC", std::string(500, 'x')}},
       &problems);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rfind("SOFTBOARD_DISPLAY=\"\\x1B[2J\\x1B]0;owned\\x07\" is not", 0), 0u)
      << problems[0];
  for (const std::string& problem : problems)
    EXPECT_EQ(problem.find_first_of("\x1b\x07\n"), std::string::npos) << problem;
  EXPECT_NE(problems[1].find("=\"" + std::string(40, 'x') + "...\" is not"), std::string::npos)
      << problems[1];
}

TEST(Settings, EmptyValueMeansUnset) {
  std::vector<std::string> problems;
  const Settings settings = Read({{"SOFTBOARD_DISPLAY", ""}, {"SOFTBOARD_VSYNC", ""}}, &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(settings.display, DisplayMode::kWindow);
}

}  // namespace
}  // namespace softboard
