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
  EXPECT_EQ(tmu_.ncc[0].yRGB[15], 255);
  EXPECT_EQ(tmu_.ncc[1].yRGB[15], 255);
  EXPECT_EQ(tmu_.ncc[0].iRGB[2][1], 0);
  EXPECT_EQ(tmu_.mode, UnitMode{});
  EXPECT_TRUE(tmu_.mode.mag_bilinear && tmu_.mode.min_bilinear && tmu_.mode.wrap_s &&
              tmu_.mode.wrap_t);
  EXPECT_EQ(tmu_.mode.mipmap, GR_MIPMAP_DISABLE);
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
      for (uint32_t k = bytes; k % 8; k++)
        ASSERT_EQ(tmu_.memory[at + k], 0) << "levels start on 8 bytes, mask " << c.mask;
      at += (bytes + 7) & ~7u;
    }
    EXPECT_EQ(at - address, TextureMemoryBytes(info_.smallLod, info_.largeLod, info_.aspectRatio,
                                               info_.format, c.mask));
    EXPECT_EQ(tmu_.memory[address - 1], 0);
    EXPECT_EQ(tmu_.memory[at], 0) << "nothing past the last level, mask " << c.mask;
  }
}

TEST_F(TextureMemoryTest, TexturesPastTheEndAreRefusedAndNothingWritten) {
  const uint32_t bytes = 96;  // (32 + 8 + 2 + 1) texels at two bytes, each level rounded to 8
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
  EXPECT_EQ(TexelAt(kTextureMemoryBytes - 8), kLevelColour[GR_LOD_1]);
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
    const DecodedTexture* level = tmu_.decoded.get();
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->width, c.width) << "mask " << c.mask;
    EXPECT_EQ(level->height, c.height) << "mask " << c.mask;
    ASSERT_GE(level->texels.size(), size_t(c.width * c.height));
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
  ASSERT_TRUE(DownloadMipMap(tmu_, 96, GR_MIPMAPLEVELMASK_BOTH, info_));  // just after it
  EXPECT_EQ(tmu_.decoded, before);

  GrTexInfo one_texel = {GR_LOD_1, GR_LOD_1, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, texels_.data()};
  ASSERT_TRUE(DownloadMipMap(tmu_, 88, GR_MIPMAPLEVELMASK_EVEN, one_texel));  // its last level
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
    const DecodedTexture* level = tmu_.decoded.get();
    ASSERT_NE(level, nullptr);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(level->texels[i], c.want[i])
          << TextureFormatName(c.format) << " texel " << i << ": got " << Hex(level->texels[i]);
  }
}

