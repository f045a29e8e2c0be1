// How a buffer keeps its pixels: 8-bit colour buffers a 32-bit 0xAARRGGBB
// word a pixel, rows a stride apart; 5-6-5 buffers their 16-bit pixels, row
// by row, then an alpha plane of a byte a pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace softboard {

// How a buffer keeps its pixels.
enum class PixelLayout : uint8_t {
  kArgb8888,  // a 32-bit 0xAARRGGBB word a pixel
  kRgb565,    // a 16-bit 5-6-5 word a pixel (red in the top bits), then an alpha plane
};

// Pixels from a cache-line boundary: rows a multiple of 16 pixels long then
// all start on one, and no 64-byte store of a span loop straddles two lines.
template <class T>
struct CacheLineAllocator {
  using value_type = T;
  CacheLineAllocator() = default;
  template <class U>
  CacheLineAllocator(const CacheLineAllocator<U>&) {}
  T* allocate(size_t n) {
    return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{64}));
  }
  void deallocate(T* p, size_t) { ::operator delete (p, std::align_val_t{64}); }
  template <class U>
  bool operator==(const CacheLineAllocator<U>&) const {
    return true;
  }
};
using PixelBuffer = std::vector<uint32_t, CacheLineAllocator<uint32_t>>;

// A 5-6-5 buffer of width x height pixels: its 16-bit pixels, row by row,
// then its alpha plane (see PixelLayout::kRgb565).
inline uint16_t* Plane565(uint32_t* buffer) {
  return reinterpret_cast<uint16_t*>(buffer);
}
inline const uint16_t* Plane565(const uint32_t* buffer) {
  return reinterpret_cast<const uint16_t*>(buffer);
}
inline uint8_t* AlphaPlane(uint32_t* buffer, int width, int height) {
  return reinterpret_cast<uint8_t*>(buffer) + 2 * size_t(width) * size_t(height);
}
inline const uint8_t* AlphaPlane(const uint32_t* buffer, int width, int height) {
  return reinterpret_cast<const uint8_t*>(buffer) + 2 * size_t(width) * size_t(height);
}

// The 32-bit words a width x height buffer takes: a pixel each, or with
// 5-6-5 three bytes a pixel.
inline size_t BufferWords(int width, int height, PixelLayout layout) {
  const size_t pixels = size_t(width) * size_t(height);
  return layout == PixelLayout::kRgb565 ? (3 * pixels + 3) / 4 : pixels;
}

}  // namespace softboard
