#include "raster/texture_unit.h"

#include <algorithm>

#include "pixel/combine_terms.h"
#include "pixel/lod.h"
#include "pixel/sampler.h"
#include "pixel/texture_units.h"

namespace softboard {
namespace {

// A unit's texture planes: s/w, t/w, 1/w.
struct UnitPlanes {
  const Plane& s;
  const Plane& t;
  const Plane& q;
};

UnitPlanes PlanesOf(const TriangleSetup& setup, int unit) {
  if (unit == 0) return {setup.plane[kPlaneSow], setup.plane[kPlaneTow], setup.plane[kPlaneOow]};
  return {setup.plane[kPlaneSow1], setup.plane[kPlaneTow1], setup.plane[kPlaneOow1]};
}

// As the row's other float inputs are made: held within float range.
float SpanFloat(double v) {
  constexpr double kMax = 1e30;
  return float(v >= -kMax ? std::min(v, kMax) : -kMax);
}

// The terms of Rho2 at (x, y) of the triangle.
struct LodTerms {
  double x_term, q, bs, bt;
};
LodTerms LodTermsAt(const TriangleSetup& setup, const UnitPlanes& p, double x, double y) {
  const double s = PlaneAt(setup, p.s, x, y), t = PlaneAt(setup, p.t, x, y);
  const double q = PlaneAt(setup, p.q, x, y);
  const double as = p.s.dx * q - s * p.q.dx, at = p.t.dx * q - t * p.q.dx;
  return {as * as + at * at, q, p.s.dy * q - s * p.q.dy, p.t.dy * q - t * p.q.dy};
}

bool ReadsLodFraction(const TexCombineState& c) {
  const auto reads = [](int function, int factor) {
    return TermsOf(function).Scaled() && TexFactorOf(factor).input == FactorInput::kLodFraction;
  };
  return reads(c.rgb_function, c.rgb_factor) || reads(c.alpha_function, c.alpha_factor);
}

void FillUnit(const DecodedTexture* texture, const UnitMode& mode, const TriangleSetup& setup,
              const UnitPlanes& p, SampledUnit* u) {
  *u = SampledUnit{};
  u->levels = std::min(LevelCount(texture), kMaxLevels);
  for (int n = 0; n < u->levels; n++) u->level[n] = MakeSampledLevel(texture, n);
  if (u->levels == 0 || u->level[0].texels == nullptr) {
    u->levels = 0;
    return;
  }
  u->complete = texture->complete;
  u->footprint = texture->footprint.data();
  for (int n = 0; n < u->levels; n++) {
    u->complete = u->complete && u->level[n].texels != nullptr;
    if (u->level[n].footprint)
      u->level_first[n] = uint32_t((u->level[n].footprint - u->footprint) / 4);
  }
  u->scale0 = float(texture->largest_side);
  const double texels_a_unit = double(texture->largest_side) / 256;
  u->texel_scale2 = texels_a_unit * texels_a_unit;
  u->bias_quarters = mode.lod_bias;
  u->lod_varies = p.q.dx != 0 || p.q.dy != 0;
  u->dq = p.q.dx;
  u->dbs = p.s.dy * p.q.dx - p.s.dx * p.q.dy;
  u->dbt = p.t.dy * p.q.dx - p.t.dx * p.q.dy;
  if (u->lod_varies) return;
  const LodTerms at = LodTermsAt(setup, p, setup.origin_x, setup.origin_y);
  const Lod256 lod = LodOf(Rho2(at.x_term, at.bs, at.bt, at.q, u->texel_scale2), u->bias_quarters);
  u->lod256 = lod.value;
  u->lod_above = lod.above;
  // 1/w the same everywhere: coordinates step in wrapping fixed point for
  // the (at most two) levels the triangle samples.
  u->affine = mode.wrap_s && mode.wrap_t;
  const LevelChoice low = ChooseLevels(mode, u->levels, lod, 0);
  const LevelChoice high = ChooseLevels(mode, u->levels, lod, 15);
  u->affine_level[0] = low.a;
  u->affine_level[1] = low.blend ? low.b : high.a;
  u->affine_bilinear = low.bilinear;
}

}  // namespace

void PrepareUnits(const TextureUnitState& tmu0, const TextureUnitState* tmu1,
                  const TriangleSetup& setup, TriangleInputs* tri, SharedTexture kept[2]) {
  PixelState& state = tri->state;
  tri->units = false;
  if (!tri->reads.texture) return;
  kept[0] = tmu0.decoded;
  state.units[0] = tmu0.mode;
  const TexCombineState& c = tmu0.combine;
  if (tmu1 && tmu1->decoded &&
      TexCombineReadsOther(c.rgb_function, c.rgb_factor, c.alpha_function, c.alpha_factor)) {
    kept[1] = tmu1->decoded;
    state.two_units = true;
    state.tex1 = tmu1->combine;
    state.units[1] = tmu1->mode;
    const Plane& q1 = setup.plane[kPlaneOow1];
    state.perspective1 = q1.dx != 0 || q1.dy != 0;
  }
  FillUnit(kept[0].get(), tmu0.mode, setup, PlanesOf(setup, 0), &tri->unit[0]);
  const SampledUnit& u0 = tri->unit[0];
  const UnitMode& m = tmu0.mode;
  // One level with one filter: sampled as before mipmapping, by the loops
  // that take tri->texture.
  int level = 0;
  bool bilinear = m.mag_bilinear;
  bool one_level = u0.levels == 0 || ((m.mipmap == GR_MIPMAP_DISABLE || u0.levels == 1) &&
                                      m.min_bilinear == m.mag_bilinear);
  if (!one_level && !u0.lod_varies) {
    const Lod256 lod{u0.lod256, u0.lod_above};
    const LevelChoice low = ChooseLevels(m, u0.levels, lod, 0);
    const LevelChoice high = ChooseLevels(m, u0.levels, lod, 15);
    one_level = !low.blend && low.a == high.a;
    level = low.a;
    bilinear = low.bilinear;
  }
  if (m.mipmap != GR_MIPMAP_DISABLE && ReadsLodFraction(c)) one_level = false;
  if (one_level && !state.two_units) {
    tri->unit[0] = SampledUnit{};
    state.sampler.bilinear = bilinear;
    tri->texture = MakeSampledLevel(kept[0].get(), level);
    return;
  }
  tri->units = true;
  if (state.two_units)
    FillUnit(kept[1].get(), tmu1->mode, setup, PlanesOf(setup, 1), &tri->unit[1]);
}

void UnitRowSteps(const TriangleSetup& setup, const TriangleInputs& tri, UnitSpan (&steps)[2]) {
  for (int u = 0; u < (tri.state.two_units ? 2 : 1); u++) {
    const SampledUnit& unit = tri.unit[u];
    const UnitPlanes p = PlanesOf(setup, u);
    UnitSpan& s = steps[u];
    if (unit.affine) {
      const double w = 1 / p.q.at_origin;
      for (int j = 0; j < 2; j++) {
        const SampledTexture& t = unit.level[unit.affine_level[j]];
        s.du[j] = WrapFixed(p.s.dx * w * t.scale, t.width_log2);
        s.dv[j] = WrapFixed(p.t.dx * w * t.scale, t.height_log2);
      }
    } else {
      s.dsow = SpanFloat(p.s.dx);
      s.dtow = SpanFloat(p.t.dx);
      s.doow = SpanFloat(p.q.dx);
    }
  }
}

void StartUnitSpans(const TriangleSetup& setup, const TriangleInputs& tri, int row, int x0,
                    SpanInputs* span) {
  const double px = x0 + 0.5, py = row + 0.5;
  for (int u = 0; u < (tri.state.two_units ? 2 : 1); u++) {
    const SampledUnit& unit = tri.unit[u];
    if (unit.levels == 0) continue;
    const UnitPlanes p = PlanesOf(setup, u);
    UnitSpan& s = span->units[u];
    const double ss = PlaneAt(setup, p.s, px, py), tt = PlaneAt(setup, p.t, px, py);
    if (unit.affine) {
      const double w = 1 / p.q.at_origin;
      const double offset = unit.affine_bilinear ? kBilinearOffset : 0.0;
      for (int j = 0; j < 2; j++) {
        const SampledTexture& t = unit.level[unit.affine_level[j]];
        s.u[j] = WrapFixed(ss * w * t.scale + offset, t.width_log2);
        s.v[j] = WrapFixed(tt * w * t.scale + offset, t.height_log2);
      }
    } else {
      s.sow = SpanFloat(ss);
      s.tow = SpanFloat(tt);
      s.oow = SpanFloat(PlaneAt(setup, p.q, px, py));
    }
    if (unit.lod_varies) {
      const LodTerms at = LodTermsAt(setup, p, px, py);
      s.x_term = at.x_term;
      s.q = at.q;
      s.bs = at.bs;
      s.bt = at.bt;
    }
  }
}

}  // namespace softboard
