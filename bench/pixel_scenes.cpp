#include "pixel_scenes.h"

#include <cmath>
#include <cstdlib>

namespace bench {
namespace {

constexpr int kRings = 48, kSides = 32;
constexpr int kLatitudes = 12, kLongitudes = 24;

uint32_t Widen(uint32_t v, int bits) {
  return bits == 5 ? (v << 3 | v >> 2) : bits == 6 ? (v << 2 | v >> 4) : v * 17;
}

// The torus's vertex at ring i, side j, turned as the example turns it.
GrVertex TorusVertex(int i, int j, float a, float b) {
  const float u = 6.2831853f * float(i) / kRings, v = 6.2831853f * float(j) / kSides;
  const float nx = std::cos(v) * std::cos(u), ny = std::cos(v) * std::sin(u), nz = std::sin(v);
  const float px = (1.6f + 0.6f * std::cos(v)) * std::cos(u);
  const float py = (1.6f + 0.6f * std::cos(v)) * std::sin(u), pz = 0.6f * std::sin(v);
  const float x1 = px * std::cos(a) + pz * std::sin(a), z1 = -px * std::sin(a) + pz * std::cos(a);
  const float y2 = py * std::cos(b) - z1 * std::sin(b), z2 = py * std::sin(b) + z1 * std::cos(b);
  const float nx1 = nx * std::cos(a) + nz * std::sin(a), nz1 = -nx * std::sin(a) + nz * std::cos(a);
  const float ny2 = ny * std::cos(b) - nz1 * std::sin(b),
              nz2 = ny * std::sin(b) + nz1 * std::cos(b);
  const float w = z2 + 6.0f, hue = float(i) / kRings;
  float light = -0.5f * nx1 + 0.6f * ny2 - 0.62f * nz2;
  light = 0.25f + 0.75f * (light > 0 ? light : 0);
  GrVertex out{};
  out.x = 320.0f + 330.0f * x1 / w;
  out.y = 240.0f - 330.0f * y2 / w;
  out.ooz = 65535.0f * 2.0f / w;
  out.oow = 1.0f / w;
  out.r = 255.0f * light * (0.6f + 0.4f * hue);
  out.g = 255.0f * light * 0.55f;
  out.b = 255.0f * light * (1.0f - 0.6f * hue);
  out.a = 255;
  return out;
}

GrVertex GlobeVertex(int i, int j, float a) {
  const float lat = 3.14159265f * (float(i) / kLatitudes - 0.5f);
  const float lon = 6.2831853f * float(j) / kLongitudes + a;
  const float x = std::cos(lat) * std::cos(lon), z0 = std::cos(lat) * std::sin(lon);
  const float y0 = std::sin(lat);
  const float y = y0 * 0.94f - z0 * 0.34f, z = y0 * 0.34f + z0 * 0.94f;
  const float w = 3.2f + z, near = (1.0f - z) * 0.5f;
  GrVertex v{};
  v.x = 320.0f + 520.0f * x / w;
  v.y = 240.0f - 520.0f * y / w;
  v.oow = 1.0f / w;
  v.r = 40.0f + 215.0f * near;
  v.g = 90.0f + 165.0f * near * float(i) / kLatitudes;
  v.b = 255.0f - 120.0f * near;
  v.a = 255;
  return v;
}

void Quad(float x, float y, float w, float h, float s_end, float t_end) {
  GrVertex v[4] = {};
  for (int i = 0; i < 4; i++) {
    const bool right = i == 1 || i == 2, bottom = i >= 2;
    v[i].x = x + (right ? w : 0);
    v[i].y = y + (bottom ? h : 0);
    v[i].oow = 1;
    v[i].tmuvtx[0] = {right ? s_end : 0, bottom ? t_end : 0, 1};
    v[i].a = 255;
  }
  grDrawPolygonVertexList(4, v);
}

}  // namespace

const char* SceneName(PixelScene scene) {
  switch (scene) {
    case PixelScene::kFoggedObject: return "z-buffered torus in fog";
    case PixelScene::kSprites: return "sprites";
    case PixelScene::kWireframe: return "wireframe";
  }
  return "";
}

const SceneFrame& CachedSceneFrame(PixelScene scene, int frame) {
  static std::vector<SceneFrame> cache[3];
  std::vector<SceneFrame>& frames = cache[int(scene)];
  if (frames.empty())
    for (int f = 0; f < kCachedFrames; f++) frames.push_back(MakeSceneFrame(scene, f));
  return frames[size_t(frame % kCachedFrames)];
}

SceneFrame MakeSceneFrame(PixelScene scene, int frame) {
  SceneFrame out;
  if (scene == PixelScene::kFoggedObject) {
    const float a = 0.6f + 0.021f * float(frame), b = 0.2f + 0.013f * float(frame);
    std::vector<GrVertex> v(size_t(kRings) * kSides);
    for (int i = 0; i < kRings; i++)
      for (int j = 0; j < kSides; j++) v[size_t(i * kSides + j)] = TorusVertex(i, j, a, b);
    const auto at = [&](int i, int j) { return v[size_t((i % kRings) * kSides + j % kSides)]; };
    for (int i = 0; i < kRings; i++) {
      for (int j = 0; j < kSides; j++) {
        out.triangles.insert(out.triangles.end(), {at(i, j), at(i + 1, j), at(i + 1, j + 1)});
        out.triangles.insert(out.triangles.end(), {at(i, j), at(i + 1, j + 1), at(i, j + 1)});
      }
    }
  } else if (scene == PixelScene::kSprites) {
    for (int i = 0; i < 40; i++) {
      const float t = float(frame) * 0.02f + float(i) * 0.7f;
      const float x = std::floor(296.0f + 300.0f * std::sin(t * 1.3f + float(i)));
      const float y = std::floor(224.0f + 220.0f * std::cos(t * 0.9f + 2.0f * float(i)));
      const bool ball = i % 2 == 1;
      out.sprites.push_back({x, y, ball ? float(32 + 16 * (i % 3)) : 32.0f, ball});
    }
  } else {
    const float a = 0.015f * float(frame);
    std::vector<GrVertex> g(size_t(kLatitudes + 1) * kLongitudes);
    const auto at = [&](int i, int j) -> GrVertex& { return g[size_t(i * kLongitudes + j)]; };
    for (int i = 0; i <= kLatitudes; i++)
      for (int j = 0; j < kLongitudes; j++) at(i, j) = GlobeVertex(i, j, a);
    for (int i = 0; i <= kLatitudes; i++) {
      for (int j = 0; j < kLongitudes; j++) {
        if (i > 0 && i < kLatitudes)
          out.lines.insert(out.lines.end(), {at(i, j), at(i, (j + 1) % kLongitudes)});
        if (i < kLatitudes) out.lines.insert(out.lines.end(), {at(i, j), at(i + 1, j)});
      }
    }
    for (int i = 1; i < kLatitudes; i++) {
      for (int j = 0; j < kLongitudes; j++) {
        GrVertex p = at(i, j);
        p.r = p.g = p.b = 255;
        out.points.push_back(p);
      }
    }
  }
  return out;
}

const SpriteTextures& Sprites() {
  static const SpriteTextures* textures = [] {
    auto* t = new SpriteTextures;
    for (int y = 0; y < 64; y++) {
      for (int x = 0; x < 64; x++) {
        const int check = ((x >> 3) ^ (y >> 3)) & 1;
        t->tiles565.push_back(uint16_t((check ? 6 : 3) << 11 | (8 + y / 4) << 5 | (10 + x / 8)));
      }
    }
    for (int y = 0; y < 32; y++) {
      for (int x = 0; x < 32; x++) {
        const float dx = float(x) - 15.5f, dy = float(y) - 15.5f;
        const float d = std::sqrt(dx * dx + dy * dy);
        const bool inside = d < 15.0f;
        const int shade = inside ? 15 - int(d * 0.6f) : 0;
        t->ball4444.push_back(uint16_t((inside ? 15 : 0) << 12 | 15 << 8 | shade << 4 | shade / 3));
        const bool body =
            x >= 4 && x < 28 && std::abs(y - 16) * 2 < (x - 4) + 4 && std::abs(y - 16) < 10;
        t->ship565.push_back(body ? uint16_t((x * 31 / 32) << 11 | 48 << 5 | (31 - x)) : 0xF81F);
      }
    }
    for (uint16_t p : t->tiles565)
      t->tiles.push_back(0xFF000000u | Widen(p >> 11, 5) << 16 | Widen(p >> 5 & 63, 6) << 8 |
                         Widen(p & 31, 5));
    for (uint16_t p : t->ball4444)
      t->ball.push_back(Widen(p >> 12, 4) << 24 | Widen(p >> 8 & 15, 4) << 16 |
                        Widen(p >> 4 & 15, 4) << 8 | Widen(p & 15, 4));
    for (uint16_t p : t->ship565) {
      const uint32_t rgb = Widen(p >> 11, 5) << 16 | Widen(p >> 5 & 63, 6) << 8 | Widen(p & 31, 5);
      t->ship.push_back(p == 0xF81F ? rgb : 0xFF000000u | rgb);
    }
    return t;
  }();
  return *textures;
}

bool OpenSceneBoard(int aux_buffers) {
  setenv("SOFTBOARD_DISPLAY", "headless", 1);
  setenv("SOFTBOARD_VSYNC", "0", 1);
  setenv("SOFTBOARD_SCALE", "1", 1);
  setenv("SOFTBOARD_THREADS", "1", 1);
  setenv("SOFTBOARD_SSAA", "1", 1);
  setenv("SOFTBOARD_COLOR", "32", 1);
  unsetenv("SOFTBOARD_TRACE");
  grLibInit();
  GrHwConfiguration hw;
  if (!grSstQueryHardware(&hw)) return false;
  grSstSelect(0);
  return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                      GR_ORIGIN_UPPER_LEFT, 2, aux_buffers);
}

