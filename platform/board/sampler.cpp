#include "sampler.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "span.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace softboard {

// Texel coordinates in 1/256 texel: 256 units of s or t span the longer side
// of the texture (so u = s * longer / 256), and s = t = 0 is the upper-left
// corner of texel (0, 0). `offset` moves bilinear samples to texel centres
// (-128) and rounds them to the nearest 1/256 (+0.5); point samples take the
// texel the coordinate falls in.
// Kept within int range whatever the division gives (inf, NaN near w = 0).
constexpr float kLimit = 1 << 30;

static int32_t FloorFixed(float x) {
  x = x >= -kLimit ? x : -kLimit;  // NaN too
  x = x <= kLimit ? x : kLimit;
  const int32_t t = int32_t(x);  // toward zero, then down to the floor
  return t - int32_t(float(t) > x);
}

static void TexelCoords(const SamplerStage& stage, const TexCoordSpan& tc, int n, float offset,
                        int32_t* __restrict u, int32_t* __restrict v) {
  for (int i = 0; i < n; i++) {
    const float q = tc.oow + float(i) * tc.doow;
    const float s = (tc.sow + float(i) * tc.dsow) / q;
    const float t = (tc.tow + float(i) * tc.dtow) / q;
    u[i] = FloorFixed(s * stage.scale + offset);
    v[i] = FloorFixed(t * stage.scale + offset);
  }
}

template <bool kWrap>
static int Address(int i, int mask) {
  return kWrap ? i & mask : std::clamp(i, 0, mask);
}

// The channels of 0xAARRGGBB in 16-bit lanes: b, r, g, a from the bottom.
static uint64_t Spread(uint32_t p) {
  return (p & 0x00FF00FFu) | uint64_t((p >> 8) & 0x00FF00FFu) << 32;
}

// Bilinear with 8-bit weights: each channel is
// (c00 (256-fu)(256-fv) + c10 fu (256-fv) + c01 (256-fu) fv + c11 fu fv + 2^15) >> 16,
// two channels per 64-bit word so no lane carries into the next.
template <bool kWrapS, bool kWrapT>
static void Bilinear(const SamplerStage& s, const int32_t* u, const int32_t* v, int n,
                     uint8_t* const out[4]) {
  const int wm = s.width - 1, hm = s.height - 1, shift = s.width_log2;
  const uint32_t* texels = s.texels;
  uint8_t* __restrict r = out[0], * __restrict g = out[1], * __restrict b = out[2], * __restrict a = out[3];
  constexpr uint64_t kLanes = 0x0000FFFF0000FFFFull, kHalf = 0x0000800000008000ull;
  for (int i = 0; i < n; i++) {
    const int iu = u[i] >> 8, iv = v[i] >> 8;
    const uint64_t fu = u[i] & 255, fv = v[i] & 255;
    const int x0 = Address<kWrapS>(iu, wm), x1 = Address<kWrapS>(iu + 1, wm);
    const uint32_t* row0 = texels + (Address<kWrapT>(iv, hm) << shift);
    const uint32_t* row1 = texels + (Address<kWrapT>(iv + 1, hm) << shift);
    const uint64_t top = Spread(row0[x0]) * (256 - fu) + Spread(row0[x1]) * fu;
    const uint64_t bottom = Spread(row1[x0]) * (256 - fu) + Spread(row1[x1]) * fu;
    const uint64_t bg = (top & kLanes) * (256 - fv) + (bottom & kLanes) * fv + kHalf;
    const uint64_t ra = (top >> 16 & kLanes) * (256 - fv) + (bottom >> 16 & kLanes) * fv + kHalf;
    r[i] = uint8_t(ra >> 16);
    g[i] = uint8_t(bg >> 48);
    b[i] = uint8_t(bg >> 16);
    a[i] = uint8_t(ra >> 48);
  }
}

template <bool kWrapS, bool kWrapT>
static void Point(const SamplerStage& s, const int32_t* u, const int32_t* v, int n,
                  uint8_t* const out[4]) {
  const int wm = s.width - 1, hm = s.height - 1, shift = s.width_log2;
  const uint32_t* texels = s.texels;
  uint8_t* __restrict r = out[0], * __restrict g = out[1], * __restrict b = out[2], * __restrict a = out[3];
  for (int i = 0; i < n; i++) {
    const int x = Address<kWrapS>(u[i] >> 8, wm), y = Address<kWrapT>(v[i] >> 8, hm);
    const uint32_t p = texels[(y << shift) + x];
    r[i] = uint8_t(p >> 16);
    g[i] = uint8_t(p >> 8);
    b[i] = uint8_t(p);
    a[i] = uint8_t(p >> 24);
  }
}

