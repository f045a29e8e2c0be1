#include "rasterizer.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "blend.h"
#include "combine.h"
#include "sampler.h"
#include "setup.h"
#include "span.h"
#include "texture_memory.h"

namespace softboard {

// The channels one span passes through, from iteration to blending.
struct Workspace {
  SpanChannel iterated[4], texel[4], texture[4], constant[4], color[4];
  BlendScratch blend;
};

static SpanColor Channels(SpanChannel (&ch)[4]) {
  return {{ch[0].data(), ch[1].data(), ch[2].data(), ch[3].data()}};
}

static double At(const TriangleSetup& tri, const Plane& p, double x, double y) {
  return p.at_origin + p.dx * (x - tri.origin_x) + p.dy * (y - tri.origin_y);
}

// 16.16 fixed point, held in int range whatever the plane gives.
static uint32_t ToFixed(double v) {
  constexpr double kMax = 2147483647.0;
  v *= 65536;
  v = v >= -kMax ? std::min(v, kMax) : -kMax;  // NaN goes low too
  return uint32_t(int32_t(v));
}

// One colour channel along the span: the plane's value at each pixel centre,
// stepped in 16.16 and rounded to nearest. Wrapping arithmetic keeps an
// extreme step (only on one-pixel spans) defined; the clamp bounds it.
static void IterateChannel(uint32_t start, uint32_t step, int n, uint8_t* __restrict out) {
  int i = 0;
#if defined(__SSE2__)
  // Sixteen at a time; the saturating packs are the clamp to 0..255.
  const __m128i step4 = _mm_set1_epi32(int32_t(step * 4));
  __m128i v = _mm_add_epi32(_mm_set1_epi32(int32_t(start)),
                            _mm_set_epi32(int32_t(step * 3), int32_t(step * 2), int32_t(step), 0));
  for (; i + 16 <= n; i += 16) {
    __m128i q[4];
    for (__m128i& x : q) {
      x = _mm_srai_epi32(v, 16);
      v = _mm_add_epi32(v, step4);
    }
    const __m128i packed =
        _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
  }
#endif
  for (; i < n; i++) {
    const int32_t v = int32_t(start + uint32_t(i) * step) >> 16;
    out[i] = uint8_t(std::clamp(v, 0, 255));
  }
}

static float ToFloat(double v) {
  constexpr double kMax = 1e30;
  return float(v >= -kMax ? std::min(v, kMax) : -kMax);
}

static void Draw(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c,
                 bool general_only) {
  FrameBuffers& frame = board.frame;
  if (frame.back < 0 || frame.back >= int(frame.color.size())) return;
  std::vector<uint32_t>& buffer = frame.color[size_t(frame.back)];
  if (buffer.size() != size_t(kScreenPixels)) return;
  TriangleSetup tri;
  if (!SetupTriangle(a, b, c, tri)) return;

  // Choose every stage for the current state once, for the whole triangle.
  Workspace ws;
  const Rgba8 k = board.render.constant;
  const uint8_t constant[4] = {k.r, k.g, k.b, k.a};
  for (int i = 0; i < 4; i++) std::memset(ws.constant[i].data(), constant[i], kMaxSpan);
  const SpanColor texel = Channels(ws.texel), iterated = Channels(ws.iterated);
  const CombineStage tex = BuildTextureCombine(board.tmu0.combine, texel, ws.texture, general_only);
  const SpanColor texture = Result(tex);
  const CombineStage pixel = BuildPixelCombine(
      board.render, {iterated, texture, Channels(ws.constant)}, ws.color, general_only);
  const BlendStage blend = BuildBlend(board.render.blend, Result(pixel), ws.blend, general_only);

  bool uses_texture = false, samples = false, iterates[4];
  for (int i = 0; i < 4; i++) {
    uses_texture |= texture.c[i] != kZeroChannel.data() && Reads(pixel, texture.c[i]);
    samples |= Reads(tex, texel.c[i]);
    iterates[i] = Reads(pixel, iterated.c[i]);
  }
  samples &= uses_texture;
  SamplerStage sampler{};
  if (samples) sampler = BuildSampler(CurrentTexture(board.tmu0), board.tmu0, general_only);
  uint8_t* const texel_out[4] = {ws.texel[0].data(), ws.texel[1].data(), ws.texel[2].data(),
                                 ws.texel[3].data()};

  for (int row = tri.row_begin; row < tri.row_end; row++) {
    int x0, x1;
    if (!RowSpan(tri, row, x0, x1)) continue;
    const int n = x1 - x0;
    const double px = x0 + 0.5, py = row + 0.5;
    for (int i = 0; i < 4; i++) {
      if (!iterates[i]) continue;
      const Plane& p = tri.plane[kPlaneR + i];
      IterateChannel(ToFixed(At(tri, p, px, py) + 0.5), ToFixed(p.dx), n, ws.iterated[i].data());
    }
    if (samples) {
      const Plane& s = tri.plane[kPlaneSow];
      const Plane& t = tri.plane[kPlaneTow];
      const Plane& q = tri.plane[kPlaneOow];
      const TexCoordSpan tc{ToFloat(At(tri, s, px, py)),
                            ToFloat(At(tri, t, px, py)),
                            ToFloat(At(tri, q, px, py)),
                            ToFloat(s.dx),
                            ToFloat(t.dx),
                            ToFloat(q.dx)};
      SampleSpan(sampler, tc, n, texel_out);
    }
    if (uses_texture) RunCombine(tex, n);
    RunCombine(pixel, n);
    BlendSpan(blend, buffer.data() + size_t(row) * kScreenWidth + x0, n);
  }
}

void DrawTriangle(BoardState& board, const GrVertex& a, const GrVertex& b, const GrVertex& c) {
  Draw(board, a, b, c, false);
}

void DrawTriangleGeneral(BoardState& board, const GrVertex& a, const GrVertex& b,
                         const GrVertex& c) {
  Draw(board, a, b, c, true);
}

}  // namespace softboard
