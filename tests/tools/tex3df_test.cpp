#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "png_file.h"
#include "tex3df_codec.h"
#include "texel_formats.h"
#include "texfile/texture_test_support.h"

namespace tex3df {
namespace {

using texture_test::Hex;
using texture_test::TempDir;

constexpr int kEncodable[] = {
    GR_TEXFMT_RGB_565,     GR_TEXFMT_ARGB_1555,          GR_TEXFMT_ARGB_4444,
    GR_TEXFMT_RGB_332,     GR_TEXFMT_ARGB_8332,          GR_TEXFMT_ALPHA_8,
    GR_TEXFMT_INTENSITY_8, GR_TEXFMT_ALPHA_INTENSITY_44, GR_TEXFMT_ALPHA_INTENSITY_88};

void ExpectSameImage(const Image& got, const Image& want) {
  ASSERT_EQ(got.width, want.width);
  ASSERT_EQ(got.height, want.height);
  for (size_t i = 0; i < want.pixels.size(); ++i)
    ASSERT_EQ(got.pixels[i], want.pixels[i])
        << "pixel (" << i % want.width << ", " << i / want.width << "): got " << Hex(got.pixels[i])
        << ", want " << Hex(want.pixels[i]);
}

// A 16x8 image of colours the format holds exactly: the decodings of many
// different texels.
Image ExactImage(int format) {
  Image image{16, 8, {}};
  const std::array<uint32_t, 256> palette{};
  const GuNccTable ncc{};
  for (uint32_t i = 0; i < 128; ++i) {
    const uint16_t t16 = uint16_t(i * 517 + 3);
    const uint8_t t8 = uint8_t(i * 2 + 1);
    uint32_t argb;
    texfile::DecodeTexels(
        format, texfile::TexelBytes(format) == 2 ? reinterpret_cast<const uint8_t*>(&t16) : &t8, 1,
        1, palette, ncc, &argb);
    image.pixels.push_back(argb);
  }
  return image;
}

class EncodeFormatTest : public testing::TestWithParam<int> {};

TEST_P(EncodeFormatTest, ExactColoursSurviveEncodeWriteReadDecode) {
  const Image image = ExactImage(GetParam());
  Texture3df tex;
  std::string error;
  ASSERT_TRUE(EncodeTexture(image, GetParam(), true, &tex, &error)) << error;
  EXPECT_EQ(tex.large_lod, GR_LOD_16);
  EXPECT_EQ(tex.small_lod, GR_LOD_1);
  EXPECT_EQ(tex.aspect, GR_ASPECT_2x1);
  TempDir dir;
  ASSERT_TRUE(Write3dfFile(dir.File("t.3df"), tex, &error)) << error;
  Texture3df read;
  ASSERT_TRUE(Read3dfFile(dir.File("t.3df"), &read, &error)) << error;
  EXPECT_EQ(LevelCount(read), 5);
  ExpectSameImage(DecodeLevel(read, 0), image);
}

INSTANTIATE_TEST_SUITE_P(Formats, EncodeFormatTest, testing::ValuesIn(kEncodable),
                         [](const auto& info) { return texfile::TextureFormatName(info.param); });

TEST(EncodeTexelTest, EachChannelGoesToTheNearestWidenedValue) {
  for (int v = 0; v < 256; ++v) {
    const uint32_t grey = 0xFF000000u | uint32_t(v) * 0x010101u;
    const uint32_t t = EncodeTexel(GR_TEXFMT_RGB_565, grey);
    const int red = texfile::WidenBits(t >> 11, 5), green = texfile::WidenBits(t >> 5, 6);
    for (uint32_t f = 0; f < 32; ++f)
      ASSERT_LE(std::abs(red - v), std::abs(texfile::WidenBits(f, 5) - v)) << "value " << v;
    for (uint32_t f = 0; f < 64; ++f)
      ASSERT_LE(std::abs(green - v), std::abs(texfile::WidenBits(f, 6) - v)) << "value " << v;
  }
  EXPECT_EQ(EncodeTexel(GR_TEXFMT_ARGB_1555, 0x7FFFFFFF) >> 15, 0u);
  EXPECT_EQ(EncodeTexel(GR_TEXFMT_ARGB_1555, 0x80FFFFFF) >> 15, 1u);
  EXPECT_EQ(EncodeTexel(GR_TEXFMT_INTENSITY_8, 0xFFFF0000), 76u) << "intensity from luminance";
  EXPECT_EQ(EncodeTexel(GR_TEXFMT_ALPHA_8, 0x5A123456), 0x5Au) << "a8 keeps the alpha";
}

TEST(MipChainTest, BoxFilterHalvesEachSideDownToOne) {
  const Image image{4,
                    2,
                    {0xFF000000, 0xFF040404, 0x00FF0000, 0x0000FF00,  // row 0
                     0xFF080808, 0xFF0C0C0D, 0x00FF0000, 0x000000FF}};
  const auto chain = BuildMipChain(image, true);
  ASSERT_EQ(chain.size(), 3u);
  ExpectSameImage(chain[1], {2, 1, {0xFF060606, 0x00804040}});  // (a+b+c+d+2)/4 each channel
  ExpectSameImage(chain[2], {1, 1, {0x80432323}});              // a side of 1 averages the pair
  EXPECT_EQ(BuildMipChain(image, false).size(), 1u);

  const Image tall{1, 4, {0xFF000000, 0xFF000002, 0xFF000010, 0xFF000020}};
  const auto column = BuildMipChain(tall, true);
  ASSERT_EQ(column.size(), 3u);
  ExpectSameImage(column[1], {1, 2, {0xFF000001, 0xFF000018}});
  ExpectSameImage(column[2], {1, 1, {0xFF00000D}});
}

TEST(CheckTextureSizeTest, PowersOfTwoUpTo256WithinEightToOne) {
  struct Case {
    int width, height;
    bool ok;
  };
  const Case cases[] = {{256, 128, true}, {1, 1, true},      {1, 8, true},  {256, 32, true},
                        {256, 16, false}, {512, 256, false}, {3, 4, false}, {0, 0, false},
                        {-4, 4, false},   {128, 129, false}};
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(CheckTextureSize(c.width, c.height, &error), c.ok) << c.width << "x" << c.height;
    if (!c.ok) {
      EXPECT_NE(error.find("powers of two"), std::string::npos) << error;
    }
  }
}

TEST(TableFormatsTest, DecodeUsesTheFilesOwnTable) {
  for (int format : {GR_TEXFMT_P_8, GR_TEXFMT_AP_88, GR_TEXFMT_YIQ_422, GR_TEXFMT_AYIQ_8422}) {
    const Texture3df tex = texture_test::MakeTexture(format, GR_LOD_2, GR_LOD_4, GR_ASPECT_1x1);
    TempDir dir;
    std::string error;
    ASSERT_TRUE(Write3dfFile(dir.File("t.3df"), tex, &error)) << error;
    Texture3df read;
    ASSERT_TRUE(Read3dfFile(dir.File("t.3df"), &read, &error)) << error;
    for (int level = 0; level < LevelCount(tex); ++level)
      ExpectSameImage(DecodeLevel(read, level), DecodeLevel(tex, level));
    EXPECT_TRUE(DecodeLevel(read, LevelCount(tex)).pixels.empty());
  }
}

// The real tool, run as a user would.
class Tex3dfToolTest : public testing::Test {
 protected:
  struct Result {
    int status;
    std::string out, err;
  };
  Result Run(const std::string& args) {
    const std::string out = dir_.File("stdout"), err = dir_.File("stderr");
    const int raw = std::system(
        (std::string(TEX3DF_PATH) + " " + args + " >" + out + " 2>" + err + " </dev/null").c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text(out), Text(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
  }
  static std::string Text(const std::string& path) {
    const auto bytes = texture_test::ReadBytes(path);
    return {bytes.begin(), bytes.end()};
  }
  std::string Png(const std::string& name, const Image& image) {
    const std::string path = dir_.File(name);
    std::string error;
    EXPECT_TRUE(
        texfile::WritePng(path, image.pixels.data(), image.width, image.height, true, &error))
        << error;
    return path;
  }
  TempDir dir_;
};

TEST_F(Tex3dfToolTest, EncodeDecodeAndInfo) {
  const Image image = ExactImage(GR_TEXFMT_ARGB_4444);
  const std::string in = Png("in.png", image);
  const std::string tex = dir_.File("t.3df"), out = dir_.File("out.png");
  ASSERT_EQ(Run("encode " + in + " " + tex + " --format argb4444").status, 0);
  const Result decoded = Run("decode " + tex + " " + out);
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  Image back;
  std::string error;
  ASSERT_TRUE(texfile::ReadPng(out, &back.pixels, &back.width, &back.height, &error)) << error;
  ExpectSameImage(back, image);

  ASSERT_EQ(Run("decode " + tex + " " + out + " --level 4").status, 0);
  ASSERT_TRUE(texfile::ReadPng(out, &back.pixels, &back.width, &back.height, &error));
  EXPECT_EQ(back.width, 1);
  EXPECT_EQ(back.height, 1);

  const Result info = Run("info " + tex);
  EXPECT_EQ(info.status, 0);
  for (const char* line :
       {"format: argb4444\n", "size: 16x8\n", "lod range: 1 16", "aspect ratio: 2 1\n",
        "levels: 5: 16x8 8x4 4x2 2x1 1x1\n", "bytes: 342 of texels"})
    EXPECT_NE(info.out.find(line), std::string::npos) << "missing \"" << line << "\" in\n"
                                                      << info.out;

  ASSERT_EQ(Run("encode --no-mipmaps " + in + " " + tex).status, 0);
  EXPECT_NE(Run("info " + tex).out.find("levels: 1: 16x8\n"), std::string::npos);
}

TEST_F(Tex3dfToolTest, ErrorsNameTheProblemAndLeaveNoOutput) {
  const std::string in = Png("in.png", ExactImage(GR_TEXFMT_RGB_565));
  const std::string odd = Png("odd.png", Image{3, 2, std::vector<uint32_t>(6, 0xFFFFFFFF)});
  const std::string tex = dir_.File("t.3df");
  ASSERT_EQ(Run("encode " + in + " " + tex).status, 0);
  const std::string broken = dir_.File("broken.3df");
  auto bytes = texture_test::ReadBytes(tex);
  bytes.resize(bytes.size() - 1);
  texture_test::WriteBytes(broken, bytes);
  const std::string out = dir_.File("out");
  texture_test::WriteBytes(dir_.File("kept"), texture_test::Bytes("old"));

  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"", 2, "usage:"},
      {"shrink a b", 2, "unknown command \"shrink\""},
      {"encode " + in, 2, "takes two files"},
      {"encode " + in + " " + out + " --format yiq", 2, "unknown --format \"yiq\""},
      {"encode " + in + " " + out + " --format", 2, "--format needs a value"},
      {"encode " + in + " " + out + " --level 1", 2, "unknown option \"--level\""},
      {"info " + tex + " " + tex, 2, "takes one file"},
      {"encode " + dir_.File("missing.png") + " " + out, 1, dir_.File("missing.png")},
      {"encode " + tex + " " + out, 1, tex + ": not a PNG file"},
      {"encode " + odd + " " + out, 1, odd + ": image is 3x2"},
      {"encode " + odd + " " + dir_.File("kept"), 1, "powers of two"},
      {"encode " + in + " " + dir_.File("no/dir/t.3df"), 1, dir_.File("no/dir/t.3df")},
      {"decode " + tex + " " + out + " --level 5", 1, "no level \"5\"; it has levels 0 to 4"},
      {"decode " + tex + " " + out + " --level x", 1, "no level \"x\""},
      {"decode " + tex + " " + out + " --level ''", 1, "no level \"\""},
      {"decode " + tex + " " + out + " --level -0", 1, "no level \"-0\""},
      {"decode " + broken + " " + out, 1, broken + ": file ends inside the texels"},
      {"decode " + dir_.path() + " " + out, 1, dir_.path() + ": is a directory"},
      {"info " + broken, 1, broken + ": file ends inside the texels"},
  };
  for (const Case& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos)
        << "tex3df " << c.args << "\nwanted \"" << c.message << "\" in:\n"
        << r.err;
    EXPECT_TRUE(r.out.empty()) << c.args;
  }
  const auto entries = dir_.Entries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "out"), 0) << "no partial output";
  EXPECT_EQ(entries.size(), 5u) << "only the inputs, no temporary files";
  EXPECT_EQ(Text(dir_.File("kept")), "old");
}

