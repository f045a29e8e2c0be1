#include "framebuffer.h"

#include "pixel_kernels.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace softboard {
namespace {

// At memory speed: the C library's wide fill is a string-store instruction on
// x86-64, several times faster than a loop of vector stores on a large buffer.
void FillPixels(uint32_t* pixels, size_t n, uint32_t value) {
  if constexpr (sizeof(wchar_t) == sizeof(uint32_t)) {
    wchar_t w;
    std::memcpy(&w, &value, sizeof w);
    std::wmemset(reinterpret_cast<wchar_t*>(pixels), w, n);
  } else {
    std::fill_n(pixels, n, value);
  }
}

}  // namespace

void InitFrameBuffers(FrameBuffers& frame, int count, int width, int height, int ssaa,
                      bool banded) {
  count = std::clamp(count, 2, 3);
  // Supersampled, the frame shown is the average, kept apart: one buffer to
  // draw in is enough (none when drawn in bands).
  frame.banded = banded && ssaa > 1;
  const int drawn = frame.banded ? 0 : ssaa > 1 ? 1 : count;
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
  frame.count = 0;
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

void ClearBackBuffer(FrameBuffers& frame, Rgba8 color, uint8_t alpha, uint16_t depth) {
  if (frame.count == 0) return;
  color.a = alpha;
  FillPixels(frame.color[frame.back].data(), frame.color[frame.back].size(), PackArgb(color));
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
  frame.front = frame.back;
  frame.back = (frame.back + 1) % frame.count;
}

Image ShownFrame(const FrameBuffers& frame) {
  if (frame.ssaa > 1)
    return {frame.shown.data(), frame.width / frame.ssaa, frame.height / frame.ssaa};
  return {frame.color[frame.front].data(), frame.width, frame.height};
}

}  // namespace softboard
