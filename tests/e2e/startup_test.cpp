// Start-up, the instructions, the keyboard and quitting, through a real terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "demo_run.h"
#include "demo_texts.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kTerminalHint =
    "\nsoftboard: no display server here; to see the picture in this terminal, run with "
    "SOFTBOARD_DISPLAY=terminal\n";

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
    trace_ = dir_ + "/trace.txt";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  RunOptions Headless() {
    return {dir_, {{"SOFTBOARD_DISPLAY", "headless"}, {"SOFTBOARD_TRACE", trace_}}, {}};
  }

  // Lines of the trace that name `call`.
  int Count(const std::string& call) {
    int n = 0;
    for (const auto& line : ReadLines(trace_)) n += line.rfind(call + "(", 0) == 0;
    return n;
  }

  std::string dir_;
  std::string trace_;
};

TEST_F(Startup, NoBoardPrintsOnlyTheErrorAndFails) {
  RunOptions options = Headless();
  options.env.emplace("SOFTBOARD_BOARDS", "0");
  DemoRun run(options);
  EXPECT_EQ(run.Wait(10s), 1);
  EXPECT_EQ(run.output(), kNoHardware);
  EXPECT_EQ(Count("grLibShutdown"), 0);
  EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()));
}

// The environment of a machine with no display server and no settings: the
// window cannot open, so the demo says E2 right after the prompt, and no
// library says anything but the board's one line on how to see the picture in
// this terminal. SDL's invisible drivers are never a window, even when asked
// for by name.
TEST_F(Startup, NoDisplayServerFailsAfterThePrompt) {
  const std::vector<std::string> none = {
      "DISPLAY",         "WAYLAND_DISPLAY",  "SOFTBOARD_DISPLAY",
      "SOFTBOARD_TRACE", "SDL_VIDEODRIVER",  "SOFTBOARD_VSYNC",
      "XDG_RUNTIME_DIR", "SOFTBOARD_BOARDS", "SOFTBOARD_SCREENSHOT"};
  for (const char* driver : {"", "offscreen", "dummy,offscreen"}) {
    RunOptions options{dir_, {}, none};
    if (*driver) options.env.emplace("SDL_VIDEODRIVER", driver);
    DemoRun run(options);
    ASSERT_TRUE(run.WaitForOutput("continue", 10s)) << run.output();
    run.Type("x");
    EXPECT_EQ(run.Wait(10s), 1) << driver;
    EXPECT_EQ(run.output(), kInstructions + kNoVideoMode) << driver;
    EXPECT_EQ(run.errors(), kTerminalHint) << driver;
    EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()));
  }
  RunOptions traced{dir_, {{"SOFTBOARD_TRACE", trace_}}, none};
  DemoRun run(traced);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s)) << run.output();
  run.Type("x");
  EXPECT_EQ(run.Wait(10s), 1);
  EXPECT_EQ(Count("grLibShutdown"), 0);
  EXPECT_NE(ReadFile(trace_).find("grSstWinOpen(0, 7, 0, 2, 0, 2, 1) = 0 (no display"),
            std::string::npos)
      << ReadFile(trace_);
}

// The hint is for a person at a terminal who chose nothing: not where the
// window was asked for by name, nor where standard output goes elsewhere.
TEST_F(Startup, NoTerminalHintWhereAWindowWasNamedOrOutputIsNotATerminal) {
  const std::vector<std::string> none = {"DISPLAY", "WAYLAND_DISPLAY", "SOFTBOARD_DISPLAY",
                                         "SDL_VIDEODRIVER", "SOFTBOARD_TRACE"};
  RunOptions named{dir_, {{"SOFTBOARD_DISPLAY", "window"}}, none};
  RunOptions redirected{dir_, {}, none};
  redirected.stdout_path = dir_ + "/out.txt";
  for (const RunOptions& options : {named, redirected}) {
    DemoRun run(options);
    run.Type("x");
    EXPECT_EQ(run.Wait(10s), 1);
    EXPECT_EQ(run.errors(), "");
  }
  EXPECT_NE(ReadFile(dir_ + "/out.txt").find(kNoVideoMode), std::string::npos);
}

TEST_F(Startup, BadSettingIsNamedOnStandardErrorAndTheDefaultUsed) {
  RunOptions options = Headless();
  options.env.emplace("SOFTBOARD_VSYNC", "maybe");
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(WaitForFileText(trace_, "grBufferSwap(1)", 10s));
  run.Type("\033");
  EXPECT_EQ(run.Wait(10s), 0);
  EXPECT_EQ(run.output(), kInstructions);
  EXPECT_NE(run.errors().find("SOFTBOARD_VSYNC"), std::string::npos) << run.errors();
  EXPECT_NE(run.errors().find("1 or 0"), std::string::npos) << run.errors();
  EXPECT_EQ(run.errors().find('\n'), run.errors().size() - 1) << "one line";
}

