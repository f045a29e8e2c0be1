// Pixels of a span in u32 lanes, one pixel a lane (0xAARRGGBB). Channel
// arithmetic works on pairs: (p & 0x00FF00FF) holds blue and red, and
// (p >> 8 & 0x00FF00FF) green and alpha, each in its own 16-bit lane, so every
// multiply is a 16-bit one. The arithmetic is the general loop's, to the bit.
// Vectors are only ever locals and arguments, never members of a class or
// elements of an array: on SVE their size is known only at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pixel/pixel_kernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstring>

#include "pixel/pixel_kernels.h"
#include "pixel/sampler.h"

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

inline void DitherPlain(uint32_t* pixels, int n, const uint32_t* offsets) {
  for (int i = 0; i < n; i++) {
    const uint32_t p = pixels[i], t = offsets[i] & 0xFFFF;
    pixels[i] = (p & 0xFF000000u) | Quantize565(p >> 16 & 255, 5, t) << 16 |
                Quantize565(p >> 8 & 255, 6, t) << 8 | Quantize565(p & 255, 5, t);
  }
}

// 16-bit pixels are stored in buffers of 32-bit ones.
using Aliased16 = uint16_t __attribute__((may_alias));

inline void Pack565Plain(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb,
                         uint8_t* alpha) {
  for (int i = 0; i < n; i++) {
    const uint32_t p = pixels[i], t = offsets[i] & 0xFFFF;
    reinterpret_cast<Aliased16*>(rgb)[i] =
        uint16_t(Level565(p >> 16 & 255, 5, t) << 11 | Level565(p >> 8 & 255, 6, t) << 5 |
                 Level565(p & 255, 5, t));
    alpha[i] = uint8_t(p >> 24);
  }
}

inline void Widen565Plain(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out) {
  for (int i = 0; i < n; i++)
    out[i] = WidenPixel565(reinterpret_cast<const Aliased16*>(rgb)[i], alpha[i]);
}
}  // namespace softboard
#endif

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

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

