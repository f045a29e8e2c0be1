// The fused loops of the texture units' path; see fused_loops_mipmap.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pixel/fused_loops_mipmap.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstring>

#include "pixel/fused_loops_mipmap.h"
#include "pixel/lod.h"
#include "pixel/sampler.h"
#include "pixel/simd-inl.h"
#include "pixel/texture_units.h"

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR

using VI32 = hn::Vec<DI32>;
using VF = hn::Vec<DF>;

// HoldLevel on lanes.
HWY_INLINE VI32 Hold(VI32 level, int levels) {
  const DI32 di;
  return hn::Min(hn::Max(level, hn::Zero(di)), hn::Set(di, levels - 1));
}

// The LOD dither values of the group's pixels (0 where the row has none).
HWY_INLINE VI32 DitherValues(const uint8_t* row, size_t i) {
  const DI32 di;
  if (row == nullptr) return hn::Zero(di);
  return hn::BitCast(di, hn::PromoteTo(D32(), hn::LoadU(D8Quarter(), row + i)));
}

#if HWY_HAVE_FLOAT64
// floor(128 log2 m) of mantissas m in [1, 2], each rounded to a float: m
// halved from 1.5 on, 2 atanh(s) of s = (m - 1) / (m + 1) to s^9 is within
// 1e-5 of 128 log2 m, so the floor is sure unless that lies within 2^-10 of
// an integer; `unsure` marks those lanes (the tables decide them). The tests
// check every float in [1, 2].
template <class D>
HWY_INLINE hn::Vec<hn::RebindToSigned<D>> Log2x128(D df, hn::Vec<D> m, hn::Mask<D>& unsure) {
  const hn::RebindToSigned<D> di;
  const auto one = hn::Set(df, 1.0f);
  const auto upper = hn::Ge(m, hn::Set(df, 1.5f));
  m = hn::IfThenElse(upper, hn::Mul(m, hn::Set(df, 0.5f)), m);
  const auto s = hn::Div(hn::Sub(m, one), hn::Add(m, one));
  const auto s2 = hn::Mul(s, s);
  constexpr float k = 369.329930467574632f;  // 256 / ln 2
  auto p = hn::MulAdd(hn::Set(df, k / 9), s2, hn::Set(df, k / 7));
  p = hn::MulAdd(p, s2, hn::Set(df, k / 5));
  p = hn::MulAdd(p, s2, hn::Set(df, k / 3));
  p = hn::MulAdd(p, s2, hn::Set(df, k));
  const auto t = hn::Add(hn::Mul(p, s), hn::IfThenElseZero(upper, hn::Set(df, 128.0f)));
  const auto whole = hn::Floor(t);
  const auto fraction = hn::Sub(t, whole);
  constexpr float kMargin = 1.0f / 1024;
  unsure =
      hn::Or(hn::Lt(fraction, hn::Set(df, kMargin)), hn::Gt(fraction, hn::Set(df, 1 - kMargin)));
  return hn::ConvertTo(di, whole);
}

