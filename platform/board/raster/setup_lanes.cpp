// Triangle setup in vector lanes; see setup_lanes.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "raster/setup_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cfloat>

#include "pixel/pipeline_state.h"
#include "pixel/simd-inl.h"
#include "raster/setup_lanes.h"

// What every target's code shares, made once (this file is read once a target).
#ifndef SOFTBOARD_SETUP_LANES_SHARED
#define SOFTBOARD_SETUP_LANES_SHARED
namespace softboard {
namespace {

// How SetupTriangle holds each plane's value.
enum class Held : uint8_t { kColor, kDepth, kFinite };
constexpr Held kHeld[kPlanes] = {Held::kColor,  Held::kColor,  Held::kColor,  Held::kColor,
                                 Held::kFinite, Held::kFinite, Held::kFinite, Held::kDepth,
                                 Held::kFinite, Held::kFinite, Held::kFinite, Held::kFinite};

// Triangle i set up by SetupTriangle.
bool SetupAlone(const SetupBatch& batch, int i, TriangleSetup& out) {
  const TriangleCorners& c = *batch.corners;
  return SetupTriangle(c.Corner(i, 0), c.Corner(i, 1), c.Corner(i, 2), batch.width, batch.height,
                       batch.sx, batch.sy, out, batch.planes);
}

// Every triangle of the batch from `first` on set up alone (what SetupTriangle
// says of each noted).
void SetupEachAlone(SetupBatch& batch, int first) {
  TriangleSetup unused;
  for (int i = first; i < batch.count; i++) {
    batch.alone[i] = true;
    batch.ok[i] = SetupAlone(batch, i, unused);
  }
}

}  // namespace
}  // namespace softboard
#endif

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_HAVE_FLOAT64
using DD = hn::CappedTag<double, kSetupBatch>;
using VD = hn::Vec<DD>;
using MD = hn::Mask<DD>;

// A value of the lanes' triangles' corner k, widened.
HWY_INLINE VD Widened(const TriangleCorners& corners, int value, int k, int first) {
  const hn::Rebind<float, DD> df;
  return hn::PromoteTo(DD(), hn::LoadU(df, corners.value[value][k] + first));
}

// SnapCoordinate in lanes: `ok` loses the lanes that do not snap.
HWY_INLINE VD Snapped(VD v, double scale, MD& ok) {
  const DD d;
  const double limit = std::min(kGuardBand * scale, kGuardBandScaled);
  const VD scaled = hn::Mul(v, hn::Set(d, scale));
  ok = hn::And(ok, hn::And(hn::Le(scaled, hn::Set(d, limit)), hn::Ge(scaled, hn::Set(d, -limit))));
  // RoundHalfAway: truncated, then the fraction left decides.
  const VD sixteenths = hn::Mul(scaled, hn::Set(d, 16.0));
  const VD truncated = hn::Trunc(sixteenths);
  const VD fraction = hn::Sub(sixteenths, truncated);
  const VD one = hn::Set(d, 1.0);
  return hn::Sub(hn::Add(truncated, hn::IfThenElseZero(hn::Ge(fraction, hn::Set(d, 0.5)), one)),
                 hn::IfThenElseZero(hn::Le(fraction, hn::Set(d, -0.5)), one));
}

// A vertex's value as VertexPlaneValues holds it (NaN to 0 in each).
HWY_INLINE VD HeldValue(VD v, Held held) {
  const DD d;
  const VD zero = hn::Zero(d);
  switch (held) {
    case Held::kColor: return hn::IfThenElse(hn::Gt(v, zero), hn::Min(v, hn::Set(d, 255.0)), zero);
    case Held::kDepth:
      return hn::IfThenElse(hn::Gt(v, zero), hn::Min(v, hn::Set(d, 65535.0)), zero);
    case Held::kFinite: break;
  }
  return hn::IfThenElseZero(hn::Le(hn::Abs(v), hn::Set(d, DBL_MAX)), v);
}

// Plane k's step along a row in the lanes from `first` (stored with its
// gradients), 0 where the plane was not set up.
HWY_INLINE VD StepAlongRow(const SetupBatch& batch, int k, int first) {
  if (!(batch.planes >> k & 1)) return hn::Zero(DD());
  return hn::LoadU(DD(), batch.plane_values[k][1] + first);
}

// The lanes' steps along a row from their planes' steps, as RowSteps makes
// them (the same operations; conversions to integers truncate).
HWY_INLINE void RowStepsInLanes(SetupBatch& batch, int first) {
  const DD d;
  const hn::Rebind<int32_t, DD> di;
  const hn::Rebind<uint32_t, DD> du;
  const hn::Rebind<float, DD> df;
  constexpr double kMax = 2147483647.0;
  for (int c = 0; c < 4; c++) {
    const VD step = StepAlongRow(batch, kPlaneR + c, first);
    const VD fixed = HeldWithin(hn::Mul(step, hn::Set(d, 65536.0)), kMax);
    hn::StoreU(hn::BitCast(du, hn::DemoteTo(di, fixed)), du, batch.color_steps[c] + first);
  }
  const VD z = StepAlongRow(batch, kPlaneZ, first);
  const VD depth = hn::Add(hn::Mul(z, hn::Set(d, double(1 << kDepthFraction))), hn::Set(d, 0.5));
  hn::StoreU(hn::BitCast(du, hn::DemoteTo(di, hn::Floor(HeldWithin(depth, kMax)))), du,
             batch.z_steps + first);
  const VD q = StepAlongRow(batch, kPlaneQ, first);
  hn::StoreU(hn::DemoteTo(df, HeldWithin(q, 1e30)), df, batch.q_steps + first);
}

