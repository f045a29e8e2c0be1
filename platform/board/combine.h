// The combine units: the texture unit's own combine of its texel, then the
// colour and alpha combine of a pixel, run over a span of planar channels.
#pragma once

#include <cstdint>

#include "board_state.h"
#include "span.h"

namespace softboard {

// One output channel: clamp(f * (plus - minus) + add) ^ invert_xor with
// f = factor[i] ^ factor_xor, or an input passed through unchanged.
struct CombineChannel {
  const uint8_t* factor;
  uint8_t factor_xor;
  const uint8_t* plus;
  const uint8_t* minus;
  const uint8_t* add;
  uint8_t invert_xor;
  uint8_t* out;           // written by the general equation
  const uint8_t* result;  // `out`, or the input passed through
};

struct CombineStage {
  CombineChannel ch[4];  // r, g, b, a
};

// The inputs a pixel's combines read, one span channel each.
struct CombineInputs {
  SpanColor iterated;
  SpanColor texture;  // the texture unit's output
  SpanColor constant;
};

// `general_only` computes every channel by the equation, never passing an
// input through; the pictures must not differ.
CombineStage BuildTextureCombine(const TexCombineState& state, const SpanColor& texel,
                                 SpanChannel (&out)[4], bool general_only);
CombineStage BuildPixelCombine(const RenderState& state, const CombineInputs& in,
                               SpanChannel (&out)[4], bool general_only);

void RunCombine(const CombineStage& stage, int n);

inline SpanColor Result(const CombineStage& stage) {
  return {{stage.ch[0].result, stage.ch[1].result, stage.ch[2].result, stage.ch[3].result}};
}

// Whether running the stage (or passing through) reads `channel`.
bool Reads(const CombineStage& stage, const uint8_t* channel);

}  // namespace softboard
