#include "blend.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace softboard {

static const uint8_t* const kZero = kZeroChannel.data();

// out = src * Fs + dst * Fd per channel, each product rounded, clamped to 255.
static int Blend(int s, int fs, int d, int fd) {
  return std::min(255, Mul255(s, fs) + Mul255(d, fd));
}

// Factors for channel c (3 is alpha): a colour factor on the alpha channel is
// that colour's alpha.
static BlendFactor SourceFactor(int factor, int c, const SpanColor& src, BlendScratch& sc) {
  const uint8_t* as = src.c[3];
  const uint8_t* ad = sc.dst[3].data();
  switch (factor) {
    case GR_BLEND_ZERO: return {kZero, 0};
    case GR_BLEND_SRC_ALPHA: return {as, 0};
    case GR_BLEND_DST_COLOR: return {sc.dst[c].data(), 0};  // SRC_COLOR names it as a source
    case GR_BLEND_DST_ALPHA: return {ad, 0};
    case GR_BLEND_ONE: return {kZero, 255};
    case GR_BLEND_ONE_MINUS_SRC_ALPHA: return {as, 255};
    case GR_BLEND_ONE_MINUS_DST_COLOR: return {sc.dst[c].data(), 255};
    case GR_BLEND_ONE_MINUS_DST_ALPHA: return {ad, 255};
    case GR_BLEND_ALPHA_SATURATE:  // min(As, 1 - Ad) for colour, 1 for alpha
      return c < 3 ? BlendFactor{sc.saturate.data(), 0} : BlendFactor{kZero, 255};
    default: return {kZero, 0};  // values naming no factor weigh 0
  }
}

static BlendFactor DestFactor(int factor, int c, const SpanColor& src, BlendScratch& sc) {
  const uint8_t* as = src.c[3];
  const uint8_t* ad = sc.dst[3].data();
  switch (factor) {
    case GR_BLEND_ZERO: return {kZero, 0};
    case GR_BLEND_SRC_ALPHA: return {as, 0};
    case GR_BLEND_SRC_COLOR: return {src.c[c], 0};
    case GR_BLEND_DST_ALPHA: return {ad, 0};
    case GR_BLEND_ONE: return {kZero, 255};
    case GR_BLEND_ONE_MINUS_SRC_ALPHA: return {as, 255};
    case GR_BLEND_ONE_MINUS_SRC_COLOR: return {src.c[c], 255};
    case GR_BLEND_ONE_MINUS_DST_ALPHA: return {ad, 255};
    default: return {kZero, 0};  // ALPHA_SATURATE is a source factor only; others weigh 0
  }
}

static void General(const BlendStage& st, uint32_t* __restrict dst, int n) {
  BlendScratch& sc = *st.scratch;
  for (int i = 0; i < n; i++) {
    const uint32_t p = dst[i];
    sc.dst[0].v[i] = uint8_t(p >> 16);
    sc.dst[1].v[i] = uint8_t(p >> 8);
    sc.dst[2].v[i] = uint8_t(p);
    sc.dst[3].v[i] = uint8_t(p >> 24);
  }
  if (st.saturate) {
    const uint8_t* as = st.src.c[3];
    for (int i = 0; i < n; i++) sc.saturate.v[i] = std::min(as[i], uint8_t(255 - sc.dst[3].v[i]));
  }
  for (int c = 0; c < 4; c++) {
    const uint8_t* __restrict s = st.src.c[c];
    const uint8_t* __restrict d = sc.dst[c].data();
    const uint8_t* __restrict fs = st.src_factor[c].value;
    const uint8_t* __restrict fd = st.dst_factor[c].value;
    const uint8_t xs = st.src_factor[c].xor_mask, xd = st.dst_factor[c].xor_mask;
    uint8_t* __restrict out = sc.out[c].data();
    for (int i = 0; i < n; i++) out[i] = uint8_t(Blend(s[i], fs[i] ^ xs, d[i], fd[i] ^ xd));
  }
  for (int i = 0; i < n; i++) {
    dst[i] = PackArgb({sc.out[0].v[i], sc.out[1].v[i], sc.out[2].v[i], sc.out[3].v[i]});
  }
}

// The specialised loops: colour (ONE, ZERO) or (SRC_ALPHA, ONE_MINUS_SRC_ALPHA);
// alpha (ZERO, ZERO), (ONE, ZERO) or (ZERO, ONE). Same arithmetic as General.
enum class RgbOp { kReplace, kSrcAlpha };
enum class AlphaOp { kZero, kSource, kKeep };

#if defined(__SSE2__)
static __m128i Load4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

