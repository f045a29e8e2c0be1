#include "raster/setup.h"

#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "pixel/pixel.h"

namespace softboard {

// Sub-pixel format and fill rule: positions are snapped to 28.4 fixed point
// (1/16 pixel, to nearest) and edge functions are exact 64-bit integers over
// them. Pixel (i, j) is sampled at its centre (i + 0.5, j + 0.5), which is
// (16i + 8, 16j + 8) in those units. It is drawn when the centre is strictly
// inside all three edges, or lies exactly on a top edge (horizontal, interior
// below) or a left edge (interior to its right), so triangles sharing an edge
// cover each pixel along it once.

static bool Snap(float v, double scale, int64_t& out) {
  return SnapCoordinate(v, scale, out);
}

static double ColorValue(float v) {
  return v > 0 ? std::min(double(v), 255.0) : 0.0;
}
static double FiniteValue(float v) {
  return std::isfinite(v) ? double(v) : 0.0;
}

static int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  const int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}

// Edge from p to q of a triangle wound so that its interior is positive.
static Edge MakeEdge(int64_t px, int64_t py, int64_t qx, int64_t qy) {
  const int64_t dx = qx - px, dy = qy - py;
  const bool top = dy == 0 && dx > 0;
  const bool left = dy < 0;
  return {-dy, dx, dy * px - dx * py, (top || left) ? 0 : -1};
}

// Screen rows or columns whose centres lie in [lo, hi] (1/16 pixel units).
// Divided by 16 as shifts (which floor): called once for rows and once for
// columns, it was not inlined, and divided.
static std::pair<int, int> CentresWithin(int64_t lo, int64_t hi, int size) {
  const int64_t first = std::max<int64_t>(0, -((8 - lo) >> 4));
  const int64_t last = std::min<int64_t>(size - 1, (hi - 8) >> 4);
  if (first > last) return {0, 0};
  return {int(first), int(last) + 1};
}

// A plane's value at the origin and its gradients' numerators: each is
// divided by twice the area after.
static Plane PlaneNumerators(const double (&v)[3], double dx1, double dy1, double dx2, double dy2) {
  const double d1 = v[1] - v[0], d2 = v[2] - v[0];
  return {v[0], d1 * dy2 - d2 * dy1, d2 * dx1 - d1 * dx2};
}

// Each plane's gradients (of those `planes` has a bit for) over twice the
// area, two to a division where lanes hold doubles: a triangle's setup
// waits on a dozen divisions otherwise.
static void DivideGradients(Plane (&plane)[kPlanes], uint32_t planes, double area2) {
  static_assert(offsetof(Plane, dy) == offsetof(Plane, dx) + sizeof(double));
  // Lanes of the baseline x86 target, which this file is built for; on
  // other machines Highway's ops are called only from code built for them.
#if HWY_ARCH_X86 && HWY_HAVE_FLOAT64 && HWY_TARGET != HWY_SCALAR
  namespace hn = hwy::HWY_NAMESPACE;
  const hn::FixedTag<double, 2> d;
  const auto divisor = hn::Set(d, area2);
  for (int k = 0; k < kPlanes; k++) {
    if (planes >> k & 1) hn::StoreU(hn::Div(hn::LoadU(d, &plane[k].dx), divisor), d, &plane[k].dx);
  }
#else
  for (int k = 0; k < kPlanes; k++) {
    if (!(planes >> k & 1)) continue;
    plane[k].dx /= area2;
    plane[k].dy /= area2;
  }
#endif
}

