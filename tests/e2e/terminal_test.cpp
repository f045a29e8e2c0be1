// The terminal display end to end: the demo in tmux, a real terminal whose
// cells are read back, and under a pseudo-terminal whose stream is taken
// apart (sixel, kitty) and read slowly.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "demo_run.h"
#include "demo_texts.h"
#include "screen_reference.h"
#include "terminal_stream.h"
#include "tmux_session.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

winsize Size(int columns, int rows, int width, int height) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_xpixel = static_cast<unsigned short>(width);
  size.ws_ypixel = static_cast<unsigned short>(height);
  return size;
}

int Channel(uint32_t pixel, int shift) {
  return int((pixel >> shift) & 255);
}

class TerminalRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    std::filesystem::copy_file(DEFAULT_TEXTURE, dir_ + "/tex.3df");
    trace_ = dir_ + "/trace.txt";
    shot_ = dir_ + "/shot.png";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A run in the terminal display with a trace, a screenshot and `settings`.
  RunOptions Terminal(std::map<std::string, std::string> settings) {
    RunOptions options{dir_,
                       {{"SOFTBOARD_DISPLAY", "terminal"},
                        {"SOFTBOARD_TRACE", trace_},
                        {"SOFTBOARD_SCREENSHOT", shot_}},
                       {"SOFTBOARD_TERMINAL", "SOFTBOARD_SCALE", "COLORTERM", "KITTY_WINDOW_ID",
                        "TERM_PROGRAM", "LC_TERMINAL"}};
    options.env["TERM"] = "xterm-256color";
    for (const auto& [name, value] : settings) options.env[name] = value;
    return options;
  }

  double TypeAndCountSwaps(DemoRun& run, std::chrono::milliseconds span, size_t most, int* keys);

  int Swaps() {
    const std::string trace = ReadFile(trace_);
    int n = 0;
    for (size_t at = 0; (at = trace.find("grBufferSwap(", at)) != std::string::npos; at++) n++;
    return n;
  }

  // Compares a picture sent to the terminal (RGB from `pixel`) with the
  // screenshot placed at (x, y) in it, black around it; returns the largest
  // difference of a channel and the mean of all, in *largest, *mean.
  template <class Pixel>
  void Compare(const Screenshot& shot, int width, int height, int x, int y, Pixel pixel,
               int* largest, double* mean) {
    *largest = 0;
    double sum = 0;
    for (int j = 0; j < height; j++) {
      for (int i = 0; i < width; i++) {
        const bool inside = i >= x && i < x + shot.width && j >= y && j < y + shot.height;
        const uint32_t want = inside ? shot.pixels[size_t(j - y) * shot.width + (i - x)] : 0;
        const uint32_t got = pixel(i, j);
        for (int shift : {16, 8, 0}) {
          const int d = std::abs(Channel(want, shift) - Channel(got, shift));
          *largest = std::max(*largest, d);
          sum += d;
        }
      }
    }
    *mean = sum / (3.0 * width * height);
  }

  std::string dir_, trace_, shot_;
};

// ---- In tmux: the symbols mode, read back cell by cell ----

class InTmux : public TerminalRun {
 protected:
  void SetUp() override {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (package tmux)";
    TerminalRun::SetUp();
  }

  // The demo, then its exit status on the screen it left, in a pane that
  // stays open (tmux hides the cursor of a pane whose program has ended).
  std::string Command() {
    return "cd '" + dir_ + "' && env -u TMUX SOFTBOARD_DISPLAY=terminal " +
           "SOFTBOARD_TERMINAL=symbols COLORTERM=truecolor SOFTBOARD_TRACE=" + trace_ +
           " '" TRANSDEMO_PATH "'; echo \"[exit $?]\"; exec sleep 600";
  }

  // The demo's process: the child of the pane's shell.
  static int DemoPid(TmuxSession& tmux) {
    const std::string shell = tmux.Query("#{pane_pid}");
    return std::atoi(ReadFile("/proc/" + shell + "/task/" + shell + "/children").c_str());
  }