// The batch's triangles from `first` on, Lanes(DD) at a time, one a lane.
// (Vectors are locals, never in arrays: on SVE their size is known only at
// run time.)
void SetupInLanes(SetupBatch& batch, int first) {
  const DD d;
  const size_t lanes = std::min(hn::Lanes(d), size_t(batch.count - first));
  const TriangleCorners& corners = *batch.corners;
  MD valid = hn::FirstN(d, lanes);
  const auto snapped = [&](int value, int k, double scale) {
    return Snapped(Widened(corners, value, k, first), scale, valid);
  };
  const VD x0 = snapped(0, 0, batch.sx), y0 = snapped(1, 0, batch.sy);
  VD x1 = snapped(0, 1, batch.sx), y1 = snapped(1, 1, batch.sy);
  VD x2 = snapped(0, 2, batch.sx), y2 = snapped(1, 2, batch.sy);
  // Every product below is exact in doubles while the corners lie within
  // 2^24 sixteenths; a NaN or an infinity fails this too.
  const VD within = hn::Set(d, double(1 << 24));
  const auto small = [&](VD x, VD y) {
    return hn::And(hn::Lt(hn::Abs(x), within), hn::Lt(hn::Abs(y), within));
  };
  const MD exact =
      hn::And(hn::FirstN(d, lanes), hn::And(small(x0, y0), hn::And(small(x1, y1), small(x2, y2))));
  const VD zero = hn::Zero(d);
  VD area2 =
      hn::Sub(hn::Mul(hn::Sub(x1, x0), hn::Sub(y2, y0)), hn::Mul(hn::Sub(y1, y0), hn::Sub(x2, x0)));
  valid = hn::And(valid, hn::Ne(area2, zero));
  // Wound so that the interior is positive, as SetupTriangle rewinds.
  const MD rewound = hn::Lt(area2, zero);
  {
    const VD swapped_x = hn::IfThenElse(rewound, x2, x1),
             swapped_y = hn::IfThenElse(rewound, y2, y1);
    x2 = hn::IfThenElse(rewound, x1, x2);
    y2 = hn::IfThenElse(rewound, y1, y2);
    x1 = swapped_x;
    y1 = swapped_y;
  }
  area2 = hn::Abs(area2);

  const VD sixteenth = hn::Set(d, 1.0 / 16), eight = hn::Set(d, 8.0);
  // CentresWithin; its shifts are floors of exact quotients here.
  const auto centres = [&](VD lo, VD hi, int size, double* begin, double* end) {
    const VD first_centre =
        hn::Max(zero, hn::Neg(hn::Floor(hn::Mul(hn::Sub(eight, lo), sixteenth))));
    const VD last =
        hn::Min(hn::Set(d, double(size - 1)), hn::Floor(hn::Mul(hn::Sub(hi, eight), sixteenth)));
    valid = hn::And(valid, hn::Le(first_centre, last));
    hn::StoreU(first_centre, d, begin);
    hn::StoreU(hn::Add(last, hn::Set(d, 1.0)), d, end);
  };
  auto& values = batch.values;
  centres(hn::Min(hn::Min(y0, y1), y2), hn::Max(hn::Max(y0, y1), y2), batch.height,
          values[SetupBatch::kRowBegin] + first, values[SetupBatch::kRowEnd] + first);
  centres(hn::Min(hn::Min(x0, x1), x2), hn::Max(hn::Max(x0, x1), x2), batch.width,
          values[SetupBatch::kColBegin] + first, values[SetupBatch::kColEnd] + first);
  // MakeEdge from (px, py) to (qx, qy), edge i.
  const auto edge = [&](int i, VD px, VD py, VD qx, VD qy) {
    const VD dx = hn::Sub(qx, px), dy = hn::Sub(qy, py);
    const MD top_or_left = hn::Or(hn::And(hn::Eq(dy, zero), hn::Gt(dx, zero)), hn::Lt(dy, zero));
    hn::StoreU(hn::Neg(dy), d, values[SetupBatch::kEdges + 4 * i] + first);
    hn::StoreU(dx, d, values[SetupBatch::kEdges + 4 * i + 1] + first);
    hn::StoreU(hn::Sub(hn::Mul(dy, px), hn::Mul(dx, py)), d,
               values[SetupBatch::kEdges + 4 * i + 2] + first);
    hn::StoreU(hn::IfThenElse(top_or_left, zero, hn::Set(d, -1.0)), d,
               values[SetupBatch::kEdges + 4 * i + 3] + first);
  };
  edge(0, x0, y0, x1, y1);
  edge(1, x1, y1, x2, y2);
  edge(2, x2, y2, x0, y0);
  hn::StoreU(hn::Mul(x0, sixteenth), d, values[SetupBatch::kOriginX] + first);
  hn::StoreU(hn::Mul(y0, sixteenth), d, values[SetupBatch::kOriginY] + first);

  // Each plane asked for: its value at the first corner, its gradients.
  const VD dx1 = hn::Mul(hn::Sub(x1, x0), sixteenth);
  const VD dy1 = hn::Mul(hn::Sub(y1, y0), sixteenth);
  const VD dx2 = hn::Mul(hn::Sub(x2, x0), sixteenth);
  const VD dy2 = hn::Mul(hn::Sub(y2, y0), sixteenth);
  const VD area = hn::Mul(area2, hn::Set(d, 1.0 / 256));
  for (uint32_t rest = batch.planes & kAllPlanes; rest != 0; rest &= rest - 1) {
    const int k = std::countr_zero(rest);
    const VD at0 = HeldValue(Widened(corners, 2 + k, 0, first), kHeld[k]);
    const VD at1 = HeldValue(Widened(corners, 2 + k, 1, first), kHeld[k]);
    const VD at2 = HeldValue(Widened(corners, 2 + k, 2, first), kHeld[k]);
    const VD d1 = hn::Sub(hn::IfThenElse(rewound, at2, at1), at0);
    const VD d2 = hn::Sub(hn::IfThenElse(rewound, at1, at2), at0);
    double(&plane)[3][SetupBatch::kRoom] = batch.plane_values[k];
    hn::StoreU(at0, d, plane[0] + first);
    hn::StoreU(hn::Div(hn::Sub(hn::Mul(d1, dy2), hn::Mul(d2, dy1)), area), d, plane[1] + first);
    hn::StoreU(hn::Div(hn::Sub(hn::Mul(d2, dx1), hn::Mul(d1, dx2)), area), d, plane[2] + first);
  }
  RowStepsInLanes(batch, first);

  alignas(64) double flags[2][kSetupBatch];
  hn::Store(hn::IfThenElseZero(valid, hn::Set(d, 1.0)), d, flags[0]);
  hn::Store(hn::IfThenElseZero(exact, hn::Set(d, 1.0)), d, flags[1]);
  TriangleSetup unused;
  for (size_t i = 0; i < lanes; i++) {
    const int at = first + int(i);
    batch.alone[at] = flags[1][i] == 0;  // not exact in lanes
    batch.ok[at] = batch.alone[at] ? SetupAlone(batch, at, unused) : flags[0][i] != 0;
  }
  if (first + int(lanes) < batch.count) SetupInLanes(batch, first + int(lanes));
}
#else
void SetupInLanes(SetupBatch& batch, int first) {
  SetupEachAlone(batch, first);
}
#endif

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(SetupInLanes);

