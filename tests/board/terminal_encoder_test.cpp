#include "terminal_encoder.h"

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

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) n++;
  return n;
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

TEST(TerminalEncoder, KittyReplacesEachImageByIdAndClearsAll) {
  FrameEncoder encoder(TerminalMode::kKitty, CellColors::kTruecolor);
  const std::string first = Encode(encoder), second = Encode(encoder, false, 0xFF00FF00);
  EXPECT_NE(first.find("\x1b_Ga=T,q=2,C=1,i=2,f=32,s=40,v=40,c=4,r=2,m=1\x1b\\"), std::string::npos)
      << first.substr(0, 80);
  EXPECT_NE(second.find("a=T,q=2,C=1,i=1,"), std::string::npos);
  EXPECT_GT(second.find("\x1b_Ga=d,d=I,q=2,i=2\x1b\\"), second.find("a=T"))
      << "the image before goes once the next is up";
  EXPECT_EQ(Count(second, "a=d"), 1u);
  const std::string cleared = Encode(encoder, true);
  EXPECT_LT(cleared.find("\x1b_Ga=d,d=A,q=2\x1b\\"), cleared.find("a=T"));
  EXPECT_EQ(cleared.find("d=I"), std::string::npos);
}

// Sixel draws whole bands of 6 rows: the box's 40 rows of pixels are 36 (the
// layout makes pictures that height, so nothing is scaled).
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

TEST(TerminalEncoder, TheScreenIsTakenAndGivenBackWhole) {
  const std::string enter = EnterScreenBytes();
  EXPECT_NE(enter.find("\x1b[?1049h"), std::string::npos);
  EXPECT_NE(enter.find("\x1b[?25l"), std::string::npos);
  EXPECT_NE(enter.find("\x1b[?7l"), std::string::npos);
  for (TerminalMode mode :
       {TerminalMode::kKitty, TerminalMode::kIterm, TerminalMode::kSixel, TerminalMode::kSymbols}) {
    const std::string leave = LeaveScreenBytes(mode);
    EXPECT_EQ(leave.rfind("\x1b\\", 0), 0u) << "a picture cut short ends first";
    for (const char* part : {"\x1b[0m", "\x1b[2J", "\x1b[?7h", "\x1b[?1049l", "\x1b[?25h"})
      EXPECT_NE(leave.find(part), std::string::npos) << int(mode);
    EXPECT_LT(leave.find("\x1b[2J"), leave.find("\x1b[?1049l"))
        << "the picture goes where there is no alternate screen";
    EXPECT_EQ(leave.find("d=A") != std::string::npos, mode == TerminalMode::kKitty);
  }
}

}  // namespace
}  // namespace softboard