  // The box of cells the picture takes: those with a colour of their own.
  struct Box {
    int column = 1 << 30, row = 1 << 30, columns = 0, rows = 0;
  };
  static Box FindPicture(const std::vector<std::vector<Cell>>& cells) {
    Box box;
    int right = -1, bottom = -1;
    for (int r = 0; r < int(cells.size()); r++) {
      for (int c = 0; c < int(cells[r].size()); c++) {
        if (cells[r][c].bg < 0 && cells[r][c].fg < 0) continue;
        box.column = std::min(box.column, c);
        box.row = std::min(box.row, r);
        right = std::max(right, c);
        bottom = std::max(bottom, r);
      }
    }
    box.columns = right - box.column + 1;
    box.rows = bottom - box.row + 1;
    return box;
  }

  // The colours the cell under scene point (x, y) shows: its background
  // unless a full block covers it, its foreground unless it is a space.
  static std::vector<int> ColoursAt(const std::vector<std::vector<Cell>>& cells, const Box& box,
                                    int x, int y) {
    const int r = box.row + y * box.rows / 480, c = box.column + x * box.columns / 640;
    if (r >= int(cells.size()) || c >= int(cells[r].size())) return {-1};
    const Cell& cell = cells[r][c];
    std::vector<int> shown;
    if (cell.text != "\u2588") shown.push_back(cell.bg);
    if (cell.text != " ") shown.push_back(cell.fg);
    return shown;
  }
  static bool IsRed(int rgb) {
    return rgb >= 0 && (rgb >> 16) > 200 && ((rgb >> 8) & 255) < 60 && (rgb & 255) < 60;
  }
  static bool AllRed(const std::vector<int>& colours) {
    return std::all_of(colours.begin(), colours.end(), IsRed);
  }
  static bool NoneRed(const std::vector<int>& colours) {
    return std::none_of(colours.begin(), colours.end(), IsRed);
  }

  // Polls the pane until `seen` holds for its cells.
  template <class Check>
  bool WaitForCells(TmuxSession& tmux, Check seen, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto cells = ParseCapture(tmux.Capture(true));
      const Box box = FindPicture(cells);
      if (box.columns > 0 && seen(cells, box)) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
  }

  // What a terminal given back looks like: the main screen with the demo's
  // text on it, no picture, the cursor shown.
  void ExpectRestored(TmuxSession& tmux, const std::string& how) {
    EXPECT_EQ(tmux.Query("#{alternate_on}"), "0") << how;
    EXPECT_EQ(tmux.Query("#{cursor_flag}"), "1") << how;
    const std::string screen = tmux.Capture(true);
    EXPECT_NE(screen.find("Press any key to continue"), std::string::npos) << how << screen;
    for (const auto& row : ParseCapture(screen)) {
      for (const Cell& cell : row) {
        ASSERT_FALSE(IsRed(cell.bg) || IsRed(cell.fg)) << how << ": the picture was left\n"
                                                       << screen;
      }
    }
  }
};

const int kBackground[][2] = {{20, 20}, {620, 460}, {150, 380}, {320, 460}, {300, 400}};
const int kTriangles[][2] = {{400, 150}, {470, 300}, {300, 130}};

