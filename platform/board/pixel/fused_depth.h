// Fused loops for the pipeline's common states beyond combine and blend:
// a Z or W depth test (with or without writes), the alpha test, the chroma
// key and fog, over the textured and Gouraud kinds of fused_loops.h. One
// Highway source (fused_loops_depth.cpp), every SIMD target; each gives the
// general loop's pixels and depths, to the bit.
//
// What they draw (anything else takes the general loop):
//   colour, alpha, blend, alpha write, coordinates   as FusedKind
//   depth          none, Z or W; any function; compare-to-bias; write or not
//   alpha test     any function and reference
//   chroma key     when the colour combine's other input is the iterated
//                  colour, or the texture of a textured kind
//   fog            iterated alpha or table; plain, MULT2 or ADD2
//   colour mask    both written only
//   buffer         8 bits a channel (16-bit colour: supersampled, quantised
//                  as it is written); 5-6-5 buffers take the general loop
#pragma once

#include <cstdint>

#include "pixel/pixel_rows.h"
#include "pixel/pixel_state.h"
#include "pixel/span.h"
#include "pixel/span_start.h"

namespace softboard {

enum class FusedDepth : uint8_t { kNone, kZ, kW };

// Whether a fused depth loop draws `state` (one whose pipeline is not plain);
// if so its base kind (stored in TriangleInputs::fused) and its depth.
bool MatchFusedDepth(const PixelState& state, FusedKind* kind, FusedDepth* depth);

// A span loop, and a loop over a triangle's rows drawing each as it does.
struct DepthLoops {
  SpanLoop span = nullptr;
  RowsLoop rows = nullptr;
};

// The loops on the best target this CPU runs; none on the one-lane target and
// for 5-6-5 buffers.
DepthLoops ChooseFusedDepthLoops(const FusedKind& kind, FusedDepth depth, PixelLayout layout);
SpanLoop ChooseFusedDepthLoop(const FusedKind& kind, FusedDepth depth, PixelLayout layout);

}  // namespace softboard
