#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "child_process.h"

namespace {

constexpr int kTimeoutMs = 5000;

// Runs console_probe with a pseudo-terminal as its standard input and checks the terminal's
// settings from this side, through the slave we keep open.
class TerminalMode : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave_, &original_), 0);
    ASSERT_TRUE(original_.c_lflag & ECHO) << "a new terminal should echo";
    ASSERT_TRUE(original_.c_lflag & ICANON);
  }

  void TearDown() override {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, output_}) close(fd);
  }

  // As controlling terminal the pty turns Ctrl+C into SIGINT; without it the probe stays in
  // our session, where Ctrl+Z can stop it.
  void start(const char* leave_by, bool controlling_terminal = true) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      if (controlling_terminal) {
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
      } else {
        setpgid(0, 0);
      }
      // As a shell starts a program, whatever this test run inherited (a background job
      // ignores SIGINT and SIGQUIT).
      for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT}) signal(sig, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      // Out of the way first: with our own standard input closed, the pty may be fd 0.
      int in = fcntl(slave_, F_DUPFD, 10), report = fcntl(out[1], F_DUPFD, 10);
      for (int fd : {master_, slave_, out[0], out[1]}) close(fd);
      dup2(in, STDIN_FILENO);
      dup2(report, STDOUT_FILENO);
      execl(CONSOLE_PROBE, CONSOLE_PROBE, leave_by, nullptr);
      _exit(127);
    }
    close(out[1]);
    output_ = out[0];
    ASSERT_EQ(read_until(output_, "ready\n", kTimeoutMs), "ready\n");
  }

  termios settings() {
    termios now{};
    EXPECT_EQ(tcgetattr(slave_, &now), 0);
    return now;
  }

  void expect_keys_mode() {
    termios now = settings();
    EXPECT_FALSE(now.c_lflag & ECHO);
    EXPECT_FALSE(now.c_lflag & ICANON);
    EXPECT_TRUE(now.c_lflag & ISIG) << "Ctrl+C must still interrupt";
    EXPECT_EQ(now.c_oflag, original_.c_oflag) << "output processing is left alone";
  }

  void expect_restored() {
    termios now = settings();
    EXPECT_EQ(now.c_lflag, original_.c_lflag);
    EXPECT_EQ(now.c_iflag, original_.c_iflag);
    EXPECT_EQ(now.c_oflag, original_.c_oflag);
    EXPECT_EQ(now.c_cc[VMIN], original_.c_cc[VMIN]);
    EXPECT_EQ(now.c_cc[VTIME], original_.c_cc[VTIME]);
  }

  void type(std::string_view bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1, slave_ = -1, output_ = -1;
  pid_t pid_ = -1;
  termios original_{};
};

TEST_F(TerminalMode, KeysWithoutEchoWhileRunningThenRestoredOnReturn) {
  start("return");
  expect_keys_mode();
  type("\x1b[Ah\rq");
  int status = wait_for(pid_, kTimeoutMs);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_EQ(read_until(output_, "", kTimeoutMs), "224\n72\n104\n13\n");
  expect_restored();
}

TEST_F(TerminalMode, RestoredAfterExit1) {
  start("exit");
  type("q");
  int status = wait_for(pid_, kTimeoutMs);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "wait status " << status;
  expect_restored();
}

struct Ending {
  const char* name;
  int signal;
  char typed;  // the key that raises it on the terminal, or 0 to send it with kill()
};

class TerminalEnding : public TerminalMode, public testing::WithParamInterface<Ending> {};

TEST_P(TerminalEnding, RestoredAndDiesOfTheSameSignal) {
  start("return");
  expect_keys_mode();
  if (GetParam().typed) {
    type(std::string(1, GetParam().typed));
  } else {
    kill(pid_, GetParam().signal);
  }
  int status = wait_for(pid_, kTimeoutMs);
  ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
  EXPECT_EQ(WTERMSIG(status), GetParam().signal);
  expect_restored();
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TerminalEnding,
    testing::Values(Ending{"ctrl_c", SIGINT, '\x03'}, Ending{"ctrl_backslash", SIGQUIT, '\x1c'},
                    Ending{"sigterm", SIGTERM, 0}, Ending{"sighup", SIGHUP, 0},
                    Ending{"sigpipe", SIGPIPE, 0}, Ending{"sigusr1", SIGUSR1, 0},
                    Ending{"sigusr2", SIGUSR2, 0}, Ending{"sigalrm", SIGALRM, 0},
                    Ending{"sigxcpu", SIGXCPU, 0}, Ending{"sigvtalrm", SIGVTALRM, 0},
                    Ending{"sigprof", SIGPROF, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalMode, RestoredOnARealTimeSignal) {
  start("return");
  expect_keys_mode();
  kill(pid_, SIGRTMIN + 2);
  int status = wait_for(pid_, kTimeoutMs);
  ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGRTMIN + 2);
  expect_restored();
}

TEST_F(TerminalMode, StopRestoresAndContinueTakesKeysAgain) {
  start("return", false);
  kill(pid_, SIGTSTP);
  int status = wait_for(pid_, kTimeoutMs, WUNTRACED);
  ASSERT_TRUE(WIFSTOPPED(status)) << "wait status " << status;
  expect_restored();
  kill(pid_, SIGCONT);
  for (int i = 0; i < kTimeoutMs / 2 && (settings().c_lflag & ECHO); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  expect_keys_mode();
  type("q");
  status = wait_for(pid_, kTimeoutMs);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  expect_restored();
}

}  // namespace
