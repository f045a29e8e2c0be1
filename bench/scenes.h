// The scenes the benchmarks draw, on the board and on the peer alike: the
// demo's frame, a full-screen bilinear textured fill and a full-screen
// Gouraud fill blended at alpha 128.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

constexpr int kWidth = 640, kHeight = 480;

// The demo's texture stand-in: 256x128, a colour ramp with a checker, 0xAARRGGBB.
std::vector<uint32_t> SceneTexture();
// The same as RGB 565 texels, as the board downloads it.
std::vector<uint16_t> SceneTexture565();

// A corner: position, colour, texture coordinates in the board's units (256
// across the texture's longer side) and w.
struct Corner {
  float x, y, r, g, b, s, t, w;
};

// The demo's triangle: corners at (100, 100), (500, 100), (500, 400).
extern const Corner kDemoTriangle[3];
// Two triangles covering the screen, each pixel once; w grows to `far_w` at
// the bottom (1: affine).
void ScreenQuad(float far_w, Corner (&first)[3], Corner (&second)[3]);

}  // namespace bench
