// State changed between the draws of one frame (a texture selected or
// downloaded, the constant colour) draws each triangle as the state was when
// it was drawn, in every setting: supersampled, at a fractional scale, in
// 16-bit colour and on two threads. The reference frame draws the same
// colours with no change of state at all (flat vertex colours), so it does
// not share the code path under test.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "api/board_context.h"
#include "frame/framebuffer.h"
#include "grlib.h"
#include "texel_formats.h"

namespace softboard {
namespace {

struct Setup {
  int ssaa;
  double scale;
  int color_bits;
  int threads;
};

std::string Describe(const Setup& s) {
  return "ssaa" + std::to_string(s.ssaa) + "_scale" + std::to_string(int(s.scale * 100)) + "_" +
         std::to_string(s.color_bits) + "bit_" + std::to_string(s.threads) + "threads";
}

std::string Name(const testing::TestParamInfo<Setup>& info) {
  return Describe(info.param);
}

void PrintTo(const Setup& s, std::ostream* out) {
  *out << Describe(s);
}

constexpr uint16_t kRed565 = 0xF800, kGreen565 = 0x07E0;
constexpr GrColor_t kRed = 0xFF0000FF, kGreen = 0x00FF00FF;  // RGBA

// An 8x8 5-6-5 texture of one colour.
struct FlatTexture {
  std::array<uint16_t, 64> texels;
  GrTexInfo info;
  explicit FlatTexture(uint16_t color) {
    texels.fill(color);
    info = {GR_LOD_8, GR_LOD_8, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, texels.data()};
  }
};

GrVertex Corner(float x, float y, float r, float g, float s, float t) {
  GrVertex v{};
  v.x = x, v.y = y, v.r = r, v.g = g, v.a = 255, v.oow = 1;
  v.tmuvtx[0] = {s, t, 1};
  return v;
}

// Two triangles that overlap, each in a flat colour (r, g, 0).
void DrawFirst(float r, float g) {
  const GrVertex v[3] = {Corner(100.25f, 50.5f, r, g, 0, 0), Corner(420.75f, 90.5f, r, g, 256, 0),
                         Corner(180.5f, 400.25f, r, g, 0, 256)};
  const int ilist[3] = {0, 1, 2};
  grDrawPolygon(3, ilist, v);
}

void DrawSecond(float r, float g) {
  const GrVertex v[3] = {Corner(300.5f, 120.25f, r, g, 0, 0),
                         Corner(560.25f, 300.75f, r, g, 256, 0),
                         Corner(250.75f, 440.5f, r, g, 0, 256)};
  const int ilist[3] = {0, 1, 2};
  grDrawPolygon(3, ilist, v);
}

class MidFrame : public ::testing::TestWithParam<Setup> {
 protected:
  void SetUp() override {
    Settings settings;
    settings.display = DisplayMode::kHeadless;
    settings.vsync = false;
    settings.ssaa = GetParam().ssaa;
    settings.scale = GetParam().scale;
    settings.color_bits = GetParam().color_bits;
    settings.threads = GetParam().threads;
    board_ = std::make_unique<ScopedBoard>(settings);
    grLibInit();
    grSstSelect(0);
    ASSERT_EQ(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                           GR_ORIGIN_UPPER_LEFT, 2, 1),
              FXTRUE);
    grAlphaCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_NONE, FXFALSE);
  }
  void TearDown() override { board_.reset(); }

  // The frame shown, as 0xAARRGGBB pixels.
  std::vector<uint32_t> Shown() {
    const PixelRows shown = ShownFrame(board_->state().frame);
    std::vector<uint32_t> pixels(size_t(shown.width) * size_t(shown.height));
    for (int y = 0; y < shown.height; y++)
      CopyImageRow(shown, y, pixels.data() + size_t(y) * size_t(shown.width));
    return pixels;
  }

  // The same two triangles in flat vertex colours: no state changes mid-frame.
  std::vector<uint32_t> Reference() {
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_NONE, FXFALSE);
    grBufferClear(0, 0, 0);
    DrawFirst(255, 0);
    DrawSecond(0, 255);
    grBufferSwap(0);
    return Shown();
  }

  void UseTexture() {
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
  }

  void ExpectSame(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want) {
    ASSERT_EQ(got.size(), want.size());
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < got.size(); i++) {
      if (got[i] != want[i] && differ++ == 0) first = i;
    }
    EXPECT_EQ(differ, 0u) << "first at pixel " << first << ": " << std::hex << got[first]
                          << " where " << want[first];
  }

  std::unique_ptr<ScopedBoard> board_;
};

