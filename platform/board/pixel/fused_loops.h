// The fused loops: for the common states, one pass over a span does
// everything in registers (step the colours, address and filter the texture,
// combine, blend, store), several pixels at a time. One Highway source,
// compiled for every SIMD target; the best one the CPU runs is chosen at run
// time. Every fused loop gives the general loop's pixels, to the bit.
#pragma once

#include "pixel/pixel_rows.h"
#include "pixel/pixel_state.h"
#include "pixel/span.h"

namespace softboard {

// The fused loop for `kind` on the best target this CPU runs; null on the
// one-lane fallback target, which leaves every state to the general loop.
// A textured kind needs a texture (texels non-null) whose coordinates step
// as `kind.coords` says. A 5-6-5 `layout`: the loop draws spans of a
// 5-6-5 buffer (SpanInputs::row565), quantising through span.dither.
SpanLoop ChooseFusedLoop(const FusedKind& kind, PixelLayout layout = PixelLayout::kArgb8888);

// The name of the target ChooseFusedLoop picks ("AVX2", "SSE4", ...).
const char* FusedTargetName();

}  // namespace softboard
