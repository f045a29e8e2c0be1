#include "texel_formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "texfile/texture_test_support.h"

namespace texfile {
namespace {

using texture_test::Hex;

TEST(WidenBitsTest, RepeatsTheFieldFromTheTop) {
  EXPECT_EQ(WidenBits(0b10110, 5), 0b10110101);
  EXPECT_EQ(WidenBits(0b100001, 6), 0b10000110);
  EXPECT_EQ(WidenBits(0b101, 3), 0b10110110);
  EXPECT_EQ(WidenBits(0b10, 2), 0b10101010);
  EXPECT_EQ(WidenBits(0x9, 4), 0x99);
  EXPECT_EQ(WidenBits(1, 1), 255);
  EXPECT_EQ(WidenBits(0, 1), 0);
  EXPECT_EQ(WidenBits(0x1F, 5), 255);
  EXPECT_EQ(WidenBits(0xFFFF, 4), 255) << "bits above the field are ignored";
}

TEST(LevelGeometryTest, SidesLodsAndAspectsAgree) {
  for (int lod = GR_LOD_256; lod <= GR_LOD_1; ++lod) EXPECT_EQ(LodOfSide(SideOfLod(lod)), lod);
  for (int side : {0, -1, 3, 96, 512}) EXPECT_EQ(LodOfSide(side), -1) << side;
  EXPECT_EQ(SideOfLod(GR_LOD_1 + 1), 0);
  for (int a = GR_ASPECT_8x1; a <= GR_ASPECT_1x8; ++a) {
    const LevelSize ratio = AspectRatio(a);
    EXPECT_EQ(AspectOfRatio(ratio.width, ratio.height), a);
    const LevelSize largest = LevelDimensions(GR_LOD_256, a);
    EXPECT_EQ(AspectOfSize(largest.width, largest.height), a)
        << largest.width << "x" << largest.height;
  }
  EXPECT_EQ(AspectOfSize(256, 128), GR_ASPECT_2x1);
  EXPECT_EQ(AspectOfSize(16, 128), GR_ASPECT_1x8);
  EXPECT_EQ(AspectOfSize(256, 16), -1) << "16:1 is beyond the table";
  EXPECT_EQ(AspectOfSize(48, 16), -1);
  EXPECT_EQ(AspectOfSize(0, 16), -1);
  EXPECT_EQ(AspectOfRatio(4, 2), -1) << "a header's ratio must be in lowest terms";
}

// Texel values (16-bit ones as host-order numbers) and their expected colours.
struct DecodeCase {
  const char* name;
  int format;
  std::vector<uint32_t> texels;
  std::vector<uint32_t> argb;
};
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

class DecodeTest : public testing::TestWithParam<DecodeCase> {
 protected:
  void SetUp() override {
    palette_.fill(0x00ABCDEF);
    palette_[7] = 0x12345678;  // alpha of the palette is never used
    for (int k = 0; k < 16; ++k) ncc_.yRGB[k] = uint8_t(16 * k);
    ncc_.yRGB[3] = 100;
    ncc_.yRGB[15] = 250;
    const int16_t i1[3] = {20, -30, 5}, i3[3] = {10, -255, 0};
    const int16_t q2[3] = {-10, 40, 60}, q3[3] = {5, 0, -20};
    std::memcpy(ncc_.iRGB[1], i1, sizeof i1);
    std::memcpy(ncc_.iRGB[3], i3, sizeof i3);
    std::memcpy(ncc_.qRGB[2], q2, sizeof q2);
    std::memcpy(ncc_.qRGB[3], q3, sizeof q3);
  }
  std::array<uint32_t, 256> palette_{};
  GuNccTable ncc_{};
};

TEST_P(DecodeTest, GivesTheHandComputedColours) {
  const DecodeCase& c = GetParam();
  const int bytes = TexelBytes(c.format);
  std::vector<uint8_t> texels(c.texels.size() * bytes);
  for (size_t i = 0; i < c.texels.size(); ++i) {
    const uint16_t t16 = uint16_t(c.texels[i]);
    const uint8_t t8 = uint8_t(c.texels[i]);
    std::memcpy(&texels[i * bytes], bytes == 2 ? static_cast<const void*>(&t16) : &t8, bytes);
  }
  std::vector<uint32_t> out(c.texels.size(), 0xDEADBEEF);
  DecodeTexels(c.format, texels.data(), int(c.texels.size()), 1, palette_, ncc_, out.data());
  for (size_t i = 0; i < out.size(); ++i)
    EXPECT_EQ(out[i], c.argb[i]) << "texel " << i << " " << Hex(c.texels[i]) << ": got "
                                 << Hex(out[i]) << ", want " << Hex(c.argb[i]);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, DecodeTest,
    testing::Values(
        DecodeCase{"rgb332", GR_TEXFMT_RGB_332, {0xAE, 0x03}, {0xFFB66DAA, 0xFF0000FF}},
        DecodeCase{"argb8332", GR_TEXFMT_ARGB_8332, {0x40AE, 0xFF00}, {0x40B66DAA, 0xFF000000}},
        DecodeCase{"rgb565", GR_TEXFMT_RGB_565, {0xB323, 0x001F}, {0xFFB56518, 0xFF0000FF}},
        DecodeCase{"argb1555", GR_TEXFMT_ARGB_1555, {0xD83F, 0x583F}, {0xFFB508FF, 0x00B508FF}},
        DecodeCase{"argb4444", GR_TEXFMT_ARGB_4444, {0x49C2, 0xF000}, {0x4499CC22, 0xFF000000}},
        DecodeCase{"a8", GR_TEXFMT_ALPHA_8, {0x7B, 0x00}, {0x7B7B7B7B, 0x00000000}},
        DecodeCase{"i8", GR_TEXFMT_INTENSITY_8, {0x7B, 0x00}, {0xFF7B7B7B, 0xFF000000}},
        DecodeCase{"ai44", GR_TEXFMT_ALPHA_INTENSITY_44, {0x3C, 0xF0}, {0x33CCCCCC, 0xFF000000}},
        DecodeCase{
            "ai88", GR_TEXFMT_ALPHA_INTENSITY_88, {0x3C91, 0x00FF}, {0x3C919191, 0x00FFFFFF}},
        DecodeCase{"p8", GR_TEXFMT_P_8, {7, 8}, {0xFF345678, 0xFFABCDEF}},
        DecodeCase{"ap88", GR_TEXFMT_AP_88, {0x8007, 0x0008}, {0x80345678, 0x00ABCDEF}},
        // 0x36: Y 3, I 1, Q 2 -> 100 + (20, -30, 5) + (-10, 40, 60); 0xFF clamps both ways.
        DecodeCase{"yiq", GR_TEXFMT_YIQ_422, {0x36, 0xFF}, {0xFF6E6EA5, 0xFFFF00E6}},
        DecodeCase{"ayiq8422", GR_TEXFMT_AYIQ_8422, {0x2036, 0x00FF}, {0x206E6EA5, 0x00FF00E6}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LevelCase {
  int lod, aspect, width, height;
};

TEST(LevelDimensionsTest, LongerSideFromLodShorterFromAspect) {
  const LevelCase cases[] = {
      {GR_LOD_256, GR_ASPECT_2x1, 256, 128}, {GR_LOD_256, GR_ASPECT_1x8, 32, 256},
      {GR_LOD_128, GR_ASPECT_1x4, 32, 128},  {GR_LOD_4, GR_ASPECT_1x8, 1, 4},
      {GR_LOD_1, GR_ASPECT_8x1, 1, 1},       {GR_LOD_2, GR_ASPECT_4x1, 2, 1},
      {GR_LOD_64, GR_ASPECT_1x1, 64, 64},
  };
  for (const LevelCase& c : cases) {
    const LevelSize size = LevelDimensions(c.lod, c.aspect);
    EXPECT_EQ(size.width, c.width) << "lod " << c.lod << " aspect " << c.aspect;
    EXPECT_EQ(size.height, c.height) << "lod " << c.lod << " aspect " << c.aspect;
  }
  EXPECT_EQ(LevelDimensions(9, GR_ASPECT_1x1).width, 0);
  EXPECT_EQ(LevelDimensions(GR_LOD_1, 7).width, 0);
}

TEST(MipMapBytesTest, CountsEveryLevelOfTheRange) {
  EXPECT_EQ(MipMapBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_2x1, GR_TEXFMT_RGB_565), 87382u);
  EXPECT_EQ(MipMapBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_AP_88), 174762u);
  // 8x1, 4x1, 2x1, 1x1 at one byte a texel.
  EXPECT_EQ(MipMapBytes(GR_LOD_1, GR_LOD_8, GR_ASPECT_8x1, GR_TEXFMT_P_8), 15u);
  EXPECT_EQ(MipMapBytes(GR_LOD_256, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_INTENSITY_8), 65536u);
  EXPECT_EQ(MipMapBytes(GR_LOD_256, GR_LOD_1, GR_ASPECT_1x1, GR_TEXFMT_RGB_565), 0u);
  EXPECT_EQ(MipMapBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, 6), 0u);
}

TEST(FormatNamesTest, EveryFormatRoundTripsAndOthersAreUnknown) {
  for (int format = -1; format < 20; ++format) {
    const char* name = TextureFormatName(format);
    EXPECT_EQ(name != nullptr, IsValidFormat(format)) << format;
    if (name) {
      EXPECT_EQ(TextureFormatFromName(name), format) << name;
    }
  }
  EXPECT_EQ(TextureFormatFromName("RGB565"), -1);
  EXPECT_EQ(TextureFormatFromName("rgb565 "), -1);
  EXPECT_EQ(TextureFormatFromName(""), -1);
}

}  // namespace
}  // namespace texfile