BoardPixelScene::BoardPixelScene(PixelScene scene) : scene_(scene) {
  if (!OpenSceneBoard(1)) return;
  if (scene == PixelScene::kFoggedObject) {
    GrFog_t fog[GR_FOG_TABLE_SIZE];
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_NONE, FXFALSE);
    grDepthBufferMode(GR_DEPTHBUFFER_ZBUFFER);
    grDepthBufferFunction(GR_CMP_GREATER);
    grDepthMask(FXTRUE);
    grCullMode(GR_CULL_NEGATIVE);
    guFogGenerateExp(fog, kFogDensity);
    grFogTable(fog);
    grFogColorValue(kFogColor);
    grFogMode(GR_FOG_WITH_TABLE);
  } else if (scene == PixelScene::kSprites) {
    SpriteTextures& t = const_cast<SpriteTextures&>(Sprites());
    tiles_ = {GR_LOD_64, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, t.tiles565.data()};
    ball_ = {GR_LOD_32, GR_LOD_32, GR_ASPECT_1x1, GR_TEXFMT_ARGB_4444, t.ball4444.data()};
    ship_ = {GR_LOD_32, GR_LOD_32, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, t.ship565.data()};
    grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &tiles_);
    grTexDownloadMipMap(GR_TMU0, 16384, GR_MIPMAPLEVELMASK_BOTH, &ball_);
    grTexDownloadMipMap(GR_TMU0, 32768, GR_MIPMAPLEVELMASK_BOTH, &ship_);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grChromakeyValue(kSpriteKey);
  } else {
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_NONE, FXFALSE);
  }
  ok_ = true;
}

