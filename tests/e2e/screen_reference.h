// Independent arithmetic for what the demo's frame should hold.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Color {
  double r, g, b;
};

struct Screenshot {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB
  bool Load(const std::string& path);
  Color At(int x, int y) const {
    const uint32_t p = pixels[size_t(y) * width + x];
    return {double((p >> 16) & 255), double((p >> 8) & 255), double(p & 255)};
  }
};

// Barycentric weights of point (px, py) in the triangle (x0,y0),(x1,y1),(x2,y2).
inline std::array<double, 3> Barycentric(double px, double py, const double (&x)[3],
                                         const double (&y)[3]) {
  const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  const double w1 = ((px - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (py - y[0])) / area;
  const double w2 = ((x[1] - x[0]) * (py - y[0]) - (px - x[0]) * (y[1] - y[0])) / area;
  return {1.0 - w1 - w2, w1, w2};
}

// The shaded triangle's colour at pixel (i, j) when offset by (dx, dy).
inline Color ShadedAt(int i, int j, double dx, double dy) {
  const double x[3] = {100 + dx, 500 + dx, 500 + dx};
  const double y[3] = {100 + dy, 100 + dy, 400 + dy};
  const auto w = Barycentric(i + 0.5, j + 0.5, x, y);
  return {255 * w[0], 255 * w[1], 255 * w[2]};
}

inline double MaxDifference(Color a, Color b) {
  return std::fmax(std::fabs(a.r - b.r), std::fmax(std::fabs(a.g - b.g), std::fabs(a.b - b.b)));
}

}  // namespace e2e
