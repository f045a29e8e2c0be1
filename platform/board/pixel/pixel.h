// A pixel of the board: the scene's size, a colour, and how 8-bit colour
// buffers pack it.
#pragma once

#include <cstdint>

namespace softboard {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr int kScreenPixels = kScreenWidth * kScreenHeight;

struct Rgba8 {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Rgba8&, const Rgba8&) = default;
};

// Pixels of 8-bit colour buffers are packed 0xAARRGGBB; the alpha byte is the
// alpha plane that destination-alpha blending reads (16-bit buffers keep it
// apart: see PixelLayout).
inline uint32_t PackArgb(Rgba8 c) {
  return uint32_t(c.a) << 24 | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}
inline Rgba8 UnpackArgb(uint32_t p) {
  return {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)};
}

}  // namespace softboard