// UnitLodAt of the group's pixels from pixel i on, in double lanes a half
// group at a time: rho^2 by the same arithmetic; floor(128 log2 rho^2) by
// the exact tables, or its exponent and Log2x128 of its mantissa.
template <bool kTables>
HWY_INLINE void LodHalf(const SampledUnit& unit, const UnitSpan& s, size_t i, int32_t* lod,
                        hn::Vec<hn::Half<DF>>* mantissa_out) {
  using D64 = hn::Repartition<double, D32>;
  const D64 dd;
  const hn::RebindToUnsigned<D64> du;
  const hn::RebindToSigned<D64> dsi;
  const hn::Rebind<int32_t, D64> d32h;
  const hn::Rebind<uint32_t, D64> du32h;
  const auto k = hn::Iota(dd, double(i));
  const auto q = hn::Add(hn::Set(dd, s.q), hn::Mul(k, hn::Set(dd, unit.dq)));
  const auto bs = hn::Add(hn::Set(dd, s.bs), hn::Mul(k, hn::Set(dd, unit.dbs)));
  const auto bt = hn::Add(hn::Set(dd, s.bt), hn::Mul(k, hn::Set(dd, unit.dbt)));
  const auto x_term = hn::Set(dd, s.x_term);
  const auto y_term = hn::Add(hn::Mul(bs, bs), hn::Mul(bt, bt));
  const auto m = hn::IfThenElse(hn::Gt(x_term, y_term), x_term, y_term);
  const auto q2 = hn::Mul(q, q);
  auto r = hn::Div(hn::Mul(m, hn::Set(dd, unit.texel_scale2)), hn::Mul(q2, q2));
  r = hn::IfThenElse(hn::Not(hn::Le(r, hn::Set(dd, kRho2Max))), hn::Set(dd, kRho2Max), r);
  r = hn::IfThenElse(hn::Lt(r, hn::Set(dd, kRho2Min)), hn::Set(dd, kRho2Min), r);
  const auto bits = hn::BitCast(du, r);
  const auto mantissa = hn::BitCast(dd, hn::Or(hn::And(bits, hn::Set(du, 0x000FFFFFFFFFFFFFull)),
                                               hn::Set(du, 0x3FF0000000000000ull)));
  if constexpr (!kTables) {
    // The exponent and bias now, the mantissa's part when the group's are in.
    const auto exponent = hn::BitCast(d32h, hn::TruncateTo(du32h, hn::ShiftRight<52>(bits)));
    hn::StoreU(hn::Add(hn::ShiftLeft<7>(hn::Sub(exponent, hn::Set(d32h, 1023))),
                       hn::Set(d32h, 64 * unit.bias_quarters)),
               d32h, lod);
    *mantissa_out = hn::DemoteTo(hn::Half<DF>(), mantissa);
    return;
  }
  // The mantissa's bin and its threshold.
  const LodTables& tables = TheLodTables();
  const auto two52 = hn::Set(dd, 4503599627370496.0);
  const auto biased =
      hn::Sub(hn::BitCast(dd, hn::Or(hn::ShiftRight<52>(bits), hn::BitCast(du, two52))), two52);
  const auto bin = hn::BitCast(dsi, hn::And(hn::ShiftRight<44>(bits), hn::Set(du, 255)));
  const auto base = hn::GatherIndex(dd, tables.base, bin);
  const auto threshold = hn::GatherIndex(dd, tables.threshold, bin);
  const auto above = hn::IfThenElseZero(hn::Ge(mantissa, threshold), hn::Set(dd, 1.0));
  const auto value =
      hn::Add(hn::Add(hn::Mul(hn::Sub(biased, hn::Set(dd, 1023.0)), hn::Set(dd, 128.0)),
                      hn::Add(base, above)),
              hn::Set(dd, 64.0 * unit.bias_quarters));
  hn::StoreU(hn::DemoteTo(d32h, value), d32h, lod);
}
#endif

// UnitLodAt of the group's pixels, from pixel i on.
HWY_INLINE VI32 LodGroup(const SampledUnit& unit, const UnitSpan& s, size_t i) {
  const DI32 di;
  const size_t n = hn::Lanes(di);
  HWY_ALIGN int32_t lod[hn::MaxLanes(DI32())];
#if HWY_HAVE_FLOAT64
  const DF df;
  const size_t half = n / 2;
  hn::Vec<hn::Half<DF>> low, high;
  LodHalf<false>(unit, s, i, lod, &low);
  LodHalf<false>(unit, s, i + half, lod + half, &high);
  hn::Mask<DF> unsure;
  const VI32 fraction = Log2x128(df, hn::Combine(df, high, low), unsure);
  if (HWY_LIKELY(hn::AllFalse(df, unsure))) return hn::Add(hn::Load(di, lod), fraction);
  LodHalf<true>(unit, s, i, lod, nullptr);
  LodHalf<true>(unit, s, i + half, lod + half, nullptr);
#else
  // No double lanes (WebAssembly's SIMD here): the same, a pixel at a time.
  for (size_t j = 0; j < n; j++) lod[j] = UnitLodAt(unit, s, int(i + j)).value;
#endif
  return hn::Load(di, lod);
}

