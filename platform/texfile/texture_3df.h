// A whole 3DF texture in memory, and reading and writing it as a file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "grlib.h"

namespace texfile {

struct Texture3df {
  int format = GR_TEXFMT_RGB_565;
  int small_lod = GR_LOD_1;
  int large_lod = GR_LOD_256;
  int aspect = GR_ASPECT_1x1;
  GuNccTable ncc{};                     // yiq, ayiq8422
  std::array<uint32_t, 256> palette{};  // p8, ap88: 0xAARRGGBB
  std::vector<uint8_t> texels;          // every level, largest first; 16-bit in host order
};

int LevelCount(const Texture3df& tex);
// Offset of level `level` (0 is the largest) in tex.texels.
uint32_t LevelOffset(const Texture3df& tex, int level);

// The file's bytes: header ("3df v1.1"), table, big-endian texels. False when
// the fields are invalid or texels has the wrong size.
bool Serialize3df(const Texture3df& tex, std::vector<uint8_t>* bytes, std::string* error);

// Writes the file through a temporary beside `path`: never a partial file.
bool Write3dfFile(const std::string& path, const Texture3df& tex, std::string* error);

// Reads a file through the board's reader, table included. Errors name the path.
bool Read3dfFile(const std::string& path, Texture3df* tex, std::string* error);

}  // namespace texfile
