#include "pixel/span_general.h"

#include <algorithm>
#include <cstring>

#include <vector>

#include "pixel/blend.h"
#include "pixel/combine.h"
#include "pixel/rgb565.h"
#include "pixel/sampler.h"
#include "pixel/texture_units.h"

namespace softboard {

void DrawSpanGeneral(const TriangleInputs& tri, const SpanInputs& span) {
  const PixelState& state = tri.state;
  Chunk iterated{}, texel, texture{}, constant, color;
  const uint8_t k[4] = {state.constant.r, state.constant.g, state.constant.b, state.constant.a};
  for (int c = 0; c < 4; c++) std::memset(constant.c[c], k[c], kChunk);
  for (int first = 0; first < span.count; first += kChunk) {
    const int n = std::min(kChunk, span.count - first);
    // Colours step in 16.16 from the span's start; wrapping arithmetic keeps
    // an extreme step (only on one-pixel spans) defined, the clamp bounds it.
    for (int c = 0; c < 4; c++) {
      if (!tri.reads.iterated[c]) continue;
      for (int i = 0; i < n; i++) {
        const int32_t v = int32_t(span.color[c] + uint32_t(first + i) * span.color_step[c]) >> 16;
        iterated.c[c][i] = uint8_t(std::clamp(v, 0, 255));
      }
    }
    if (tri.units) {
      SampleUnitsChunk(tri, span, first, n, texture);
    } else if (tri.reads.texture) {
      SampleChunk(tri, span, first, n, texel);
      CombineTexture(state.tex, texel, n, texture);
    }
    CombinePixels(state.color, state.alpha, {&iterated, &texture, &constant}, n, color);
    BlendPixels(state.blend, color, n, span.row + span.x0 + first);
  }
  // 16-bit colour kept 8 bits a channel (supersampled): quantised as written.
  if (span.dither) DitherSpan(span.row + span.x0, span.count, span.dither + span.x0);
}

void DrawSpanGeneral565(const TriangleInputs& tri, const SpanInputs& span) {
  thread_local std::vector<uint32_t> pixels;  // the span's, 8 bits a channel
  if (pixels.size() < size_t(span.count)) pixels.resize(size_t(span.count));
  Widen565(span.row565 + span.x0, span.alpha + span.x0, span.count, pixels.data());
  SpanInputs wide = span;
  wide.row = pixels.data();
  wide.x0 = 0;
  wide.dither = nullptr;  // quantised once, as it is packed
  if (span.lod_dither) wide.lod_dither = span.lod_dither + span.x0;  // wide starts at 0
  DrawSpanGeneral(tri, wide);
  Pack565(pixels.data(), span.count, span.dither + span.x0, span.row565 + span.x0,
          span.alpha + span.x0);
}

}  // namespace softboard
