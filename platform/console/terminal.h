#pragma once

#include <atomic>
#include <cstddef>

// Puts the terminal on fd into key-at-a-time input without echo (signal keys still work,
// output is untouched) and puts the user's settings back on every way out of the program:
// exit, a terminating signal, and while stopped by Ctrl+Z. Does nothing if fd is no terminal,
// or once keys are taken; fd may be closed afterwards.
void TerminalTakeKeys(int fd);

// A screen a display has taken over on the terminal (the alternate screen, the cursor hidden,
// pictures). Wherever the console puts the terminal's settings back (exit, an ending signal, a
// crash it can catch, a stop) it also writes `leave`, and when it takes them again after a
// stop, `enter`. Signal handlers read it: fill it in before registering it, and change nothing
// in it but `entries` until it is unregistered.
struct TerminalScreen {
  int fd = -1;  // the terminal, non-blocking: a stalled terminal is given up on
  const char* leave = nullptr;
  size_t leave_size = 0;
  const char* enter = nullptr;
  size_t enter_size = 0;
  // The descriptor frames are written through, pointed at `null_fd` while the screen is left
  // (no half frame lands on the user's screen) and back at `writer_saved` when it is entered.
  int writer_fd = -1;
  int writer_saved = -1;
  int null_fd = -1;
  // Counts the times the screen was entered again: what it showed is gone, and a frame being
  // written when it was left is cut.
  std::atomic<unsigned> entries{0};
};

// Registers the screen (null: none) and makes sure the console's handlers are in place.
void TerminalSetScreen(TerminalScreen* screen);

// Writes all `size` bytes to fd, which may be non-blocking, waiting for room at most
// timeout_ms in all. Async-signal-safe. False when not all of them went out.
bool TerminalWriteAll(int fd, const char* bytes, size_t size, int timeout_ms);
