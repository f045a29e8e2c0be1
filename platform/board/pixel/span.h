// What the rasterizer hands the span loops: a triangle's inputs, worked out
// once, and one row's span of it. The loops keep nothing else: a span is a row
// pointer, a start column and a count, so any row may be drawn on any thread.
#pragma once

#include <cstdint>

#include "pixel/lod.h"
#include "pixel/pixel_state.h"

namespace softboard {

// The texture as the span loops sample it.
struct SampledTexture {
  const uint32_t* texels = nullptr;  // 0xAARRGGBB, row by row; null: opaque white
  // Four per texel: itself, its right, lower and lower-right neighbours, with
  // wrapping, so a bilinear sample is one 16-byte load.
  const uint32_t* footprint = nullptr;
  int width = 0, height = 0;
  int width_log2 = 0, height_log2 = 0;
  float scale = 0;  // 1/256 texel per unit of s and t: the longer side
};

// How a texture unit samples a triangle on the units' own path (mipmapping,
// filters that differ, two units): its levels, and its level of detail,
// constant over the triangle or worked out per pixel (see pixel/lod.h).
struct SampledUnit {
  int levels = 0;  // 0: no texture (opaque white)
  SampledTexture level[kMaxLevels];
  // Every level is its own, at level_first[n] texels into one footprint array.
  bool complete = false;
  const uint32_t* footprint = nullptr;  // level 0's
  uint32_t level_first[kMaxLevels] = {};
  // Coordinates step in wrapping fixed point for levels `affine_level[0..1]`
  // (1/w does not vary and both axes wrap); otherwise divided per pixel.
  bool affine = false;
  int affine_level[2] = {};
  bool affine_bilinear = true;  // the filter of those levels
  // The level of detail in 1/256 (floor(256 lod), see Lod256), when constant.
  bool lod_varies = false;
  int lod256 = 0;
  bool lod_above = false;
  // Per pixel: the steps along a row of the terms Rho2 takes, and the square
  // of texels of level 0 a unit of s.
  double dq = 0, dbs = 0, dbt = 0;
  double texel_scale2 = 0;
  int bias_quarters = 0;
  float scale0 = 0;  // level 0's longer side
};

struct TriangleInputs {
  PixelState state;
  PixelInputs reads;
  SampledTexture texture;
  // Texture coordinates step in wrapping fixed point (1/w does not vary and
  // both axes wrap); otherwise they are divided per pixel.
  bool affine = false;
  FusedKind fused{};  // what a fused loop draws, when one does
  // Triangles prepared in the same state, for the same loop, share a serial
  // (0: none), so that a loop may keep what it makes of the state.
  uint64_t state_serial = 0;
  // The units' own path samples (see pixel/texture_units.h): unit 0 and,
  // where state.two_units, unit 1.
  bool units = false;
  SampledUnit unit[2];
};

// A unit's texture coordinates and level of detail along a span, on the
// units' own path.
struct UnitSpan {
  uint32_t u[2] = {}, v[2] = {};    // affine: the two affine levels
  uint32_t du[2] = {}, dv[2] = {};  // and their steps
  float sow = 0, tow = 0, oow = 0;  // otherwise
  float dsow = 0, dtow = 0, doow = 0;
  // Rho2's terms at the span's first pixel: x_term is the same along the row,
  // q, bs and bt step by SampledUnit's dq, dbs and dbt.
  double x_term = 0, q = 0, bs = 0, bt = 0;
};

// Texture coordinates in wrapping fixed point: 2^32 is the texture's width
// (or height), so wrapping is integer overflow. Bits 24-k and up (k the side's
// log2) are 1/256 texel.
struct SpanInputs {
  uint32_t* row = nullptr;  // the colour buffer's row, 8 bits a channel
  // Or a 5-6-5 buffer's row: its 16-bit pixels and its alpha bytes.
  uint16_t* row565 = nullptr;
  uint8_t* alpha = nullptr;
  int x0 = 0, count = 0;
  uint32_t color[4] = {}, color_step[4] = {};  // r, g, b, a in 16.16, already + 0.5
  uint32_t u = 0, v = 0, du = 0, dv = 0;       // affine texture coordinates
  float sow = 0, tow = 0, oow = 0;             // otherwise s/w, t/w, 1/w ...
  float dsow = 0, dtow = 0, doow = 0;          // ... and their steps along the row
  // 16-bit colour: DitherOffset of each pixel of the row (at least
  // kDitherReadPast past its end can be read). Every span loop quantises what
  // it writes through them: to 5-6-5 pixels on a 5-6-5 row, to their widened
  // values on an 8-bit one. Null: 8 bits a channel, written as they are.
  const uint32_t* dither = nullptr;
  // The depth buffer's row, a 16-bit depth a pixel, indexed as `row` is;
  // null: none.
  uint16_t* depth = nullptr;
  uint32_t z = 0, dz = 0;  // Z depth in signed 17.15 fixed point, and its step
  float q = 0, dq = 0;     // the vertices' 1/w (W depth, the fog table), and its step
  // The units' own path: each unit's coordinates (two, kept by whoever draws
  // the span), and the row's LOD dither values (kLodDither, 0..15, a byte a
  // pixel; at least kDitherReadPast past its end can be read).
  UnitSpan* units = nullptr;
  const uint8_t* lod_dither = nullptr;
};

// A span loop draws one span; every one keeps the same contract (see
// SpanInputs), so which one draws is chosen once per triangle.
using SpanLoop = void (*)(const TriangleInputs& tri, const SpanInputs& span);

// x * f / 255 rounded to nearest for f in 0..255 and x in -255..255:
// t = x*f + 128, then (t + (t >> 8)) >> 8. Exact for x >= 0, within 0.502
// below zero, and x * 255 / 255 is x, so factor ONE passes a value through.
constexpr int Mul255(int x, int f) {
  const int t = x * f + 128;
  return (t + (t >> 8)) >> 8;
}

// x / 255 rounded to nearest, x >= 0 (255 is odd: no halves to break).
constexpr int Div255(int x) {
  return (x + 127) / 255;
}

// The board's 8-bit bilinear filter of one channel: weights in 1/256, rows
// rounded to 8 bits first, then the two rows. Within 1 of exact arithmetic.
constexpr int Bilinear8(int c00, int c10, int c01, int c11, int fu, int fv) {
  const int top = (c00 * (256 - fu) + c10 * fu + 128) >> 8;
  const int bottom = (c01 * (256 - fu) + c11 * fu + 128) >> 8;
  return (top * (256 - fv) + bottom * fv + 128) >> 8;
}

}  // namespace softboard
