// Where a window puts a frame, how it copies one into its own rows, and which
// renderers count as drawing on the CPU.
#include <gtest/gtest.h>

#include <vector>

#include "output/display.h"
#include "output/renderer_probe.h"

namespace softboard {
namespace {

TEST(PlaceFrame, AutoSizedFramesSitCentredAtTheirOwnSize) {
  struct Case {
    int frame_w, frame_h, area_w, area_h;
    Placement want;
  };
  const Case cases[] = {
      {1440, 1080, 1920, 1080, {240, 0, 1440, 1080, true}},
      {640, 480, 640, 480, {0, 0, 640, 480, true}},
      {800, 600, 1024, 600, {112, 0, 800, 600, true}},
      {933, 700, 1000, 700, {33, 0, 933, 700, true}},
      // A fixed scale: scaled to fit, up or down, keeping the aspect.
      {640, 480, 1920, 1080, {240, 0, 1440, 1080, false}},
      {1920, 1440, 640, 480, {0, 0, 640, 480, false}},
      {640, 480, 300, 200, {16, 0, 267, 200, false}},
      {640, 480, 0, 0, {0, 0, 0, 0, false}},
  };
  for (const Case& c : cases) {
    const Placement p = PlaceFrame(c.frame_w, c.frame_h, c.area_w, c.area_h);
    EXPECT_EQ(p.x, c.want.x) << c.frame_w << " in " << c.area_w << "x" << c.area_h;
    EXPECT_EQ(p.y, c.want.y) << c.frame_w << " in " << c.area_w << "x" << c.area_h;
    EXPECT_EQ(p.width, c.want.width) << c.frame_w << " in " << c.area_w << "x" << c.area_h;
    EXPECT_EQ(p.height, c.want.height) << c.frame_w << " in " << c.area_w << "x" << c.area_h;
    EXPECT_EQ(p.exact, c.want.exact) << c.frame_w << " in " << c.area_w << "x" << c.area_h;
  }
}

TEST(DrawImage, CopiesRowsIntoAWiderSurfaceAndScalesToTheNearestPixel) {
  std::vector<uint32_t> frame = {1, 2, 3, 4, 5, 6};  // 3x2
  const PixelRows image = ArgbRows(frame.data(), 3, 2);
  std::vector<uint32_t> out(5 * 4, 0);
  DrawImage(image, ArgbRows(out.data() + 1, 3, 2, 5));
  EXPECT_EQ(out, (std::vector<uint32_t>{0, 1, 2, 3, 0,  //
                                        0, 4, 5, 6, 0,  //
                                        0, 0, 0, 0, 0,  //
                                        0, 0, 0, 0, 0}));
  std::vector<uint32_t> twice(6 * 4, 0);
  DrawImage(image, ArgbRows(twice.data(), 6, 4));
  EXPECT_EQ(twice, (std::vector<uint32_t>{1, 1, 2, 2, 3, 3,  //
                                          1, 1, 2, 2, 3, 3,  //
                                          4, 4, 5, 5, 6, 6,  //
                                          4, 4, 5, 5, 6, 6}));
}

// The helper's two lines, as it writes them.
TEST(DrawsInSoftware, RasterizersOnTheCpuAreTold) {
  EXPECT_TRUE(DrawsInSoftware(ReadProbeAnswer("software\n\n")));
  EXPECT_TRUE(DrawsInSoftware(ReadProbeAnswer("opengl\nllvmpipe (LLVM 15.0.6, 256 bits)\n")));
  EXPECT_TRUE(DrawsInSoftware(ReadProbeAnswer("opengles2\nsoftpipe\n")));
  EXPECT_TRUE(DrawsInSoftware(ReadProbeAnswer("opengl\nSoftware Rasterizer\n")));
  EXPECT_FALSE(
      DrawsInSoftware(ReadProbeAnswer("opengl\nMesa Intel(R) UHD Graphics 620 (KBL GT2)\n")));
  EXPECT_FALSE(DrawsInSoftware(ReadProbeAnswer("opengl\nNVIDIA GeForce RTX 3060/PCIe/SSE2\n")));
}

TEST(ReadProbeAnswer, TwoWholeLinesOrNoAnswer) {
  const RendererProbe gl = ReadProbeAnswer("opengl\nllvmpipe\nanything after\n");
  EXPECT_TRUE(gl.answered);
  EXPECT_EQ(gl.renderer, "opengl");
  EXPECT_EQ(gl.gl_renderer, "llvmpipe");
  for (const char* cut : {"", "opengl", "opengl\n", "opengl\nllvmpipe"})
    EXPECT_FALSE(ReadProbeAnswer(cut).answered) << cut;
}

}  // namespace
}  // namespace softboard
