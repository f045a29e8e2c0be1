// The fused loops; see fused_loops.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pixel/fused_loops.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstring>

#include "pixel/fused_loops.h"
#include "pixel/rgb565.h"
#include "pixel/sampler.h"
#include "pixel/simd-inl.h"

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR

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
    u = PlaneStart(s.u, s.du);
    v = PlaneStart(s.v, s.dv);
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

// kRgb565: the span is a 5-6-5 row's (row565, alpha), quantised through
// span.dither; otherwise an 8-bit row's, quantised when span.dither is set.
template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, PixelLayout kLayout>
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
  typename SpanPixels<kLayout>::Tail tail;
  SpanPixels<kLayout> pixels(span, tail);
  for (int i = 0, group = 0; i < span.count; i += int(n), group ^= 1) {
    pixels.Begin(size_t(span.count - i));
    // Read only where it is used: a 5-6-5 group's unused load crashed GCC 12's
    // SLP vectorizer on the fixed-length SVE targets.
    V32 old = hn::Zero(d);
    if constexpr (kBlend == FusedBlend::kSrcAlpha || kLayout == PixelLayout::kArgb8888)
      old = pixels.Old();
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
      SpanPixels<kLayout>::Under(old, under_br, under_ga);
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
    const bool masked = kMaskedTails && left < n16;  // the span's last pixels: in place
    const auto in_span = hn::FirstN(d16, left);
    if (left < n16 && !masked) {  // or on a copy
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
      UnpackPlanar565(masked ? hn::MaskedLoad(in_span, d16, dst) : hn::LoadU(d16, dst), under_r,
                      under_g, under_b);
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
    if (masked) {
      hn::BlendedStore(packed, in_span, d16, dst);
      const auto in_span8 = hn::FirstN(d8, left);
      if (kind.alpha_write == FusedAlphaWrite::kSource)
        hn::BlendedStore(hn::DemoteTo(d8, hn::BitCast(di16, a)), in_span8, d8, dst_alpha);
      if (kind.alpha_write == FusedAlphaWrite::kZero)
        hn::BlendedStore(hn::Zero(d8), in_span8, d8, dst_alpha);
    } else {
      hn::StoreU(packed, d16, dst);
      if (kind.alpha_write == FusedAlphaWrite::kSource)
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di16, a)), d8, dst_alpha);
      if (kind.alpha_write == FusedAlphaWrite::kZero) hn::StoreU(hn::Zero(d8), d8, dst_alpha);
    }
    if (left < n16 && !masked) {
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

template <FusedColor kColor, FusedBlend kBlend, PixelLayout kLayout>
SpanLoop ForCoords(const FusedKind& kind) {
  switch (kind.coords) {
    case Coords::kNone:
      if constexpr (kLayout == PixelLayout::kRgb565 && kColor == FusedColor::kIterated)
        return &GouraudSpan565<kBlend>;
      else
        return &FusedSpan<kColor, kBlend, Coords::kNone, kLayout>;
    case Coords::kAffine: return &FusedSpan<kColor, kBlend, Coords::kAffine, kLayout>;
    case Coords::kPerspective: return &FusedSpan<kColor, kBlend, Coords::kPerspective, kLayout>;
  }
  return nullptr;
}

template <FusedColor kColor, PixelLayout kLayout>
SpanLoop ForBlend(const FusedKind& kind) {
  return kind.blend == FusedBlend::kReplace
             ? ForCoords<kColor, FusedBlend::kReplace, kLayout>(kind)
             : ForCoords<kColor, FusedBlend::kSrcAlpha, kLayout>(kind);
}

template <PixelLayout kLayout>
SpanLoop ForColor(const FusedKind& kind) {
  switch (kind.color) {
    case FusedColor::kTexture: return ForBlend<FusedColor::kTexture, kLayout>(kind);
    case FusedColor::kIterated: return ForBlend<FusedColor::kIterated, kLayout>(kind);
    case FusedColor::kTextureTimesIterated:
      return ForBlend<FusedColor::kTextureTimesIterated, kLayout>(kind);
  }
  return nullptr;
}

SpanLoop ChooseLoop(const FusedKind& kind, PixelLayout layout) {
  return layout == PixelLayout::kRgb565 ? ForColor<PixelLayout::kRgb565>(kind)
                                        : ForColor<PixelLayout::kArgb8888>(kind);
}

#else  // HWY_SCALAR: one lane.

SpanLoop ChooseLoop(const FusedKind&, PixelLayout) {
  return nullptr;  // the general loop draws every state
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

SpanLoop ChooseFusedLoop(const FusedKind& kind, PixelLayout layout) {
  return HWY_DYNAMIC_DISPATCH(ChooseLoop)(kind, layout);
}

const char* FusedTargetName() {
  return HWY_DYNAMIC_DISPATCH(TargetName)();
}

}  // namespace softboard
#endif
