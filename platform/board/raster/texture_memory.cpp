#include "raster/texture_memory.h"

#include <algorithm>
#include <cstring>

#include "texel_formats.h"

namespace softboard {
namespace {

using texfile::DecodeTexels;
using texfile::HasNccTable;
using texfile::HasPalette;
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

bool IsValidMask(uint32_t level_mask) {
  return level_mask >= GR_MIPMAPLEVELMASK_EVEN && level_mask <= GR_MIPMAPLEVELMASK_BOTH;
}

bool IsValidTexture(const GrTexInfo& info, uint32_t level_mask) {
  return IsValidLod(info.smallLod) && IsValidLod(info.largeLod) && info.largeLod <= info.smallLod &&
         IsValidAspect(info.aspectRatio) && IsValidFormat(info.format) && IsValidMask(level_mask);
}

// Levels start on 8-byte boundaries in texture memory, as the board's
// memory is addressed.
uint32_t PlacedLevelBytes(int lod, int aspect, int format) {
  return (LevelBytes(lod, aspect, format) + 7) & ~7u;
}

// Bytes of the levels in the mask from large_lod up to (not including) lod.
uint32_t BytesBefore(int lod, int large_lod, int aspect, int format, uint32_t level_mask) {
  uint32_t bytes = 0;
  for (int l = large_lod; l < lod; ++l)
    if (InMask(l, level_mask)) bytes += PlacedLevelBytes(l, aspect, format);
  return bytes;
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

// Which table a source of this format decodes with, as it now is: a texture
// decoded with another is not reused.
uint64_t TableStamp(const TextureUnitState& tmu, int format) {
  if (HasPalette(format)) return uint64_t(1) << 32 | tmu.palette_changes;
  if (HasNccTable(format))
    return uint64_t(2 + tmu.ncc_table) << 32 | tmu.ncc_changes[size_t(tmu.ncc_table)];
  return 0;
}

// The source's levels in its mask, decoded, each level of the texture held to
// one of them; null when there is none to decode.
SharedTexture Decode(const TextureUnitState& tmu, const TextureSource& s) {
  if (!s.valid) return nullptr;
  const int count = s.small_lod - s.large_lod + 1;
  if (count <= 0 || count > kMaxLevels) return nullptr;
  std::vector<LevelPlace> places(static_cast<size_t>(count));
  std::vector<bool> held(static_cast<size_t>(count), true);
  size_t texels = 0;
  for (int n = 0; n < count; ++n) {
    const int lod = s.large_lod + n;
    if (!InMask(lod, s.level_mask)) continue;
    const uint32_t at = s.address + BytesBefore(lod, s.large_lod, s.aspect, s.format, s.level_mask);
    if (uint64_t(at) + LevelBytes(lod, s.aspect, s.format) > tmu.memory.size()) return nullptr;
    const LevelSize size = LevelDimensions(lod, s.aspect);
    places[size_t(n)] = {size.width, size.height, texels};
    held[size_t(n)] = false;
    texels += size_t(size.width) * size_t(size.height);
  }
  if (texels == 0) return nullptr;
  std::vector<uint32_t> decoded(texels);
  const GuNccTable& ncc = tmu.ncc[size_t(tmu.ncc_table)];
  for (int n = 0; n < count; ++n) {
    if (held[size_t(n)]) continue;
    const int lod = s.large_lod + n;
    const uint32_t at = s.address + BytesBefore(lod, s.large_lod, s.aspect, s.format, s.level_mask);
    const LevelPlace& p = places[size_t(n)];
    DecodeTexels(s.format, tmu.memory.data() + at, p.width, p.height, tmu.palette, ncc,
                 decoded.data() + p.first);
  }
  // A level the memory does not hold is the nearest larger one it does, or
  // (none larger) the nearest smaller.
  for (int n = 0; n < count; ++n) {
    if (!held[size_t(n)]) continue;
    int from = n - 1;
    while (from >= 0 && held[size_t(from)]) --from;
    if (from < 0) {
      from = n + 1;
      while (held[size_t(from)]) ++from;
    }
    places[size_t(n)] = places[size_t(from)];
  }
  const LevelSize largest = LevelDimensions(s.large_lod, s.aspect);
  return MakeDecodedChain(std::move(places), std::move(decoded),
                          std::max(largest.width, largest.height));
}

// Decoded textures kept for sources selected again: a few of the largest.
constexpr size_t kRecentBytes = 16u << 20;

size_t DecodedBytes(const DecodedTexture& t) {
  return (t.texels.size() + t.footprint.size()) * sizeof(uint32_t);
}

// Makes the source the unit's texture: decoded again, or as it was decoded
// lately, its memory and table unchanged since.
void UseSource(TextureUnitState& tmu, const TextureSource& s) {
  tmu.source = s;
  const uint64_t table = TableStamp(tmu, s.format);
  auto& recent = tmu.recent;
  const auto found = std::find_if(recent.begin(), recent.end(), [&](const RecentTexture& r) {
    return r.source == s && r.table == table;
  });
  if (found != recent.end()) {
    RecentTexture kept = std::move(*found);
    recent.erase(found);
    tmu.decoded = kept.decoded;
    recent.push_back(std::move(kept));  // the newest
    return;
  }
  tmu.decoded = Decode(tmu, s);
  if (!tmu.decoded) return;
  recent.push_back({s, table, tmu.decoded});
  size_t bytes = 0;
  for (const RecentTexture& r : recent) bytes += DecodedBytes(*r.decoded);
  while (recent.size() > 1 && bytes > kRecentBytes) {
    bytes -= DecodedBytes(*recent.front().decoded);
    recent.erase(recent.begin());
  }
}

// Memory [address, address + bytes) was written: what was decoded from it is
// decoded again.
void Written(TextureUnitState& tmu, uint32_t address, uint32_t bytes) {
  std::erase_if(tmu.recent,
                [&](const RecentTexture& r) { return Overlaps(r.source, address, bytes); });
  if (Overlaps(tmu.source, address, bytes)) UseSource(tmu, tmu.source);
}

// Whether a texture was decoded with a table that has changed since.
bool StaleTable(const TextureUnitState& tmu, uint64_t table) {
  const uint32_t kind = uint32_t(table >> 32), changes = uint32_t(table);
  if (kind == 1) return changes != tmu.palette_changes;
  if (kind >= 2) return changes != tmu.ncc_changes[kind - 2];
  return false;
}

// A table changed: textures decoded with its contents before are dropped, and
// the source is decoded again if it reads it.
void TableChanged(TextureUnitState& tmu, bool (*reads)(int format)) {
  std::erase_if(tmu.recent, [&](const RecentTexture& r) { return StaleTable(tmu, r.table); });
  if (tmu.source.valid && reads(tmu.source.format)) UseSource(tmu, tmu.source);
}

constexpr uint32_t kPaletteGrey(uint32_t i) {
  return 0xFF000000u | i << 16 | i << 8 | i;
}

bool SameNcc(const GuNccTable& a, const GuNccTable& b) {
  return std::memcmp(a.yRGB, b.yRGB, sizeof a.yRGB) == 0 &&
         std::memcmp(a.iRGB, b.iRGB, sizeof a.iRGB) == 0 &&
         std::memcmp(a.qRGB, b.qRGB, sizeof a.qRGB) == 0;
}

}  // namespace

uint32_t TexMinAddress() {
  return 0;
}

uint32_t TexMaxAddress() {
  return kTextureMemoryBytes - TextureMemoryBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1,
                                                  GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH);
}

uint32_t TextureMemoryBytes(int small_lod, int large_lod, int aspect, int format,
                            uint32_t level_mask) {
  if (!IsValidLod(small_lod) || !IsValidLod(large_lod) || large_lod > small_lod) return 0;
  return BytesBefore(small_lod + 1, large_lod, aspect, format, level_mask);
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
  for (uint32_t i = 0; i < 256; ++i) tmu.palette[i] = kPaletteGrey(i);
  for (GuNccTable& ncc : tmu.ncc) {
    ncc = {};
    for (int k = 0; k < 16; ++k) ncc.yRGB[k] = FxU8(17 * k);
    PackNccTable(ncc);
  }
  tmu.ncc_table = GR_NCCTABLE_NCC0;
  tmu.palette_changes = 0;
  tmu.ncc_changes = {};
  tmu.combine = {};
  tmu.mode = {};
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
      dst += PlacedLevelBytes(lod, info.aspectRatio, info.format);
    }
    src += level;  // the program's levels are packed
  }
  Written(tmu, address, bytes);
  return true;
}

