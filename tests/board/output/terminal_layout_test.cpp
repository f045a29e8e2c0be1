#include "output/terminal_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

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
  const LayoutRules kitty{true, true, false, 1}, iterm{true, true, true, 1},
      sixel{true, false, true, 6};
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
// row) and the frame in the picture, whose height is a whole number of steps;
// no picture is larger than its box, nor its frame larger than the frame.
TEST(TerminalLayout, FramesStayInTheirPictureOnEveryGrid) {
  for (const LayoutRules rules :
       {LayoutRules{true, true, false, 1}, LayoutRules{true, false, true, 6}}) {
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
            if (!rules.scales) {
              ASSERT_EQ(l.width, l.columns * 9) << what;
            }
            ASSERT_LE(l.width, l.columns * 9) << what;
            ASSERT_LE(l.height, l.rows * cell_height) << what;
            ASSERT_LE(l.frame_width, frame[0]) << what;
            ASSERT_LE(l.frame_height, frame[1]) << what;
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
      const CellLayout got = LayOutFrame(640, 480, grid, {pixels, false, true, pixels ? 6 : 1});
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
  ASSERT_TRUE(GridPixelArea({80, 24, 9, 18}, {true, true, false, 1}, &w, &h));
  EXPECT_EQ(w, 720);
  EXPECT_EQ(h, 432);
  ASSERT_TRUE(GridPixelArea({80, 24, 9, 18}, {true, true, true, 1}, &w, &h));
  EXPECT_EQ(h, 414);
  ASSERT_TRUE(GridPixelArea({80, 24, 9, 17}, {true, false, true, 6}, &w, &h));
  EXPECT_EQ(h, 390) << "23 rows of 17, in whole bands of 6";
}

// What a terminal claims is held to what one could have: cells of a size no
// font has are unknown, grids larger than any screen are cut, and no area or
// picture is larger than the ceiling, whatever the frame or the terminal.
TEST(TerminalLayout, HostileSizesAreHeldToTheCeiling) {
  EXPECT_EQ(SaneGrid({80, 24, 200, 500}), (TerminalGrid{80, 24, 200, 500})) << "large, but a font";
  EXPECT_EQ(SaneGrid({80, 24, 819, 2730}), (TerminalGrid{80, 24, 0, 0}));
  EXPECT_EQ(SaneGrid({80, 24, 100000, 100000}), (TerminalGrid{80, 24, 0, 0}));
  EXPECT_EQ(SaneGrid({65535, 65535, 8, 16}), (TerminalGrid{kMaxColumns, kMaxRows, 8, 16}));
  EXPECT_EQ(SaneGrid({0, -3, 8, 16}), (TerminalGrid{1, 1, 8, 16}));

  // 80 x 24 cells said to be 16000 x 12000 pixels.
  int w = 0, h = 0;
  ASSERT_TRUE(GridPixelArea({80, 24, 200, 500}, {true, false, true, 6}, &w, &h));
  EXPECT_LE(w, kMaxPictureSide);
  EXPECT_LE(int64_t(w) * h, kMaxPicturePixels);
  EXPECT_NEAR(double(w) / h, 16000.0 / 11500, 0.01) << "its shape kept";
  for (const LayoutRules rules :
       {LayoutRules{true, true, false, 1}, LayoutRules{true, false, true, 6}}) {
    for (const auto& frame : {std::array<int, 2>{640, 480}, {5120, 3840}, {16384, 12288}}) {
      for (const TerminalGrid grid :
           {TerminalGrid{80, 24, 200, 500}, TerminalGrid{640, 320, 256, 512},
            TerminalGrid{65535, 65535, 65535, 65535}}) {
        const CellLayout l = LayOutFrame(frame[0], frame[1], grid, rules);
        const std::string what = Describe(l) + " for " + std::to_string(frame[0]);
        EXPECT_LE(l.width, kMaxPictureSide + 2 * kMaxCellWidth) << what;
        EXPECT_LE(l.height, kMaxPictureSide + 2 * kMaxCellHeight) << what;
        EXPECT_LE(int64_t(l.frame_width) * l.frame_height, kMaxPicturePixels) << what;
        EXPECT_LE(l.frame_width, frame[0]) << what;
      }
    }
  }
  // Where the terminal scales, a picture no larger than the frame fills the
  // box; sixel shows the frame at its own size, in the middle.
  const CellLayout kitty = LayOutFrame(640, 480, {80, 24, 200, 500}, {true, true, false, 1});
  EXPECT_EQ(kitty.columns, 80) << Describe(kitty);
  EXPECT_EQ(kitty.width, 640) << Describe(kitty);
  EXPECT_EQ(kitty.frame_width, 640) << Describe(kitty);
  const CellLayout sixel = LayOutFrame(640, 480, {160, 50, 10, 20}, {true, false, true, 6});
  EXPECT_EQ(sixel.frame_width, 640) << Describe(sixel);
  EXPECT_EQ(sixel.columns, 64) << Describe(sixel);
  EXPECT_EQ(sixel.column, 48) << Describe(sixel);
}

// Bands take every picture row once, start on whole cell rows and, for
// sixel, on whole bands of 6 pixel rows.
TEST(TerminalLayout, BandsCoverThePictureInWholeCellRows) {
  for (const LayoutRules rules :
       {LayoutRules{true, true, false, 1}, LayoutRules{true, false, true, 6}}) {
    for (int cell_height : {7, 16, 17, 20}) {
      for (int rows : {1, 5, 24, 61}) {
        const TerminalGrid grid{80, rows + 1, 8, cell_height};
        for (const auto& frame : {std::array<int, 2>{640, 480}, {320, 240}}) {
          const CellLayout l = LayOutFrame(frame[0], frame[1], grid, rules);
          const std::vector<Band> bands = SplitIntoBands(l, cell_height, rules, 12);
          const std::string what = Describe(l) + ", cells 8x" + std::to_string(cell_height);
          ASSERT_FALSE(bands.empty()) << what;
          EXPECT_LE(bands.size(), 12u) << what;
          int y = 0, row = 0;
          for (const Band& b : bands) {
            EXPECT_EQ(b.y, y) << what;
            EXPECT_EQ(b.row, row) << what;
            EXPECT_GT(b.height, 0) << what;
            EXPECT_EQ(b.y % rules.height_step, 0) << what;
            y += b.height;
            row += b.rows;
          }
          EXPECT_EQ(y, l.height) << what;
          EXPECT_LE(row, l.rows) << what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace softboard
