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
void PutBack() {
  if (taken) tcsetattr(tty_fd, TCSANOW, &user_settings);
}
void TakeAgain() {
  if (taken) tcsetattr(tty_fd, TCSANOW, &key_settings);
}

void PutBackAtExit() {
  PutBack();
  taken = 0;
}

// Signals whose default action ends the process (the real-time ones too, below):
// any of them would otherwise leave the user's terminal without echo.
constexpr int kEndingSignals[] = {
    SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGABRT, SIGSEGV,   SIGBUS,  SIGFPE, SIGILL,  SIGPIPE,
    SIGUSR1,   SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS, SIGTRAP,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

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
  tty_fd = fd;
  taken = 1;
  for (int sig : kEndingSignals) InstallOverDefault(sig, OnEndingSignal, SA_RESETHAND);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
    InstallOverDefault(sig, OnEndingSignal, SA_RESETHAND);
#endif
  InstallOverDefault(SIGTSTP, OnStop, SA_RESTART);
  InstallOverDefault(SIGCONT, OnContinue, SA_RESTART);
  std::atexit(PutBackAtExit);
  if (tcsetattr(fd, TCSANOW, &key_settings) != 0) taken = 0;
}
#endif
