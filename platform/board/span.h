// What the pixel units hand each other along one span of a row: planar 8-bit
// channels, and the one 8-bit multiply they all round the same way.
#pragma once

#include <array>
#include <cstdint>

#include "board_state.h"

namespace softboard {

// No span is longer than a row of the screen.
constexpr int kMaxSpan = kScreenWidth;

// One channel of a span, a byte a pixel.
struct alignas(64) SpanChannel {
  std::array<uint8_t, kMaxSpan> v;
  uint8_t* data() { return v.data(); }
  const uint8_t* data() const { return v.data(); }
};

// Where each of r, g, b, a (0..3) of a span is read: a stage's output, an
// input passed through, or a channel filled once per triangle.
struct SpanColor {
  const uint8_t* c[4];
};

inline constexpr SpanChannel kZeroChannel{};

// x * f / 255 rounded to nearest for f in 0..255 and x in -255..255:
// t = x*f + 128, then (t + (t >> 8)) >> 8. Exact for x >= 0, within 0.502
// below zero, and x * 255 / 255 is x, so factor ONE passes a value through.
constexpr int Mul255(int x, int f) {
  const int t = x * f + 128;
  return (t + (t >> 8)) >> 8;
}

}  // namespace softboard
