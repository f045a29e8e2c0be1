// Lines and points: which pixels they cover, row by row, and the planes their
// values are interpolated on, so that the span loops draw them as they draw
// triangles.
#pragma once

#include <cstdint>

#include "grlib.h"
#include "raster/setup.h"

namespace softboard {

// A line (or a point) is rasterized at the shown size, a pixel of it being an
// ssaa x ssaa block of samples. Along the major axis it covers the shown
// pixels first..last; the one across it at major pixel i is
// floor((p0 + i * p_step) / q).
struct LineSpans {
  bool active = false;  // a line or a point, not a triangle
  bool x_major = true;
  int ssaa = 1;
  int64_t first = 0, last = -1;
  int64_t p0 = 0, p_step = 0, q = 1;
  bool operator==(const LineSpans&) const = default;
};

// Sets up the line from a to b for a buffer of width x height pixels that
// shows the 640x480 scene at (width / ssaa) x (height / ssaa), supersampled
// ssaa times a side. Positions are snapped to 1/16 of a shown pixel. The
// pixels drawn: for each column (a line with |dx| >= |dy|) or row whose centre
// lies in the half-open span from a to b along that axis, the pixel across it
// whose span holds the segment at that centre. Values are interpolated along
// the segment at that centre. False when nothing is drawn (zero length, off
// the screen, a position not finite or beyond the guard band).
bool SetupLine(const GrVertex& a, const GrVertex& b, int width, int height, int ssaa,
               TriangleSetup& setup, LineSpans& line);

// The point p: the shown pixel that holds its snapped position, with p's values.
bool SetupPoint(const GrVertex& p, int width, int height, int ssaa, TriangleSetup& setup,
                LineSpans& line);

// The samples [x0, x1) of buffer row `row` that the line covers, within
// [col_begin, col_end); false when none.
bool LineSpan(const LineSpans& line, int row, int col_begin, int col_end, int* x0, int* x1);

}  // namespace softboard
