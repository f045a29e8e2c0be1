#include "framebuffer.h"

#include <algorithm>

namespace softboard {

void InitFrameBuffers(FrameBuffers& frame, int count) {
  count = std::clamp(count, 2, 3);
  for (int i = 0; i < 3; i++) frame.color[i].assign(i < count ? kScreenPixels : 0, 0);
  frame.count = count;
  frame.front = 0;
  frame.back = 1;
  frame.depth.assign(kScreenPixels, 0);
}

void FreeFrameBuffers(FrameBuffers& frame) {
  for (auto& buffer : frame.color) std::vector<uint32_t>().swap(buffer);
  std::vector<uint16_t>().swap(frame.depth);
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
  std::fill(frame.color[frame.back].begin(), frame.color[frame.back].end(), PackArgb(color));
  std::fill(frame.depth.begin(), frame.depth.end(), depth);
}

void RotateBuffers(FrameBuffers& frame) {
  if (frame.count == 0) return;
  frame.front = frame.back;
  frame.back = (frame.back + 1) % frame.count;
}

}  // namespace softboard
