#include "frame/framebuffer.h"

#include <algorithm>
#include <cstring>

#include "grlib.h"
#include "pixel/average_down.h"
#include "pixel/rgb565.h"

namespace softboard {

// At memory speed: on x86-64 the string-store instruction writes whole cache
// lines without reading them first, several times faster on a large buffer
// than a loop of vector stores (which the C library picks for sizes like a
// band's). Elsewhere the plain fill: on arm64 it is a loop of 16-byte vector
// stores, and Arm cores that see whole lines written in a row stop reading
// them before they are written (write streaming), so it needs nothing more.
void FillPixels(uint32_t* pixels, size_t n, uint32_t value) {
#if defined(__x86_64__) && defined(__GNUC__)
  asm volatile("rep stosl" : "+D"(pixels), "+c"(n) : "a"(value) : "memory");
#else
  std::fill_n(pixels, n, value);
#endif
}

void FillBytes(uint8_t* bytes, size_t n, uint8_t value) {
#if defined(__x86_64__) && defined(__GNUC__)
  asm volatile("rep stosb" : "+D"(bytes), "+c"(n) : "a"(value) : "memory");
#else
  std::memset(bytes, value, n);
#endif
}

// Whole planes' rows at once: one long string store is several times faster
// than one a row (a short one reads each line before writing it).
void FillRows(uint32_t* buffer, int width, int height, size_t stride, int row_begin, int row_end,
              uint32_t value, PixelLayout layout) {
  const bool rgb565 = layout == PixelLayout::kRgb565;
  if (!rgb565 && stride != size_t(width)) {
    for (int y = row_begin; y < row_end; y++) FillPixels(buffer + y * stride, size_t(width), value);
    return;
  }
  const size_t first = size_t(row_begin) * size_t(width);
  const size_t n = size_t(row_end - row_begin) * size_t(width);
  if (!rgb565) return FillPixels(buffer + first, n, value);
  const uint16_t p = uint16_t((value >> 8 & 0xF800) | (value >> 5 & 0x07E0) | (value >> 3 & 0x1F));
  uint16_t* colour = Plane565(buffer) + first;
  size_t done = 0;
  if (first % 2) std::memcpy(colour + done++, &p, 2);  // to a 4-byte boundary
  FillPixels(reinterpret_cast<uint32_t*>(colour + done), (n - done) / 2, p * 0x10001u);
  if ((n - done) % 2) std::memcpy(colour + n - 1, &p, 2);
  FillBytes(AlphaPlane(buffer, width, height) + first, n, uint8_t(value >> 24));
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
  frame.dither_matrix = matrix;
  frame.layout = frame.color16 && frame.ssaa == 1 ? PixelLayout::kRgb565 : PixelLayout::kArgb8888;
  // Buffers made for 5-6-5 pixels are too small for 8-bit ones.
  const size_t words = BufferWords(frame.width, frame.height, frame.layout);
  for (int i = 0; i < frame.drawn; i++) {
    if (frame.color[size_t(i)].size() < words) frame.color[size_t(i)].assign(words, 0);
  }
  for (int y = 0; y < 4; y++) {
    std::vector<uint32_t>& row = frame.dither[size_t(y)];
    row.clear();
    if (!frame.color16) continue;
    row.resize(size_t(frame.width) + kDitherReadPast);  // a fused loop's last group reads past
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
                      bool keep_shown, DisplayRows direct) {
  count = std::clamp(count, 2, 3);
  // Supersampled, the frame shown is the average, kept apart: one buffer to
  // draw in is enough (none when drawn in bands). A frame shown that nothing
  // reads later needs no buffer of its own either: one buffer, half the memory
  // a frame passes through, so a large frame can stay in the cache. Drawn in
  // the display's own rows, it needs none at all.
  frame.banded = banded && ssaa > 1;
  if (frame.color16 && ssaa == 1) direct = {};
  const int drawn = frame.banded ? 0 : ssaa > 1 ? 1 : direct.pixels ? 0 : !keep_shown ? 1 : count;
  const size_t words =
      BufferWords(width * ssaa, height * ssaa,
                  frame.color16 && ssaa == 1 ? PixelLayout::kRgb565 : PixelLayout::kArgb8888);
  for (int i = 0; i < 3; i++) {
    frame.color[i].clear();  // the old buffers go before the new ones come
    frame.color[i].shrink_to_fit();
    frame.color[i].assign(i < drawn ? words : 0, 0);
  }
  frame.width = width * ssaa;
  frame.height = height * ssaa;
  frame.ssaa = ssaa;
  frame.shown.clear();
  frame.shown.shrink_to_fit();
  frame.shown.assign(ssaa > 1 && !direct.pixels ? size_t(width) * size_t(height) : 0, 0);
  frame.count = count;
  frame.drawn = drawn;
  frame.front = 0;
  frame.back = drawn > 1 ? 1 : 0;  // BackBuffer() is null when drawn in bands
  frame.depth = 0;
  frame.direct = direct;
  // The colour depth stays; its thresholds and layout follow the new size.
  SetColorDepth(frame, frame.color16 ? 16 : 32, frame.dither_matrix);
}

void FreeFrameBuffers(FrameBuffers& frame) {
  for (auto& buffer : frame.color) PixelBuffer().swap(buffer);
  PixelBuffer().swap(frame.shown);
  frame.width = frame.height = 0;
  frame.ssaa = 1;
  frame.banded = false;
  frame.count = frame.drawn = 0;
  frame.direct = {};
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
  FillRows(BackBuffer(frame), frame.width, frame.height, BackStride(frame), 0, frame.height,
           ClearPixel(frame, color, alpha), frame.layout);
  frame.depth = depth;
}

void RotateBuffers(FrameBuffers& frame, bool average) {
  if (frame.count == 0) return;
  if (frame.ssaa > 1) {
    if (average && !frame.banded) {
      const DisplayRows out = AverageRows(frame);
      AverageDown(frame.color[frame.back].data(), frame.width, frame.height, frame.ssaa, out.pixels,
                  out.stride);
    }
    return;
  }
  if (frame.drawn < 2) return;  // one buffer, drawn and shown in turn
  frame.front = frame.back;
  frame.back = (frame.back + 1) % frame.drawn;
}

Image ShownFrame(const FrameBuffers& frame) {
  if (frame.ssaa > 1) {
    const int width = frame.width / frame.ssaa, height = frame.height / frame.ssaa;
    if (frame.direct.pixels)
      return {frame.direct.pixels, width, height, PixelLayout::kArgb8888, frame.direct.stride};
    return {frame.shown.data(), width, height};
  }
  return {FrontBuffer(frame), frame.width, frame.height, frame.layout, BackStride(frame)};
}

void CopyImageRow(const Image& image, int y, uint32_t* out) {
  if (image.layout == PixelLayout::kArgb8888) {
    std::memcpy(out, image.pixels + size_t(y) * image.Stride(), size_t(image.width) * 4);
    return;
  }
  const size_t first = size_t(y) * size_t(image.width);
  Widen565(Plane565(image.pixels) + first,
           AlphaPlane(image.pixels, image.width, image.height) + first, image.width, out);
}

std::vector<uint32_t> ImagePixels(const Image& image) {
  std::vector<uint32_t> out(size_t(image.width) * size_t(image.height));
  for (int y = 0; y < image.height; y++)
    CopyImageRow(image, y, out.data() + size_t(y) * size_t(image.width));
  return out;
}

}  // namespace softboard
