// One place where the platform's pieces (the console's terminal settings, the
// terminal display's screen, a file being written) put things right when the
// process ends or stops, without taking signals from the program they live in.
//
// While any clean-up is registered, the signals that end the process (and,
// for clean-ups that care, SIGTSTP and SIGCONT) have a handler of the
// registry's own; when the last one goes, the handlers that were there before
// come back. On an ending signal the handler runs the clean-ups (the newest
// first), then gives the signal to what the program had installed before:
// its handler (SA_SIGINFO ones with their siginfo), after which the
// clean-ups' `resume` runs, since the program goes on; or, for the default
// action, the default, so that the process ends as it would have. A signal
// the program ignores is left ignored, and a handler it installs later is
// never replaced. At exit the clean-ups run once more, and are removed.
#pragma once

namespace signals {

// Every function here runs inside a signal handler: async-signal-safe only
// (no allocation, no locks, no stdio), on data that stays put while it is
// registered. Any may be null.
struct Cleanup {
  void (*end)(void* context) = nullptr;     // the process ends: put things back for good
  void (*stop)(void* context) = nullptr;    // Ctrl+Z: put things back while stopped
  void (*resume)(void* context) = nullptr;  // continued, or the program's handler returned
  void* context = nullptr;
};

// Registers a clean-up, installing the registry's handlers if it is the
// first; a handle for Remove, or -1 when the (small, fixed) table is full.
int Add(const Cleanup& cleanup);

// Removes a clean-up (a handle of -1 is ignored); once it returns no handler
// runs it any more. The last one out puts back each earlier handler where
// the registry's own is still the one installed.
void Remove(int handle);

}  // namespace signals
