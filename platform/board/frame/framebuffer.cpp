#include "frame/framebuffer.h"

#include <algorithm>
#include <cstring>

#include "grlib.h"
#include "pixel/average_down.h"
#include "pixel/lod.h"
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

namespace {

// Sets n 16-bit pixels to `value`: on x86-64 as pairs, by the string store.
void FillHalfwords(uint16_t* pixels, size_t n, uint16_t value) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (n && reinterpret_cast<uintptr_t>(pixels) % 4) {  // to a 4-byte boundary
    *pixels++ = value;
    n--;
  }
  uint16_t* rest = pixels;
  size_t pairs = n / 2;
  asm volatile("rep stosl" : "+D"(rest), "+c"(pairs) : "a"(value * 0x10001u) : "memory");
  if (n % 2) pixels[n - 1] = value;
#else
  std::fill_n(pixels, n, value);
#endif
}

}  // namespace

// Whole planes' rows at once: one long string store is several times faster
// than one a row (a short one reads each line before writing it).
void FillRows(const PixelRows& rows, int row_begin, int row_end, uint32_t value) {
  const size_t n = size_t(row_end - row_begin) * size_t(rows.width);
  if (rows.layout == PixelLayout::kArgb8888) {
    if (rows.stride == size_t(rows.width)) return FillPixels(rows.Argb(row_begin), n, value);
    for (int y = row_begin; y < row_end; y++) FillPixels(rows.Argb(y), size_t(rows.width), value);
    return;
  }
  FillHalfwords(rows.Rgb565(row_begin), n, TopBits565(value));
  FillBytes(rows.Alpha(row_begin), n, uint8_t(value >> 24));
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

namespace {

FrameStorage ChooseStorage(int ssaa, bool recorded, PixelLayout layout, bool display_rows) {
  if (ssaa > 1) return recorded ? FrameStorage::kSupersampledBands : FrameStorage::kSupersampled;
  if (display_rows && layout == PixelLayout::kArgb8888) return FrameStorage::kDisplayRows;
  return recorded ? FrameStorage::kOneBuffer : FrameStorage::kOwnBuffers;
}

// Colour buffers of the drawn size that a storage keeps.
int OwnBuffers(FrameStorage storage, int count) {
  switch (storage) {
    case FrameStorage::kOwnBuffers: return count;
    case FrameStorage::kOneBuffer:
    case FrameStorage::kSupersampled: return 1;
    default: return 0;
  }
}

}  // namespace

void SetColorDepth(FrameBuffers& frame, int bits, int matrix) {
  frame.color16 = bits == 16;
  frame.dither_matrix = matrix;
  frame.layout = BufferLayout(frame.color16, frame.ssaa);
  // Buffers made for 5-6-5 pixels are too small for 8-bit ones.
  const size_t bytes = BufferBytes(frame.width, frame.height, frame.layout);
  for (int i = 0; i < OwnBuffers(frame.storage, frame.count); i++) {
    PixelMemory& buffer = frame.color[size_t(i)];
    if (buffer.bytes() < bytes) {
      buffer = PixelMemory();
      buffer = PixelMemory(bytes);
    }
  }
  for (int y = 0; y < 4; y++) {
    std::vector<uint8_t>& lod = frame.lod_dither[size_t(y)];
    lod.assign(size_t(frame.width) + kDitherReadPast, 0);  // the same cells as the colour's
    for (int x = 0; x < frame.width; x++)
      lod[size_t(x)] = kLodDither[y][int(int64_t(x) * kScreenWidth / frame.width) & 3];
  }
  const auto make = [&](std::array<std::vector<uint32_t>, 4>& table, int m) {
    for (int y = 0; y < 4; y++) {
      std::vector<uint32_t>& row = table[size_t(y)];
      row.clear();
      if (!frame.color16) continue;
      row.resize(size_t(frame.width) + kDitherReadPast);  // a fused loop's last group reads past
      // A cell of the matrix is a pixel of the scene: N pixels at scale N.
      for (int x = 0; x < frame.width; x++)
        row[size_t(x)] = Threshold(m, int(int64_t(x) * kScreenWidth / frame.width), y);
    }
  };
  make(frame.dither, matrix);
  constexpr int kMatrixOfMode[3] = {0, 2, 4};  // GR_DITHER_DISABLE, 2x2, 4x4
  for (int mode = 0; mode < 3; mode++) make(frame.dither_modes[size_t(mode)], kMatrixOfMode[mode]);
}

const std::array<std::vector<uint32_t>, 4>& CurrentDither(const FrameBuffers& frame) {
  int mode = frame.dither_mode;
  if (mode < 0)
    mode = frame.dither_matrix == 4   ? GR_DITHER_4x4
           : frame.dither_matrix == 2 ? GR_DITHER_2x2
                                      : GR_DITHER_DISABLE;
  return frame.dither_modes[size_t(std::clamp(mode, 0, 2))];
}

DepthRows DepthBuffer(FrameBuffers& frame) {
  if (!frame.depth_wanted || frame.width <= 0) return {};
  if (frame.depth.data() == nullptr)
    frame.depth = PixelMemory(size_t(frame.width) * size_t(frame.height) * 2);
  return MadeDepthBuffer(frame);
}

DepthRows MadeDepthBuffer(const FrameBuffers& frame) {
  if (frame.depth.data() == nullptr) return {};
  return {static_cast<uint16_t*>(frame.depth.data()), size_t(frame.width)};
}

void FillRect(const PixelRows& rows, int row_begin, int row_end, int x0, int x1, uint32_t value,
              bool rgb, bool alpha) {
  if (x0 >= x1 || row_begin >= row_end || !(rgb || alpha)) return;
  const size_t n = size_t(x1 - x0);
  for (int y = row_begin; y < row_end; y++) {
    if (rows.layout == PixelLayout::kRgb565) {
      if (rgb) std::fill_n(rows.Rgb565(y) + x0, n, TopBits565(value));
      if (alpha) FillBytes(rows.Alpha(y) + x0, n, uint8_t(value >> 24));
      continue;
    }
    uint32_t* p = rows.Argb(y) + x0;
    if (rgb && alpha) {
      FillPixels(p, n, value);
      continue;
    }
    const uint32_t mask = rgb ? 0x00FFFFFFu : 0xFF000000u;
    for (size_t i = 0; i < n; i++) p[i] = (p[i] & ~mask) | (value & mask);
  }
}

void FillDepth(const DepthRows& depth, int row_begin, int row_end, int x0, int x1, uint16_t value) {
  if (x0 >= x1) return;
  for (int y = row_begin; y < row_end; y++) std::fill_n(depth.Row(y) + x0, size_t(x1 - x0), value);
}

void InitFrameBuffers(FrameBuffers& frame, int count, int width, int height, int ssaa,
                      bool recorded, const PixelRows& display_rows) {
  count = std::clamp(count, 2, 3);
  const PixelLayout layout = BufferLayout(frame.color16, ssaa);
  const FrameStorage storage = ChooseStorage(ssaa, recorded, layout, display_rows.pixels);
  const bool in_display =
      storage == FrameStorage::kDisplayRows || (ssaa > 1 && display_rows.pixels);
  const int buffers = OwnBuffers(storage, count);
  const size_t bytes = BufferBytes(width * ssaa, height * ssaa, layout);
  // The old buffers go before the new ones come.
  for (PixelMemory& buffer : frame.color) buffer = PixelMemory();
  frame.shown = PixelMemory();
  for (int i = 0; i < buffers; i++) frame.color[size_t(i)] = PixelMemory(bytes);
  frame.storage = storage;
  frame.width = width * ssaa;
  frame.height = height * ssaa;
  frame.ssaa = ssaa;
  frame.display_rows = in_display ? display_rows : PixelRows{};
  if (ssaa > 1 && !frame.display_rows.pixels)
    frame.shown = PixelMemory(BufferBytes(width, height, PixelLayout::kArgb8888));
  frame.count = count;
  frame.front = 0;
  frame.back = buffers > 1 ? 1 : 0;
  frame.depth = PixelMemory();  // made again, at the new size, when next used
  // The colour depth stays; its thresholds and layout follow the new size.
  SetColorDepth(frame, frame.color16 ? 16 : 32, frame.dither_matrix);
}

void FreeFrameBuffers(FrameBuffers& frame) {
  for (PixelMemory& buffer : frame.color) buffer = PixelMemory();
  frame.shown = PixelMemory();
  frame.storage = FrameStorage::kOwnBuffers;
  frame.width = frame.height = 0;
  frame.ssaa = 1;
  frame.count = 0;
  frame.display_rows = {};
  frame.depth = PixelMemory();
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

void RotateBuffers(FrameBuffers& frame, bool average) {
  if (frame.count == 0) return;
  if (frame.ssaa > 1) {
    if (average && frame.storage == FrameStorage::kSupersampled) {
      const PixelRows out = AverageRows(frame);
      AverageDown(BackRows(frame).Argb(), frame.width, frame.height, frame.ssaa, out.Argb(),
                  out.stride);
    }
    return;
  }
  if (frame.storage != FrameStorage::kOwnBuffers) return;  // drawn and shown in turn
  frame.front = frame.back;
  frame.back = (frame.back + 1) % frame.count;
}

PixelRows AverageRows(const FrameBuffers& frame) {
  if (frame.display_rows.pixels) return frame.display_rows;
  return ArgbRows(static_cast<uint32_t*>(frame.shown.data()), frame.width / frame.ssaa,
                  frame.height / frame.ssaa);
}

FrameDamage ShownDamage(FrameDamage drawn, int ssaa) {
  for (auto& [first, last] : drawn.rows) first /= ssaa, last /= ssaa;
  return drawn;
}

PixelRows ShownFrame(const FrameBuffers& frame) {
  return frame.ssaa == 1 ? FrontRows(frame) : AverageRows(frame);
}

void CopyImageRow(const PixelRows& rows, int y, uint32_t* out) {
  if (rows.layout == PixelLayout::kArgb8888) {
    std::memcpy(out, rows.Argb(y), size_t(rows.width) * 4);
    return;
  }
  Widen565(rows.Rgb565(y), rows.Alpha(y), rows.width, out);
}

}  // namespace softboard