TEST_P(MidFrame, ATextureSelectedBetweenDrawsDrawsEachTriangleWithItsOwn) {
  const std::vector<uint32_t> want = Reference();
  FlatTexture red(kRed565), green(kGreen565);
  grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
  grTexDownloadMipMap(GR_TMU0, 4096, GR_MIPMAPLEVELMASK_BOTH, &green.info);
  UseTexture();
  // Twice: the second frame repeats the first, the case damage skipping takes.
  for (int frame = 0; frame < 2; frame++) {
    grBufferClear(0, 0, 0);
    grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
    DrawFirst(0, 0);
    grTexSource(GR_TMU0, 4096, GR_MIPMAPLEVELMASK_BOTH, &green.info);
    DrawSecond(0, 0);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

TEST_P(MidFrame, ADownloadIntoTheSelectedTextureTakesEffectAtTheNextTriangle) {
  const std::vector<uint32_t> want = Reference();
  FlatTexture red(kRed565), green(kGreen565);
  UseTexture();
  for (int frame = 0; frame < 2; frame++) {
    grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
    grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
    grBufferClear(0, 0, 0);
    DrawFirst(0, 0);
    grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &green.info);
    DrawSecond(0, 0);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

TEST_P(MidFrame, TheConstantColourChangedBetweenDraws) {
  const std::vector<uint32_t> want = Reference();
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_NONE, FXFALSE);
  grBufferClear(0, 0, 0);
  grConstantColorValue(kRed);
  DrawFirst(0, 0);
  grConstantColorValue(kGreen);
  DrawSecond(0, 0);
  grBufferSwap(0);
  ExpectSame(Shown(), want);
}

TEST_P(MidFrame, TheFogColourChangedBetweenDraws) {
  const std::vector<uint32_t> want = Reference();
  // Black vertices fogged whole (alpha 255) with ADD2 give the fog colour.
  grFogMode(GR_FOG_WITH_ITERATED_ALPHA | GR_FOG_ADD2);
  for (int frame = 0; frame < 2; frame++) {
    grBufferClear(0, 0, 0);
    grFogColorValue(kRed);
    DrawFirst(0, 0);
    grFogColorValue(kGreen);
    DrawSecond(0, 0);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

// Depth, alpha test, clip window and colour mask changed between draws, each
// draw's pixels decided by its own: the later draws either cover the first as
// the reference's second triangle does, or are discarded whole.
TEST_P(MidFrame, TestsAndMasksChangedBetweenDraws) {
  const std::vector<uint32_t> want = Reference();
  const auto at_depth = [](float z) {
    return [z](float x, float y, float r, float g) {
      GrVertex v = Corner(x, y, r, g, 0, 0);
      v.ooz = z;
      return v;
    };
  };
  for (int frame = 0; frame < 2; frame++) {
    grDepthMask(FXTRUE);
    grDepthBufferMode(GR_DEPTHBUFFER_ZBUFFER);
    grDepthBufferFunction(GR_CMP_ALWAYS);
    grAlphaTestFunction(GR_CMP_ALWAYS);
    grClipWindow(0, 0, 640, 480);
    grColorMask(FXTRUE, FXTRUE);
    grBufferClear(0, 0, 700);  // behind the two drawn, in front of the rest
    const auto near = at_depth(1000), nearer = at_depth(2000), far = at_depth(500);
    {
      const GrVertex v[3] = {near(100.25f, 50.5f, 255, 0), near(420.75f, 90.5f, 255, 0),
                             near(180.5f, 400.25f, 255, 0)};
      grDrawTriangle(&v[0], &v[1], &v[2]);
    }
    grDepthBufferFunction(GR_CMP_GREATER);
    const GrVertex second[3] = {nearer(300.5f, 120.25f, 0, 255), nearer(560.25f, 300.75f, 0, 255),
                                nearer(250.75f, 440.5f, 0, 255)};
    grDrawTriangle(&second[0], &second[1], &second[2]);
    // Each of these is discarded whole by the state it is drawn in.
    const GrVertex behind[3] = {far(0, 0, 0, 0), far(640, 0, 0, 0), far(0, 480, 0, 0)};
    grDrawTriangle(&behind[0], &behind[1], &behind[2]);
    grDepthBufferFunction(GR_CMP_ALWAYS);
    grAlphaTestFunction(GR_CMP_NEVER);
    grDrawTriangle(&behind[0], &behind[1], &behind[2]);
    grAlphaTestFunction(GR_CMP_ALWAYS);
    grClipWindow(600, 0, 640, 10);
    grDrawTriangle(&second[0], &second[1], &second[2]);
    grClipWindow(0, 0, 640, 480);
    grColorMask(FXFALSE, FXFALSE);
    grDrawTriangle(&behind[0], &behind[1], &behind[2]);
    grColorMask(FXTRUE, FXTRUE);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

// An 8x8 P8 texture of index 1, and palettes that make it red or green.
struct PaletteTexture {
  std::array<uint8_t, 64> texels;
  GrTexInfo info;
  PaletteTexture() {
    texels.fill(1);
    info = {GR_LOD_8, GR_LOD_8, GR_ASPECT_1x1, GR_TEXFMT_P_8, texels.data()};
  }
};
GuTexPalette PaletteGiving(uint32_t rgb) {
  GuTexPalette p{};
  p.data[1] = rgb;
  return p;
}

TEST_P(MidFrame, APaletteDownloadedBetweenDrawsTakesEffectAtTheNextTriangle) {
  const std::vector<uint32_t> want = Reference();
  PaletteTexture texture;
  const GuTexPalette red = PaletteGiving(0xFF0000), green = PaletteGiving(0x00FF00);
  grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &texture.info);
  grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &texture.info);
  UseTexture();
  for (int frame = 0; frame < 2; frame++) {
    grBufferClear(0, 0, 0);
    grTexDownloadTable(GR_TMU0, GR_TEXTABLE_PALETTE, const_cast<GuTexPalette*>(&red));
    DrawFirst(0, 0);
    grTexDownloadTable(GR_TMU0, GR_TEXTABLE_PALETTE, const_cast<GuTexPalette*>(&green));
    DrawSecond(0, 0);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

TEST_P(MidFrame, RowsDownloadedIntoTheSelectedLevelTakeEffectAtTheNextTriangle) {
  const std::vector<uint32_t> want = Reference();
  FlatTexture red(kRed565), green(kGreen565);
  UseTexture();
  for (int frame = 0; frame < 2; frame++) {
    grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
    grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
    grBufferClear(0, 0, 0);
    DrawFirst(0, 0);
    grTexDownloadMipMapLevelPartial(GR_TMU0, 0, GR_LOD_8, GR_LOD_8, GR_ASPECT_1x1,
                                    GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH, green.texels.data(),
                                    0, 3);
    grTexDownloadMipMapLevel(GR_TMU0, 0, GR_LOD_8, GR_LOD_8, GR_ASPECT_1x1, GR_TEXFMT_RGB_565,
                             GR_MIPMAPLEVELMASK_BOTH, green.texels.data());
    DrawSecond(0, 0);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

// A texture whose 256x256 level is red and every smaller level green: the
// LOD bias, changed between draws, takes each triangle to its level (the
// triangles, about as wide as the texture, are its largest level at every
// scale and supersampling here, and far beyond its smallest when biased).
TEST_P(MidFrame, MipmapStateChangedBetweenDraws) {
  const std::vector<uint32_t> want = Reference();
  std::vector<uint16_t> texels(65536, kRed565);
  texels.resize(texfile::MipMapBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565) / 2,
                kGreen565);
  GrTexInfo info = {GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, texels.data()};
  grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
  grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
  UseTexture();
  for (int frame = 0; frame < 2; frame++) {
    grBufferClear(0, 0, 0);
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXFALSE);
    grTexLodBiasValue(GR_TMU0, 0);  // magnified: the largest level
    DrawFirst(0, 0);
    grTexLodBiasValue(GR_TMU0, 7.75f);  // far beyond the smallest
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST_DITHER, FXTRUE);
    DrawSecond(0, 0);
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_DISABLE, FXFALSE);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

TEST_P(MidFrame, TheSecondUnitsTextureSelectedBetweenDraws) {
  const std::vector<uint32_t> want = Reference();
  FlatTexture red(kRed565), green(kGreen565);
  grTexDownloadMipMap(GR_TMU1, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
  grTexDownloadMipMap(GR_TMU1, 4096, GR_MIPMAPLEVELMASK_BOTH, &green.info);
  grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
               GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, FXFALSE, FXFALSE);
  UseTexture();
  for (int frame = 0; frame < 2; frame++) {
    grBufferClear(0, 0, 0);
    grTexSource(GR_TMU1, 0, GR_MIPMAPLEVELMASK_BOTH, &red.info);
    DrawFirst(0, 0);
    grTexSource(GR_TMU1, 4096, GR_MIPMAPLEVELMASK_BOTH, &green.info);
    DrawSecond(0, 0);
    grBufferSwap(0);
    ExpectSame(Shown(), want);
  }
}

// Triangles passed one by one are set up several at once: each still draws
// with the state of its own call, in the order passed, around whatever comes
// between them (state, a clear, lines, points, the origin, culling, the clip
// window), whether or not a batch is full. The reference passes the same
// triangles as polygons, drawn at once; overlapping colours show any other
// order.
TEST_P(MidFrame, TrianglesPassedOneByOneDrawAsEachCallLeftTheState) {
  const auto combine = [](GrCombineLocal_t local) {
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, local, GR_COMBINE_OTHER_NONE,
                   FXFALSE);
  };
  const auto frame = [&](bool one_by_one) {
    combine(GR_COMBINE_LOCAL_ITERATED);
    grConstantColorValue(0xFFFFFFFF);
    grCullMode(GR_CULL_DISABLE);
    grSstOrigin(GR_ORIGIN_UPPER_LEFT);
    grClipWindow(0, 0, 640, 480);
    grBufferClear(0, 0, 0);
    for (int i = 0; i < 61; i++) {
      if (i == 10) combine(GR_COMBINE_LOCAL_CONSTANT);
      if (i == 12) grConstantColorValue(0x40C080FF);
      if (i == 17) combine(GR_COMBINE_LOCAL_ITERATED);
      if (i == 19) grCullMode(GR_CULL_NEGATIVE);
      if (i == 26) grSstOrigin(GR_ORIGIN_LOWER_LEFT);
      if (i == 30) grClipWindow(40, 30, 600, 400);
      if (i == 35) grBufferClear(0x00202020, 0, 0);
      if (i == 41) {
        const GrVertex a = Corner(10, 10, 255, 255, 0, 0), b = Corner(630, 470, 255, 255, 0, 0);
        grDrawLine(&a, &b);
        grDrawPoint(&a);
      }
      if (i == 50) grCullMode(GR_CULL_POSITIVE);
      // Overlapping triangles of both windings, each its own colour; every
      // ninth far too large to be set up with the rest, and one with a
      // corner not given as a number.
      const float x = float(60 + (i * 23) % 500), y = float(50 + (i * 17) % 360);
      const float size = i % 9 == 4 ? 4e6f : float(30 + i % 40);
      const float r = float(i * 37 % 256), g = float(i * 91 % 256);
      GrVertex v[3] = {Corner(x, y, r, g, 0, 0), Corner(x + size, y + size * 0.3f, r, g, 0, 0),
                       Corner(x + size * 0.2f, y + size, r, g, 0, 0)};
      if (i % 3 == 1) std::swap(v[1], v[2]);
      if (i == 44) v[1].x = NAN;
      if (one_by_one) {
        grDrawTriangle(&v[0], &v[1], &v[2]);
      } else {
        const int ilist[3] = {0, 1, 2};
        grDrawPolygon(3, ilist, v);
      }
    }
    grCullMode(GR_CULL_DISABLE);
    grSstOrigin(GR_ORIGIN_UPPER_LEFT);
    grClipWindow(0, 0, 640, 480);
    grBufferSwap(0);
    return Shown();
  };
  const std::vector<uint32_t> want = frame(false);
  ExpectSame(frame(true), want);
  ExpectSame(frame(true), want);  // the same frame again: damage skipping
}

INSTANTIATE_TEST_SUITE_P(Settings, MidFrame,
                         ::testing::Values(Setup{1, 1, 32, 1}, Setup{2, 1, 32, 1},
                                           Setup{4, 1, 32, 1}, Setup{2, 1.5, 32, 2},
                                           Setup{4, 1.25, 16, 2}, Setup{1, 1.5, 16, 2},
                                           Setup{2, 1, 16, 1}, Setup{1, 2.25, 32, 2}),
                         Name);

}  // namespace
}  // namespace softboard
