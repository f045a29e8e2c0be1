// The general span loop: every combine, every blend, every sampler mode, a
// chunk of pixels at a time through planar channels. The reference that every
// fused loop is tested against.
#pragma once

#include "span.h"

namespace softboard {

void DrawSpanGeneral(const TriangleInputs& tri, const SpanInputs& span);

}  // namespace softboard
