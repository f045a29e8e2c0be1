// The library as a guest in someone else's process (guest_host.c, a C
// program that links it), under a pseudo-terminal: loading it changes
// nothing, the terminal reads a line as usual before the library is called,
// after grLibInit and after grLibShutdown, and the host's own SIGINT and
// SIGTERM handlers still run, after the board has put the terminal back.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "demo_run.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

winsize Size() {
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 24;
  return size;
}

class Guest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The host doing `steps`, its display `display`.
  std::unique_ptr<DemoRun> Start(const std::vector<std::string>& steps,
                                 const std::string& display = "headless",
                                 const char* program = GUEST_HOST) {
    RunOptions options{dir_,
                       {{"SOFTBOARD_DISPLAY", display},
                        {"SOFTBOARD_TERMINAL", "symbols"},
                        {"SOFTBOARD_VSYNC", "0"},
                        {"TERM", "xterm-256color"},
                        // The sanitizers' own handlers are not the library's.
                        {"ASAN_OPTIONS", "handle_segv=0:handle_sigbus=0:handle_sigfpe=0"}},
                       {"SOFTBOARD_TRACE", "SOFTBOARD_SCREENSHOT", "DISPLAY", "WAYLAND_DISPLAY"},
                       Size()};
    options.program = program;
    options.arguments = steps;
    return std::make_unique<DemoRun>(options);
  }

  // Types a line at the host's prompt, as a user would at any program's.
  static void ExpectALineRead(DemoRun& run) {
    ASSERT_TRUE(run.WaitForOutput("type: ", 10s)) << run.output() << run.errors();
    EXPECT_TRUE(SameTerminalSettings(run.settings_before(), run.SettingsNow()))
        << "the terminal is not as its user left it";
    const size_t from = run.output().size();
    run.TypeNow("hello\r");
    EXPECT_TRUE(run.WaitForOutput("hello\r\n", 5s, from)) << "no echo, or Enter did not end it";
    EXPECT_TRUE(run.WaitForOutput("got [hello]", 5s, from)) << run.output().substr(from);
  }

  // What the same program reports without the library (linked to the
  // libraries it links): the handlers and threads the process has anyway,
  // a preloaded library's say.
  std::string NothingTaken() {
    auto control = Start({"report"}, "headless", GUEST_CONTROL);
    EXPECT_EQ(control->Wait(10s), 0);
    return control->errors();
  }

  static bool WaitFor(DemoRun& run, const std::string& text) {
    return run.WaitForErrors(text, 10s);
  }

  std::string dir_;
};

TEST_F(Guest, ALineIsReadAsUsualWhenTheLibraryIsOnlyLinked) {
  auto run = Start({"report", "line"});
  ExpectALineRead(*run);
  EXPECT_EQ(run->Wait(10s), 0);
  EXPECT_EQ(run->errors(), NothingTaken()) << "loading the library took something";
}

TEST_F(Guest, ALineIsReadAsUsualAfterGrLibInit) {
  auto run = Start({"init", "report", "line", "shutdown", "report"});
  ExpectALineRead(*run);
  EXPECT_EQ(run->Wait(10s), 0);
  EXPECT_EQ(run->errors(), NothingTaken() + NothingTaken());
}

// After a display was open and keys were read through the console, and the
// library shut down: the terminal is the user's again, and every handler
// the board installed is gone.
class GuestAfterShutdown : public Guest, public testing::WithParamInterface<const char*> {};

TEST_P(GuestAfterShutdown, ALineIsReadAsUsual) {
  auto run = Start({"init", "open", "keys", "shutdown", "report", "line"}, GetParam());
  ExpectALineRead(*run);
  EXPECT_EQ(run->Wait(10s), 0);
  EXPECT_EQ(run->errors(), NothingTaken());
}

INSTANTIATE_TEST_SUITE_P(Displays, GuestAfterShutdown, testing::Values("headless", "terminal"),
                         [](const auto& info) { return std::string(info.param); });

// ---- The host's signal handlers ----

struct Ending {
  const char* name;
  int signal;
  const char* display;
};

