// Where a frame goes on a terminal's grid of character cells.
#pragma once

#include <cstdint>
#include <vector>

namespace softboard {

// The terminal's grid and, where it is known, the size of a cell in pixels.
struct TerminalGrid {
  int columns = 80, rows = 24;
  int cell_width = 0, cell_height = 0;  // 0: unknown
  friend bool operator==(const TerminalGrid&, const TerminalGrid&) = default;
};

// The cell assumed where the terminal tells none: the usual 1:2.
constexpr int kGuessedCellWidth = 10;
constexpr int kGuessedCellHeight = 20;

// What a terminal may claim and still be believed. A large font on a dense
// screen has cells well under this; a larger one is taken as unknown.
constexpr int kMaxCellWidth = 256;
constexpr int kMaxCellHeight = 512;
// The most cells laid out: a larger grid is used as its top-left part.
constexpr int kMaxColumns = 640;
constexpr int kMaxRows = 320;
// The largest picture sent, and the largest area frames are drawn for, on a
// side and in all, whatever the terminal claims its cells can show: the
// 640x480 scene at 2.25 times its size (a frame a swap at that size is a
// few per cent of a core; kitty and iTerm2 scale it to a larger box).
constexpr int kMaxPictureSide = 4096;
constexpr int64_t kMaxPicturePixels = int64_t(1440) * 1080;

// The grid as it is used: at most kMaxColumns x kMaxRows, at least 1 x 1,
// its cell size dropped (unknown) where it is not to be believed.
TerminalGrid SaneGrid(TerminalGrid grid);

// The grid with a cell size: its own, or the guessed one where it tells none.
constexpr TerminalGrid WithCellSize(TerminalGrid grid) {
  if (grid.cell_width <= 0 || grid.cell_height <= 0) {
    grid.cell_width = kGuessedCellWidth;
    grid.cell_height = kGuessedCellHeight;
  }
  return grid;
}

// Scales a width x height size down, keeping its shape, until it is within
// the picture ceiling (kMaxPictureSide, kMaxPicturePixels).
void FitUnderCeiling(int* width, int* height);

// A frame's place on the grid: the box of cells it is drawn in (from 0), and
// the picture sent for that box, `width` x `height` pixels, in which the
// frame fills the rectangle at (frame_x, frame_y), black around it.
struct CellLayout {
  int column = 0, row = 0;
  int columns = 0, rows = 0;
  int width = 0, height = 0;
  int frame_x = 0, frame_y = 0, frame_width = 0, frame_height = 0;
  friend bool operator==(const CellLayout&, const CellLayout&) = default;
};

// What a way of drawing asks of the layout.
struct LayoutRules {
  // Pixels are shown as they are sent (kitty, iTerm2, sixel); otherwise
  // (symbols) the encoder scales the picture to the cells.
  bool pixels = false;
  // The terminal scales a picture to the cells it is given (kitty, iTerm2),
  // so a picture may be smaller than its box; sixel shows it pixel for pixel.
  bool scales = false;
  // A picture reaching the last row could scroll the screen (sixel, iTerm2).
  bool spare_last_row = false;
  // A picture's height is a multiple of this: sixel draws 6 rows at a time.
  int height_step = 1;
};

// The frame goes in the largest 4:3 area that fits the grid, centred. With
// pixels, the box is the whole cells under that area and the picture is the
// box's size in pixels (its height down to the step: the frame moves up, or
// at worst shrinks, to stay in it). No picture is larger than the frame
// itself, nor than the ceiling: where the terminal scales, the picture is
// made smaller than its box; where it does not (sixel), the frame is placed
// at most at its own size. With symbols, the box is the cells nearest that
// area and the picture is the frame itself.
CellLayout LayOutFrame(int frame_width, int frame_height, const TerminalGrid& grid,
                       const LayoutRules& rules);

// The area pictures may take, in pixels, within the ceiling; false when the
// cell size is unknown.
bool GridPixelArea(const TerminalGrid& grid, const LayoutRules& rules, int* width, int* height);

// A band of a laid-out box, sent as a picture of its own: cell rows [row,
// row + rows) of the box and rows [y, y + height) of its picture.
struct Band {
  int row = 0, rows = 0;
  int y = 0, height = 0;
  friend bool operator==(const Band&, const Band&) = default;
};

// The box cut into about `count` bands of whole cell rows, each picture's
// height a multiple of the rules' step (sixel's 6, given cells of
// `cell_height` pixels, a band holds a multiple of 6 / gcd(cell_height, 6)
// rows). Every picture row is in one band.
std::vector<Band> SplitIntoBands(const CellLayout& layout, int cell_height,
                                 const LayoutRules& rules, int count);

}  // namespace softboard
