// The colour buffers, their alpha plane and the depth buffer.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "grlib.h"
#include "pixel/pixel.h"
#include "pixel/pixel_rows.h"

namespace softboard {

// How a frame's pixels are kept, chosen in one place for each size
// (InitFrameBuffers):
//
//   storage             colour buffers of the drawn size    the frame shown
//   kOwnBuffers         `count`, drawn into in turn         the front buffer
//   kOneBuffer          one, drawn into and shown in turn   that buffer
//   kDisplayRows        none: drawn in the display's rows   the display's rows
//   kSupersampled       one, averaged down at a swap        `shown`, or the display's rows
//   kSupersampledBands  none: each band has rows of its own `shown`, or the display's rows
//
// A board that records its drawing and draws it at the swap (every open
// display) never draws into a frame after it is shown, so it needs one
// buffer at most: the frame stays as shown until the next swap. A board that
// draws at once (a test's) needs the program's `count`. 5-6-5 frames are
// never drawn in the display's rows, which hold 8 bits a channel.
enum class FrameStorage : uint8_t {
  kOwnBuffers,
  kOneBuffer,
  kDisplayRows,
  kSupersampled,
  kSupersampledBands,
};

// The colour buffers are drawn at `ssaa` times the shown size each way; the
// 640x480 scene is mapped onto them whole.
struct FrameBuffers {
  FrameStorage storage = FrameStorage::kOwnBuffers;
  std::array<PixelMemory, 3> color;  // `height` rows of `width` pixels, as storage says
  int width = 0, height = 0;
  int ssaa = 1;       // samples a side
  PixelMemory shown;  // supersampled, unless averaged into the display's rows
  // With 16-bit colour: every written pixel is quantised to 5-6-5 through
  // these thresholds: for each of the 4 scene rows of the dither matrix, one
  // per column, DitherOffset of the threshold in 16ths in both 16-bit halves.
  bool color16 = false;
  int dither_matrix = 4;  // 4 (4x4), 2 (2x2) or 0 (none: the nearest value)
  std::array<std::vector<uint32_t>, 4> dither;
  // The same for each dither mode a program may choose (GR_DITHER_DISABLE,
  // 2x2, 4x4), all kept: a triangle keeps pointers to the rows of the mode
  // it was drawn in, whatever mode is chosen after it.
  std::array<std::array<std::vector<uint32_t>, 4>, 3> dither_modes;
  int dither_mode = -1;  // the mode chosen by the program; -1: dither_matrix's
  // Mipmapping's LOD dither values (4x4 matrix, 0..15), a byte a pixel, for
  // each of the 4 scene rows of the matrix; in every colour depth.
  std::array<std::vector<uint8_t>, 4> lod_dither;
  // 16-bit colour at one sample a pixel: a buffer holds the frame's 5-6-5
  // pixels, row by row, then its alpha plane, a byte a pixel (three bytes a
  // pixel in all). Supersampled, the samples are kept 8 bits a channel, as
  // 5-6-5 values widened by repeating their top bits, and the frame shown is
  // their average.
  PixelLayout layout = PixelLayout::kArgb8888;
  int count = 0;  // colour buffers the program asked for; 0: none open
  int front = 0;  // shown
  int back = 0;   // drawn into
  // Rows of the display's own memory (0xAARRGGBB, as its window's surface)
  // where the frame as shown lives: drawn there, or averaged there. The
  // display owns them; they are good until it reports a resize, and the
  // board gives them up (new buffers) before then and before the display
  // closes. None: the frame is shown from the board's own buffers.
  PixelRows display_rows;
  // The auxiliary (depth) buffer, when the program asked for one at open: a
  // 16-bit depth a pixel at the drawn size (supersampled with the colour),
  // kept across frames. Made when it is first cleared or tested, so that a
  // program that never uses it pays nothing for it.
  bool depth_wanted = false;
  PixelMemory depth;
};

// The depth buffer's rows, made now (zeroed) if it is wanted and not made
// yet; none when it is not wanted. Throws std::bad_alloc.
DepthRows DepthBuffer(FrameBuffers& frame);
// The depth buffer's rows as they are: none when not made.
DepthRows MadeDepthBuffer(const FrameBuffers& frame);

// Allocates the colour buffers (all cleared) to show width x height pixels,
// each drawn `ssaa` times as large each way, for `count` buffers (2 or 3) as
// the program asked; clears the depth buffer. `recorded`: drawing is recorded
// and drawn at the swap, so frames need no buffer beyond the one they are
// shown from, and supersampled ones are drawn in bands. `display_rows`: the
// display's rows for the frame as shown (see FrameBuffers), used unless the
// frame is 5-6-5.
void InitFrameBuffers(FrameBuffers& frame, int count, int width = kScreenWidth,
                      int height = kScreenHeight, int ssaa = 1, bool recorded = false,
                      const PixelRows& display_rows = {});
void FreeFrameBuffers(FrameBuffers& frame);

// Sets n pixels (or bytes) to `value` at memory speed.
void FillPixels(uint32_t* pixels, size_t n, uint32_t value);
void FillBytes(uint8_t* bytes, size_t n, uint8_t value);

// Sets rows [row_begin, row_end) of `rows` to `value` (0xAARRGGBB): as it
// stands, or, 5-6-5, as the 5-6-5 value of its top bits and its alpha.
void FillRows(const PixelRows& rows, int row_begin, int row_end, uint32_t value);

// The same within columns [x0, x1) only, writing colour where `rgb` and the
// alpha plane where `alpha`.
void FillRect(const PixelRows& rows, int row_begin, int row_end, int x0, int x1, uint32_t value,
              bool rgb, bool alpha);
// Sets depths [x0, x1) of rows [row_begin, row_end) to `value`.
void FillDepth(const DepthRows& depth, int row_begin, int row_end, int x0, int x1, uint16_t value);

// 16-bit colour (`bits` 16) or 8 bits a channel (32). With 16, every pixel
// written is quantised to 5-6-5 through the ordered dither `matrix` (4 for
// 4x4, 2 for 2x2, 0 for none: the nearest value), indexed by the pixel's
// position in the 640x480 scene. Buffers made again later keep it; set it
// first, and they are made the size it needs.
void SetColorDepth(FrameBuffers& frame, int bits, int matrix);

// The dither rows triangles are drawn with now: dither_modes' of the mode
// chosen, or of the setting's matrix.
const std::array<std::vector<uint32_t>, 4>& CurrentDither(const FrameBuffers& frame);

// How the colour buffers keep their pixels: 5-6-5 with 16-bit colour at one
// sample a pixel; supersampled, the samples keep 8 bits a channel.
constexpr PixelLayout BufferLayout(bool color16, int ssaa) {
  return color16 && ssaa == 1 ? PixelLayout::kRgb565 : PixelLayout::kArgb8888;
}

// A GrColor_t unpacked by the colour format chosen at open.
Rgba8 UnpackColor(uint32_t color, int color_format);

// The pixel a clear to `color` with alpha `alpha` writes.
uint32_t ClearPixel(const FrameBuffers& frame, Rgba8 color, uint8_t alpha);

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

// The damage of a frame drawn `ssaa` times as large, in rows of the frame shown.
FrameDamage ShownDamage(FrameDamage drawn, int ssaa);

// The frame as shown: the front buffer, or its average. 5-6-5 rows are
// widened for showing.
PixelRows ShownFrame(const FrameBuffers& frame);

// Copies row y of `rows` to `out` (width pixels) as 0xAARRGGBB pixels,
// widening 5-6-5 ones.
void CopyImageRow(const PixelRows& rows, int y, uint32_t* out);

// The buffer drawn into, and the one shown, at the drawn size: the display's
// rows where the frame is drawn there. No pixels when the frame is drawn in
// bands only.
// Inline: a struct handed back from another file is stored, then read
// back in other pieces, and the reads wait for the stores (every triangle
// asks).
inline PixelRows ColorRows(const FrameBuffers& frame, int index) {
  if (frame.storage == FrameStorage::kDisplayRows) return frame.display_rows;
  return {frame.color[size_t(index)].data(), frame.width, frame.height, size_t(frame.width),
          frame.layout};
}
inline PixelRows BackRows(const FrameBuffers& frame) {
  return ColorRows(frame, frame.back);
}
inline PixelRows FrontRows(const FrameBuffers& frame) {
  return ColorRows(frame, frame.front);
}
// Where a supersampled frame is averaged to: the display's rows, or `shown`.
PixelRows AverageRows(const FrameBuffers& frame);

}  // namespace softboard
