#include "png_file.h"
#include "under_emulator.h"

#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "texfile/texture_test_support.h"

namespace texfile {
namespace {

using texture_test::Hex;

class PngFileTest : public testing::Test {
 protected:
  void ExpectPixels(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want,
                    int width) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_EQ(got[i], want[i]) << "pixel (" << i % width << ", " << i / width << "): got "
                                 << Hex(got[i]) << ", want " << Hex(want[i]);
  }
  texture_test::TempDir dir_;
  std::vector<uint32_t> pixels_;
  int width_ = 0, height_ = 0;
  std::string error_;
};

TEST_F(PngFileTest, RoundTripsWithAndWithoutAlpha) {
  const std::vector<uint32_t> image = {0x00000000, 0x80FF0000, 0xFF00FF00,
                                       0x120000FF, 0xFFFFFFFF, 0x7F123456};
  const std::string path = dir_.File("a.png");
  ASSERT_TRUE(WritePng(path, image.data(), 3, 2, true, &error_)) << error_;
  ASSERT_TRUE(ReadPng(path, &pixels_, &width_, &height_, &error_)) << error_;
  EXPECT_EQ(width_, 3);
  EXPECT_EQ(height_, 2);
  ExpectPixels(pixels_, image, 3);

  ASSERT_TRUE(WritePng(path, image.data(), 2, 3, false, &error_)) << error_;
  ASSERT_TRUE(ReadPng(path, &pixels_, &width_, &height_, &error_)) << error_;
  std::vector<uint32_t> opaque = image;
  for (uint32_t& p : opaque) p |= 0xFF000000;
  ExpectPixels(pixels_, opaque, 2);
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"a.png"}) << "no temporary file left";
}

// In memory: appended to what the string held, and read back the same at
// every compression level; nothing appended when there is no image.
TEST_F(PngFileTest, EncodesInMemory) {
  std::vector<uint32_t> image(37 * 23);
  for (size_t i = 0; i < image.size(); i++) image[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
  const auto row = [&](int y, uint32_t*) { return image.data() + size_t(y) * 37; };
  for (int level : {1, 6, 9}) {
    std::string png = "kept";
    ASSERT_TRUE(EncodePngInMemory(37, 23, false, row, level, &png, &error_)) << error_;
    ASSERT_EQ(png.rfind("kept\x89PNG", 0), 0u);
    std::ofstream(dir_.File("m.png"), std::ios::binary) << png.substr(4);
    ASSERT_TRUE(ReadPng(dir_.File("m.png"), &pixels_, &width_, &height_, &error_)) << error_;
    EXPECT_EQ(width_, 37);
    ExpectPixels(pixels_, image, 37);
  }
  std::string none = "kept";
  EXPECT_FALSE(EncodePngInMemory(0, 23, false, row, 6, &none, &error_));
  EXPECT_EQ(none, "kept");
}

// Other colour types and depths, written through libpng's own simple API.
TEST_F(PngFileTest, ReadsGreyPaletteAndSixteenBitImages) {
  struct Case {
    const char* name;
    png_uint_32 format;
    std::vector<uint8_t> data;  // row-major samples for a 2x1 image
    std::vector<uint8_t> colormap;
    std::vector<uint32_t> want;
  };
  const uint16_t grey16[2] = {0x0000, 0xFFFF};
  const auto* g16 = reinterpret_cast<const uint8_t*>(grey16);
  const Case cases[] = {
      {"grey", PNG_FORMAT_GRAY, {0x10, 0xE0}, {}, {0xFF101010, 0xFFE0E0E0}},
      {"grey+alpha", PNG_FORMAT_GA, {0x10, 0x80, 0xE0, 0x00}, {}, {0x80101010, 0x00E0E0E0}},
      {"palette",
       PNG_FORMAT_RGB_COLORMAP,
       {1, 0},
       {0x11, 0x22, 0x33, 0xAA, 0xBB, 0xCC},
       {0xFFAABBCC, 0xFF112233}},
      {"grey 16-bit", PNG_FORMAT_LINEAR_Y, {g16, g16 + 4}, {}, {0xFF000000, 0xFFFFFFFF}},
  };
  for (const Case& c : cases) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 1;
    image.format = c.format;
    image.colormap_entries = png_uint_32(c.colormap.size() / 3);
    const std::string path = dir_.File(std::string(c.name) + ".png");
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, c.data.data(), 0,
                                        c.colormap.empty() ? nullptr : c.colormap.data()))
        << c.name << ": " << image.message;
    ASSERT_TRUE(ReadPng(path, &pixels_, &width_, &height_, &error_)) << c.name << ": " << error_;
    ExpectPixels(pixels_, c.want, 2);
  }
}

