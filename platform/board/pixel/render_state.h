// What the combine units and the blender are set to: the state every pixel
// of a triangle is drawn in, as the library's calls set it.
#pragma once

#include "grlib.h"
#include "pixel/pipeline_state.h"
#include "pixel/pixel.h"

namespace softboard {

struct CombineState {
  int function = GR_COMBINE_FUNCTION_LOCAL;
  int factor = GR_COMBINE_FACTOR_ZERO;
  int local = GR_COMBINE_LOCAL_ITERATED;
  int other = GR_COMBINE_OTHER_ITERATED;
  bool invert = false;
  friend bool operator==(const CombineState&, const CombineState&) = default;
};

struct BlendState {
  int rgb_src = GR_BLEND_ONE;
  int rgb_dst = GR_BLEND_ZERO;
  int alpha_src = GR_BLEND_ONE;
  int alpha_dst = GR_BLEND_ZERO;
  friend bool operator==(const BlendState&, const BlendState&) = default;
};

struct RenderState {
  CombineState color;  // starts as the iterated colour
  CombineState alpha;  // starts as the iterated alpha
  BlendState blend;
  Rgba8 constant;
  PipelineState pipeline;      // clip, chroma key, alpha and depth tests, fog, masks
  int cull = GR_CULL_DISABLE;  // decided per triangle, before its pixels
};

// A texture unit's own combine of its texel.
struct TexCombineState {
  int rgb_function = GR_COMBINE_FUNCTION_LOCAL;
  int rgb_factor = GR_COMBINE_FACTOR_ZERO;
  int alpha_function = GR_COMBINE_FUNCTION_LOCAL;
  int alpha_factor = GR_COMBINE_FACTOR_ZERO;
  bool rgb_invert = false;
  bool alpha_invert = false;
  friend bool operator==(const TexCombineState&, const TexCombineState&) = default;
};

// A texture unit's filters, clamps and mipmapping, as grTexFilterMode,
// grTexClampMode, grTexMipMapMode and grTexLodBiasValue set them.
struct UnitMode {
  bool min_bilinear = true;
  bool mag_bilinear = true;
  bool wrap_s = true;
  bool wrap_t = true;
  int mipmap = GR_MIPMAP_DISABLE;
  bool lod_blend = false;
  int lod_bias = 0;  // in quarters, -32 to 31
  friend bool operator==(const UnitMode&, const UnitMode&) = default;
};

}  // namespace softboard
