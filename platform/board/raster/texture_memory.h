// Texture memory of a unit, its source and tables, and the decoded texture
// the sampler reads: the source's levels decoded when it is selected, or when
// a download or a table changes what it holds, never while a triangle is
// prepared.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "grlib.h"
#include "pixel/render_state.h"
#include "pixel/sampler.h"

namespace softboard {

constexpr uint32_t kTextureMemoryBytes = 2u << 20;

// The texture the unit samples: where it lies and how it is laid out.
struct TextureSource {
  bool valid = false;
  uint32_t address = 0;
  uint32_t level_mask = 0;
  int small_lod = 0;
  int large_lod = 0;
  int aspect = 0;
  int format = 0;
  friend bool operator==(const TextureSource&, const TextureSource&) = default;
};

// A source decoded before, kept while its memory and table are unchanged.
struct RecentTexture {
  TextureSource source;
  uint64_t table = 0;  // the table it was decoded with (see TableStamp)
  SharedTexture decoded;
};

struct TextureUnitState {
  std::vector<uint8_t> memory;  // kTextureMemoryBytes
  TextureSource source;
  // The source's levels in its mask, decoded to 8-bit RGBA; null: no source
  // (the unit gives opaque white).
  SharedTexture decoded;
  // Sources decoded lately, newest last: a program that selects several
  // textures each frame decodes each once, and draws a repeated frame with
  // the same decoded textures (so it compares equal to the last).
  std::vector<RecentTexture> recent;
  // Tables of the palette and NCC formats; they start as grey ramps. Each
  // change counts, so a texture decoded with an older table is not reused.
  std::array<uint32_t, 256> palette{};
  std::array<GuNccTable, 2> ncc{};
  int ncc_table = GR_NCCTABLE_NCC0;  // the one YIQ formats use
  uint32_t palette_changes = 0;
  std::array<uint32_t, 2> ncc_changes{};
  TexCombineState combine;
  UnitMode mode;
};

// The starting state: memory cleared, no source, grey-ramp tables (palette
// index i gives (i, i, i); NCC Y[k] = 17k with I and Q zero, so a YIQ texel
// shows 17 times its Y field), passthrough combine, bilinear filtering,
// wrapping, mipmapping off.
void ResetTextureUnit(TextureUnitState& tmu);

uint32_t TexMinAddress();
// The highest start address at which the largest texture (256x256, 16-bit,
// every level) still fits.
uint32_t TexMaxAddress();

// Bytes a texture occupies in texture memory: the levels whose lod parity is
// in `level_mask` (EVEN 1, ODD 2, BOTH 3), packed largest first, each
// rounded up to 8 bytes. 0 when the arguments are invalid or no level is
// selected.
uint32_t TextureMemoryBytes(int small_lod, int large_lod, int aspect, int format,
                            uint32_t level_mask);

// Why a download or source of `info` at `address` must be refused (a bad
// record, no level selected, or beyond the end of texture memory); null when
// it is fine.
const char* TextureRefusal(uint32_t address, uint32_t level_mask, const GrTexInfo& info);

// Copies the levels of info (which holds every level, largest first) chosen by
// the mask to `address`; a source that lies there is decoded again. False,
// writing nothing, when the info is invalid, selects no level or the levels
// would pass the end of texture memory.
bool DownloadMipMap(TextureUnitState& tmu, uint32_t address, uint32_t level_mask,
                    const GrTexInfo& info);
// Makes the texture at `address` the one the unit samples, decoded; refused
// (the old source kept) on the same conditions. info.data is not used.
bool SelectSource(TextureUnitState& tmu, uint32_t address, uint32_t level_mask,
                  const GrTexInfo& info);

// One level of a texture whose largest level is `large_lod`, placed where
// DownloadMipMap puts it with `level_mask`; rows first_row..last_row of it.
struct LevelDownload {
  uint32_t address = 0;
  int this_lod = 0;
  int large_lod = 0;
  int aspect = 0;
  int format = 0;
  uint32_t level_mask = GR_MIPMAPLEVELMASK_BOTH;
  int first_row = 0;
  int last_row = 0;
};
// The rows of the level (height of this_lod), or 0 when the arguments name none.
int LevelRows(int this_lod, int aspect);
// Why the download must be refused (bad values, a level outside the
// texture's range or not in the mask, rows past the level, past the end of
// texture memory); null when it is fine.
const char* LevelRefusal(const LevelDownload& d);
// Writes those rows from `data`, which holds the whole level (as the program
// keeps it: 16-bit texels in its own byte order); a source that lies there is
// decoded again. False, writing nothing, when refused or data is null.
bool DownloadLevel(TextureUnitState& tmu, const LevelDownload& d, const void* data);

// Why a table download of `type` must be refused (an unknown table, null
// data, NCC I or Q values beyond -256..255); null when it is fine.
const char* TableRefusal(int type, const void* data);
// Loads the palette (GuTexPalette) or NCC table `type` (GuNccTable, its
// packed words made again from its entries); textures that read it are
// decoded again. False when refused.
bool DownloadTable(TextureUnitState& tmu, int type, const void* data);
// The NCC table YIQ textures use (0 or 1); the source is decoded with it.
bool SelectNccTable(TextureUnitState& tmu, int table);

}  // namespace softboard
