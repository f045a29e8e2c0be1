// Triangle setup: snapped positions, edge functions and the gradients of every
// interpolated value, computed once per triangle.
#pragma once

#include <algorithm>
#include <cstdint>

#include "grlib.h"
#include "pixel/plane.h"

namespace softboard {

// Positions are integers in 1/16 pixel; an edge function is a*X + b*Y + c at
// (X, Y), positive inside, and `bias` (0 or -1) decides pixels exactly on it.
struct Edge {
  int64_t a = 0, b = 0, c = 0;
  int64_t bias = 0;
};

// std::llround for |v| < 2^52, inline (baseline x86 has no instruction for
// it): truncating is exact there, and so is the fraction left.
inline int64_t RoundHalfAway(double v) {
  const int64_t t = int64_t(v);
  const double fraction = v - double(t);
  return t + (fraction >= 0.5) - (fraction <= -0.5);
}

// Positions beyond kGuardBand scene pixels are not drawn, nor those beyond
// kGuardBandScaled buffer pixels when scaled up: it keeps every edge product
// below 2^62.
constexpr double kGuardBand = 1 << 22;
constexpr double kGuardBandScaled = 1 << 25;
// A position in scene pixels drawn `scale` times as large, snapped to 1/16
// pixel; false when it is not finite or lies beyond the guard band.
inline bool SnapCoordinate(float v, double scale, int64_t& out) {
  const double limit = std::min(kGuardBand * scale, kGuardBandScaled);
  const double scaled = double(v) * scale;
  if (!(scaled <= limit && scaled >= -limit)) return false;  // NaN fails too
  out = RoundHalfAway(scaled * 16.0);                        // below 2^30
  return true;
}

// The value a vertex gives each plane: colours and ooz held to their range,
// anything not finite as 0. A unit's texture coordinates are read only where
// `planes` (1 << PlaneIndex bits) has one of them, else 0.
constexpr uint32_t kAllPlanes = (1u << kPlanes) - 1;
void VertexPlaneValues(const GrVertex& v, double (&out)[kPlanes], uint32_t planes = kAllPlanes);

struct TriangleSetup {
  Edge edge[3];
  int row_begin = 0, row_end = 0;  // rows of the screen the triangle may touch
  int col_begin = 0, col_end = 0;  // likewise columns
  double origin_x = 0, origin_y = 0;
  Plane plane[kPlanes];
};

inline double PlaneAt(const TriangleSetup& tri, const Plane& p, double x, double y) {
  return PlaneValue(p, tri.origin_x, tri.origin_y, x, y);
}

// False when the triangle draws nothing: zero area, entirely off the screen,
// or a position that is not finite or lies beyond the guard band.
// Positions are scene pixels, drawn `sx` and `sy` times as large on a buffer of
// width x height pixels; anything outside it is clipped away.
// Only the planes `planes` has a bit for (1 << PlaneIndex) are made, the rest
// zero: each costs two divisions.
bool SetupTriangle(const GrVertex& v0, const GrVertex& v1, const GrVertex& v2, int width,
                   int height, double sx, double sy, TriangleSetup& out,
                   uint32_t planes = kAllPlanes);

// The same spans row after row, from `first_row` down: each edge's bound is
// carried from row to row as a quotient and remainder, so only the first row
// divides.
class RowWalker {
 public:
  RowWalker() = default;
  RowWalker(const TriangleSetup& tri, int first_row) { Start(tri, first_row); }
  // Made again in place (a copy of a walker just made would read its stores
  // back in other sizes than they were written, and wait for them).
  void Start(const TriangleSetup& tri, int first_row);
  // This row's span; false when it has none.
  bool Span(int& x0, int& x1) const;
  void Next();

 private:
  // An edge's bound on x as (q, r): the bound is q + (r > 0) for a left bound
  // (ceil) or q for a right one (floor); r in [0, divisor). A horizontal edge
  // bounds no x: the whole row is outside it when q > 0.
  struct Bound {
    int kind;  // 1 left, -1 right, 0 horizontal
    int64_t q, r, divisor, step_q, step_r;
  };
  // Left unset until Start: zeroing them was a string store slower than
  // the walk of a small triangle's rows.
  Bound bound_[3];
  int64_t col_begin_, col_end_;
};

inline bool RowWalker::Span(int& x0, int& x1) const {
  int64_t lo = col_begin_, hi = col_end_;
  for (const Bound& b : bound_) {
    if (b.kind == 0 && b.q > 0) return false;
    if (b.kind > 0) lo = std::max(lo, b.q + (b.r > 0));
    if (b.kind < 0) hi = std::min(hi, b.q + 1);
  }
  if (lo >= hi) return false;
  x0 = int(lo);
  x1 = int(hi);
  return true;
}

inline void RowWalker::Next() {
  for (Bound& b : bound_) {
    // Without a branch: whether r carries follows no pattern a predictor learns.
    b.q += b.step_q;
    b.r += b.step_r;
    const int64_t carry = b.r >= b.divisor;
    b.r -= carry * b.divisor;
    b.q += carry;
  }
}

}  // namespace softboard