// Names and arguments are shown escaped: a hostile file name cannot act on the
// terminal the tool prints to.
TEST_F(Tex3dfToolTest, NamesAndArgumentsArePrintedEscaped) {
  const std::string hostile = "\x1b[2J\x9b;m\xff.3df";
  texture_test::WriteBytes(
      dir_.File(hostile),
      texture_test::Bytes("3df v1.0\nnope\x1b[5m\nlod range: 1 1\naspect ratio: 1 1\n"));
  const Result info = Run("info '" + dir_.File(hostile) + "'");
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.err, "tex3df: " + dir_.File("\\x1B[2J\\x9B;m\\xFF.3df") +
                          ": unknown texel format \"nope\\x1B[5m\"\n");
  const Result command = Run("$(printf 'x\\033]0;t\\007')");
  EXPECT_EQ(command.status, 2);
  EXPECT_EQ(command.err.rfind("tex3df: unknown command \"x\\x1B]0;t\\x07\"\n", 0), 0u)
      << command.err;
}

TEST_F(Tex3dfToolTest, HelpPrintsTheUsageAndSucceeds) {
  for (const char* flag : {"--help", "-h", "encode --help"}) {
    const Result r = Run(flag);
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_EQ(r.out.rfind("usage: tex3df encode", 0), 0u) << flag << ": " << r.out;
    EXPECT_TRUE(r.err.empty()) << flag;
  }
}

TEST(DefaultTextureTest, IsA256x128Rgb565ChainThatShowsFlips) {
  Texture3df tex;
  std::string error;
  ASSERT_TRUE(Read3dfFile(DEFAULT_TEXTURE_PATH, &tex, &error)) << error;
  EXPECT_EQ(tex.format, GR_TEXFMT_RGB_565);
  EXPECT_EQ(tex.large_lod, GR_LOD_256);
  EXPECT_EQ(tex.small_lod, GR_LOD_1);
  EXPECT_EQ(tex.aspect, GR_ASPECT_2x1);
  const Image top = DecodeLevel(tex, 0);
  auto differing = [&](auto mirror) {
    int count = 0;
    for (int y = 0; y < top.height; ++y)
      for (int x = 0; x < top.width; ++x)
        count += top.pixels[y * top.width + x] != top.pixels[mirror(x, y)];
    return count;
  };
  const int n = top.width * top.height;
  EXPECT_GT(differing([&](int x, int y) { return y * top.width + (top.width - 1 - x); }), n / 2);
  EXPECT_GT(differing([&](int x, int y) { return (top.height - 1 - y) * top.width + x; }), n / 2);
}

}  // namespace
}  // namespace tex3df
