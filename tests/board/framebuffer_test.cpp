#include <gtest/gtest.h>

#include "framebuffer.h"

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

TEST(FrameBuffers, ClearFillsBackBufferAlphaPlaneAndDepth) {
  FrameBuffers frame;
  InitFrameBuffers(frame, 2);
  ClearBackBuffer(frame, {255, 0, 0, 99}, 7, 0xFFFF);
  for (size_t i : {size_t(0), size_t(kScreenPixels / 2), size_t(kScreenPixels - 1)}) {
    EXPECT_EQ(frame.color[frame.back][i], 0x07FF0000u) << "alpha plane takes the clear alpha";
    EXPECT_EQ(frame.color[frame.front][i], 0u) << "the front buffer is untouched";
  }
  EXPECT_EQ(frame.depth, 0xFFFF);
}

TEST(FrameBuffers, RotationCyclesThroughEveryBuffer) {
  FrameBuffers frame;
  InitFrameBuffers(frame, 3);
  const uint32_t* drawn = BackBuffer(frame);
  RotateBuffers(frame);
  EXPECT_EQ(FrontBuffer(frame), drawn);
  EXPECT_NE(BackBuffer(frame), drawn);
  RotateBuffers(frame);
  RotateBuffers(frame);
  EXPECT_EQ(BackBuffer(frame), drawn);

  FrameBuffers closed;
  RotateBuffers(closed);  // nothing open: nothing happens
  ClearBackBuffer(closed, {}, 0, 0);
  EXPECT_EQ(closed.count, 0);
}

}  // namespace
}  // namespace softboard