// The whole life of a run: Esc at the prompt only starts the demo; typed keys
// and an arrow reach the loop without quitting; Esc quits; the terminal is as
// it was; the trace holds the start-up order and one swap per frame.
TEST_F(Startup, RunsTypedKeysAndQuitsOnEsc) {
  DemoRun run(Headless());
  ASSERT_TRUE(run.WaitForOutput("continue", 10s)) << run.output();
  run.Type("\033");
  ASSERT_TRUE(WaitForFileText(trace_, "grBufferSwap(1)", 10s)) << "Esc at the prompt quit";
  run.Type("hh");
  ASSERT_TRUE(WaitForFileText(trace_, "x=104", 10s)) << "keys did not reach the loop";
  run.Type("\033[A");  // an arrow: two codes the loop ignores, never Esc
  run.Type("o");
  ASSERT_TRUE(WaitForFileText(trace_, "grConstantColorValue(0x00000081)", 10s))
      << "the arrow key ended the run";
  run.Type("\033");
  EXPECT_EQ(run.Wait(10s), 0);
  EXPECT_EQ(run.output(), kInstructions);
  EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()));

  const std::vector<std::string> lines = ReadLines(trace_);
  ASSERT_GE(lines.size(), 11u);
  const std::vector<std::string> startup = {
      "grLibInit()",
      "grSstQueryHardware(out) = 1 {num_sst=1}",
      "grSstSelect(0)",
      "grSstWinOpen(0, 7, 0, 2, 0, 2, 1) = 1",
      "gu3dfGetInfo(\"tex.3df\", out) = 1 {width=256, height=128, ",
      "gu3dfLoad(\"tex.3df\", {",
      "grTexMinAddress(0) = 0",
      "grTexDownloadMipMap(0, 0, 3, {",
      "grTexSource(0, 0, 3, {",
      "grTexCombine(0, 1, 0, 1, 0, 0, 0)",
  };
  for (size_t i = 0; i < startup.size(); i++)
    EXPECT_EQ(lines[i].rfind(startup[i], 0), 0u) << "line " << i << ": " << lines[i];
  EXPECT_EQ(lines.back(), "grLibShutdown()");

  // Every frame: the same calls in the same order, ending in one swap.
  const std::vector<std::string> frame = {
      "grColorCombine(3, 8, 1, 1, 0)",    "grBufferClear(0xFF000000, 0, 65535)",
      "grAlphaBlendFunction(4, 0, 0, 0)", "grDrawPolygon(3, [0, 1, 2], ",
      "grConstantColorValue(0x000000",    "grAlphaCombine(3, 8, 1, 2, 0)",
      "grAlphaBlendFunction(1, 5, 0, 0)", "grColorCombine(1, 0, 0, 1, 0)",
      "grDrawPolygon(3, [0, 1, 2], ",     "grBufferSwap(1)",
  };
  const size_t frames = (lines.size() - startup.size() - 1) / frame.size();
  ASSERT_EQ(startup.size() + frames * frame.size() + 1, lines.size());
  ASSERT_GE(frames, 3u);
  for (size_t f = 0; f < frames; f++) {
    for (size_t i = 0; i < frame.size(); i++) {
      const std::string& line = lines[startup.size() + f * frame.size() + i];
      ASSERT_EQ(line.rfind(frame[i], 0), 0u) << "frame " << f << " call " << i << ": " << line;
    }
  }
}

TEST_F(Startup, ScriptedInputFromAPipeRunsAndEnds) {
  // Keys from a file instead of a terminal: a scripted run.
  const std::string script = dir_ + "/keys";
  {
    std::FILE* keys = std::fopen(script.c_str(), "wb");
    std::fputs(" hhhh\033", keys);
    std::fclose(keys);
  }
  const std::string command = "cd '" + dir_ + "' && SOFTBOARD_DISPLAY=headless SOFTBOARD_TRACE='" +
                              trace_ + "' '" TRANSDEMO_PATH "' < keys > out.txt 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(dir_ + "/out.txt"),
            "This demo demonstrates the\n"
            "translucency/texture/gouraud shading capabilities\n"
            "of your 3D card, to move the transparent triangle\n"
            "use the f,g,h,b keys, to change the opacity of the\n"
            "translucent triangle use the o,p keys,\n"
            "to quit press esc.\n"
            "Press any key to continue");
  EXPECT_NE(ReadFile(trace_).find("x=108"), std::string::npos);
  EXPECT_EQ(Count("grLibShutdown"), 1);
}

// Headless, once the keys have run out no key can ever come: the run ends as
// Esc would end it, after every key sent has been handled. `timeout` stands
// guard: a run that never ends fails rather than hangs.
TEST_F(Startup, HeadlessRunEndsWhenItsInputEnds) {
  for (const std::string input : {"printf ' hh' |", "true |", ""}) {
    std::filesystem::remove(trace_);
    const std::string command =
        "cd '" + dir_ + "' && " + input + " SOFTBOARD_DISPLAY=headless SOFTBOARD_VSYNC=0 " +
        "SOFTBOARD_TRACE='" + trace_ + "' timeout 20 '" TRANSDEMO_PATH "' " +
        (input.empty() ? "</dev/null" : "") + " > out.txt 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(Count("grLibShutdown"), 1) << command;
    EXPECT_GE(Count("grBufferSwap"), 1) << command;
  }
  EXPECT_EQ(ReadFile(dir_ + "/out.txt").rfind("This demo", 0), 0u);
}

}  // namespace
}  // namespace e2e