TEST_F(InTmux, SymbolsShowTheRedBackgroundAndBothTrianglesWhereTheyBelong) {
  TmuxSession tmux(100, 40, Command());
  ASSERT_TRUE(tmux.started());
  ASSERT_TRUE(tmux.WaitForScreen("continue", 10s)) << tmux.Capture(false);
  tmux.SendKeys(" ", true);
  const auto first_frame = [](const auto& cells, const Box& box) {
    return AllRed(ColoursAt(cells, box, 20, 20)) && NoneRed(ColoursAt(cells, box, 400, 150));
  };
  ASSERT_TRUE(WaitForCells(tmux, first_frame, 10s)) << tmux.Capture(false);
  EXPECT_EQ(tmux.Query("#{alternate_on}"), "1");
  EXPECT_EQ(tmux.Query("#{cursor_flag}"), "0");

  auto cells = ParseCapture(tmux.Capture(true));
  Box box = FindPicture(cells);
  // The largest 4:3 area of 100 x 40 cells of 1:2 (1000 x 800) is 1000 x 750:
  // all the columns and 37 or 38 rows, centred.
  EXPECT_EQ(box.column, 0);
  EXPECT_EQ(box.columns, 100);
  EXPECT_GE(box.rows, 37);
  EXPECT_LE(box.rows, 38);
  EXPECT_GE(box.row, 1);
  for (const auto& p : kBackground)
    EXPECT_TRUE(AllRed(ColoursAt(cells, box, p[0], p[1]))) << p[0] << ", " << p[1];
  for (const auto& p : kTriangles)
    EXPECT_TRUE(NoneRed(ColoursAt(cells, box, p[0], p[1]))) << p[0] << ", " << p[1];

  // The translucent triangle moved 80 left and 120 down covers (300, 400),
  // where only the background was: half of it over red is no longer red.
  tmux.SendKeys(std::string(60, 'b') + std::string(40, 'f'), true);
  ASSERT_TRUE(WaitForFileText(trace_, "x=20, y=220", 20s));
  const auto moved = [](const auto& cells, const Box& box) {
    return NoneRed(ColoursAt(cells, box, 300, 400));
  };
  EXPECT_TRUE(WaitForCells(tmux, moved, 10s)) << tmux.Capture(false);
  cells = ParseCapture(tmux.Capture(true));
  box = FindPicture(cells);
  for (const auto& p : {std::array<int, 2>{20, 20}, {620, 20}, {150, 180}})
    EXPECT_TRUE(AllRed(ColoursAt(cells, box, p[0], p[1]))) << p[0] << ", " << p[1];
  EXPECT_TRUE(NoneRed(ColoursAt(cells, box, 400, 150))) << "the textured triangle stays";

  tmux.SendKeys("Escape");
  ASSERT_TRUE(tmux.WaitForScreen("[exit 0]", 10s));
  ExpectRestored(tmux, "after Esc");
}

// Every way out gives the terminal back: Esc, the ending signals, and the
// crashes the board can catch (AddressSanitizer takes SIGSEGV for itself).
TEST_F(InTmux, ScreenAndCursorComeBackAtExitAndAfterSignals) {
  std::vector<int> signals = {0, SIGTERM, SIGHUP, SIGILL};
#if !defined(__SANITIZE_ADDRESS__)
  signals.push_back(SIGSEGV);
#endif
  for (int sig : signals) {
    const std::string how = sig ? "after signal " + std::to_string(sig) : "after Esc";
    TmuxSession tmux(80, 30, Command());
    ASSERT_TRUE(tmux.started());
    ASSERT_TRUE(tmux.WaitForScreen("continue", 10s)) << tmux.Capture(false);
    tmux.SendKeys(" ", true);
    const auto shown = [](const auto& cells, const Box& box) {
      return AllRed(ColoursAt(cells, box, 20, 20));
    };
    ASSERT_TRUE(WaitForCells(tmux, shown, 10s)) << how << tmux.Capture(false);
    if (sig) {
      const int pid = DemoPid(tmux);
      ASSERT_GT(pid, 0);
      ASSERT_EQ(kill(pid, sig), 0);
    } else {
      tmux.SendKeys("Escape");
    }
    // Died of the signal itself: the shell says 128 and its number.
    const std::string status = "[exit " + std::to_string(sig ? 128 + sig : 0) + "]";
    ASSERT_TRUE(tmux.WaitForScreen(status, 10s)) << how << tmux.Capture(false);
    ExpectRestored(tmux, how);
  }
}

