// The screen the terminal display takes over (the alternate screen, the
// cursor hidden, pictures), given back wherever the process ends or stops.
#pragma once

#include <atomic>
#include <cstddef>

namespace softboard {

// Signal handlers read it: fill it in before guarding it, and change nothing
// in it but `entries` until the guard is removed.
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

// Registers the screen with the signal registry: at exit, on every signal
// that ends the process and while it is stopped, `leave` is written (after
// the writer is pointed at null_fd); when it goes on, `enter`. A handle for
// UnguardTerminalScreen, -1 when it could not be registered.
int GuardTerminalScreen(TerminalScreen* screen);
void UnguardTerminalScreen(int handle);

// Writes all `size` bytes to fd, which may be non-blocking, waiting for room at most
// timeout_ms in all. Async-signal-safe. False when not all of them went out.
bool TerminalWriteAll(int fd, const char* bytes, size_t size, int timeout_ms);

}  // namespace softboard