// The coordinate in 1/256 texel of a level whose longer side is `scale`, a
// lane each: PerspectiveFixed's arithmetic.
HWY_INLINE VI32 LevelFixed(VF x, VF scale) {
  const DF df;
  const DI32 di;
  const auto lo = hn::Set(df, -1073741824.0f), hi = hn::Set(df, 1073741824.0f);
  x = hn::Add(hn::Mul(x, scale), hn::Set(df, kBilinearOffset));
  x = hn::Min(hn::IfThenElse(hn::Ge(x, lo), x, lo), hi);
  return hn::ConvertTo(di, hn::Floor(x));
}

// The texel column or row (i, before the mask) and weight f of a coordinate
// in 1/256 texel on a side of mask + 1 texels: wrapped, or clamped to the
// edge texels, where a sample beyond the last texel centre is that texel
// (weight 0 on a neighbour that would lie past the edge).
HWY_INLINE void Address(VI32 c, V32 mask, bool wrap, V32& i, V32& f) {
  const D32 d;
  const DI32 di;
  i = hn::BitCast(d, hn::ShiftRight<8>(c));
  f = hn::And(hn::BitCast(d, c), hn::Set(d, 255u));
  if (wrap) {
    i = hn::And(i, mask);
    return;
  }
  const auto low = hn::RebindMask(d, hn::Lt(hn::BitCast(di, i), hn::Zero(di)));
  const auto high = hn::RebindMask(d, hn::Not(hn::Lt(hn::BitCast(di, i), hn::BitCast(di, mask))));
  i = hn::IfThenElse(low, hn::Zero(d), hn::IfThenElse(high, mask, i));
  f = hn::IfThenZeroElse(hn::Or(low, high), f);
}

// A bilinear tap of the level `level` (a lane each) at perspective
// coordinates (ss, tt): its texel indices (stored to idx) and its weights.
// Mostly a group's lanes share a level, which is then taken whole.
HWY_INLINE void PerspectiveTap(const SampledUnit& unit, const UnitMode& mode, VF ss, VF tt,
                               VI32 level, uint32_t* idx, V32& fu, V32& fv) {
  const D32 d;
  const DI32 di;
  const DF df;
  const int first_level = hn::GetLane(level);
  V32 iu, iv;
  if (hn::AllTrue(di, hn::Eq(level, hn::Set(di, first_level)))) {
    const SampledTexture& t = unit.level[first_level];
    Address(LevelFixed(ss, hn::Set(df, t.scale)), hn::Set(d, uint32_t(t.width - 1)), mode.wrap_s,
            iu, fu);
    Address(LevelFixed(tt, hn::Set(df, t.scale)), hn::Set(d, uint32_t(t.height - 1)), mode.wrap_t,
            iv, fv);
    hn::Store(hn::Add(hn::Set(d, unit.level_first[first_level]),
                      hn::Add(hn::ShiftLeftSame(iv, t.width_log2), iu)),
              d, idx);
    return;
  }
  // scale0 / 2^level, exactly: a level's longer side.
  const auto half_powers = hn::BitCast(df, hn::ShiftLeft<23>(hn::Sub(hn::Set(di, 127), level)));
  const auto scale = hn::Mul(hn::Set(df, unit.scale0), half_powers);
  const auto width_log2 =
      hn::BitCast(d, hn::Max(hn::Sub(hn::Set(di, unit.level[0].width_log2), level), hn::Zero(di)));
  const auto height_log2 =
      hn::BitCast(d, hn::Max(hn::Sub(hn::Set(di, unit.level[0].height_log2), level), hn::Zero(di)));
  const auto one = hn::Set(d, 1u);
  Address(LevelFixed(ss, scale), hn::Sub(hn::Shl(one, width_log2), one), mode.wrap_s, iu, fu);
  Address(LevelFixed(tt, scale), hn::Sub(hn::Shl(one, height_log2), one), mode.wrap_t, iv, fv);
  const auto first = hn::GatherIndex(d, unit.level_first, level);
  hn::Store(hn::Add(first, hn::Add(hn::Shl(iv, width_log2), iu)), d, idx);
}