// Ctrl+Z in a shell with job control: the screen is given back while the demo
// is stopped, and taken again, with a whole frame, when it goes on.
TEST_F(InTmux, StopGivesTheScreenBackAndContinueTakesItAgain) {
  if (!HaveProgram("bash")) GTEST_SKIP() << "needs bash for job control";
  TmuxSession tmux(80, 30, "env PS1='$ ' bash --norc --noprofile -i");
  ASSERT_TRUE(tmux.started());
  ASSERT_TRUE(tmux.WaitForScreen("$", 10s));
  tmux.SendKeys(Command().substr(0, Command().find(";")), true);
  tmux.SendKeys("Enter");
  ASSERT_TRUE(tmux.WaitForScreen("continue", 10s)) << tmux.Capture(false);
  tmux.SendKeys(" ", true);
  const auto shown = [](const auto& cells, const Box& box) {
    return AllRed(ColoursAt(cells, box, 20, 20));
  };
  ASSERT_TRUE(WaitForCells(tmux, shown, 10s)) << tmux.Capture(false);
  tmux.SendKeys("C-z");
  ASSERT_TRUE(tmux.WaitForScreen("Stopped", 10s)) << tmux.Capture(false);
  ExpectRestored(tmux, "while stopped");
  tmux.SendKeys("fg", true);
  tmux.SendKeys("Enter");
  ASSERT_TRUE(WaitForCells(tmux, shown, 10s)) << tmux.Capture(false);
  EXPECT_EQ(tmux.Query("#{alternate_on}"), "1");
  EXPECT_EQ(tmux.Query("#{cursor_flag}"), "0");
  tmux.SendKeys("Escape");
  // Typed at once, the next key would make Esc into Alt+key.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (tmux.Query("#{alternate_on}") != "0" && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  tmux.SendKeys("echo ended-$((6 * 7))", true);  // run by the shell once the demo is gone
  tmux.SendKeys("Enter");
  ASSERT_TRUE(tmux.WaitForScreen("ended-42", 10s)) << tmux.Capture(false);
  ExpectRestored(tmux, "after Esc");
}

// ---- Under a pseudo-terminal: the stream itself ----

// 100 x 41 cells of 10 x 20 pixels: sixel spares the last row and draws
// whole bands of 6 rows, so the area is 1000 x 798; the frame, 1000 x 750, is
// drawn at that size, and the box is rows 1 to 38, its picture 756 pixels
// high, the frame 4 pixels down in it.
TEST_F(TerminalRun, SixelFramesMatchTheScreenshotWithinThePalettesError) {
  if (!HaveProgram("sixel2png")) GTEST_SKIP() << "sixel2png is not installed (libsixel-bin)";
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "sixel"}});
  options.size = Size(100, 41, 1000, 820);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  const size_t start = run.output().size();
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1bP", 20s, start));
  ASSERT_TRUE(run.WaitForOutput("\x1b\\", 20s, run.output().find("\x1bP", start)));
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();
  EXPECT_EQ(run.errors(), "");

  const std::vector<std::string> images = SixelImages(run.output());
  ASSERT_EQ(images.size(), 1u) << "a still scene is sent once";
  EXPECT_NE(images[0].find("\"1;1;1000;756"), std::string::npos) << images[0].substr(0, 40);
  std::ofstream(dir_ + "/frame.six", std::ios::binary) << images[0];
  ASSERT_EQ(std::system(("cd '" + dir_ + "' && sixel2png -i frame.six -o frame.png").c_str()), 0);
  Screenshot sent, shot;
  ASSERT_TRUE(sent.Load(dir_ + "/frame.png"));
  ASSERT_TRUE(shot.Load(shot_));
  ASSERT_EQ(shot.width, 1000);
  ASSERT_EQ(shot.height, 750);
  ASSERT_EQ(sent.width, 1000);
  ASSERT_EQ(sent.height, 756);
  // Sixel colours are per cent and the palette has at most 256 entries: the
  // scene's flat red, its texture and its gradients come back close, not exact.
  int largest = 0;
  double mean = 0;
  Compare(
      shot, 1000, 756, 0, 4, [&](int i, int j) { return sent.pixels[size_t(j) * 1000 + i]; },
      &largest, &mean);
  EXPECT_LT(mean, 4.0);
  EXPECT_LE(largest, 64);
  const std::string after = run.output().substr(run.output().rfind("\x1b\\"));
  EXPECT_NE(after.find("\x1b[?1049l"), std::string::npos);
  EXPECT_NE(after.find("\x1b[?25h"), std::string::npos);
}

