#include "signal_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "ending_signals.h"

namespace texfile {
namespace {

// What the handler reads. A signal handler can reach nothing else, so these
// are the process's own: one guarded file at a time.
std::atomic<bool> in_use{false};
char guarded_path[PATH_MAX];
struct sigaction before[NSIG];
bool installed[NSIG];

void RemoveThenResignal(int sig) {
  const int saved_errno = errno;
  unlink(guarded_path);
  // What was there before takes the signal: raised again, it is delivered
  // as soon as this handler returns.
  sigaction(sig, &before[sig], nullptr);
  installed[sig] = false;
  raise(sig);
  errno = saved_errno;
}

void Guard(int sig) {
  struct sigaction current {};
  if (sig <= 0 || sig >= NSIG || sigaction(sig, nullptr, &current) != 0) return;
  if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) return;
  before[sig] = current;
  struct sigaction action {};
  action.sa_handler = RemoveThenResignal;
  sigfillset(&action.sa_mask);  // nothing else runs while the file goes
  installed[sig] = sigaction(sig, &action, nullptr) == 0;
}

}  // namespace

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
  if (path.size() >= sizeof guarded_path || in_use.exchange(true)) return;
  std::memcpy(guarded_path, path.c_str(), path.size() + 1);
  signals::ForEachEndingSignal(Guard);
  armed_ = true;
}

RemovedOnSignal::~RemovedOnSignal() {
  if (!armed_) return;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (installed[sig]) sigaction(sig, &before[sig], nullptr);
    installed[sig] = false;
  }
  in_use = false;
}

}  // namespace texfile
