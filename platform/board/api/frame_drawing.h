// What the entry points draw with: the back buffer as the place a command
// draws and a triangle is prepared for, and a triangle drawn with the board's
// state: recorded for the frame, or at once on a board with no recorder (one
// a test builds).
#pragma once

#include "api/board_state.h"
#include "frame/band_commands.h"
#include "frame/framebuffer.h"
#include "raster/triangle.h"

namespace softboard {

// Where the back buffer's pixels are: its rows, the display's, or (a
// supersampled frame drawn in bands only) each band's own.
Destination BackDestination(FrameBuffers& frame);
// What a triangle drawn into the back buffer is prepared for.
TriangleTarget BackTarget(const FrameBuffers& frame);

// Draws the triangle with the board's render and texture state into the back
// buffer. Any vertex values are safe; both windings are drawn. `loops`: the
// general span loop only gives the same pixels (tests compare).
void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c,
                  SpanLoops loops = SpanLoops::kBest);

}  // namespace softboard