// A bilinear tap of affine level j (the unit's affine_level[j]) for pixels
// i on: coordinates in wrapping fixed point, as the general loop steps them.
HWY_INLINE void AffineTap(const SampledUnit& unit, const UnitSpan& s, int j, size_t i, V32& index,
                          V32& fu, V32& fv) {
  const D32 d;
  const int level = unit.affine_level[j];
  const SampledTexture& t = unit.level[level];
  const uint32_t k = uint32_t(i);
  const V32 u = PlaneStart(s.u[j] + k * s.du[j], s.du[j]);
  const V32 v = PlaneStart(s.v[j] + k * s.dv[j], s.dv[j]);
  const V32 tu = hn::ShiftRightSame(u, 24 - t.width_log2);
  const V32 tv = hn::ShiftRightSame(v, 24 - t.height_log2);
  index = hn::Add(
      hn::Set(d, unit.level_first[level]),
      hn::Add(hn::ShiftLeftSame(hn::ShiftRight<8>(tv), t.width_log2), hn::ShiftRight<8>(tu)));
  fu = hn::And(tu, hn::Set(d, 255u));
  fv = hn::And(tv, hn::Set(d, 255u));
}

// Two taps blended: (a * (256 - w) + b * w + 128) >> 8 a channel.
HWY_INLINE void BlendTaps(V16 a_br, V16 a_ga, V16 b_br, V16 b_ga, V32 weight, V16& br, V16& ga) {
  const V16 w = Weight7(weight);
  br = Lerp8(a_br, b_br, w);
  ga = Lerp8(a_ga, b_ga, w);
}

// Whether a unit's level of detail varies from pixel to pixel: LodGroup's.
template <Coords kCoords>
HWY_INLINE bool LodVaries(const SampledUnit& unit, const UnitMode& mode) {
  return kCoords == Coords::kPerspective && mode.mipmap != GR_MIPMAP_DISABLE && unit.lod_varies;
}

// The perspective coordinates (s/w, t/w over 1/w) of the group of pixels i on.
HWY_INLINE void Divided(const UnitSpan& s, size_t i, VF& ss, VF& tt) {
  const DF df;
  const VF k = hn::Iota(df, float(i));
  const VF q = hn::Add(hn::Set(df, s.oow), hn::Mul(k, hn::Set(df, s.doow)));
  ss = hn::Div(hn::Add(hn::Set(df, s.sow), hn::Mul(k, hn::Set(df, s.dsow))), q);
  tt = hn::Div(hn::Add(hn::Set(df, s.tow), hn::Mul(k, hn::Set(df, s.dtow))), q);
}

