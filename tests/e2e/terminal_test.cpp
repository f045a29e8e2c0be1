// The terminal display end to end: the demo in tmux, a real terminal whose
// cells are read back, and under a pseudo-terminal whose stream is taken
// apart (sixel, kitty) and read slowly.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "demo_run.h"
#include "demo_texts.h"
#include "png_file.h"
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

  // Reads the stream until `done` holds for it, looking every 100 ms, or
  // until the time runs out.
  template <class Done>
  static bool ReadUntil(DemoRun& run, Done done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto look = std::chrono::steady_clock::now() + 100ms;
      while (std::chrono::steady_clock::now() < look) run.Read(1 << 16, 10);
      if (done(run.output())) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
  }

  // Where the last frame swapped drew the translucent triangle: the last
  // triangle before the last swap. (The opaque one, drawn first, starts at
  // x=100, y=100 too: a trace read mid-frame must not be taken for it.)
  std::string LastPosition() {
    std::string trace = ReadFile(trace_);
    const size_t swap = trace.rfind("grBufferSwap(");
    trace.resize(swap == std::string::npos ? 0 : swap);
    const size_t at = trace.rfind("0={x=");
    return at == std::string::npos
               ? ""
               : trace.substr(at + 3, trace.find(',', trace.find(',', at) + 1) - at - 3);
  }

  // F12, and the screenshot it saves of the frame at that moment.
  Screenshot Snapshot(DemoRun& run, int number) {
    run.Type("\x1b[24~");
    const std::string path = dir_ + "/screenshot-000" + std::to_string(number) + ".png";
    ReadUntil(
        run, [&](const std::string&) { return std::filesystem::exists(path); }, 10s);
    Screenshot shot;
    EXPECT_TRUE(shot.Load(path)) << path;
    return shot;
  }

  // What a box of width x height pixels should show: the screenshot at (x, y),
  // black around it (0xRRGGBB).
  static std::vector<uint32_t> Expected(const Screenshot& shot, int width, int height, int x,
                                        int y) {
    std::vector<uint32_t> picture(size_t(width) * size_t(height), 0);
    for (int j = 0; j < shot.height && y + j < height; j++)
      for (int i = 0; i < shot.width && x + i < width; i++)
        picture[size_t(y + j) * size_t(width) + size_t(x + i)] =
            shot.pixels[size_t(j) * shot.width + i] & 0xFFFFFF;
    return picture;
  }

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

// Not shown yet, in a picture put together from the images sent.
constexpr uint32_t kUnknown = 0xFF000000u;

