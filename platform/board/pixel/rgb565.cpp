// 5-6-5 pixels: quantised through the dither, packed, widened back.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pixel/rgb565.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "pixel/rgb565.h"
#include "pixel/simd-inl.h"

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR

void DitherSpanImpl(uint32_t* pixels, int n, const uint32_t* offsets) {
  const D32 d;
  const D16 d16;
  const size_t lanes = hn::Lanes(d);
  const V32 alpha = hn::Set(d, 0xFF000000u), rgb = hn::Set(d, 0x00FFFFFFu);
  int i = 0;
  for (; i + int(lanes) <= n; i += int(lanes)) {
    const V32 p = hn::LoadU(d, pixels + i);
    const V16 o = hn::BitCast(d16, hn::LoadU(d, offsets + i));
    const V16 br = QuantizePair<5>(PairBR(p), o);
    const V16 ga = QuantizePair<6>(PairGA(p), o);  // the alpha lane is put back below
    hn::StoreU(hn::Or(hn::And(Unpair(br, ga), rgb), hn::And(p, alpha)), d, pixels + i);
  }
  DitherPlain(pixels + i, n - i, offsets + i);
}

void Pack565Impl(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb,
                 uint8_t* alpha) {
  const D32 d;
  const D16 d16;
  const D16Half d16h;
  const D8Quarter d8q;
  const size_t lanes = hn::Lanes(d);
  int i = 0;
  for (; i + int(lanes) <= n; i += int(lanes)) {
    const V32 p = hn::LoadU(d, pixels + i);
    const V16 o = hn::BitCast(d16, hn::LoadU(d, offsets + i));
    const V32 packed = PackLevels(LevelPair<5>(PairBR(p), o), LevelPair<6>(PairGA(p), o));
    hn::StoreU(hn::TruncateTo(d16h, packed), d16h, rgb + i);
    hn::StoreU(hn::TruncateTo(d8q, hn::ShiftRight<24>(p)), d8q, alpha + i);
  }
  Pack565Plain(pixels + i, n - i, offsets + i, rgb + i, alpha + i);
}

void Widen565Impl(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out) {
  const D32 d;
  const D16Half d16h;
  const D8Quarter d8q;
  const size_t lanes = hn::Lanes(d);
  int i = 0;
  for (; i + int(lanes) <= n; i += int(lanes)) {
    V16 br, ga;
    Unpack565(hn::PromoteTo(d, hn::LoadU(d16h, rgb + i)), br, ga);
    const V32 a = hn::PromoteTo(d, hn::LoadU(d8q, alpha + i));
    hn::StoreU(hn::Or(Unpair(br, ga), hn::ShiftLeft<24>(a)), d, out + i);
  }
  Widen565Plain(rgb + i, alpha + i, n - i, out + i);
}

#else  // HWY_SCALAR: one lane.

void Pack565Impl(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb,
                 uint8_t* alpha) {
  Pack565Plain(pixels, n, offsets, rgb, alpha);
}

void Widen565Impl(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out) {
  Widen565Plain(rgb, alpha, n, out);
}

void DitherSpanImpl(uint32_t* pixels, int n, const uint32_t* offsets) {
  DitherPlain(pixels, n, offsets);
}

#endif

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(DitherSpanImpl);
HWY_EXPORT(Pack565Impl);
HWY_EXPORT(Widen565Impl);

void Pack565(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb,
             uint8_t* alpha) {
  HWY_DYNAMIC_DISPATCH(Pack565Impl)(pixels, n, offsets, rgb, alpha);
}

void Widen565(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out) {
  HWY_DYNAMIC_DISPATCH(Widen565Impl)(rgb, alpha, n, out);
}

void DitherSpan(uint32_t* pixels, int n, const uint32_t* offsets) {
  HWY_DYNAMIC_DISPATCH(DitherSpanImpl)(pixels, n, offsets);
}

}  // namespace softboard
#endif
