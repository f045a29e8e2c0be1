// The texture units' own path, in the general loop: what a triangle samples
// once mipmapping, filters that differ or a second unit take part. Each unit
// works out each pixel's level of detail (pixel/lod.h), chooses its level or
// levels (nearest, dithered, or two blended), filters and wraps or clamps in
// each; unit 1's output is unit 0's "other" in unit 0's combine, and unit 0's
// output is the colour combine's texture. The reference for the fused
// mipmap loops.
#pragma once

#include <cstdint>

#include "pixel/combine.h"
#include "pixel/span.h"

namespace softboard {

// The texture units' output for pixels [first, first + n) of the span.
void SampleUnitsChunk(const TriangleInputs& tri, const SpanInputs& span, int first, int n,
                      Chunk& out);

// The level of detail of pixel k of the span: the unit's constant one, or
// worked out from the span's terms (the fused loops do the same arithmetic).
Lod256 UnitLodAt(const SampledUnit& unit, const UnitSpan& s, int k);

// Which levels a pixel samples and how: level `a`, or `a` and `b` blended by
// `weight` / 256; `lod_fraction` is what LOD_FRACTION reads.
struct LevelChoice {
  int a = 0, b = 0;
  int weight = 0;
  bool bilinear = true;
  bool blend = false;
  int lod_fraction = 0;
};
// The choice of a unit in `mode` with `levels` levels (>= 1), for a pixel of
// level of detail `lod` and LOD dither value d (0..15).
LevelChoice ChooseLevels(const UnitMode& mode, int levels, Lod256 lod, int d);

// Whether a fused mipmap loop (pixel/fused_loops_mipmap.h) draws a triangle
// on the units' path; if so, `kind` says how the pixel is combined and
// blended, and `tri.unit` how each unit samples. One unit, or unit 0's
// texel times unit 1's (a light map); each unit bilinear (wrapping or clamping), with
// every level of its texture its own; both units' coordinates alike, affine
// or perspective.
bool MatchFusedUnits(const TriangleInputs& tri, FusedKind* kind);

}  // namespace softboard
