// The fused depth loops; see fused_depth.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pixel/fused_loops_depth.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "pixel/fused_depth.h"
#include "pixel/pipeline_state.h"
#include "pixel/rgb565.h"
#include "pixel/sampler.h"
#include "pixel/simd-inl.h"
#include "pixel/span_general.h"
#include "pixel/span_start.h"

HWY_BEFORE_NAMESPACE();
namespace softboard {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR

using DI = hn::RebindToSigned<D32>;
using M32 = hn::Mask<D32>;

// `value f reference` on signed lanes.
HWY_INLINE M32 CompareLanes(int f, hn::Vec<DI> value, hn::Vec<DI> reference) {
  const D32 d;
  const DI di;
  switch (f) {
    case GR_CMP_NEVER: return hn::RebindMask(d, hn::Lt(value, hn::Set(di, INT32_MIN)));
    case GR_CMP_LESS: return hn::RebindMask(d, hn::Lt(value, reference));
    case GR_CMP_EQUAL: return hn::RebindMask(d, hn::Eq(value, reference));
    case GR_CMP_LEQUAL: return hn::RebindMask(d, hn::Not(hn::Gt(value, reference)));
    case GR_CMP_GREATER: return hn::RebindMask(d, hn::Gt(value, reference));
    case GR_CMP_NOTEQUAL: return hn::RebindMask(d, hn::Not(hn::Eq(value, reference)));
    case GR_CMP_GEQUAL: return hn::RebindMask(d, hn::Not(hn::Lt(value, reference)));
    default: return hn::RebindMask(d, hn::Eq(value, value));
  }
}

HWY_INLINE hn::Vec<DI> Held(hn::Vec<DI> v, int lo, int hi) {
  const DI di;
  return hn::Min(hn::Max(v, hn::Set(di, lo)), hn::Set(di, hi));
}

// WDepth of each lane: (127 - E) * 4096 - ceil(m / 2048) for q = 1.m * 2^E,
// which is both of its cases; 0 from 1 up, 0xFFFF at 2^-16 and below (NaN too).
HWY_INLINE hn::Vec<DI> WDepthLanes(hn::Vec<DF> q) {
  const DF df;
  const DI di;
  const auto bits = hn::BitCast(di, q);
  const auto exponent = hn::ShiftRight<23>(bits);
  const auto mantissa = hn::And(bits, hn::Set(di, 0x7FFFFF));
  const auto d = hn::Sub(hn::ShiftLeft<12>(hn::Sub(hn::Set(di, 127), exponent)),
                         hn::ShiftRight<11>(hn::Add(mantissa, hn::Set(di, 2047))));
  const auto far = hn::Not(hn::Gt(q, hn::Set(df, 1.0f / 65536)));
  const auto near = hn::Ge(q, hn::Set(df, 1.0f));
  return hn::IfThenElse(hn::RebindMask(di, near), hn::Zero(di),
                        hn::IfThenElse(hn::RebindMask(di, far), hn::Set(di, 0xFFFF), d));
}

// Texture coordinates, a group of lanes at a time (as fused_loops.cpp steps them).
template <Coords kCoords>
struct Coordinates {
  const SampledTexture& t;
  uint32_t u0, v0, du, dv;
  float sow, tow, oow, dsow, dtow, doow;