// Level by level, in any order, with each mask: the memory a whole
// download writes, and the chain decoded from it level by level.
TEST_F(TextureMemoryTest, LevelDownloadsPlaceEachLevelWhereTheWholeChainWould) {
  for (uint32_t mask : {GR_MIPMAPLEVELMASK_BOTH, GR_MIPMAPLEVELMASK_EVEN, GR_MIPMAPLEVELMASK_ODD}) {
    TextureUnitState whole;
    ResetTextureUnit(whole);
    ResetTextureUnit(tmu_);
    ASSERT_TRUE(DownloadMipMap(whole, 200, mask, info_));
    const uint8_t* level_data = reinterpret_cast<const uint8_t*>(texels_.data());
    for (int lod = info_.largeLod; lod <= info_.smallLod; ++lod) {
      const LevelDownload d{200,
                            lod,
                            info_.largeLod,
                            info_.aspectRatio,
                            info_.format,
                            mask,
                            0,
                            LevelRows(lod, info_.aspectRatio) - 1};
      const bool in_mask = mask & (lod % 2 ? GR_MIPMAPLEVELMASK_ODD : GR_MIPMAPLEVELMASK_EVEN);
      EXPECT_EQ(LevelRefusal(d) == nullptr, in_mask) << "lod " << lod << " mask " << mask;
      if (in_mask) {
        EXPECT_TRUE(DownloadLevel(tmu_, d, level_data));
      }
      level_data += LevelBytes(lod, info_.aspectRatio, info_.format);
    }
    EXPECT_EQ(tmu_.memory, whole.memory) << "mask " << mask;
  }
  // The chain: level n of the texture is its own, or held to the nearest
  // larger level the mask keeps (the smaller one where there is none).
  ASSERT_TRUE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_ODD, info_));
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_ODD, info_));
  const SharedTexture chain = tmu_.decoded;
  ASSERT_EQ(LevelCount(chain.get()), 4);
  const int held_to[4] = {GR_LOD_8, GR_LOD_8, GR_LOD_2, GR_LOD_2};  // odd lods: 5 and 7
  for (int n = 0; n < 4; n++) {
    const SampledTexture t = MakeSampledLevel(chain.get(), n);
    ASSERT_NE(t.texels, nullptr) << n;
    const int lod = held_to[n] == GR_LOD_8 ? 5 : 7;
    EXPECT_EQ(t.texels[0], kLevelArgb[lod]) << "level " << n;
    EXPECT_EQ(t.width, texfile::LevelDimensions(lod, info_.aspectRatio).width) << n;
  }
  EXPECT_FALSE(chain->complete);
}

TEST_F(TextureMemoryTest, PartialDownloadsWriteOnlyTheirRows) {
  // The 8x4 level (lod 5) of a texture at 64, rows 1 and 2 of new texels.
  std::vector<uint16_t> level(32, 0x001F);
  const LevelDownload d{
      64, GR_LOD_8, GR_LOD_8, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH, 1, 2};
  ASSERT_TRUE(DownloadMipMap(tmu_, 64, GR_MIPMAPLEVELMASK_BOTH, info_));
  ASSERT_TRUE(SelectSource(tmu_, 64, GR_MIPMAPLEVELMASK_BOTH, info_));
  const SharedTexture before = tmu_.decoded;
  ASSERT_TRUE(DownloadLevel(tmu_, d, level.data()));
  for (int row = 0; row < 4; row++) {
    const uint16_t want = row == 1 || row == 2 ? 0x001F : kLevelColour[GR_LOD_8];
    for (int x = 0; x < 8; x++) ASSERT_EQ(TexelAt(64 + uint32_t(row * 16 + x * 2)), want) << row;
  }
  EXPECT_NE(tmu_.decoded, before) << "the selected texture is decoded again";
  EXPECT_EQ(tmu_.decoded->texels[8], 0xFF0000FFu);
  EXPECT_EQ(tmu_.decoded->texels[0], kLevelArgb[GR_LOD_8]);
}

TEST_F(TextureMemoryTest, BadLevelDownloadsAreRefusedAndWriteNothing) {
  const LevelDownload good{
      0, GR_LOD_4, GR_LOD_8, GR_ASPECT_2x1, GR_TEXFMT_RGB_565, GR_MIPMAPLEVELMASK_BOTH, 0, 1};
  ASSERT_EQ(LevelRefusal(good), nullptr);
  struct Bad {
    const char* what;
    LevelDownload d;
  };
  LevelDownload d = good;
  std::vector<Bad> cases;
  d.this_lod = GR_LOD_16, cases.push_back({"larger than the largest", d});
  d = good, d.this_lod = 9, cases.push_back({"lod 9", d});
  d = good, d.large_lod = -1, cases.push_back({"large lod -1", d});
  d = good, d.level_mask = GR_MIPMAPLEVELMASK_ODD, cases.push_back({"not in the mask", d});
  d = good, d.level_mask = 0, cases.push_back({"mask 0", d});
  d = good, d.last_row = 2, cases.push_back({"rows past the level", d});
  d = good, d.first_row = -1, cases.push_back({"a negative row", d});
  d = good, d.first_row = 1, d.last_row = 0, cases.push_back({"rows backwards", d});
  d = good, d.format = 7, cases.push_back({"format 7", d});
  d = good, d.aspect = -1, cases.push_back({"aspect -1", d});
  d = good, d.address = kTextureMemoryBytes - 79, cases.push_back({"past the memory", d});
  d = good, d.address = 0xFFFFFFF0u, cases.push_back({"address near 2^32", d});
  for (const Bad& c : cases) {
    EXPECT_NE(LevelRefusal(c.d), nullptr) << c.what;
    EXPECT_FALSE(DownloadLevel(tmu_, c.d, texels_.data())) << c.what;
  }
  EXPECT_FALSE(DownloadLevel(tmu_, good, nullptr)) << "null data";
  EXPECT_TRUE(MemoryIsZero());
  // The last address the 4x2 level fits at: it lies 64 bytes into its texture.
  d = good, d.address = kTextureMemoryBytes - 80;
  EXPECT_EQ(LevelRefusal(d), nullptr);
  d.address++;
  EXPECT_NE(LevelRefusal(d), nullptr);
}

