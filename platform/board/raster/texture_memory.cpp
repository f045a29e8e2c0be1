#include "raster/texture_memory.h"

#include <algorithm>
#include <cstring>

#include "texel_formats.h"

namespace softboard {
namespace {

using texfile::DecodeTexels;
using texfile::IsValidAspect;
using texfile::IsValidFormat;
using texfile::IsValidLod;
using texfile::LevelBytes;
using texfile::LevelDimensions;
using texfile::LevelSize;
using texfile::PackNccTable;

bool InMask(int lod, uint32_t level_mask) {
  return level_mask & (lod % 2 == 0 ? GR_MIPMAPLEVELMASK_EVEN : GR_MIPMAPLEVELMASK_ODD);
}

bool IsValidTexture(const GrTexInfo& info, uint32_t level_mask) {
  return IsValidLod(info.smallLod) && IsValidLod(info.largeLod) && info.largeLod <= info.smallLod &&
         IsValidAspect(info.aspectRatio) && IsValidFormat(info.format) &&
         level_mask >= GR_MIPMAPLEVELMASK_EVEN && level_mask <= GR_MIPMAPLEVELMASK_BOTH;
}

// The texture's bytes at `address`, when valid and inside texture memory; 0 otherwise.
uint32_t PlacedBytes(uint32_t address, uint32_t level_mask, const GrTexInfo& info) {
  if (!IsValidTexture(info, level_mask)) return 0;
  const uint32_t bytes =
      TextureMemoryBytes(info.smallLod, info.largeLod, info.aspectRatio, info.format, level_mask);
  return uint64_t(address) + bytes <= kTextureMemoryBytes ? bytes : 0;
}

uint32_t SourceBytes(const TextureSource& s) {
  return TextureMemoryBytes(s.small_lod, s.large_lod, s.aspect, s.format, s.level_mask);
}

}  // namespace

uint32_t TexMinAddress() {
  return 0;
}
uint32_t TexMaxAddress() {
  return kTextureMemoryBytes;
}

uint32_t TextureMemoryBytes(int small_lod, int large_lod, int aspect, int format,
                            uint32_t level_mask) {
  if (!IsValidLod(small_lod) || !IsValidLod(large_lod) || large_lod > small_lod) return 0;
  uint32_t bytes = 0;
  for (int lod = large_lod; lod <= small_lod; ++lod)
    if (InMask(lod, level_mask)) bytes += LevelBytes(lod, aspect, format);
  return bytes;
}

const char* TextureRefusal(uint32_t address, uint32_t level_mask, const GrTexInfo& info) {
  if (!IsValidTexture(info, level_mask)) return "invalid level range, aspect, format or level mask";
  const uint32_t bytes =
      TextureMemoryBytes(info.smallLod, info.largeLod, info.aspectRatio, info.format, level_mask);
  if (bytes == 0) return "the level mask selects no level";
  if (uint64_t(address) + bytes > kTextureMemoryBytes) return "beyond the end of texture memory";
  return nullptr;
}

void ResetTextureUnit(TextureUnitState& tmu) {
  tmu.memory.assign(kTextureMemoryBytes, 0);
  tmu.source = {};
  tmu.decoded = {};
  tmu.decoded_valid = false;
  for (uint32_t i = 0; i < 256; ++i) tmu.palette[i] = 0xFF000000u | i << 16 | i << 8 | i;
  tmu.ncc = {};
  for (int k = 0; k < 16; ++k) tmu.ncc.yRGB[k] = FxU8(17 * k);
  PackNccTable(tmu.ncc);
  tmu.combine = {};
  tmu.bilinear = true;
  tmu.wrap_s = tmu.wrap_t = true;
}

bool DownloadMipMap(TextureUnitState& tmu, uint32_t address, uint32_t level_mask,
                    const GrTexInfo& info) {
  const uint32_t bytes = PlacedBytes(address, level_mask, info);
  if (bytes == 0 || !info.data || tmu.memory.size() < kTextureMemoryBytes) return false;
  const auto* src = static_cast<const uint8_t*>(info.data);
  uint8_t* dst = tmu.memory.data() + address;
  for (int lod = info.largeLod; lod <= info.smallLod; ++lod) {
    const uint32_t level = LevelBytes(lod, info.aspectRatio, info.format);
    if (InMask(lod, level_mask)) {
      std::memcpy(dst, src, level);
      dst += level;
    }
    src += level;
  }
  const TextureSource& s = tmu.source;
  if (s.valid && address < uint64_t(s.address) + SourceBytes(s) &&
      s.address < uint64_t(address) + bytes)
    tmu.decoded_valid = false;
  return true;
}

bool SelectSource(TextureUnitState& tmu, uint32_t address, uint32_t level_mask,
                  const GrTexInfo& info) {
  if (PlacedBytes(address, level_mask, info) == 0) return false;
  tmu.source = {true,          address,          level_mask, info.smallLod,
                info.largeLod, info.aspectRatio, info.format};
  tmu.decoded_valid = false;
  return true;
}

TextureLevel* CurrentTexture(TextureUnitState& tmu) {
  const TextureSource& s = tmu.source;
  if (!s.valid) return nullptr;
  if (tmu.decoded_valid) return &tmu.decoded;
  int lod = s.large_lod;
  while (lod <= s.small_lod && !InMask(lod, s.level_mask)) ++lod;
  const uint32_t bytes = LevelBytes(lod, s.aspect, s.format);
  if (lod > s.small_lod || bytes == 0 || uint64_t(s.address) + bytes > tmu.memory.size())
    return nullptr;
  const LevelSize size = LevelDimensions(lod, s.aspect);
  tmu.decoded.width = size.width;
  tmu.decoded.height = size.height;
  tmu.decoded.texels.resize(size_t(size.width) * size_t(size.height));
  tmu.decoded.footprint.clear();
  DecodeTexels(s.format, tmu.memory.data() + s.address, size.width, size.height, tmu.palette,
               tmu.ncc, tmu.decoded.texels.data());
  tmu.decoded_valid = true;
  return &tmu.decoded;
}

}  // namespace softboard
