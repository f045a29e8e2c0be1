// The supersampling average: each block of samples to one pixel, rounded.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pixel/average_down.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "pixel/average_down.h"
#include "pixel/simd-inl.h"

#ifndef SOFTBOARD_AVERAGE_DOWN_PLAIN
#define SOFTBOARD_AVERAGE_DOWN_PLAIN
namespace softboard {
// Output pixels [x0, x1) of one row, from the `ssaa` rows of samples starting at
// `rows`: each channel (sum + n/2) / n.
inline void AverageDownPlain(const uint32_t* rows, int width, int ssaa, int x0, int x1,
                             uint32_t* out) {
  const uint32_t n = uint32_t(ssaa * ssaa);
  for (int x = x0; x < x1; x++) {
    uint32_t sum[4] = {};
    for (int r = 0; r < ssaa; r++) {
      const uint32_t* p = rows + size_t(r) * size_t(width) + size_t(x) * size_t(ssaa);
      for (int k = 0; k < ssaa; k++) {
        for (int c = 0; c < 4; c++) sum[c] += p[k] >> (8 * c) & 255;
      }
    }
    uint32_t v = 0;
    for (int c = 0; c < 4; c++) v |= (sum[c] + n / 2) / n << (8 * c);
    out[x] = v;
  }
}
}  // namespace softboard
#endif

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR

// Each two neighbouring lanes of lo then hi added: even lanes plus odd lanes.
HWY_INLINE V32 AddNeighbours(V32 lo, V32 hi) {
  const D32 d;
  return hn::Add(hn::ConcatEven(d, hi, lo), hn::ConcatOdd(d, hi, lo));
}

// Sums of each `kSsaa` neighbouring samples along a row, as channel pairs,
// added to br and ga: kSsaa vectors from p hold kSsaa * N consecutive pixels.
template <int kSsaa>
HWY_INLINE void SumAlongRow(const uint32_t* p, V32& br, V32& ga) {
  const D32 d;
  const size_t n = hn::Lanes(d);
  const V32 mask = hn::Set(d, 0x00FF00FFu);
  const V32 v0 = hn::LoadU(d, p), v1 = hn::LoadU(d, p + n);
  V32 b = AddNeighbours(hn::And(v0, mask), hn::And(v1, mask));
  V32 g = AddNeighbours(hn::And(hn::ShiftRight<8>(v0), mask), hn::And(hn::ShiftRight<8>(v1), mask));
  if constexpr (kSsaa == 4) {
    const V32 v2 = hn::LoadU(d, p + 2 * n), v3 = hn::LoadU(d, p + 3 * n);
    b = AddNeighbours(b, AddNeighbours(hn::And(v2, mask), hn::And(v3, mask)));
    g = AddNeighbours(g, AddNeighbours(hn::And(hn::ShiftRight<8>(v2), mask),
                                       hn::And(hn::ShiftRight<8>(v3), mask)));
  }
  br = hn::Add(br, b);
  ga = hn::Add(ga, g);
}

template <int kSsaa>
void AverageRows(const uint32_t* pixels, int width, int height, uint32_t* out, size_t out_stride) {
  const D32 d;
  const D16 d16;
  const size_t n = hn::Lanes(d);
  const int out_width = width / kSsaa;
  constexpr int kShift = kSsaa == 2 ? 2 : 4;  // log2 of the samples a pixel
  const V16 half = hn::Set(d16, uint16_t(1 << (kShift - 1)));
  for (int y = 0; y < height / kSsaa; y++) {
    const uint32_t* rows = pixels + size_t(y) * kSsaa * size_t(width);
    uint32_t* dst = out + size_t(y) * out_stride;
    int x = 0;
    for (; x + int(n) <= out_width; x += int(n)) {
      V32 br = hn::Zero(d), ga = hn::Zero(d);
      for (int r = 0; r < kSsaa; r++)
        SumAlongRow<kSsaa>(rows + size_t(r) * width + size_t(x) * kSsaa, br, ga);
      // Each channel's sum has a 16-bit lane of its own: at most 16 * 255.
      const V16 b = hn::ShiftRight<kShift>(hn::Add(hn::BitCast(d16, br), half));
      const V16 g = hn::ShiftRight<kShift>(hn::Add(hn::BitCast(d16, ga), half));
      hn::StoreU(Unpair(b, g), d, dst + x);
    }
    AverageDownPlain(rows, width, kSsaa, x, out_width, dst);
  }
}

void AverageDownImpl(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                     size_t out_stride) {
  if (ssaa == 2) return AverageRows<2>(pixels, width, height, out, out_stride);
  AverageRows<4>(pixels, width, height, out, out_stride);
}

#else  // HWY_SCALAR: one lane.

void AverageDownImpl(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                     size_t out_stride) {
  const int out_width = width / ssaa;
  for (int y = 0; y < height / ssaa; y++) {
    AverageDownPlain(pixels + size_t(y) * ssaa * size_t(width), width, ssaa, 0, out_width,
                     out + size_t(y) * out_stride);
  }
}

#endif

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(AverageDownImpl);

void AverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                 size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(AverageDownImpl)
  (pixels, width, height, ssaa, out, out_stride ? out_stride : size_t(width / ssaa));
}

}  // namespace softboard
#endif
