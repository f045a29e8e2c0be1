#if !defined(_WIN32)
#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "ending_signals.h"

namespace {

int tty_fd = -1;
termios user_settings;  // written once, before any handler can run
termios key_settings;
volatile sig_atomic_t taken = 0;
std::atomic<TerminalScreen*> screen{nullptr};
static_assert(std::atomic<TerminalScreen*>::is_always_lock_free, "read in signal handlers");

// How long a stalled terminal may hold up the way out.
constexpr int kScreenWriteMs = 500;

void LeaveScreen() {
  TerminalScreen* s = screen.load();
  if (s == nullptr) return;
  if (s->writer_fd >= 0 && s->null_fd >= 0) dup2(s->null_fd, s->writer_fd);
  TerminalWriteAll(s->fd, s->leave, s->leave_size, kScreenWriteMs);
}

void EnterScreen() {
  TerminalScreen* s = screen.load();
  if (s == nullptr) return;
  s->entries.fetch_add(1);  // before the writer may write again
  if (s->writer_fd >= 0 && s->writer_saved >= 0) dup2(s->writer_saved, s->writer_fd);
  TerminalWriteAll(s->fd, s->enter, s->enter_size, kScreenWriteMs);
}

// Both are async-signal-safe: tcsetattr, dup2, write and poll are, and the structs no longer
// change.
void PutBack() {
  if (taken) tcsetattr(tty_fd, TCSANOW, &user_settings);
  LeaveScreen();
}
void TakeAgain() {
  if (taken) tcsetattr(tty_fd, TCSANOW, &key_settings);
  EnterScreen();
}

void PutBackAtExit() {
  PutBack();
  taken = 0;
  screen.store(nullptr);
}

void OnEndingSignal(int sig) {
  PutBack();
  // The handler was reset to the default on entry: the signal, blocked while we are here, ends
  // the process as soon as we return, with the usual exit status.
  raise(sig);
}

void Install(int sig, void (*handler)(int), int flags);

void OnStop(int) {
  int saved_errno = errno;
  PutBack();
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);  // stops here until continued
  Install(SIGTSTP, OnStop, SA_RESTART);
  TakeAgain();
  errno = saved_errno;
}

// Also after a stop we could not see (SIGSTOP): the shell may have reset the terminal.
void OnContinue(int) {
  int saved_errno = errno;
  TakeAgain();
  errno = saved_errno;
}

void Install(int sig, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// Leaves alone a signal that is ignored (nohup, a background job) or already handled.
void InstallOverDefault(int sig, void (*handler)(int), int flags) {
  struct sigaction current {};
  if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
      !(current.sa_flags & SA_SIGINFO))
    Install(sig, handler, flags);
}

// Once, for the first of the keys and a screen to be taken.
void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  // Any signal that ends the process would otherwise leave the user's
  // terminal without echo.
  signals::ForEachEndingSignal(
      [](int sig) { InstallOverDefault(sig, OnEndingSignal, SA_RESETHAND); });
  InstallOverDefault(SIGTSTP, OnStop, SA_RESTART);
  InstallOverDefault(SIGCONT, OnContinue, SA_RESTART);
  std::atexit(PutBackAtExit);
}

}  // namespace

void TerminalTakeKeys(int fd) {
  if (taken || !isatty(fd) || tcgetattr(fd, &user_settings) != 0) return;
  key_settings = user_settings;
  // ISIG stays so Ctrl+C, Ctrl+\ and Ctrl+Z act as usual; IXON goes so Ctrl+S is a key rather
  // than a frozen screen; CR and LF arrive as typed.
  key_settings.c_lflag &= ~(ECHO | ICANON | IEXTEN);
  key_settings.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON);
  key_settings.c_cc[VMIN] = 1;
  key_settings.c_cc[VTIME] = 0;
  // A descriptor of our own: the caller may close its own before the settings are put back.
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  tty_fd = own >= 0 ? own : fd;
  taken = 1;
  InstallHandlers();
  if (tcsetattr(fd, TCSANOW, &key_settings) != 0) taken = 0;
}

void TerminalSetScreen(TerminalScreen* s) {
  if (s) InstallHandlers();
  screen.store(s);
}

bool TerminalWriteAll(int fd, const char* bytes, size_t size, int timeout_ms) {
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n > 0) {
      bytes += n;
      size -= size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long spent =
        long(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= timeout_ms) return false;
    pollfd out{fd, POLLOUT, 0};
    poll(&out, 1, int(timeout_ms - spent));
  }
  return true;
}
#endif
