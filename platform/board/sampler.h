// Texture sampling of unit 0 along a span: texture coordinates divided per
// pixel, then point or bilinear filtering with wrapping or clamping.
#pragma once

#include <cstdint>

#include "board_state.h"

namespace softboard {

// s/w, t/w and 1/w at a span's first pixel and their steps along the row.
struct TexCoordSpan {
  float sow, tow, oow;
  float dsow, dtow, doow;
};

struct SamplerStage {
  void (*run)(const SamplerStage&, const TexCoordSpan&, int n, uint8_t* const out[4]);
  const uint32_t* texels = nullptr;
  int width = 0, height = 0, width_log2 = 0;
  float scale = 0;  // texel units (1/256 texel) per unit of s and t
};

// The sampling loop for the unit's filter and addressing, chosen once per
// triangle; `general_only` never takes a specialised loop (the pictures must
// not differ). A null or malformed level samples opaque white.
SamplerStage BuildSampler(const TextureLevel* level, const TextureUnitState& tmu,
                          bool general_only = false);

// Writes r, g, b, a of n texels to out[0..3].
inline void SampleSpan(const SamplerStage& stage, const TexCoordSpan& tc, int n,
                       uint8_t* const out[4]) {
  stage.run(stage, tc, n, out);
}

}  // namespace softboard