template <bool kBilinear, bool kWrapS, bool kWrapT>
static void Sample(const SamplerStage& s, const TexCoordSpan& tc, int n, uint8_t* const out[4]) {
  alignas(64) int32_t u[kMaxSpan], v[kMaxSpan];
  TexelCoords(s, tc, n, kBilinear ? -127.5f : 0.0f, u, v);
  if constexpr (kBilinear) {
    Bilinear<kWrapS, kWrapT>(s, u, v, n, out);
  } else {
    Point<kWrapS, kWrapT>(s, u, v, n, out);
  }
}

#if defined(__SSE2__)
// The same arithmetic as TexelCoords and Bilinear<true, true>, four
// coordinates and one pixel's four texels at a time; the general path checks it.
static void TexelCoordsSse2(const SamplerStage& stage, const TexCoordSpan& tc, int n, float offset,
                            int32_t* u, int32_t* v) {
  const __m128 lo = _mm_set1_ps(-kLimit), hi = _mm_set1_ps(kLimit);
  const auto fixed = [&](__m128 x) {
    x = _mm_min_ps(_mm_max_ps(x, lo), hi);  // max gives `lo` for NaN
    const __m128i t = _mm_cvttps_epi32(x);
    return _mm_add_epi32(t, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(t), x)));
  };
  const __m128 scale = _mm_set1_ps(stage.scale), off = _mm_set1_ps(offset);
  for (int i = 0; i < n; i += 4) {  // whole groups of four: the arrays have room
    const __m128 fi = _mm_add_ps(_mm_set1_ps(float(i)), _mm_set_ps(3, 2, 1, 0));
    const __m128 q = _mm_add_ps(_mm_set1_ps(tc.oow), _mm_mul_ps(fi, _mm_set1_ps(tc.doow)));
    const __m128 s =
        _mm_div_ps(_mm_add_ps(_mm_set1_ps(tc.sow), _mm_mul_ps(fi, _mm_set1_ps(tc.dsow))), q);
    const __m128 t =
        _mm_div_ps(_mm_add_ps(_mm_set1_ps(tc.tow), _mm_mul_ps(fi, _mm_set1_ps(tc.dtow))), q);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i),
                     fixed(_mm_add_ps(_mm_mul_ps(s, scale), off)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i),
                     fixed(_mm_add_ps(_mm_mul_ps(t, scale), off)));
  }
}

static_assert(kMaxSpan % 4 == 0, "span arrays hold whole groups of four");

// Per pixel: the offsets of its four texels and its weights as 16-bit pairs
// (256 - f, f), worked out four pixels at a time.
struct alignas(64) Taps {
  int32_t offset[4][kMaxSpan];  // (x0, y0), (x0, y1), (x1, y0), (x1, y1)
  int32_t weight_u[kMaxSpan], weight_v[kMaxSpan];
};

static void WrapTapsSse2(const SamplerStage& s, const int32_t* u, const int32_t* v, int n,
                         Taps& taps) {
  const __m128i wm = _mm_set1_epi32(s.width - 1), hm = _mm_set1_epi32(s.height - 1);
  const __m128i one = _mm_set1_epi32(1), full = _mm_set1_epi32(256), frac = _mm_set1_epi32(255);
  const __m128i shift = _mm_cvtsi32_si128(s.width_log2);
  const auto pairs = [&](__m128i f) {
    return _mm_or_si128(_mm_slli_epi32(f, 16), _mm_sub_epi32(full, f));
  };
  for (int i = 0; i < n; i += 4) {
    const __m128i cu = _mm_load_si128(reinterpret_cast<const __m128i*>(u + i));
    const __m128i cv = _mm_load_si128(reinterpret_cast<const __m128i*>(v + i));
    const __m128i iu = _mm_srai_epi32(cu, 8), iv = _mm_srai_epi32(cv, 8);
    const __m128i x0 = _mm_and_si128(iu, wm), x1 = _mm_and_si128(_mm_add_epi32(iu, one), wm);
    const __m128i y0 = _mm_sll_epi32(_mm_and_si128(iv, hm), shift);
    const __m128i y1 = _mm_sll_epi32(_mm_and_si128(_mm_add_epi32(iv, one), hm), shift);
    const __m128i offsets[4] = {_mm_add_epi32(y0, x0), _mm_add_epi32(y1, x0), _mm_add_epi32(y0, x1),
                                _mm_add_epi32(y1, x1)};
    for (int k = 0; k < 4; k++)
      _mm_store_si128(reinterpret_cast<__m128i*>(taps.offset[k] + i), offsets[k]);
    _mm_store_si128(reinterpret_cast<__m128i*>(taps.weight_u + i), pairs(_mm_and_si128(cu, frac)));
    _mm_store_si128(reinterpret_cast<__m128i*>(taps.weight_v + i), pairs(_mm_and_si128(cv, frac)));
  }
}

