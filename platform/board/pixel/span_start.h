// A span's values at its first pixel, from the triangle's planes: the same
// arithmetic for every loop that starts spans, so that each gives the same
// pixels.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "pixel/pipeline_state.h"
#include "pixel/plane.h"
#include "pixel/sampler.h"
#include "pixel/span.h"

namespace softboard {

// 16.16 fixed point, held in int range whatever the plane gives.
inline uint32_t ToFixed(double v) {
  constexpr double kMax = 2147483647.0;
  v *= 65536;
  v = v >= -kMax ? std::min(v, kMax) : -kMax;  // NaN goes low too
  return uint32_t(int32_t(v));
}

inline float ToFloat(double v) {
  constexpr double kMax = 1e30;
  return float(v >= -kMax ? std::min(v, kMax) : -kMax);
}

// Z depth in 17.15 fixed point, rounded to nearest and held in int range.
inline uint32_t ToFixedDepth(double v) {
  constexpr double kMax = 2147483647.0;
  v = v * (1 << kDepthFraction) + 0.5;
  v = v >= -kMax ? std::min(v, kMax) : -kMax;
  // floor, inline: v is within int range, so truncating it is exact.
  const int64_t truncated = int64_t(v);
  return uint32_t(int32_t(truncated - (double(truncated) > v)));
}

// Whether a state reads the depth values of its pixels: Z, or 1/w.
inline bool ReadsZ(const PipelineState& p) {
  return UsesDepth(p) && !WBuffer(p.depth.mode);
}
inline bool ReadsQ(const PipelineState& p) {
  return (UsesDepth(p) && WBuffer(p.depth.mode)) || p.fog.source == FogSource::kTable;
}

// What a triangle's spans read besides colour, the same for each.
struct SpanReads {
  bool z = false, q = false;
};
inline SpanReads ReadsOf(const PipelineState& p) {
  return {ReadsZ(p), ReadsQ(p)};
}

// The planes a triangle's spans start from, and their origin.
struct SpanPlanes {
  const Plane* plane = nullptr;  // kPlanes of them
  double origin_x = 0, origin_y = 0;
};

// The values of the span of `row` from column x0: colours, depths and, but
// on the units' own path, texture coordinates.
inline void StartValues(const SpanPlanes& planes, const TriangleInputs& tri, SpanReads reads,
                        int row, int x0, SpanInputs* span) {
  const double px = x0 + 0.5, py = row + 0.5, ox = planes.origin_x, oy = planes.origin_y;
  const Plane* plane = planes.plane;
  for (int c = 0; c < 4; c++)
    span->color[c] = ToFixed(PlaneValue(plane[kPlaneR + c], ox, oy, px, py) + 0.5);
  if (reads.z) span->z = ToFixedDepth(PlaneValue(plane[kPlaneZ], ox, oy, px, py));
  if (reads.q) span->q = ToFloat(PlaneValue(plane[kPlaneQ], ox, oy, px, py));
  if (!tri.reads.texture || tri.units) return;
  const Plane& s = plane[kPlaneSow];
  const Plane& t = plane[kPlaneTow];
  const Plane& q = plane[kPlaneOow];
  if (tri.affine) {
    // 1/w is the same everywhere: s and t are linear along the row.
    const double w = 1 / q.at_origin, scale = tri.texture.scale;
    const double offset = tri.state.sampler.bilinear ? kBilinearOffset : 0.0;
    span->u = WrapFixed(PlaneValue(s, ox, oy, px, py) * w * scale + offset, tri.texture.width_log2);
    span->v =
        WrapFixed(PlaneValue(t, ox, oy, px, py) * w * scale + offset, tri.texture.height_log2);
    return;
  }
  span->sow = ToFloat(PlaneValue(s, ox, oy, px, py));
  span->tow = ToFloat(PlaneValue(t, ox, oy, px, py));
  span->oow = ToFloat(PlaneValue(q, ox, oy, px, py));
}

// Rows of a triangle one after another, as a loop over its rows takes them:
// row first_row + i covers columns [x0[i], x1[i]), none where x1[i] <=
// x0[i]. x0 and x1 hold kRowsAtOnce entries whatever `count` (those past it
// hold anything), so that a target may load them whole. Their pixels, depths
// and dither offsets are as SpanInputs has them, row first_row's, and the
// next rows `stride` (`depth_stride`) apart.
struct RowBatch {
  static constexpr int kRowsAtOnce = 16;
  int first_row = 0, count = 0;
  const int32_t* x0 = nullptr;
  const int32_t* x1 = nullptr;
  uint32_t* pixels = nullptr;
  size_t stride = 0;
  uint16_t* depth = nullptr;  // null: no depth buffer
  size_t depth_stride = 0;
  const uint32_t* const* dither = nullptr;  // each row's offsets; null: none
  int widest = -1;                          // the widest row's pixels; -1: not known

  int Width(int i) const { return std::max(0, x1[i] - x0[i]); }  // 0: an empty row
  uint32_t* Pixels(int i) const { return pixels + ptrdiff_t(i) * ptrdiff_t(stride); }
  uint16_t* Depth(int i) const {
    return depth ? depth + ptrdiff_t(i) * ptrdiff_t(depth_stride) : nullptr;
  }
  const uint32_t* Dither(int i) const { return dither ? dither[i] : nullptr; }
};

// Draws a batch of a triangle's rows, each span started from `planes` by
// StartValues, with `steps` its steps along a row: as a span loop draws each
// span StartValues starts, for the same pixels.
using RowsLoop = void (*)(const TriangleInputs& tri, const SpanInputs& steps,
                          const SpanPlanes& planes, const RowBatch& rows);

}  // namespace softboard
