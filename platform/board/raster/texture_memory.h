// Texture memory of unit 0, its source and table, and the decoded texture the
// sampler reads: decoded when the source is selected, or when a download or a
// table changes what it holds, never while a triangle is prepared.
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

// A source decoded before, kept while its memory is unchanged.
struct RecentTexture {
  TextureSource source;
  SharedTexture decoded;
};

struct TextureUnitState {
  std::vector<uint8_t> memory;  // kTextureMemoryBytes
  TextureSource source;
  // The largest level of the source, decoded to 8-bit RGBA; null: no source
  // (the unit gives opaque white).
  SharedTexture decoded;
  // Sources decoded lately, newest last: a program that selects several
  // textures each frame decodes each once, and draws a repeated frame with
  // the same decoded textures (so it compares equal to the last).
  std::vector<RecentTexture> recent;
  // Table of the palette and NCC formats; starts as a grey ramp.
  std::array<uint32_t, 256> palette{};
  GuNccTable ncc{};
  TexCombineState combine;
  bool bilinear = true;
  bool wrap_s = true;
  bool wrap_t = true;
};

// The starting state: memory cleared, no source, grey-ramp tables (palette
// index i gives (i, i, i); NCC Y[k] = 17k with I and Q zero, so a YIQ texel
// shows 17 times its Y field), passthrough combine, bilinear filtering, wrapping.
void ResetTextureUnit(TextureUnitState& tmu);

uint32_t TexMinAddress();

// Bytes a texture occupies in texture memory: the levels whose lod parity is in
// `level_mask` (EVEN 1, ODD 2, BOTH 3), packed largest first. 0 when the
// arguments are invalid or no level is selected.
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

}  // namespace softboard
