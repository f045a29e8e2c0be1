#include <gtest/gtest.h>

#include <vector>

#include "board/pipeline_support.h"
#include "frame/framebuffer.h"
#include "grlib.h"

namespace softboard {
namespace {

// 0x11223344 in each packing: which byte is which channel.
TEST(UnpackColor, EveryColourFormat) {
  const uint32_t c = 0x11223344;
  EXPECT_EQ(UnpackColor(c, GR_COLORFORMAT_ARGB), (Rgba8{0x22, 0x33, 0x44, 0x11}));
  EXPECT_EQ(UnpackColor(c, GR_COLORFORMAT_ABGR), (Rgba8{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(UnpackColor(c, GR_COLORFORMAT_RGBA), (Rgba8{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(UnpackColor(c, GR_COLORFORMAT_BGRA), (Rgba8{0x33, 0x22, 0x11, 0x44}));
  // The demo's clear colour and constant alpha.
  EXPECT_EQ(UnpackColor(0xFF000000, GR_COLORFORMAT_RGBA), (Rgba8{255, 0, 0, 0}));
  EXPECT_EQ(UnpackColor(0x80, GR_COLORFORMAT_RGBA), (Rgba8{0, 0, 0, 128}));
}

TEST(FrameBuffers, AClearFillsTheBackBufferAndItsAlphaPlane) {
  FrameBuffers frame;
  InitFrameBuffers(frame, 2);
  FillRows(BackRows(frame), 0, frame.height, ClearPixel(frame, {255, 0, 0, 99}, 7));
  for (size_t i : {size_t(0), size_t(kScreenPixels / 2), size_t(kScreenPixels - 1)}) {
    EXPECT_EQ(BackRows(frame).Argb()[i], 0x07FF0000u) << "alpha plane takes the clear alpha";
    EXPECT_EQ(FrontRows(frame).Argb()[i], 0u) << "the front buffer is untouched";
  }
}

// Bands of a 16-bit buffer: rows of odd width starting at odd pixels, so the
// 16-bit plane's fill starts and ends between 32-bit words.
TEST(FrameBuffers, FillRowsOfA565BufferTouchesOnlyThoseRows) {
  constexpr int kWidth = 7, kHeight = 5;
  PixelMemory buffer(BufferBytes(kWidth, kHeight, PixelLayout::kRgb565));
  auto* bytes = static_cast<uint8_t*>(buffer.data());
  const auto old = [](size_t byte) { return uint8_t(0x12345678u >> (8 * (byte % 4))); };
  for (size_t byte = 0; byte < buffer.bytes(); byte++) bytes[byte] = old(byte);
  const PixelRows rows{buffer.data(), kWidth, kHeight, kWidth, PixelLayout::kRgb565};
  FillRows(rows, 1, 4, 0x80FF8040u);
  const std::vector<uint32_t> pixels = ImagePixels(rows);
  const size_t alpha = 2 * kWidth * kHeight;  // where the alpha plane starts
  for (size_t i = 0; i < kWidth * kHeight; i++) {
    if (i >= kWidth && i < 4 * kWidth) {
      EXPECT_EQ(rows.Rgb565()[i], 0xFC08) << "top bits of ff, 80, 40";
      EXPECT_EQ(pixels[i], 0x80FF8242u) << "widened, with the alpha";
    } else {
      EXPECT_EQ(bytes[2 * i], old(2 * i)) << i;
      EXPECT_EQ(bytes[2 * i + 1], old(2 * i + 1)) << i;
      EXPECT_EQ(bytes[alpha + i], old(alpha + i)) << i;
    }
  }
  EXPECT_EQ(buffer.bytes(), alpha + kWidth * kHeight) << "three bytes a pixel";
}

// Buffers made again at another size keep 16-bit colour, with thresholds for
// every column and 5-6-5 storage only where there is one sample a pixel.
TEST(FrameBuffers, ColourDepthOutlivesANewSize) {
  FrameBuffers frame;
  InitFrameBuffers(frame, 2);
  SetColorDepth(frame, 16, 2);
  InitFrameBuffers(frame, 2, 1280, 960);
  EXPECT_EQ(frame.layout, PixelLayout::kRgb565);
  EXPECT_EQ(frame.color[0].bytes(), 1280u * 960 * 3) << "three bytes a pixel";
  for (const auto& row : frame.dither) EXPECT_GE(row.size(), 1280u + 64);
  // 2x2 cells, a scene pixel two pixels wide at scale 2.
  EXPECT_EQ(frame.dither[0][1], frame.dither[0][0]);
  EXPECT_NE(frame.dither[0][2], frame.dither[0][0]);
  EXPECT_EQ(frame.dither[0][4], frame.dither[0][0]);
  InitFrameBuffers(frame, 2, 640, 480, 2);
  EXPECT_TRUE(frame.color16);
  EXPECT_EQ(frame.layout, PixelLayout::kArgb8888) << "supersampled samples stay 8 bits a channel";
  EXPECT_EQ(frame.color[0].bytes(), 1280u * 960 * 4);
  InitFrameBuffers(frame, 2);
  SetColorDepth(frame, 32, 4);
  EXPECT_EQ(frame.color[frame.back].bytes(), size_t(kScreenPixels) * 4) << "room again for 8 bits";
}

// Drawn in a display's rows, a frame has no buffer of its own; what is shown
// (and saved by a screenshot) is read from those rows, a stride apart.
TEST(FrameBuffers, FramesInTheDisplaysRowsAreReadFromThemAcrossTheirStride) {
  std::vector<uint32_t> surface(12 * 5, 7);
  for (const int ssaa : {1, 2}) {
    FrameBuffers frame;
    InitFrameBuffers(frame, 2, 4, 3, ssaa, true, ArgbRows(surface.data() + 13, 4, 3, 12));
    EXPECT_EQ(frame.color[0].bytes(), 0u) << "no colour buffer of the shown size";
    EXPECT_EQ(frame.shown.data(), nullptr);
    if (ssaa == 1) {
      EXPECT_EQ(BackRows(frame).Argb(), surface.data() + 13);
      FillRows(BackRows(frame), 0, frame.height, ClearPixel(frame, {1, 2, 3, 0}, 9));
    } else {
      const PixelRows out = AverageRows(frame);
      EXPECT_EQ(out.Argb(), surface.data() + 13);
      EXPECT_EQ(out.stride, 12u);
    }
  }
  const std::vector<uint32_t> shown = ImagePixels(ArgbRows(surface.data() + 13, 4, 3, 12));
  EXPECT_EQ(shown, std::vector<uint32_t>(12, 0x09010203u));
  EXPECT_EQ(surface[12], 7u) << "left of the frame";
  EXPECT_EQ(surface[17], 7u) << "right of it";

  FrameBuffers sixteen;
  SetColorDepth(sixteen, 16, 4);
  InitFrameBuffers(sixteen, 2, 4, 3, 1, true, {surface.data(), 12});
  EXPECT_EQ(sixteen.display_rows.pixels, nullptr) << "5-6-5 frames are widened into the display";
  EXPECT_EQ(sixteen.storage, FrameStorage::kOneBuffer);
}

TEST(FrameBuffers, RotationCyclesThroughEveryBuffer) {
  FrameBuffers frame;
  InitFrameBuffers(frame, 3);
  const uint32_t* drawn = BackRows(frame).Argb();
  RotateBuffers(frame);
  EXPECT_EQ(FrontRows(frame).Argb(), drawn);
  EXPECT_NE(BackRows(frame).Argb(), drawn);
  RotateBuffers(frame);
  RotateBuffers(frame);
  EXPECT_EQ(BackRows(frame).Argb(), drawn);

  FrameBuffers closed;
  RotateBuffers(closed);  // nothing open: nothing happens
  EXPECT_EQ(closed.count, 0);
}

}  // namespace
}  // namespace softboard
