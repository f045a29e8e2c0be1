#if !defined(_WIN32)
#include "terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

int tty_fd = -1;
termios user_settings;  // written once, before any handler can run
termios key_settings;
volatile sig_atomic_t taken = 0;

// Both are async-signal-safe: tcsetattr is, and the structs no longer change.
void put_back() {
  if (taken) tcsetattr(tty_fd, TCSANOW, &user_settings);
}
void take_again() {
  if (taken) tcsetattr(tty_fd, TCSANOW, &key_settings);
}

void put_back_at_exit() {
  put_back();
  taken = 0;
}

// Signals whose default action ends the process.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGABRT,
                                  SIGSEGV, SIGBUS,  SIGFPE, SIGILL};

void on_ending_signal(int sig) {
  put_back();
  // The handler was reset to the default on entry: the signal, blocked while we are here, ends
  // the process as soon as we return, with the usual exit status.
  raise(sig);
}

void install(int sig, void (*handler)(int), int flags);

void on_stop(int) {
  int saved_errno = errno;
  put_back();
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);  // stops here until continued
  install(SIGTSTP, on_stop, SA_RESTART);
  take_again();
  errno = saved_errno;
}

// Also after a stop we could not see (SIGSTOP): the shell may have reset the terminal.
void on_continue(int) {
  int saved_errno = errno;
  take_again();
  errno = saved_errno;
}

void install(int sig, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// Leaves alone a signal that is ignored (nohup, a background job) or already handled.
void install_over_default(int sig, void (*handler)(int), int flags) {
  struct sigaction current {};
  if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
      !(current.sa_flags & SA_SIGINFO))
    install(sig, handler, flags);
}

}  // namespace

void terminal_take_keys(int fd) {
  if (taken || !isatty(fd) || tcgetattr(fd, &user_settings) != 0) return;
  key_settings = user_settings;
  // ISIG stays so Ctrl+C, Ctrl+\ and Ctrl+Z act as usual; IXON goes so Ctrl+S is a key rather
  // than a frozen screen; CR and LF arrive as typed.
  key_settings.c_lflag &= ~(ECHO | ICANON | IEXTEN);
  key_settings.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON);
  key_settings.c_cc[VMIN] = 1;
  key_settings.c_cc[VTIME] = 0;
  tty_fd = fd;
  taken = 1;
  for (int sig : kEndingSignals) install_over_default(sig, on_ending_signal, SA_RESETHAND);
  install_over_default(SIGTSTP, on_stop, SA_RESTART);
  install_over_default(SIGCONT, on_continue, SA_RESTART);
  std::atexit(put_back_at_exit);
  if (tcsetattr(fd, TCSANOW, &key_settings) != 0) taken = 0;
}
#endif
