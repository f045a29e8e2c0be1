// An interpolated value over a triangle: a plane in its pixels.
#pragma once

namespace softboard {

// value(x, y) = at_origin + dx * (x - origin_x) + dy * (y - origin_y), in pixels.
struct Plane {
  double at_origin = 0, dx = 0, dy = 0;
};

// kPlaneZ is the vertices' ooz (0..65535) and kPlaneQ their own 1/w (the
// depth buffer's and the fog table's), beside unit 0's 1/w (kPlaneOow);
// kPlaneSow1 to kPlaneOow1 are texture unit 1's (tmuvtx[1]).
enum PlaneIndex {
  kPlaneR,
  kPlaneG,
  kPlaneB,
  kPlaneA,
  kPlaneSow,
  kPlaneTow,
  kPlaneOow,
  kPlaneZ,
  kPlaneQ,
  kPlaneSow1,
  kPlaneTow1,
  kPlaneOow1,
  kPlanes
};

// The plane's value at (x, y), its origin at (origin_x, origin_y): in this
// order of operations, wherever it is taken.
inline double PlaneValue(const Plane& p, double origin_x, double origin_y, double x, double y) {
  return p.at_origin + p.dx * (x - origin_x) + p.dy * (y - origin_y);
}

}  // namespace softboard
