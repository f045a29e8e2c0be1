#include "pixel/sampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace softboard {
namespace {

template <bool kWrap>
int Address(int i, int mask) {
  return kWrap ? i & mask : std::clamp(i, 0, mask);
}

int Channel(uint32_t p, int c) {
  return int(p >> (c == 3 ? 24 : 16 - 8 * c) & 255);
}

void Put(Chunk& out, int i, uint32_t p) {
  for (int c = 0; c < 4; c++) out.c[c][i] = uint8_t(Channel(p, c));
}

void PutBilinear(Chunk& out, int i, uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11, int fu,
                 int fv) {
  for (int c = 0; c < 4; c++) {
    out.c[c][i] = uint8_t(
        Bilinear8(Channel(c00, c), Channel(c10, c), Channel(c01, c), Channel(c11, c), fu, fv));
  }
}

// Coordinates stepped in wrapping fixed point: both axes wrap.
void SampleAffine(const TriangleInputs& tri, const SpanInputs& span, int first, int n, Chunk& out) {
  const SampledTexture& t = tri.texture;
  const int su = 24 - t.width_log2, sv = 24 - t.height_log2;
  const int wm = t.width - 1, hm = t.height - 1;
  for (int i = 0; i < n; i++) {
    const uint32_t k = uint32_t(first + i);
    const uint32_t u = (span.u + k * span.du) >> su, v = (span.v + k * span.dv) >> sv;
    const int x = int(u >> 8), y = int(v >> 8);  // already within the texture
    const uint32_t* row0 = t.texels + (y << t.width_log2);
    if (!tri.state.sampler.bilinear) {
      Put(out, i, row0[x]);
      continue;
    }
    const uint32_t* row1 = t.texels + (((y + 1) & hm) << t.width_log2);
    const int x1 = (x + 1) & wm;
    PutBilinear(out, i, row0[x], row0[x1], row1[x], row1[x1], int(u & 255), int(v & 255));
  }
}

// Coordinates divided per pixel, each axis wrapping or clamping.
template <bool kWrapS, bool kWrapT>
void SampleDivided(const TriangleInputs& tri, const SpanInputs& span, int first, int n,
                   Chunk& out) {
  const SampledTexture& t = tri.texture;
  const bool bilinear = tri.state.sampler.bilinear;
  const float offset = bilinear ? kBilinearOffset : 0.0f;
  const int wm = t.width - 1, hm = t.height - 1;
  for (int i = 0; i < n; i++) {
    const float k = float(first + i);
    const float q = span.oow + k * span.doow;
    const float s = (span.sow + k * span.dsow) / q;
    const float tt = (span.tow + k * span.dtow) / q;
    const int32_t u = FloorFixed(s * t.scale + offset), v = FloorFixed(tt * t.scale + offset);
    const int iu = u >> 8, iv = v >> 8;
    const uint32_t* row0 = t.texels + (Address<kWrapT>(iv, hm) << t.width_log2);
    const int x0 = Address<kWrapS>(iu, wm);
    if (!bilinear) {
      Put(out, i, row0[x0]);
      continue;
    }
    const uint32_t* row1 = t.texels + (Address<kWrapT>(iv + 1, hm) << t.width_log2);
    const int x1 = Address<kWrapS>(iu + 1, wm);
    PutBilinear(out, i, row0[x0], row0[x1], row1[x0], row1[x1], u & 255, v & 255);
  }
}

bool PowerOfTwoSides(int width, int height) {
  return width > 0 && height > 0 && std::has_single_bit(unsigned(width)) &&
         std::has_single_bit(unsigned(height));
}

bool Sampleable(const DecodedTexture& t, const LevelPlace& place) {
  return PowerOfTwoSides(place.width, place.height) &&
         place.first + size_t(place.width) * size_t(place.height) <= t.texels.size() &&
         t.footprint.size() == t.texels.size() * 4;
}

// The first level's place: the whole texture when it has no chain.
LevelPlace FirstPlace(const DecodedTexture& t) {
  return t.levels.empty() ? LevelPlace{t.width, t.height, 0} : t.levels.front();
}

void MakeFootprints(DecodedTexture& t, const LevelPlace& place) {
  const int w = place.width, h = place.height;
  for (int y = 0; y < h; y++) {
    const uint32_t* row0 = &t.texels[place.first + size_t(y) * w];
    const uint32_t* row1 = &t.texels[place.first + size_t((y + 1) % h) * w];
    for (int x = 0; x < w; x++) {
      uint32_t* f = &t.footprint[(place.first + size_t(y) * w + x) * 4];
      const int x1 = (x + 1) % w;
      f[0] = row0[x];
      f[1] = row0[x1];
      f[2] = row1[x];
      f[3] = row1[x1];
    }
  }
}

SampledTexture SampledAt(const DecodedTexture& t, const LevelPlace& place) {
  SampledTexture s;
  if (!Sampleable(t, place)) return s;
  s.texels = t.texels.data() + place.first;
  s.footprint = t.footprint.data() + place.first * 4;
  s.width = place.width;
  s.height = place.height;
  s.width_log2 = std::countr_zero(unsigned(place.width));
  s.height_log2 = std::countr_zero(unsigned(place.height));
  s.scale = float(std::max(place.width, place.height));
  return s;
}

}  // namespace

