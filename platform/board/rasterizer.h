// Triangle setup, rasterization and the per-pixel path into the back buffer.
#pragma once

#include "board_state.h"
#include "pixel_kernels.h"
#include "setup.h"
#include "span.h"

namespace softboard {

// A triangle ready to draw, with a copy of every input its pixels need and its
// span loop chosen: it can be drawn later, row range by row range, on any
// thread, as long as the texture stays as it was.
struct PreparedTriangle {
  TriangleSetup setup;
  TriangleInputs inputs;
  SpanLoop loop = nullptr;
  // 16-bit colour: the dither thresholds of each scene row of the matrix
  // (null: 8 bits a channel), and the buffer's height, to find a row's.
  const uint32_t* dither[4] = {};
  int height = 0;
  bool rgb565 = false;  // the buffer holds 5-6-5 rows (see FrameBuffers)
  // What it was made from besides the texture and the buffers: its corners
  // and `inputs.state`. The same corners, bit for bit, in the same state
  // draw the same pixels.
  GrVertex corners[3] = {};
};

// Whether two triangles draw the same pixels, the texture and the buffers
// being as they were.
bool SameTriangle(const PreparedTriangle& a, const PreparedTriangle& b);

// False when the triangle draws nothing on the back buffer.
bool PrepareTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c,
                     bool general_only, PreparedTriangle* out);

// Draws the triangle's rows [row_begin, row_end) into a buffer whose rows are
// `stride` pixels apart and whose first row is row `first_row`. A 5-6-5 buffer
// is passed whole (first_row 0, stride its width): its alpha plane follows
// all its rows.
void DrawRows(const PreparedTriangle& t, uint32_t* pixels, size_t stride, int row_begin,
              int row_end, int first_row = 0);

// Draws one triangle with the current render and texture state into the back
// buffer, or records it for the frame's bands when the board has them. Any vertex
// values are safe; both windings are drawn.
void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c);

// The same, at once, through the general span loop only, never a fused one; it
// must give the same pixels (tests compare the two).
void DrawTriangleGeneral(BoardState& board, const GrVertex& a, const GrVertex& b,
                         const GrVertex& c);

}  // namespace softboard
