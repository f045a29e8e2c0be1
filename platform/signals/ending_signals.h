// The signals whose default action ends the process, for those that must put
// something right first (the terminal's settings, a half-written file).
#pragma once

#include <signal.h>

namespace signals {

// Calls f(sig) for each of them, the real-time ones included.
template <typename F>
void ForEachEndingSignal(F&& f) {
  constexpr int kEnding[] = {
      SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
      SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
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
  for (int sig : kEnding) f(sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) f(sig);
#endif
}

}  // namespace signals
