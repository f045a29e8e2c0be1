// Texture sampling of unit 0: the texture as the span loops see it, and the
// general path's sampling of a chunk: coordinates stepped in wrapping fixed
// point or divided per pixel, then point or bilinear filtering with wrapping
// or clamping.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pixel/combine.h"
#include "pixel/span.h"

namespace softboard {

// One decoded texture level, texels packed 0xAARRGGBB, row by row from the top.
struct TextureLevel {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> texels;
  // Each texel's wrapped 2x2 neighbourhood (itself, right, below,
  // below-right): a bilinear sample is one 16-byte load.
  std::vector<uint32_t> footprint;
};

// A decoded texture is never changed once made: a triangle recorded for a
// frame keeps the one it was prepared with, whatever the program selects or
// downloads after it.
using SharedTexture = std::shared_ptr<const TextureLevel>;

// A level of decoded texels with its footprints made.
SharedTexture MakeTextureLevel(int width, int height, std::vector<uint32_t> texels);

// The level as the span loops sample it. A null level, or one whose sides are
// not powers of two, samples opaque white (texels null).
SampledTexture MakeSampledTexture(const TextureLevel* level);

// Bilinear samples sit at texel centres and round to the nearest 1/256 texel;
// point samples take the texel the coordinate falls in. In 1/256 texel.
constexpr float kBilinearOffset = -127.5f;

// A coordinate in 1/256 texel (s times the texture's scale, plus the offset)
// in wrapping fixed point for a side of 2^side_log2 texels: floor(x * 2^(24 -
// side_log2)) modulo 2^32. Not finite: 0.
uint32_t WrapFixed(double x, int side_log2);

// Texels (r, g, b, a) of pixels [first, first + n) of the span, n <= kChunk.
void SampleChunk(const TriangleInputs& tri, const SpanInputs& span, int first, int n, Chunk& out);

}  // namespace softboard