TEST_F(TextureMemoryTest, SizesRoundEachLevelToEightBytes) {
  EXPECT_EQ(TextureMemoryBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, 3),
            131072u + 32768 + 8192 + 2048 + 512 + 128 + 32 + 8 + 8);
  EXPECT_EQ(TextureMemoryBytes(GR_LOD_1, GR_LOD_1, GR_ASPECT_1x1, GR_TEXFMT_P_8, 3), 8u);
  EXPECT_EQ(TextureMemoryBytes(GR_LOD_1, GR_LOD_8, GR_ASPECT_1x8, GR_TEXFMT_P_8, 3),
            8u + 8 + 8 + 8);  // 1x8, 1x4, 1x2, 1x1
  EXPECT_EQ(TexMaxAddress(), kTextureMemoryBytes - 174768);
}

GuTexPalette Palette(uint32_t seed) {
  GuTexPalette p;
  for (uint32_t i = 0; i < 256; i++) p.data[i] = (i * 0x010305u + seed * 0x9E3779B1u) & 0xFFFFFFu;
  return p;
}

TEST_F(TextureMemoryTest, DownloadedPalettesDecodeTheTexturesThatReadThem) {
  const uint8_t indices[4] = {0, 7, 200, 255};
  GrTexInfo p8 = {GR_LOD_2, GR_LOD_2, GR_ASPECT_1x1, GR_TEXFMT_P_8, const_cast<uint8_t*>(indices)};
  ASSERT_TRUE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, p8));
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, p8));
  const SharedTexture grey = tmu_.decoded;
  EXPECT_EQ(grey->texels[1], 0xFF070707u);
  const GuTexPalette first = Palette(1), second = Palette(2);
  ASSERT_TRUE(DownloadTable(tmu_, GR_TEXTABLE_PALETTE, &first));
  const SharedTexture with_first = tmu_.decoded;
  ASSERT_NE(with_first, grey);
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(with_first->texels[size_t(i)], first.data[indices[i]] | 0xFF000000u) << i;
  ASSERT_TRUE(DownloadTable(tmu_, GR_TEXTABLE_PALETTE, &first));
  EXPECT_EQ(tmu_.decoded, with_first) << "the same palette again changes nothing";
  ASSERT_TRUE(DownloadTable(tmu_, GR_TEXTABLE_PALETTE, &second));
  EXPECT_EQ(tmu_.decoded->texels[2], second.data[200] | 0xFF000000u);
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, p8));
  EXPECT_EQ(tmu_.decoded->texels[2], second.data[200] | 0xFF000000u)
      << "selected again, not taken from before the palette changed";
  EXPECT_EQ(with_first->texels[2], first.data[200] | 0xFF000000u)
      << "decoded textures never change";
}