void PrintTo(const Ending& ending, std::ostream* out) {
  *out << ending.name;
}

class GuestSignals : public Guest, public testing::WithParamInterface<Ending> {
 protected:
  int Signal() const { return GetParam().signal; }
  std::string Handler() const {
    return std::string("handler ") + (Signal() == SIGINT ? "SIGINT" : "SIGTERM");
  }
  bool Terminal() const { return std::string(GetParam().display) == "terminal"; }
};

constexpr char kLeave[] = "\x1b[?1049l";
constexpr char kEnter[] = "\x1b[?1049h";

// Installed before the board took the terminal: the board puts the terminal
// (and the screen) back, then the host's handler runs; as it returns, the
// program goes on, so the board takes them again.
TEST_P(GuestSignals, TheHostsHandlerRunsAfterTheBoardPutTheTerminalBack) {
  auto run =
      Start({"handlers", "init", "open", "keys", "wait", "shutdown", "report"}, GetParam().display);
  ASSERT_TRUE(WaitFor(*run, "waiting")) << run->errors();
  run->Signal(Signal());
  ASSERT_TRUE(WaitFor(*run, "back")) << run->errors();
  EXPECT_NE(run->errors().find(Handler() + " echo=on\nback echo=off\n"), std::string::npos)
      << run->errors();
  EXPECT_EQ(run->Wait(10s), 0) << run->errors();
  EXPECT_TRUE(SameTerminalSettings(run->settings_before(), run->SettingsNow()));
  EXPECT_NE(run->errors().find("handlers: 2 15 threads:"), std::string::npos)
      << "the host's handlers only: " << run->errors();
  if (Terminal()) {
    const std::string& out = run->output();
    const size_t handler = out.find("[handler]");
    ASSERT_NE(handler, std::string::npos);
    EXPECT_NE(out.rfind(kLeave, handler), std::string::npos) << "the screen was left first";
    EXPECT_NE(out.find(kEnter, handler), std::string::npos) << "and taken again after";
  }
}

// Installed after: the host's handler is the one that runs, alone, and the
// board leaves it in place when it shuts down.
TEST_P(GuestSignals, AHandlerTheHostInstallsLaterIsLeftAlone) {
  auto run =
      Start({"init", "open", "keys", "handlers", "wait", "shutdown", "mine"}, GetParam().display);
  ASSERT_TRUE(WaitFor(*run, "waiting")) << run->errors();
  run->Signal(Signal());
  ASSERT_TRUE(WaitFor(*run, "back")) << run->errors();
  EXPECT_NE(run->errors().find(Handler() + " echo=off\nback echo=off\n"), std::string::npos)
      << run->errors();
  EXPECT_EQ(run->Wait(10s), 0) << run->errors();
  EXPECT_NE(run->errors().find("mine: yes"), std::string::npos) << run->errors();
  EXPECT_TRUE(SameTerminalSettings(run->settings_before(), run->SettingsNow()));
}

// No handler of the host's: the process dies of the signal, as it would
// without the library, and the terminal is the user's again.
TEST_P(GuestSignals, WithoutAHandlerTheProcessDiesOfTheSignal) {
  auto run = Start({"init", "open", "keys", "wait"}, GetParam().display);
  ASSERT_TRUE(WaitFor(*run, "waiting")) << run->errors();
  run->Signal(Signal());
  EXPECT_EQ(run->Wait(10s), -1);
  EXPECT_EQ(run->end_signal(), Signal()) << run->errors();
  EXPECT_TRUE(SameTerminalSettings(run->settings_before(), run->SettingsNow()));
  if (Terminal()) {
    const std::string& out = run->output();
    EXPECT_GT(out.rfind(kLeave), out.rfind(kEnter)) << "the screen was given back";
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, GuestSignals,
                         testing::Values(Ending{"sigint_keys", SIGINT, "headless"},
                                         Ending{"sigterm_keys", SIGTERM, "headless"},
                                         Ending{"sigint_terminal", SIGINT, "terminal"},
                                         Ending{"sigterm_terminal", SIGTERM, "terminal"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
