#include "output/terminal_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace softboard {
namespace {

std::string Describe(const CellLayout& l) {
  return "box " + std::to_string(l.columns) + "x" + std::to_string(l.rows) + " at " +
         std::to_string(l.column) + "," + std::to_string(l.row) + ", picture " +
         std::to_string(l.width) + "x" + std::to_string(l.height) + ", frame " +
         std::to_string(l.frame_width) + "x" + std::to_string(l.frame_height) + " at " +
         std::to_string(l.frame_x) + "," + std::to_string(l.frame_y);
}

// Pixel protocols: the whole cells under the frame's place, and a picture of
// exactly their size with the frame in it at its own size where it fits.
TEST(TerminalLayout, PixelPicturesFillWholeCellsAroundTheFrame) {
  const LayoutRules kitty{true, false, 1}, iterm{true, true, 1}, sixel{true, true, 6};
  struct Case {
    int frame_width, frame_height;
    TerminalGrid grid;
    LayoutRules rules;
    CellLayout want;
  };
  const Case cases[] = {
      // 1000 x 800 pixels: a frame of 1000 x 750 lies 25 down, over rows 1 to 38.
      {1000, 750, {100, 40, 10, 20}, kitty, {0, 1, 100, 38, 1000, 760, 0, 5, 1000, 750}},
      // The same grid with the last row spared: 1000 x 780, the frame 15 down.
      {1000, 750, {100, 40, 10, 20}, iterm, {0, 0, 100, 39, 1000, 780, 0, 15, 1000, 750}},
      // Sixel: 40 rows of 20 down to 798, the frame 24 down, the picture 760
      // down to 756, whole bands of 6.
      {1000, 750, {100, 41, 10, 20}, sixel, {0, 1, 100, 38, 1000, 756, 0, 4, 1000, 750}},
      // Exactly the grid: no border at all.
      {640, 480, {80, 24, 8, 20}, kitty, {0, 0, 80, 24, 640, 480, 0, 0, 640, 480}},
      // Narrower than the frame: scaled down, 4:3 kept, centred in the rows.
      {640, 480, {40, 30, 8, 16}, kitty, {0, 7, 40, 16, 320, 256, 0, 8, 320, 240}},
      // A frame smaller than a wide grid: centred across the columns.
      {768, 576, {80, 30, 10, 20}, sixel, {1, 0, 78, 29, 780, 576, 6, 0, 768, 576}},
  };
  for (const Case& c : cases) {
    const CellLayout got = LayOutFrame(c.frame_width, c.frame_height, c.grid, c.rules);
    EXPECT_EQ(got, c.want) << Describe(got) << " for " << c.frame_width << "x" << c.frame_height;
  }
}

// Whatever the grid and frame, the box lies on the grid (above a spared
// row) and the frame in the picture, whose height is a whole number of steps.
TEST(TerminalLayout, FramesStayInTheirPictureOnEveryGrid) {
  for (const LayoutRules rules : {LayoutRules{true, false, 1}, LayoutRules{true, true, 6}}) {
    for (int columns : {1, 7, 80, 213}) {
      for (int rows : {2, 5, 24, 61}) {
        for (int cell_height : {7, 13, 16, 19, 20}) {
          const TerminalGrid grid{columns, rows, 9, cell_height};
          int area_width = 0, area_height = 0;
          ASSERT_TRUE(GridPixelArea(grid, rules, &area_width, &area_height));
          for (const auto& frame :
               {std::array<int, 2>{640, 480}, {1440, 1080}, {area_width, area_height}}) {
            const CellLayout l = LayOutFrame(frame[0], frame[1], grid, rules);
            const std::string what = Describe(l) + " on " + std::to_string(columns) + "x" +
                                     std::to_string(rows) + " cells of 9x" +
                                     std::to_string(cell_height);
            ASSERT_LE(l.column + l.columns, columns) << what;
            ASSERT_LE(l.row + l.rows, rows - (rules.spare_last_row ? 1 : 0)) << what;
            ASSERT_EQ(l.width, l.columns * 9) << what;
            ASSERT_LE(l.height, l.rows * cell_height) << what;
            ASSERT_EQ(l.height % rules.height_step, 0) << what;
            ASSERT_GE(l.frame_x, 0) << what;
            ASSERT_GE(l.frame_y, 0) << what;
            ASSERT_LE(l.frame_x + l.frame_width, l.width) << what;
            ASSERT_LE(l.frame_y + l.frame_height, l.height) << what;
          }
        }
      }
    }
  }
}

// Symbols: the nearest cells to the 4:3 area (cells of 1:2 where the size is
// unknown), and the frame as it is, for chafa to scale.
TEST(TerminalLayout, SymbolsTakeTheNearestCellsAndTheWholeFrame) {
  const LayoutRules symbols;
  CellLayout got = LayOutFrame(640, 480, {100, 40, 0, 0}, symbols);
  EXPECT_EQ(got.column, 0);
  EXPECT_EQ(got.columns, 100);
  EXPECT_EQ(got.row, 1);
  EXPECT_EQ(got.rows, 38) << Describe(got);
  EXPECT_EQ(got.width, 640);
  EXPECT_EQ(got.frame_width, 640);
  EXPECT_EQ(got.frame_x, 0);
  // A wide, short terminal: the height decides, centred across.
  got = LayOutFrame(640, 480, {200, 30, 0, 0}, symbols);
  EXPECT_EQ(got.rows, 30);
  EXPECT_EQ(got.columns, 80) << Describe(got);
  EXPECT_EQ(got.column, 60);
  // Square cells (a terminal that tells): 4:3 in cells too.
  got = LayOutFrame(640, 480, {80, 80, 10, 10}, symbols);
  EXPECT_EQ(got.columns, 80);
  EXPECT_EQ(got.rows, 60) << Describe(got);
}

TEST(TerminalLayout, TinyAndEmptyGridsStillGiveACell) {
  for (const TerminalGrid grid :
       {TerminalGrid{1, 1, 0, 0}, TerminalGrid{0, 0, 0, 0}, TerminalGrid{3, 1, 10, 20}}) {
    for (bool pixels : {false, true}) {
      const CellLayout got = LayOutFrame(640, 480, grid, {pixels, true, pixels ? 6 : 1});
      EXPECT_GE(got.columns, 1) << Describe(got);
      EXPECT_GE(got.rows, 1) << Describe(got);
      EXPECT_GE(got.frame_width, 1) << Describe(got);
      EXPECT_GE(got.frame_height, 1) << Describe(got);
    }
  }
}

TEST(TerminalLayout, PixelAreaNeedsTheCellSize) {
  int w = 0, h = 0;
  EXPECT_FALSE(GridPixelArea({80, 24, 0, 0}, {}, &w, &h));
  ASSERT_TRUE(GridPixelArea({80, 24, 9, 18}, {true, false, 1}, &w, &h));
  EXPECT_EQ(w, 720);
  EXPECT_EQ(h, 432);
  ASSERT_TRUE(GridPixelArea({80, 24, 9, 18}, {true, true, 1}, &w, &h));
  EXPECT_EQ(h, 414);
  ASSERT_TRUE(GridPixelArea({80, 24, 9, 17}, {true, true, 6}, &w, &h));
  EXPECT_EQ(h, 390) << "23 rows of 17, in whole bands of 6";
}

}  // namespace
}  // namespace softboard
