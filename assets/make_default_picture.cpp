// Paints the default texture's picture, 256x128, and writes it as a PNG.
// The demo shows the part above the diagonal from the top-left to the
// bottom-right corner, so the sun, the glyph and the clouds sit there. Nothing
// in it is symmetric, so a flipped or transposed mapping shows at once.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "png_file.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 128;
constexpr float kHorizon = 84.0f;
constexpr float kSunX = 206.0f, kSunY = 34.0f, kSunRadius = 17.0f;

struct Color {
  float r, g, b;
};

Color Mix(Color a, Color b, float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float Smooth(float edge0, float edge1, float x) {
  const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

// A bold "F" in a 24x34 box at (100, 10): reads wrong when mirrored either way.
bool InGlyph(float x, float y) {
  const float gx = x - 100.0f, gy = y - 10.0f;
  if (gx < 0 || gy < 0 || gx >= 24 || gy >= 34) return false;
  return gx < 7 || gy < 7 || (gy >= 14 && gy < 20 && gx < 18);
}

float Cloud(float x, float y, float cx, float cy, float rx, float ry) {
  const float dx = (x - cx) / rx, dy = (y - cy) / ry;
  return 1.0f - Smooth(0.6f, 1.0f, std::sqrt(dx * dx + dy * dy));
}

Color Sky(float x, float y) {
  // Deep blue at the top to a pale horizon, warmer towards the sun on the right.
  const Color top{24, 52, 128}, horizon_cool{150, 190, 225}, horizon_warm{250, 196, 140};
  const Color horizon = Mix(horizon_cool, horizon_warm, x / kWidth);
  Color c = Mix(top, horizon, std::pow(y / kHorizon, 1.4f));
  // The demo stretches the texture 1.5 times more down than across: a sun
  // squashed by as much here is round on the screen.
  const float d = std::hypot(x - kSunX, (y - kSunY) * 1.5f);
  c = Mix(c, Color{255, 236, 170}, 0.55f * std::exp(-(d - kSunRadius) / 22.0f));  // glow
  if (d < kSunRadius) c = Mix(Color{255, 214, 90}, Color{255, 250, 220}, 1 - d / kSunRadius);
  const float cloud = std::max(
      {Cloud(x, y, 150, 20, 26, 7), Cloud(x, y, 170, 26, 18, 5), Cloud(x, y, 60, 14, 20, 5)});
  return Mix(c, Color{250, 248, 244}, 0.85f * cloud);
}

Color Sea(float x, float y) {
  // Darker and greener with depth, bluer on the left; the sun's light on the water.
  const float depth = (y - kHorizon) / (kHeight - kHorizon);
  const Color near_left{10, 40, 90}, near_right{16, 70, 88}, far{70, 120, 160};
  Color c = Mix(far, Mix(near_left, near_right, x / kWidth), std::sqrt(depth));
  const float wave = 0.5f + 0.5f * std::sin(y * 1.7f + std::sin(x * 0.11f) * 2.0f);
  const float glitter = std::exp(-std::pow((x - kSunX) / (10 + 30 * depth), 2.0f));
  c = Mix(c, Color{255, 220, 150}, glitter * wave * 0.8f);
  // A faint grid on the water, so a stretched or shifted mapping is easy to see.
  if (std::fmod(x, 32.0f) < 1.0f || std::fmod(y - kHorizon, 16.0f) < 1.0f)
    c = Mix(c, Color{200, 230, 255}, 0.25f);
  return c;
}

Color Paint(float x, float y) {
  if (InGlyph(x, y)) return Color{200, 40, 50};
  return y < kHorizon ? Sky(x, y) : Sea(x, y);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_default_picture OUT.png\n");
    return 2;
  }
  std::vector<uint32_t> pixels(kWidth * kHeight);
  constexpr int kSamples = 4;  // per side, for smooth edges
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Color sum{0, 0, 0};
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const Color c = Paint(x + (sx + 0.5f) / kSamples, y + (sy + 0.5f) / kSamples);
          sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
        }
      }
      auto channel = [](float v) {
        return uint32_t(std::clamp(std::lround(v / (kSamples * kSamples)), 0L, 255L));
      };
      pixels[y * kWidth + x] =
          0xFF000000u | channel(sum.r) << 16 | channel(sum.g) << 8 | channel(sum.b);
    }
  }
  std::string error;
  if (!texfile::WritePng(argv[1], pixels.data(), kWidth, kHeight, false, &error)) {
    std::fprintf(stderr, "make_default_picture: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
