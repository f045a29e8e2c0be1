// Highway helpers the pixel unit's vector code shares, compiled again for
// each target (the "-inl" way): pixels in u32 lanes, one pixel a lane
// (0xAARRGGBB). Channel arithmetic works on pairs: (p & 0x00FF00FF) holds
// blue and red, and (p >> 8 & 0x00FF00FF) green and alpha, each in its own
// 16-bit lane, so every multiply is a 16-bit one. The arithmetic is the
// general loop's, to the bit. Vectors are only ever locals and arguments,
// never members of a class or elements of an array: on SVE their size is
// known only at run time.
#if defined(SOFTBOARD_PIXEL_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SOFTBOARD_PIXEL_SIMD_INL_H_
#undef SOFTBOARD_PIXEL_SIMD_INL_H_
#else
#define SOFTBOARD_PIXEL_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include <cstring>

#include "pixel/pixel_rows.h"
#include "pixel/sampler.h"
#include "pixel/span.h"

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// `v` (doubles) held within +-limit, NaN taken low, as ToFixed and its kin
// hold it.
template <class V>
HWY_INLINE V HeldWithin(V v, double limit) {
  const hn::DFromV<V> d;
  return hn::IfThenElse(hn::Ge(v, hn::Set(d, -limit)), hn::Min(v, hn::Set(d, limit)),
                        hn::Set(d, -limit));
}

#if HWY_TARGET != HWY_SCALAR

using D32 = hn::ScalableTag<uint32_t>;
using DI32 = hn::ScalableTag<int32_t>;
using D16 = hn::Repartition<uint16_t, D32>;
using D16Half = hn::Rebind<uint16_t, D32>;   // a 16-bit lane a pixel
using D8Quarter = hn::Rebind<uint8_t, D32>;  // a byte a pixel
using DF = hn::ScalableTag<float>;
using V32 = hn::Vec<D32>;
using V16 = hn::Vec<D16>;

// The per-pixel value of a 16.16 plane stepped from the span's start, as 0..255.
HWY_INLINE V32 Channel8(V32 fixed) {
  const DI32 di;
  const auto v = hn::ShiftRight<16>(hn::BitCast(di, fixed));
  return hn::BitCast(D32(), hn::Min(hn::Max(v, hn::Zero(di)), hn::Set(di, 255)));
}

HWY_INLINE V16 PairBR(V32 p) {
  return hn::BitCast(D16(), hn::And(p, hn::Set(D32(), 0x00FF00FFu)));
}
HWY_INLINE V16 PairGA(V32 p) {
  return hn::BitCast(D16(), hn::And(hn::ShiftRight<8>(p), hn::Set(D32(), 0x00FF00FFu)));
}
HWY_INLINE V32 Unpair(V16 br, V16 ga) {
  const D32 d;
  return hn::Or(hn::BitCast(d, br), hn::ShiftLeft<8>(hn::BitCast(d, ga)));
}
// A per-pixel value 0..255 in both 16-bit lanes of its pixel.
HWY_INLINE V16 Both(V32 x) {
  return hn::BitCast(D16(), hn::Or(x, hn::ShiftLeft<16>(x)));
}

// Mul255: t = x*f + 128, (t + (t >> 8)) >> 8; never above 65407.
HWY_INLINE V16 Mul255(V16 x, V16 f) {
  const auto t = hn::Add(hn::Mul(x, f), hn::Set(D16(), 128));
  return hn::ShiftRight<8>(hn::Add(t, hn::ShiftRight<8>(t)));
}

// Div255 (x + 127) / 255, for x up to 255 * 255 (what a blend sums).
HWY_INLINE V16 Div255(V16 x) {
  const D16 d;
#if HWY_TARGET == HWY_NEON
  // NEON has no 16-bit multiply-high (it takes two widening multiplies and a
  // shuffle); t = x + 128, (t + (t >> 8)) >> 8 is the same up to x = 65152,
  // in an add and two shifts, one of them accumulating.
  const V16 t = hn::Add(x, hn::Set(d, 128));
  return hn::ShiftRight<8>(hn::Add(t, hn::ShiftRight<8>(t)));
#else
  // A multiply-high: exact for x + 127 up to 65408.
  return hn::ShiftRight<7>(hn::MulHigh(hn::Add(x, hn::Set(d, 127)), hn::Set(d, 0x8081)));
#endif
}

