// Small helpers for the pixel tests: a board with cleared buffers, vertices,
// and colour comparisons that print what differs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/board_state.h"
#include "api/frame_drawing.h"
#include "frame/framebuffer.h"

namespace softboard {

struct TestBoard {
  BoardState state;
  explicit TestBoard(uint32_t fill = 0) {
    InitFrameBuffers(state.frame, 2);
    Fill(fill);
  }
  void Fill(uint32_t p) { std::fill_n(BackRows(state.frame).Argb(), kScreenPixels, p); }
  uint32_t& At(int x, int y) { return BackRows(state.frame).Argb()[y * kScreenWidth + x]; }
  // Colour from the iterated vertex colour, alpha from the vertices too.
  void UseIterated() {
    state.render.color = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO,
                          GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_ITERATED, false};
    state.render.alpha = state.render.color;
  }
  void SetBlend(int rgb_src, int rgb_dst, int alpha_src, int alpha_dst) {
    state.render.blend = {rgb_src, rgb_dst, alpha_src, alpha_dst};
  }
  // A texture the unit samples, as the texture memory would decode it.
  void SetTexture(int width, int height, uint32_t (*texel)(int x, int y)) {
    std::vector<uint32_t> texels;
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) texels.push_back(texel(x, y));
    }
    state.tmu0.source.valid = true;
    state.tmu0.decoded = MakeDecodedTexture(width, height, std::move(texels));
  }
};

// All of `rows` as 0xAARRGGBB pixels, row by row.
inline std::vector<uint32_t> ImagePixels(const PixelRows& rows) {
  std::vector<uint32_t> out(size_t(rows.width) * size_t(rows.height));
  for (int y = 0; y < rows.height; y++)
    CopyImageRow(rows, y, out.data() + size_t(y) * size_t(rows.width));
  return out;
}

inline GrVertex Vertex(float x, float y, float r = 0, float g = 0, float b = 0, float a = 0) {
  GrVertex v{};
  v.x = x;
  v.y = y;
  v.r = r;
  v.g = g;
  v.b = b;
  v.a = a;
  v.oow = 1;
  v.tmuvtx[0].oow = v.tmuvtx[1].oow = 1;
  return v;
}

// A vertex with texture coordinates s, t at depth w, as a program passes them.
inline GrVertex TexVertex(float x, float y, float s, float t, float w = 1) {
  GrVertex v = Vertex(x, y);
  v.oow = 1 / w;
  v.tmuvtx[0] = {s / w, t / w, 1 / w};
  return v;
}

inline std::string Hex(uint32_t p) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", p);
  return text;
}

// Whether every channel of two 0xAARRGGBB pixels is within `tolerance`.
inline bool Near(uint32_t got, uint32_t want, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int d = int((got >> shift) & 255) - int((want >> shift) & 255);
    if (std::abs(d) > tolerance) return false;
  }
  return true;
}

inline testing::AssertionResult PixelNear(int x, int y, uint32_t got, uint32_t want,
                                          int tolerance) {
  if (Near(got, want, tolerance)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << Hex(got)
                                     << ", expected " << Hex(want) << " within " << tolerance;
}

inline uint32_t Argb(int a, int r, int g, int b) {
  return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

// A small deterministic generator, so every run tests the same values.
struct Random {
  uint32_t state;
  explicit Random(uint32_t seed) : state(seed) {}
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  int Below(int n) { return int(Next() % uint32_t(n)); }
};

}  // namespace softboard
