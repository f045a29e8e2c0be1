#include "raster/texture_memory.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "texel_formats.h"
#include "texfile/texture_test_support.h"

namespace softboard {
namespace {

using texfile::LevelBytes;
using texfile::TextureFormatName;
using texture_test::Hex;

// rgb565 levels 8x4 (lod 5) down to 1x1 (lod 8); every texel of a level holds
// that level's colour.
constexpr uint16_t kLevelColour[] = {0, 0, 0, 0, 0, 0xF800, 0x07E0, 0x001F, 0xFFFF};
constexpr uint32_t kLevelArgb[] = {0, 0, 0, 0, 0, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};

class TextureMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetTextureUnit(tmu_);
    info_ = {GR_LOD_1, GR_LOD_8, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, nullptr};
    for (int lod = GR_LOD_8; lod <= GR_LOD_1; ++lod)
      for (uint32_t n = LevelBytes(lod, GR_ASPECT_2x1, GR_TEXFMT_RGB_565) / 2; n > 0; --n)
        texels_.push_back(kLevelColour[lod]);
    info_.data = texels_.data();
  }
  bool MemoryIsZero() const {
    return std::all_of(tmu_.memory.begin(), tmu_.memory.end(), [](uint8_t b) { return b == 0; });
  }
  uint16_t TexelAt(uint32_t address) const {
    uint16_t t;
    std::memcpy(&t, &tmu_.memory[address], 2);
    return t;
  }
  TextureUnitState tmu_;
  GrTexInfo info_;
  std::vector<uint16_t> texels_;  // 32 + 8 + 2 + 1 texels
};

TEST_F(TextureMemoryTest, StartsClearWithGreyTables) {
  EXPECT_EQ(tmu_.memory.size(), kTextureMemoryBytes);
  EXPECT_TRUE(MemoryIsZero());
  EXPECT_EQ(TexMinAddress(), 0u);
  EXPECT_EQ(tmu_.decoded, nullptr);
  EXPECT_EQ(tmu_.palette[0], 0xFF000000u);
  EXPECT_EQ(tmu_.palette[0x9C], 0xFF9C9C9Cu);
  EXPECT_EQ(tmu_.ncc.yRGB[15], 255);
  EXPECT_EQ(tmu_.ncc.iRGB[2][1], 0);
  EXPECT_TRUE(tmu_.bilinear && tmu_.wrap_s && tmu_.wrap_t);
}

TEST_F(TextureMemoryTest, LevelMasksPickLevelsByLodParity) {
  struct MaskCase {
    uint32_t mask;
    std::vector<int> lods;  // packed in this order from the address
  };
  const MaskCase cases[] = {{GR_MIPMAPLEVELMASK_BOTH, {5, 6, 7, 8}},
                            {GR_MIPMAPLEVELMASK_EVEN, {6, 8}},
                            {GR_MIPMAPLEVELMASK_ODD, {5, 7}}};
  for (const MaskCase& c : cases) {
    ResetTextureUnit(tmu_);
    const uint32_t address = 1000;
    ASSERT_TRUE(DownloadMipMap(tmu_, address, c.mask, info_)) << "mask " << c.mask;
    uint32_t at = address;
    for (int lod : c.lods) {
      const uint32_t bytes = LevelBytes(lod, info_.aspectRatio, info_.format);
      for (uint32_t k = 0; k < bytes; k += 2)
        ASSERT_EQ(TexelAt(at + k), kLevelColour[lod]) << "mask " << c.mask << " lod " << lod;
      at += bytes;
    }
    EXPECT_EQ(at - address, TextureMemoryBytes(info_.smallLod, info_.largeLod, info_.aspectRatio,
                                               info_.format, c.mask));
    EXPECT_EQ(tmu_.memory[address - 1], 0);
    EXPECT_EQ(tmu_.memory[at], 0) << "nothing past the last level, mask " << c.mask;
  }
}