// 100 x 40 cells of 10 x 20: kitty may use every row, so the area is
// 1000 x 800 and the box rows 1 to 38 again; kitty's pixels are exact.
TEST_F(TerminalRun, KittyImagesCarryTheFrameReplaceEachOtherAndAreDeletedAtExit) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "kitty"}});
  options.size = Size(100, 40, 1000, 800);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("_Gm=0", 20s));
  const size_t first_end = run.output().size();
  run.Type("h");
  ASSERT_TRUE(WaitForFileText(trace_, "x=102", 10s));
  ASSERT_TRUE(run.WaitForOutput("_Gm=0", 20s, first_end));
  run.Type("\x1b[24~");  // F12
  const std::string numbered = dir_ + "/screenshot-0001.png";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!std::filesystem::exists(numbered) && std::chrono::steady_clock::now() < deadline)
    run.Read(1 << 16, 20);
  EXPECT_TRUE(std::filesystem::exists(numbered)) << "F12 saves a screenshot";
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();

  const std::vector<KittyImage> images = KittyImages(run.output());
  ASSERT_EQ(images.size(), 2u) << "one image for each different frame";
  for (const KittyImage& image : images) {
    EXPECT_EQ(image.format, 32);
    EXPECT_EQ(image.width, 1000);
    EXPECT_EQ(image.height, 760);
    EXPECT_EQ(image.columns, 100);
    EXPECT_EQ(image.rows, 38);
    ASSERT_EQ(image.pixels.size(), 1000u * 760u * 4u);
  }
  Screenshot shot;
  ASSERT_TRUE(shot.Load(shot_));
  ASSERT_EQ(shot.width, 1000);
  ASSERT_EQ(shot.height, 750);
  int largest = 0;
  double mean = 0;
  const std::string& rgba = images.back().pixels;
  Compare(
      shot, 1000, 760, 0, 5,
      [&](int i, int j) {
        const size_t at = (size_t(j) * 1000 + i) * 4;
        EXPECT_EQ(uint8_t(rgba[at + 3]), 255);
        return uint32_t(uint8_t(rgba[at])) << 16 | uint32_t(uint8_t(rgba[at + 1])) << 8 |
               uint8_t(rgba[at + 2]);
      },
      &largest, &mean);
  EXPECT_EQ(largest, 0) << "mean " << mean;
  Screenshot numbered_shot;
  ASSERT_TRUE(numbered_shot.Load(numbered));
  EXPECT_EQ(numbered_shot.width, 1000);

  // The second image replaces the first: put up, then the first deleted.
  EXPECT_NE(images[0].id, images[1].id);
  const std::vector<KittyDelete> deletes = KittyDeletes(run.output());
  const auto deleted = [&](const std::string& keys, size_t after) {
    return std::any_of(deletes.begin(), deletes.end(), [&](const KittyDelete& d) {
      return d.start >= after && d.keys.find(keys) != std::string::npos;
    });
  };
  EXPECT_TRUE(deleted("d=I,q=2,i=" + std::to_string(images[0].id), images[1].end));
  // At exit every image goes, and the screen is given back.
  EXPECT_TRUE(deleted("d=A", images[1].end));
  const std::string after = run.output().substr(images[1].end);
  EXPECT_LT(after.find("d=A"), after.find("\x1b[?1049l"));
  EXPECT_NE(after.find("\x1b[?25h"), std::string::npos);
}

