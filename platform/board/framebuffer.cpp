#include "framebuffer.h"

#include <algorithm>

#include "pixel_kernels.h"

namespace softboard {

// At memory speed: on x86-64 the string-store instruction writes whole cache
// lines without reading them first, several times faster on a large buffer
// than a loop of vector stores (which the C library picks for sizes like a
// band's). Elsewhere the library's fill.
void FillPixels(uint32_t* pixels, size_t n, uint32_t value) {
#if defined(__x86_64__) && defined(__GNUC__)
  asm volatile("rep stosl" : "+D"(pixels), "+c"(n) : "a"(value) : "memory");
#else
  std::fill_n(pixels, n, value);
#endif
}

namespace {

// Thresholds in 16ths of a level: the 4x4 Bayer matrix; the 2x2 one, scaled
// to 16ths; and none, which rounds to nearest.
constexpr uint8_t kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
constexpr uint8_t kBayer2[2][2] = {{0, 8}, {12, 4}};

uint32_t Threshold(int matrix, int x, int y) {
  const uint32_t t = matrix == 4 ? kBayer4[y & 3][x & 3] : matrix == 2 ? kBayer2[y & 1][x & 1] : 8;
  return DitherOffset(t) | DitherOffset(t) << 16;
}

}  // namespace

void SetColorDepth(FrameBuffers& frame, int bits, int matrix) {
  frame.color16 = bits == 16;
  for (int y = 0; y < 4; y++) {
    std::vector<uint32_t>& row = frame.dither[size_t(y)];
    row.clear();
    if (!frame.color16) continue;
    row.resize(size_t(frame.width) + 64);  // a fused loop's last group may read past the row
    // A cell of the matrix is a pixel of the scene: N pixels at scale N.
    for (int x = 0; x < frame.width; x++)
      row[size_t(x)] = Threshold(matrix, int(int64_t(x) * kScreenWidth / frame.width), y);
  }
}

uint32_t Nearest565(uint32_t argb) {
  uint32_t out = argb & 0xFF000000u;
  for (const auto& [shift, bits] : {std::pair{16, 5}, std::pair{8, 6}, std::pair{0, 5}}) {
    out |= Quantize565(argb >> shift & 255, bits, DitherOffset(8)) << shift;
  }
  return out;
}

void InitFrameBuffers(FrameBuffers& frame, int count, int width, int height, int ssaa, bool banded,
                      bool keep_shown) {
  count = std::clamp(count, 2, 3);
  // Supersampled, the frame shown is the average, kept apart: one buffer to
  // draw in is enough (none when drawn in bands). A frame shown that nothing
  // reads later needs no buffer of its own either: one buffer, half the memory
  // a frame passes through, so a large frame can stay in the cache.
  frame.banded = banded && ssaa > 1;
  const int drawn = frame.banded ? 0 : ssaa > 1 || !keep_shown ? 1 : count;
  const size_t pixels = size_t(width) * size_t(height) * size_t(ssaa) * size_t(ssaa);
  for (int i = 0; i < 3; i++) {
    frame.color[i].clear();  // the old buffers go before the new ones come
    frame.color[i].shrink_to_fit();
    frame.color[i].assign(i < drawn ? pixels : 0, 0);
  }
  frame.width = width * ssaa;
  frame.height = height * ssaa;
  frame.ssaa = ssaa;
  frame.shown.assign(ssaa > 1 ? size_t(width) * size_t(height) : 0, 0);
  frame.count = count;
  frame.drawn = drawn;
  frame.front = 0;
  frame.back = drawn > 1 ? 1 : 0;  // BackBuffer() is null when drawn in bands
  frame.depth = 0;
}

void FreeFrameBuffers(FrameBuffers& frame) {
  for (auto& buffer : frame.color) PixelBuffer().swap(buffer);
  PixelBuffer().swap(frame.shown);
  frame.width = frame.height = 0;
  frame.ssaa = 1;
  frame.banded = false;
  frame.count = frame.drawn = 0;
}

Rgba8 UnpackColor(uint32_t c, int color_format) {
  const auto byte = [c](int shift) { return uint8_t(c >> shift); };
  switch (color_format) {
    case GR_COLORFORMAT_ABGR: return {byte(0), byte(8), byte(16), byte(24)};
    case GR_COLORFORMAT_RGBA: return {byte(24), byte(16), byte(8), byte(0)};
    case GR_COLORFORMAT_BGRA: return {byte(8), byte(16), byte(24), byte(0)};
    default: return {byte(16), byte(8), byte(0), byte(24)};  // ARGB
  }
}

uint32_t ClearPixel(const FrameBuffers& frame, Rgba8 color, uint8_t alpha) {
  color.a = alpha;
  // With 16-bit colour the clear colour is converted once, without dithering.
  return frame.color16 ? Nearest565(PackArgb(color)) : PackArgb(color);
}

void ClearBackBuffer(FrameBuffers& frame, Rgba8 color, uint8_t alpha, uint16_t depth) {
  if (frame.count == 0) return;
  FillPixels(frame.color[frame.back].data(), frame.color[frame.back].size(),
             ClearPixel(frame, color, alpha));
  frame.depth = depth;
}

void RotateBuffers(FrameBuffers& frame, bool average) {
  if (frame.count == 0) return;
  if (frame.ssaa > 1) {
    if (average && !frame.banded) {
      AverageDown(frame.color[frame.back].data(), frame.width, frame.height, frame.ssaa,
                  frame.shown.data());
    }
    return;
  }
  if (frame.drawn < 2) return;  // one buffer, drawn and shown in turn
  frame.front = frame.back;
  frame.back = (frame.back + 1) % frame.drawn;
}

Image ShownFrame(const FrameBuffers& frame) {
  if (frame.ssaa > 1)
    return {frame.shown.data(), frame.width / frame.ssaa, frame.height / frame.ssaa};
  return {frame.color[frame.front].data(), frame.width, frame.height};
}

}  // namespace softboard