bool SelectSource(TextureUnitState& tmu, uint32_t address, uint32_t level_mask,
                  const GrTexInfo& info) {
  if (PlacedBytes(address, level_mask, info) == 0) return false;
  UseSource(tmu, {true, address, level_mask, info.smallLod, info.largeLod, info.aspectRatio,
                  info.format});
  return true;
}

int LevelRows(int this_lod, int aspect) {
  return LevelDimensions(this_lod, aspect).height;
}

const char* LevelRefusal(const LevelDownload& d) {
  if (!IsValidLod(d.this_lod) || !IsValidLod(d.large_lod)) return "invalid level (0 to 8)";
  if (!IsValidAspect(d.aspect) || !IsValidFormat(d.format)) return "invalid aspect or format";
  if (!IsValidMask(d.level_mask)) return "invalid level mask";
  if (d.this_lod < d.large_lod) return "the level is larger than the texture's largest";
  if (!InMask(d.this_lod, d.level_mask)) return "the level is not in the level mask";
  const int rows = LevelRows(d.this_lod, d.aspect);
  if (d.first_row < 0 || d.last_row >= rows || d.first_row > d.last_row)
    return "rows outside the level";
  const uint64_t end = uint64_t(d.address) +
                       BytesBefore(d.this_lod, d.large_lod, d.aspect, d.format, d.level_mask) +
                       LevelBytes(d.this_lod, d.aspect, d.format);
  if (end > kTextureMemoryBytes) return "beyond the end of texture memory";
  return nullptr;
}

