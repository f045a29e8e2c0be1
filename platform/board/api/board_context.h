// The one board context that the C entry points act on, and the lock that
// makes its calls one at a time.
#pragma once

#include <memory>
#include <mutex>

#include "api/board_state.h"

namespace softboard {

// The board the entry points act on. The process's own is never destroyed,
// so calls made while the process exits (from atexit handlers, say) still
// find it.
BoardState& TheBoard();

// Held by every entry point for the whole call: calls from several threads
// take turns. Recursive, so that a callback of the program's that calls the
// library again from inside a call does not deadlock.
std::recursive_mutex& BoardLock();

// A board of its own for what runs while this lives (a test): the entry points
// act on it, and its grLibInit takes `settings` as they are, reading nothing
// from the environment. The board before is current again after; this one is
// shut down first if it is open.
class ScopedBoard {
 public:
  explicit ScopedBoard(const Settings& settings);
  ~ScopedBoard();
  ScopedBoard(const ScopedBoard&) = delete;
  ScopedBoard& operator=(const ScopedBoard&) = delete;
  BoardState& state() { return *board_; }

 private:
  std::unique_ptr<BoardState> board_;
  BoardState* previous_;
};

}  // namespace softboard
