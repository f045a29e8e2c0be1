#include "scenes.h"

namespace bench {

std::vector<uint16_t> SceneTexture565() {
  std::vector<uint16_t> texels;
  for (int y = 0; y < 128; y++) {
    for (int x = 0; x < 256; x++) {
      const int check = ((x >> 4) ^ (y >> 4)) & 1;
      texels.push_back(uint16_t((x >> 3) << 11 | (y >> 1) << 5 | (check ? 31 : 8)));
    }
  }
  return texels;
}

std::vector<uint32_t> SceneTexture() {
  std::vector<uint32_t> argb;
  for (uint16_t t : SceneTexture565()) {
    const uint32_t r = t >> 11, g = t >> 5 & 63, b = t & 31;
    argb.push_back(0xFF000000u | (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 |
                   (b << 3 | b >> 2));
  }
  return argb;
}

const Corner kDemoTriangle[3] = {{100, 100, 255, 0, 0, 0, 0, 100},
                                 {500, 100, 0, 255, 0, 256, 0, 100},
                                 {500, 400, 0, 0, 255, 256, 128, 100}};

void ScreenQuad(float far_w, Corner (&first)[3], Corner (&second)[3]) {
  const Corner a{0, 0, 255, 0, 0, 0, 0, 1}, b{640, 0, 0, 255, 0, 512, 0, 1},
      c{640, 480, 0, 0, 255, 512, 384, far_w}, d{0, 480, 90, 200, 40, 0, 384, far_w};
  first[0] = a, first[1] = b, first[2] = c;
  second[0] = a, second[1] = c, second[2] = d;
}

}  // namespace bench