  HWY_INLINE void Texels(size_t group, uint32_t* idx, V32& fu, V32& fv) const {
    const D32 d;
    const size_t n = hn::Lanes(d);
    const V32 low8 = hn::Set(d, 255u);
    V32 iu, iv;
    if constexpr (kCoords == Coords::kAffine) {
      const uint32_t first = uint32_t(group * n);
      const V32 u = hn::Add(hn::Set(d, u0 + first * du), hn::Mul(hn::Iota(d, 0), hn::Set(d, du)));
      const V32 v = hn::Add(hn::Set(d, v0 + first * dv), hn::Mul(hn::Iota(d, 0), hn::Set(d, dv)));
      const V32 tu = hn::ShiftRightSame(u, 24 - t.width_log2);
      const V32 tv = hn::ShiftRightSame(v, 24 - t.height_log2);
      iu = hn::ShiftRight<8>(tu);
      iv = hn::ShiftRight<8>(tv);
      fu = hn::And(tu, low8);
      fv = hn::And(tv, low8);
    } else {
      const DF df;
      const DI di;
      const auto k = hn::Add(hn::Iota(df, 0.0f), hn::Set(df, float(group * n)));
      const auto q = hn::Add(hn::Set(df, oow), hn::Mul(k, hn::Set(df, doow)));
      const auto ss = hn::Div(hn::Add(hn::Set(df, sow), hn::Mul(k, hn::Set(df, dsow))), q);
      const auto tt = hn::Div(hn::Add(hn::Set(df, tow), hn::Mul(k, hn::Set(df, dtow))), q);
      const auto fixed = [&](hn::Vec<DF> x) {
        const auto lo = hn::Set(df, -1073741824.0f), hi = hn::Set(df, 1073741824.0f);
        x = hn::Add(hn::Mul(x, hn::Set(df, t.scale)), hn::Set(df, kBilinearOffset));
        x = hn::Min(hn::IfThenElse(hn::Ge(x, lo), x, lo), hi);
        return hn::BitCast(d, hn::ConvertTo(di, hn::Floor(x)));
      };
      const V32 cu = fixed(ss), cv = fixed(tt);
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

// A fog table as lanes read it: each entry, and the step to the next (0
// for the last, which holds); and both in one lane, the step in the high 16
// bits, for lookups by permutes.
struct FogLanes {
  std::array<uint8_t, GR_FOG_TABLE_SIZE> table{};
  int32_t base[GR_FOG_TABLE_SIZE], step[GR_FOG_TABLE_SIZE];
  HWY_ALIGN int32_t both[GR_FOG_TABLE_SIZE];
  bool made = false;
};

// This thread's lanes of `table`, made again only when it changes.
const FogLanes& LanesOf(const std::array<uint8_t, GR_FOG_TABLE_SIZE>& table) {
  thread_local FogLanes lanes;
  if (!lanes.made || lanes.table != table) {
    lanes.table = table;
    for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) {
      lanes.base[i] = table[size_t(i)];
      lanes.step[i] =
          i + 1 < GR_FOG_TABLE_SIZE ? int(table[size_t(i) + 1]) - int(table[size_t(i)]) : 0;
      lanes.both[i] = int32_t(uint32_t(lanes.step[i]) << 16 | uint32_t(lanes.base[i]));
    }
    lanes.made = true;
  }
  return lanes;
}

// The fog table's amounts at W depths w: t[i] + floor((t[i + 1] - t[i]) * r /
// 1024), as FogTableAmount.
template <class D>
HWY_INLINE hn::Vec<D> TableAmounts(D d, const FogLanes* lanes, hn::Vec<D> w) {
  const auto i = hn::ShiftRight<10>(w);
  const auto r = hn::And(w, hn::Set(d, 1023));
  const auto base = hn::GatherIndex(d, lanes->base, i);
  const auto step = hn::GatherIndex(d, lanes->step, i);
  return hn::Add(base, hn::ShiftRight<10>(hn::Mul(step, r)));
}

#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// x86 vectors of 8 or 16 lanes hold the 64-entry table in 8 or 4 registers:
// a lookup is a permute of each and selects, where a gather costs a load
// per lane. (Vectors of a size known when compiling may be members here.)
constexpr size_t kFogVectors = GR_FOG_TABLE_SIZE / hn::MaxLanes(DI());
struct FogVectors {
  hn::Vec<DI> part[kFogVectors];
};

HWY_INLINE FogVectors LoadFogVectors(const FogLanes* lanes) {
  const DI di;
  FogVectors v;
  if (lanes == nullptr) return v;
  for (size_t k = 0; k < kFogVectors; k++)
    v.part[k] = hn::Load(di, lanes->both + k * hn::Lanes(di));
  return v;
}

HWY_INLINE hn::Vec<DI> PermutedAmounts(const FogVectors& table, hn::Vec<DI> w) {
  const DI di;
  constexpr int kShift = hn::MaxLanes(DI()) == 16 ? 4 : 3;
  const auto i = hn::ShiftRight<10>(w);
  const auto within = hn::IndicesFromVec(di, hn::And(i, hn::Set(di, (1 << kShift) - 1)));
  const auto which = hn::ShiftRight<kShift>(i);
  auto both = hn::TableLookupLanes(table.part[0], within);
  for (size_t k = 1; k < kFogVectors; k++)
    both = hn::IfThenElse(hn::Eq(which, hn::Set(di, int32_t(k))),
                          hn::TableLookupLanes(table.part[k], within), both);
  const auto base = hn::And(both, hn::Set(di, 0xFFFF));
  const auto step = hn::ShiftRight<16>(both);
  return hn::Add(base, hn::ShiftRight<10>(hn::Mul(step, hn::And(w, hn::Set(di, 1023)))));
}
#else
struct FogVectors {};
HWY_INLINE FogVectors LoadFogVectors(const FogLanes*) {
  return {};
}
#endif

// Fog amounts of a group: the iterated alpha truncated, or the table's at
// each pixel's W depth.
HWY_INLINE V32 FogAmount(FogSource source, [[maybe_unused]] const FogLanes* lanes,
                         [[maybe_unused]] const FogVectors& table, V32 iterated_alpha,
                         hn::Vec<DI> w16) {
  const D32 d;
  const DI di;
  if (source == FogSource::kIteratedAlpha)
    return Channel8(hn::Sub(iterated_alpha, hn::Set(d, 0x8000u)));
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  return hn::BitCast(d, PermutedAmounts(table, w16));
#else
  return hn::BitCast(d, TableAmounts(di, lanes, w16));
#endif
}

// What a triangle's spans share, as plain values: made once for a batch of
// its spans, so that the loop over them keeps them in registers.
struct DepthSpanState {
  FusedKind kind;
  bool to_bias, write_depth, chroma_texture, chroma_iterated, alpha_test, fog, fog_w;
  FogSource fog_source;
  FogApply fog_apply;
  int alpha_function, alpha_reference, depth_function, bias;
  uint32_t key, fog_br, fog_ga, constant_alpha;
  const FogLanes* fog_lanes;
  FogVectors fog_table;
};

DepthSpanState MakeDepthSpanState(const TriangleInputs& tri) {
  const PipelineState& p = tri.state.pipeline;
  DepthSpanState s;
  s.kind = tri.fused;
  s.to_bias = ComparesToBias(p.depth.mode);
  s.write_depth = p.depth.write;
  s.chroma_texture = p.chroma_key && tri.state.color.other == GR_COMBINE_OTHER_TEXTURE;
  s.chroma_iterated = p.chroma_key && tri.state.color.other == GR_COMBINE_OTHER_ITERATED;
  s.alpha_test = p.alpha_function != GR_CMP_ALWAYS;
  s.fog = p.fog.source != FogSource::kNone;
  s.fog_w = p.fog.source == FogSource::kTable;
  s.fog_source = p.fog.source;
  s.fog_apply = p.fog.apply;
  s.alpha_function = p.alpha_function;
  s.alpha_reference = p.alpha_reference;
  s.depth_function = p.depth.function;
  s.bias = p.depth.bias;
  s.key = uint32_t(p.key.r) << 16 | uint32_t(p.key.g) << 8 | p.key.b;
  s.fog_br = uint32_t(p.fog.color.r) << 16 | p.fog.color.b;
  s.fog_ga = p.fog.color.g;
  s.constant_alpha = tri.state.constant.a;
  s.fog_lanes = s.fog_w ? &LanesOf(p.fog.table) : nullptr;
  s.fog_table = LoadFogVectors(s.fog_lanes);
  return s;
}

// A group of lanes' pixels, each from its own values: colours (16.16),
// Z depth (17.15), 1/w, texel, the pixel and depth there and the dither
// offset. The tests, fog, blend and dither, in their order: the pixel to
// write, where it passes, and the depth to write.
template <FusedColor kColor, FusedBlend kBlend, FusedDepth kDepth>
HWY_INLINE V32 ShadeLanes(const DepthSpanState& st, V32 red, V32 green, V32 blue,
                          V32 iterated_alpha, V32 z, hn::Vec<DF> q, V16 texel_br, V16 texel_ga,
                          V32 old, hn::Vec<DI> stored, bool dithered, V32 dither, M32& pass,
                          hn::Vec<DI>& written) {
  const D32 d;
  const D16 d16;
  const DI di;
  const FusedKind& kind = st.kind;
  const V32 key = hn::Set(d, st.key);
  V32 r = hn::Zero(d), g = hn::Zero(d), b = hn::Zero(d);
  if (kColor != FusedColor::kTexture || st.chroma_iterated) {
    r = Channel8(red);
    g = Channel8(green);
    b = Channel8(blue);
  }
  V16 src_br, src_ga;
  if constexpr (kColor == FusedColor::kTexture) {
    src_br = texel_br;
    src_ga = hn::BitCast(d16, hn::And(hn::BitCast(d, texel_ga), hn::Set(d, 0xFFu)));
  } else {
    src_br = hn::BitCast(d16, hn::Or(b, hn::ShiftLeft<16>(r)));
    src_ga = hn::BitCast(d16, g);
    if constexpr (kColor == FusedColor::kTextureTimesIterated) {
      src_br = Mul255(texel_br, src_br);
      src_ga =
          Mul255(hn::BitCast(d16, hn::And(hn::BitCast(d, texel_ga), hn::Set(d, 0xFFu))), src_ga);
    }
  }
  V32 alpha = hn::Set(d, st.constant_alpha);
  if (kind.alpha == FusedAlpha::kIterated) alpha = Channel8(iterated_alpha);
  if (kind.alpha == FusedAlpha::kTexture) alpha = hn::ShiftRight<16>(hn::BitCast(d, texel_ga));

  // The tests, in their order; a pixel that fails any writes nothing.
  pass = hn::RebindMask(d, hn::Eq(key, key));
  if (st.chroma_texture) {
    const V32 rgb = hn::And(Unpair(texel_br, texel_ga), hn::Set(d, 0x00FFFFFFu));
    pass = hn::AndNot(hn::Eq(rgb, key), pass);
  }
  if (st.chroma_iterated) {
    const V32 rgb = hn::Or(hn::Or(hn::ShiftLeft<16>(r), hn::ShiftLeft<8>(g)), b);
    pass = hn::AndNot(hn::Eq(rgb, key), pass);
  }
  if (st.alpha_test) {
    pass = hn::And(pass, CompareLanes(st.alpha_function, hn::BitCast(di, alpha),
                                      hn::Set(di, st.alpha_reference)));
  }
  hn::Vec<DI> w16 = hn::Zero(di);
  if (kDepth == FusedDepth::kW || st.fog_w) w16 = WDepthLanes(q);
  written = hn::Zero(di);
  if constexpr (kDepth != FusedDepth::kNone) {
    hn::Vec<DI> own;
    if constexpr (kDepth == FusedDepth::kZ) {
      own = hn::ShiftRight<kDepthFraction>(hn::BitCast(di, z));
    } else {
      own = w16;
    }
    hn::Vec<DI> compared;
    if (st.to_bias) {
      written = Held(own, 0, 0xFFFF);
      compared = hn::Set(di, int32_t(uint16_t(st.bias)));
    } else {
      written = Held(hn::Add(own, hn::Set(di, st.bias)), 0, 0xFFFF);
      compared = written;
    }
    pass = hn::And(pass, CompareLanes(st.depth_function, compared, stored));
  }
  if (st.fog) {
    const V16 k1 = Both(FogAmount(st.fog_source, st.fog_lanes, st.fog_table, iterated_alpha, w16));
    const V16 k0 = hn::Sub(hn::Set(d16, 255), k1);
    const V16 fog_br = hn::BitCast(d16, hn::Set(d, st.fog_br));
    const V16 fog_ga = hn::BitCast(d16, hn::Set(d, st.fog_ga));
    if (st.fog_apply == FogApply::kMult2) {
      src_br = Div255(hn::Mul(src_br, k0));
      src_ga = Div255(hn::Mul(src_ga, k0));
    } else if (st.fog_apply == FogApply::kAdd2) {
      src_br = Div255(hn::Mul(fog_br, k1));
      src_ga = Div255(hn::Mul(fog_ga, k1));
    } else {
      src_br = Div255(hn::Add(hn::Mul(fog_br, k1), hn::Mul(src_br, k0)));
      src_ga = Div255(hn::Add(hn::Mul(fog_ga, k1), hn::Mul(src_ga, k0)));
    }
  }
  V16 out_br = src_br, out_ga = src_ga;
  if constexpr (kBlend == FusedBlend::kSrcAlpha) {
    const V16 a = Both(alpha);
    const V16 ia = hn::Sub(hn::Set(d16, 255), a);
    out_br = Div255(hn::Add(hn::Mul(src_br, a), hn::Mul(PairBR(old), ia)));
    out_ga = Div255(hn::Add(hn::Mul(src_ga, a), hn::Mul(PairGA(old), ia)));
  }
  if (dithered) {  // 16-bit colour kept 8 bits a channel: quantised as written
    const V16 o = hn::BitCast(d16, dither);
    out_br = QuantizePair<5>(out_br, o);
    out_ga = QuantizePair<6>(out_ga, o);
  }
  V32 result = hn::And(Unpair(out_br, out_ga), hn::Set(d, 0x00FFFFFFu));
  if (kind.alpha_write == FusedAlphaWrite::kSource)
    result = hn::Or(result, hn::ShiftLeft<24>(alpha));
  if (kind.alpha_write == FusedAlphaWrite::kKeep)
    result = hn::Or(result, hn::And(old, hn::Set(d, 0xFF000000u)));
  return result;
}

// Pixels of an 8-bit row (and its depths), written only where a mask says.
template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, FusedDepth kDepth>
HWY_INLINE void DrawDepthSpan(const DepthSpanState& st, const TriangleInputs& tri,
                              const SpanInputs& span) {
  const D32 d;
  const D16 d16;
  const DI di;
  const DF df;
  const D16Half d16h;
  constexpr size_t kMaxN = hn::MaxLanes(D32());
  const size_t n = hn::Lanes(d);
  const bool write_depth = kDepth != FusedDepth::kNone && st.write_depth;
  const uint32_t* footprint = tri.texture.footprint;
  const Coordinates<kCoords> coords{tri.texture, span.u,   span.v,    span.du,   span.dv,  span.sow,
                                    span.tow,    span.oow, span.dsow, span.dtow, span.doow};

  if (kDepth != FusedDepth::kNone && span.depth == nullptr) return DrawSpanGeneral(tri, span);
  uint32_t* out = span.row + span.x0;
  uint16_t* depth_out = span.depth ? span.depth + span.x0 : nullptr;
  const uint32_t* dither = span.dither ? span.dither + span.x0 : nullptr;
  HWY_ALIGN uint32_t tail[kMaxN];
  HWY_ALIGN uint16_t depth_tail[kMaxN];
  HWY_ALIGN uint32_t idx[kMaxN];
  size_t group = 0;
  for (int i = 0; i < span.count; i += int(n), group++) {
    const size_t left = size_t(span.count - i);
    uint32_t* dst = out;
    uint16_t* depth_dst = depth_out;
    // The span's last pixels: masked loads and stores where they cannot
    // fault (AVX-512, SVE), a copy elsewhere. Most spans of small triangles
    // are shorter than a vector, so this is most spans.
    const bool masked = left < n && kMaskedTails;
    const M32 in_span = hn::FirstN(d, left);
    const auto in_span16 = hn::FirstN(d16h, left);
    if (left < n && !masked) {
      std::memcpy(tail, out, left * 4);
      dst = tail;
      if (depth_out) {
        std::memcpy(depth_tail, depth_out, left * 2);
        depth_dst = depth_tail;
      }
    }
    const V32 at = hn::Add(hn::Iota(d, 0), hn::Set(d, uint32_t(i)));
    const auto plane = [&](int c) {
      return hn::Add(hn::Set(d, span.color[c]), hn::Mul(at, hn::Set(d, span.color_step[c])));
    };
    const V32 old = masked ? hn::MaskedLoad(in_span, d, dst) : hn::LoadU(d, dst);
    V16 texel_br = hn::Zero(d16), texel_ga = hn::Zero(d16);
    if constexpr (kCoords != Coords::kNone) {
      V32 fu, fv;
      coords.Texels(group, idx, fu, fv);
      FilterFootprints(footprint, idx, fu, fv, texel_br, texel_ga);
    }
    V32 z = hn::Zero(d);
    if constexpr (kDepth == FusedDepth::kZ)
      z = hn::Add(hn::Set(d, span.z), hn::Mul(at, hn::Set(d, span.dz)));
    hn::Vec<DF> q = hn::Zero(df);
    if (kDepth == FusedDepth::kW || st.fog_w) {
      const auto k = hn::ConvertTo(df, hn::BitCast(di, at));
      q = hn::Add(hn::Set(df, span.q), hn::Mul(k, hn::Set(df, span.dq)));
    }
    hn::Vec<DI> stored = hn::Zero(di);
    if constexpr (kDepth != FusedDepth::kNone) {
      stored = hn::BitCast(di, hn::PromoteTo(d, masked ? hn::MaskedLoad(in_span16, d16h, depth_dst)
                                                       : hn::LoadU(d16h, depth_dst)));
    }
    const V32 offsets = dither ? hn::LoadU(d, dither + i) : hn::Zero(d);
    M32 pass;
    hn::Vec<DI> written;
    const V32 result = ShadeLanes<kColor, kBlend, kDepth>(
        st, plane(0), plane(1), plane(2), plane(3), z, q, texel_br, texel_ga, old, stored,
        dither != nullptr, offsets, pass, written);
    if (masked) {
      hn::BlendedStore(result, hn::And(pass, in_span), d, dst);
    } else {
      hn::StoreU(hn::IfThenElse(pass, result, old), d, dst);
    }
    if (write_depth && depth_dst) {
      const V32 kept = hn::IfThenElse(pass, hn::BitCast(d, written), hn::BitCast(d, stored));
      if (masked) {
        hn::BlendedStore(hn::TruncateTo(d16h, kept), in_span16, d16h, depth_dst);
      } else {
        hn::StoreU(hn::TruncateTo(d16h, kept), d16h, depth_dst);
      }
    }
    if (left < n && !masked) {
      std::memcpy(out, tail, left * 4);
      if (write_depth && depth_out) std::memcpy(depth_out, depth_tail, left * 2);
    }
    out += n;
    if (depth_out) depth_out += n;
  }
}

// The state of `tri`'s spans, made again only when its state is not the
// last one's on this thread.
const DepthSpanState& StateOf(const TriangleInputs& tri) {
  struct Last {
    uint64_t serial = 0;
    DepthSpanState state;
  };
  thread_local Last last;  // one lookup: in a shared library each is a call
  if (tri.state_serial == 0 || tri.state_serial != last.serial) {
    last.state = MakeDepthSpanState(tri);
    last.serial = tri.state_serial;
  }
  return last.state;
}

template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, FusedDepth kDepth>
void DepthSpan(const TriangleInputs& tri, const SpanInputs& span) {
  DrawDepthSpan<kColor, kBlend, kCoords, kDepth>(StateOf(tri), tri, span);
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
using DD = hn::ScalableTag<double>;

// Where 16 rows' first pixels lie from a triangle's origin, in doubles, 8
// rows a vector (the upper 8 only when `upper`): the same for every plane.
struct RowOffsets {
  hn::Vec<DD> x[2], y[2];
  bool upper;
};

HWY_INLINE RowOffsets MakeRowOffsets(const SpanPlanes& planes, hn::Vec<DI> x0, hn::Vec<DI> row,
                                     bool upper) {
  const DD dd;
  const hn::Half<DI> dh;
  const auto offset = [&](hn::Vec<hn::Half<DI>> v, double origin) {
    return hn::Sub(hn::Add(hn::PromoteTo(dd, v), hn::Set(dd, 0.5)), hn::Set(dd, origin));
  };
  RowOffsets out;
  out.upper = upper;
  out.x[0] = offset(hn::LowerHalf(dh, x0), planes.origin_x);
  out.y[0] = offset(hn::LowerHalf(dh, row), planes.origin_y);
  out.x[1] = out.y[1] = hn::Zero(dd);
  if (upper) {
    out.x[1] = offset(hn::UpperHalf(dh, x0), planes.origin_x);
    out.y[1] = offset(hn::UpperHalf(dh, row), planes.origin_y);
  }
  return out;
}

// A plane's values at the first pixels of 16 rows, each as StartValues
// takes it (the same operations in the same order, in doubles), 8 rows a
// vector: `held` makes each half of the result. Only the first 8 rows when
// not `upper` (most batches of a small triangle), the rest 0.
template <class Held>
HWY_INLINE V32 RowPlaneValues(const Plane& p, const RowOffsets& at, Held held) {
  const DD dd;
  // A constant plane (a flat alpha, say) is at_origin everywhere: adding
  // its zero steps changes nothing, unless at_origin is -0.
  if (p.dx == 0 && p.dy == 0 && !(p.at_origin == 0 && std::signbit(p.at_origin))) {
    const auto same = held(hn::Set(dd, p.at_origin));
    return hn::BitCast(D32(), hn::Combine(DI(), same, same));
  }
  const auto value = [&](int half) {
    return hn::Add(hn::Add(hn::Set(dd, p.at_origin), hn::Mul(hn::Set(dd, p.dx), at.x[half])),
                   hn::Mul(hn::Set(dd, p.dy), at.y[half]));
  };
  const auto low = held(value(0));
  if (!at.upper) return hn::BitCast(D32(), hn::ZeroExtendVector(DI(), low));
  return hn::BitCast(D32(), hn::Combine(DI(), held(value(1)), low));
}

// The start values of up to 16 rows, row r in lane r: colours as ToFixed,
// Z as ToFixedDepth, 1/w as ToFloat (its bits). Made in registers: vectors
// loaded from lanes just stored one by one wait for every store before them.
struct RowStarts {
  V32 color[4], z, q;
};

HWY_INLINE RowStarts MakeRowStarts(const SpanPlanes& planes, SpanReads reads, hn::Vec<DI> x0,
                                   hn::Vec<DI> row, int count) {
  const D32 d;
  const DD dd;
  const hn::Half<DI> di8;
  const hn::Rebind<float, DD> df8;
  constexpr double kMax = 2147483647.0;
  const RowOffsets at = MakeRowOffsets(planes, x0, row, count > int(hn::Lanes(di8)));
  RowStarts out;
  for (int c = 0; c < 4; c++) {
    out.color[c] = RowPlaneValues(planes.plane[kPlaneR + c], at, [&](auto v) {
      return hn::DemoteTo(
          di8, HeldWithin(hn::Mul(hn::Add(v, hn::Set(dd, 0.5)), hn::Set(dd, 65536.0)), kMax));
    });
  }
  out.z = out.q = hn::Zero(d);
  if (reads.z) {
    out.z = RowPlaneValues(planes.plane[kPlaneZ], at, [&](auto v) {
      v = hn::Add(hn::Mul(v, hn::Set(dd, double(1 << kDepthFraction))), hn::Set(dd, 0.5));
      return hn::DemoteTo(di8, hn::Floor(HeldWithin(v, kMax)));
    });
  }
  if (reads.q) {
    out.q = RowPlaneValues(planes.plane[kPlaneQ], at, [&](auto v) {
      return hn::BitCast(di8, hn::DemoteTo(df8, HeldWithin(v, 1e30)));
    });
  }
  return out;
}

// Where a row's lanes lie in memory: `column` may lie before the row, and
// only lanes under the mask are touched.
template <typename T>
HWY_INLINE T* Shifted(T* row, int column) {
  return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(row) +
                              intptr_t(column) * intptr_t(sizeof *row));
}

// Rows of at most kGroup pixels: each takes a group of kGroup lanes of its
// own, 16 / kGroup rows a vector, so which lane holds which row and column is
// the same for every vector and only which lanes lie within their row's
// width is found, for all rows in one comparison (packing rows tightly costs
// more in that bookkeeping than the lanes left empty). `widths`: row r's in
// lane r, 0 past the batch.
template <int kGroup, FusedColor kColor, FusedBlend kBlend, FusedDepth kDepth>
HWY_INLINE void GroupedRows(const DepthSpanState& st, const SpanInputs& steps, const RowBatch& rows,
                            const RowStarts& start, hn::Vec<DI> widths, bool reads_old,
                            bool write_depth) {
  const D32 d;
  const DI di;
  const DF df;
  const D16Half d16h;
  constexpr int kRows = 16 / kGroup;
  static_assert(kGroup == 4 || kGroup == 8);
  constexpr int kShift = kGroup == 4 ? 2 : 3;
  const auto group = hn::ShiftRight<kShift>(hn::Iota(di, 0));
  const auto column = hn::And(hn::Iota(di, 0), hn::Set(di, kGroup - 1));
  const V32 at = hn::BitCast(d, column);
  const auto k = hn::ConvertTo(df, column);
  const bool dithered = rows.dither != nullptr;
  // Each row's group of lanes.
  M32 group_lanes[kRows];
  hn::Mask<D16Half> group_lanes16[kRows];
  for (int i = 0; i < kRows; i++) {
    const size_t lane = size_t(i * kGroup), end = lane + kGroup;
    group_lanes[i] = hn::AndNot(hn::FirstN(d, lane), hn::FirstN(d, end));
    group_lanes16[i] = hn::AndNot(hn::FirstN(d16h, lane), hn::FirstN(d16h, end));
  }
  const auto column16 = hn::TruncateTo(d16h, at);
  for (int first = 0; first < rows.count; first += kRows) {
    const int n = std::min(kRows, rows.count - first);
    const auto which = hn::IndicesFromVec(d, hn::BitCast(d, hn::Add(group, hn::Set(di, first))));
    const auto stepped = [&](V32 from, uint32_t step) {
      return hn::Add(hn::TableLookupLanes(from, which), hn::Mul(at, hn::Set(d, step)));
    };
    V32 z = hn::Zero(d);
    if constexpr (kDepth == FusedDepth::kZ) z = stepped(start.z, steps.dz);
    hn::Vec<DF> q = hn::Zero(df);
    if (kDepth == FusedDepth::kW || st.fog_w) {
      q = hn::Add(hn::BitCast(df, hn::TableLookupLanes(start.q, which)),
                  hn::Mul(k, hn::Set(df, steps.dq)));
    }
    const V32 width = hn::TableLookupLanes(hn::BitCast(d, widths), which);
    const M32 within = hn::Lt(at, width);
    const auto within16 = hn::Lt(column16, hn::TruncateTo(d16h, width));
    M32 mask[kRows];
    hn::Mask<D16Half> mask16[kRows];
    V32 old = hn::Zero(d), offsets = hn::Zero(d);
    auto stored16 = hn::Zero(d16h);
    for (int i = 0; i < n; i++) {
      const int r = first + i, lane = i * kGroup, at_lane = rows.x0[r] - lane;
      mask[i] = hn::And(within, group_lanes[i]);
      mask16[i] = hn::And(within16, group_lanes16[i]);
      if (reads_old)
        old = hn::Or(old, hn::MaskedLoad(mask[i], d, Shifted(rows.Pixels(r), at_lane)));
      if (dithered)
        offsets = hn::Or(offsets, hn::MaskedLoad(mask[i], d, Shifted(rows.dither[r], at_lane)));
      if constexpr (kDepth != FusedDepth::kNone)
        stored16 =
            hn::Or(stored16, hn::MaskedLoad(mask16[i], d16h, Shifted(rows.Depth(r), at_lane)));
    }
    const hn::Vec<DI> stored = hn::BitCast(di, hn::PromoteTo(d, stored16));
    M32 pass;
    hn::Vec<DI> written;
    const V32 result = ShadeLanes<kColor, kBlend, kDepth>(
        st, stepped(start.color[0], steps.color_step[0]),
        stepped(start.color[1], steps.color_step[1]), stepped(start.color[2], steps.color_step[2]),
        stepped(start.color[3], steps.color_step[3]), z, q, hn::Zero(D16()), hn::Zero(D16()), old,
        stored, dithered, offsets, pass, written);
    const auto kept =
        hn::TruncateTo(d16h, hn::IfThenElse(pass, hn::BitCast(d, written), hn::BitCast(d, stored)));
    for (int i = 0; i < n; i++) {
      const int r = first + i, at_lane = rows.x0[r] - i * kGroup;
      hn::BlendedStore(result, hn::And(pass, mask[i]), d, Shifted(rows.Pixels(r), at_lane));
      if (write_depth) hn::BlendedStore(kept, mask16[i], d16h, Shifted(rows.Depth(r), at_lane));
    }
  }
}

// AVX-512: a small triangle's rows are a few pixels each, so one vector takes
// the pixels of several rows side by side, each lane started from its row's
// values (a permute) and stepped by its column in the row; masked loads and
// stores (which never touch a lane outside the mask) read and write each
// row's part. Untextured states only; false when this batch cannot be drawn
// so (no depth buffer).
template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, FusedDepth kDepth>
HWY_INLINE bool PackedRows(const DepthSpanState& st, const SpanInputs& steps,
                           const SpanPlanes& planes, SpanReads reads, const RowBatch& rows) {
  if constexpr (kCoords != Coords::kNone) {
    return false;
  } else {
    const D32 d;
    const DI di;
    const DF df;
    const D16Half d16h;
    constexpr int kN = int(hn::MaxLanes(D32()));
    static_assert(kN == 16);
    const hn::Half<DI> dh;
    if (kDepth != FusedDepth::kNone && rows.depth == nullptr) return false;
    const int count = rows.count;
    const bool dithered = rows.dither != nullptr;
    // The columns in lanes, loaded as the halves they were stored as (a
    // load of two stores waits for both to be written).
    const auto x0 = hn::Combine(di, hn::LoadU(dh, rows.x0 + 8), hn::LoadU(dh, rows.x0));
    const auto x1 = hn::Combine(di, hn::LoadU(dh, rows.x1 + 8), hn::LoadU(dh, rows.x1));
    const auto in_batch = hn::FirstN(di, size_t(count));
    // Each row's width, none past the batch.
    const auto widths = hn::IfThenElseZero(in_batch, hn::Max(hn::Sub(x1, x0), hn::Zero(di)));
    const int widest = rows.widest >= 0 ? rows.widest : hn::GetLane(hn::MaxOfLanes(di, widths));
    const RowStarts start = MakeRowStarts(planes, reads, x0, hn::Iota(di, rows.first_row), count);
    const V32 first_red = start.color[0], first_green = start.color[1];
    const V32 first_blue = start.color[2], first_alpha = start.color[3];
    const V32 first_z = start.z, first_q = start.q;
    const bool write_depth = kDepth != FusedDepth::kNone && st.write_depth;
    // Only blending and a kept alpha read the pixels there: each is stored
    // under a mask.
    const bool reads_old =
        kBlend == FusedBlend::kSrcAlpha || st.kind.alpha_write == FusedAlphaWrite::kKeep;
    if (widest <= 4) {
      GroupedRows<4, kColor, kBlend, kDepth>(st, steps, rows, start, widths, reads_old,
                                             write_depth);
      return true;
    }
    if (widest <= 8) {
      GroupedRows<8, kColor, kBlend, kDepth>(st, steps, rows, start, widths, reads_old,
                                             write_depth);
      return true;
    }
    // A part of a row in a vector: lanes [lane, lane + len) are its pixels
    // from column `column` (its row's x0 + the part's first pixel).
    struct Part {
      int row, column, lane, len;
      M32 mask;
      hn::Mask<D16Half> mask16;
    };
    int row = 0, done = 0;  // the next pixel to draw: row `row`'s pixel `done`
    while (row < count) {
      Part parts[kN];
      int n_parts = 0, lane = 0;
      auto row_of = hn::Zero(di), k_of = hn::Zero(di);
      while (lane < kN && row < count) {
        const int len = std::min(rows.Width(row) - done, kN - lane);
        if (len > 0) {
          const M32 mask =
              hn::AndNot(hn::FirstN(d, size_t(lane)), hn::FirstN(d, size_t(lane + len)));
          const auto mi = hn::RebindMask(di, mask);
          row_of = hn::IfThenElse(mi, hn::Set(di, row), row_of);
          k_of = hn::IfThenElse(mi, hn::Set(di, done - lane), k_of);
          const auto mask16 =
              hn::AndNot(hn::FirstN(d16h, size_t(lane)), hn::FirstN(d16h, size_t(lane + len)));
          parts[n_parts++] = {row, rows.x0[row] + done - lane, lane, len, mask, mask16};
          lane += len;
          done += len;
        }
        if (done >= rows.Width(row)) {
          row++;
          done = 0;
        }
      }
      // Each lane's column in its row, as the span loop's `at`.
      const V32 at = hn::BitCast(d, hn::Add(hn::Iota(di, 0), k_of));
      const auto which = hn::IndicesFromVec(d, hn::BitCast(d, row_of));
      const auto stepped = [&](V32 first, uint32_t step) {
        return hn::Add(hn::TableLookupLanes(first, which), hn::Mul(at, hn::Set(d, step)));
      };
      V32 z = hn::Zero(d);
      if constexpr (kDepth == FusedDepth::kZ) z = stepped(first_z, steps.dz);
      hn::Vec<DF> q = hn::Zero(df);
      if (kDepth == FusedDepth::kW || st.fog_w) {
        const auto k = hn::ConvertTo(df, hn::BitCast(di, at));
        q = hn::Add(hn::BitCast(df, hn::TableLookupLanes(first_q, which)),
                    hn::Mul(k, hn::Set(df, steps.dq)));
      }
      V32 old = hn::Zero(d), offsets = hn::Zero(d);
      auto stored16 = hn::Zero(d16h);
      for (int k = 0; k < n_parts; k++) {
        const Part& part = parts[k];
        if (reads_old) {
          old = hn::Or(old,
                       hn::MaskedLoad(part.mask, d, Shifted(rows.Pixels(part.row), part.column)));
        }
        if (dithered) {
          offsets = hn::Or(
              offsets, hn::MaskedLoad(part.mask, d, Shifted(rows.dither[part.row], part.column)));
        }
        if constexpr (kDepth != FusedDepth::kNone) {
          stored16 = hn::Or(stored16, hn::MaskedLoad(part.mask16, d16h,
                                                     Shifted(rows.Depth(part.row), part.column)));
        }
      }
      const hn::Vec<DI> stored = hn::BitCast(di, hn::PromoteTo(d, stored16));
      M32 pass;
      hn::Vec<DI> written;
      const V32 result = ShadeLanes<kColor, kBlend, kDepth>(
          st, stepped(first_red, steps.color_step[0]), stepped(first_green, steps.color_step[1]),
          stepped(first_blue, steps.color_step[2]), stepped(first_alpha, steps.color_step[3]), z, q,
          hn::Zero(D16()), hn::Zero(D16()), old, stored, dithered, offsets, pass, written);
      const auto kept = hn::TruncateTo(
          d16h, hn::IfThenElse(pass, hn::BitCast(d, written), hn::BitCast(d, stored)));
      for (int k = 0; k < n_parts; k++) {
        const Part& part = parts[k];
        hn::BlendedStore(result, hn::And(pass, part.mask), d,
                         Shifted(rows.Pixels(part.row), part.column));
        if (write_depth)
          hn::BlendedStore(kept, part.mask16, d16h, Shifted(rows.Depth(part.row), part.column));
      }
    }
    return true;
  }
}
#endif

// A triangle's spans, row after row: each started from the planes as the
// rasterizer starts it, then drawn as DepthSpan draws it.
template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, FusedDepth kDepth>
void DepthRows(const TriangleInputs& tri, const SpanInputs& steps, const SpanPlanes& planes,
               const RowBatch& rows) {
  const DepthSpanState& st = StateOf(tri);
  const SpanReads reads = ReadsOf(tri.state.pipeline);
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  if (PackedRows<kColor, kBlend, kCoords, kDepth>(st, steps, planes, reads, rows)) return;
#endif
  SpanInputs span = steps;
  for (int i = 0; i < rows.count; i++) {
    span.count = rows.Width(i);
    if (span.count == 0) continue;
    span.x0 = rows.x0[i];
    span.row = rows.Pixels(i);
    span.depth = rows.Depth(i);
    span.dither = rows.Dither(i);
    StartValues(planes, tri, reads, rows.first_row + i, rows.x0[i], &span);
    DrawDepthSpan<kColor, kBlend, kCoords, kDepth>(st, tri, span);
  }
}

template <FusedColor kColor, FusedBlend kBlend, Coords kCoords, FusedDepth kDepth>
DepthLoops Loops() {
  return {&DepthSpan<kColor, kBlend, kCoords, kDepth>, &DepthRows<kColor, kBlend, kCoords, kDepth>};
}

template <FusedColor kColor, FusedBlend kBlend, Coords kCoords>
DepthLoops ForDepth(FusedDepth depth) {
  switch (depth) {
    case FusedDepth::kNone: return Loops<kColor, kBlend, kCoords, FusedDepth::kNone>();
    case FusedDepth::kZ: return Loops<kColor, kBlend, kCoords, FusedDepth::kZ>();
    case FusedDepth::kW: return Loops<kColor, kBlend, kCoords, FusedDepth::kW>();
  }
  return {};
}

template <FusedColor kColor, FusedBlend kBlend>
DepthLoops ForCoords(const FusedKind& kind, FusedDepth depth) {
  switch (kind.coords) {
    case Coords::kNone: return ForDepth<kColor, kBlend, Coords::kNone>(depth);
    case Coords::kAffine: return ForDepth<kColor, kBlend, Coords::kAffine>(depth);
    case Coords::kPerspective: return ForDepth<kColor, kBlend, Coords::kPerspective>(depth);
  }
  return {};
}

template <FusedColor kColor>
DepthLoops ForBlend(const FusedKind& kind, FusedDepth depth) {
  return kind.blend == FusedBlend::kReplace ? ForCoords<kColor, FusedBlend::kReplace>(kind, depth)
                                            : ForCoords<kColor, FusedBlend::kSrcAlpha>(kind, depth);
}

DepthLoops ChooseLoops(const FusedKind& kind, FusedDepth depth) {
  switch (kind.color) {
    case FusedColor::kTexture: return ForBlend<FusedColor::kTexture>(kind, depth);
    case FusedColor::kIterated: return ForBlend<FusedColor::kIterated>(kind, depth);
    case FusedColor::kTextureTimesIterated:
      return ForBlend<FusedColor::kTextureTimesIterated>(kind, depth);
  }
  return {};
}

#else  // HWY_SCALAR: one lane.

DepthLoops ChooseLoops(const FusedKind&, FusedDepth) {
  return {};  // the general loop draws every state
}

#endif

}  // namespace HWY_NAMESPACE
}  // namespace softboard
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace softboard {

HWY_EXPORT(ChooseLoops);

bool MatchFusedDepth(const PixelState& state, FusedKind* kind, FusedDepth* depth) {
  const PipelineState& p = state.pipeline;
  if (!p.rgb_write || !p.alpha_write) return false;
  PixelState plain = state;
  plain.pipeline = PipelineState{};
  FusedKind base;
  if (!MatchFused(plain, &base)) return false;
  // The alpha test reads the source alpha whether or not the blend does.
  if (p.alpha_function != GR_CMP_ALWAYS) {
    PixelState alpha_used = plain;
    alpha_used.blend.alpha_src = GR_BLEND_ONE;
    alpha_used.blend.alpha_dst = GR_BLEND_ZERO;
    FusedKind with_alpha;
    if (!MatchFused(alpha_used, &with_alpha)) return false;
    base.alpha = with_alpha.alpha;
    base.coords = with_alpha.coords;
  }
  if (p.chroma_key) {
    const int other = state.color.other;
    const bool textured = base.coords != Coords::kNone;
    if (!(other == GR_COMBINE_OTHER_ITERATED || (other == GR_COMBINE_OTHER_TEXTURE && textured)))
      return false;
  }
  *depth = !UsesDepth(p)           ? FusedDepth::kNone
           : WBuffer(p.depth.mode) ? FusedDepth::kW
                                   : FusedDepth::kZ;
  *kind = base;
  return true;
}

DepthLoops ChooseFusedDepthLoops(const FusedKind& kind, FusedDepth depth, PixelLayout layout) {
  if (layout != PixelLayout::kArgb8888) return {};
  return HWY_DYNAMIC_DISPATCH(ChooseLoops)(kind, depth);
}

SpanLoop ChooseFusedDepthLoop(const FusedKind& kind, FusedDepth depth, PixelLayout layout) {
  return ChooseFusedDepthLoops(kind, depth, layout).span;
}

}  // namespace softboard
#endif
