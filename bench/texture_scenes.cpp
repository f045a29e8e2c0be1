#include "texture_scenes.h"

#include <cmath>
#include <cstdlib>

#include "pixel_scenes.h"

namespace bench {
namespace {

uint16_t Pack(int r, int g, int b) {
  return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

uint32_t Widen(uint16_t p) {
  const uint32_t r = p >> 11, g = p >> 5 & 63, b = p & 31;
  return 0xFF000000u | (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

// The level below each level its 2x2 average, as the examples make them.
MipChain Chain(int side, uint16_t (*texel)(int x, int y)) {
  MipChain c;
  c.side = side;
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++) c.rgb565.push_back(texel(x, y));
  size_t above = 0;
  for (int s = side / 2; s >= 1; s /= 2) {
    const size_t level = c.rgb565.size();
    for (int y = 0; y < s; y++) {
      for (int x = 0; x < s; x++) {
        int r = 0, g = 0, b = 0;
        for (int k = 0; k < 4; k++) {
          const uint16_t t = c.rgb565[above + size_t((2 * y + k / 2) * 2 * s + 2 * x + k % 2)];
          r += (t >> 11) * 255 / 31;
          g += (t >> 5 & 63) * 255 / 63;
          b += (t & 31) * 255 / 31;
        }
        c.rgb565.push_back(Pack(r / 4, g / 4, b / 4));
      }
    }
    above = level;
  }
  size_t at = 0;
  for (int s = side; s >= 1; s /= 2) {
    c.levels.emplace_back();
    for (int i = 0; i < s * s; i++) c.levels.back().push_back(Widen(c.rgb565[at++]));
  }
  return c;
}

uint16_t FloorTexel(int x, int y) {
  const bool grout = (x & 63) < 3 || (y & 63) < 3;
  const int fine = ((x >> 2) ^ (y >> 2)) & 1, tile = ((x >> 6) + (y >> 6)) & 1;
  const int base = tile ? 200 : 120;
  return grout ? Pack(40, 36, 30)
               : Pack(base + (fine ? 40 : 0), base - 20, base - 60 + (fine ? 30 : 0));
}

uint16_t BrickTexel(int x, int y) {
  const int row = y / 16, offset = (row & 1) * 16;
  const bool mortar = (y & 15) < 2 || ((x + offset) & 31) < 2;
  const int shade = (((x + offset) / 32) * 37 + row * 53) % 60;
  return mortar ? Pack(190, 185, 170) : Pack(150 + shade, 60 + shade / 2, 40);
}

constexpr float kFocal = 320, kNear = 0.5f, kFar = 160, kEye = 1, kHalfWidth = 2, kWall = 3;
constexpr float kRepeat = 2;

// A point of the world (eye at the origin, looking down +z) with texture
// coordinates in units of 256 a texture; `light` those of the light map.
GrVertex WorldVertex(float x, float y, float z, float s, float t, float ls = 0, float lt = 0) {
  GrVertex v{};
  v.x = 320.0f + kFocal * x / z;
  v.y = 240.0f - kFocal * y / z;
  v.oow = 1.0f / z;
  v.tmuvtx[0] = {s * v.oow, t * v.oow, v.oow};
  v.tmuvtx[1] = {ls * v.oow, lt * v.oow, v.oow};
  v.r = v.g = v.b = v.a = 255;
  return v;
}

}  // namespace

const char* SceneName(TextureScene scene) {
  switch (scene) {
    case TextureScene::kFloorTrilinear: return "mipmapped floor, trilinear";
    case TextureScene::kFloorNearest: return "mipmapped floor, nearest level";
    case TextureScene::kLightMappedWall: return "light-mapped wall (two units)";
  }
  return "";
}

const MipChain& FloorTexture() {
  static const MipChain chain = Chain(256, FloorTexel);
  return chain;
}

const MipChain& BrickTexture() {
  static const MipChain chain = Chain(128, BrickTexel);
  return chain;
}

const std::vector<uint8_t>& LightMap() {
  static const std::vector<uint8_t> light = [] {
    std::vector<uint8_t> l;
    const float lx[3] = {0.2f, 0.75f, 0.5f}, ly[3] = {0.35f, 0.6f, 0.5f};
    for (int y = 0; y < 32; y++) {
      for (int x = 0; x < 64; x++) {
        float sum = 40;
        for (int i = 0; i < 3; i++) {
          const float dx = (float(x) + 0.5f) / 64 - lx[i], dy = (float(y) + 0.5f) / 32 - ly[i];
          sum += 230 * std::exp(-(dx * dx * 4 + dy * dy) * 40);
        }
        l.push_back(uint8_t(sum > 255 ? 255 : sum));
      }
    }
    return l;
  }();
  return light;
}

std::vector<TexturePolygon> TextureSceneFrame(TextureScene scene, int frame) {
  std::vector<TexturePolygon> out;
  if (scene == TextureScene::kLightMappedWall) {
    // The lightmap example's wall, swaying a little each frame.
    const float sway = 0.5f * std::sin(float(frame) * 0.05f);
    const float corner[4][3] = {
        {-3 + sway, 2.5f, 2}, {5 + sway, 2.5f, 9}, {5 + sway, -1.5f, 9}, {-3 + sway, -1.5f, 2}};
    const float across[4] = {0, 1, 1, 0}, down[4] = {0, 0, 1, 1};
    TexturePolygon p{1, {}};
    for (int i = 0; i < 4; i++) {
      p.v[i] = WorldVertex(corner[i][0], corner[i][1], corner[i][2], across[i] * 4 * 256,
                           down[i] * 2 * 256, across[i] * 256, down[i] * 128);
    }
    out.push_back(p);
    return out;
  }
  // The mipmap-floor example's corridor, the camera gliding on.
  const float travel = float(frame % 256) * 0.05f;
  const float t0 = (kNear + travel) * 256 / kRepeat, t1 = (kFar + travel) * 256 / kRepeat;
  const float across = kHalfWidth * 256 / kRepeat, up = kWall * 256 / kRepeat;
  TexturePolygon floor{0,
                       {WorldVertex(-kHalfWidth, -kEye, kFar, -across, -t1),
                        WorldVertex(kHalfWidth, -kEye, kFar, across, -t1),
                        WorldVertex(kHalfWidth, -kEye, kNear, across, -t0),
                        WorldVertex(-kHalfWidth, -kEye, kNear, -across, -t0)}};
  out.push_back(floor);
  for (int side = -1; side <= 1; side += 2) {
    const float x = float(side) * kHalfWidth, top = kWall - kEye;
    TexturePolygon wall{
        1,
        {WorldVertex(x, top, kFar, t1, 0), WorldVertex(x, top, kNear, t0, 0),
         WorldVertex(x, -kEye, kNear, t0, up), WorldVertex(x, -kEye, kFar, t1, up)}};
    out.push_back(wall);
  }
  return out;
}

BoardTextureScene::BoardTextureScene(TextureScene scene) : scene_(scene) {
  if (!OpenSceneBoard(0)) return;
  auto& floor = const_cast<MipChain&>(FloorTexture());
  auto& bricks = const_cast<MipChain&>(BrickTexture());
  floor_ = {GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, floor.rgb565.data()};
  bricks_ = {GR_LOD_1, GR_LOD_128, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, bricks.rgb565.data()};
  light_ = {GR_LOD_64, GR_LOD_64, GR_ASPECT_2x1, GR_TEXFMT_INTENSITY_8,
            const_cast<uint8_t*>(LightMap().data())};
  brick_address_ = grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &floor_);
  grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &floor_);
  grTexDownloadMipMap(GR_TMU0, brick_address_, GR_MIPMAPLEVELMASK_BOTH, &bricks_);
  grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                 GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, scene != TextureScene::kFloorNearest);
  if (scene == TextureScene::kLightMappedWall) {
    grTexDownloadMipMap(GR_TMU1, 0, GR_MIPMAPLEVELMASK_BOTH, &light_);
    grTexSource(GR_TMU1, 0, GR_MIPMAPLEVELMASK_BOTH, &light_);
    grTexClampMode(GR_TMU1, GR_TEXTURECLAMP_CLAMP, GR_TEXTURECLAMP_CLAMP);
    grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                 GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, FXFALSE, FXFALSE);
  }
  ok_ = true;
}

BoardTextureScene::~BoardTextureScene() {
  grLibShutdown();
}

void BoardTextureScene::Run() {
  grBufferClear(scene_ == TextureScene::kLightMappedWall ? 0xFF101018 : 0xFF6080B0, 0, 0);
  for (const TexturePolygon& p : TextureSceneFrame(scene_, frame_++)) {
    if (p.texture == 0) grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &floor_);
    if (p.texture == 1) grTexSource(GR_TMU0, brick_address_, GR_MIPMAPLEVELMASK_BOTH, &bricks_);
    grDrawPolygonVertexList(4, p.v);
  }
  grBufferSwap(0);
}

}  // namespace bench