// A resized terminal gets the next frame at its new size, on a cleared screen.
TEST_F(TerminalRun, AResizedTerminalGetsFramesOfItsNewSize) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "kitty"}});
  options.size = Size(100, 40, 1000, 800);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("_Gm=0", 20s));
  const size_t before = run.output().size();
  run.Resize(Size(80, 24, 640, 480));
  ASSERT_TRUE(run.WaitForOutput("_Gm=0", 20s, before));
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();
  const std::vector<KittyImage> images = KittyImages(run.output());
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[1].width, 640);
  EXPECT_EQ(images[1].height, 480);
  EXPECT_EQ(images[1].columns, 80);
  EXPECT_EQ(images[1].rows, 24);
  const std::string between = run.output().substr(images[0].end, images[1].start - images[0].end);
  EXPECT_NE(between.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(between.find("d=A"), std::string::npos) << "the old image goes";
  EXPECT_EQ(between.find("\x1b[1;1H"), between.size() - 6) << "the new one at the top left";
  Screenshot shot;
  ASSERT_TRUE(shot.Load(shot_));
  EXPECT_EQ(shot.width, 640) << "drawn at the new size";
}

// Types h and f in turn every 25 ms for `span`, reading at most `most` bytes
// each time, and returns the swaps a second the trace recorded meanwhile.
// Every frame differs from the one before, and after an even number of keys
// the scene is as it was.
double TerminalRun::TypeAndCountSwaps(DemoRun& run, std::chrono::milliseconds span, size_t most,
                                      int* keys) {
  const int before = Swaps();
  const auto start = std::chrono::steady_clock::now(), end = start + span;
  while (std::chrono::steady_clock::now() < end) {
    run.Type((*keys)++ % 2 ? "f" : "h");
    run.Read(most, 0);
    std::this_thread::sleep_for(25ms);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return (Swaps() - before) / seconds;
}

// A reader that takes 320 KB a second, when a kitty frame of 640 x 480 is
// 1.6 MB: frames are dropped, never swaps, and once the keys stop the last
// frame still comes whole.
TEST_F(TerminalRun, ASlowReaderNeverSlowsTheSwaps) {
  // A swap that waited on this reader would send a frame in about five
  // seconds; one that never waits keeps near the 60 Hz pace. The bar sits far
  // below that pace so that a loaded machine or a sanitized build passes.
  const double required = 10;
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "kitty"}});
  options.size = Size(80, 24, 640, 480);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("_Gm=0", 20s)) << "the first frame, read at full speed";
  // An image's chunks, its pixels, without its first command (whose id
  // alternates): compared as sent, as decoding each would take long.
  const auto chunks = [&](size_t start) {
    const size_t from = run.output().find("\x1b\\", start) + 2;
    return run.output().substr(from, run.output().find("_Gm=0", from) - from);
  };
  const std::string first = chunks(run.output().find("\x1b_Ga=T"));

  const auto images = [&] {
    size_t n = 0;
    for (size_t at = 0; (at = run.output().find("\x1b_Ga=T", at)) != std::string::npos; at++) n++;
    return n;
  };
  int keys = 0;
  TypeAndCountSwaps(run, 500ms, 8192, &keys);  // the writer is behind by now
  const size_t images_before = images();
  const double rate = TypeAndCountSwaps(run, 2500ms, 8192, &keys);
  if (keys % 2) run.Type("f");
  EXPECT_GE(rate, required) << "swaps a second";
  EXPECT_LE(images() - images_before, 3u) << "frames were dropped";

  // Read at full speed: the last frame, the first one again, arrives whole.
  // Only what came since the last look is searched.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  bool last_is_first = false;
  size_t scanned = 0, image = std::string::npos, checked = std::string::npos;
  while (!last_is_first && std::chrono::steady_clock::now() < deadline) {
    run.Read(1 << 16, 20);
    const std::string& out = run.output();
    const size_t from = scanned > 8 ? scanned - 8 : 0;
    scanned = out.size();
    for (size_t at = out.find("\x1b_Ga=T", from); at != std::string::npos;
         at = out.find("\x1b_Ga=T", at + 1))
      image = at;
    if (image == std::string::npos || image == checked) continue;
    if (out.find("_Gm=0", std::max(image, from)) == std::string::npos) continue;
    checked = image;
    last_is_first = chunks(image) == first;
  }
  EXPECT_TRUE(last_is_first);
  run.Type("\x1b");
  EXPECT_EQ(run.Wait(20s), 0) << run.errors();
}