// Bilinear8's step on pairs: (a (256 - w) + b w + 128) >> 8, for channels a,
// b and weights w (0..255) given as w << 7. That is a + floor(((b - a) w +
// 128) / 256), which a rounding fixed-point multiply of b - a by w << 7 gives.
HWY_INLINE V16 Lerp8(V16 a, V16 b, V16 w7) {
  const hn::RebindToSigned<D16> di;
  const auto ia = hn::BitCast(di, a);
  const auto step = hn::MulFixedPoint15(hn::Sub(hn::BitCast(di, b), ia), hn::BitCast(di, w7));
  return hn::BitCast(D16(), hn::Add(ia, step));
}
// A per-pixel weight 0..255 in both 16-bit lanes of its pixel, as Lerp8 takes it.
HWY_INLINE V16 Weight7(V32 w) {
  return Both(hn::ShiftLeft<7>(w));
}

// Where SVE's vector length is known only at run time (SVE, SVE2), a gather
// a corner gives every pixel's corner in pixel order. Elsewhere each
// footprint is one 16-byte load and a transpose in each 128-bit block sorts
// the corners: x86's gathers are slower than that, NEON has none, and the
// fixed-length SVE targets (SVE2_128, SVE_256) know their blocks.
#define SOFTBOARD_GATHER_FOOTPRINTS (HWY_TARGET == HWY_SVE || HWY_TARGET == HWY_SVE2)

#if !SOFTBOARD_GATHER_FOOTPRINTS
// One 16-byte footprint a block: block b of the result is pixel 4b + k's, for
// the pixels' texel indices idx[k], idx[k + 4], ...
template <class D>
HWY_INLINE hn::Vec<D> LoadFootprints(D d, const uint32_t* footprint, const uint32_t* idx) {
  if constexpr (hn::MaxLanes(d) <= 4) {
    return hn::LoadU(d, footprint + size_t(idx[0]) * 4);
  } else {
    const hn::Half<D> dh;
    return hn::Combine(d, LoadFootprints(dh, footprint, idx + hn::MaxLanes(d) / 2),
                       LoadFootprints(dh, footprint, idx));
  }
}
#endif

// The bilinear texels, as channel pairs br and ga, of the pixels whose texel
// indices are idx[0..N) and whose weights (0..255, in 1/256 texel) are fu, fv.
HWY_INLINE void FilterFootprints(const uint32_t* footprint, const uint32_t* idx, V32 fu, V32 fv,
                                 V16& br, V16& ga) {
  const D32 d;
#if SOFTBOARD_GATHER_FOOTPRINTS
  const DI32 di;
  const auto first = hn::ShiftLeft<2>(hn::BitCast(di, hn::Load(d, idx)));
  const V32 c00 = hn::GatherIndex(d, footprint, first);
  const V32 c10 = hn::GatherIndex(d, footprint, hn::Add(first, hn::Set(di, 1)));
  const V32 c01 = hn::GatherIndex(d, footprint, hn::Add(first, hn::Set(di, 2)));
  const V32 c11 = hn::GatherIndex(d, footprint, hn::Add(first, hn::Set(di, 3)));
#else
  const hn::Repartition<uint64_t, D32> d64;
  // Rows k = 0..3 hold the footprints of pixels k, k + 4, ...; a 4x4 transpose
  // in each block gives each corner of every pixel in pixel order.
  const V32 r0 = LoadFootprints(d, footprint, idx), r1 = LoadFootprints(d, footprint, idx + 1);
  const V32 r2 = LoadFootprints(d, footprint, idx + 2), r3 = LoadFootprints(d, footprint, idx + 3);
  const auto t0 = hn::BitCast(d64, hn::InterleaveLower(d, r0, r1));
  const auto t1 = hn::BitCast(d64, hn::InterleaveLower(d, r2, r3));
  const auto t2 = hn::BitCast(d64, hn::InterleaveUpper(d, r0, r1));
  const auto t3 = hn::BitCast(d64, hn::InterleaveUpper(d, r2, r3));
  const V32 c00 = hn::BitCast(d, hn::InterleaveLower(d64, t0, t1));
  const V32 c10 = hn::BitCast(d, hn::InterleaveUpper(d64, t0, t1));
  const V32 c01 = hn::BitCast(d, hn::InterleaveLower(d64, t2, t3));
  const V32 c11 = hn::BitCast(d, hn::InterleaveUpper(d64, t2, t3));
#endif
  const V16 wu = Weight7(fu), wv = Weight7(fv);
  br = Lerp8(Lerp8(PairBR(c00), PairBR(c10), wu), Lerp8(PairBR(c01), PairBR(c11), wu), wv);
  ga = Lerp8(Lerp8(PairGA(c00), PairGA(c10), wu), Lerp8(PairGA(c01), PairGA(c11), wu), wv);
}

