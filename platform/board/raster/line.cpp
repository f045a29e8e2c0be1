#include "raster/line.h"

#include <algorithm>
#include <cstdlib>

#include "pixel/pixel.h"

namespace softboard {
namespace {

int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  const int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}
int64_t CeilDiv(int64_t n, int64_t d) {
  return -FloorDiv(-n, d);
}

// The pixel across the major axis at major pixel i.
int64_t Across(const LineSpans& l, int64_t i) {
  return FloorDiv(l.p0 + i * l.p_step, l.q);
}

bool Snap(const GrVertex& v, double sx, double sy, int64_t& x, int64_t& y) {
  return SnapCoordinate(v.x, sx, x) && SnapCoordinate(v.y, sy, y);
}

// The setup's rows and columns (buffer samples) from the line's shown pixels,
// held to the buffer; false when none are left.
bool Bound(const LineSpans& l, int width, int height, TriangleSetup& setup) {
  const int64_t a = Across(l, l.first), b = Across(l, l.last);
  int64_t col_lo = l.first, col_hi = l.last, row_lo = std::min(a, b), row_hi = std::max(a, b);
  if (!l.x_major) {
    std::swap(col_lo, row_lo);
    std::swap(col_hi, row_hi);
  }
  const int64_t n = l.ssaa;
  setup.col_begin = int(std::clamp<int64_t>(col_lo * n, 0, width));
  setup.col_end = int(std::clamp<int64_t>((col_hi + 1) * n, 0, width));
  setup.row_begin = int(std::clamp<int64_t>(row_lo * n, 0, height));
  setup.row_end = int(std::clamp<int64_t>((row_hi + 1) * n, 0, height));
  return setup.col_begin < setup.col_end && setup.row_begin < setup.row_end;
}

}  // namespace

bool SetupLine(const GrVertex& a, const GrVertex& b, int width, int height, int ssaa,
               TriangleSetup& setup, LineSpans& line) {
  if (width <= 0 || height <= 0 || ssaa < 1) return false;
  const double sx = double(width) / ssaa / kScreenWidth;
  const double sy = double(height) / ssaa / kScreenHeight;
  int64_t x[2], y[2];
  if (!Snap(a, sx, sy, x[0], y[0]) || !Snap(b, sx, sy, x[1], y[1])) return false;
  const int64_t dx = x[1] - x[0], dy = y[1] - y[0];
  if (dx == 0 && dy == 0) return false;
  line = LineSpans{};
  line.active = true;
  line.ssaa = ssaa;
  line.x_major = std::llabs(dx) >= std::llabs(dy);
  // Major and minor coordinates, in 1/16 shown pixel.
  const int64_t m0 = line.x_major ? x[0] : y[0], m1 = line.x_major ? x[1] : y[1];
  const int64_t n0 = line.x_major ? y[0] : x[0];
  const int64_t dm = m1 - m0, dn = line.x_major ? dy : dx;
  const int64_t major_size = (line.x_major ? width : height) / ssaa;
  // Centres 16i + 8 from m0 (included) toward m1 (left out).
  if (dm > 0) {
    line.first = CeilDiv(m0 - 8, 16);
    line.last = CeilDiv(m1 - 8, 16) - 1;
  } else {
    line.first = FloorDiv(m1 - 8, 16) + 1;
    line.last = FloorDiv(m0 - 8, 16);
  }
  line.first = std::max<int64_t>(line.first, 0);
  line.last = std::min<int64_t>(line.last, major_size - 1);
  if (line.first > line.last) return false;
  // Across at centre C: (n0 * dm + (C - m0) * dn) / (16 * dm), C = 16i + 8,
  // with the divisor made positive.
  const int64_t sign = dm > 0 ? 1 : -1;
  line.p0 = sign * (n0 * dm + (8 - m0) * dn);
  line.p_step = sign * 16 * dn;
  line.q = 16 * std::llabs(dm);
  if (!Bound(line, width, height, setup)) return false;

  // Values along the segment, as planes over buffer pixels: linear in the
  // major coordinate, constant across.
  double va[kPlanes], vb[kPlanes];
  VertexPlaneValues(a, va);
  VertexPlaneValues(b, vb);
  const double per_sample = 16.0 / (double(ssaa) * double(dm));
  setup.origin_x = line.x_major ? double(m0) * ssaa / 16 : 0;
  setup.origin_y = line.x_major ? 0 : double(m0) * ssaa / 16;
  for (int k = 0; k < kPlanes; k++) {
    const double slope = (vb[k] - va[k]) * per_sample;
    setup.plane[k] = {va[k], line.x_major ? slope : 0, line.x_major ? 0 : slope};
  }
  for (Edge& e : setup.edge) e = Edge{};
  return true;
}

bool SetupPoint(const GrVertex& p, int width, int height, int ssaa, TriangleSetup& setup,
                LineSpans& line) {
  if (width <= 0 || height <= 0 || ssaa < 1) return false;
  int64_t x, y;
  if (!Snap(p, double(width) / ssaa / kScreenWidth, double(height) / ssaa / kScreenHeight, x, y))
    return false;
  line = LineSpans{};
  line.active = true;
  line.ssaa = ssaa;
  line.first = line.last = FloorDiv(x, 16);
  line.p0 = FloorDiv(y, 16);
  if (line.first < 0 || line.first >= width / ssaa) return false;
  if (line.p0 < 0 || line.p0 >= height / ssaa) return false;
  if (!Bound(line, width, height, setup)) return false;
  double v[kPlanes];
  VertexPlaneValues(p, v);
  setup.origin_x = setup.origin_y = 0;
  for (int k = 0; k < kPlanes; k++) setup.plane[k] = {v[k], 0, 0};
  for (Edge& e : setup.edge) e = Edge{};
  return true;
}

bool LineSpan(const LineSpans& l, int row, int col_begin, int col_end, int* x0, int* x1) {
  const int64_t shown_row = row / l.ssaa;
  int64_t lo, hi;  // shown columns, inclusive
  if (!l.x_major) {
    if (shown_row < l.first || shown_row > l.last) return false;
    lo = hi = Across(l, shown_row);
  } else {
    // Major pixels i with Across(i) == shown_row: q * row <= p0 + i * p_step < q * (row + 1).
    const int64_t low = l.q * shown_row - l.p0, high = l.q * (shown_row + 1) - l.p0;
    lo = l.first;
    hi = l.last;
    if (l.p_step == 0) {
      if (Across(l, l.first) != shown_row) return false;
    } else if (l.p_step > 0) {
      lo = std::max(lo, CeilDiv(low, l.p_step));
      hi = std::min(hi, FloorDiv(high - 1, l.p_step));
    } else {
      const int64_t step = -l.p_step;  // low <= -i * step < high
      lo = std::max(lo, FloorDiv(-high, step) + 1);
      hi = std::min(hi, FloorDiv(-low, step));
    }
  }
  const int64_t begin = std::max<int64_t>(lo * l.ssaa, col_begin);
  const int64_t end = std::min<int64_t>((hi + 1) * l.ssaa, col_end);
  if (begin >= end) return false;
  *x0 = int(begin);
  *x1 = int(end);
  return true;
}

}  // namespace softboard
