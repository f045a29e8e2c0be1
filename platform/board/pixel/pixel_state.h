// The render state that decides the per-pixel work, as one small value: what
// a triangle's pixels read, and which span loop draws them. Taken once per
// triangle.
#pragma once

#include <cstdint>

#include "pixel/render_state.h"

namespace softboard {

struct SamplerMode {
  bool bilinear = true;
  bool wrap_s = true;
  bool wrap_t = true;
  friend bool operator==(const SamplerMode&, const SamplerMode&) = default;
};

struct PixelState {
  CombineState color;   // the pixel's colour combine
  CombineState alpha;   // and its alpha combine
  TexCombineState tex;  // texture unit 0's own combine of its texel
  BlendState blend;
  Rgba8 constant;
  SamplerMode sampler;
  bool perspective = false;  // 1/w varies over the triangle
  PipelineState pipeline;
  // The units as set, for what `sampler` does not say: mipmapping, filters
  // that differ, a second unit. Where they take part the units' own path
  // samples (see pixel/texture_units.h); otherwise only unit 0 is set.
  UnitMode units[2];
  TexCombineState tex1;       // texture unit 1's own combine
  bool two_units = false;     // unit 1 takes part: unit 0's combine reads it
  bool perspective1 = false;  // unit 1's 1/w varies over the triangle
  friend bool operator==(const PixelState&, const PixelState&) = default;
};

// The state a triangle's pixels are drawn in: the combine units and the
// blender as set, texture unit 0's combine and sampler, and whether 1/w
// varies; the units' own fields as for one unit. Made in place: a state
// returned and copied is read back in other sizes than it was written.
void MakePixelState(const RenderState& render, const TexCombineState& tex,
                    const SamplerMode& sampler, bool perspective, PixelState* out);

// What drawing a pixel reads.
struct PixelInputs {
  bool iterated[4] = {};  // r, g, b, a of the vertices
  bool texture = false;   // the texture unit's output
};
PixelInputs InputsOf(const PixelState& state);

// The states that a fused loop draws in one pass, in registers. Every
// other state takes the general path.
enum class FusedColor : uint8_t {
  kTexture,   // the texel's colour
  kIterated,  // Gouraud
  kTextureTimesIterated,
};
enum class FusedAlpha : uint8_t { kConstant, kIterated, kTexture };
enum class FusedBlend : uint8_t {
  kReplace,   // (ONE, ZERO)
  kSrcAlpha,  // (SRC_ALPHA, ONE_MINUS_SRC_ALPHA)
};
enum class FusedAlphaWrite : uint8_t {
  kZero,    // alpha blend (ZERO, ZERO)
  kSource,  // (ONE, ZERO)
  kKeep,    // (ZERO, ONE)
};
// The texture coordinates a fused loop steps: none (no texture), affine (1/w
// the same everywhere: wrapping fixed point), or perspective (divided by w per
// pixel). Textures are sampled bilinearly, wrapping in s and t.
enum class Coords : uint8_t { kNone, kAffine, kPerspective };
struct FusedKind {
  FusedColor color;
  FusedAlpha alpha;  // the source alpha: the blend's factor and what kSource writes
  FusedBlend blend;
  FusedAlphaWrite alpha_write;
  Coords coords;
  friend bool operator==(const FusedKind&, const FusedKind&) = default;
};

// Whether a fused loop draws `state`; if so, which.
bool MatchFused(const PixelState& state, FusedKind* kind);

}  // namespace softboard
