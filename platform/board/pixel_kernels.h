// The fused span loops: for the common states, one pass over a span does
// everything in registers (step the colours, address and filter the texture,
// combine, blend, store), several pixels at a time. One source, compiled for
// every SIMD target; the best one the CPU runs is chosen at run time.
#pragma once

#include "pixel_state.h"
#include "span.h"

namespace softboard {

using SpanLoop = void (*)(const TriangleInputs& tri, const SpanInputs& span);

// The fused loop for `spec` on the best target this CPU runs; null on the
// one-lane fallback target, which leaves every state to the general loop.
// `spec.textured` needs a texture (texels non-null) whose coordinates are
// affine exactly when !spec.perspective.
SpanLoop ChooseFusedLoop(const FusedSpec& spec);

// Averages each `ssaa` x `ssaa` block of a width x height buffer (ssaa 2 or 4)
// into one pixel of `out`, every channel rounded to nearest: a box filter.
void AverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out);

// The name of the target ChooseFusedLoop picks ("AVX2", "SSE4", ...).
const char* FusedTargetName();

}  // namespace softboard
