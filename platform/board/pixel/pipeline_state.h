// The steps of the pixel pipeline around the combine units and the blender:
// clip window, chroma key, alpha test, depth test, fog and the write masks,
// as the library's calls set them, and the arithmetic each step does.
// A pixel goes: clip window, chroma key, combine, alpha test, depth test, fog,
// blend, writes; a pixel discarded at any step writes nothing at all.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "grlib.h"
#include "pixel/pixel.h"

namespace softboard {

// Pixels minx <= x < maxx, miny <= y < maxy of the 640x480 scene are drawn.
struct ClipWindow {
  int min_x = 0, min_y = 0, max_x = kScreenWidth, max_y = kScreenHeight;
  friend bool operator==(const ClipWindow&, const ClipWindow&) = default;
};

struct DepthState {
  int mode = GR_DEPTHBUFFER_DISABLE;
  int function = GR_CMP_LESS;
  bool write = false;  // the depth mask
  int16_t bias = 0;
  friend bool operator==(const DepthState&, const DepthState&) = default;
};

// The fog amount's source and how it is applied.
enum class FogSource : uint8_t { kNone, kIteratedAlpha, kTable };
enum class FogApply : uint8_t { kBlend, kMult2, kAdd2 };

struct FogState {
  FogSource source = FogSource::kNone;
  FogApply apply = FogApply::kBlend;
  Rgba8 color;
  std::array<uint8_t, GR_FOG_TABLE_SIZE> table{};
  friend bool operator==(const FogState&, const FogState&) = default;
};

struct PipelineState {
  ClipWindow clip;
  bool chroma_key = false;
  Rgba8 key;  // its alpha is ignored
  int alpha_function = GR_CMP_ALWAYS;
  uint8_t alpha_reference = 0;
  DepthState depth;
  FogState fog;
  bool rgb_write = true, alpha_write = true;  // the colour mask
  friend bool operator==(const PipelineState&, const PipelineState&) = default;
};

// Whether a state does nothing beyond combine and blend: every pixel of the
// clip window passes and writes colour and alpha, and none reads or writes depth.
inline bool PlainPipeline(const PipelineState& p) {
  return !p.chroma_key && p.alpha_function == GR_CMP_ALWAYS &&
         p.depth.mode == GR_DEPTHBUFFER_DISABLE && p.fog.source == FogSource::kNone &&
         p.rgb_write && p.alpha_write;
}

inline bool UsesDepth(const PipelineState& p) {
  return p.depth.mode != GR_DEPTHBUFFER_DISABLE;
}
inline bool WBuffer(int mode) {
  return mode == GR_DEPTHBUFFER_WBUFFER || mode == GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS;
}
inline bool ComparesToBias(int mode) {
  return mode == GR_DEPTHBUFFER_ZBUFFER_COMPARE_TO_BIAS ||
         mode == GR_DEPTHBUFFER_WBUFFER_COMPARE_TO_BIAS;
}

// `value f reference`, as the depth and alpha tests compare.
constexpr bool Compare(int f, int value, int reference) {
  switch (f) {
    case GR_CMP_NEVER: return false;
    case GR_CMP_LESS: return value < reference;
    case GR_CMP_EQUAL: return value == reference;
    case GR_CMP_LEQUAL: return value <= reference;
    case GR_CMP_GREATER: return value > reference;
    case GR_CMP_NOTEQUAL: return value != reference;
    case GR_CMP_GEQUAL: return value >= reference;
    default: return true;  // ALWAYS
  }
}

// Z depth is stepped in signed 17.15 fixed point: the integer part, floored,
// is the depth before bias; steps wrap, and the clamp bounds any result.
constexpr int kDepthFraction = 15;

// The 4.12 floating depth of 1/w (nearer is smaller): e = floor(-log2 q),
// f = q * 2^e in (0.5, 1], depth = e * 4096 + min(4095, floor((1 - f) * 8192)).
// Worked out from q's bits, so it is exact for every float: q = 1.m * 2^E,
// m the 23-bit mantissa; a power of two (m 0) is 2^-e with f 1; otherwise
// e = -E - 1, f = 0.5 + m * 2^-24, and floor((1 - f) * 8192) =
// 4096 - ceil(m / 2048).
inline int WDepth(float q) {
  if (!(q < 1.0f)) return q >= 1.0f ? 0 : 0xFFFF;  // NaN is as far as can be
  if (!(q > 1.0f / 65536)) return 0xFFFF;
  uint32_t bits;
  std::memcpy(&bits, &q, 4);                   // the web build's C++ library has no bit_cast
  const int exponent = int(bits >> 23) - 127;  // q is normal here: at least 2^-16
  const uint32_t mantissa = bits & 0x7FFFFF;
  if (mantissa == 0) return -exponent * 4096;
  return (-exponent - 1) * 4096 + 4096 - int((mantissa + 2047) >> 11);
}

// A depth plus the bias, held to 0..65535.
constexpr int BiasedDepth(int depth, int bias) {
  const int d = depth + bias;
  return d < 0 ? 0 : d > 0xFFFF ? 0xFFFF : d;
}

// The value the depth test compares with the stored one, and the one written:
// the pixel's depth plus the bias; in the compare-to-bias modes the bias
// level itself (as 16 bits) is compared and the unbiased depth written.
struct DepthValues {
  int compared, written;
};
inline DepthValues PixelDepth(const DepthState& d, int depth) {
  if (ComparesToBias(d.mode)) return {int(uint16_t(d.bias)), BiasedDepth(depth, 0)};
  const int biased = BiasedDepth(depth, d.bias);
  return {biased, biased};
}

// The fog table's amount at a W depth w16 (without bias): entries 64 apart in
// w16 >> 10, linearly between them.
inline int FogTableAmount(const std::array<uint8_t, GR_FOG_TABLE_SIZE>& t, int w16) {
  const int i = w16 >> 10, r = w16 & 1023;
  if (i >= GR_FOG_TABLE_SIZE - 1) return t[GR_FOG_TABLE_SIZE - 1];
  return t[size_t(i)] + ((int(t[size_t(i) + 1]) - int(t[size_t(i)])) * r >> 10);  // floor
}

// One channel c fogged by amount k (0..255) toward the fog colour's f.
constexpr int Fogged(FogApply apply, int k, int c, int f) {
  switch (apply) {
    case FogApply::kMult2: return ((255 - k) * c + 127) / 255;
    case FogApply::kAdd2: return (k * f + 127) / 255;
    default: return (k * f + (255 - k) * c + 127) / 255;
  }
}

}  // namespace softboard
