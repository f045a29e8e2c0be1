// The texture units' entry points beyond the demo's: filters, clamps,
// mipmapping, downloads of levels and tables, and the memory queries; each
// checked, traced and forwarded through entry_call.h like the others.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "api/entry_call.h"
#include "grlib.h"
#include "raster/texture_memory.h"

namespace softboard {
namespace {

// The LOD bias is kept in quarters, -8 to 7.75.
constexpr int kMinBiasQuarters = -32;
constexpr int kMaxBiasQuarters = 31;

std::string CheckTextureUnit(const BoardState& board, int tmu) {
  std::string refusal = NeedsDisplay(board);
  if (refusal.empty() && tmu != GR_TMU0 && tmu != GR_TMU1) refusal = "no such texture unit";
  return refusal;
}

// A unit's mode setting: `bad` says why its values are refused, if they are.
template <typename Apply>
void SetUnitMode(const char* name, int tmu, const char* bad, Apply&& apply, int a, int b) {
  Checked(
      name,
      [&](const BoardState& board) -> std::string {
        std::string refusal = CheckTextureUnit(board, tmu);
        return refusal.empty() && bad ? bad : refusal;
      },
      [&](BoardState& board, TraceLine&) { apply(UnitOf(board, tmu).mode); }, tmu, a, b);
}

bool IsFilter(int f) {
  return f == GR_TEXTUREFILTER_POINT_SAMPLED || f == GR_TEXTUREFILTER_BILINEAR;
}
bool IsClamp(int c) {
  return c == GR_TEXTURECLAMP_WRAP || c == GR_TEXTURECLAMP_CLAMP;
}

// A level download: the whole level (rows -1: all of them) or some rows.
void DownloadLevelCall(const char* name, int tmu, LevelDownload d, const void* data, bool partial) {
  const auto check = [&](const BoardState& board) -> std::string {
    std::string refusal = CheckTextureUnit(board, tmu);
    if (!refusal.empty()) return refusal;
    if (const char* why = LevelRefusal(d)) return why;
    return data ? "" : "null data";
  };
  const auto work = [&](BoardState& board, TraceLine&) {
    DownloadLevel(UnitOf(board, tmu), d, data);
  };
  if (!partial) {
    d.first_row = 0;
    d.last_row = LevelRows(d.this_lod, d.aspect) - 1;
    return Checked(name, check, work, tmu, d.address, d.this_lod, d.large_lod, d.aspect, d.format,
                   d.level_mask, TraceData{data});
  }
  Checked(name, check, work, tmu, d.address, d.this_lod, d.large_lod, d.aspect, d.format,
          d.level_mask, TraceData{data}, d.first_row, d.last_row);
}

}  // namespace
}  // namespace softboard

using namespace softboard;

