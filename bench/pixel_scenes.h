// The examples' scenes for the benchmarks, drawn by the board through the
// library and by the peer (mesa_pixel_scenes.cpp): the z-buffered torus in
// fog, the sprites, the wireframe globe. Each frame turns or moves them, so
// no frame repeats the last.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "grlib.h"

namespace bench {

// Opens the board the scenes draw on: headless 640x480, scale 1, one
// thread, 32-bit colour, untraced; `aux_buffers` 1 for a depth buffer.
bool OpenSceneBoard(int aux_buffers);

enum class PixelScene { kFoggedObject, kSprites, kWireframe };
const char* SceneName(PixelScene scene);

// What a frame of a scene draws, in the library's vertices (the 640x480
// screen, ooz for the z buffer, 1/w for fog).
struct SceneFrame {
  std::vector<GrVertex> triangles;  // three a triangle (the torus), front faces first-wound
  std::vector<GrVertex> lines;      // two a line
  std::vector<GrVertex> points;
  struct Sprite {
    float x, y, size;
    bool ball;  // alpha-tested; otherwise a chroma-keyed ship
  };
  std::vector<Sprite> sprites;
};
SceneFrame MakeSceneFrame(PixelScene scene, int frame);
// The same, made once: frames cycle through kCachedFrames, so that what is
// timed is drawing them, not working them out.
constexpr int kCachedFrames = 64;
const SceneFrame& CachedSceneFrame(PixelScene scene, int frame);

// Textures of the sprites scene, 0xAARRGGBB, and as the board downloads them.
struct SpriteTextures {
  std::vector<uint16_t> tiles565, ball4444, ship565;  // 64x64, 32x32, 32x32
  std::vector<uint32_t> tiles, ball, ship;  // the same decoded; the ship's key with alpha 0
};
const SpriteTextures& Sprites();
constexpr uint32_t kSpriteKey = 0xFFFF00FF;
constexpr uint32_t kFogColor = 0xFF4A5A70;
constexpr float kFogDensity = 0.09f;
// The sprites' clip window.
constexpr int kSpriteClip[4] = {48, 40, 592, 440};

// The board drawing a scene through the library, headless, one frame a Run().
class BoardPixelScene {
 public:
  explicit BoardPixelScene(PixelScene scene);
  ~BoardPixelScene();
  bool ok() const { return ok_; }
  void Run();

 private:
  PixelScene scene_;
  int frame_ = 0;
  bool ok_ = false;
  GrTexInfo tiles_{}, ball_{}, ship_{};
};

}  // namespace bench