// Bilinear8 on pairs: rows rounded to 8 bits, then the rows.
HWY_INLINE V16 Lerp8(V16 a, V16 b, V16 wa, V16 wb) {
  const auto sum = hn::Add(hn::Add(hn::Mul(a, wa), hn::Mul(b, wb)), hn::Set(D16(), 128));
  return hn::ShiftRight<8>(sum);
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
  const V16 wu1 = Both(fu), wv1 = Both(fv);
  const V16 full = hn::Set(D16(), 256);
  const V16 wu0 = hn::Sub(full, wu1), wv0 = hn::Sub(full, wv1);
  br = Lerp8(Lerp8(PairBR(c00), PairBR(c10), wu0, wu1), Lerp8(PairBR(c01), PairBR(c11), wu0, wu1),
             wv0, wv1);
  ga = Lerp8(Lerp8(PairGA(c00), PairGA(c10), wu0, wu1), Lerp8(PairGA(c01), PairGA(c11), wu0, wu1),
             wv0, wv1);
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
template <bool k565>
class SpanPixels;

// 0xAARRGGBB pixels, quantised to widened 5-6-5 values when the span has
// dither offsets.
template <>
class SpanPixels<false> {
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
    if (left < hn::Lanes(D32())) {
      std::memcpy(tail_, out_, left * 4);
      dst_ = tail_;
    }
  }

  HWY_INLINE V32 Old() const { return hn::LoadU(D32(), dst_); }

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
    hn::StoreU(result, d, dst_);
    if (left_ < n) std::memcpy(out_, tail_, left_ * 4);
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
class SpanPixels<true> {
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
    if (left < hn::Lanes(D32())) {
      std::memcpy(tail_rgb_, rgb_, left * 2);
      std::memcpy(tail_alpha_, alpha_, left);
      dst_rgb_ = tail_rgb_;
      dst_alpha_ = tail_alpha_;
    }
  }

  // The group's 5-6-5 values, one a lane.
  HWY_INLINE V32 Old() const { return hn::PromoteTo(D32(), hn::LoadU(D16Half(), dst_rgb_)); }

  static HWY_INLINE void Under(V32 old, V16& br, V16& ga) { Unpack565(old, br, ga); }

  // The alpha plane keeps its bytes unless the source alpha or 0 is written.
  HWY_INLINE void Store(V16 br, V16 ga, V32 alpha, V32 /*old*/, FusedAlphaWrite write) {
    const D16Half d16h;
    const D8Quarter d8q;
    const size_t n = hn::Lanes(D32());
    const V16 o = hn::BitCast(D16(), hn::LoadU(D32(), dither_));
    const V32 packed = PackLevels(LevelPair<5>(br, o), LevelPair<6>(ga, o));
    hn::StoreU(hn::TruncateTo(d16h, packed), d16h, dst_rgb_);
    if (write == FusedAlphaWrite::kSource) hn::StoreU(hn::TruncateTo(d8q, alpha), d8q, dst_alpha_);
    if (write == FusedAlphaWrite::kZero) hn::StoreU(hn::Zero(d8q), d8q, dst_alpha_);
    if (left_ < n) {
      std::memcpy(rgb_, tail_rgb_, left_ * 2);
      std::memcpy(alpha_, tail_alpha_, left_);
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

enum class Coords { kNone, kAffine, kPerspective };

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

// Texture coordinates along the span, a group of lanes at a time: affine ones
// stepped in wrapping fixed point (u, v), perspective ones worked out from
// the pixels' numbers along the span (k). The caller keeps those vectors; the
// span's inputs are copied, as stores to its row could alias them in memory.
template <Coords kCoords>
struct TexCoords {
  struct Inputs {
    uint32_t u, v, du, dv;
    float sow, tow, oow, dsow, dtow, doow;
  };
  TexCoords(const SampledTexture& texture, const SpanInputs& span)
      : t(texture), s{span.u,   span.v,   span.du,   span.dv,   span.sow,
                      span.tow, span.oow, span.dsow, span.dtow, span.doow} {}

  const SampledTexture& t;
  const Inputs s;

  // The first group's.
  HWY_INLINE void Start(V32& u, V32& v, hn::Vec<DF>& k) const {
    const D32 d;
    u = hn::Add(hn::Set(d, s.u), hn::Mul(hn::Iota(d, 0), hn::Set(d, s.du)));
    v = hn::Add(hn::Set(d, s.v), hn::Mul(hn::Iota(d, 0), hn::Set(d, s.dv)));
    k = hn::Iota(DF(), 0.0f);
  }

  // The texel indices of this group's pixels (stored to idx) and their
  // weights; then on to the next group.
  HWY_INLINE void Texels(V32& u, V32& v, hn::Vec<DF>& k, uint32_t* idx, V32& fu, V32& fv) const {
    const D32 d;
    const size_t n = hn::Lanes(d);
    const V32 low8 = hn::Set(d, 255u);
    V32 iu, iv;
    if constexpr (kCoords == Coords::kAffine) {
      const V32 tu = hn::ShiftRightSame(u, 24 - t.width_log2);
      const V32 tv = hn::ShiftRightSame(v, 24 - t.height_log2);
      iu = hn::ShiftRight<8>(tu);  // within the texture: the fixed point wraps
      iv = hn::ShiftRight<8>(tv);
      fu = hn::And(tu, low8);
      fv = hn::And(tv, low8);
      u = hn::Add(u, hn::Set(d, s.du * uint32_t(n)));
      v = hn::Add(v, hn::Set(d, s.dv * uint32_t(n)));
    } else {
      const DF df;
      const DI32 di;
      const auto q = hn::Add(hn::Set(df, s.oow), hn::Mul(k, hn::Set(df, s.doow)));
      const auto ss = hn::Div(hn::Add(hn::Set(df, s.sow), hn::Mul(k, hn::Set(df, s.dsow))), q);
      const auto tt = hn::Div(hn::Add(hn::Set(df, s.tow), hn::Mul(k, hn::Set(df, s.dtow))), q);
      k = hn::Add(k, hn::Set(df, float(n)));
      const V32 cu = PerspectiveFixed(ss, t.scale), cv = PerspectiveFixed(tt, t.scale);
      iu = hn::And(hn::BitCast(d, hn::ShiftRight<8>(hn::BitCast(di, cu))),
                   hn::Set(d, uint32_t(t.width - 1)));
      iv = hn::And(hn::BitCast(d, hn::ShiftRight<8>(hn::BitCast(di, cv))),
                   hn::Set(d, uint32_t(t.height - 1)));
      fu = hn::And(cu, low8);
      fv = hn::And(cv, low8);
    }
    hn::Store(hn::Add(hn::ShiftLeftSame(iv, t.width_log2), iu), d, idx);
  }
};

// A 16.16 plane's values at a group's pixels, from the span's start.
HWY_INLINE V32 PlaneStart(uint32_t start, uint32_t step) {
  const D32 d;
  return hn::Add(hn::Set(d, start), hn::Mul(hn::Iota(d, 0), hn::Set(d, step)));
}

// k565: the span is a 5-6-5 row's (row565, alpha), quantised through
// span.dither; otherwise an 8-bit row's, quantised when span.dither is set.
template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, bool k565>
void FusedSpan(const TriangleInputs& tri, const SpanInputs& span) {
  const D32 d;
  const D16 d16;
  constexpr size_t kMaxN = hn::MaxLanes(D32());
  const size_t n = hn::Lanes(d);
  const FusedKind& kind = tri.fused;
  const uint32_t* footprint = tri.texture.footprint;

  V32 red = PlaneStart(span.color[0], span.color_step[0]);
  V32 green = PlaneStart(span.color[1], span.color_step[1]);
  V32 blue = PlaneStart(span.color[2], span.color_step[2]);
  V32 iterated_alpha = PlaneStart(span.color[3], span.color_step[3]);
  const V32 red_step = hn::Set(d, span.color_step[0] * uint32_t(n));
  const V32 green_step = hn::Set(d, span.color_step[1] * uint32_t(n));
  const V32 blue_step = hn::Set(d, span.color_step[2] * uint32_t(n));
  const V32 alpha_step = hn::Set(d, span.color_step[3] * uint32_t(n));
  const V32 constant_alpha = hn::Set(d, tri.state.constant.a);
  const bool alpha_constant = kind.alpha == FusedAlpha::kConstant;
  const V16 constant_alpha_pair = Both(constant_alpha);
  const TexCoords<kCoords> coords(tri.texture, span);
  // Texel indices go through memory, a group ahead: the next group's addresses
  // are ready while this one filters, and scalar loads of them beat
  // extracting lanes one by one.
  HWY_ALIGN uint32_t idx[2][kMaxN];
  V32 fu = hn::Zero(d), fv = hn::Zero(d), u, v;
  hn::Vec<DF> k;
  if constexpr (kCoords != Coords::kNone) {
    coords.Start(u, v, k);
    coords.Texels(u, v, k, idx[0], fu, fv);
  }
  typename SpanPixels<k565>::Tail tail;
  SpanPixels<k565> pixels(span, tail);
  for (int i = 0, group = 0; i < span.count; i += int(n), group ^= 1) {
    pixels.Begin(size_t(span.count - i));
    // Read only where it is used: a 5-6-5 group's unused load crashed GCC 12's
    // SLP vectorizer on the fixed-length SVE targets.
    V32 old = hn::Zero(d);
    if constexpr (kBlend == FusedBlend::kSrcAlpha || !k565) old = pixels.Old();
    V16 texel_br = hn::Zero(d16), texel_ga = hn::Zero(d16);
    if constexpr (kCoords != Coords::kNone) {
      V32 next_fu, next_fv;
      // One group past the end is harmless.
      coords.Texels(u, v, k, idx[group ^ 1], next_fu, next_fv);
      FilterFootprints(footprint, idx[group], fu, fv, texel_br, texel_ga);
      fu = next_fu;
      fv = next_fv;
    }
    V16 src_br, src_ga;
    if constexpr (kColor == FusedColor::kTexture) {
      src_br = texel_br;
      src_ga = texel_ga;
    } else {
      const V32 r = Channel8(red), g = Channel8(green), b = Channel8(blue);
      src_br = hn::BitCast(d16, hn::Or(b, hn::ShiftLeft<16>(r)));
      src_ga = hn::BitCast(d16, g);
      if constexpr (kColor == FusedColor::kTextureTimesIterated) {
        src_br = Mul255(texel_br, src_br);
        src_ga = Mul255(texel_ga, src_ga);
      }
    }
    V32 alpha = constant_alpha;
    if (kind.alpha == FusedAlpha::kIterated) alpha = Channel8(iterated_alpha);
    if (kind.alpha == FusedAlpha::kTexture) alpha = hn::ShiftRight<16>(hn::BitCast(d, texel_ga));

    V16 out_br = src_br, out_ga = src_ga;
    if constexpr (kBlend == FusedBlend::kSrcAlpha) {
      V16 under_br, under_ga;
      SpanPixels<k565>::Under(old, under_br, under_ga);
      const V16 a = alpha_constant ? constant_alpha_pair : Both(alpha);
      const V16 ia = hn::Sub(hn::Set(d16, 255), a);
      out_br = Div255(hn::Add(hn::Mul(src_br, a), hn::Mul(under_br, ia)));
      out_ga = Div255(hn::Add(hn::Mul(src_ga, a), hn::Mul(under_ga, ia)));
    }
    pixels.Store(out_br, out_ga, alpha, old, kind.alpha_write);
    red = hn::Add(red, red_step);
    green = hn::Add(green, green_step);
    blue = hn::Add(blue, blue_step);
    iterated_alpha = hn::Add(iterated_alpha, alpha_step);
  }
}

// 5-6-5 values, one a 16-bit lane, as one vector a channel widened to 8 bits
// (see Unpack565).
HWY_INLINE void UnpackPlanar565(V16 p, V16& r, V16& g, V16& b) {
  const D16 d;
  r = WidenTop5(hn::And(p, hn::Set(d, 0xF800)));
  g = WidenMiddle6(hn::And(p, hn::Set(d, 0x07E0)));
  b = WidenTop5(hn::ShiftLeft<11>(p));
}

// A channel's values at a group of 16-bit lanes: the integer parts (the upper
// halves) of its 16.16 values at the group's first and second halves, `first`
// and first + `half`, clamped to 0..255.
HWY_INLINE V16 Channel16(V32 first, V32 half) {
  const D16 d16;
  const hn::RebindToSigned<D16> di16;
  const V32 second = hn::Add(first, half);
  const auto whole =
      hn::BitCast(di16, hn::ConcatOdd(d16, hn::BitCast(d16, second), hn::BitCast(d16, first)));
  return hn::BitCast(d16, hn::Min(hn::Max(whole, hn::Zero(di16)), hn::Set(di16, 255)));
}

// Gouraud spans on a 5-6-5 row, a channel a vector of 16-bit lanes: a group is
// twice the pixels of a 32-bit vector, and nothing is spent on alpha lanes or
// on pairing channels, as the 5-6-5 pixel needs neither. The arithmetic is the
// general loop's, to the bit.
template <FusedBlend kBlend>
void GouraudSpan565(const TriangleInputs& tri, const SpanInputs& span) {
  const D32 d;
  const D16 d16;
  const hn::RebindToSigned<D16> di16;
  const hn::Rebind<uint8_t, D16> d8;
  const size_t n = hn::Lanes(d), n16 = hn::Lanes(d16);
  const FusedKind& kind = tri.fused;
  // Each channel in 16.16 at the group's first half; the second half is
  // `half` on, the next group `step` on.
  V32 red = PlaneStart(span.color[0], span.color_step[0]);
  V32 green = PlaneStart(span.color[1], span.color_step[1]);
  V32 blue = PlaneStart(span.color[2], span.color_step[2]);
  V32 alpha = PlaneStart(span.color[3], span.color_step[3]);
  const V32 red_half = hn::Set(d, span.color_step[0] * uint32_t(n));
  const V32 green_half = hn::Set(d, span.color_step[1] * uint32_t(n));
  const V32 blue_half = hn::Set(d, span.color_step[2] * uint32_t(n));
  const V32 alpha_half = hn::Set(d, span.color_step[3] * uint32_t(n));
  const V32 red_step = hn::Add(red_half, red_half), green_step = hn::Add(green_half, green_half);
  const V32 blue_step = hn::Add(blue_half, blue_half);
  const V32 alpha_step = hn::Add(alpha_half, alpha_half);
  const V16 constant_alpha = hn::Set(d16, tri.state.constant.a);
  const uint32_t* offsets = span.dither + span.x0;
  uint16_t* out = span.row565 + span.x0;
  uint8_t* out_alpha = span.alpha + span.x0;
  HWY_ALIGN uint16_t tail[hn::MaxLanes(d16)];
  HWY_ALIGN uint8_t tail_alpha[hn::MaxLanes(d16)];
  for (int i = 0; i < span.count; i += int(n16)) {
    const size_t left = size_t(span.count - i);
    uint16_t* dst = out;
    uint8_t* dst_alpha = out_alpha;
    if (left < n16) {  // the span's last pixels: work on a copy
      std::memcpy(tail, out, left * 2);
      std::memcpy(tail_alpha, out_alpha, left);
      dst = tail;
      dst_alpha = tail_alpha;
    }
    V16 r = Channel16(red, red_half), g = Channel16(green, green_half);
    V16 b = Channel16(blue, blue_half);
    const V16 a =
        kind.alpha == FusedAlpha::kIterated ? Channel16(alpha, alpha_half) : constant_alpha;
    if constexpr (kBlend == FusedBlend::kSrcAlpha) {
      V16 under_r, under_g, under_b;
      UnpackPlanar565(hn::LoadU(d16, dst), under_r, under_g, under_b);
      const V16 ia = hn::Sub(hn::Set(d16, 255), a);
      r = Div255(hn::Add(hn::Mul(r, a), hn::Mul(under_r, ia)));
      g = Div255(hn::Add(hn::Mul(g, a), hn::Mul(under_g, ia)));
      b = Div255(hn::Add(hn::Mul(b, a), hn::Mul(under_b, ia)));
    }
    // Each pixel's offset is in both halves of its 32-bit entry.
    const V16 o = hn::ConcatEven(d16, hn::BitCast(d16, hn::LoadU(d, offsets + i + n)),
                                 hn::BitCast(d16, hn::LoadU(d, offsets + i)));
    const V16 packed =
        hn::Or(hn::Or(hn::ShiftLeft<11>(LevelPair<5>(r, o)), hn::ShiftLeft<5>(LevelPair<6>(g, o))),
               LevelPair<5>(b, o));
    hn::StoreU(packed, d16, dst);
    if (kind.alpha_write == FusedAlphaWrite::kSource)
      hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di16, a)), d8, dst_alpha);
    if (kind.alpha_write == FusedAlphaWrite::kZero) hn::StoreU(hn::Zero(d8), d8, dst_alpha);
    if (left < n16) {
      std::memcpy(out, tail, left * 2);
      std::memcpy(out_alpha, tail_alpha, left);
    }
    out += n16;
    out_alpha += n16;
    red = hn::Add(red, red_step);
    green = hn::Add(green, green_step);
    blue = hn::Add(blue, blue_step);
    alpha = hn::Add(alpha, alpha_step);
  }
}

