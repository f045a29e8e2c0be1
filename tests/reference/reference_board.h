// An independent computation of what the board's rules give, for tests to
// compare the board's pixels with: written from the rules themselves, in
// double precision, sharing no code with the board. A 640x480 scene, 8 bits a
// channel, one sample a pixel. Where a test decision lies within the
// arithmetic's reach of a tie (a depth within 1 of the stored one, an alpha
// within 1 of the reference, an other colour within 1 of the key), or reads a
// pixel that did, the pixel is marked uncertain and is not compared.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "grlib.h"
#include "reference/reference_units.h"

namespace reference {

constexpr int kWidth = 640, kHeight = 480;

struct Combine {
  int function = GR_COMBINE_FUNCTION_LOCAL, factor = GR_COMBINE_FACTOR_ZERO;
  int local = GR_COMBINE_LOCAL_ITERATED, other = GR_COMBINE_OTHER_ITERATED;
  bool invert = false;
};

// A texture as 0xAARRGGBB texels; sampled bilinearly, wrapping.
struct Texture {
  int width = 0, height = 0;
  std::vector<uint32_t> texels;
};

struct State {
  int color_format = GR_COLORFORMAT_ARGB;
  int origin = GR_ORIGIN_UPPER_LEFT;
  Combine color, alpha;
  int rgb_src = GR_BLEND_ONE, rgb_dst = GR_BLEND_ZERO;
  int alpha_src = GR_BLEND_ONE, alpha_dst = GR_BLEND_ZERO;
  uint32_t constant = 0;             // packed as color_format
  const Texture* texture = nullptr;  // null: opaque white
  // Where set, the texture units' rules give the texture instead
  // (reference_units.h): mipmaps, filters, clamps, a second unit.
  bool units_on = false, two_units = false;
  UnitState units[2];
  int depth_mode = GR_DEPTHBUFFER_DISABLE, depth_function = GR_CMP_LESS;
  bool depth_write = false;
  int depth_bias = 0;
  int alpha_function = GR_CMP_ALWAYS, alpha_reference = 0;
  bool chroma_key = false;
  uint32_t key = 0;
  int fog_mode = GR_FOG_DISABLE;  // with MULT2 or ADD2
  uint32_t fog_color = 0;
  std::array<uint8_t, GR_FOG_TABLE_SIZE> fog_table{};
  int clip[4] = {0, 0, kWidth, kHeight};
  int cull = GR_CULL_DISABLE;
  bool rgb_write = true, alpha_write = true;
};

class Board {
 public:
  Board();
  State state;
  std::vector<uint32_t> color;  // 0xAARRGGBB, alpha the alpha plane
  std::vector<uint16_t> depth;
  std::vector<uint8_t> uncertain;

  void Clear(GrColor_t color, GrAlpha_t alpha, FxU16 depth);
  void Triangle(const GrVertex& a, const GrVertex& b, const GrVertex& c);
  void Line(const GrVertex& a, const GrVertex& b);
  void Point(const GrVertex& p);

 private:
  struct Values;
  void Shade(int x, int y, const Values& v);
  // The pixel's texture planes for the units' rules (triangles only).
  UnitPlanes planes_[2];
};

// The fog helpers' tables, computed here on their own.
double FogIndexToW(int i);
// The W depth of 1/w, from its definition through log2.
int WDepthOf(double q);

// Counts pixels of `got` (0xAARRGGBB, 640x480) that are not those of `want`
// within `tolerance` a channel, where `want` is certain; the first few go to
// `report`.
int CountDifferences(const std::vector<uint32_t>& got, const Board& want, int tolerance,
                     std::vector<std::string>* report, bool compare_alpha = false);

}  // namespace reference
