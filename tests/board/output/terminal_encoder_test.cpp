// What each way of drawing sends, taken apart and decoded: kitty's chunks
// inflated, iTerm2's PNG read, the cells' colours, sixel's frame.
#include "output/terminal_encoder.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "output/terminal_images.h"
#include "png_file.h"

namespace softboard {
namespace {

// A 4 x 2 box of 10 x 20 cells at column 2, row 3: a picture of 40 x 40.
CellLayout Box() {
  CellLayout layout;
  layout.column = 2;
  layout.row = 3;
  layout.columns = 4;
  layout.rows = 2;
  layout.width = layout.frame_width = 40;
  layout.height = layout.frame_height = 40;
  return layout;
}

Band Whole(const CellLayout& layout) {
  return {0, layout.rows, 0, layout.height};
}

// A picture whose every pixel differs from its neighbours.
std::vector<uint32_t> Noise(size_t n, uint32_t seed = 1) {
  std::vector<uint32_t> picture(n);
  for (size_t i = 0; i < n; i++) picture[i] = 0xFF000000u | uint32_t((i + seed) * 2654435761u >> 8);
  return picture;
}

std::string Encode(FrameEncoder& encoder, const std::vector<uint32_t>& picture, int quality = 0,
                   const CellLayout& layout = Box(), int index = 0) {
  std::vector<std::string> pieces;
  EXPECT_TRUE(
      encoder.Encode(picture.data(), layout, Whole(layout), index, 10, 20, quality, &pieces));
  std::string out;
  for (const std::string& piece : pieces) out += piece;
  return out;
}

int Key(const std::string& keys, const std::string& name) {
  const size_t at = ("," + keys).find("," + name + "=");
  return at == std::string::npos ? -1 : std::atoi(keys.c_str() + at + name.size() + 1);
}

// A kitty image taken apart as kitty reads it: keys from the first chunk,
// the chunks' base64 joined, decoded and inflated.
struct Kitty {
  std::string keys;
  std::vector<uint8_t> rgb;
  int chunks = 0;
  bool last_chunk_ends = false;
};
Kitty ReadKitty(const std::string& out) {
  Kitty k;
  std::string base64;
  for (size_t at = out.find("\x1b_G"); at != std::string::npos; at = out.find("\x1b_G", at + 1)) {
    const size_t end = out.find("\x1b\\", at), semicolon = out.find(';', at);
    if (semicolon > end) continue;  // a command with no payload (a delete)
    const std::string keys = out.substr(at + 3, semicolon - at - 3);
    if (k.chunks++ == 0) k.keys = keys;
    const std::string payload = out.substr(semicolon + 1, end - semicolon - 1);
    EXPECT_LE(payload.size(), 4096u);
    if (Key(keys, "m") == 1) {
      EXPECT_EQ(payload.size() % 4, 0u) << "only the last chunk is short";
    }
    k.last_chunk_ends = Key(keys, "m") == 0;
    base64 += payload;
  }
  std::string packed;
  unsigned bits = 0;
  int count = 0;
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (char c : base64) {
    if (c == '=') break;
    bits = bits << 6 | unsigned(kDigits.find(c));
    if ((count += 6) >= 8) packed += char(bits >> (count -= 8));
  }
  k.rgb.resize(size_t(std::max(0, Key(k.keys, "s") * Key(k.keys, "v") * 3)));
  uLongf size = uLongf(k.rgb.size());
  EXPECT_EQ(uncompress(k.rgb.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                       uLong(packed.size())),
            Z_OK);
  EXPECT_EQ(size, k.rgb.size());
  return k;
}

TEST(TerminalEncoder, KittyImagesAreZlibRgbThatInflateToThePicture) {
  FrameEncoder encoder(TerminalMode::kKitty, CellColors::kTruecolor);
  // Large enough for several chunks, and a size no chunk divides.
  CellLayout layout = Box();
  layout.width = layout.frame_width = 97;
  layout.height = layout.frame_height = 83;
  const std::vector<uint32_t> picture = Noise(97 * 83);
  const std::string out = Encode(encoder, picture, 0, layout);
  EXPECT_EQ(out.rfind("\x1b[4;3H\x1b_G", 0), 0u) << "at the box's corner";
  const Kitty k = ReadKitty(out);
  EXPECT_GT(k.chunks, 2);
  EXPECT_TRUE(k.last_chunk_ends);
  EXPECT_NE(k.keys.find("a=T,"), std::string::npos);
  EXPECT_EQ(Key(k.keys, "f"), 24);
  EXPECT_NE(k.keys.find(",o=z,"), std::string::npos);
  EXPECT_EQ(Key(k.keys, "q"), 2);
  EXPECT_EQ(Key(k.keys, "C"), 1);
  EXPECT_EQ(Key(k.keys, "s"), 97);
  EXPECT_EQ(Key(k.keys, "v"), 83);
  EXPECT_EQ(Key(k.keys, "c"), 4);
  EXPECT_EQ(Key(k.keys, "r"), 2);
  ASSERT_EQ(k.rgb.size(), picture.size() * 3);
  for (size_t i = 0; i < picture.size(); i++) {
    const uint32_t got =
        uint32_t(k.rgb[i * 3]) << 16 | uint32_t(k.rgb[i * 3 + 1]) << 8 | k.rgb[i * 3 + 2];
    ASSERT_EQ(got, picture[i] & 0xFFFFFF) << "pixel " << i;
  }
}

// Each band is an image of its own; the next one of a band goes up before
// the one it replaces is deleted, and a clear deletes them all.
TEST(TerminalEncoder, KittyBandsReplaceTheirOwnImages) {
  FrameEncoder encoder(TerminalMode::kKitty, CellColors::kTruecolor);
  const std::vector<uint32_t> picture = Noise(40 * 40);
  const std::string band0 = Encode(encoder, picture, 0, Box(), 0);
  const std::string band1 = Encode(encoder, picture, 0, Box(), 1);
  const std::string again = Encode(encoder, picture, 0, Box(), 0);
  const int first = Key(ReadKitty(band0).keys, "i"), other = Key(ReadKitty(band1).keys, "i");
  const int next = Key(ReadKitty(again).keys, "i");
  EXPECT_NE(first, other);
  EXPECT_NE(next, first);
  EXPECT_NE(next, other);
  EXPECT_EQ(band0.find("a=d"), std::string::npos) << "nothing to replace yet";
  const std::string deleted = "\x1b_Ga=d,d=I,q=2,i=" + std::to_string(first) + "\x1b\\";
  EXPECT_GT(again.find(deleted), again.find("m=0;")) << "deleted after the new one is up";
  EXPECT_NE(encoder.Clear().find("\x1b_Ga=d,d=A,q=2\x1b\\"), std::string::npos);
  EXPECT_EQ(Encode(encoder, picture, 0, Box(), 0).find("a=d"), std::string::npos);
}

// The PNG, read back, is the picture; the escape says its cells and size.
TEST(TerminalEncoder, ItermImagesArePngsOfThePicture) {
  FrameEncoder encoder(TerminalMode::kIterm, CellColors::kTruecolor);
  const std::vector<uint32_t> picture = Noise(40 * 40, 7);
  const std::string out = Encode(encoder, picture);
  const std::string start =
      "\x1b[4;3H\x1b]1337;File=inline=1;width=4;height=2;preserveAspectRatio=0;size=";
  ASSERT_EQ(out.rfind(start, 0), 0u) << out.substr(0, 80);
  const size_t colon = out.find(':'), bell = out.find('\a');
  ASSERT_NE(bell, std::string::npos);
  const size_t size = std::stoul(out.substr(start.size(), colon - start.size()));
  std::string png;
  unsigned bits = 0;
  int count = 0;
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = colon + 1; i < bell && out[i] != '='; i++) {
    bits = bits << 6 | unsigned(kDigits.find(out[i]));
    if ((count += 6) >= 8) png += char(bits >> (count -= 8));
  }
  EXPECT_EQ(png.size(), size);
  char path[] = "/tmp/iterm-test-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, png.data(), png.size()), ssize_t(png.size()));
  close(fd);
  std::vector<uint32_t> read;
  int width = 0, height = 0;
  std::string error;
  ASSERT_TRUE(texfile::ReadPng(path, &read, &width, &height, &error)) << error;
  unlink(path);
  ASSERT_EQ(width, 40);
  ASSERT_EQ(height, 40);
  EXPECT_EQ(read, picture);
}

// Coarser qualities: fewer pixels, each the rounded mean of those it stands
// for, each channel at one of 2^bits levels from 0 to 255.
TEST(TerminalImages, ReducedPicturesAverageAndQuantise) {
  // 5 x 3: the last column and row stand alone when halved.
  const std::vector<uint32_t> picture = {
      0xFF000000, 0xFF020406, 0xFF101010, 0xFF303030, 0xFFFFFFFF,  //
      0xFF040404, 0xFF060606, 0xFF101010, 0xFF505050, 0xFF000000,  //
      0xFF808080, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
  std::vector<uint32_t> out;
  int w = 0, h = 0;
  ReducePicture(picture.data(), 5, 0, 3, {1, 8}, &out, &w, &h);
  EXPECT_EQ(out, picture) << "full quality is the picture";
  ReducePicture(picture.data(), 5, 0, 3, {2, 8}, &out, &w, &h);
  ASSERT_EQ(w, 3);
  ASSERT_EQ(h, 2);
  EXPECT_EQ(out[0], 0xFF030404u) << "(0+2+4+6)/4, (0+4+4+6)/4 rounded, (0+6+4+6)/4 rounded";
  EXPECT_EQ(out[1], 0xFF282828u) << "(16 + 48 + 16 + 80) / 4";
  EXPECT_EQ(out[2], 0xFF808080u) << "a column alone: (255+0)/2 rounded";
  EXPECT_EQ(out[5], 0xFF0000FFu) << "the corner alone";
  ReducePicture(picture.data(), 5, 1, 2, {1, 1}, &out, &w, &h);
  ASSERT_EQ(h, 2) << "rows from y on";
  EXPECT_EQ(out[0], 0xFF000000u);
  EXPECT_EQ(out[5], 0xFFFFFFFFu) << "0x80 is nearer 255 than 0";
  ReducePicture(picture.data(), 5, 0, 3, {1, 4}, &out, &w, &h);
  for (uint32_t p : out)
    for (int shift : {0, 8, 16}) EXPECT_EQ(((p >> shift) & 255) % 17, 0u) << std::hex << p;
}

TEST(TerminalImages, Base64) {
  const auto encode = [](const std::string& s) {
    std::string out;
    AppendBase64(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &out);
    return out;
  };
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(encode("f"), "Zg==");
  EXPECT_EQ(encode("fo"), "Zm8=");
  EXPECT_EQ(encode("foo"), "Zm9v");
  EXPECT_EQ(encode("foob"), "Zm9vYg==");
  EXPECT_EQ(encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(TerminalEncoder, SixelBandsAreTheirSizeAtEveryQuality) {
  FrameEncoder sixel(TerminalMode::kSixel, CellColors::k256);
  const std::vector<uint32_t> picture = Noise(40 * 40);
  CellLayout layout = Box();
  layout.height = layout.frame_height = 36;  // 40 down to whole bands of 6
  for (int quality = 0; quality < 4; quality++) {
    const std::string s = Encode(sixel, picture, quality, layout);
    EXPECT_EQ(s.find("\x1b[4;3H\x1bP"), 0u) << quality;
    EXPECT_NE(s.find("\"1;1;40;36"), std::string::npos) << quality << ": " << s.substr(0, 40);
    EXPECT_NE(s.find("\x1b\\"), std::string::npos) << quality;
  }
  EXPECT_GT(sixel.Ladder().floor, 0) << "chafa's own palette only for the still picture";
}

// chafa's symbols (the still picture): a piece per row, each from the box's
// left edge, in 24-bit colour where the terminal has it.
TEST(TerminalEncoder, ChafaSymbolsComeRowByRowFromTheBoxsLeftEdge) {
  FrameEncoder encoder(TerminalMode::kSymbols, CellColors::kTruecolor);
  const std::vector<uint32_t> red(40 * 40, 0xFFFF0000);
  std::vector<std::string> pieces;
  ASSERT_TRUE(encoder.Encode(red.data(), Box(), Whole(Box()), 0, 10, 20, 0, &pieces));
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].rfind("\x1b[4;3H", 0), 0u);
  EXPECT_EQ(pieces[1].rfind("\x1b[5;3H", 0), 0u) << "the second row from the same column";
  for (const std::string& piece : pieces) EXPECT_EQ(piece.find('\n'), std::string::npos);
  EXPECT_NE(pieces[0].find("255;0;0"), std::string::npos) << "red, in 24-bit colour";
  EXPECT_EQ(pieces[1].rfind("\x1b[0m"), pieces[1].size() - 4) << "colours reset after";
  EXPECT_NE(encoder.Clear().find("\x1b[2J"), std::string::npos);

  FrameEncoder indexed(TerminalMode::kSymbols, CellColors::k16);
  pieces.clear();
  ASSERT_TRUE(indexed.Encode(red.data(), Box(), Whole(Box()), 0, 10, 20, 0, &pieces));
  for (const std::string& piece : pieces) EXPECT_EQ(piece.find("38;2;"), std::string::npos);
}

}  // namespace
}  // namespace softboard
