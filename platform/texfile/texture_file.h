// The 3DF texture file reader. The parser works on bytes in memory; the file
// functions read the file (bounded) and hand it over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "grlib.h"

namespace texfile {

// The four header lines must end within this many bytes.
constexpr size_t kMaxTextureHeaderBytes = 512;
// Header, palette and a 256x256 16-bit chain: nothing legal is longer.
constexpr size_t kMaxTextureFileBytes = kMaxTextureHeaderBytes + 1024 + 174762;

// Where the parts of a checked file lie.
struct TextureFileLayout {
  Gu3dfHeader header;
  uint32_t mem_required;  // texel bytes of every level
  size_t table_offset;
  size_t table_bytes;  // 80 (NCC), 1024 (palette) or 0
  size_t texel_offset;
};

// Checks the header, that the table and every level are present, and the NCC
// table's ranges. Bytes after the last level are ignored.
bool ParseTextureFile(const uint8_t* bytes, size_t size, TextureFileLayout* layout,
                      std::string* error);

// Fills info->header and info->mem_required. On failure returns false with a
// reason and leaves info as it was.
bool ReadTextureInfo(const uint8_t* bytes, size_t size, Gu3dfInfo* info, std::string* error);

// Checks the file again, then fills info->header, info->mem_required,
// info->table and the texels in info->data (16-bit texels in host order).
// info->data must be non-null and hold info->mem_required bytes; a file that
// needs more is refused. On failure nothing is written.
bool LoadTexture(const uint8_t* bytes, size_t size, Gu3dfInfo* info, std::string* error);

// The same on a file; only a regular file is read. Errors name the path.
bool ReadTextureFileInfo(const char* path, Gu3dfInfo* info, std::string* error);
bool LoadTextureFile(const char* path, Gu3dfInfo* info, std::string* error);

}  // namespace texfile