template <FusedColor kColor, FusedBlend kBlend, bool k565>
SpanLoop ForCoords(const FusedKind& kind) {
  if (!kind.textured) {
    if constexpr (k565 && kColor == FusedColor::kIterated)
      return &GouraudSpan565<kBlend>;
    else
      return &FusedSpan<kColor, kBlend, Coords::kNone, k565>;
  }
  if (kind.perspective) return &FusedSpan<kColor, kBlend, Coords::kPerspective, k565>;
  return &FusedSpan<kColor, kBlend, Coords::kAffine, k565>;
}

template <FusedColor kColor, bool k565>
SpanLoop ForBlend(const FusedKind& kind) {
  return kind.blend == FusedBlend::kReplace ? ForCoords<kColor, FusedBlend::kReplace, k565>(kind)
                                            : ForCoords<kColor, FusedBlend::kSrcAlpha, k565>(kind);
}

template <bool k565>
SpanLoop ForColor(const FusedKind& kind) {
  switch (kind.color) {
    case FusedColor::kTexture: return ForBlend<FusedColor::kTexture, k565>(kind);
    case FusedColor::kIterated: return ForBlend<FusedColor::kIterated, k565>(kind);
    case FusedColor::kTextureTimesIterated:
      return ForBlend<FusedColor::kTextureTimesIterated, k565>(kind);
  }
  return nullptr;
}