TEST_F(TextureMemoryTest, TexturesPastTheEndAreRefusedAndNothingWritten) {
  const uint32_t bytes = 86;  // (32 + 8 + 2 + 1) texels at two bytes
  ASSERT_EQ(TextureMemoryBytes(GR_LOD_1, GR_LOD_8, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, 3), bytes);
  for (uint32_t address :
       {kTextureMemoryBytes - bytes + 1, kTextureMemoryBytes, 0xFFFFFFFFu, 0xFFFFFFFFu - 40}) {
    EXPECT_FALSE(DownloadMipMap(tmu_, address, GR_MIPMAPLEVELMASK_BOTH, info_)) << address;
    EXPECT_FALSE(SelectSource(tmu_, address, GR_MIPMAPLEVELMASK_BOTH, info_)) << address;
  }
  EXPECT_TRUE(MemoryIsZero());
  EXPECT_FALSE(tmu_.source.valid);

  const uint32_t last = kTextureMemoryBytes - bytes;
  ASSERT_TRUE(DownloadMipMap(tmu_, last, GR_MIPMAPLEVELMASK_BOTH, info_));
  EXPECT_EQ(TexelAt(kTextureMemoryBytes - 2), kLevelColour[GR_LOD_1]);
  ASSERT_TRUE(SelectSource(tmu_, last, GR_MIPMAPLEVELMASK_BOTH, info_));
  ASSERT_NE(tmu_.decoded, nullptr);
  EXPECT_EQ(tmu_.decoded->texels[0], kLevelArgb[GR_LOD_8]);
}

TEST_F(TextureMemoryTest, InvalidTexturesAreRefused) {
  struct Bad {
    const char* what;
    GrTexInfo info;
    uint32_t mask;
  };
  const Bad cases[] = {
      {"lod 9", {9, GR_LOD_8, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, texels_.data()}, 3},
      {"lod -1", {GR_LOD_1, -1, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, texels_.data()}, 3},
      {"large after small",
       {GR_LOD_8, GR_LOD_1, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, texels_.data()},
       3},
      {"aspect 7", {GR_LOD_1, GR_LOD_8, 7, GR_TEXFMT_RGB_565, texels_.data()}, 3},
      {"format 6", {GR_LOD_1, GR_LOD_8, GR_ASPECT_2x1, 6, texels_.data()}, 3},
      {"format 15", {GR_LOD_1, GR_LOD_8, GR_ASPECT_2x1, 15, texels_.data()}, 3},
      {"mask 0", info_, 0},
      {"mask 4", info_, 4},
      {"no level in mask",
       {GR_LOD_1, GR_LOD_1, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, texels_.data()},
       GR_MIPMAPLEVELMASK_ODD},
  };
  for (const Bad& c : cases) {
    EXPECT_FALSE(DownloadMipMap(tmu_, 0, c.mask, c.info)) << c.what;
    EXPECT_FALSE(SelectSource(tmu_, 0, c.mask, c.info)) << c.what;
  }
  GrTexInfo no_data = info_;
  no_data.data = nullptr;
  EXPECT_FALSE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, no_data));
  EXPECT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, no_data)) << "a source reads no data";
  EXPECT_TRUE(
      std::all_of(tmu_.memory.begin(), tmu_.memory.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(TextureMemoryTest, SelectingDecodesTheLargestLevelInTheMask) {
  struct Case {
    uint32_t mask;
    int width, height;
    uint32_t argb;
  };
  const Case cases[] = {{GR_MIPMAPLEVELMASK_BOTH, 8, 4, kLevelArgb[GR_LOD_8]},
                        {GR_MIPMAPLEVELMASK_ODD, 8, 4, kLevelArgb[GR_LOD_8]},
                        {GR_MIPMAPLEVELMASK_EVEN, 4, 2, kLevelArgb[GR_LOD_4]}};
  for (const Case& c : cases) {
    ASSERT_TRUE(DownloadMipMap(tmu_, 4096, c.mask, info_));
    ASSERT_TRUE(SelectSource(tmu_, 4096, c.mask, info_));
    const TextureLevel* level = tmu_.decoded.get();
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->width, c.width) << "mask " << c.mask;
    EXPECT_EQ(level->height, c.height) << "mask " << c.mask;
    ASSERT_EQ(level->texels.size(), size_t(c.width * c.height));
    for (int i = 0; i < c.width * c.height; ++i)
      ASSERT_EQ(level->texels[i], c.argb)
          << "mask " << c.mask << " texel (" << i % c.width << ", " << i / c.width << "): got "
          << Hex(level->texels[i]) << ", want " << Hex(c.argb);
  }
}

// A download over the source decodes it again into a new texture: triangles
// prepared before keep the texture they were prepared with.
TEST_F(TextureMemoryTest, DownloadsOverTheSourceRedecodeOthersDoNot) {
  ASSERT_TRUE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info_));
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info_));
  const SharedTexture before = tmu_.decoded;
  ASSERT_EQ(before->texels[0], kLevelArgb[GR_LOD_8]);

  std::fill(texels_.begin(), texels_.end(), uint16_t(0x07E0));
  ASSERT_TRUE(DownloadMipMap(tmu_, 86, GR_MIPMAPLEVELMASK_BOTH, info_));  // just after it
  EXPECT_EQ(tmu_.decoded, before);

  GrTexInfo one_texel = {GR_LOD_1, GR_LOD_1, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, texels_.data()};
  ASSERT_TRUE(DownloadMipMap(tmu_, 84, GR_MIPMAPLEVELMASK_EVEN, one_texel));  // its last texel
  EXPECT_NE(tmu_.decoded, before);
  EXPECT_EQ(tmu_.decoded->texels[0], kLevelArgb[GR_LOD_8]) << "the 8x4 level is unchanged";

  ASSERT_TRUE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_EVEN, one_texel));
  EXPECT_EQ(tmu_.decoded->texels[0], 0xFF00FF00u);
  EXPECT_EQ(tmu_.decoded->texels[1], kLevelArgb[GR_LOD_8]);
  EXPECT_EQ(before->texels[0], kLevelArgb[GR_LOD_8]) << "a texture once decoded never changes";
}