TEST_F(TextureMemoryTest, NccTablesEachDownloadedAndChosen) {
  const uint8_t yiq[4] = {0x00, 0xF0, 0x5A, 0xFF};  // Y4 I2 Q2
  GrTexInfo info = {GR_LOD_2, GR_LOD_2, GR_ASPECT_1x1, GR_TEXFMT_YIQ_422,
                    const_cast<uint8_t*>(yiq)};
  ASSERT_TRUE(DownloadMipMap(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info));
  ASSERT_TRUE(SelectSource(tmu_, 0, GR_MIPMAPLEVELMASK_BOTH, info));
  GuNccTable tables[2] = {};
  for (int k = 0; k < 16; k++) {
    tables[0].yRGB[k] = uint8_t(k * 10);
    tables[1].yRGB[k] = uint8_t(255 - k * 5);
  }
  for (int e = 0; e < 4; e++) {
    for (int c = 0; c < 3; c++) {
      tables[0].iRGB[e][c] = int16_t(e * 20 - 30 + c);
      tables[0].qRGB[e][c] = int16_t(-e * 7 + c * 3);
      tables[1].iRGB[e][c] = int16_t(-256 + e * 100);
      tables[1].qRGB[e][c] = int16_t(255 - e * 60 - c);
    }
  }
  const auto decode = [&](const GuNccTable& t, uint8_t texel) {
    const int y = texel >> 4, i = texel >> 2 & 3, q = texel & 3;
    uint32_t out = 0xFF000000u;
    for (int c = 0; c < 3; c++) {
      const int v = std::clamp(t.yRGB[y] + t.iRGB[i][c] + t.qRGB[q][c], 0, 255);
      out |= uint32_t(v) << (16 - 8 * c);
    }
    return out;
  };
  ASSERT_TRUE(DownloadTable(tmu_, GR_TEXTABLE_NCC1, &tables[1]));
  EXPECT_EQ(tmu_.decoded->texels[1], 0xFFFFFFFFu) << "table 1 loaded, table 0 (grey) in use";
  ASSERT_TRUE(DownloadTable(tmu_, GR_TEXTABLE_NCC0, &tables[0]));
  for (int i = 0; i < 4; i++) EXPECT_EQ(tmu_.decoded->texels[size_t(i)], decode(tables[0], yiq[i]));
  ASSERT_TRUE(SelectNccTable(tmu_, GR_NCCTABLE_NCC1));
  for (int i = 0; i < 4; i++) EXPECT_EQ(tmu_.decoded->texels[size_t(i)], decode(tables[1], yiq[i]));
  EXPECT_FALSE(SelectNccTable(tmu_, 2));
  EXPECT_EQ(tmu_.ncc_table, GR_NCCTABLE_NCC1);
}

TEST_F(TextureMemoryTest, BadTablesAreRefused) {
  GuNccTable ncc{};
  EXPECT_EQ(TableRefusal(GR_TEXTABLE_NCC0, &ncc), nullptr);
  EXPECT_NE(TableRefusal(GR_TEXTABLE_NCC0, nullptr), nullptr);
  EXPECT_NE(TableRefusal(GR_TEXTABLE_PALETTE, nullptr), nullptr);
  EXPECT_NE(TableRefusal(3, &ncc), nullptr);
  EXPECT_NE(TableRefusal(-1, &ncc), nullptr);
  ncc.qRGB[3][2] = 256;
  EXPECT_NE(TableRefusal(GR_TEXTABLE_NCC1, &ncc), nullptr);
  EXPECT_FALSE(DownloadTable(tmu_, GR_TEXTABLE_NCC1, &ncc));
  EXPECT_EQ(tmu_.ncc[1].qRGB[3][2], 0) << "a refused table changes nothing";
  ncc.qRGB[3][2] = -257;
  EXPECT_NE(TableRefusal(GR_TEXTABLE_NCC1, &ncc), nullptr);
}

}  // namespace
}  // namespace softboard