// Standard output keeps the demo's text only; the frames go to the terminal.
TEST_F(TerminalRun, StandardOutputKeepsOnlyTheDemosText) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "symbols"}});
  options.size = Size(80, 24, 0, 0);
  options.stdout_path = dir_ + "/stdout.txt";
  DemoRun run(options);
  ASSERT_TRUE(WaitForFileText(options.stdout_path, "continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b[?1049h", 10s));
  ASSERT_TRUE(run.WaitForOutput("\x1b[38;2;", 10s)) << "a frame in colour cells";
  run.Type("\x1b");
  EXPECT_EQ(run.Wait(10s), 0);
  std::string text = kInstructions;
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  EXPECT_EQ(ReadFile(options.stdout_path), text);
}

// With SOFTBOARD_TERMINAL=auto the terminal is asked; each answer picks its
// protocol, keys typed along with the answers still reach the demo, and a
// terminal that never answers gets symbols after a short wait.
struct Answer {
  const char* name;
  std::string answer;
  std::string expect;  // in the stream after the answer
};

void PrintTo(const Answer& answer, std::ostream* out) {
  *out << answer.name;
}

class AutoMode : public TerminalRun, public ::testing::WithParamInterface<Answer> {};

TEST_P(AutoMode, TakesWhatTheTerminalAnswers) {
  RunOptions options = Terminal({});
  options.size = Size(80, 30, 0, 0);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b[c", 10s)) << "the device attributes are asked";
  EXPECT_NE(run.output().find("\x1b_Gi=31,"), std::string::npos) << "so is kitty's protocol";
  const size_t asked = run.output().size();
  run.Type(GetParam().answer + "hh");
  ASSERT_TRUE(run.WaitForOutput(GetParam().expect, 10s, asked));
  ASSERT_TRUE(WaitForFileText(trace_, "x=104", 10s)) << "the keys typed with the answer";
  run.Type("\x1b");
  EXPECT_EQ(run.Wait(10s), 0);
  const std::string after = run.output().substr(asked);
  if (GetParam().name != std::string("sixel")) {
    EXPECT_EQ(after.find("\x1bP"), std::string::npos);
  }
  if (GetParam().name != std::string("kitty")) {
    EXPECT_EQ(after.find("\x1b_Ga=T"), std::string::npos);
  }
}

// Cells of 10 x 20 (the answer to CSI 16 t) on 80 x 30: sixel's area is
// 800 x 576, the frame 768 x 576, its box 78 columns from column 1.
INSTANTIATE_TEST_SUITE_P(
    Answers, AutoMode,
    ::testing::Values(Answer{"sixel", "\x1b[6;20;10t\x1b[?62;4;22c", "\"1;1;780;576"},
                      Answer{"kitty", "\x1b_Gi=31;OK\x1b\\\x1b[?62;22c", "\x1b_Ga=T"},
                      Answer{"none", "\x1b[?62;22c", "\x1b[38;2;"},
                      Answer{"silence", "", "\x1b[38;2;"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalRun, BadTerminalSettingIsNamedAndAutoUsed) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "pixels"}});
  options.size = Size(80, 24, 0, 0);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b[c", 10s)) << "auto asks the terminal";
  ASSERT_TRUE(run.WaitForOutput("\x1b[38;2;", 10s)) << "and, with no answer, draws symbols";
  run.Type("\x1b");
  EXPECT_EQ(run.Wait(10s), 0);
  EXPECT_EQ(run.errors(),
            "softboard: SOFTBOARD_TERMINAL=\"pixels\" is not a valid value; it takes auto, kitty, "
            "iterm, sixel or symbols (using auto)\n");
}

}  // namespace
}  // namespace e2e
