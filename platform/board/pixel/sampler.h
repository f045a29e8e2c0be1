// Texture sampling: decoded textures as the span loops see them, and the
// general path's sampling of one level in a chunk: coordinates stepped in wrapping fixed
// point or divided per pixel, then point or bilinear filtering with wrapping
// or clamping.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pixel/combine.h"
#include "pixel/span.h"

namespace softboard {

// Where one level of a decoded texture lies in its arrays.
struct LevelPlace {
  int width = 0;
  int height = 0;
  size_t first = 0;  // its first texel in `texels`; its footprints from 4 * first
};

// A decoded texture, texels packed 0xAARRGGBB, row by row from the top: the
// level sampled when mipmapping is off (width x height, first in the
// arrays), then the texture's smaller levels, each after the one before.
struct DecodedTexture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> texels;
  // Each texel's wrapped 2x2 neighbourhood within its level (itself, right,
  // below, below-right): a bilinear sample is one 16-byte load.
  std::vector<uint32_t> footprint;
  // Level n of the texture, its largest halved n times on each side (never
  // below 1), for n from 0; a level the texture's memory does not hold (left
  // out by its level mask) is the nearest larger one it holds, or smaller.
  // Empty: the one level above is level 0.
  std::vector<LevelPlace> levels;
  bool complete = true;  // every level is its own
  int largest_side = 0;  // level 0's longer side
};

// A decoded texture is never changed once made: a triangle recorded for a
// frame keeps the one it was prepared with, whatever the program selects or
// downloads after it.
using SharedTexture = std::shared_ptr<const DecodedTexture>;

// A texture of one level, its footprints made.
SharedTexture MakeDecodedTexture(int width, int height, std::vector<uint32_t> texels);
// A texture of levels (see DecodedTexture::levels: places in `texels`, held
// ones repeated), its footprints made; `largest_side` is level 0's longer side.
SharedTexture MakeDecodedChain(std::vector<LevelPlace> levels, std::vector<uint32_t> texels,
                               int largest_side);

// The first level as the span loops sample it. A null texture, or one whose
// sides are not powers of two, samples opaque white (texels null).
SampledTexture MakeSampledTexture(const DecodedTexture* texture);
// Level n of the texture (held to its levels), likewise.
SampledTexture MakeSampledLevel(const DecodedTexture* texture, int n);
// Levels of the texture: 1 for one of a single level, 0 for none.
int LevelCount(const DecodedTexture* texture);

// Bilinear samples sit at texel centres and round to the nearest 1/256 texel;
// point samples take the texel the coordinate falls in. In 1/256 texel.
constexpr float kBilinearOffset = -127.5f;

// A perspective coordinate in 1/256 texel, floored to an integer and held
// within +-2^30 (NaN low), as the fused loops convert it.
int32_t FloorFixed(float x);

// A coordinate in 1/256 texel (s times the texture's scale, plus the offset)
// in wrapping fixed point for a side of 2^side_log2 texels: floor(x * 2^(24 -
// side_log2)) modulo 2^32. Not finite: 0.
uint32_t WrapFixed(double x, int side_log2);

// Texels (r, g, b, a) of pixels [first, first + n) of the span, n <= kChunk.
void SampleChunk(const TriangleInputs& tri, const SpanInputs& span, int first, int n, Chunk& out);

}  // namespace softboard
