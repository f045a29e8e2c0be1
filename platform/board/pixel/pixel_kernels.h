// The fused span loops: for the common states, one pass over a span does
// everything in registers (step the colours, address and filter the texture,
// combine, blend, store), several pixels at a time. One source, compiled for
// every SIMD target; the best one the CPU runs is chosen at run time.
#pragma once

#include "pixel/pixel_state.h"
#include "pixel/span.h"

namespace softboard {

using SpanLoop = void (*)(const TriangleInputs& tri, const SpanInputs& span);

// The fused loop for `kind` on the best target this CPU runs; null on the
// one-lane fallback target, which leaves every state to the general loop.
// `kind.textured` needs a texture (texels non-null) whose coordinates are
// affine exactly when !kind.perspective. `rgb565`: the loop draws spans of a
// 5-6-5 buffer (SpanInputs::row565), quantising through span.dither.
SpanLoop ChooseFusedLoop(const FusedKind& kind, bool rgb565 = false);

// Averages each `ssaa` x `ssaa` block of a width x height buffer (ssaa 2 or 4)
// into one pixel of `out`, every channel rounded to nearest: a box filter.
// Rows of `out` are `out_stride` pixels apart (0: width / ssaa, packed).
void AverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                 size_t out_stride = 0);

// Quantises n pixels to 5-6-5 in place (alpha as it was), each channel c
// becoming the level floor(c * L / 255 + t/16) of L = 31 or 63, widened back to
// 8 bits by repeating its top bits; offsets[i] holds DitherOffset(t) for
// pixel i in both 16-bit halves.
void DitherSpan(uint32_t* pixels, int n, const uint32_t* offsets);

// How far past a span's end a fused loop may read its dither offsets: two
// vectors of 32-bit lanes at the widest (SVE's, up to 2048 bits).
constexpr int kDitherReadPast = 128;

// floor(c*L/255 + t/16) is ((c*L + o) * 257) >> 16 for this o: c*L/255 moves
// up a level exactly when its remainder reaches 255 (1 - t/16), rounded up,
// and (y * 257) >> 16 is (y - 1) / 255 for every y up to 16321.
constexpr uint32_t DitherOffset(uint32_t t16) {
  return 256 - (4080 - 255 * t16 + 15) / 16;
}

// Quantises n pixels to 5-6-5 as DitherSpan does, storing each as its 16-bit
// value (red in the top bits) and its alpha byte.
void Pack565(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb, uint8_t* alpha);

// n 5-6-5 pixels and their alpha bytes as 0xAARRGGBB, widened by repeating bits.
void Widen565(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out);

// One channel c 0..255 to its level of `bits` (5 or 6).
constexpr uint32_t Level565(uint32_t c, int bits, uint32_t offset) {
  return ((c * ((1u << bits) - 1) + offset) * 257) >> 16;
}
// A level back to 8 bits: repeating its top bits is multiplying by 2^bits + 1
// and shifting.
constexpr uint32_t WidenLevel(uint32_t v, int bits) {
  return (v * ((1u << bits) + 1)) >> (2 * bits - 8);
}
// One channel of DitherSpan.
constexpr uint32_t Quantize565(uint32_t c, int bits, uint32_t offset) {
  return WidenLevel(Level565(c, bits, offset), bits);
}
constexpr uint32_t WidenPixel565(uint16_t p, uint8_t alpha) {
  return uint32_t(alpha) << 24 | WidenLevel(p >> 11u, 5) << 16 | WidenLevel(p >> 5u & 63u, 6) << 8 |
         WidenLevel(p & 31u, 5);
}

// The name of the target ChooseFusedLoop picks ("AVX2", "SSE4", ...).
const char* FusedTargetName();

}  // namespace softboard
