// The texture units' scenes for the benchmarks, drawn by the board through
// the library and by the peer (mesa_texture_scenes.cpp): the mipmap-floor
// example's corridor, trilinear (and nearest-mipmapped), and the lightmap
// example's wall, trilinear bricks times a light map from the second unit.
// Each frame moves the camera or the wall, so no frame repeats the last.
#pragma once

#include <cstdint>
#include <vector>

#include "grlib.h"

namespace bench {

enum class TextureScene { kFloorTrilinear, kFloorNearest, kLightMappedWall };
const char* SceneName(TextureScene scene);

// A texture with every level, largest first: RGB 565 as the board downloads
// them, and the same widened to 0xAARRGGBB.
struct MipChain {
  int side = 0;  // the largest level's (square)
  std::vector<uint16_t> rgb565;
  std::vector<std::vector<uint32_t>> levels;
};
const MipChain& FloorTexture();  // 256x256
const MipChain& BrickTexture();  // 128x128
// The light map: 64x32 intensities, one level.
const std::vector<uint8_t>& LightMap();

// A frame's polygons (fans of four), each with its texture: 0 the floor, 1
// the bricks. Unit 0's coordinates in tmuvtx[0]; the wall's light map in
// tmuvtx[1].
struct TexturePolygon {
  int texture;
  GrVertex v[4];
};
std::vector<TexturePolygon> TextureSceneFrame(TextureScene scene, int frame);

// The board drawing a scene through the library, headless, one frame a Run().
class BoardTextureScene {
 public:
  explicit BoardTextureScene(TextureScene scene);
  ~BoardTextureScene();
  bool ok() const { return ok_; }
  void Run();

 private:
  TextureScene scene_;
  int frame_ = 0;
  bool ok_ = false;
  GrTexInfo floor_{}, bricks_{}, light_{};
  FxU32 brick_address_ = 0;
};

}  // namespace bench