// An image written row by row: each row is asked for once, in order, and
// what is written is what the rows said.
TEST_F(PngFileTest, RowsAreAskedForOnceEachInOrder) {
  const int width = 5, height = 7;
  std::vector<int> asked;
  const PngRowSource row = [&](int y, uint32_t* scratch) -> const uint32_t* {
    asked.push_back(y);
    for (int x = 0; x < width; ++x) scratch[x] = 0xFF000000u | uint32_t(x * 40) << 16 | uint32_t(y);
    return scratch;
  };
  const std::string path = dir_.File("rows.png");
  ASSERT_TRUE(WritePngRows(path, width, height, false, row, &error_)) << error_;
  EXPECT_EQ(asked, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(ReadPng(path, &pixels_, &width_, &height_, &error_)) << error_;
  std::vector<uint32_t> want;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      want.push_back(0xFF000000u | uint32_t(x * 40) << 16 | uint32_t(y));
  }
  ExpectPixels(pixels_, want, width);
}

// A 2048x2048 image (16 MB as pixels, 12 MB as the file's rows) is written
// with 8 MB to spare: no copy of the whole image is ever made. Run in a process of its own
// whose address space is held; not under AddressSanitizer, which cannot run so.
TEST_F(PngFileTest, AnImageIsWrittenWithoutACopyOfItWhole) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer cannot run with its memory held";
#endif
  if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* made = std::getenv("PNG_FILE_TEST_DIR");  // set again by the test's own process
  const std::string dir = made ? made : dir_.path();
  setenv("PNG_FILE_TEST_DIR", dir.c_str(), 1);
  const auto write = [&] {
    std::ifstream status("/proc/self/status");
    size_t kib = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmSize:", 0) == 0) kib = std::stoul(line.substr(7));
    }
    const rlimit limit{(kib + 8192) * 1024, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    const PngRowSource row = [](int y, uint32_t* scratch) -> const uint32_t* {
      for (int x = 0; x < 2048; ++x) scratch[x] = uint32_t(x * y) | 0xFF000000u;
      return scratch;
    };
    std::string error;
    const bool written = WritePngRows(dir + "/big.png", 2048, 2048, false, row, &error);
    std::filesystem::remove_all(dir_.path());  // this process's own, unused
    std::exit(written ? 0 : 1);
  };
  EXPECT_EXIT(write(), ::testing::ExitedWithCode(0), "^$");
  unsetenv("PNG_FILE_TEST_DIR");
  ASSERT_TRUE(ReadPng(dir + "/big.png", &pixels_, &width_, &height_, &error_)) << error_;
  EXPECT_EQ(pixels_[size_t(2047) * 2048 + 3], (2047u * 3) | 0xFF000000u);
}

TEST_F(PngFileTest, DamagedOrMissingFilesAreRefused) {
  const std::vector<uint32_t> image(64 * 64, 0xFF336699);
  const std::string good = dir_.File("good.png");
  ASSERT_TRUE(WritePng(good, image.data(), 64, 64, false, &error_));
  const auto bytes = texture_test::ReadBytes(good);
  std::vector<std::string> bad = {dir_.File("missing.png"), dir_.path()};
  for (size_t cut :
       {size_t(0), size_t(7), size_t(8), size_t(30), bytes.size() / 2, bytes.size() - 13}) {
    bad.push_back(dir_.File("cut" + std::to_string(cut) + ".png"));
    texture_test::WriteBytes(bad.back(), {bytes.begin(), bytes.begin() + cut});
  }
  auto flipped = bytes;
  flipped[40] ^= 0xFF;  // inside the compressed data: a CRC error
  bad.push_back(dir_.File("flipped.png"));
  texture_test::WriteBytes(bad.back(), flipped);
  bad.push_back(dir_.File("text.png"));
  texture_test::WriteBytes(bad.back(), texture_test::Bytes("not an image at all"));
  for (const std::string& path : bad) {
    pixels_ = {1, 2, 3};
    error_.clear();
    EXPECT_FALSE(ReadPng(path, &pixels_, &width_, &height_, &error_)) << path;
    EXPECT_NE(error_.find(path), std::string::npos) << error_;
    EXPECT_EQ(pixels_, (std::vector<uint32_t>{1, 2, 3})) << "outputs untouched: " << path;
  }
}

