// The library's operations over the reference board, so that an example
// program can be built against it and its frames computed without the
// board's code. Only what the examples call; texel formats RGB_565,
// ARGB_1555, ARGB_4444, INTENSITY_8 and P_8. Until a program uses the
// texture units' own calls (mipmap, filter and clamp modes, unit 1, tables,
// level downloads) a texture is its largest level, bilinear and wrapping;
// after, the units' rules (reference_units.h) give the texture, every level.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "reference/reference_board.h"
#include "reference/reference_grlib.h"

namespace reference {
namespace {

// A unit's source: where its texture lies and how, decoded again whenever
// its memory or palette changes.
struct Source {
  bool valid = false;
  FxU32 address = 0;
  GrTexInfo info{};
};

struct Stand {
  Board board;
  std::vector<uint8_t> memory = std::vector<uint8_t>(2u << 20);
  std::map<FxU32, Texture> textures;  // decoded at grTexSource, by address
  std::vector<uint32_t> shown;
  int frames = 0;
  // The second unit's memory, and each unit's source, its levels and palette.
  std::vector<uint8_t> memory1 = std::vector<uint8_t>(2u << 20);
  Source sources[2];
  MipTexture mips[2];
  uint32_t palettes[2][256] = {};
  Stand() {
    for (auto& p : palettes)
      for (uint32_t i = 0; i < 256; i++) p[i] = i * 0x010101u;
  }
};

Stand& The() {
  static Stand* stand = new Stand;
  return *stand;
}

int Side(int lod) {
  return 256 >> lod;
}

// The largest level's width and height.
void Size(const GrTexInfo& info, int* w, int* h) {
  const int side = Side(info.largeLod), aspect = info.aspectRatio;
  *w = aspect <= GR_ASPECT_1x1 ? side : side >> (aspect - GR_ASPECT_1x1);
  *h = aspect >= GR_ASPECT_1x1 ? side : side >> (GR_ASPECT_1x1 - aspect);
}

uint32_t Expand(uint32_t v, int bits) {  // to 8 bits, repeating the top bits
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits) out = out << bits | v;
  return (out >> (((8 + bits - 1) / bits) * bits - 8)) & 255;
}

uint32_t Decode(int format, uint16_t t, const uint32_t* palette = nullptr) {
  switch (format) {
    case GR_TEXFMT_INTENSITY_8: return 0xFF000000u | uint32_t(t & 255) * 0x010101u;
    case GR_TEXFMT_P_8: return 0xFF000000u | (palette ? palette[t & 255] & 0xFFFFFFu : 0);
    case GR_TEXFMT_RGB_565:
      return 0xFF000000u | Expand(t >> 11, 5) << 16 | Expand(t >> 5 & 63, 6) << 8 |
             Expand(t & 31, 5);
    case GR_TEXFMT_ARGB_1555:
      return (t & 0x8000 ? 0xFF000000u : 0) | Expand(t >> 10 & 31, 5) << 16 |
             Expand(t >> 5 & 31, 5) << 8 | Expand(t & 31, 5);
    case GR_TEXFMT_ARGB_4444:
      return Expand(t >> 12, 4) << 24 | Expand(t >> 8 & 15, 4) << 16 | Expand(t >> 4 & 15, 4) << 8 |
             Expand(t & 15, 4);
    default: return 0xFFFFFFFFu;
  }
}

int TexelBytes(int format) {
  return format == GR_TEXFMT_INTENSITY_8 || format == GR_TEXFMT_P_8 ? 1 : 2;
}

// Level lod of a texture of this aspect: its width and height.
void LevelSize(int lod, int aspect, int* w, int* h) {
  const int side = Side(lod), shift = std::abs(aspect - GR_ASPECT_1x1);
  const int shorter = std::max(1, side >> shift);
  *w = aspect <= GR_ASPECT_1x1 ? side : shorter;
  *h = aspect <= GR_ASPECT_1x1 ? shorter : side;
}

FxU32 LevelBytes(int lod, const GrTexInfo& info) {
  int w, h;
  LevelSize(lod, info.aspectRatio, &w, &h);
  return FxU32(w * h * TexelBytes(info.format));
}

// Where level lod lies from the texture's start: the levels before it in the
// mask, each rounded up to 8 bytes.
FxU32 LevelOffset(int lod, int large_lod, const GrTexInfo& info, FxU32 mask) {
  FxU32 at = 0;
  for (int l = large_lod; l < lod; l++)
    if (mask & (l % 2 ? GR_MIPMAPLEVELMASK_ODD : GR_MIPMAPLEVELMASK_EVEN))
      at += (LevelBytes(l, info) + 7) & ~7u;
  return at;
}

std::vector<uint8_t>& Memory(int tmu) {
  return tmu == GR_TMU1 ? The().memory1 : The().memory;
}

// The unit's source decoded, every level (the examples keep them all).
void DecodeUnit(int tmu) {
  const Source& src = The().sources[tmu];
  MipTexture& mip = The().mips[tmu];
  mip.levels.clear();
  if (!src.valid) return;
  const GrTexInfo& info = src.info;
  for (int lod = info.largeLod; lod <= info.smallLod; lod++) {
    MipTexture::Level level;
    LevelSize(lod, info.aspectRatio, &level.width, &level.height);
    const uint8_t* at = Memory(tmu).data() + src.address +
                        LevelOffset(lod, info.largeLod, info, GR_MIPMAPLEVELMASK_BOTH);
    for (int i = 0; i < level.width * level.height; i++) {
      uint16_t v = at[i];
      if (TexelBytes(info.format) == 2) std::memcpy(&v, at + 2 * i, 2);
      level.texels.push_back(Decode(info.format, v, The().palettes[tmu]));
    }
    mip.levels.push_back(std::move(level));
  }
  The().board.state.units[tmu].texture = &mip;
}

// The texture units' rules from now on.
UnitState& UnitsOn(int tmu) {
  The().board.state.units_on = true;
  return The().board.state.units[tmu == GR_TMU1 ? 1 : 0];
}

}  // namespace

