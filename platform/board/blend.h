// Blending a span's combined colour with the back buffer and writing it.
#pragma once

#include <cstdint>

#include "board_state.h"
#include "span.h"

namespace softboard {

// A factor is a channel, xor 255 for one minus it.
struct BlendFactor {
  const uint8_t* value;
  uint8_t xor_mask;
};

// Working channels of the general blend.
struct BlendScratch {
  SpanChannel dst[4];
  SpanChannel saturate;  // min(As, 1 - Ad)
  SpanChannel out[4];
};

struct BlendStage {
  void (*run)(const BlendStage&, uint32_t* dst, int n);
  SpanColor src;
  BlendFactor src_factor[4], dst_factor[4];  // r, g, b, a
  bool saturate = false;
  BlendScratch* scratch = nullptr;
};

// The blend loop for the state, chosen once per triangle; `general_only`
// never takes a specialised loop (the pictures must not differ).
BlendStage BuildBlend(const BlendState& state, const SpanColor& src, BlendScratch& scratch,
                      bool general_only);

// Blends n source pixels into dst[0..n), 0xAARRGGBB with the alpha plane on top.
inline void BlendSpan(const BlendStage& stage, uint32_t* dst, int n) {
  stage.run(stage, dst, n);
}

}  // namespace softboard
