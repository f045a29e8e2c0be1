// How the board writes where the process's own descriptors lead: standard
// error, and a trace that may be a pipe. Whatever the process was started
// with (descriptors closed, a reader that goes away), the board's text goes
// where it is meant to or nowhere, and never ends the program.
#pragma once

#include <signal.h>

#include <string>

namespace softboard {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. A file
// opened later (the trace) would otherwise take the lowest free number and
// receive what the program and the board write to standard output or error.
void OpenStandardDescriptors();

// While it lives, a write from this thread into a pipe or socket whose
// reader has gone fails with EPIPE instead of raising SIGPIPE, which would end
// the program. Only this thread's mask changes, for the while: how the process
// handles SIGPIPE, for the program's own output, stays as the program set it.
class SigpipeBlocked {
 public:
  SigpipeBlocked();
  ~SigpipeBlocked();
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

 private:
  sigset_t mask_before_;
  bool pending_before_ = false;
};

// One line on standard error, "softboard: " and `line`. Text from outside in
// it must already be quoted (quote.h).
void Complain(const std::string& line);

}  // namespace softboard