Board& StandInBoard() {
  return The().board;
}
const std::vector<uint32_t>& StandInShown() {
  return The().shown;
}
int StandInFrames() {
  return The().frames;
}
void ResetStandIn() {
  Stand& s = The();
  s = Stand{};
}

}  // namespace reference

using reference::The;

extern "C" {

void grLibInit(void) {}
FxBool grSstQueryHardware(GrHwConfiguration* hw) {
  *hw = GrHwConfiguration{};
  hw->num_sst = 1;
  hw->SSTs[0].nTexelfx = 2;
  return FXTRUE;
}
void grSstSelect(int) {}
FxBool grSstWinOpen(FxU32, GrScreenResolution_t, GrScreenRefresh_t, GrColorFormat_t format,
                    GrOriginLocation_t origin, int, int) {
  The().board.state = reference::State{};
  The().board.state.color_format = format;
  The().board.state.origin = origin;
  return FXTRUE;
}
FxU32 grTexMinAddress(GrChipID_t) {
  return 0;
}
void grTexDownloadMipMap(GrChipID_t tmu, FxU32 address, FxU32 mask, GrTexInfo* info) {
  const auto* from = static_cast<const uint8_t*>(info->data);
  for (int lod = info->largeLod; lod <= info->smallLod; lod++) {
    const FxU32 bytes = reference::LevelBytes(lod, *info);
    if (mask & (lod % 2 ? GR_MIPMAPLEVELMASK_ODD : GR_MIPMAPLEVELMASK_EVEN)) {
      std::memcpy(reference::Memory(tmu).data() + address +
                      reference::LevelOffset(lod, info->largeLod, *info, mask),
                  from, bytes);
    }
    from += bytes;
  }
  if (The().sources[tmu].valid) reference::DecodeUnit(tmu);
}
void grTexDownloadMipMapLevel(GrChipID_t tmu, FxU32 start, GrLOD_t lod, GrLOD_t large,
                              GrAspectRatio_t aspect, GrTextureFormat_t format, FxU32 mask,
                              void* data) {
  const GrTexInfo info{lod, large, aspect, format, data};
  std::memcpy(
      reference::Memory(tmu).data() + start + reference::LevelOffset(lod, large, info, mask), data,
      reference::LevelBytes(lod, info));
  if (The().sources[tmu].valid) reference::DecodeUnit(tmu);
}
void grTexDownloadTable(GrChipID_t tmu, GrTexTable_t type, void* data) {
  reference::UnitsOn(tmu);
  if (type != GR_TEXTABLE_PALETTE) return;
  std::memcpy(The().palettes[tmu], static_cast<const GuTexPalette*>(data)->data, 1024);
  reference::DecodeUnit(tmu);
}
void grTexMipMapMode(GrChipID_t tmu, GrMipMapMode_t mode, FxBool blend) {
  reference::UnitState& u = reference::UnitsOn(tmu);
  u.mipmap = mode;
  u.lod_blend = blend != 0;
}
void grTexFilterMode(GrChipID_t tmu, GrTextureFilterMode_t min, GrTextureFilterMode_t mag) {
  reference::UnitState& u = reference::UnitsOn(tmu);
  u.min_bilinear = min == GR_TEXTUREFILTER_BILINEAR;
  u.mag_bilinear = mag == GR_TEXTUREFILTER_BILINEAR;
}
void grTexClampMode(GrChipID_t tmu, GrTextureClampMode_t s, GrTextureClampMode_t t) {
  reference::UnitState& u = reference::UnitsOn(tmu);
  u.clamp_s = s == GR_TEXTURECLAMP_CLAMP;
  u.clamp_t = t == GR_TEXTURECLAMP_CLAMP;
}
void grTexLodBiasValue(GrChipID_t tmu, float bias) {
  reference::UnitsOn(tmu).bias = std::clamp(std::round(double(bias) * 4), -32.0, 31.0);
}
FxU32 grTexTextureMemRequired(FxU32 mask, GrTexInfo* info) {
  return reference::LevelOffset(info->smallLod + 1, info->largeLod, *info, mask);
}
void grTexSource(GrChipID_t tmu, FxU32 address, FxU32 mask, GrTexInfo* info) {
  The().sources[tmu] = {true, address, *info};
  reference::DecodeUnit(tmu);
  if (tmu == GR_TMU1) {
    reference::UnitsOn(tmu);
    The().board.state.two_units = true;
    return;
  }
  (void)mask;
  int w, h;
  reference::Size(*info, &w, &h);
  reference::Texture& t = The().textures[address];
  t.width = w;
  t.height = h;
  t.texels.resize(size_t(w) * size_t(h));
  for (size_t i = 0; i < t.texels.size(); i++) {
    uint16_t v = The().memory[address + i];
    if (reference::TexelBytes(info->format) == 2)
      std::memcpy(&v, The().memory.data() + address + 2 * i, 2);
    t.texels[i] = reference::Decode(info->format, v, The().palettes[0]);
  }
  The().board.state.texture = &t;
}
void grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgb, GrCombineFactor_t rgb_factor,
                  GrCombineFunction_t alpha, GrCombineFactor_t alpha_factor, FxBool rgb_invert,
                  FxBool alpha_invert) {
  reference::UnitState& u = The().board.state.units[tmu == GR_TMU1 ? 1 : 0];
  u.rgb_function = rgb, u.rgb_factor = rgb_factor;
  u.alpha_function = alpha, u.alpha_factor = alpha_factor;
  u.rgb_invert = rgb_invert != 0, u.alpha_invert = alpha_invert != 0;
}
void grColorCombine(GrCombineFunction_t f, GrCombineFactor_t k, GrCombineLocal_t l,
                    GrCombineOther_t o, FxBool inv) {
  The().board.state.color = {f, k, l, o, inv != 0};
}
void grAlphaCombine(GrCombineFunction_t f, GrCombineFactor_t k, GrCombineLocal_t l,
                    GrCombineOther_t o, FxBool inv) {
  The().board.state.alpha = {f, k, l, o, inv != 0};
}
void grAlphaBlendFunction(GrAlphaBlendFnc_t a, GrAlphaBlendFnc_t b, GrAlphaBlendFnc_t c,
                          GrAlphaBlendFnc_t d) {
  reference::State& s = The().board.state;
  s.rgb_src = a, s.rgb_dst = b, s.alpha_src = c, s.alpha_dst = d;
}
void grConstantColorValue(GrColor_t c) {
  The().board.state.constant = c;
}
void grBufferClear(GrColor_t c, GrAlpha_t a, FxU16 d) {
  The().board.Clear(c, a, d);
}
void grDrawPolygon(int n, const int ilist[], const GrVertex vlist[]) {
  for (int i = 2; i < n; i++)
    The().board.Triangle(vlist[ilist[0]], vlist[ilist[i - 1]], vlist[ilist[i]]);
}
void grDrawPolygonVertexList(int n, const GrVertex vlist[]) {
  for (int i = 2; i < n; i++) The().board.Triangle(vlist[0], vlist[i - 1], vlist[i]);
}
void grBufferSwap(int) {
  The().shown = The().board.color;
  The().frames++;
}
void grLibShutdown(void) {}
void grDepthBufferMode(GrDepthBufferMode_t m) {
  The().board.state.depth_mode = m;
}
void grDepthBufferFunction(GrCmpFnc_t f) {
  The().board.state.depth_function = f;
}
void grDepthMask(FxBool w) {
  The().board.state.depth_write = w != 0;
}
void grDepthBiasLevel(FxI16 b) {
  The().board.state.depth_bias = b;
}
void grAlphaTestFunction(GrCmpFnc_t f) {
  The().board.state.alpha_function = f;
}
void grAlphaTestReferenceValue(GrAlpha_t r) {
  The().board.state.alpha_reference = r;
}
void grChromakeyMode(GrChromakeyMode_t m) {
  The().board.state.chroma_key = m == GR_CHROMAKEY_ENABLE;
}
void grChromakeyValue(GrColor_t k) {
  The().board.state.key = k;
}
void grFogMode(GrFogMode_t m) {
  The().board.state.fog_mode = m;
}
void grFogColorValue(GrColor_t c) {
  The().board.state.fog_color = c;
}
void grFogTable(const GrFog_t t[GR_FOG_TABLE_SIZE]) {
  std::memcpy(The().board.state.fog_table.data(), t, GR_FOG_TABLE_SIZE);
}
float guFogTableIndexToW(int i) {
  return float(reference::FogIndexToW(i));
}
void guFogGenerateExp(GrFog_t t[GR_FOG_TABLE_SIZE], float density) {
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++)
    t[i] = GrFog_t(std::lround(255 * (1 - std::exp(-density * reference::FogIndexToW(i)))));
}
void guFogGenerateExp2(GrFog_t t[GR_FOG_TABLE_SIZE], float density) {
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) {
    const double d = density * reference::FogIndexToW(i);
    t[i] = GrFog_t(std::lround(255 * (1 - std::exp(-d * d))));
  }
}
void guFogGenerateLinear(GrFog_t t[GR_FOG_TABLE_SIZE], float near_w, float far_w) {
  for (int i = 0; i < GR_FOG_TABLE_SIZE; i++) {
    const double f = (reference::FogIndexToW(i) - near_w) / (far_w - near_w);
    t[i] = GrFog_t(std::lround(255 * std::fmin(1.0, std::fmax(0.0, f))));
  }
}
void grClipWindow(FxU32 a, FxU32 b, FxU32 c, FxU32 d) {
  int* clip = The().board.state.clip;
  clip[0] = int(a), clip[1] = int(b), clip[2] = int(c), clip[3] = int(d);
}
void grCullMode(GrCullMode_t m) {
  The().board.state.cull = m;
}
void grSstOrigin(GrOriginLocation_t o) {
  The().board.state.origin = o;
}
void grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
  The().board.Triangle(*a, *b, *c);
}
void grDrawLine(const GrVertex* a, const GrVertex* b) {
  The().board.Line(*a, *b);
}
void grDrawPoint(const GrVertex* p) {
  The().board.Point(*p);
}
void grColorMask(FxBool rgb, FxBool a) {
  The().board.state.rgb_write = rgb != 0;
  The().board.state.alpha_write = a != 0;
}
void grDitherMode(GrDitherMode_t) {}
void grGammaCorrectionValue(float) {}
FxU32 grSstScreenWidth(void) {
  return 640;
}
FxU32 grSstScreenHeight(void) {
  return 480;
}
int _kbhit(void) {
  return 0;
}
int _getch(void) {
  return 27;
}

}  // extern "C"