// The filter of Bilinear in 32-bit lanes by multiply-add: rows first, then
// the two rows offset by -32768 so they fit signed 16 bits, added back after.
static void BilinearWrapSse2(const SamplerStage& s, const TexCoordSpan& tc, int n,
                             uint8_t* const out[4]) {
  alignas(64) int32_t u[kMaxSpan], v[kMaxSpan];
  alignas(64) uint32_t filtered[kMaxSpan];
  Taps taps;
  TexelCoordsSse2(s, tc, n, -127.5f, u, v);
  WrapTapsSse2(s, u, v, n, taps);
  const uint32_t* texels = s.texels;
  const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi32(32768);
  const __m128i unbias = _mm_set1_epi32((32768 << 8) + (1 << 15));
  for (int i = 0; i < n; i++) {
    const __m128i quad =
        _mm_set_epi32(int(texels[taps.offset[3][i]]), int(texels[taps.offset[2][i]]),
                      int(texels[taps.offset[1][i]]), int(texels[taps.offset[0][i]]));
    // Bytes of the left and right texel interleaved, top row then bottom row.
    const __m128i pairs = _mm_unpacklo_epi8(quad, _mm_srli_si128(quad, 8));
    const __m128i wu = _mm_shuffle_epi32(_mm_cvtsi32_si128(taps.weight_u[i]), 0);
    const __m128i top = _mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), wu);
    const __m128i bottom = _mm_madd_epi16(_mm_unpackhi_epi8(pairs, zero), wu);
    const __m128i rows = _mm_packs_epi32(_mm_sub_epi32(top, bias), _mm_sub_epi32(bottom, bias));
    const __m128i wv = _mm_shuffle_epi32(_mm_cvtsi32_si128(taps.weight_v[i]), 0);
    __m128i sum = _mm_madd_epi16(_mm_unpacklo_epi16(rows, _mm_srli_si128(rows, 8)), wv);
    sum = _mm_srli_epi32(_mm_add_epi32(sum, unbias), 16);
    sum = _mm_packs_epi32(sum, sum);
    filtered[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
  }
  uint8_t* __restrict r = out[0], * __restrict g = out[1], * __restrict b = out[2], * __restrict a = out[3];
  for (int i = 0; i < n; i++) {
    r[i] = uint8_t(filtered[i] >> 16);
    g[i] = uint8_t(filtered[i] >> 8);
    b[i] = uint8_t(filtered[i]);
    a[i] = uint8_t(filtered[i] >> 24);
  }
}
#endif

static void White(const SamplerStage&, const TexCoordSpan&, int n, uint8_t* const out[4]) {
  for (int c = 0; c < 4; c++) std::memset(out[c], 255, size_t(n));
}

template <bool kBilinear, bool kWrapS>
static auto ChooseWrapT(bool wrap_t) {
  return wrap_t ? &Sample<kBilinear, kWrapS, true> : &Sample<kBilinear, kWrapS, false>;
}
template <bool kBilinear>
static auto ChooseWrapS(bool wrap_s, bool wrap_t) {
  return wrap_s ? ChooseWrapT<kBilinear, true>(wrap_t) : ChooseWrapT<kBilinear, false>(wrap_t);
}

static bool Sampleable(const TextureLevel& level) {
  return level.width > 0 && level.height > 0 && std::has_single_bit(unsigned(level.width)) &&
         std::has_single_bit(unsigned(level.height)) &&
         level.texels.size() == size_t(level.width) * size_t(level.height);
}

SamplerStage BuildSampler(const TextureLevel* level, const TextureUnitState& tmu,
                          bool general_only) {
  SamplerStage stage;
  if (level == nullptr || !Sampleable(*level)) {
    stage.run = &White;
    return stage;
  }
  stage.texels = level->texels.data();
  stage.width = level->width;
  stage.height = level->height;
  stage.width_log2 = std::countr_zero(unsigned(level->width));
  stage.scale = float(std::max(level->width, level->height));
  stage.run = tmu.bilinear ? ChooseWrapS<true>(tmu.wrap_s, tmu.wrap_t)
                           : ChooseWrapS<false>(tmu.wrap_s, tmu.wrap_t);
#if defined(__SSE2__)
  if (!general_only && tmu.bilinear && tmu.wrap_s && tmu.wrap_t) stage.run = &BilinearWrapSse2;
#else
  (void)general_only;
#endif
  return stage;
}

}  // namespace softboard