extern "C" {

void GR_CALL grTexFilterMode(GrChipID_t tmu, GrTextureFilterMode_t minfilter_mode,
                             GrTextureFilterMode_t magfilter_mode) {
  SetUnitMode(
      __func__, tmu,
      IsFilter(minfilter_mode) && IsFilter(magfilter_mode)
          ? nullptr
          : "filters are 0 (point) or 1 (bilinear)",
      [&](UnitMode& m) {
        m.min_bilinear = minfilter_mode == GR_TEXTUREFILTER_BILINEAR;
        m.mag_bilinear = magfilter_mode == GR_TEXTUREFILTER_BILINEAR;
      },
      minfilter_mode, magfilter_mode);
}

void GR_CALL grTexClampMode(GrChipID_t tmu, GrTextureClampMode_t s_clamp_mode,
                            GrTextureClampMode_t t_clamp_mode) {
  SetUnitMode(
      __func__, tmu,
      IsClamp(s_clamp_mode) && IsClamp(t_clamp_mode) ? nullptr
                                                     : "clamp modes are 0 (wrap) or 1 (clamp)",
      [&](UnitMode& m) {
        m.wrap_s = s_clamp_mode == GR_TEXTURECLAMP_WRAP;
        m.wrap_t = t_clamp_mode == GR_TEXTURECLAMP_WRAP;
      },
      s_clamp_mode, t_clamp_mode);
}

void GR_CALL grTexMipMapMode(GrChipID_t tmu, GrMipMapMode_t mode, FxBool lod_blend) {
  SetUnitMode(
      __func__, tmu,
      mode >= GR_MIPMAP_DISABLE && mode <= GR_MIPMAP_NEAREST_DITHER
          ? nullptr
          : "mipmap modes are 0 (disable), 1 (nearest) or 2 (nearest, dithered)",
      [&](UnitMode& m) {
        m.mipmap = mode;
        m.lod_blend = lod_blend != 0;
      },
      mode, lod_blend);
}

void GR_CALL grTexLodBiasValue(GrChipID_t tmu, float bias) {
  Checked(
      __func__,
      [&](const BoardState& board) -> std::string {
        std::string refusal = CheckTextureUnit(board, tmu);
        return refusal.empty() && std::isnan(bias) ? "not a number" : refusal;
      },
      [&](BoardState& board, TraceLine& trace) {
        const double quarters = std::round(double(bias) * 4);
        const int held =
            int(std::clamp(quarters, double(kMinBiasQuarters), double(kMaxBiasQuarters)));
        if (quarters != held) {
          char text[16];
          std::snprintf(text, sizeof text, "%g", held / 4.0);
          trace.Held(text);
        }
        UnitOf(board, tmu).mode.lod_bias = held;
      },
      tmu, TraceFloat{bias});
}

void GR_CALL grTexDownloadMipMapLevel(GrChipID_t tmu, FxU32 start_address, GrLOD_t this_lod,
                                      GrLOD_t large_lod, GrAspectRatio_t aspect_ratio,
                                      GrTextureFormat_t format, FxU32 even_odd_mask, void* data) {
  DownloadLevelCall(__func__, tmu,
                    {start_address, this_lod, large_lod, aspect_ratio, format, even_odd_mask, 0, 0},
                    data, false);
}

void GR_CALL grTexDownloadMipMapLevelPartial(GrChipID_t tmu, FxU32 start_address, GrLOD_t this_lod,
                                             GrLOD_t large_lod, GrAspectRatio_t aspect_ratio,
                                             GrTextureFormat_t format, FxU32 even_odd_mask,
                                             void* data, int first_row, int last_row) {
  DownloadLevelCall(__func__, tmu,
                    {start_address, this_lod, large_lod, aspect_ratio, format, even_odd_mask,
                     first_row, last_row},
                    data, true);
}

void GR_CALL grTexDownloadTable(GrChipID_t tmu, GrTexTable_t type, void* data) {
  Checked(
      __func__,
      [&](const BoardState& board) -> std::string {
        std::string refusal = CheckTextureUnit(board, tmu);
        if (!refusal.empty()) return refusal;
        const char* why = TableRefusal(type, data);
        return why ? why : "";
      },
      [&](BoardState& board, TraceLine&) { DownloadTable(UnitOf(board, tmu), type, data); }, tmu,
      type, TraceData{data});
}

void GR_CALL grTexNCCTable(GrChipID_t tmu, GrNCCTable_t table) {
  Checked(
      __func__,
      [&](const BoardState& board) -> std::string {
        std::string refusal = CheckTextureUnit(board, tmu);
        if (refusal.empty() && table != GR_NCCTABLE_NCC0 && table != GR_NCCTABLE_NCC1)
          return "NCC tables are 0 or 1";
        return refusal;
      },
      [&](BoardState& board, TraceLine&) { SelectNccTable(UnitOf(board, tmu), table); }, tmu,
      table);
}

FxU32 GR_CALL grTexCalcMemRequired(GrLOD_t small_lod, GrLOD_t large_lod, GrAspectRatio_t aspect,
                                   GrTextureFormat_t format) {
  return Guarded(__func__, FxU32{0}, [&](BoardState& board) -> FxU32 {
    TraceLine trace(board.trace, "grTexCalcMemRequired", small_lod, large_lod, aspect, format);
    const GrTexInfo info{small_lod, large_lod, aspect, format, nullptr};
    if (const char* why = TextureRefusal(0, GR_MIPMAPLEVELMASK_BOTH, info)) {
      trace.Refused(why);
      return 0;
    }
    const FxU32 bytes =
        TextureMemoryBytes(small_lod, large_lod, aspect, format, GR_MIPMAPLEVELMASK_BOTH);
    trace.Returned(bytes);
    return bytes;
  });
}

FxU32 GR_CALL grTexTextureMemRequired(FxU32 even_odd_mask, GrTexInfo* info) {
  return Guarded(__func__, FxU32{0}, [&](BoardState& board) -> FxU32 {
    TraceLine trace(board.trace, "grTexTextureMemRequired", even_odd_mask,
                    static_cast<const GrTexInfo*>(info));
    const char* why = info ? TextureRefusal(0, even_odd_mask, *info) : "null record";
    if (why) {
      trace.Refused(why);
      return 0;
    }
    const FxU32 bytes = TextureMemoryBytes(info->smallLod, info->largeLod, info->aspectRatio,
                                           info->format, even_odd_mask);
    trace.Returned(bytes);
    return bytes;
  });
}

FxU32 GR_CALL grTexMaxAddress(GrChipID_t tmu) {
  return Guarded(__func__, FxU32{0}, [&](BoardState& board) -> FxU32 {
    TraceLine trace(board.trace, "grTexMaxAddress", tmu);
    if (tmu != GR_TMU0 && tmu != GR_TMU1) {
      trace.Refused("no such texture unit");
      return 0;
    }
    trace.Returned(TexMaxAddress());
    return TexMaxAddress();
  });
}

}  // extern "C"