// Level565 on a pair of channels with the same number of levels.
template <int kBits>
HWY_INLINE V16 LevelPair(V16 c, V16 offset) {
  const D16 d;
  const V16 y = hn::Add(hn::Mul(c, hn::Set(d, uint16_t((1 << kBits) - 1))), offset);
#if HWY_TARGET == HWY_NEON
  // (y * 257) >> 16 without NEON's costly multiply-high: y * 257 is y << 8
  // plus y, so it is (y + (y >> 8)) >> 8 (y is at most 16321).
  return hn::ShiftRight<8>(hn::Add(y, hn::ShiftRight<8>(y)));
#else
  return hn::MulHigh(y, hn::Set(d, 257));
#endif
}

// Quantize565 on a pair of channels with the same number of levels.
template <int kBits>
HWY_INLINE V16 QuantizePair(V16 c, V16 offset) {
  const V16 v = LevelPair<kBits>(c, offset);
  return hn::ShiftRight<2 * kBits - 8>(hn::Mul(v, hn::Set(D16(), uint16_t((1 << kBits) + 1))));
}

// The levels of blue and red (`br`) and of green (`ga`; its alpha lane is
// ignored) as each pixel's 5-6-5 value, r << 11 | g << 5 | b, in the low half
// of its lane: the rest of the lane is left over and dropped when stored.
HWY_INLINE V32 PackLevels(V16 br, V16 ga) {
  const D32 d;
  const V32 b = hn::BitCast(d, br), g = hn::BitCast(d, ga);
  return hn::Or(hn::Or(hn::ShiftRight<5>(b), b), hn::ShiftLeft<5>(g));
}

// A 5-bit field at the top of its 16-bit lane (the rest 0), widened to 8 bits
// by repeating its top bits: (v << 11) * 264 >> 16 is v * 33 / 4.
HWY_INLINE V16 WidenTop5(V16 f) {
#if HWY_TARGET == HWY_NEON  // two shifts, one accumulating: NEON's multiply-high is costly
  return hn::Add(hn::ShiftRight<8>(f), hn::ShiftRight<13>(f));
#else
  return hn::MulHigh(f, hn::Set(D16(), 264));
#endif
}
// A 6-bit field in bits 5..10 of its 16-bit lane (the rest 0), widened:
// (v << 5) * 8320 >> 16 is v * 65 / 16.
HWY_INLINE V16 WidenMiddle6(V16 f) {
#if HWY_TARGET == HWY_NEON
  return hn::Add(hn::ShiftRight<3>(f), hn::ShiftRight<9>(f));
#else
  return hn::MulHigh(f, hn::Set(D16(), 8320));
#endif
}

// 5-6-5 values, one a lane, as channel pairs widened to 8 bits; alpha lanes 0.
// Each field is moved where WidenTop5 or WidenMiddle6 takes it.
HWY_INLINE void Unpack565(V32 p, V16& br, V16& ga) {
  const D32 d;
  const D16 d16;
  const V32 b = hn::BitCast(d, hn::ShiftLeft<11>(hn::BitCast(d16, p)));  // high lanes 0
  const V32 r = hn::And(hn::ShiftLeft<16>(p), hn::Set(d, 0xF8000000u));
  const V32 g = hn::And(p, hn::Set(d, 0x07E0u));
  br = WidenTop5(hn::BitCast(d16, hn::Or(b, r)));
  ga = WidenMiddle6(hn::BitCast(d16, g));
}