TEST_F(PngFileTest, FailedWritesLeaveNoFile) {
  const std::vector<uint32_t> image(4, 0xFFFFFFFF);
  const std::string nowhere = dir_.File("no/such/dir.png");
  EXPECT_FALSE(WritePng(nowhere, image.data(), 2, 2, false, &error_));
  EXPECT_NE(error_.find(nowhere), std::string::npos) << error_;
  EXPECT_FALSE(WritePng(dir_.File("empty.png"), image.data(), 0, 2, false, &error_));
  EXPECT_FALSE(WritePng(dir_.File("null.png"), nullptr, 2, 2, false, &error_));
  EXPECT_TRUE(dir_.Entries().empty());
}

// A write the file system refuses part way (here: past the process's file
// size limit, as a full disk would) gives the system's reason, and no file.
TEST_F(PngFileTest, AWriteThatFailsSaysWhy) {
  if (kUnderEmulator) GTEST_SKIP() << kNotUnderEmulator;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* made = std::getenv("PNG_FILE_TEST_DIR");  // set again by the test's own process
  const std::string dir = made ? made : dir_.path();
  setenv("PNG_FILE_TEST_DIR", dir.c_str(), 1);
  const auto write = [&] {
    if (made) std::filesystem::remove_all(dir_.path());  // this process's own, unused
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::vector<uint32_t> noise(128 * 128);
    uint32_t x = 1;
    for (uint32_t& p : noise) p = x = x * 1664525u + 1013904223u;  // does not compress
    std::string error;
    if (WritePng(dir + "/big.png", noise.data(), 128, 128, true, &error)) std::exit(2);
    std::fputs(error.c_str(), stderr);
    std::exit(0);
  };
  EXPECT_EXIT(write(), ::testing::ExitedWithCode(0),
              "^" + dir + "/big.png: cannot write: File too large$");
  unsetenv("PNG_FILE_TEST_DIR");
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(PngFileTest, SymlinksAreWrittenThroughAndDevicesLeftAlone) {
  const std::vector<uint32_t> image(4, 0xFF102030);
  mkdir(dir_.File("target").c_str(), 0755);
  const std::string link = dir_.File("link.png");
  ASSERT_EQ(symlink("target/shot.png", link.c_str()), 0);
  ASSERT_TRUE(WritePng(link, image.data(), 2, 2, false, &error_)) << error_;
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is kept";
  ASSERT_TRUE(ReadPng(dir_.File("target/shot.png"), &pixels_, &width_, &height_, &error_))
      << error_;
  ExpectPixels(pixels_, image, 2);
  ASSERT_TRUE(WritePng(link, image.data(), 2, 2, false, &error_)) << "and written again";
  EXPECT_EQ(dir_.Entries().size(), 2u) << "no temporary file beside the link";

  // A device is refused, named, and never replaced by a regular file.
  const std::string device = dir_.File("null.png");
  ASSERT_EQ(symlink("/dev/null", device.c_str()), 0);
  EXPECT_FALSE(WritePng(device, image.data(), 2, 2, false, &error_));
  EXPECT_NE(error_.find("not a regular file"), std::string::npos) << error_;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_FALSE(WritePng(dir_.File("target"), image.data(), 2, 2, false, &error_));
  EXPECT_NE(error_.find("is a directory"), std::string::npos) << error_;

  const std::string loop = dir_.File("loop.png");
  ASSERT_EQ(symlink("loop.png", loop.c_str()), 0);
  EXPECT_FALSE(WritePng(loop, image.data(), 2, 2, false, &error_));
  EXPECT_NE(error_.find("symbolic links"), std::string::npos) << error_;
}

TEST_F(PngFileTest, SizeIsJudgedFromTheHeaderBeforeDecoding) {
  const std::vector<uint32_t> image(512 * 256, 0xFF336699);
  const std::string path = dir_.File("big.png");
  ASSERT_TRUE(WritePng(path, image.data(), 512, 256, false, &error_));
  auto bytes = texture_test::ReadBytes(path);
  bytes.resize(60);  // header intact, pixel data gone: decoding would fail
  texture_test::WriteBytes(path, bytes);
  int seen_width = 0, seen_height = 0;
  const PngSizeCheck small_only = [&](int w, int h, std::string* reason) {
    seen_width = w;
    seen_height = h;
    *reason = "too big";
    return false;
  };
  EXPECT_FALSE(ReadPng(path, &pixels_, &width_, &height_, &error_, small_only));
  EXPECT_EQ(error_, path + ": too big");
  EXPECT_EQ(seen_width, 512);
  EXPECT_EQ(seen_height, 256);
}

}  // namespace
}  // namespace texfile
