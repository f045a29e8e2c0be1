// The general span loop: every combine, every blend, every sampler mode, a
// chunk of pixels at a time through planar channels. The reference that every
// fused loop is tested against.
#pragma once

#include "pixel/span.h"

namespace softboard {

void DrawSpanGeneral(const TriangleInputs& tri, const SpanInputs& span);

// The same on a 5-6-5 row (span.row565, span.alpha): the span's pixels are
// widened to 8 bits, drawn, and quantised back through span.dither.
void DrawSpanGeneral565(const TriangleInputs& tri, const SpanInputs& span);

}  // namespace softboard
