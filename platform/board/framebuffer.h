// The colour buffers, their alpha plane and the depth buffer.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "board_state.h"
#include "pixel_rows.h"

namespace softboard {

// Allocates `count` colour buffers (2 or 3), all cleared, to show width x
// height pixels, each drawn `ssaa` times as large each way; clears the depth
// buffer.
// `banded`: supersampled frames are drawn band by band (see bands.h), with no
// buffer of the drawn size. `keep_shown` false: nothing reads a frame after
// it is shown (the display copies it at once), so the next frame may be drawn
// in the same buffer. `direct`: rows of the display's memory for the frame as
// shown (see FrameBuffers::direct), used unless the buffer is 5-6-5.
void InitFrameBuffers(FrameBuffers& frame, int count, int width = kScreenWidth,
                      int height = kScreenHeight, int ssaa = 1, bool banded = false,
                      bool keep_shown = true, DisplayRows direct = {});
void FreeFrameBuffers(FrameBuffers& frame);

// Sets n pixels (or bytes) to `value` at memory speed.
void FillPixels(uint32_t* pixels, size_t n, uint32_t value);
void FillBytes(uint8_t* bytes, size_t n, uint8_t value);

// Sets rows [row_begin, row_end) of a width x height buffer to `value`
// (0xAARRGGBB): as it stands, rows `stride` pixels apart, or, `rgb565`, as the
// 5-6-5 value of its top bits and its alpha (rows packed, stride unused).
void FillRows(uint32_t* buffer, int width, int height, size_t stride, int row_begin, int row_end,
              uint32_t value, bool rgb565);

// 16-bit colour (`bits` 16) or 8 bits a channel (32). With 16, every pixel
// written is quantised to 5-6-5 through the ordered dither `matrix` (4 for
// 4x4, 2 for 2x2, 0 for none: the nearest value), indexed by the pixel's
// position in the 640x480 scene. Buffers made again later keep it; set it
// first, and they are made the size it needs.
void SetColorDepth(FrameBuffers& frame, int bits, int matrix);

// The 5-6-5 colour nearest to an 0xAARRGGBB pixel, widened back to 8 bits by
// repeating its top bits; alpha as it was.
uint32_t Nearest565(uint32_t argb);

// A GrColor_t unpacked by the colour format chosen at open.
Rgba8 UnpackColor(uint32_t color, int color_format);

// The pixel a clear to `color` with alpha `alpha` writes.
uint32_t ClearPixel(const FrameBuffers& frame, Rgba8 color, uint8_t alpha);

// The whole back buffer to `color` with its alpha plane to `alpha`, and the
// depth buffer to `depth`, at once (the board records clears for its bands).
void ClearBackBuffer(FrameBuffers& frame, Rgba8 color, uint8_t alpha, uint16_t depth);

// The back buffer becomes the front one (averaged down to the shown size when
// supersampled); the next in turn becomes the back.
// `average` false: the caller has averaged it into frame.shown already.
void RotateBuffers(FrameBuffers& frame, bool average = true);

// Which rows of a frame differ from the frame shown before it: all, or the
// runs [first, last) listed, none when the list is empty.
struct FrameDamage {
  bool all = true;
  std::vector<std::pair<int, int>> rows;
  bool None() const { return !all && rows.empty(); }
};

// The frame as shown: the front buffer, or its average.
struct Image {
  const uint32_t* pixels;
  int width, height;
  bool rgb565 = false;  // 5-6-5 rows, to be widened for showing
  size_t stride = 0;    // pixels from a row to the next; 0: width (packed)
  size_t Stride() const { return stride ? stride : size_t(width); }
};
Image ShownFrame(const FrameBuffers& frame);

// Copies an image's row y to `out` (width pixels) as 0xAARRGGBB pixels,
// widening 5-6-5 ones.
void CopyImageRow(const Image& image, int y, uint32_t* out);

// The whole image as 0xAARRGGBB pixels, row by row.
std::vector<uint32_t> ImagePixels(const Image& image);

// Null when the frame is drawn in bands only.
inline uint32_t* BackBuffer(FrameBuffers& frame) {
  if (frame.direct.pixels && frame.ssaa == 1) return frame.direct.pixels;
  return frame.color[frame.back].data();
}
inline const uint32_t* FrontBuffer(const FrameBuffers& frame) {
  if (frame.direct.pixels && frame.ssaa == 1) return frame.direct.pixels;
  return frame.color[frame.front].data();
}
// Where a supersampled frame is averaged to: the display's rows, or `shown`.
inline DisplayRows AverageRows(FrameBuffers& frame) {
  if (frame.direct.pixels) return frame.direct;
  return {frame.shown.data(), size_t(frame.width / frame.ssaa)};
}
// Pixels from one row of the back buffer to the next.
inline size_t BackStride(const FrameBuffers& frame) {
  if (frame.direct.pixels && frame.ssaa == 1) return frame.direct.stride;
  return size_t(frame.width);
}

}  // namespace softboard