bool SetupTriangle(const GrVertex& v0, const GrVertex& v1, const GrVertex& v2, int width,
                   int height, double sx, double sy, TriangleSetup& out, uint32_t planes) {
  const GrVertex* v[3] = {&v0, &v1, &v2};
  int64_t x[3], y[3];
  for (int i = 0; i < 3; i++) {
    if (!Snap(v[i]->x, sx, x[i]) || !Snap(v[i]->y, sy, y[i])) return false;
  }
  int64_t area2 = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
  if (area2 == 0) return false;
  if (area2 < 0) {  // no culling: rewind so that the interior is positive
    std::swap(v[1], v[2]);
    std::swap(x[1], x[2]);
    std::swap(y[1], y[2]);
    area2 = -area2;
  }

  const auto [row_begin, row_end] =
      CentresWithin(std::min({y[0], y[1], y[2]}), std::max({y[0], y[1], y[2]}), height);
  const auto [col_begin, col_end] =
      CentresWithin(std::min({x[0], x[1], x[2]}), std::max({x[0], x[1], x[2]}), width);
  if (row_begin == row_end || col_begin == col_end) return false;
  out.row_begin = row_begin;
  out.row_end = row_end;
  out.col_begin = col_begin;
  out.col_end = col_end;
  for (int i = 0; i < 3; i++) {
    const int j = (i + 1) % 3;
    out.edge[i] = MakeEdge(x[i], y[i], x[j], y[j]);
  }

  // Gradients over the snapped positions, in pixels.
  out.origin_x = double(x[0]) / 16;
  out.origin_y = double(y[0]) / 16;
  const double dx1 = double(x[1] - x[0]) / 16, dy1 = double(y[1] - y[0]) / 16;
  const double dx2 = double(x[2] - x[0]) / 16, dy2 = double(y[2] - y[0]) / 16;
  const double area = double(area2) / 256;
  double values[3][kPlanes];
  for (int i = 0; i < 3; i++) VertexPlaneValues(*v[i], values[i], planes);
  for (int k = 0; k < kPlanes; k++) {
    const double at[3] = {values[0][k], values[1][k], values[2][k]};
    out.plane[k] = planes >> k & 1 ? PlaneNumerators(at, dx1, dy1, dx2, dy2) : Plane{};
  }
  DivideGradients(out.plane, planes, area);
  return true;
}

void VertexPlaneValues(const GrVertex& v, double (&out)[kPlanes], uint32_t planes) {
  out[kPlaneR] = ColorValue(v.r);
  out[kPlaneG] = ColorValue(v.g);
  out[kPlaneB] = ColorValue(v.b);
  out[kPlaneA] = ColorValue(v.a);
  out[kPlaneOow] = FiniteValue(v.tmuvtx[0].oow);
  out[kPlaneZ] = v.ooz > 0 ? std::min(double(v.ooz), 65535.0) : 0.0;  // NaN too
  out[kPlaneQ] = FiniteValue(v.oow);
  // An untextured mesh (most triangles of a z-buffered scene) reads no
  // texture coordinates: they are left 0.
  const bool unit0 = planes & (1u << kPlaneSow | 1u << kPlaneTow);
  out[kPlaneSow] = unit0 ? FiniteValue(v.tmuvtx[0].sow) : 0.0;
  out[kPlaneTow] = unit0 ? FiniteValue(v.tmuvtx[0].tow) : 0.0;
  const bool unit1 = planes & (1u << kPlaneSow1 | 1u << kPlaneTow1 | 1u << kPlaneOow1);
  out[kPlaneSow1] = unit1 ? FiniteValue(v.tmuvtx[1].sow) : 0.0;
  out[kPlaneTow1] = unit1 ? FiniteValue(v.tmuvtx[1].tow) : 0.0;
  out[kPlaneOow1] = unit1 ? FiniteValue(v.tmuvtx[1].oow) : 0.0;
}

void RowWalker::Start(const TriangleSetup& tri, int first_row) {
  col_begin_ = tri.col_begin;
  col_end_ = tri.col_end;
  const int64_t py = int64_t(first_row) * 16 + 8;
  for (int i = 0; i < 3; i++) {
    const Edge& e = tri.edge[i];
    Bound& b = bound_[i];
    const int64_t need = -(8 * e.a + e.b * py + e.c + e.bias);  // 16a * x >= need
    b = {0, need, 0, 1, -16 * e.b, 0};
    if (e.a == 0) continue;
    // Left bound x >= ceil(need / 16a); right bound x <= floor(-need / -16a).
    // Both as floor(n / d) with d > 0, where n steps by -16b (left) or +16b
    // (right) a row.
    b.kind = e.a > 0 ? 1 : -1;
    b.divisor = 16 * (e.a > 0 ? e.a : -e.a);
    const int64_t n = e.a > 0 ? need : -need;
    const int64_t step = e.a > 0 ? -16 * e.b : 16 * e.b;
    b.q = FloorDiv(n, b.divisor);
    b.r = n - b.q * b.divisor;
    b.step_q = FloorDiv(step, b.divisor);
    b.step_r = step - b.step_q * b.divisor;
  }
}

}  // namespace softboard