// Switching among textures decodes each once, and a texture selected again
// is the same object, so a repeated frame compares equal; until its memory is
// written.
TEST_F(TextureMemoryTest, TexturesSelectedAgainAreNotDecodedAgain) {
  ASSERT_TRUE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info_));
  ASSERT_TRUE(DownloadMipMap(tmu_, 4096, GR_MIPMAPLEVELMASK_BOTH, info_));
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info_));
  const SharedTexture first = tmu_.decoded;
  ASSERT_TRUE(SelectSource(tmu_, 4096, GR_MIPMAPLEVELMASK_BOTH, info_));
  const SharedTexture second = tmu_.decoded;
  EXPECT_NE(first, second);
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info_));
  EXPECT_EQ(tmu_.decoded, first);
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_ODD, info_));
  EXPECT_NE(tmu_.decoded, first) << "another mask is another source";

  ASSERT_TRUE(DownloadMipMap(tmu_, 4096, GR_MIPMAPLEVELMASK_BOTH, info_));
  ASSERT_TRUE(SelectSource(tmu_, 4096, GR_MIPMAPLEVELMASK_BOTH, info_));
  EXPECT_NE(tmu_.decoded, second) << "its memory was written";
}

TEST_F(TextureMemoryTest, TableFormatsShowTheGreyRamp) {
  const uint8_t p8[] = {0x00, 0x40, 0xFF, 0x9C};
  const uint8_t yiq[] = {0x00, 0x3F, 0xF0, 0x1B};  // Y fields 0, 3, 15, 1
  struct Case {
    int format;
    const uint8_t* texels;
    uint32_t want[4];
  };
  const Case cases[] = {
      {GR_TEXFMT_P_8, p8, {0xFF000000, 0xFF404040, 0xFFFFFFFF, 0xFF9C9C9C}},
      {GR_TEXFMT_YIQ_422, yiq, {0xFF000000, 0xFF333333, 0xFFFFFFFF, 0xFF111111}},
  };
  for (const Case& c : cases) {
    GrTexInfo info = {GR_LOD_2, GR_LOD_2, GR_ASPECT_1x1, c.format, const_cast<uint8_t*>(c.texels)};
    ASSERT_TRUE(DownloadMipMap(tmu_, 64, GR_MIPMAPLEVELMASK_BOTH, info));
    ASSERT_TRUE(SelectSource(tmu_, 64, GR_MIPMAPLEVELMASK_BOTH, info));
    const TextureLevel* level = tmu_.decoded.get();
    ASSERT_NE(level, nullptr);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(level->texels[i], c.want[i])
          << TextureFormatName(c.format) << " texel " << i << ": got " << Hex(level->texels[i]);
  }
}

}  // namespace
}  // namespace softboard