// The box kitty shows at the end: the last whole image put at each band's
// row, stacked (0xRRGGBB); rows with none, or only a coarser one, kUnknown.
std::vector<uint32_t> ShownByKitty(const std::vector<KittyImage>& images, int box_row,
                                   int cell_height, int width, int height) {
  std::vector<uint32_t> picture(size_t(width) * size_t(height), kUnknown);
  for (const KittyImage& image : images) {
    const int y0 = (image.row - box_row) * cell_height;
    const bool whole = image.decoded && image.width == width && image.format == 24;
    for (int j = 0; j < image.rows * cell_height && y0 + j < height; j++) {
      for (int i = 0; i < width; i++) {
        uint32_t value = kUnknown;
        if (whole && j < image.height) {
          const auto* p = reinterpret_cast<const uint8_t*>(image.pixels.data()) +
                          (size_t(j) * size_t(width) + size_t(i)) * 3;
          value = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
        picture[size_t(y0 + j) * size_t(width) + size_t(i)] = value;
      }
    }
  }
  return picture;
}

// The same for iTerm2's images, whose PNGs are read back.
std::vector<uint32_t> ShownByIterm(const std::vector<ItermImage>& images, const std::string& dir,
                                   int box_row, int cell_height, int width, int height) {
  std::vector<uint32_t> picture(size_t(width) * size_t(height), kUnknown);
  for (const ItermImage& image : images) {
    const std::string path = dir + "/band.png";
    std::ofstream(path, std::ios::binary) << image.file;
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    std::string error;
    const bool whole = int(image.file.size()) == image.size &&
                       texfile::ReadPng(path, &pixels, &w, &h, &error) && w == width &&
                       h == image.height * cell_height;
    const int y0 = (image.row - box_row) * cell_height;
    for (int j = 0; j < image.height * cell_height && y0 + j < height; j++)
      for (int i = 0; i < width; i++)
        picture[size_t(y0 + j) * size_t(width) + size_t(i)] =
            whole ? pixels[size_t(j) * size_t(w) + size_t(i)] & 0xFFFFFF : kUnknown;
  }
  return picture;
}

// The largest difference of a channel between two pictures, and where.
std::string Differences(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want,
                        int width) {
  if (got.size() != want.size()) return "sizes differ";
  for (size_t i = 0; i < got.size(); i++) {
    if (got[i] != want[i]) {
      char text[96];
      std::snprintf(text, sizeof text, "first at (%d, %d): %08x, not %06x", int(i % size_t(width)),
                    int(i / size_t(width)), got[i], want[i]);
      return text;
    }
  }
  return "";
}

// 100 x 41 cells of 10 x 20 pixels: sixel spares the last row and draws
// whole bands of 6 rows, so the area is 1000 x 798; the frame, 1000 x 750, is
// drawn at that size, and the box is rows 1 to 38, its picture 756 pixels
// high, the frame 4 pixels down in it. It is sent in bands of 6 rows (120
// pixels), first in a fixed palette, then, still, in each band's own.
TEST_F(TerminalRun, SixelFramesMatchTheScreenshotWithinThePalettesError) {
  if (!HaveProgram("sixel2png")) GTEST_SKIP() << "sixel2png is not installed (libsixel-bin)";
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "sixel"}});
  options.size = Size(100, 41, 1000, 820);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  const size_t kBands = 7;  // 6 of 6 rows and one of 2
  ASSERT_TRUE(ReadUntil(
      run, [&](const std::string& out) { return SixelImages(out).size() >= 2 * kBands; }, 20s));
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();
  EXPECT_EQ(run.errors(), "");

  const std::vector<SixelImage> images = SixelImages(run.output());
  ASSERT_EQ(images.size(), 2 * kBands) << "a still scene is sent once, then once at full quality";
  Screenshot shot;
  ASSERT_TRUE(shot.Load(shot_));
  ASSERT_EQ(shot.width, 1000);
  ASSERT_EQ(shot.height, 750);
  std::vector<uint32_t> shown(1000 * 756, kUnknown);
  for (size_t b = 0; b < images.size(); b++) {
    const SixelImage& image = images[b];
    const int y0 = (image.row - 1) * 20;
    const int height = b % kBands == kBands - 1 ? 36 : 120;
    EXPECT_EQ(image.row, 1 + int(b % kBands) * 6) << b;
    EXPECT_EQ(image.column, 0) << b;
    EXPECT_NE(image.data.find("\"1;1;1000;" + std::to_string(height)), std::string::npos)
        << image.data.substr(0, 40);
    if (b < kBands) continue;  // the full-quality bands are the ones decoded
    std::ofstream(dir_ + "/frame.six", std::ios::binary) << image.data;
    ASSERT_EQ(std::system(("cd '" + dir_ + "' && sixel2png -i frame.six -o frame.png").c_str()), 0);
    Screenshot band;
    ASSERT_TRUE(band.Load(dir_ + "/frame.png"));
    ASSERT_EQ(band.width, 1000);
    ASSERT_EQ(band.height, height);
    for (int j = 0; j < height; j++)
      for (int i = 0; i < 1000; i++)
        shown[size_t(y0 + j) * 1000 + size_t(i)] = band.pixels[size_t(j) * 1000 + size_t(i)];
  }
  // Sixel colours are per cent and each band's palette has at most 256
  // entries: the scene's flat red, its texture and its gradients come back
  // close, not exact.
  int largest = 0;
  double mean = 0;
  Compare(
      shot, 1000, 756, 0, 4, [&](int i, int j) { return shown[size_t(j) * 1000 + i]; }, &largest,
      &mean);
  EXPECT_LT(mean, 4.0);
  EXPECT_LE(largest, 64);
  const std::string after = run.output().substr(run.output().rfind("\x1b\\"));
  EXPECT_NE(after.find("\x1b[?1049l"), std::string::npos);
  EXPECT_NE(after.find("\x1b[?25h"), std::string::npos);
}

