#include "output/terminal_cells.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace softboard {
namespace {

// A 3 x 2 box of cells at column 4, row 1, over a 6 x 8 picture: each cell
// 2 pixels wide, its halves 2 pixel rows each.
CellLayout Box() {
  CellLayout layout;
  layout.column = 4;
  layout.row = 1;
  layout.columns = 3;
  layout.rows = 2;
  layout.width = layout.frame_width = 6;
  layout.height = layout.frame_height = 8;
  return layout;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

constexpr char kUpperHalf[] = "\xE2\x96\x80";

TEST(HalfBlockCells, EachHalfIsTheMeanOfItsPixels) {
  std::vector<uint32_t> picture(6 * 8, 0xFF102030);
  // Cell (0, 0): its upper half red and black in turn, its lower half blue.
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 2; x++) picture[size_t(y * 6 + x)] = (x + y) % 2 ? 0xFFFF0000 : 0xFF000000;
  for (int y = 2; y < 4; y++)
    for (int x = 0; x < 2; x++) picture[size_t(y * 6 + x)] = 0xFF0000FF;
  HalfBlockCells cells(CellColors::kTruecolor);
  std::string out;
  cells.Draw(picture.data(), Box(), 8, &out);
  EXPECT_EQ(out.rfind("\x1b[2;5H\x1b[38;2;128;0;0;48;2;0;0;255m", 0), 0u) << out;
  EXPECT_EQ(Count(out, kUpperHalf), 1u) << "the other cells are one colour: spaces";
  EXPECT_EQ(Count(out, "48;2;16;32;48m"), 1u) << "set once for the cells that share it";
  EXPECT_EQ(Count(out, "\x1b[3;5H"), 1u) << "the second row from the box's left edge";
  EXPECT_EQ(out.rfind("\x1b[0m"), out.size() - 4);
}

TEST(HalfBlockCells, OnlyCellsThatChangedAreSentAgain) {
  std::vector<uint32_t> picture(6 * 8, 0xFF102030);
  HalfBlockCells cells(CellColors::kTruecolor);
  std::string first, same, changed;
  cells.Draw(picture.data(), Box(), 8, &first);
  cells.Draw(picture.data(), Box(), 8, &same);
  EXPECT_EQ(same, "\x1b[0m") << "nothing changed";
  picture[size_t(7 * 6 + 5)] = 0xFFFFFFFF;  // the last cell's lower half
  cells.Draw(picture.data(), Box(), 8, &changed);
  EXPECT_EQ(changed.rfind("\x1b[3;7H", 0), 0u) << changed;
  EXPECT_EQ(Count(changed, kUpperHalf), 1u);
  cells.Forget();
  std::string again;
  cells.Draw(picture.data(), Box(), 8, &again);
  EXPECT_EQ(Count(again, "H"), 2u) << "every cell, a row at a time: " << again;
  CellLayout moved = Box();
  moved.column = 0;
  std::string elsewhere;
  cells.Draw(picture.data(), moved, 8, &elsewhere);
  EXPECT_EQ(elsewhere.rfind("\x1b[2;1H", 0), 0u) << "a new box is drawn whole";
}

// Fewer bits a channel make neighbouring cells alike; 256 and 16 colours
// use the palette's codes.
TEST(HalfBlockCells, ColoursAsTheTerminalTakesThem) {
  std::vector<uint32_t> picture(6 * 8);
  for (size_t i = 0; i < picture.size(); i++) picture[i] = 0xFF000000u | uint32_t(0x40 + i) << 16;
  const auto draw = [&](CellColors colors, int bits) {
    HalfBlockCells cells(colors);
    std::string out;
    cells.Draw(picture.data(), Box(), bits, &out);
    return out;
  };
  EXPECT_GT(Count(draw(CellColors::kTruecolor, 8), "38;2;"),
            Count(draw(CellColors::kTruecolor, 3), "38;2;"));
  const std::string indexed = draw(CellColors::k256, 8);
  EXPECT_EQ(Count(indexed, ";2;"), 0u);
  EXPECT_GT(Count(indexed, "48;5;"), 0u);
  const std::string basic = draw(CellColors::k16, 8);
  EXPECT_EQ(Count(basic, ";5;"), 0u);
  EXPECT_EQ(Count(basic, ";2;"), 0u);
  EXPECT_NE(basic.find("\x1b[40m"), std::string::npos) << "dark red is nearest black: " << basic;
  std::vector<uint32_t> white(6 * 8, 0xFFFFFFFF);
  HalfBlockCells cells(CellColors::k16);
  std::string out;
  cells.Draw(white.data(), Box(), 8, &out);
  EXPECT_NE(out.find("\x1b[107m"), std::string::npos) << "bright white: " << out;
  HalfBlockCells cube(CellColors::k256);
  out.clear();
  cube.Draw(white.data(), Box(), 8, &out);
  EXPECT_NE(out.find("48;5;231m"), std::string::npos) << out;
}

// A picture with fewer pixels than the box has cells still fills it.
TEST(HalfBlockCells, PicturesSmallerThanTheBox) {
  const std::vector<uint32_t> picture = {0xFFFF0000};
  CellLayout layout = Box();
  layout.width = layout.height = layout.frame_width = layout.frame_height = 1;
  HalfBlockCells cells(CellColors::kTruecolor);
  std::string out;
  cells.Draw(picture.data(), layout, 8, &out);
  EXPECT_EQ(Count(out, " "), 6u) << out;
  EXPECT_NE(out.find("48;2;255;0;0m"), std::string::npos);
}

}  // namespace
}  // namespace softboard