// A span's pixels a group at a time: what lies under the group (Old, kept by
// the caller, as a vector cannot be a member), then the group stored. A span's
// last group works on a copy (in a Tail the caller keeps, so that the object
// itself stays in registers), so nothing past the span is touched.
template <PixelLayout kLayout>
class SpanPixels;

// Where masked loads and stores touch no lane outside the mask (AVX-512,
// SVE), a short group is read and written in place under one: a copy's
// bytes, read back as a vector, wait for every store that wrote them.
constexpr bool kMaskedTails = !HWY_MEM_OPS_MIGHT_FAULT;

// 0xAARRGGBB pixels, quantised to widened 5-6-5 values when the span has
// dither offsets.
template <>
class SpanPixels<PixelLayout::kArgb8888> {
 public:
  struct Tail {
    HWY_ALIGN uint32_t pixels[hn::MaxLanes(D32())];
  };
  SpanPixels(const SpanInputs& s, Tail& tail)
      : out_(s.row + s.x0), dither_(s.dither ? s.dither + s.x0 : nullptr), tail_(tail.pixels) {}

  // The next group: a vector of pixels, or the `left` that remain.
  HWY_INLINE void Begin(size_t left) {
    left_ = left;
    dst_ = out_;
    if (left < hn::Lanes(D32()) && !kMaskedTails) {
      std::memcpy(tail_, out_, left * 4);
      dst_ = tail_;
    }
  }

  HWY_INLINE V32 Old() const {
    const D32 d;
    if (kMaskedTails && left_ < hn::Lanes(d)) return hn::MaskedLoad(hn::FirstN(d, left_), d, out_);
    return hn::LoadU(d, dst_);
  }

  // The colour under the group, as channel pairs.
  static HWY_INLINE void Under(V32 old, V16& br, V16& ga) {
    br = PairBR(old);
    ga = PairGA(old);
  }

  HWY_INLINE void Store(V16 br, V16 ga, V32 alpha, V32 old, FusedAlphaWrite write) {
    const D32 d;
    const size_t n = hn::Lanes(d);
    if (dither_) {  // 16-bit colour: the 5-6-5 level of what is stored
      const V16 o = hn::BitCast(D16(), hn::LoadU(d, dither_));
      br = QuantizePair<5>(br, o);
      ga = QuantizePair<6>(ga, o);
      dither_ += n;
    }
    const V32 rgb = hn::And(Unpair(br, ga), hn::Set(d, 0x00FFFFFFu));
    V32 result = rgb;
    if (write == FusedAlphaWrite::kSource) result = hn::Or(rgb, hn::ShiftLeft<24>(alpha));
    if (write == FusedAlphaWrite::kKeep)
      result = hn::Or(rgb, hn::And(old, hn::Set(d, 0xFF000000u)));
    if (kMaskedTails && left_ < n) {
      hn::BlendedStore(result, hn::FirstN(d, left_), d, out_);
    } else {
      hn::StoreU(result, d, dst_);
      if (left_ < n) std::memcpy(out_, tail_, left_ * 4);
    }
    out_ += n;
  }

 private:
  uint32_t* out_;
  const uint32_t* dither_;
  uint32_t* tail_;
  uint32_t* dst_ = nullptr;
  size_t left_ = 0;
};

// 5-6-5 pixels and their alpha plane, quantised through the span's dither
// offsets.
template <>
class SpanPixels<PixelLayout::kRgb565> {
 public:
  struct Tail {
    HWY_ALIGN uint16_t rgb[hn::MaxLanes(D32())];
    HWY_ALIGN uint8_t alpha[hn::MaxLanes(D32())];
  };
  SpanPixels(const SpanInputs& s, Tail& tail)
      : rgb_(s.row565 + s.x0),
        alpha_(s.alpha + s.x0),
        dither_(s.dither + s.x0),
        tail_rgb_(tail.rgb),
        tail_alpha_(tail.alpha) {}

