// Triangle setup: snapped positions, edge functions and the gradients of every
// interpolated value, computed once per triangle.
#pragma once

#include <cstdint>

#include "grlib.h"

namespace softboard {

// Positions are integers in 1/16 pixel; an edge function is a*X + b*Y + c at
// (X, Y), positive inside, and `bias` (0 or -1) decides pixels exactly on it.
struct Edge {
  int64_t a = 0, b = 0, c = 0;
  int64_t bias = 0;
};

// value(x, y) = at_origin + dx * (x - origin_x) + dy * (y - origin_y), in pixels.
struct Plane {
  double at_origin = 0, dx = 0, dy = 0;
};

enum PlaneIndex { kPlaneR, kPlaneG, kPlaneB, kPlaneA, kPlaneSow, kPlaneTow, kPlaneOow, kPlanes };

struct TriangleSetup {
  Edge edge[3];
  int row_begin = 0, row_end = 0;  // rows of the screen the triangle may touch
  int col_begin = 0, col_end = 0;  // likewise columns
  double origin_x = 0, origin_y = 0;
  Plane plane[kPlanes];
};

// False when the triangle draws nothing: zero area, entirely off the screen,
// or a position that is not finite or lies beyond the guard band.
// Pixels outside width x height are clipped away.
bool SetupTriangle(const GrVertex& v0, const GrVertex& v1, const GrVertex& v2, int width,
                   int height, TriangleSetup& out);

// The pixels [x0, x1) of `row` whose centres the fill rule draws, clipped to
// the buffer; false when there are none.
bool RowSpan(const TriangleSetup& tri, int row, int& x0, int& x1);

}  // namespace softboard