// One unit's texels for the group of pixels i on, as channel pairs; when
// perspective, (ss, tt) its coordinates (Divided) and `lod` its levels of
// detail where they vary.
template <Coords kCoords>
HWY_INLINE void UnitTexels(const SampledUnit& unit, const UnitMode& mode, const UnitSpan& s,
                           const uint8_t* dither, size_t i, VF ss, VF tt, VI32 lod, V16& br,
                           V16& ga) {
  const D32 d;
  const DI32 di;
  HWY_ALIGN uint32_t idx[hn::MaxLanes(D32())];
  V32 fu, fv;
  const bool mipmapped = mode.mipmap != GR_MIPMAP_DISABLE;
  if constexpr (kCoords == Coords::kAffine) {
    const bool two = unit.affine_level[0] != unit.affine_level[1];
    V32 index, fu1, fv1, index1;
    AffineTap(unit, s, 0, i, index, fu, fv);
    if (two) AffineTap(unit, s, 1, i, index1, fu1, fv1);
    if (two && mipmapped && mode.lod_blend) {
      hn::Store(index, d, idx);
      V16 a_br, a_ga, b_br, b_ga;
      FilterFootprints(unit.footprint, idx, fu, fv, a_br, a_ga);
      hn::Store(index1, d, idx);
      FilterFootprints(unit.footprint, idx, fu1, fv1, b_br, b_ga);
      BlendTaps(a_br, a_ga, b_br, b_ga, hn::Set(d, uint32_t(unit.lod256 & 255)), br, ga);
      return;
    }
    if (two) {  // dithered between the two: each pixel's level
      const VI32 level = Hold(hn::ShiftRight<8>(hn::Add(hn::Set(di, unit.lod256 + 8),
                                                        hn::ShiftLeft<4>(DitherValues(dither, i)))),
                              unit.levels);
      const auto first = hn::RebindMask(d, hn::Eq(level, hn::Set(di, unit.affine_level[0])));
      index = hn::IfThenElse(first, index, index1);
      fu = hn::IfThenElse(first, fu, fu1);
      fv = hn::IfThenElse(first, fv, fv1);
    }
    hn::Store(index, d, idx);
    FilterFootprints(unit.footprint, idx, fu, fv, br, ga);
  } else {
    if (!mipmapped) {
      PerspectiveTap(unit, mode, ss, tt, hn::Zero(di), idx, fu, fv);
      FilterFootprints(unit.footprint, idx, fu, fv, br, ga);
      return;
    }
    if (!unit.lod_varies) lod = hn::Set(di, unit.lod256);
    if (mode.lod_blend) {
      const VI32 whole = hn::ShiftRight<8>(lod);
      const VI32 level_a = Hold(whole, unit.levels);
      const VI32 level_b = Hold(hn::Add(whole, hn::Set(di, 1)), unit.levels);
      V16 a_br, a_ga, b_br, b_ga;
      PerspectiveTap(unit, mode, ss, tt, level_a, idx, fu, fv);
      FilterFootprints(unit.footprint, idx, fu, fv, a_br, a_ga);
      // Magnified, or past the smallest level: one level, and a blend of a
      // texel with itself is that texel.
      if (hn::AllTrue(di, hn::Eq(level_a, level_b))) {
        br = a_br;
        ga = a_ga;
        return;
      }
      PerspectiveTap(unit, mode, ss, tt, level_b, idx, fu, fv);
      FilterFootprints(unit.footprint, idx, fu, fv, b_br, b_ga);
      BlendTaps(a_br, a_ga, b_br, b_ga, hn::And(hn::BitCast(d, lod), hn::Set(d, 255u)), br, ga);
      return;
    }
    const VI32 offset = mode.mipmap == GR_MIPMAP_NEAREST_DITHER
                            ? hn::Add(hn::ShiftLeft<4>(DitherValues(dither, i)), hn::Set(di, 8))
                            : hn::Set(di, 128);
    PerspectiveTap(unit, mode, ss, tt, Hold(hn::ShiftRight<8>(hn::Add(lod, offset)), unit.levels),
                   idx, fu, fv);
    FilterFootprints(unit.footprint, idx, fu, fv, br, ga);
  }
}

