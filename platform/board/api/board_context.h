// The one board context that the C entry points act on.
#pragma once

#include "api/board_state.h"

namespace softboard {

// Never destroyed, so calls made while the process exits (from atexit
// handlers, say) still find it. Tests read it to see what a call did.
BoardState& TheBoard();

// Draws what is recorded for the frame's bands: before anything reads the
// pixels or changes what recorded triangles point at (the texture, the
// buffers).
void FinishDrawing(BoardState& board);

}  // namespace softboard
