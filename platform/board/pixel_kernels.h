// The fused span loops: for the common states, one pass over a span does
// everything in registers (step the colours, address and filter the texture,
// combine, blend, store), several pixels at a time. One source, compiled for
// every SIMD target; the best one the CPU runs is chosen at run time.
#pragma once

#include "pixel_state.h"
#include "span.h"

namespace softboard {

using SpanLoop = void (*)(const TriangleInputs& tri, const SpanInputs& span);

// The fused loop for `kind` on the best target this CPU runs; null on the
// one-lane fallback target, which leaves every state to the general loop.
// `kind.textured` needs a texture (texels non-null) whose coordinates are
// affine exactly when !kind.perspective.
SpanLoop ChooseFusedLoop(const FusedKind& kind);

// Averages each `ssaa` x `ssaa` block of a width x height buffer (ssaa 2 or 4)
// into one pixel of `out`, every channel rounded to nearest: a box filter.
void AverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out);

// Quantises n pixels to 5-6-5 in place (alpha as it was), each channel c
// becoming the level floor(c * L / 255 + t/16) of L = 31 or 63, widened back to
// 8 bits by repeating its top bits; offsets[i] holds DitherOffset(t) for
// pixel i in both 16-bit halves.
void DitherSpan(uint32_t* pixels, int n, const uint32_t* offsets);

// floor(c*L/255 + t/16) is ((c*L + o) * 257) >> 16 for this o: c*L/255 moves
// up a level exactly when its remainder reaches 255 (1 - t/16), rounded up,
// and (y * 257) >> 16 is (y - 1) / 255 for every y up to 16321.
constexpr uint32_t DitherOffset(uint32_t t16) {
  return 256 - (4080 - 255 * t16 + 15) / 16;
}

// One channel of DitherSpan: c 0..255 to `bits` (5 or 6) and back to 8 bits
// (repeating the top bits is multiplying by 2^bits + 1 and shifting).
constexpr uint32_t Quantize565(uint32_t c, int bits, uint32_t offset) {
  const uint32_t v = ((c * ((1u << bits) - 1) + offset) * 257) >> 16;
  return (v * ((1u << bits) + 1)) >> (2 * bits - 8);
}

// The name of the target ChooseFusedLoop picks ("AVX2", "SSE4", ...).
const char* FusedTargetName();

}  // namespace softboard
