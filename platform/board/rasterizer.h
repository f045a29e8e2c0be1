// Triangle setup, rasterization and the per-pixel path into the back buffer.
#pragma once

#include "board_state.h"

namespace softboard {

// Draws one triangle with the current render and texture state into the back
// buffer. Any vertex values are safe; both windings are drawn.
void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c);

// The same through the general span loops only, never a specialised one; it
// must give the same pixels (tests compare the two).
void DrawTriangleGeneral(BoardState& board, const GrVertex& a, const GrVertex& b,
                         const GrVertex& c);

}  // namespace softboard
