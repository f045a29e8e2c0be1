// A terminal that cannot be trusted: sizes no terminal has, answers that are
// garbage, a reader that stops and a terminal that closes mid-frame. None of
// it may take the memory, hold up Esc, or leave the terminal as it was not.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "demo_run.h"
#include "terminal_stream.h"
#include "tmux_session.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

winsize Size(int columns, int rows, int width, int height) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_xpixel = static_cast<unsigned short>(width);
  size.ws_ypixel = static_cast<unsigned short>(height);
  return size;
}

// The most memory a run may hold: the board's buffers, the writer's picture
// and chafa's, for a picture at the ceiling, are a small part of it. (Before
// the ceiling, these terminals made it 1.7 GB and more.)
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMostKib = 1200 * 1024;
#else
constexpr long kMostKib = 400 * 1024;
#endif

class HostileTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
    trace_ = dir_ + "/trace.txt";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Keys from a pipe, so that what the terminal answers can be typed into it
  // before the demo asks.
  RunOptions Options(const std::string& terminal, winsize size) {
    RunOptions options{
        dir_,
        {{"SOFTBOARD_DISPLAY", "terminal"},
         {"SOFTBOARD_TERMINAL", terminal},
         {"SOFTBOARD_TRACE", trace_},
         {"TERM", "xterm-256color"}},
        {"SOFTBOARD_SCALE", "COLORTERM", "KITTY_WINDOW_ID", "TERM_PROGRAM", "LC_TERMINAL"}};
    options.size = size;
    options.stdin_pipe = true;
    return options;
  }

  std::string dir_, trace_;
};

struct Hostile {
  const char* name;
  const char* terminal;
  winsize size;
  std::string answer;   // typed into the terminal before the demo asks
  std::string picture;  // what shows a picture was sent
};

void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.name;
}

class HostileSizes : public HostileTerminal, public ::testing::WithParamInterface<Hostile> {};

// The picture is held to a sane size: the run stays small, shows a picture,
// and Esc ends it at once, the terminal as it was.
TEST_P(HostileSizes, HoldNoMoreThanASanePicture) {
  const Hostile& h = GetParam();
  DemoRun run(Options(h.terminal, h.size));
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(h.answer);
  run.TypeStdin(" ");
  ASSERT_TRUE(run.WaitForOutput(h.picture, 20s)) << run.errors();
  // A few frames more, each as large as the first.
  run.TypeStdin("hhhh");
  ASSERT_TRUE(WaitForFileText(trace_, "x=108", 20s));
  for (int i = 0; i < 20; i++) run.Read(1 << 16, 20);
  const long peak = run.PeakMemoryKib();
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, kMostKib) << "KiB held";
  run.TypeStdin("\x1b");
  EXPECT_EQ(run.Wait(20s), 0) << run.errors();
  EXPECT_EQ(run.errors(), "");
  EXPECT_NE(run.output().find("\x1b[?1049l", run.output().rfind(h.picture)), std::string::npos);
  EXPECT_TRUE(SameTerminalSettings(run.SettingsNow(), run.settings_before()));
}

INSTANTIATE_TEST_SUITE_P(
    Terminals, HostileSizes,
    ::testing::Values(
        // 80 x 24 cells said to be 16000 x 12000 pixels: cells of 200 x 500.
        Hostile{"sixel_cells_of_200x500", "sixel", Size(80, 24, 16000, 12000), "", "\x1bP"},
        Hostile{"sixel_65535_pixels", "sixel", Size(80, 24, 65535, 65535), "", "\x1bP"},
        Hostile{"kitty_65535_pixels", "kitty", Size(80, 24, 65535, 65535), "", "\x1b_Ga=T"},
        // No size from the system; the answers claim cells of 999999 pixels.
        Hostile{"answered_999999", "auto", Size(80, 24, 0, 0),
                "\x1b[6;999999;999999t\x1b[4;999999;999999t\x1b[?62;4c", "\x1bP"},
        Hostile{"symbols_65535_cells", "symbols", Size(65535, 65535, 0, 0), "", "\x1b[48;2;"}),
    [](const auto& info) { return std::string(info.param.name); });

