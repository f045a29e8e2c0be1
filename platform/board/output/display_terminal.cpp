#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "conio.h"
#include "console_keys.h"
#include "key_codes.h"
#include "output/display.h"
#include "output/terminal_encoder.h"
#include "output/terminal_layout.h"
#include "output/terminal_query.h"
#include "output/terminal_screen.h"
#include "output/terminal_writer.h"
#include "terminal.h"

extern char** environ;

namespace softboard {
namespace {

// How long the terminal may take to answer: asked once, at open; a terminal
// that says nothing in this time is taken to offer symbols only.
constexpr std::chrono::milliseconds kAnswerWait{300};
// How long a stalled terminal may hold up taking the screen or giving it back.
constexpr int kScreenWriteMs = 500;

int DuplicateFd(int fd) {
  return fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

// Frames on the terminal the program runs in, through chafa: kitty's or
// iTerm2's images, sixels, or character cells. The terminal is /dev/tty, never
// standard output; keys still come through the console.
class TerminalDisplay final : public Display {
 public:
  ~TerminalDisplay() override {
    writer_.reset();
    // chafa's threads, idle in GLib's pool, go with the display.
    g_thread_pool_stop_unused_threads();
    ConsoleWatchKeys(nullptr, nullptr);
    UnguardTerminalScreen(guard_);
    if (entered_) TerminalWriteAll(tty_, leave_.data(), leave_.size(), kScreenWriteMs);
    TerminalGiveKeysBack(keys_);
    for (int fd : {screen_.writer_fd, screen_.writer_saved, screen_.null_fd, tty_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Open(const DisplaySettings& settings, std::string* error) {
    tty_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (tty_ < 0) {
      *error = std::string("no terminal to show frames on: /dev/tty: ") + std::strerror(errno);
      return false;
    }
    // Keys at once and no echo on the terminal itself, even where standard
    // input is not it; put back when the display closes.
    keys_ = TerminalTakeKeys(tty_);
    const TerminalEnvironment environment = ReadTerminalEnvironment(environ);
    grid_ = ReadGrid();
    const bool ask_graphics = ShouldAskForGraphics(settings.terminal, environment);
    const bool ask_size = grid_.cell_width == 0 && settings.terminal != TerminalMode::kSymbols &&
                          !environment.text_only;
    TerminalAnswers answers;
    if (ask_graphics || ask_size) answers = Ask(ask_graphics);
    mode_ = ChooseTerminalMode(settings.terminal, environment, ask_graphics ? &answers : nullptr);
    if (answers.cell_width > 0 && answers.cell_height > 0) {
      asked_cell_width_ = answers.cell_width;
      asked_cell_height_ = answers.cell_height;
    } else if (answers.area_width > 0 && answers.area_height > 0) {
      asked_cell_width_ = answers.area_width / grid_.columns;
      asked_cell_height_ = answers.area_height / grid_.rows;
    }
    grid_ = ReadGrid();

    enter_ = EnterScreenBytes();
    leave_ = LeaveScreenBytes(mode_);
    screen_.fd = tty_;
    screen_.leave = leave_.data();
    screen_.leave_size = leave_.size();
    screen_.enter = enter_.data();
    screen_.enter_size = enter_.size();
    screen_.writer_fd = DuplicateFd(tty_);
    screen_.writer_saved = DuplicateFd(tty_);
    screen_.null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (screen_.writer_fd < 0 || screen_.writer_saved < 0 || screen_.null_fd < 0) {
      *error = std::string("cannot set up the terminal: ") + std::strerror(errno);
      return false;
    }
    guard_ = GuardTerminalScreen(&screen_);
    entered_ = true;
    if (!TerminalWriteAll(tty_, enter_.data(), enter_.size(), kScreenWriteMs)) {
      *error = std::string("cannot write to the terminal: ") + std::strerror(errno);
      return false;
    }
    entries_seen_ = screen_.entries.load();
    // F12 saves a screenshot here, as in a window.
    ConsoleWatchKeys(WatchForF12, this);
    colors_ = environment.colors;
    fps_ = settings.terminal_fps;
    writer_ = std::make_unique<FrameWriter>(screen_, std::make_unique<FrameEncoder>(mode_, colors_),
                                            fps_);
    return true;
  }

  void Show(const PixelRows& frame, const FrameDamage& damage, int) override {
    if (!damage.None()) unsent_ = true;
    if (!writer_ || !unsent_ || writer_->Gone()) return;
    if (writer_->OutOfMemory()) return FallBack();
    // A frame the terminal is not ready for is dropped; the latest is sent
    // at a later swap, when the writer is free.
    if (!writer_->Ready()) return writer_->Want();
    if (!clear_ && writer_->SameAsLast(frame)) {
      unsent_ = false;
      return;
    }
    if (writer_->Submit(frame, grid_, clear_)) unsent_ = clear_ = false;
  }

  bool WaitsForRetrace() const override { return false; }

  DisplayEvents PumpEvents() override {
    DisplayEvents events;
    const bool key = _kbhit();  // reads the terminal: F12 is seen, not queued
    if (f12_.exchange(false)) events.screenshot_requested = true;
    EscWhenInputEnded(key);
    const TerminalGrid grid = ReadGrid();
    if (!(grid == grid_)) {
      grid_ = grid;
      clear_ = unsent_ = events.resized = true;
    }
    // Back from a stop: the screen was cleared, and a frame may have been cut.
    const unsigned entries = screen_.entries.load();
    if (entries != entries_seen_) {
      entries_seen_ = entries;
      clear_ = unsent_ = true;
    }
    return events;
  }

  // In pixels, for a pixel protocol on a terminal that tells its cell size:
  // frames are drawn at the size they are shown. Symbols take the scene's
  // own size: cells hold far fewer pixels than that.
  // (Within the picture ceiling, whatever the terminal claims.)
  bool DrawableSize(int* width, int* height) const override {
    return ShowsPixels(mode_) && GridPixelArea(grid_, LayoutRulesFor(mode_), width, height);
  }

 private:
  static bool WatchForF12(int prefix, int scan, void* self) {
    if (prefix != keys::kF12.prefix || scan != keys::kF12.scan) return false;
    static_cast<TerminalDisplay*>(self)->f12_ = true;
    return true;
  }

  // The grid now, with the cell size from the terminal's own report, or its
  // answer at open; sizes no terminal could have are not believed.
  TerminalGrid ReadGrid() const {
    TerminalGrid grid;
    winsize size{};
    if (ioctl(tty_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
      grid.columns = size.ws_col;
      grid.rows = size.ws_row;
      if (size.ws_xpixel >= size.ws_col && size.ws_ypixel >= size.ws_row) {
        grid.cell_width = size.ws_xpixel / size.ws_col;
        grid.cell_height = size.ws_ypixel / size.ws_row;
        const TerminalGrid sane = SaneGrid(grid);
        if (sane.cell_width > 0) return sane;
      }
    }
    grid.cell_width = asked_cell_width_;
    grid.cell_height = asked_cell_height_;
    return SaneGrid(grid);
  }

  // Memory for pictures ran out: symbols, which need little, and if even
  // those cannot be had, no picture; the game goes on either way.
  void FallBack() {
    writer_.reset();
    if (mode_ == TerminalMode::kSymbols) {
      std::fprintf(stderr, "softboard: no memory for the terminal's pictures; showing none\n");
      return;
    }
    std::fprintf(stderr, "softboard: no memory for the terminal's pictures; showing symbols\n");
    mode_ = TerminalMode::kSymbols;
    try {
      writer_ = std::make_unique<FrameWriter>(screen_,
                                              std::make_unique<FrameEncoder>(mode_, colors_), fps_);
    } catch (const std::exception&) {
      std::fprintf(stderr, "softboard: no memory for the terminal's pictures; showing none\n");
      return;
    }
    clear_ = unsent_ = true;
  }

  // Asks, and reads the answers until the last has come or the time is up.
  // Keys typed meanwhile go on to the console.
  TerminalAnswers Ask(bool graphics) {
    const std::string questions = TerminalQuestions(graphics);
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    std::string bytes;
    if (TerminalWriteAll(tty_, questions.data(), questions.size(), int(kAnswerWait.count()))) {
      for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd in{tty_, POLLIN, 0};
        if (poll(&in, 1, int(left.count())) <= 0) continue;
        char buffer[512];
        const ssize_t n = read(tty_, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
        if (n > 0) bytes.append(buffer, size_t(n));
        if (ReadTerminalAnswers(bytes).complete) break;
      }
    }
    TerminalAnswers answers = ReadTerminalAnswers(bytes);
    if (!answers.keys.empty()) ConsoleFeedInput(answers.keys);
    return answers;
  }

  int tty_ = -1;
  TerminalMode mode_ = TerminalMode::kSymbols;
  TerminalGrid grid_;
  int asked_cell_width_ = 0, asked_cell_height_ = 0;
  std::string enter_, leave_;
  TerminalScreen screen_;
  int keys_ = -1;   // the terminal's keys held (see terminal.h)
  int guard_ = -1;  // the screen registered with the signal registry
  bool entered_ = false;
  std::atomic<bool> f12_ = false;  // F12 came since the last PumpEvents (set by the console)
  unsigned entries_seen_ = 0;
  CellColors colors_ = CellColors::k256;
  int fps_ = 30;
  std::unique_ptr<FrameWriter> writer_;  // none once even symbols had no memory
  bool unsent_ = true;                   // the frame last shown has not gone to the terminal
  bool clear_ = true;                    // the next frame clears the screen first
};

}  // namespace

std::unique_ptr<Display> OpenTerminalDisplay(const DisplaySettings& settings, std::string* error) {
  auto display = std::make_unique<TerminalDisplay>();
  if (!display->Open(settings, error)) return nullptr;
  return display;
}

}  // namespace softboard
