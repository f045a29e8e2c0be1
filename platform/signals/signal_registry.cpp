#include "signal_registry.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "ending_signals.h"

namespace signals {
namespace {

// Everything a handler reads is here, fixed in size and constant-initialised:
// loading the library runs no code of ours.
constexpr int kSlots = 16;

struct Slot {
  bool used = false;                // claimed by Add (under `lock`)
  std::atomic<bool> active{false};  // run by the handlers
  unsigned order = 0;               // registration sequence
  Cleanup cleanup;
};

// A signal whose handler is ours, and what was there before.
struct Taken {
  std::atomic<bool> ours{false};
  struct sigaction before {};
};

Slot slots[kSlots];
Taken taken[NSIG];
std::atomic<int> running{0};  // handlers now running clean-ups
// The thread whose handler runs clean-ups now (0: none): handlers on other
// threads wait their turn, so that putting back and taking again never
// interleave (a SIGCONT and a SIGTERM delivered to two threads at once).
std::atomic<long> turn{0};
// Set once a handler lets the default action end the process: nothing takes
// the terminal again after it was put back for good.
std::atomic<bool> ending{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<long>::is_always_lock_free,
              "read in signal handlers");

std::mutex lock;  // Add, Remove and exit; never taken by a handler
int clients = 0;
int stop_clients = 0;  // clients with a stop or resume
unsigned sequence = 0;
bool exit_registered = false;

enum class Phase { kEnd, kStop, kResume };

bool CaresAboutStops(const Cleanup& c) {
  return c.stop != nullptr || c.resume != nullptr;
}

// Waits, in a handler, until no other thread's handler runs clean-ups; a
// handler that interrupted this thread's own (a nested signal) goes on.
// False: nested, nothing to give back.
bool TakeTurn() {
#ifdef SYS_gettid
  const long me = syscall(SYS_gettid);  // async-signal-safe, unlike most ways to ask
#else
  const long me = 1;  // the page: one thread
#endif
  for (;;) {
    long none = 0;
    if (turn.compare_exchange_strong(none, me)) return true;
    if (none == me) return false;
    const timespec pause = {0, 100000};
    nanosleep(&pause, nullptr);
  }
}

// Runs the active clean-ups of a phase: putting back, the newest first (it
// may stand on what older ones set up); taking again, the oldest first.
void Run(Phase phase) {
  const bool took = TakeTurn();
  if (phase != Phase::kEnd && ending.load()) {
    if (took) turn.store(0);
    return;
  }
  running.fetch_add(1);
  int order[kSlots];
  int n = 0;
  for (int i = 0; i < kSlots; i++) {
    if (!slots[i].active.load(std::memory_order_acquire)) continue;
    int at = n++;
    for (; at > 0 && slots[order[at - 1]].order > slots[i].order; at--) order[at] = order[at - 1];
    order[at] = i;
  }
  for (int k = 0; k < n; k++) {
    const Slot& slot = slots[order[phase == Phase::kResume ? k : n - 1 - k]];
    if (!slot.active.load(std::memory_order_acquire)) continue;
    const Cleanup& c = slot.cleanup;
    void (*f)(void*) = phase == Phase::kEnd ? c.end : phase == Phase::kStop ? c.stop : c.resume;
    if (f) f(c.context);
  }
  running.fetch_sub(1);
  if (took) turn.store(0);
}

// The union of sa_handler and sa_sigaction holds SIG_DFL and SIG_IGN alike.
bool Is(const struct sigaction& action, void (*what)(int)) {
  return action.sa_handler == what;
}

void SetDefault(int sig) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// Calls the program's own handler as the kernel would have: with its mask
// and, for SA_SIGINFO, the signal's details.
void CallBefore(int sig, siginfo_t* info, void* context) {
  struct sigaction& before = taken[sig].before;
  if (Is(before, SIG_DFL) || Is(before, SIG_IGN)) return;
  const struct sigaction call = before;
  if (before.sa_flags & SA_RESETHAND) {  // it would have been reset as it was delivered
    before = {};
    before.sa_handler = SIG_DFL;
  }
  sigset_t mask, old;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  for (int s = 1; s < NSIG; s++) {
    if (sigismember(&call.sa_mask, s) == 1) sigaddset(&mask, s);
  }
  if (call.sa_flags & SA_NODEFER)
    sigdelset(&mask, sig);
  else
    sigaddset(&mask, sig);
  pthread_sigmask(SIG_SETMASK, &mask, &old);
  if (call.sa_flags & SA_SIGINFO)
    call.sa_sigaction(sig, info, context);
  else
    call.sa_handler(sig);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void OnEnding(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const bool default_ends = Is(taken[sig].before, SIG_DFL);
  if (default_ends) ending.store(true);
  Run(Phase::kEnd);
  if (default_ends) {
    // Blocked while we are here, the signal raised again ends the process,
    // with the usual status, as this handler returns.
    taken[sig].ours = false;
    SetDefault(sig);
    raise(sig);
  } else {
    CallBefore(sig, info, context);
    Run(Phase::kResume);  // the program's handler returned: it goes on
  }
  errno = saved_errno;
}

void OnStop(int sig, siginfo_t* info, void* context);

void OnContinue(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  Run(Phase::kResume);  // also after a stop we could not see (SIGSTOP)
  CallBefore(sig, info, context);
  errno = saved_errno;
}

// Blocked while clean-ups run for a signal whose default we take on.
sigset_t BlockedWhileCleaning() {
  sigset_t set;
  sigemptyset(&set);
  ForEachEndingSignal([&](int s) { sigaddset(&set, s); });
  sigaddset(&set, SIGTSTP);
  sigaddset(&set, SIGCONT);
  return set;
}

// Our handler over what is there now, which is kept; an ignored signal is
// left ignored.
void Take(int sig, void (*handler)(int, siginfo_t*, void*)) {
  struct sigaction current {};
  if (sig <= 0 || sig >= NSIG || sigaction(sig, nullptr, &current) != 0 || Is(current, SIG_IGN))
    return;
  taken[sig].before = current;
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO | (current.sa_flags & (SA_RESTART | SA_ONSTACK | SA_NODEFER));
  if (Is(current, SIG_DFL)) {
    action.sa_flags |= SA_RESTART;
    action.sa_mask = BlockedWhileCleaning();
  } else {
    action.sa_mask = current.sa_mask;  // what the program's handler expects
  }
  if (sigaction(sig, &action, nullptr) == 0) taken[sig].ours = true;
}

// What was there before, unless the program has put a handler of its own
// since: that one stays.
void Give(int sig, void (*handler)(int, siginfo_t*, void*)) {
  if (sig <= 0 || sig >= NSIG || !taken[sig].ours.exchange(false)) return;
  struct sigaction current {};
  if (sigaction(sig, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
      current.sa_sigaction == handler)
    sigaction(sig, &taken[sig].before, nullptr);
}

void OnStop(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  Run(Phase::kStop);
  if (Is(taken[sig].before, SIG_DFL)) {
    struct sigaction ours {};
    sigaction(sig, nullptr, &ours);
    SetDefault(sig);
    raise(sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // stops here until continued
    struct sigaction now {};
    if (taken[sig].ours && sigaction(sig, nullptr, &now) == 0 && Is(now, SIG_DFL))
      sigaction(sig, &ours, nullptr);
  } else {
    CallBefore(sig, info, context);
  }
  Run(Phase::kResume);
  errno = saved_errno;
}

void TakeEnding() {
  ForEachEndingSignal([](int sig) { Take(sig, OnEnding); });
}
void GiveEnding() {
  ForEachEndingSignal([](int sig) { Give(sig, OnEnding); });
}
void TakeStops() {
  Take(SIGTSTP, OnStop);
  Take(SIGCONT, OnContinue);
}
void GiveStops() {
  Give(SIGTSTP, OnStop);
  Give(SIGCONT, OnContinue);
}

// Under `lock`: takes a slot out of the handlers' sight, and the handlers
// away with the last one.
void Deactivate(Slot& slot) {
  if (!slot.active.exchange(false)) return;
  if (CaresAboutStops(slot.cleanup) && --stop_clients == 0) GiveStops();
  if (--clients == 0) GiveEnding();
}

// Until no handler may still be running a removed clean-up, whose data its
// owner is about to free; a handler takes microseconds, a stalled terminal
// write at most half a second.
void WaitForHandlers() {
  for (int i = 0; i < 2000 && running.load() > 0; i++) {
    const timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

void AtExit() {
  ending.store(true);
  Run(Phase::kEnd);
  // A program's signal handler that calls exit may have come in the middle
  // of Add or Remove: then the handlers stay, harmlessly, to the end.
  if (!lock.try_lock()) return;
  for (Slot& slot : slots) {
    if (slot.used) Deactivate(slot);
  }
  lock.unlock();
}

}  // namespace

int Add(const Cleanup& cleanup) {
  std::lock_guard guard(lock);
  int handle = 0;
  while (handle < kSlots && slots[handle].used) handle++;
  if (handle == kSlots) return -1;
  if (!exit_registered) exit_registered = atexit(AtExit) == 0;
  Slot& slot = slots[handle];
  slot.used = true;
  slot.cleanup = cleanup;
  slot.order = ++sequence;
  if (clients++ == 0) TakeEnding();
  if (CaresAboutStops(cleanup) && stop_clients++ == 0) TakeStops();
  slot.active.store(true, std::memory_order_release);
  return handle;
}

void Remove(int handle) {
  if (handle < 0 || handle >= kSlots) return;
  std::lock_guard guard(lock);
  Slot& slot = slots[handle];
  if (!slot.used) return;
  Deactivate(slot);
  WaitForHandlers();
  slot.used = false;
}

}  // namespace signals
