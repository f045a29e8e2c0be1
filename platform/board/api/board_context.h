// The one board context that the C entry points act on.
#pragma once

#include "api/board_state.h"

namespace softboard {

// The board the entry points act on. The process's own is never destroyed,
// so calls made while the process exits (from atexit handlers, say) still
// find it.
BoardState& TheBoard();

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

// Draws what is recorded for the frame's bands: before anything reads the
// pixels or changes what recorded triangles point at (the texture, the
// buffers).
void FinishDrawing(BoardState& board);

}  // namespace softboard