bool DownloadLevel(TextureUnitState& tmu, const LevelDownload& d, const void* data) {
  if (LevelRefusal(d) || data == nullptr || tmu.memory.size() < kTextureMemoryBytes) return false;
  const uint32_t row_bytes =
      LevelBytes(d.this_lod, d.aspect, d.format) / uint32_t(LevelRows(d.this_lod, d.aspect));
  const uint32_t level_at =
      d.address + BytesBefore(d.this_lod, d.large_lod, d.aspect, d.format, d.level_mask);
  const uint32_t from = row_bytes * uint32_t(d.first_row);
  const uint32_t bytes = row_bytes * uint32_t(d.last_row - d.first_row + 1);
  std::memcpy(tmu.memory.data() + level_at + from, static_cast<const uint8_t*>(data) + from, bytes);
  Written(tmu, level_at + from, bytes);
  return true;
}

const char* TableRefusal(int type, const void* data) {
  if (type < GR_TEXTABLE_NCC0 || type > GR_TEXTABLE_PALETTE) return "unknown table";
  if (data == nullptr) return "null table";
  if (type == GR_TEXTABLE_PALETTE) return nullptr;
  const auto* ncc = static_cast<const GuNccTable*>(data);
  for (const auto* entries : {ncc->iRGB, ncc->qRGB})
    for (int e = 0; e < 4; ++e)
      for (int c = 0; c < 3; ++c)
        if (entries[e][c] < -256 || entries[e][c] > 255)
          return "NCC I and Q values are -256 to 255";
  return nullptr;
}

bool DownloadTable(TextureUnitState& tmu, int type, const void* data) {
  if (TableRefusal(type, data)) return false;
  if (type == GR_TEXTABLE_PALETTE) {
    const auto* palette = static_cast<const GuTexPalette*>(data);
    if (std::memcmp(tmu.palette.data(), palette->data, sizeof palette->data) == 0) return true;
    std::memcpy(tmu.palette.data(), palette->data, sizeof palette->data);
    tmu.palette_changes++;
    TableChanged(tmu, HasPalette);
    return true;
  }
  GuNccTable table = *static_cast<const GuNccTable*>(data);
  PackNccTable(table);
  GuNccTable& ncc = tmu.ncc[size_t(type)];
  if (SameNcc(ncc, table)) return true;
  ncc = table;
  tmu.ncc_changes[size_t(type)]++;
  TableChanged(tmu, HasNccTable);
  return true;
}

bool SelectNccTable(TextureUnitState& tmu, int table) {
  if (table != GR_NCCTABLE_NCC0 && table != GR_NCCTABLE_NCC1) return false;
  if (tmu.ncc_table == table) return true;
  tmu.ncc_table = table;
  if (tmu.source.valid && HasNccTable(tmu.source.format)) UseSource(tmu, tmu.source);
  return true;
}

}  // namespace softboard
