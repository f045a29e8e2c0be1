#include <gtest/gtest.h>

#include <map>
#include <string>

#include "api/settings.h"

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
            "SOFTBOARD_DISPLAY=\"Headless\" is not a valid value; it takes window, fullscreen, "
            "terminal or headless (using window)");
  EXPECT_EQ(problems[1], "SOFTBOARD_VSYNC=\"yes\" is not a valid value; it takes 1 or 0 (using 1)");
  EXPECT_NE(problems[2].find("SOFTBOARD_BOARDS"), std::string::npos);
}

TEST(Settings, PresentPaths) {
  std::vector<std::string> problems;
  EXPECT_EQ(Read({}, &problems).present, PresentMode::kAuto);
  EXPECT_EQ(Read({{"SOFTBOARD_PRESENT", "gpu"}}, &problems).present, PresentMode::kGpu);
  EXPECT_EQ(Read({{"SOFTBOARD_PRESENT", "surface"}}, &problems).present, PresentMode::kSurface);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(Read({{"SOFTBOARD_PRESENT", "opengl"}}, &problems).present, PresentMode::kAuto);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0],
            "SOFTBOARD_PRESENT=\"opengl\" is not a valid value; it takes auto, gpu or surface "
            "(using auto)");
}

TEST(Settings, TerminalDisplayAndItsModes) {
  std::vector<std::string> problems;
  Settings s = Read({}, &problems);
  EXPECT_EQ(s.terminal, TerminalMode::kAuto);
  EXPECT_FALSE(s.display_named);
  s = Read({{"SOFTBOARD_DISPLAY", "terminal"}, {"SOFTBOARD_TERMINAL", "sixel"}}, &problems);
  EXPECT_EQ(s.display, DisplayMode::kTerminal);
  EXPECT_TRUE(s.display_named);
  EXPECT_EQ(s.terminal, TerminalMode::kSixel);
  const std::pair<const char*, TerminalMode> modes[] = {{"auto", TerminalMode::kAuto},
                                                        {"kitty", TerminalMode::kKitty},
                                                        {"iterm", TerminalMode::kIterm},
                                                        {"symbols", TerminalMode::kSymbols}};
  for (const auto& [text, mode] : modes)
    EXPECT_EQ(Read({{"SOFTBOARD_TERMINAL", text}}, &problems).terminal, mode) << text;
  EXPECT_TRUE(problems.empty());
  EXPECT_TRUE(Read({{"SOFTBOARD_DISPLAY", "window"}}, &problems).display_named);

  for (const char* bad : {"Kitty", "sixels", "iterm2", " kitty"}) {
    problems.clear();
    EXPECT_EQ(Read({{"SOFTBOARD_TERMINAL", bad}}, &problems).terminal, TerminalMode::kAuto);
    ASSERT_EQ(problems.size(), 1u) << bad;
    EXPECT_EQ(problems[0], "SOFTBOARD_TERMINAL=\"" + std::string(bad) +
                               "\" is not a valid value; it takes auto, kitty, iterm, sixel or "
                               "symbols (using auto)");
  }
  problems.clear();
  s = Read({{"SOFTBOARD_DISPLAY", "tty"}}, &problems);
  EXPECT_EQ(s.display, DisplayMode::kWindow);
  EXPECT_FALSE(s.display_named) << "a bad value names no display";
  EXPECT_EQ(problems.size(), 1u);
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

TEST(Settings, ScaleSamplesAndThreads) {
  std::vector<std::string> problems;
  Settings s = Read({}, &problems);
  EXPECT_EQ(s.scale, 0) << "auto";
  EXPECT_EQ(s.ssaa, 1);
  EXPECT_EQ(s.threads, 0) << "auto";
  s = Read({{"SOFTBOARD_SCALE", "2.25"}, {"SOFTBOARD_SSAA", "4"}, {"SOFTBOARD_THREADS", "3"}},
           &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(s.scale, 2.25);
  EXPECT_EQ(s.ssaa, 4);
  EXPECT_EQ(s.threads, 3);
  s = Read({{"SOFTBOARD_SCALE", "auto"}, {"SOFTBOARD_THREADS", "auto"}}, &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(s.scale, 0);
  for (const char* bad : {"0.5", "9", "nan", "inf", "2x", "", " 2", "1e400"}) {
    problems.clear();
    s = Read({{"SOFTBOARD_SCALE", bad}}, &problems);
    EXPECT_EQ(s.scale, 0) << bad;
    EXPECT_EQ(problems.size(), *bad ? 1u : 0u) << bad;
  }
  problems.clear();
  s = Read({{"SOFTBOARD_SSAA", "3"}, {"SOFTBOARD_THREADS", "0"}}, &problems);
  EXPECT_EQ(s.ssaa, 1);
  EXPECT_EQ(s.threads, 0);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "SOFTBOARD_SSAA=\"3\" is not a valid value; it takes 1, 2 or 4 (using 1)");
  EXPECT_EQ(problems[1],
            "SOFTBOARD_THREADS=\"0\" is not a valid value; it takes auto or a whole number from 1 "
            "to 256 (using auto)");
  for (const char* bad : {"-1", "1.5", "257", "2 ", "0x4"}) {
    problems.clear();
    EXPECT_EQ(Read({{"SOFTBOARD_THREADS", bad}}, &problems).threads, 0) << bad;
    EXPECT_EQ(problems.size(), 1u) << bad;
  }
}

TEST(Settings, TerminalFrameCeiling) {
  std::vector<std::string> problems;
  EXPECT_EQ(Read({}, &problems).terminal_fps, 30);
  EXPECT_EQ(Read({{"SOFTBOARD_TERMINAL_FPS", "12"}}, &problems).terminal_fps, 12);
  EXPECT_EQ(Read({{"SOFTBOARD_TERMINAL_FPS", "60.0"}}, &problems).terminal_fps, 60);
  EXPECT_TRUE(problems.empty());
  for (const char* bad : {"0", "61", "2.5", "-5", "fast", "1e1"}) {
    problems.clear();
    EXPECT_EQ(Read({{"SOFTBOARD_TERMINAL_FPS", bad}}, &problems).terminal_fps, 30) << bad;
    ASSERT_EQ(problems.size(), 1u) << bad;
  }
  EXPECT_EQ(problems[0],
            "SOFTBOARD_TERMINAL_FPS=\"1e1\" is not a valid value; it takes a whole number from 1 "
            "to 60 (using 30)");
}

// Every numeric setting reads plain decimals only, one grammar for all: what
// strtod would take besides (hex, exponents, signs, a bare point) is refused.
TEST(Settings, NumbersArePlainDecimalsEverywhere) {
  std::vector<std::string> problems;
  for (const char* bad : {"0x2", "0X2", "0x1p3", "1e0", "2E0", "+2", "-2", "2.", ".5", "2..5",
                          "1,5", "\t2", "2\n", "infinity", "0x10"}) {
    problems.clear();
    const Settings s = Read({{"SOFTBOARD_SCALE", bad},
                             {"SOFTBOARD_THREADS", bad},
                             {"SOFTBOARD_SSAA", bad},
                             {"SOFTBOARD_COLOR", bad},
                             {"SOFTBOARD_VSYNC", bad},
                             {"SOFTBOARD_BOARDS", bad}},
                            &problems);
    EXPECT_EQ(problems.size(), 6u) << bad;
    EXPECT_EQ(s.scale, 0) << bad;
    EXPECT_EQ(s.threads, 0) << bad;
    EXPECT_EQ(s.ssaa, 1) << bad;
    EXPECT_EQ(s.color_bits, 32) << bad;
  }
  struct Good {
    const char* scale;
    double want;
  };
  for (const Good& g : {Good{"2", 2}, Good{"02", 2}, Good{"2.25", 2.25}, Good{"8.000", 8},
                        Good{"1.5", 1.5}, Good{"7.99", 7.99}}) {
    problems.clear();
    EXPECT_EQ(Read({{"SOFTBOARD_SCALE", g.scale}}, &problems).scale, g.want) << g.scale;
    EXPECT_TRUE(problems.empty()) << g.scale;
  }
  // Whole-number settings read the same grammar, then want a whole value.
  const Settings s = Read({{"SOFTBOARD_THREADS", "03"},
                           {"SOFTBOARD_SSAA", "2.0"},
                           {"SOFTBOARD_COLOR", "016"},
                           {"SOFTBOARD_VSYNC", "0"}},
                          &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(s.threads, 3);
  EXPECT_EQ(s.ssaa, 2);
  EXPECT_EQ(s.color_bits, 16);
  EXPECT_FALSE(s.vsync);
  EXPECT_EQ(Read({{"SOFTBOARD_THREADS", "2.5"}}, &problems).threads, 0);
}

TEST(Settings, ColourDepthAndDither) {
  std::vector<std::string> problems;
  Settings s = Read({}, &problems);
  EXPECT_EQ(s.color_bits, 32);
  EXPECT_EQ(s.dither, 4);
  s = Read({{"SOFTBOARD_COLOR", "16"}, {"SOFTBOARD_DITHER", "2x2"}}, &problems);
  EXPECT_EQ(s.color_bits, 16);
  EXPECT_EQ(s.dither, 2);
  EXPECT_EQ(Read({{"SOFTBOARD_DITHER", "off"}}, &problems).dither, 0);
  EXPECT_TRUE(problems.empty());
  s = Read({{"SOFTBOARD_COLOR", "24"}, {"SOFTBOARD_DITHER", "3x3"}}, &problems);
  EXPECT_EQ(s.color_bits, 32);
  EXPECT_EQ(s.dither, 4);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0],
            "SOFTBOARD_COLOR=\"24\" is not a valid value; it takes 32 or 16 (using 32)");
  EXPECT_EQ(problems[1],
            "SOFTBOARD_DITHER=\"3x3\" is not a valid value; it takes 4x4, 2x2 or off (using 4x4)");
}

TEST(Settings, EmptyValueMeansUnset) {
  std::vector<std::string> problems;
  const Settings settings = Read({{"SOFTBOARD_DISPLAY", ""}, {"SOFTBOARD_VSYNC", ""}}, &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(settings.display, DisplayMode::kWindow);
}

}  // namespace
}  // namespace softboard