// 4000 bytes of garbage answer the questions: none of it is a key (the
// triangle never moves), and the Esc typed next ends the run at once.
TEST_F(HostileTerminal, AGarbageAnswerIsNoKeys) {
  DemoRun run(Options("auto", Size(80, 24, 0, 0)));
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  std::string garbage;
  for (int i = 0; i < 4000; i++) garbage += char(32 + (i * 37 + i / 95) % 95);
  run.Type(garbage + "\x1b[?62;4c");
  run.TypeStdin(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1bP", 20s)) << "the answer's sixel is taken";
  run.TypeStdin("\x1b");
  EXPECT_EQ(run.Wait(10s), 0) << "Esc was held up behind the garbage";
  const std::string trace = ReadFile(trace_);
  for (const char* moved : {"x=98,", "x=102,", "y=98,", "y=102,", "grConstantColorValue(0x7F",
                            "grConstantColorValue(0x81"})
    EXPECT_EQ(trace.find(moved), std::string::npos) << moved;
}

// A frame cut short, by a reader that stopped (the terminal's buffer full)
// and the run ending meanwhile, by Esc or a signal: what the terminal got,
// replayed in a real one, leaves it restored, what comes after shown as text.
TEST_F(HostileTerminal, AFrameCutShortLeavesTheTerminalRestored) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (package tmux)";
  const std::pair<const char*, const char*> protocols[] = {
      {"kitty", "\x1b_Ga=T"}, {"iterm", "\x1b]1337;File="}, {"sixel", "\x1bP"}};
  for (const auto& [protocol, picture] : protocols) {
    for (const char* how : {"Esc", "SIGTERM"}) {
      const std::string what = std::string(protocol) + ", " + how;
      RunOptions options = Options(protocol, Size(100, 40, 1000, 800));
      options.stdin_pipe = false;
      DemoRun run(options);
      ASSERT_TRUE(run.WaitForOutput("continue", 10s));
      run.Type(" ");
      // From the first picture on, nothing is read: the frames that follow
      // fill the terminal's buffer, and the writer is held in one of them.
      ASSERT_TRUE(run.WaitForOutput(picture, 20s)) << what;
      run.Type("hhhhhhhh");
      ASSERT_TRUE(WaitForFileText(trace_, "x=116", 20s)) << what;
      if (how == std::string("Esc"))
        run.Type("\x1b");
      else
        run.Signal(SIGTERM);
      const int status = run.Wait(20s);
      EXPECT_EQ(status, how == std::string("Esc") ? 0 : -1) << what;
      if (how != std::string("Esc")) {
        EXPECT_EQ(run.end_signal(), SIGTERM) << what;
      }
      EXPECT_TRUE(SameTerminalSettings(run.SettingsNow(), run.settings_before())) << what;

      const std::string replay = dir_ + "/replay.bin";
      std::ofstream(replay, std::ios::binary) << run.output();
      TmuxSession tmux(100, 40,
                       "cat '" + replay + "'; echo; echo ended-$((6 * 7)); exec sleep 600");
      ASSERT_TRUE(tmux.started());
      ASSERT_TRUE(tmux.WaitForScreen("ended-42", 10s)) << what << "\n" << tmux.Capture(false);
      EXPECT_EQ(tmux.Query("#{alternate_on}"), "0") << what;
      EXPECT_EQ(tmux.Query("#{cursor_flag}"), "1") << what;
      EXPECT_NE(tmux.Capture(false).find("Press any key to continue"), std::string::npos) << what;
      std::filesystem::remove(trace_);
    }
  }
}

// The terminal closed in the middle of a frame: the run is hung up on and
// ends, rather than waiting on a terminal that is gone.
TEST_F(HostileTerminal, ATerminalClosedMidFrameEndsTheRun) {
  RunOptions options = Options("kitty", Size(100, 40, 1000, 800));
  options.stdin_pipe = false;
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b_Ga=T", 20s));
  run.CloseTerminal();
  EXPECT_EQ(run.Wait(20s), -1);
  EXPECT_EQ(run.end_signal(), SIGHUP);
}

}  // namespace
}  // namespace e2e
