#include "api/process_output.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace softboard {

void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Not close-on-exec: these are what a child would inherit as its own.
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null < 0 || null == fd) continue;
    dup2(null, fd);
    close(null);
  }
}

namespace {

sigset_t OnlySigpipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

bool SigpipePending() {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeBlocked::SigpipeBlocked() {
  const sigset_t pipe = OnlySigpipe();
  pthread_sigmask(SIG_BLOCK, &pipe, &mask_before_);
  pending_before_ = SigpipePending();
}

SigpipeBlocked::~SigpipeBlocked() {
  // A failed write left its SIGPIPE pending on this thread: taken here, it is
  // never delivered. One pending before was not ours, and stays.
  const int saved_errno = errno;
  if (!pending_before_ && SigpipePending()) {
    const sigset_t pipe = OnlySigpipe();
    const timespec now{};
    sigtimedwait(&pipe, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &mask_before_, nullptr);
  errno = saved_errno;
}

void Complain(const std::string& line) {
  const SigpipeBlocked quiet;
  std::fprintf(stderr, "softboard: %s\n", line.c_str());
}

}  // namespace softboard