// kTwo: unit 0's texel times unit 1's (rgb), with unit 0's alpha. kRgb565:
// the span is a 5-6-5 row's, quantised through span.dither; otherwise an
// 8-bit row's, quantised when span.dither is set.
template <Coords kCoords, bool kTwo, FusedBlend kBlend, PixelLayout kLayout>
void UnitsSpan(const TriangleInputs& tri, const SpanInputs& span) {
  const D32 d;
  const D16 d16;
  const size_t n = hn::Lanes(d);
  const FusedKind& kind = tri.fused;
  const bool modulate = kind.color == FusedColor::kTextureTimesIterated;
  V32 red = PlaneStart(span.color[0], span.color_step[0]);
  V32 green = PlaneStart(span.color[1], span.color_step[1]);
  V32 blue = PlaneStart(span.color[2], span.color_step[2]);
  V32 iterated_alpha = PlaneStart(span.color[3], span.color_step[3]);
  const V32 red_step = hn::Set(d, span.color_step[0] * uint32_t(n));
  const V32 green_step = hn::Set(d, span.color_step[1] * uint32_t(n));
  const V32 blue_step = hn::Set(d, span.color_step[2] * uint32_t(n));
  const V32 alpha_step = hn::Set(d, span.color_step[3] * uint32_t(n));
  const V32 constant_alpha = hn::Set(d, tri.state.constant.a);
  // The span's inputs are copied: stores to its row could alias them.
  const UnitSpan coords[2] = {span.units[0], span.units[1]};
  const uint8_t* dither = span.lod_dither ? span.lod_dither + span.x0 : nullptr;
  typename SpanPixels<kLayout>::Tail tail;
  SpanPixels<kLayout> pixels(span, tail);
  // Each group's coordinates and levels of detail are worked out a group
  // ahead: the next group's long arithmetic (divisions, logarithms) overlaps
  // this group's sampling, which waits on it.
  constexpr bool kDivided = kCoords == Coords::kPerspective;
  const bool varies0 = LodVaries<kCoords>(tri.unit[0], tri.state.units[0]);
  const bool varies1 = kTwo && LodVaries<kCoords>(tri.unit[1], tri.state.units[1]);
  VI32 lod0_ahead = hn::Zero(DI32()), lod1_ahead = hn::Zero(DI32());
  VF ss0_ahead = hn::Zero(DF()), tt0_ahead = hn::Zero(DF());
  VF ss1_ahead = hn::Zero(DF()), tt1_ahead = hn::Zero(DF());
  if (span.count > 0) {
    if (varies0) lod0_ahead = LodGroup(tri.unit[0], coords[0], 0);
    if (varies1) lod1_ahead = LodGroup(tri.unit[1], coords[1], 0);
    if (kDivided) Divided(coords[0], 0, ss0_ahead, tt0_ahead);
    if (kDivided && kTwo) Divided(coords[1], 0, ss1_ahead, tt1_ahead);
  }
  for (int i = 0; i < span.count; i += int(n)) {
    const VI32 lod0 = lod0_ahead, lod1 = lod1_ahead;
    const VF ss0 = ss0_ahead, tt0 = tt0_ahead, ss1 = ss1_ahead, tt1 = tt1_ahead;
    if (i + int(n) < span.count) {
      const size_t next = size_t(i) + n;
      if (kDivided) Divided(coords[0], next, ss0_ahead, tt0_ahead);
      if (kDivided && kTwo) Divided(coords[1], next, ss1_ahead, tt1_ahead);
      if (varies0) lod0_ahead = LodGroup(tri.unit[0], coords[0], next);
      if (varies1) lod1_ahead = LodGroup(tri.unit[1], coords[1], next);
    }
    pixels.Begin(size_t(span.count - i));
    V32 old = hn::Zero(d);
    if constexpr (kBlend == FusedBlend::kSrcAlpha || kLayout == PixelLayout::kArgb8888)
      old = pixels.Old();
    V16 texel_br, texel_ga;
    UnitTexels<kCoords>(tri.unit[0], tri.state.units[0], coords[0], dither, size_t(i), ss0, tt0,
                        lod0, texel_br, texel_ga);
    if constexpr (kTwo) {
      V16 light_br, light_ga;
      UnitTexels<kCoords>(tri.unit[1], tri.state.units[1], coords[1], dither, size_t(i), ss1, tt1,
                          lod1, light_br, light_ga);
      texel_br = Mul255(light_br, texel_br);
      const V32 green_lit = hn::BitCast(d, Mul255(light_ga, texel_ga));
      texel_ga =
          hn::BitCast(d16, hn::Or(hn::And(green_lit, hn::Set(d, 0xFFFFu)),
                                  hn::And(hn::BitCast(d, texel_ga), hn::Set(d, 0xFFFF0000u))));
    }
    V16 src_br = texel_br, src_ga = texel_ga;
    if (modulate) {
      const V32 r = Channel8(red), g = Channel8(green), b = Channel8(blue);
      src_br = Mul255(texel_br, hn::BitCast(d16, hn::Or(b, hn::ShiftLeft<16>(r))));
      src_ga = Mul255(texel_ga, hn::BitCast(d16, g));
    }
    V32 alpha = constant_alpha;
    if (kind.alpha == FusedAlpha::kIterated) alpha = Channel8(iterated_alpha);
    if (kind.alpha == FusedAlpha::kTexture) alpha = hn::ShiftRight<16>(hn::BitCast(d, texel_ga));
    V16 out_br = src_br, out_ga = src_ga;
    if constexpr (kBlend == FusedBlend::kSrcAlpha) {
      V16 under_br, under_ga;
      SpanPixels<kLayout>::Under(old, under_br, under_ga);
      const V16 a = Both(alpha);
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

template <Coords kCoords, bool kTwo, PixelLayout kLayout>
SpanLoop ForBlend(const FusedKind& kind) {
  return kind.blend == FusedBlend::kReplace
             ? &UnitsSpan<kCoords, kTwo, FusedBlend::kReplace, kLayout>
             : &UnitsSpan<kCoords, kTwo, FusedBlend::kSrcAlpha, kLayout>;
}

template <bool kTwo, PixelLayout kLayout>
SpanLoop ForCoords(const FusedKind& kind) {
  switch (kind.coords) {
    case Coords::kAffine: return ForBlend<Coords::kAffine, kTwo, kLayout>(kind);
    case Coords::kPerspective: return ForBlend<Coords::kPerspective, kTwo, kLayout>(kind);
    case Coords::kNone: break;
  }
  return nullptr;
}

template <PixelLayout kLayout>
SpanLoop ForUnits(const FusedKind& kind, bool two_units) {
  return two_units ? ForCoords<true, kLayout>(kind) : ForCoords<false, kLayout>(kind);
}

void Log2x128OfFloats(const float* m, int32_t* out, size_t count) {
#if HWY_HAVE_FLOAT64
  const DF df;
  const DI32 di;
  const size_t n = hn::Lanes(df);
  HWY_ALIGN float in[hn::MaxLanes(df)];
  for (size_t i = 0; i < count; i += n) {
    const size_t left = count - i < n ? count - i : n;
    for (size_t j = 0; j < n; j++) in[j] = j < left ? m[i + j] : 1.0f;
    hn::Mask<decltype(df)> unsure;
    const auto k = Log2x128(df, hn::Load(df, in), unsure);
    HWY_ALIGN int32_t result[hn::MaxLanes(di)];
    hn::Store(hn::IfThenElse(hn::RebindMask(di, unsure), hn::Set(di, -1), k), di, result);
    std::memcpy(out + i, result, left * sizeof(int32_t));
  }
#else
  for (size_t i = 0; i < count; i++) out[i] = -1;
  (void)m;
#endif
}

SpanLoop ChooseLoop(const FusedKind& kind, bool two_units, PixelLayout layout) {
  if (kind.color == FusedColor::kIterated) return nullptr;
#if HWY_TARGET == HWY_WASM
  // On WebAssembly the perspective loops do not give the general path's
  // pixels in every case (some perspective cases differ, unexplained yet):
  // the general path draws them there.
  if (kind.coords == Coords::kPerspective) return nullptr;
#endif
  return layout == PixelLayout::kRgb565 ? ForUnits<PixelLayout::kRgb565>(kind, two_units)
                                        : ForUnits<PixelLayout::kArgb8888>(kind, two_units);
}

#else  // HWY_SCALAR: one lane.

SpanLoop ChooseLoop(const FusedKind&, bool, PixelLayout) {
  return nullptr;  // the general loop draws every state
}

void Log2x128OfFloats(const float*, int32_t* out, size_t count) {
  for (size_t i = 0; i < count; i++) out[i] = -1;
}

#endif

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(ChooseLoop);
HWY_EXPORT(Log2x128OfFloats);

SpanLoop ChooseFusedUnitsLoop(const FusedKind& kind, bool two_units, PixelLayout layout) {
  return HWY_DYNAMIC_DISPATCH(ChooseLoop)(kind, two_units, layout);
}

void FusedLog2x128(const float* m, int32_t* out, size_t count) {
  HWY_DYNAMIC_DISPATCH(Log2x128OfFloats)(m, out, count);
}

}  // namespace softboard
#endif
