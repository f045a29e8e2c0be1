// How a buffer keeps its pixels, and the one value that says where they are:
// 8-bit colour buffers a 32-bit 0xAARRGGBB word a pixel, rows a stride apart;
// 5-6-5 buffers their 16-bit pixels, row by row, then an alpha plane of a byte
// a pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace softboard {

// How a buffer keeps its pixels.
enum class PixelLayout : uint8_t {
  kArgb8888,  // a 32-bit 0xAARRGGBB word a pixel
  kRgb565,    // a 16-bit 5-6-5 word a pixel (red in the top bits), then an alpha plane
};

// A buffer's pixels: `height` rows of `width`, `stride` pixels from a row to
// the next, kept as `layout` says. A 5-6-5 buffer's planes are each whole:
// its rows packed (stride = width), then its alpha plane. A view: it owns
// nothing.
struct PixelRows {
  void* pixels = nullptr;  // the first row; null: none
  int width = 0, height = 0;
  size_t stride = 0;
  PixelLayout layout = PixelLayout::kArgb8888;

  // Row y of an 8-bit colour buffer.
  uint32_t* Argb(int y = 0) const { return static_cast<uint32_t*>(pixels) + size_t(y) * stride; }
  // Row y of a 5-6-5 buffer, and of its alpha plane.
  uint16_t* Rgb565(int y = 0) const { return static_cast<uint16_t*>(pixels) + size_t(y) * stride; }
  uint8_t* Alpha(int y = 0) const {
    return static_cast<uint8_t*>(pixels) + 2 * stride * size_t(height) + size_t(y) * stride;
  }
  friend bool operator==(const PixelRows&, const PixelRows&) = default;
};

// The depth buffer's rows: a 16-bit depth a pixel, `stride` apart, from the
// buffer's first row. A view; null: no depth buffer.
struct DepthRows {
  uint16_t* plane = nullptr;
  size_t stride = 0;
  uint16_t* Row(int y) const { return plane + size_t(y) * stride; }
  friend bool operator==(const DepthRows&, const DepthRows&) = default;
};

// Rows of 0xAARRGGBB pixels; `stride` 0: packed.
inline PixelRows ArgbRows(uint32_t* pixels, int width, int height, size_t stride = 0) {
  return {pixels, width, height, stride ? stride : size_t(width), PixelLayout::kArgb8888};
}

// The bytes a width x height buffer takes: 4 a pixel, or 3 with 5-6-5.
inline size_t BufferBytes(int width, int height, PixelLayout layout) {
  return size_t(width) * size_t(height) * (layout == PixelLayout::kRgb565 ? 3 : 4);
}

// Memory for pixels, zeroed, from a cache-line boundary: rows a multiple of 16
// pixels long then all start on one, and no 64-byte store of a span loop
// straddles two lines. It holds no objects of its own, so a buffer may keep
// 32-bit pixels there, or 16-bit ones and alpha bytes, as its layout says.
class PixelMemory {
 public:
  PixelMemory() = default;
  // Throws std::bad_alloc; 0 bytes: none.
  explicit PixelMemory(size_t bytes)
      : memory_(bytes ? ::operator new (bytes, std::align_val_t{64}) : nullptr), bytes_(bytes) {
    if (bytes) std::memset(memory_.get(), 0, bytes);
  }
  void* data() const { return memory_.get(); }
  size_t bytes() const { return bytes_; }

 private:
  struct Free {
    void operator()(void* p) const { ::operator delete (p, std::align_val_t{64}); }
  };
  std::unique_ptr<void, Free> memory_;
  size_t bytes_ = 0;
};

}  // namespace softboard
