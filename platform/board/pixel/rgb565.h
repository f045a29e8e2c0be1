// 16-bit colour: 5-6-5 pixels, each channel quantised through an ordered
// dither, packed, and widened back to 8 bits by repeating its top bits. The
// vector loops are a Highway unit; the plain ones below are the reference,
// and finish a loop's last pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace softboard {

// Quantises n pixels to 5-6-5 in place (alpha as it was), each channel c
// becoming the level floor(c * L / 255 + t/16) of L = 31 or 63, widened back to
// 8 bits by repeating its top bits; offsets[i] holds DitherOffset(t) for
// pixel i in both 16-bit halves.
void DitherSpan(uint32_t* pixels, int n, const uint32_t* offsets);

// How far past a span's end a fused loop may read its dither offsets: two
// vectors of 32-bit lanes at the widest (SVE's, up to 2048 bits).
constexpr int kDitherReadPast = 128;

// floor(c*L/255 + t/16) is ((c*L + o) * 257) >> 16 for this o: c*L/255 moves
// up a level exactly when its remainder reaches 255 (1 - t/16), rounded up,
// and (y * 257) >> 16 is (y - 1) / 255 for every y up to 16321.
constexpr uint32_t DitherOffset(uint32_t t16) {
  return 256 - (4080 - 255 * t16 + 15) / 16;
}

// Quantises n pixels to 5-6-5 as DitherSpan does, storing each as its 16-bit
// value (red in the top bits) and its alpha byte.
void Pack565(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb, uint8_t* alpha);

// n 5-6-5 pixels and their alpha bytes as 0xAARRGGBB, widened by repeating bits.
void Widen565(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out);

// One channel c 0..255 to its level of `bits` (5 or 6).
constexpr uint32_t Level565(uint32_t c, int bits, uint32_t offset) {
  return ((c * ((1u << bits) - 1) + offset) * 257) >> 16;
}
// A level back to 8 bits: repeating its top bits is multiplying by 2^bits + 1
// and shifting.
constexpr uint32_t WidenLevel(uint32_t v, int bits) {
  return (v * ((1u << bits) + 1)) >> (2 * bits - 8);
}
// One channel of DitherSpan.
constexpr uint32_t Quantize565(uint32_t c, int bits, uint32_t offset) {
  return WidenLevel(Level565(c, bits, offset), bits);
}
constexpr uint32_t WidenPixel565(uint16_t p, uint8_t alpha) {
  return uint32_t(alpha) << 24 | WidenLevel(p >> 11u, 5) << 16 | WidenLevel(p >> 5u & 63u, 6) << 8 |
         WidenLevel(p & 31u, 5);
}

// The 5-6-5 value of an 0xAARRGGBB pixel's top bits: exact for one widened
// from 5-6-5.
constexpr uint16_t TopBits565(uint32_t argb) {
  return uint16_t((argb >> 8 & 0xF800) | (argb >> 5 & 0x07E0) | (argb >> 3 & 0x1F));
}

// The same, a pixel at a time.
inline void DitherPlain(uint32_t* pixels, int n, const uint32_t* offsets) {
  for (int i = 0; i < n; i++) {
    const uint32_t p = pixels[i], t = offsets[i] & 0xFFFF;
    pixels[i] = (p & 0xFF000000u) | Quantize565(p >> 16 & 255, 5, t) << 16 |
                Quantize565(p >> 8 & 255, 6, t) << 8 | Quantize565(p & 255, 5, t);
  }
}

inline void Pack565Plain(const uint32_t* pixels, int n, const uint32_t* offsets, uint16_t* rgb,
                         uint8_t* alpha) {
  for (int i = 0; i < n; i++) {
    const uint32_t p = pixels[i], t = offsets[i] & 0xFFFF;
    rgb[i] = uint16_t(Level565(p >> 16 & 255, 5, t) << 11 | Level565(p >> 8 & 255, 6, t) << 5 |
                      Level565(p & 255, 5, t));
    alpha[i] = uint8_t(p >> 24);
  }
}

inline void Widen565Plain(const uint16_t* rgb, const uint8_t* alpha, int n, uint32_t* out) {
  for (int i = 0; i < n; i++) out[i] = WidenPixel565(rgb[i], alpha[i]);
}

// The 5-6-5 colour nearest to an 0xAARRGGBB pixel, widened back to 8 bits by
// repeating its top bits; alpha as it was.
constexpr uint32_t Nearest565(uint32_t argb) {
  const uint32_t half = DitherOffset(8);
  return (argb & 0xFF000000u) | Quantize565(argb >> 16 & 255, 5, half) << 16 |
         Quantize565(argb >> 8 & 255, 6, half) << 8 | Quantize565(argb & 255, 5, half);
}

}  // namespace softboard
