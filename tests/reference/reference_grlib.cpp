// The library's operations over the reference board, so that an example
// program can be built against it and its frames computed without the
// board's code. Only what the examples call; texel formats RGB_565,
// ARGB_1555 and ARGB_4444, the largest level of each texture.
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "reference/reference_board.h"
#include "reference/reference_grlib.h"

namespace reference {
namespace {

struct Stand {
  Board board;
  std::vector<uint8_t> memory = std::vector<uint8_t>(2u << 20);
  std::map<FxU32, Texture> textures;  // decoded at grTexSource, by address
  std::vector<uint32_t> shown;
  int frames = 0;
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

uint32_t Decode(int format, uint16_t t) {
  switch (format) {
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
  hw->SSTs[0].nTexelfx = 1;
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
void grTexDownloadMipMap(GrChipID_t, FxU32 address, FxU32, GrTexInfo* info) {
  int w, h;
  reference::Size(*info, &w, &h);
  std::memcpy(The().memory.data() + address, info->data, size_t(w) * size_t(h) * 2);
}
void grTexSource(GrChipID_t, FxU32 address, FxU32, GrTexInfo* info) {
  int w, h;
  reference::Size(*info, &w, &h);
  reference::Texture& t = The().textures[address];
  t.width = w;
  t.height = h;
  t.texels.resize(size_t(w) * size_t(h));
  for (size_t i = 0; i < t.texels.size(); i++) {
    uint16_t v;
    std::memcpy(&v, The().memory.data() + address + 2 * i, 2);
    t.texels[i] = reference::Decode(info->format, v);
  }
  The().board.state.texture = &t;
}
void grTexCombine(GrChipID_t, GrCombineFunction_t, GrCombineFactor_t, GrCombineFunction_t,
                  GrCombineFactor_t, FxBool, FxBool) {}
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