// Mul255 in 16-bit lanes: x*f + 128 stays below 2^16, and so does t + (t >> 8).
static __m128i Mul255x8(__m128i x, __m128i f) {
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, f), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// Four pixels of the fast loops at once, 0xAARRGGBB in and out.
template <RgbOp kRgb, AlphaOp kAlpha>
static __m128i Fast4(const uint8_t* r, const uint8_t* g, const uint8_t* b, const uint8_t* a,
                     __m128i dst) {
  const __m128i bg = _mm_unpacklo_epi8(Load4(b), Load4(g));
  const __m128i ra = _mm_unpacklo_epi8(Load4(r), Load4(a));
  __m128i out = _mm_unpacklo_epi16(bg, ra);
  if constexpr (kRgb == RgbOp::kSrcAlpha) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a2 = _mm_unpacklo_epi8(Load4(a), Load4(a));
    const __m128i as = _mm_unpacklo_epi16(a2, a2);  // each alpha in its pixel's four bytes
    const __m128i ad = _mm_xor_si128(as, _mm_set1_epi8(-1));
    const auto half = [&](auto unpack) {
      return _mm_add_epi16(Mul255x8(unpack(out, zero), unpack(as, zero)),
                           Mul255x8(unpack(dst, zero), unpack(ad, zero)));
    };
    out = _mm_packus_epi16(half([](__m128i x, __m128i y) { return _mm_unpacklo_epi8(x, y); }),
                           half([](__m128i x, __m128i y) { return _mm_unpackhi_epi8(x, y); }));
  }
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  if constexpr (kAlpha == AlphaOp::kZero) out = _mm_andnot_si128(alpha, out);
  if constexpr (kAlpha == AlphaOp::kSource) {
    out = _mm_or_si128(
        _mm_andnot_si128(alpha, out),
        _mm_slli_epi32(_mm_unpacklo_epi16(_mm_unpacklo_epi8(Load4(a), _mm_setzero_si128()),
                                          _mm_setzero_si128()),
                       24));
  }
  if constexpr (kAlpha == AlphaOp::kKeep) {
    out = _mm_or_si128(_mm_andnot_si128(alpha, out), _mm_and_si128(alpha, dst));
  }
  return out;
}
#endif

template <RgbOp kRgb, AlphaOp kAlpha>
static void Fast(const BlendStage& st, uint32_t* __restrict dst, int n) {
  const uint8_t* __restrict r = st.src.c[0];
  const uint8_t* __restrict g = st.src.c[1];
  const uint8_t* __restrict b = st.src.c[2];
  const uint8_t* __restrict a = st.src.c[3];
  int i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= n; i += 4) {
    __m128i* p = reinterpret_cast<__m128i*>(dst + i);
    _mm_storeu_si128(p, Fast4<kRgb, kAlpha>(r + i, g + i, b + i, a + i, _mm_loadu_si128(p)));
  }
#endif
  for (; i < n; i++) {
    const uint32_t p = dst[i];
    uint32_t out;
    if constexpr (kRgb == RgbOp::kReplace) {
      out = uint32_t(r[i]) << 16 | uint32_t(g[i]) << 8 | b[i];
    } else {
      const int as = a[i], ad = 255 - as;
      out = uint32_t(Blend(r[i], as, (p >> 16) & 255, ad)) << 16 |
            uint32_t(Blend(g[i], as, (p >> 8) & 255, ad)) << 8 |
            uint32_t(Blend(b[i], as, p & 255, ad));
    }
    if constexpr (kAlpha == AlphaOp::kSource) out |= uint32_t(a[i]) << 24;
    if constexpr (kAlpha == AlphaOp::kKeep) out |= p & 0xFF000000u;
    dst[i] = out;
  }
}

template <RgbOp kRgb>
static auto ChooseAlpha(const BlendState& s) -> void (*)(const BlendStage&, uint32_t*, int) {
  if (s.alpha_src == GR_BLEND_ZERO && s.alpha_dst == GR_BLEND_ZERO)
    return &Fast<kRgb, AlphaOp::kZero>;
  if (s.alpha_src == GR_BLEND_ONE && s.alpha_dst == GR_BLEND_ZERO)
    return &Fast<kRgb, AlphaOp::kSource>;
  if (s.alpha_src == GR_BLEND_ZERO && s.alpha_dst == GR_BLEND_ONE)
    return &Fast<kRgb, AlphaOp::kKeep>;
  return nullptr;
}

BlendStage BuildBlend(const BlendState& state, const SpanColor& src, BlendScratch& scratch,
                      bool general_only) {
  BlendStage st;
  st.src = src;
  st.scratch = &scratch;
  st.run = &General;
  for (int c = 0; c < 4; c++) {
    const bool alpha = c == 3;
    st.src_factor[c] = SourceFactor(alpha ? state.alpha_src : state.rgb_src, c, src, scratch);
    st.dst_factor[c] = DestFactor(alpha ? state.alpha_dst : state.rgb_dst, c, src, scratch);
  }
  st.saturate = state.rgb_src == GR_BLEND_ALPHA_SATURATE;
  if (general_only) return st;
  void (*fast)(const BlendStage&, uint32_t*, int) = nullptr;
  if (state.rgb_src == GR_BLEND_ONE && state.rgb_dst == GR_BLEND_ZERO) {
    fast = ChooseAlpha<RgbOp::kReplace>(state);
  } else if (state.rgb_src == GR_BLEND_SRC_ALPHA && state.rgb_dst == GR_BLEND_ONE_MINUS_SRC_ALPHA) {
    fast = ChooseAlpha<RgbOp::kSrcAlpha>(state);
  }
  if (fast != nullptr) st.run = fast;
  return st;
}

}  // namespace softboard