  HWY_INLINE void Begin(size_t left) {
    left_ = left;
    dst_rgb_ = rgb_;
    dst_alpha_ = alpha_;
    if (left < hn::Lanes(D32()) && !kMaskedTails) {
      std::memcpy(tail_rgb_, rgb_, left * 2);
      std::memcpy(tail_alpha_, alpha_, left);
      dst_rgb_ = tail_rgb_;
      dst_alpha_ = tail_alpha_;
    }
  }

  // The group's 5-6-5 values, one a lane.
  HWY_INLINE V32 Old() const {
    const D16Half d16h;
    if (kMaskedTails && left_ < hn::Lanes(D32()))
      return hn::PromoteTo(D32(), hn::MaskedLoad(hn::FirstN(d16h, left_), d16h, rgb_));
    return hn::PromoteTo(D32(), hn::LoadU(d16h, dst_rgb_));
  }

  static HWY_INLINE void Under(V32 old, V16& br, V16& ga) { Unpack565(old, br, ga); }

  // The alpha plane keeps its bytes unless the source alpha or 0 is written.
  HWY_INLINE void Store(V16 br, V16 ga, V32 alpha, V32 /*old*/, FusedAlphaWrite write) {
    const D16Half d16h;
    const D8Quarter d8q;
    const size_t n = hn::Lanes(D32());
    const V16 o = hn::BitCast(D16(), hn::LoadU(D32(), dither_));
    const V32 packed = PackLevels(LevelPair<5>(br, o), LevelPair<6>(ga, o));
    if (kMaskedTails && left_ < n) {
      hn::BlendedStore(hn::TruncateTo(d16h, packed), hn::FirstN(d16h, left_), d16h, rgb_);
      const auto in_span8 = hn::FirstN(d8q, left_);
      if (write == FusedAlphaWrite::kSource)
        hn::BlendedStore(hn::TruncateTo(d8q, alpha), in_span8, d8q, alpha_);
      if (write == FusedAlphaWrite::kZero) hn::BlendedStore(hn::Zero(d8q), in_span8, d8q, alpha_);
    } else {
      hn::StoreU(hn::TruncateTo(d16h, packed), d16h, dst_rgb_);
      if (write == FusedAlphaWrite::kSource)
        hn::StoreU(hn::TruncateTo(d8q, alpha), d8q, dst_alpha_);
      if (write == FusedAlphaWrite::kZero) hn::StoreU(hn::Zero(d8q), d8q, dst_alpha_);
      if (left_ < n) {
        std::memcpy(rgb_, tail_rgb_, left_ * 2);
        std::memcpy(alpha_, tail_alpha_, left_);
      }
    }
    rgb_ += n;
    alpha_ += n;
    dither_ += n;
  }

 private:
  uint16_t* rgb_;
  uint8_t* alpha_;
  const uint32_t* dither_;
  uint16_t* tail_rgb_;
  uint8_t* tail_alpha_;
  uint16_t* dst_rgb_ = nullptr;
  uint8_t* dst_alpha_ = nullptr;
  size_t left_ = 0;
};

// A perspective coordinate (s/w or t/w over 1/w) as the sampler's fixed
// point, clamped so that it converts; NaN goes low.
HWY_INLINE V32 PerspectiveFixed(hn::Vec<DF> x, float scale) {
  const DF df;
  const DI32 di;
  const auto lo = hn::Set(df, -1073741824.0f), hi = hn::Set(df, 1073741824.0f);
  x = hn::Add(hn::Mul(x, hn::Set(df, scale)), hn::Set(df, kBilinearOffset));
  x = hn::Min(hn::IfThenElse(hn::Ge(x, lo), x, lo), hi);
  return hn::BitCast(D32(), hn::ConvertTo(di, hn::Floor(x)));
}

// A 16.16 plane's values at a group's pixels, from the span's start.
HWY_INLINE V32 PlaneStart(uint32_t start, uint32_t step) {
  const D32 d;
  return hn::Add(hn::Set(d, start), hn::Mul(hn::Iota(d, 0), hn::Set(d, step)));
}

#endif  // HWY_TARGET != HWY_SCALAR

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#endif  // SOFTBOARD_PIXEL_SIMD_INL_H_ toggle
