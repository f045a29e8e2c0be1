// The fused loops of the texture units' own path: mipmapped bilinear
// sampling (a level a pixel, nearest or dithered, or a constant one) and
// trilinear (two levels blended), affine or perspective, of one unit or of a
// texture times a light map from unit 1; then the colour, alpha and blend of
// the fused loops (pixel/fused_loops.h). Which states they take:
// MatchFusedUnits (pixel/texture_units.h). Every one gives the general
// loop's pixels, to the bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel/pixel_rows.h"
#include "pixel/pixel_state.h"
#include "pixel/span.h"

namespace softboard {

// The loop for `kind` (its coords affine or perspective) with one unit or,
// `two_units`, a light map, on the best target this CPU runs; null on the
// one-lane target.
SpanLoop ChooseFusedUnitsLoop(const FusedKind& kind, bool two_units,
                              PixelLayout layout = PixelLayout::kArgb8888);

// floor(128 log2 m) of each m in [1, 2] as the perspective loops' level of
// detail takes it on the best target (their mantissas rounded to floats), or
// -1 where they leave it to the exact tables: for the tests.
void FusedLog2x128(const float* m, int32_t* out, size_t count);

}  // namespace softboard