// 100 x 40 cells of 10 x 20: kitty may use every row, so the area is
// 1000 x 800 and the box rows 1 to 38, in bands of 4 rows; kitty's pixels
// are exact, and what it shows settles on the frame itself.
TEST_F(TerminalRun, KittyImagesAreTheFrameInBandsReplacedAndDeletedAtExit) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "kitty"}});
  options.size = Size(100, 40, 1000, 800);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b_Ga=T", 20s));
  const Screenshot first = Snapshot(run, 1);
  const std::vector<uint32_t> want_first = Expected(first, 1000, 760, 0, 5);
  ASSERT_TRUE(ReadUntil(
      run,
      [&](const std::string& out) {
        return ShownByKitty(KittyImages(out), 1, 20, 1000, 760) == want_first;
      },
      20s))
      << Differences(ShownByKitty(KittyImages(run.output()), 1, 20, 1000, 760), want_first, 1000);
  const size_t first_end = run.output().size();
  run.Type("h");
  ASSERT_TRUE(WaitForFileText(trace_, "x=102", 10s));
  const Screenshot moved = Snapshot(run, 2);
  const std::vector<uint32_t> want_moved = Expected(moved, 1000, 760, 0, 5);
  ASSERT_TRUE(ReadUntil(
      run,
      [&](const std::string& out) {
        return ShownByKitty(KittyImages(out), 1, 20, 1000, 760) == want_moved;
      },
      20s))
      << Differences(ShownByKitty(KittyImages(run.output()), 1, 20, 1000, 760), want_moved, 1000);
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();

  const std::vector<KittyImage> images = KittyImages(run.output());
  ASSERT_GE(images.size(), 10u);
  for (size_t b = 0; b < 10; b++) {
    const KittyImage& image = images[b];
    EXPECT_EQ(image.row, 1 + int(b) * 4) << b;
    EXPECT_EQ(image.column, 0) << b;
    EXPECT_EQ(image.format, 24) << b;
    EXPECT_TRUE(image.compressed) << b;
    EXPECT_TRUE(image.decoded) << b;
    EXPECT_EQ(image.columns, 100) << b;
    EXPECT_EQ(image.rows, b == 9 ? 2 : 4) << b;
  }
  // Only the bands the move changed were sent again: not the top one, which
  // neither triangle reaches.
  size_t again = 0;
  for (const KittyImage& image : images) {
    if (image.start < first_end) continue;
    again++;
    EXPECT_NE(image.row, 1) << "the top band is as it was";
  }
  EXPECT_GT(again, 0u);

  // Each band's new image goes up before its old one is deleted.
  const std::vector<KittyDelete> deletes = KittyDeletes(run.output());
  for (size_t i = 0; i < images.size(); i++) {
    for (size_t k = i + 1; k < images.size(); k++) {
      if (images[k].row != images[i].row) continue;
      EXPECT_NE(images[k].id, images[i].id);
      const std::string keys = "d=I,q=2,i=" + std::to_string(images[i].id);
      EXPECT_TRUE(std::any_of(deletes.begin(), deletes.end(),
                              [&](const KittyDelete& d) {
                                return d.start >= images[k].end && d.keys == "a=d," + keys;
                              }))
          << "band at row " << images[i].row;
      break;
    }
  }
  // At exit every image goes, and the screen is given back.
  const std::string after = run.output().substr(images.back().end);
  ASSERT_NE(after.find("d=A"), std::string::npos);
  EXPECT_LT(after.find("d=A"), after.find("\x1b[?1049l"));
  EXPECT_NE(after.find("\x1b[?25h"), std::string::npos);
}

// iTerm2's images, PNGs read back: the frame exactly, in bands of 4 rows of
// the 39 above the spared last one.
TEST_F(TerminalRun, ItermImagesArePngsOfTheFrame) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "iterm"}});
  options.size = Size(100, 40, 1000, 800);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" hhhbb");
  ASSERT_TRUE(WaitForFileText(trace_, "x=106, y=104", 10s));
  const Screenshot shot = Snapshot(run, 1);
  // 1000 x 780 pixels: the frame, 1000 x 750, 15 down.
  const std::vector<uint32_t> want = Expected(shot, 1000, 780, 0, 15);
  ASSERT_TRUE(ReadUntil(
      run,
      [&](const std::string& out) {
        return ShownByIterm(ItermImages(out), dir_, 0, 20, 1000, 780) == want;
      },
      20s))
      << Differences(ShownByIterm(ItermImages(run.output()), dir_, 0, 20, 1000, 780), want, 1000);
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();
  const std::vector<ItermImage> images = ItermImages(run.output());
  ASSERT_GE(images.size(), 10u);
  for (size_t b = 0; b < 10; b++) {
    EXPECT_EQ(images[b].row, int(b) * 4);
    EXPECT_EQ(images[b].width, 100);
    EXPECT_EQ(images[b].height, b == 9 ? 3 : 4);
    EXPECT_EQ(images[b].file.rfind("\x89PNG", 0), 0u);
  }
  EXPECT_NE(run.output().find("\x1b[?1049l", images.back().start), std::string::npos);
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
  ASSERT_TRUE(ReadUntil(
      run,
      [&](const std::string& out) {
        const auto images = KittyImages(out);
        return !images.empty() && images.back().start > before && images.back().columns == 80;
      },
      20s));
  run.Type("\x1b");
  ASSERT_EQ(run.Wait(20s), 0) << run.errors();
  const std::vector<KittyImage> images = KittyImages(run.output());
  const auto resized = std::find_if(images.begin(), images.end(),
                                    [&](const KittyImage& image) { return image.columns == 80; });
  ASSERT_NE(resized, images.end());
  EXPECT_EQ(resized->row, 0) << "the new frame from the top left";
  EXPECT_EQ(resized->rows, 2);
  const std::string between =
      run.output().substr((resized - 1)->end, resized->start - (resized - 1)->end);
  EXPECT_NE(between.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(between.find("d=A"), std::string::npos) << "the old images go";
  Screenshot shot;
  ASSERT_TRUE(shot.Load(shot_));
  EXPECT_EQ(shot.width, 640) << "drawn at the new size";
}