SharedTexture MakeDecodedTexture(int width, int height, std::vector<uint32_t> texels) {
  auto t = std::make_shared<DecodedTexture>();
  t->width = width;
  t->height = height;
  t->largest_side = std::max(width, height);
  t->texels = std::move(texels);
  if (PowerOfTwoSides(width, height) && t->texels.size() == size_t(width) * size_t(height)) {
    t->footprint.resize(t->texels.size() * 4);
    MakeFootprints(*t, {width, height, 0});
  }
  return t;
}

SharedTexture MakeDecodedChain(std::vector<LevelPlace> levels, std::vector<uint32_t> texels,
                               int largest_side) {
  auto t = std::make_shared<DecodedTexture>();
  t->texels = std::move(texels);
  t->largest_side = largest_side;
  t->footprint.resize(t->texels.size() * 4);
  for (size_t n = 0; n < levels.size(); n++) {
    bool held = false;  // a held level repeats another's place, made once
    for (size_t m = 0; m < n; m++) held = held || levels[m].first == levels[n].first;
    if (held) {
      t->complete = false;
      continue;
    }
    if (Sampleable(*t, levels[n])) MakeFootprints(*t, levels[n]);
  }
  if (!levels.empty()) {
    t->width = levels[0].width;
    t->height = levels[0].height;
  }
  t->levels = std::move(levels);
  return t;
}

SampledTexture MakeSampledTexture(const DecodedTexture* texture) {
  if (texture == nullptr) return {};
  return SampledAt(*texture, FirstPlace(*texture));
}

SampledTexture MakeSampledLevel(const DecodedTexture* texture, int n) {
  if (texture == nullptr) return {};
  if (texture->levels.empty()) return SampledAt(*texture, FirstPlace(*texture));
  n = std::clamp(n, 0, int(texture->levels.size()) - 1);
  return SampledAt(*texture, texture->levels[size_t(n)]);
}

int LevelCount(const DecodedTexture* texture) {
  if (texture == nullptr) return 0;
  return texture->levels.empty() ? 1 : int(texture->levels.size());
}

int32_t FloorFixed(float x) {
  // Kept within int range whatever the division gives (inf, NaN near w = 0).
  constexpr float kLimit = 1 << 30;
  x = x >= -kLimit ? x : -kLimit;  // NaN too
  x = x <= kLimit ? x : kLimit;
  const int32_t t = int32_t(x);  // toward zero, then down to the floor
  return t - int32_t(float(t) > x);
}

uint32_t WrapFixed(double x, int side_log2) {
  const double y = x * double(1u << (24 - side_log2));  // exact: a power of two
  if (std::fabs(y) < 9e18) {
    int64_t t = int64_t(y);  // toward zero, then down to the floor
    t -= double(t) > y;
    return uint32_t(uint64_t(t));  // modulo 2^32
  }
  if (!std::isfinite(y)) return 0;
  constexpr double kWrap = 4294967296.0;
  const double r = y - std::floor(y / kWrap) * kWrap;  // what is left of 2^32 at this size
  return r >= 0 && r < kWrap ? uint32_t(r) : 0;
}

void SampleChunk(const TriangleInputs& tri, const SpanInputs& span, int first, int n, Chunk& out) {
  if (tri.texture.texels == nullptr) {
    for (auto& channel : out.c) std::memset(channel, 255, size_t(n));
    return;
  }
  if (tri.affine) return SampleAffine(tri, span, first, n, out);
  const SamplerMode m = tri.state.sampler;
  if (m.wrap_s && m.wrap_t) return SampleDivided<true, true>(tri, span, first, n, out);
  if (m.wrap_s) return SampleDivided<true, false>(tri, span, first, n, out);
  if (m.wrap_t) return SampleDivided<false, true>(tri, span, first, n, out);
  SampleDivided<false, false>(tri, span, first, n, out);
}

}  // namespace softboard
