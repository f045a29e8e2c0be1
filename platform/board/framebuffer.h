// The colour buffers, their alpha plane and the depth buffer.
#pragma once

#include <cstdint>

#include "board_state.h"

namespace softboard {

// Allocates `count` colour buffers (2 or 3), all cleared, to show width x
// height pixels, each drawn `ssaa` times as large each way; clears the depth
// buffer.
// `banded`: supersampled frames are drawn band by band (see bands.h), with no
// buffer of the drawn size. `keep_shown` false: nothing reads a frame after
// it is shown (the display copies it at once), so the next frame may be drawn
// in the same buffer.
void InitFrameBuffers(FrameBuffers& frame, int count, int width = kScreenWidth,
                      int height = kScreenHeight, int ssaa = 1, bool banded = false,
                      bool keep_shown = true);
void FreeFrameBuffers(FrameBuffers& frame);

// Sets n pixels to `value` at memory speed.
void FillPixels(uint32_t* pixels, size_t n, uint32_t value);

// 16-bit colour (`bits` 16) or 8 bits a channel (32). With 16, every pixel
// written is quantised to 5-6-5 through the ordered dither `matrix` (4 for
// 4x4, 2 for 2x2, 0 for none: the nearest value), indexed by the pixel's
// position in the 640x480 scene; call after InitFrameBuffers.
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

// The frame as shown: the front buffer, or its average.
struct Image {
  const uint32_t* pixels;
  int width, height;
};
Image ShownFrame(const FrameBuffers& frame);

// Null when the frame is drawn in bands only.
inline uint32_t* BackBuffer(FrameBuffers& frame) {
  return frame.color[frame.back].data();
}
inline const uint32_t* FrontBuffer(const FrameBuffers& frame) {
  return frame.color[frame.front].data();
}

}  // namespace softboard
