// Images to texel levels and back: the mip chain, quantisation to a format,
// and decoding with the texture's own table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "texture_3df.h"

namespace tex3df {

using texfile::Texture3df;

// Pixels 0xAARRGGBB, row by row from the top.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// The formats the encoder writes (those without a table).
bool IsEncodableFormat(int format);

// Power-of-two sides from 1 to 256, aspect from 8:1 to 1:8; otherwise a
// message naming the sizes allowed.
bool CheckTextureSize(int width, int height, std::string* error);

// The image and its halvings by a 2x2 box filter down to 1 on the longer side
// (a side already 1 stays 1). Only the image itself when !mipmaps.
std::vector<Image> BuildMipChain(const Image& image, bool mipmaps);

// The texel of `format` nearest to the colour: each channel quantised to the
// nearest value the format's widening produces.
uint32_t EncodeTexel(int format, uint32_t argb);

bool EncodeTexture(const Image& image, int format, bool mipmaps, Texture3df* tex,
                   std::string* error);

// Level `level` (0 is the largest) decoded with the texture's own table;
// an empty image when there is no such level.
Image DecodeLevel(const Texture3df& tex, int level);

}  // namespace tex3df
