#include "output/terminal_screen.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "signal_registry.h"

namespace softboard {
namespace {

static_assert(std::atomic<unsigned>::is_always_lock_free, "changed in signal handlers");

// How long a stalled terminal may hold up the way out.
constexpr int kScreenWriteMs = 500;

// Both async-signal-safe: dup2, write and poll are, and the screen does not
// change while it is guarded.
void Leave(void* context) {
  const int saved_errno = errno;
  const TerminalScreen& s = *static_cast<const TerminalScreen*>(context);
  if (s.writer_fd >= 0 && s.null_fd >= 0) dup2(s.null_fd, s.writer_fd);
  TerminalWriteAll(s.fd, s.leave, s.leave_size, kScreenWriteMs);
  errno = saved_errno;
}

void Enter(void* context) {
  const int saved_errno = errno;
  TerminalScreen& s = *static_cast<TerminalScreen*>(context);
  s.entries.fetch_add(1);  // before the writer may write again
  if (s.writer_fd >= 0 && s.writer_saved >= 0) dup2(s.writer_saved, s.writer_fd);
  TerminalWriteAll(s.fd, s.enter, s.enter_size, kScreenWriteMs);
  errno = saved_errno;
}

}  // namespace

int GuardTerminalScreen(TerminalScreen* screen) {
  return signals::Add({Leave, Leave, Enter, screen});
}

void UnguardTerminalScreen(int handle) {
  signals::Remove(handle);
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

}  // namespace softboard
