// Texel formats: level sizes, bytes per texel and decoding to 8-bit RGBA.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "grlib.h"

namespace texfile {

// Size of one level: `lod` 0 is 256 on the longer side ... 8 is 1; a side is
// never below 1.
struct LevelSize {
  int width;
  int height;
};
LevelSize LevelDimensions(int lod, int aspect);  // {0, 0} for invalid arguments

// The longer side of a level: 256 for lod 0 ... 1 for lod 8; 0 when invalid.
int SideOfLod(int lod);
// The lod whose longer side is `side`; -1 unless a power of two from 1 to 256.
int LodOfSide(int side);
// The aspect's ratio as the 3DF header writes it ("8 1" ... "1 8"); {0, 0}
// when invalid.
LevelSize AspectRatio(int aspect);
// The aspect of a width:height ratio given in lowest terms (8:1 ... 1:8); -1
// for any other pair.
int AspectOfRatio(int width, int height);
// The aspect of a level of width x height (powers of two); -1 when its ratio
// is beyond 8:1 or 1:8.
int AspectOfSize(int width, int height);

bool IsValidFormat(int format);
bool IsValidLod(int lod);
bool IsValidAspect(int aspect);
int TexelBytes(int format);  // 1 or 2; 0 for an invalid format

bool HasNccTable(int format);  // yiq, ayiq8422
bool HasPalette(int format);   // p8, ap88
bool HasAlpha(int format);     // a texel alpha other than a constant 255

// The lower-case names of the 3DF header; null / -1 when there is none.
const char* TextureFormatName(int format);
int TextureFormatFromName(std::string_view name);

// Bytes of one level; 0 for invalid arguments.
uint32_t LevelBytes(int lod, int aspect, int format);
// Bytes of the texels of levels large_lod..small_lod; 0 for invalid arguments.
uint32_t MipMapBytes(int small_lod, int large_lod, int aspect, int format);

// An n-bit field widened to 8 bits by repeating its bits from the top
// (5 bits abcde -> abcdeabc; 1 bit -> 0 or 255).
constexpr uint8_t WidenBits(uint32_t field, int bits) {
  const uint32_t v = field & ((1u << bits) - 1);
  uint32_t r = 0;
  for (int shift = 8 - bits; shift > -bits; shift -= bits)
    r |= shift >= 0 ? v << shift : v >> -shift;
  return uint8_t(r);
}

// Fills ncc.packed_data from its Y, I and Q entries, as the board's table
// registers would hold them: four bytes of Y a word, then each I and Q entry as
// three 9-bit fields (r 26-18, g 17-9, b 8-0).
void PackNccTable(GuNccTable& ncc);

// Decodes width*height texels of `format` (16-bit ones in host order, as the
// reader leaves them) to 0xAARRGGBB.
void DecodeTexels(int format, const uint8_t* texels, int width, int height,
                  const std::array<uint32_t, 256>& palette, const GuNccTable& ncc, uint32_t* out);

}  // namespace texfile