SpanLoop ChooseLoop(const FusedKind& kind, bool rgb565) {
  return rgb565 ? ForColor<true>(kind) : ForColor<false>(kind);
}

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

#else  // HWY_SCALAR: one lane; the general loop does the work.

SpanLoop ChooseLoop(const FusedKind&, bool) {
  return nullptr;
}

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

void AverageDownImpl(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                     size_t out_stride) {
  const int out_width = width / ssaa;
  for (int y = 0; y < height / ssaa; y++) {
    AverageDownPlain(pixels + size_t(y) * ssaa * size_t(width), width, ssaa, 0, out_width,
                     out + size_t(y) * out_stride);
  }
}

#endif

const char* TargetName() {
  return hwy::TargetName(HWY_TARGET);
}

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(ChooseLoop);
HWY_EXPORT(TargetName);
HWY_EXPORT(AverageDownImpl);
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

void AverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                 size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(AverageDownImpl)
  (pixels, width, height, ssaa, out, out_stride ? out_stride : size_t(width / ssaa));
}

SpanLoop ChooseFusedLoop(const FusedKind& kind, bool rgb565) {
  return HWY_DYNAMIC_DISPATCH(ChooseLoop)(kind, rgb565);
}

const char* FusedTargetName() {
  return HWY_DYNAMIC_DISPATCH(TargetName)();
}

}  // namespace softboard
#endif
