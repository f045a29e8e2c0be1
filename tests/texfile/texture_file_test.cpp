#include "texture_file.h"

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "texfile/texture_test_support.h"

namespace texfile {
namespace {

using texture_test::Bytes;
using texture_test::FileBytes;
using texture_test::MakeTexture;

constexpr int kAllFormats[] = {GR_TEXFMT_RGB_332,
                               GR_TEXFMT_YIQ_422,
                               GR_TEXFMT_ALPHA_8,
                               GR_TEXFMT_INTENSITY_8,
                               GR_TEXFMT_ALPHA_INTENSITY_44,
                               GR_TEXFMT_P_8,
                               GR_TEXFMT_ARGB_8332,
                               GR_TEXFMT_AYIQ_8422,
                               GR_TEXFMT_RGB_565,
                               GR_TEXFMT_ARGB_1555,
                               GR_TEXFMT_ARGB_4444,
                               GR_TEXFMT_ALPHA_INTENSITY_88,
                               GR_TEXFMT_AP_88};

// An info record filled with a pattern, to see that a refusal leaves it alone.
Gu3dfInfo Sentinel(void* data) {
  Gu3dfInfo info;
  std::memset(&info, 0x5C, sizeof info);
  info.data = data;
  info.mem_required = 64;
  return info;
}

bool SameBytes(const Gu3dfInfo& a, const Gu3dfInfo& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class EveryFormatTest : public testing::TestWithParam<int> {};

TEST_P(EveryFormatTest, HeaderAndLoadGiveTheWrittenTexture) {
  const auto tex = MakeTexture(GetParam(), GR_LOD_1, GR_LOD_16, GR_ASPECT_1x2);
  const auto bytes = FileBytes(tex);
  Gu3dfInfo info{};
  std::string error;
  ASSERT_TRUE(ReadTextureInfo(bytes.data(), bytes.size(), &info, &error)) << error;
  EXPECT_EQ(info.header.format, GetParam());
  EXPECT_EQ(info.header.width, 8u);
  EXPECT_EQ(info.header.height, 16u);
  EXPECT_EQ(info.header.small_lod, GR_LOD_1);
  EXPECT_EQ(info.header.large_lod, GR_LOD_16);
  EXPECT_EQ(info.header.aspect_ratio, GR_ASPECT_1x2);
  EXPECT_EQ(info.mem_required, tex.texels.size());

  std::vector<uint8_t> texels(info.mem_required);
  info.data = texels.data();
  ASSERT_TRUE(LoadTexture(bytes.data(), bytes.size(), &info, &error)) << error;
  EXPECT_EQ(texels, tex.texels) << "16-bit texels come back in host order";
  if (HasPalette(GetParam())) {
    EXPECT_EQ(0, std::memcmp(info.table.palette.data, tex.palette.data(), 1024));
  }
  if (HasNccTable(GetParam())) {
    EXPECT_EQ(0, std::memcmp(info.table.nccTable.yRGB, tex.ncc.yRGB, 16));
    EXPECT_EQ(0, std::memcmp(info.table.nccTable.iRGB, tex.ncc.iRGB, sizeof tex.ncc.iRGB));
    EXPECT_EQ(0, std::memcmp(info.table.nccTable.qRGB, tex.ncc.qRGB, sizeof tex.ncc.qRGB));
    // I[0] is (-256, -255, -254): three 9-bit fields.
    EXPECT_EQ(info.table.nccTable.packed_data[4], 0x100u << 18 | 0x101u << 9 | 0x102u);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormatTest, testing::ValuesIn(kAllFormats),
                         [](const auto& info) { return TextureFormatName(info.param); });

struct HeaderCase {
  const char* name;
  std::string header;
  int small_lod, large_lod, aspect;
  uint32_t width, height;
};
void PrintTo(const HeaderCase& c, std::ostream* os) {
  *os << c.name;
}

class GoodHeaderTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(GoodHeaderTest, IsAccepted) {
  const HeaderCase& c = GetParam();
  auto bytes = Bytes(c.header);
  const uint32_t texels = MipMapBytes(c.small_lod, c.large_lod, c.aspect, GR_TEXFMT_INTENSITY_8);
  bytes.insert(bytes.end(), texels, uint8_t{0});
  bytes.push_back(0xEE);  // bytes after the last level are ignored
  Gu3dfInfo info{};
  std::string error;
  ASSERT_TRUE(ReadTextureInfo(bytes.data(), bytes.size(), &info, &error)) << error;
  EXPECT_EQ(info.header.small_lod, c.small_lod);
  EXPECT_EQ(info.header.large_lod, c.large_lod);
  EXPECT_EQ(info.header.aspect_ratio, c.aspect);
  EXPECT_EQ(info.header.width, c.width);
  EXPECT_EQ(info.header.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, GoodHeaderTest,
    testing::Values(
        HeaderCase{"Plain", "3df v1.1\ni8\nlod range: 1 256\naspect ratio: 2 1\n", 8, 0, 2, 256,
                   128},
        HeaderCase{"CrLf", "3df v1.0\r\ni8\r\nlod range: 4 4\r\naspect ratio: 1 8\r\n", 6, 6, 6, 1,
                   4},
        HeaderCase{"SpacesAndTabs", " 3df\tv12.34 \ni8\t\nlod  range:\t8 32\naspect ratio:  8\t1\n",
                   5, 3, 0, 32, 4},
        HeaderCase{"OneTexel", "3df v1.0\ni8\nlod range: 1 1\naspect ratio: 1 1\n", 8, 8, 3, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
  const char* name;
  std::string file;
};
void PrintTo(const BadCase& c, std::ostream* os) {
  *os << c.name;
}

class BadFileTest : public testing::TestWithParam<BadCase> {};

TEST_P(BadFileTest, IsRefusedWithAReasonAndNothingWritten) {
  auto bytes = Bytes(GetParam().file);
  bytes.resize(bytes.size() + 200000, 0);  // never short of texels: the header is at fault
  std::vector<uint8_t> texels(64, 0xA5);
  Gu3dfInfo info = Sentinel(texels.data());
  const Gu3dfInfo before = info;
  std::string error;
  EXPECT_FALSE(ReadTextureInfo(bytes.data(), bytes.size(), &info, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(SameBytes(info, before));
  error.clear();
  EXPECT_FALSE(LoadTexture(bytes.data(), bytes.size(), &info, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(SameBytes(info, before));
  EXPECT_EQ(texels, std::vector<uint8_t>(64, 0xA5));
}

const std::string kRest = "rgb565\nlod range: 1 1\naspect ratio: 1 1\n";

INSTANTIATE_TEST_SUITE_P(
    Headers, BadFileTest,
    testing::Values(
        BadCase{"WrongMagic", "3dg v1.0\n" + kRest},
        BadCase{"UpperCaseMagic", "3DF v1.0\n" + kRest}, BadCase{"NoVersion", "3df\n" + kRest},
        BadCase{"VersionWithoutV", "3df 1.0\n" + kRest},
        BadCase{"VersionWithoutDot", "3df v1\n" + kRest},
        BadCase{"VersionNotDigits", "3df v1.x\n" + kRest},
        BadCase{"SplitVersion", "3df v 1.0\n" + kRest},
        BadCase{"UnknownFormat", "3df v1.0\nrgb555\nlod range: 1 1\naspect ratio: 1 1\n"},
        BadCase{"UpperCaseFormat", "3df v1.0\nRGB565\nlod range: 1 1\naspect ratio: 1 1\n"},
        BadCase{"TwoFormats", "3df v1.0\nrgb565 i8\nlod range: 1 1\naspect ratio: 1 1\n"},
        BadCase{"SizeNotPowerOfTwo", "3df v1.0\ni8\nlod range: 3 256\naspect ratio: 1 1\n"},
        BadCase{"SizeZero", "3df v1.0\ni8\nlod range: 0 256\naspect ratio: 1 1\n"},
        BadCase{"SizeTooLarge", "3df v1.0\ni8\nlod range: 512 512\naspect ratio: 1 1\n"},
        BadCase{"SizeNegative", "3df v1.0\ni8\nlod range: -1 2\naspect ratio: 1 1\n"},
        BadCase{"SizeHuge", "3df v1.0\ni8\nlod range: 1 4294967552\naspect ratio: 1 1\n"},
        BadCase{"SmallAboveLarge", "3df v1.0\ni8\nlod range: 256 1\naspect ratio: 1 1\n"},
        BadCase{"OneSize", "3df v1.0\ni8\nlod range: 1\naspect ratio: 1 1\n"},
        BadCase{"NoRangeWord", "3df v1.0\ni8\nlod: 1 1\naspect ratio: 1 1\n"},
        BadCase{"AspectThreeToOne", "3df v1.0\ni8\nlod range: 1 1\naspect ratio: 3 1\n"},
        BadCase{"AspectSixteenToOne", "3df v1.0\ni8\nlod range: 1 1\naspect ratio: 1 16\n"},
        BadCase{"AspectNotReduced", "3df v1.0\ni8\nlod range: 1 1\naspect ratio: 2 2\n"},
        BadCase{"AspectExtraToken", "3df v1.0\ni8\nlod range: 1 1\naspect ratio: 1 1 1\n"},
        BadCase{"LinesSwapped", "3df v1.0\ni8\naspect ratio: 1 1\nlod range: 1 1\n"},
        BadCase{"NulInHeader",
                std::string("3df v1.0\ni8\0\nlod range: 1 1\naspect ratio: 1 1\n", 45)},
        BadCase{"HugeHeader", "3df v1.0\n" + std::string(600, ' ') + kRest},
        BadCase{"NoLineEnds", std::string(100000, 'x')}),
    [](const auto& info) { return std::string(info.param.name); });

// Every prefix of a valid file is refused by both calls: header, table and texels.
class TruncationTest : public testing::TestWithParam<int> {};

TEST_P(TruncationTest, EveryShorterPrefixIsRefused) {
  const auto bytes = FileBytes(MakeTexture(GetParam(), GR_LOD_1, GR_LOD_4, GR_ASPECT_2x1));
  std::vector<uint8_t> texels(256);
  for (size_t size = 0; size < bytes.size(); ++size) {
    Gu3dfInfo info{};
    info.data = texels.data();
    info.mem_required = uint32_t(texels.size());
    std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + size);  // exact-size buffer for ASan
    std::string error;
    EXPECT_FALSE(ReadTextureInfo(prefix.data(), size, &info, &error)) << "size " << size;
    EXPECT_FALSE(LoadTexture(prefix.data(), size, &info, &error)) << "size " << size;
  }
  Gu3dfInfo info{};
  EXPECT_TRUE(ReadTextureInfo(bytes.data(), bytes.size(), &info, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Tables, TruncationTest,
                         testing::Values(GR_TEXFMT_P_8, GR_TEXFMT_AYIQ_8422, GR_TEXFMT_ARGB_1555),
                         [](const auto& info) { return TextureFormatName(info.param); });

TEST(NccTableTest, EntriesOutsideTheirRangesAreRefused) {
  struct Entry {
    int index;  // 0..15 Y, 16..27 I, 28..39 Q
    int value;
    bool ok;
  };
  const Entry entries[] = {{0, 255, true},   {5, 256, false},    {15, -1, false},
                           {16, -256, true}, {17, -257, false},  {39, 255, true},
                           {30, 256, false}, {28, -32768, false}};
  for (const Entry& e : entries) {
    auto bytes = FileBytes(MakeTexture(GR_TEXFMT_YIQ_422, GR_LOD_1, GR_LOD_1, GR_ASPECT_1x1));
    const size_t table = bytes.size() - 80 - 1;
    bytes[table + 2 * e.index] = uint8_t(uint16_t(e.value) >> 8);
    bytes[table + 2 * e.index + 1] = uint8_t(e.value);
    Gu3dfInfo info{};
    EXPECT_EQ(ReadTextureInfo(bytes.data(), bytes.size(), &info, nullptr), e.ok)
        << "entry " << e.index << " = " << e.value;
  }
}

TEST(LoadTest, TrustsOnlyTheFileAndTheBuffer) {
  const auto bytes = FileBytes(MakeTexture(GR_TEXFMT_RGB_565, GR_LOD_1, GR_LOD_2, GR_ASPECT_1x1));
  std::vector<uint8_t> texels(10, 0xA5);  // 2x2 + 1x1 at two bytes: exactly 10
  Gu3dfInfo info = Sentinel(nullptr);
  std::string error;
  EXPECT_FALSE(LoadTexture(bytes.data(), bytes.size(), &info, &error)) << "no buffer";

  info = Sentinel(texels.data());
  info.mem_required = 9;
  EXPECT_FALSE(LoadTexture(bytes.data(), bytes.size(), &info, &error)) << "buffer too small";
  EXPECT_EQ(texels, std::vector<uint8_t>(10, 0xA5));

  info = Sentinel(texels.data());  // header fields are garbage: the file's are used
  info.mem_required = 10;
  ASSERT_TRUE(LoadTexture(bytes.data(), bytes.size(), &info, &error)) << error;
  EXPECT_EQ(info.header.large_lod, GR_LOD_2);
  EXPECT_EQ(info.header.format, GR_TEXFMT_RGB_565);
  EXPECT_EQ(info.mem_required, 10u);
  EXPECT_FALSE(LoadTexture(bytes.data(), bytes.size(), nullptr, &error));
}

class TextureFilesTest : public testing::Test {
 protected:
  texture_test::TempDir dir_;
  std::string error_;
  Gu3dfInfo info_{};
};

TEST_F(TextureFilesTest, ReadsAGoodFileAndIgnoresTrailingBytes) {
  const auto tex = MakeTexture(GR_TEXFMT_AP_88, GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1);
  auto bytes = FileBytes(tex);
  bytes.resize(bytes.size() + (1 << 20), 0x77);
  const std::string path = dir_.File("big.3df");
  texture_test::WriteBytes(path, bytes);
  ASSERT_TRUE(ReadTextureFileInfo(path.c_str(), &info_, &error_)) << error_;
  EXPECT_EQ(info_.mem_required, 174762u);
  std::vector<uint8_t> texels(info_.mem_required);
  info_.data = texels.data();
  ASSERT_TRUE(LoadTextureFile(path.c_str(), &info_, &error_)) << error_;
  EXPECT_EQ(texels, tex.texels);
}

TEST_F(TextureFilesTest, RefusesWhatIsNotAReadableFile) {
  const std::string empty = dir_.File("empty.3df"), missing = dir_.File("missing.3df");
  const std::string fifo = dir_.File("fifo.3df");
  texture_test::WriteBytes(empty, {});
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // must not wait for a writer
  std::vector<uint8_t> texels(16);
  for (const std::string& path : {empty, missing, dir_.path(), fifo}) {
    info_.data = texels.data();
    info_.mem_required = 16;
    error_.clear();
    EXPECT_FALSE(ReadTextureFileInfo(path.c_str(), &info_, &error_)) << path;
    EXPECT_NE(error_.find(path), std::string::npos) << "the reason names the file: " << error_;
    EXPECT_FALSE(LoadTextureFile(path.c_str(), &info_, &error_)) << path;
  }
  EXPECT_FALSE(ReadTextureFileInfo(nullptr, &info_, &error_));
  EXPECT_FALSE(ReadTextureFileInfo(empty.c_str(), nullptr, &error_));
}

}  // namespace
}  // namespace texfile
