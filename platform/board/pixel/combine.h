// The combine units on a chunk of pixels: the texture unit's own combine of its
// texel, then the colour and alpha combine of each pixel. The general path.
#pragma once

#include <cstdint>

#include "pixel/render_state.h"

namespace softboard {

// Pixels are combined and blended a chunk at a time, each channel planar.
constexpr int kChunk = 64;
struct alignas(64) Chunk {
  uint8_t c[4][kChunk];  // r, g, b, a
};

// What a pixel's combine reads.
struct CombineSources {
  const Chunk* iterated;
  const Chunk* texture;  // the texture unit's output
  const Chunk* constant;
};

// local is the texel; there is no upstream unit, so other is 0.
void CombineTexture(const TexCombineState& state, const Chunk& texel, int n, Chunk& out);
// The same with the upstream unit's output as other (null: 0) and the unit's
// trilinear weights, 0..255 a pixel, for LOD_FRACTION (null: 0).
void CombineTextureChained(const TexCombineState& state, const Chunk& texel, const Chunk* other,
                           const uint8_t* lod_fraction, int n, Chunk& out);
void CombinePixels(const CombineState& color, const CombineState& alpha, const CombineSources& in,
                   int n, Chunk& out);

}  // namespace softboard
