// Row spans in vector lanes; see row_spans.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "raster/row_spans.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "raster/row_spans.h"

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// An edge's bound as a row steps down: `n` + k * `step` at the k-th row,
// and the row's bound floor(n / divisor) (right edges), ceil(n / divisor)
// (left edges, kept as -floor(-n / divisor)), or for a horizontal edge none,
// the row lying outside when n > 0. As RowWalker::Start makes them.
struct EdgeRows {
  int kind;  // 1 left, -1 right, 0 horizontal
  double n, step, divisor;
};

// floor(n / d) for integers n, d > 0 held in lanes of T: exact while |n| <
// 2^mantissa bits (2^53 in doubles, 2^24 in floats), since n / d lies at
// least 1 / d from any integer it is not, and rounding moves it by at most
// |n / d| * 2^-bits, less than that.
template <class V>
HWY_INLINE V FloorDivided(V n, V divisor) {
  return hn::Floor(hn::Div(n, divisor));
}

// The spans of `count` rows from the edges, in lanes of D's type (every value
// exact in it), to x0 and x1 a vector at a time.
template <class D>
HWY_INLINE void SpansInLanes(D d, const EdgeRows (&edges)[3], const TriangleSetup& tri, int count,
                             int32_t* x0, int32_t* x1, RowsSummary* summary) {
  using T = hn::TFromD<D>;
  const hn::Rebind<int32_t, D> di;
  const int lanes = int(hn::Lanes(d));
  const auto col_begin = hn::Set(d, T(tri.col_begin)), col_end = hn::Set(d, T(tri.col_end));
  const auto to_int = [&](hn::Vec<D> v) {
    if constexpr (sizeof(T) == 4) {
      return hn::ConvertTo(di, v);
    } else {
      return hn::DemoteTo(di, v);
    }
  };
  for (int at = 0; at < count; at += lanes) {
    const auto k = hn::Iota(d, T(at));
    auto lo = col_begin, hi = col_end;
    auto outside = hn::Lt(k, hn::Zero(d));  // none
    for (const EdgeRows& e : edges) {
      const auto n = hn::Add(hn::Set(d, T(e.n)), hn::Mul(k, hn::Set(d, T(e.step))));
      // Which bound the edge makes, as masks of every lane or none: chosen
      // by branches, it followed no pattern from one triangle to the next.
      const auto left = hn::FirstN(d, e.kind > 0 ? size_t(lanes) : 0);
      const auto right = hn::FirstN(d, e.kind < 0 ? size_t(lanes) : 0);
      const auto horizontal = hn::FirstN(d, e.kind == 0 ? size_t(lanes) : 0);
      const auto q = FloorDivided(n, hn::Set(d, T(e.divisor)));
      // A left edge's n holds -need: its bound is -floor(-need / divisor).
      lo = hn::IfThenElse(left, hn::Max(lo, hn::Neg(q)), lo);
      hi = hn::IfThenElse(right, hn::Min(hi, hn::Add(q, hn::Set(d, T(1)))), hi);
      outside = hn::Or(outside, hn::And(horizontal, hn::Gt(n, hn::Zero(d))));
    }
    // Held to the columns, an empty span stays empty (and every value fits
    // an int32).
    lo = hn::Min(lo, col_end);
    hi = hn::IfThenElse(outside, lo, hn::Max(hi, col_begin));
    hn::StoreU(to_int(lo), di, x0 + at);
    hn::StoreU(to_int(hi), di, x1 + at);
    if (summary) {
      // Lanes past `count` hold rows below the batch: left out.
      const auto in_batch = hn::FirstN(d, size_t(count - at));
      uint8_t bits[8] = {};
      hn::StoreMaskBits(d, hn::And(in_batch, hn::Gt(hi, lo)), bits);
      uint32_t nonempty = 0;
      std::memcpy(&nonempty, bits, sizeof nonempty);
      summary->nonempty |= nonempty << at;
      const auto width = hn::IfThenElseZero(in_batch, hn::Sub(hi, lo));
      summary->widest = std::max(summary->widest, int(hn::GetLane(hn::MaxOfLanes(d, width))));
    }
  }
}

bool RowSpansOn(const TriangleSetup& tri, int first_row, int count, int32_t* x0, int32_t* x1,
                RowsSummary* summary) {
  EdgeRows edges[3];
  const int64_t py = int64_t(first_row) * 16 + 8;
  // Whether every value (n + 15 steps included) stays below 2^23: a small
  // triangle's do, and floats then divide as exactly, twice as many a vector.
  constexpr int64_t kFloatLimit = int64_t(1) << 23;
  bool in_floats = true;
  for (int i = 0; i < 3; i++) {
    const Edge& e = tri.edge[i];
    const int64_t need = -(8 * e.a + e.b * py + e.c + e.bias);  // 16a * x >= need
    const int kind = e.a > 0 ? 1 : e.a < 0 ? -1 : 0;
    const int64_t n = kind < 0 ? -need : need;
    const int64_t step = kind < 0 ? 16 * e.b : -16 * e.b;
    const int64_t divisor = kind == 0 ? 1 : 16 * std::llabs(e.a);
    // Every value below then stays an integer below 2^51 (n + 15 steps
    // included), so each double operation is exact.
    constexpr int64_t kLimit = int64_t(1) << 50;
    if (std::llabs(n) >= kLimit || std::llabs(step) >= kLimit / 32 || divisor >= kLimit)
      return false;
    in_floats =
        in_floats && std::llabs(n) + 16 * std::llabs(step) < kFloatLimit && divisor < kFloatLimit;
    edges[i] = {kind, double(kind > 0 ? -n : n), double(kind > 0 ? -step : step), double(divisor)};
  }
  if (in_floats) {
    SpansInLanes(hn::CappedTag<float, kRowSpansAtOnce>(), edges, tri, count, x0, x1, summary);
    return true;
  }
#if HWY_HAVE_FLOAT64
  SpansInLanes(hn::CappedTag<double, kRowSpansAtOnce>(), edges, tri, count, x0, x1, summary);
  return true;
#else
  return false;  // no doubles in lanes (WebAssembly): the rows are walked
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(RowSpansOn);

bool RowSpans(const TriangleSetup& tri, int first_row, int count, int32_t* x0, int32_t* x1,
              RowsSummary* summary) {
  if (summary) *summary = RowsSummary{};
  return HWY_DYNAMIC_DISPATCH(RowSpansOn)(tri, first_row, count, x0, x1, summary);
}

RowsSummary SummarizeRows(const int32_t* x0, const int32_t* x1, int count) {
  RowsSummary summary;
  for (int i = 0; i < count; i++) {
    if (x0[i] < x1[i]) summary.nonempty |= 1u << i;
    summary.widest = std::max(summary.widest, x1[i] - x0[i]);
  }
  return summary;
}

}  // namespace softboard
#endif