// A reader that stops reading holds nothing up: the swaps that show the keys
// typed meanwhile are made while nothing is read. Once it reads again, the
// last frame still comes whole, and fewer frames were sent than swaps made.
TEST_F(TerminalRun, AStalledReaderNeverHoldsUpTheSwaps) {
  RunOptions options = Terminal({{"SOFTBOARD_TERMINAL", "kitty"}});
  options.size = Size(80, 24, 640, 480);
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b_Ga=T", 20s));
  const Screenshot start = Snapshot(run, 1);
  const std::vector<uint32_t> want = Expected(start, 640, 480, 0, 0);
  ASSERT_TRUE(ReadUntil(
      run,
      [&](const std::string& out) {
        return ShownByKitty(KittyImages(out), 0, 20, 640, 480) == want;
      },
      20s));
  const size_t images_before = KittyImages(run.output()).size();
  const int swaps_before = Swaps();

  // Nothing is read from here on: the writer soon fills the terminal's
  // buffer and is held. Each key moves the triangle; the swaps that show
  // them must be made all the same.
  for (int i = 0; i < 20; i++) run.Type("h");
  ASSERT_TRUE(WaitForFileText(trace_, "x=140", 20s)) << "the swaps waited on the reader";
  for (int i = 0; i < 20; i++) run.Type("f");
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (LastPosition() != "x=100, y=100" && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  ASSERT_EQ(LastPosition(), "x=100, y=100") << "the swaps waited on the reader";
  const int swaps = Swaps() - swaps_before;
  EXPECT_GE(swaps, 40);

  // Read at full speed: what is shown settles on the first frame again.
  ASSERT_TRUE(ReadUntil(
      run,
      [&](const std::string& out) {
        return ShownByKitty(KittyImages(out), 0, 20, 640, 480) == want;
      },
      30s));
  // A frame is 12 bands at most: far fewer were sent than swaps made.
  const size_t images = KittyImages(run.output()).size() - images_before;
  EXPECT_LT(images / 12, size_t(swaps) / 4) << images << " images for " << swaps << " swaps";
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
// terminal that never answers gets symbols after a short wait. The answers
// are typed before the demo asks (its keys come from a pipe), so they are
// there however long the test takes to see the questions.
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
  options.stdin_pipe = true;
  DemoRun run(options);
  ASSERT_TRUE(run.WaitForOutput("continue", 10s));
  run.Type(GetParam().answer + "hh");
  run.TypeStdin(" ");
  ASSERT_TRUE(run.WaitForOutput("\x1b[c", 10s)) << "the device attributes are asked";
  const size_t asked = run.output().find("\x1b[c");
  EXPECT_NE(run.output().find("\x1b_Gi=31,"), std::string::npos) << "so is kitty's protocol";
  ASSERT_TRUE(run.WaitForOutput(GetParam().expect, 10s, asked));
  ASSERT_TRUE(WaitForFileText(trace_, "x=104", 10s)) << "the keys typed with the answer";
  run.TypeStdin("\x1b");
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
    ::testing::Values(Answer{"sixel", "\x1b[6;20;10t\x1b[?62;4;22c", "\x1b[1;2H\x1bP"},
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
