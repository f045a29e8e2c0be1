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

bool Overlaps(const TextureSource& s, uint32_t address, uint32_t bytes) {
  return s.valid && address < uint64_t(s.address) + SourceBytes(s) &&
         s.address < uint64_t(address) + bytes;
}

// The largest level of the source in its mask, decoded; null when there is
// none to decode.
SharedTexture Decode(const TextureUnitState& tmu, const TextureSource& s) {
  if (!s.valid) return nullptr;
  int lod = s.large_lod;
  while (lod <= s.small_lod && !InMask(lod, s.level_mask)) ++lod;
  const uint32_t bytes = LevelBytes(lod, s.aspect, s.format);
  if (lod > s.small_lod || bytes == 0 || uint64_t(s.address) + bytes > tmu.memory.size())
    return nullptr;
  const LevelSize size = LevelDimensions(lod, s.aspect);
  std::vector<uint32_t> texels(size_t(size.width) * size_t(size.height));
  DecodeTexels(s.format, tmu.memory.data() + s.address, size.width, size.height, tmu.palette,
               tmu.ncc, texels.data());
  return MakeTextureLevel(size.width, size.height, std::move(texels));
}

// Decoded textures kept for sources selected again: a few of the largest.
constexpr size_t kRecentBytes = 16u << 20;

size_t DecodedBytes(const TextureLevel& level) {
  return (level.texels.size() + level.footprint.size()) * sizeof(uint32_t);
}

// Makes the source the unit's texture: decoded again, or as it was decoded
// lately, its memory unchanged since.
void UseSource(TextureUnitState& tmu, const TextureSource& s) {
  tmu.source = s;
  auto& recent = tmu.recent;
  const auto found = std::find_if(recent.begin(), recent.end(),
                                  [&](const RecentTexture& r) { return r.source == s; });
  if (found != recent.end()) {
    RecentTexture kept = std::move(*found);
    recent.erase(found);
    tmu.decoded = kept.decoded;
    recent.push_back(std::move(kept));  // the newest
    return;
  }
  tmu.decoded = Decode(tmu, s);
  if (!tmu.decoded) return;
  recent.push_back({s, tmu.decoded});
  size_t bytes = 0;
  for (const RecentTexture& r : recent) bytes += DecodedBytes(*r.decoded);
  while (recent.size() > 1 && bytes > kRecentBytes) {
    bytes -= DecodedBytes(*recent.front().decoded);
    recent.erase(recent.begin());
  }
}

}  // namespace

uint32_t TexMinAddress() {
  return 0;
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
  tmu.decoded = nullptr;
  tmu.recent.clear();
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
  std::erase_if(tmu.recent,
                [&](const RecentTexture& r) { return Overlaps(r.source, address, bytes); });
  if (Overlaps(tmu.source, address, bytes)) UseSource(tmu, tmu.source);
  return true;
}

bool SelectSource(TextureUnitState& tmu, uint32_t address, uint32_t level_mask,
                  const GrTexInfo& info) {
  if (PlacedBytes(address, level_mask, info) == 0) return false;
  UseSource(tmu, {true, address, level_mask, info.smallLod, info.largeLod, info.aspectRatio,
                  info.format});
  return true;
}

}  // namespace softboard