void SetupTriangles(const TriangleCorners& corners, int count, int width, int height, double sx,
                    double sy, uint32_t planes, SetupBatch* batch) {
  batch->count = std::clamp(count, 0, kSetupBatch);
  batch->corners = &corners;
  batch->width = width;
  batch->height = height;
  batch->sx = sx;
  batch->sy = sy;
  batch->planes = planes;
  if (batch->count > 0) HWY_DYNAMIC_DISPATCH(SetupInLanes)(*batch, 0);
}

GrVertex TriangleCorners::Corner(int i, int k) const {
  GrVertex v{};
  float* values[kValues] = {&v.x,
                            &v.y,
                            &v.r,
                            &v.g,
                            &v.b,
                            &v.a,
                            &v.tmuvtx[0].sow,
                            &v.tmuvtx[0].tow,
                            &v.tmuvtx[0].oow,
                            &v.ooz,
                            &v.oow,
                            &v.tmuvtx[1].sow,
                            &v.tmuvtx[1].tow,
                            &v.tmuvtx[1].oow};
  for (int n = 0; n < kValues; n++) *values[n] = value[n][k][i];
  return v;
}

void SetupBatch::Write(int i, TriangleSetup& out) const {
  if (alone[i]) {
    SetupAlone(*this, i, out);
    return;
  }
  out.row_begin = int(values[kRowBegin][i]);
  out.row_end = int(values[kRowEnd][i]);
  out.col_begin = int(values[kColBegin][i]);
  out.col_end = int(values[kColEnd][i]);
  for (int e = 0; e < 3; e++) {
    const double(*edge)[kRoom] = &values[kEdges + 4 * e];
    out.edge[e] = {int64_t(edge[0][i]), int64_t(edge[1][i]), int64_t(edge[2][i]),
                   int64_t(edge[3][i])};
  }
  out.origin_x = values[kOriginX][i];
  out.origin_y = values[kOriginY][i];
  for (int k = 0; k < kPlanes; k++) {
    out.plane[k] = planes >> k & 1
                       ? Plane{plane_values[k][0][i], plane_values[k][1][i], plane_values[k][2][i]}
                       : Plane{};
  }
}

}  // namespace softboard
#endif
