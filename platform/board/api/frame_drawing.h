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

// A triangle as the program passes it: culled by the winding of its
// positions as passed, its y flipped for a lower-left origin, then drawn.
void DrawSceneTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c);
// The same, queued to be set up with the triangles after it (on a board with
// a recorder): drawn once kSetupBatch are queued, or by DrawQueuedTriangles,
// which every other call runs first.
void QueueSceneTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c);
// Lines and points as the program passes them (y flipped for a lower-left origin).
void DrawSceneLine(BoardState& board, const GrVertex& a, const GrVertex& b,
                   SpanLoops loops = SpanLoops::kBest);
void DrawScenePoint(BoardState& board, const GrVertex& p, SpanLoops loops = SpanLoops::kBest);

// Whether the cull mode culls the triangle abc: the signed area of its
// positions snapped to 1/16 scene pixel, A = (x1 - x0)(y2 - y0) - (x2 - x0)(y1 - y0),
// NEGATIVE culling A < 0 and POSITIVE A > 0.
bool Culled(int cull, const GrVertex& a, const GrVertex& b, const GrVertex& c);

// grBufferClear with the board's state: within the clip window, colour and
// alpha as the colour mask allows, depth where the depth mask does.
void ClearBuffers(BoardState& board, GrColor_t color, GrAlpha_t alpha, FxU16 depth);

}  // namespace softboard
