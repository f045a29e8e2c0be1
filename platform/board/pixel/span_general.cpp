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

namespace {

// What a pixel of the span wrote, for a 5-6-5 row's packing.
constexpr uint8_t kWroteRgb = 1, kWroteAlpha = 2;

// The colour combine's other input, which the chroma key compares.
const Chunk* OtherInput(int other, const Chunk& iterated, const Chunk& texture,
                        const Chunk& constant) {
  switch (other) {
    case GR_COMBINE_OTHER_ITERATED: return &iterated;
    case GR_COMBINE_OTHER_TEXTURE: return &texture;
    case GR_COMBINE_OTHER_CONSTANT: return &constant;
    default: return nullptr;  // names no input: 0
  }
}

// Every step of the pipeline, in its order: chroma key, combine, alpha test,
// depth test, fog, blend, and the writes the masks allow of the pixels that
// passed. `written` (a 5-6-5 row's widened copy): each pixel's kWrote* marks.
void DrawSpanPipeline(const TriangleInputs& tri, const SpanInputs& span, uint8_t* written) {
  const PixelState& state = tri.state;
  const PipelineState& p = state.pipeline;
  Chunk iterated{}, texel, texture{}, constant, color;
  const uint8_t k[4] = {state.constant.r, state.constant.g, state.constant.b, state.constant.a};
  for (int c = 0; c < 4; c++) std::memset(constant.c[c], k[c], kChunk);
  alignas(64) uint32_t blended[kChunk];
  bool pass[kChunk];
  int new_depth[kChunk];
  uint32_t* row = span.row + span.x0;
  uint16_t* depth = span.depth ? span.depth + span.x0 : nullptr;
  const bool depth_test = UsesDepth(p) && depth;
  const bool w_depth = WBuffer(p.depth.mode);
  const uint32_t keep_mask = (p.rgb_write ? 0x00FFFFFFu : 0) | (p.alpha_write ? 0xFF000000u : 0);
  const uint8_t marks = uint8_t((p.rgb_write ? kWroteRgb : 0) | (p.alpha_write ? kWroteAlpha : 0));
  for (int first = 0; first < span.count; first += kChunk) {
    const int n = std::min(kChunk, span.count - first);
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
    std::fill_n(pass, n, true);
    if (p.chroma_key) {
      const Chunk* other = OtherInput(state.color.other, iterated, texture, constant);
      for (int i = 0; i < n; i++) {
        const Rgba8 o = other ? Rgba8{other->c[0][i], other->c[1][i], other->c[2][i], 0} : Rgba8{};
        if (o.r == p.key.r && o.g == p.key.g && o.b == p.key.b) pass[i] = false;
      }
    }
    CombinePixels(state.color, state.alpha, {&iterated, &texture, &constant}, n, color);
    for (int i = 0; i < n; i++)
      pass[i] = pass[i] && Compare(p.alpha_function, color.c[3][i], p.alpha_reference);
    if (depth_test) {
      for (int i = 0; i < n; i++) {
        const uint32_t at = uint32_t(first + i);
        const int d = w_depth ? WDepth(span.q + float(at) * span.dq)
                              : int32_t(span.z + at * span.dz) >> kDepthFraction;
        const DepthValues v = PixelDepth(p.depth, d);
        pass[i] = pass[i] && Compare(p.depth.function, v.compared, depth[first + i]);
        new_depth[i] = v.written;
      }
    }
    if (p.fog.source != FogSource::kNone) {
      const uint8_t fog[3] = {p.fog.color.r, p.fog.color.g, p.fog.color.b};
      for (int i = 0; i < n; i++) {
        const uint32_t at = uint32_t(first + i);
        int amount;
        if (p.fog.source == FogSource::kTable) {
          amount = FogTableAmount(p.fog.table, WDepth(span.q + float(at) * span.dq));
        } else {  // the iterated alpha, truncated (the plane holds it + 0.5)
          const int32_t a = int32_t(span.color[3] + at * span.color_step[3] - 0x8000u) >> 16;
          amount = std::clamp(a, 0, 255);
        }
        for (int c = 0; c < 3; c++)
          color.c[c][i] = uint8_t(Fogged(p.fog.apply, amount, color.c[c][i], fog[c]));
      }
    }
    std::memcpy(blended, row + first, size_t(n) * 4);
    BlendPixels(state.blend, color, n, blended);
    for (int i = 0; i < n; i++) {
      if (!pass[i]) continue;
      const int x = first + i;
      uint32_t out = (blended[i] & keep_mask) | (row[x] & ~keep_mask);
      // 16-bit colour kept 8 bits a channel: what is written is quantised.
      if (span.dither && p.rgb_write) DitherPlain(&out, 1, span.dither + span.x0 + x);
      row[x] = out;
      if (written) written[x] = marks;
      if (depth_test && p.depth.write) depth[x] = uint16_t(new_depth[i]);
    }
  }
}

}  // namespace

void DrawSpanGeneral(const TriangleInputs& tri, const SpanInputs& span) {
  if (!PlainPipeline(tri.state.pipeline)) return DrawSpanPipeline(tri, span, nullptr);
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
  wide.depth = span.depth ? span.depth + span.x0 : nullptr;
  if (PlainPipeline(tri.state.pipeline)) {
    DrawSpanGeneral(tri, wide);
    Pack565(pixels.data(), span.count, span.dither + span.x0, span.row565 + span.x0,
            span.alpha + span.x0);
    return;
  }
  // Only what was written is packed: packing a widened pixel again may move
  // it to another level of the dither.
  thread_local std::vector<uint8_t> written;
  written.assign(size_t(span.count), 0);
  DrawSpanPipeline(tri, wide, written.data());
  for (int i = 0; i < span.count; i++) {
    if (!written[size_t(i)]) continue;
    const int x = span.x0 + i;
    uint16_t rgb;
    uint8_t alpha;
    Pack565Plain(&pixels[size_t(i)], 1, span.dither + x, &rgb, &alpha);
    if (written[size_t(i)] & kWroteRgb) span.row565[x] = rgb;
    if (written[size_t(i)] & kWroteAlpha) span.alpha[x] = alpha;
  }
}

}  // namespace softboard
