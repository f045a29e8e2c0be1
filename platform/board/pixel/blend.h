// Blending a chunk of combined pixels with the colour buffer, and writing them.
// The general path.
#pragma once

#include <cstdint>

#include "pixel/combine.h"
#include "pixel/render_state.h"

namespace softboard {

// dst[0..n) (0xAARRGGBB, the alpha plane on top) becomes, per channel,
// min(255, round((src * Fs + dst * Fd) / 255)): one rounding.
void BlendPixels(const BlendState& state, const Chunk& src, int n, uint32_t* dst);

}  // namespace softboard
