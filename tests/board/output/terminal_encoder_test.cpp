#include "output/terminal_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

std::string Encode(FrameEncoder& encoder, bool clear = false, uint32_t colour = 0xFFFF0000) {
  const std::vector<uint32_t> picture(40 * 40, colour);
  std::string out;
  encoder.Encode(picture.data(), Box(), 10, 20, clear, &out);
  return out;
}

TEST(TerminalEncoder, SymbolsGoRowByRowFromTheBoxsLeftEdge) {
  FrameEncoder encoder(TerminalMode::kSymbols, CellColors::kTruecolor);
  const std::string out = Encode(encoder);
  EXPECT_EQ(out.rfind("\x1b[4;3H", 0), 0u) << "starts at the box's corner";
  EXPECT_NE(out.find("\x1b[5;3H"), std::string::npos) << "the second row from the same column";
  EXPECT_EQ(out.find('\n'), std::string::npos) << "a line feed would go to column 1";
  EXPECT_NE(out.find("255;0;0"), std::string::npos) << "red, in 24-bit colour";
  EXPECT_EQ(out.rfind("\x1b[0m"), out.size() - 4) << "colours reset after";
  EXPECT_EQ(out.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(Encode(encoder, true).find("\x1b[2J"), std::string::npos);

  FrameEncoder indexed(TerminalMode::kSymbols, CellColors::k16);
  EXPECT_EQ(Encode(indexed).find("38;2;"), std::string::npos) << "no 24-bit colour in 16";
}

// Every chunk's pixels, decoded as a terminal decodes each chunk.
std::string KittyPixels(const std::string& out) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string pixels;
  for (size_t at = out.find("\x1b_Gm="); at != std::string::npos;
       at = out.find("\x1b_Gm=", at + 1)) {
    const size_t begin = out.find(';', at), end = out.find("\x1b\\", at);
    if (begin > end) continue;
    unsigned bits = 0;
    int count = 0;
    for (size_t i = begin + 1; i < end && out[i] != '='; i++) {
      bits = bits << 6 | unsigned(kDigits.find(out[i]));
      if ((count += 6) >= 8) pixels += char(bits >> (count -= 8));
    }
  }
  return pixels;
}

// RGBA, every pixel as it was sent: chafa 1.12 spoils the last byte of each
// chunk of 512, which the encoder mends.
TEST(TerminalEncoder, KittyPixelsComeBackExactly) {
  FrameEncoder encoder(TerminalMode::kKitty, CellColors::kTruecolor);
  std::vector<uint32_t> picture(40 * 40);
  for (size_t i = 0; i < picture.size(); i++)
    picture[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
  std::string out;
  encoder.Encode(picture.data(), Box(), 10, 20, false, &out);
  const std::string pixels = KittyPixels(out);
  ASSERT_EQ(pixels.size(), picture.size() * 4);
  for (size_t i = 0; i < picture.size(); i++) {
    const uint32_t want = picture[i];
    const auto byte = [&](int k) { return uint32_t(uint8_t(pixels[i * 4 + size_t(k)])); };
    ASSERT_EQ(byte(0) << 16 | byte(1) << 8 | byte(2) | byte(3) << 24, want) << "pixel " << i;
  }
}

TEST(TerminalEncoder, SixelAndItermPicturesAreTheBoxsSize) {
  FrameEncoder sixel(TerminalMode::kSixel, CellColors::k256);
  const std::string s = Encode(sixel);
  EXPECT_EQ(s.find("\x1b[4;3H\x1bP"), 0u);
  EXPECT_NE(s.find("\"1;1;40;36"), std::string::npos)
      << "whole bands of 6 rows: " << s.substr(0, 40);
  FrameEncoder iterm(TerminalMode::kIterm, CellColors::k256);
  EXPECT_NE(Encode(iterm).find("\x1b]1337;File=inline=1;width=4;height=2"), std::string::npos);
}

}  // namespace
}  // namespace softboard
