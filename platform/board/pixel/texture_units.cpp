#include "pixel/texture_units.h"

#include <algorithm>
#include <cstring>

#include "pixel/combine_terms.h"
#include "pixel/sampler.h"

namespace softboard {
namespace {

int Channel(uint32_t p, int c) {
  return int(p >> (c == 3 ? 24 : 16 - 8 * c) & 255);
}

int Address(int i, int mask, bool wrap) {
  return wrap ? i & mask : std::clamp(i, 0, mask);
}

// One level's texel or bilinear sample at (u, v) in 1/256 texel (the offset
// of a bilinear sample already in them), as 0xAARRGGBB.
uint32_t SampleLevel(const SampledTexture& t, int32_t u, int32_t v, bool bilinear, bool wrap_s,
                     bool wrap_t) {
  const int wm = t.width - 1, hm = t.height - 1;
  const int iu = u >> 8, iv = v >> 8;
  const uint32_t* row0 = t.texels + (Address(iv, hm, wrap_t) << t.width_log2);
  const int x0 = Address(iu, wm, wrap_s);
  if (!bilinear) return row0[x0];
  const uint32_t* row1 = t.texels + (Address(iv + 1, hm, wrap_t) << t.width_log2);
  const int x1 = Address(iu + 1, wm, wrap_s);
  const int fu = u & 255, fv = v & 255;
  uint32_t out = 0;
  for (int c = 0; c < 4; c++) {
    const int value = Bilinear8(Channel(row0[x0], c), Channel(row0[x1], c), Channel(row1[x0], c),
                                Channel(row1[x1], c), fu, fv);
    out |= uint32_t(value) << (c == 3 ? 24 : 16 - 8 * c);
  }
  return out;
}

// Level `level` at pixel k: stepped in fixed point when affine (the level is
// one of the two affine ones), otherwise divided.
uint32_t SampleAt(const SampledUnit& unit, const UnitMode& mode, const UnitSpan& s, int k,
                  int level, bool bilinear) {
  const SampledTexture& t = unit.level[level];
  if (unit.affine) {
    const int j = level == unit.affine_level[0] ? 0 : 1;
    const uint32_t uk = uint32_t(k);
    const uint32_t u = (s.u[j] + uk * s.du[j]) >> (24 - t.width_log2);
    const uint32_t v = (s.v[j] + uk * s.dv[j]) >> (24 - t.height_log2);
    return SampleLevel(t, int32_t(u), int32_t(v), unit.affine_bilinear, true, true);
  }
  const float kf = float(k);
  const float q = s.oow + kf * s.doow;
  const float ss = (s.sow + kf * s.dsow) / q;
  const float tt = (s.tow + kf * s.dtow) / q;
  const float offset = bilinear ? kBilinearOffset : 0.0f;
  return SampleLevel(t, FloorFixed(ss * t.scale + offset), FloorFixed(tt * t.scale + offset),
                     bilinear, mode.wrap_s, mode.wrap_t);
}

// One unit's texels and LOD fractions for the chunk.
void SampleUnit(const SampledUnit& unit, const UnitMode& mode, const UnitSpan& s,
                const SpanInputs& span, int first, int n, Chunk& out, uint8_t* lod_fraction) {
  if (unit.levels == 0 || unit.level[0].texels == nullptr) {
    for (auto& channel : out.c) std::memset(channel, 255, size_t(n));
    std::memset(lod_fraction, 0, size_t(n));
    return;
  }
  for (int i = 0; i < n; i++) {
    const int k = first + i;
    const int d = span.lod_dither ? span.lod_dither[span.x0 + k] : 0;
    const LevelChoice c = ChooseLevels(mode, unit.levels, UnitLodAt(unit, s, k), d);
    uint32_t p = SampleAt(unit, mode, s, k, c.a, c.bilinear);
    if (c.blend) {
      const uint32_t pb = SampleAt(unit, mode, s, k, c.b, c.bilinear);
      uint32_t mixed = 0;
      for (int ch = 0; ch < 4; ch++) {
        const int value =
            (Channel(p, ch) * (256 - c.weight) + Channel(pb, ch) * c.weight + 128) >> 8;
        mixed |= uint32_t(value) << (ch == 3 ? 24 : 16 - 8 * ch);
      }
      p = mixed;
    }
    for (int ch = 0; ch < 4; ch++) out.c[ch][i] = uint8_t(Channel(p, ch));
    lod_fraction[i] = uint8_t(c.lod_fraction);
  }
}

bool PassesTexel(const TexCombineState& t) {
  return t.rgb_function == GR_COMBINE_FUNCTION_LOCAL && !t.rgb_invert &&
         t.alpha_function == GR_COMBINE_FUNCTION_LOCAL && !t.alpha_invert;
}

// Unit 0's texel times unit 1's output (SCALE_OTHER by LOCAL), alpha unit 0's.
bool LightMap(const TexCombineState& t) {
  return t.rgb_function == GR_COMBINE_FUNCTION_SCALE_OTHER &&
         t.rgb_factor == GR_COMBINE_FACTOR_LOCAL && !t.rgb_invert &&
         t.alpha_function == GR_COMBINE_FUNCTION_LOCAL && !t.alpha_invert;
}

// A unit a fused loop samples: bilinear both ways, its levels its own.
bool FusableUnit(const SampledUnit& unit, const UnitMode& mode) {
  return unit.levels > 0 && unit.complete && unit.level[0].texels != nullptr && mode.min_bilinear &&
         mode.mag_bilinear;
}

}  // namespace

Lod256 UnitLodAt(const SampledUnit& unit, const UnitSpan& s, int k) {
  if (!unit.lod_varies) return {unit.lod256, unit.lod_above};
  const double kd = k;
  const double q = s.q + kd * unit.dq;
  const double bs = s.bs + kd * unit.dbs;
  const double bt = s.bt + kd * unit.dbt;
  return LodOf(Rho2(s.x_term, bs, bt, q, unit.texel_scale2), unit.bias_quarters);
}

LevelChoice ChooseLevels(const UnitMode& mode, int levels, Lod256 lod, int d) {
  LevelChoice c;
  const bool minified = lod.value > 0 || (lod.value == 0 && lod.above);
  c.bilinear = minified ? mode.min_bilinear : mode.mag_bilinear;
  if (mode.mipmap == GR_MIPMAP_DISABLE) return c;  // the largest level
  const int whole = lod.value >> 8;
  if (whole >= 0 && whole < levels - 1) c.lod_fraction = lod.value & 255;
  if (mode.lod_blend) {
    c.a = HoldLevel(whole, levels);
    c.b = HoldLevel(whole + 1, levels);
    c.weight = lod.value & 255;
    c.blend = c.a != c.b;
    return c;
  }
  const int level = mode.mipmap == GR_MIPMAP_NEAREST_DITHER ? DitheredLevel(lod.value, d)
                                                            : NearestLevel(lod.value);
  c.a = c.b = HoldLevel(level, levels);
  return c;
}

void SampleUnitsChunk(const TriangleInputs& tri, const SpanInputs& span, int first, int n,
                      Chunk& out) {
  const PixelState& state = tri.state;
  Chunk texel0, texel1, out1;
  alignas(64) uint8_t fraction0[kChunk], fraction1[kChunk];
  SampleUnit(tri.unit[0], state.units[0], span.units[0], span, first, n, texel0, fraction0);
  if (!state.two_units) {
    CombineTextureChained(state.tex, texel0, nullptr, fraction0, n, out);
    return;
  }
  SampleUnit(tri.unit[1], state.units[1], span.units[1], span, first, n, texel1, fraction1);
  CombineTextureChained(state.tex1, texel1, nullptr, fraction1, n, out1);  // its other is 0
  CombineTextureChained(state.tex, texel0, &out1, fraction0, n, out);
}

bool MatchFusedUnits(const TriangleInputs& tri, FusedKind* kind) {
  const PixelState& state = tri.state;
  if (!tri.units || !PlainPipeline(state.pipeline)) return false;
  // The colour, alpha and blend as a fused loop takes them, the units aside.
  PixelState plain = state;
  plain.tex = {};
  plain.sampler = {};
  FusedKind k;
  if (!MatchFused(plain, &k) || k.coords == Coords::kNone || k.color == FusedColor::kIterated)
    return false;
  if (state.two_units ? !LightMap(state.tex) || !PassesTexel(state.tex1) : !PassesTexel(state.tex))
    return false;
  const int units = state.two_units ? 2 : 1;
  for (int u = 0; u < units; u++)
    if (!FusableUnit(tri.unit[u], state.units[u])) return false;
  const bool affine = tri.unit[0].affine;
  if (state.two_units && tri.unit[1].affine != affine) return false;
  k.coords = affine ? Coords::kAffine : Coords::kPerspective;
  *kind = k;
  return true;
}

}  // namespace softboard
