// How a triangle's texture units sample it, worked out once when it is
// prepared: unit 0 on one level with one filter, as the board sampled before
// mipmapping (the span loops' tri.texture and state.sampler), or the units'
// own path (pixel/texture_units.h): each unit's levels, its level of detail
// (constant over an affine triangle) and its coordinates along each row.
#pragma once

#include "pixel/span.h"
#include "raster/setup.h"
#include "raster/texture_memory.h"

namespace softboard {

// Fills the units' part of tri->state (unit 1's where unit 0's combine reads
// it and it has a texture) and, where the triangle reads the texture, how it
// samples. `kept` receives the decoded textures the triangle samples.
void PrepareUnits(const TextureUnitState& tmu0, const TextureUnitState* tmu1,
                  const TriangleSetup& setup, TriangleInputs* tri, SharedTexture kept[2]);

// The units' steps along a row, the same for every row (tri.units only).
void UnitRowSteps(const TriangleSetup& setup, const TriangleInputs& tri, UnitSpan (&steps)[2]);

// The units' coordinates and level-of-detail terms at the span's first pixel,
// (x0, row) (tri.units only; the steps are set).
void StartUnitSpans(const TriangleSetup& setup, const TriangleInputs& tri, int row, int x0,
                    SpanInputs* span);

}  // namespace softboard