BoardPixelScene::~BoardPixelScene() {
  grLibShutdown();
}

void BoardPixelScene::Run() {
  const SceneFrame& f = CachedSceneFrame(scene_, frame_++);
  switch (scene_) {
    case PixelScene::kFoggedObject:
      grBufferClear(kFogColor, 0, GR_ZDEPTHVALUE_FARTHEST);
      for (size_t i = 0; i + 2 < f.triangles.size(); i += 3)
        grDrawTriangle(&f.triangles[i], &f.triangles[i + 1], &f.triangles[i + 2]);
      break;
    case PixelScene::kSprites:
      grClipWindow(0, 0, 640, 480);
      grAlphaTestFunction(GR_CMP_ALWAYS);
      grChromakeyMode(GR_CHROMAKEY_DISABLE);
      grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &tiles_);
      grBufferClear(0xFF000000, 0, 0);
      Quad(0, 0, 640, 480, 256 * 6, 256 * 4.5f);
      grClipWindow(kSpriteClip[0], kSpriteClip[1], kSpriteClip[2], kSpriteClip[3]);
      for (const SceneFrame::Sprite& s : f.sprites) {
        if (s.ball) {
          grChromakeyMode(GR_CHROMAKEY_DISABLE);
          grAlphaTestFunction(GR_CMP_GREATER);
          grAlphaTestReferenceValue(128);
          grTexSource(GR_TMU0, 16384, GR_MIPMAPLEVELMASK_BOTH, &ball_);
        } else {
          grAlphaTestFunction(GR_CMP_ALWAYS);
          grChromakeyMode(GR_CHROMAKEY_ENABLE);
          grTexSource(GR_TMU0, 32768, GR_MIPMAPLEVELMASK_BOTH, &ship_);
        }
        Quad(s.x, s.y, s.size, s.size, 256, 256);
      }
      break;
    case PixelScene::kWireframe:
      grBufferClear(0xFF080810, 0, 0);
      for (size_t i = 0; i + 1 < f.lines.size(); i += 2) grDrawLine(&f.lines[i], &f.lines[i + 1]);
      for (const GrVertex& p : f.points) grDrawPoint(&p);
      break;
  }
  grBufferSwap(0);
}

}  // namespace bench
