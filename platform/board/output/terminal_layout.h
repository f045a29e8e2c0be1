// Where a frame goes on a terminal's grid of character cells.
#pragma once

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

// The grid with a cell size: its own, or the guessed one where it tells none.
constexpr TerminalGrid WithCellSize(TerminalGrid grid) {
  if (grid.cell_width <= 0 || grid.cell_height <= 0) {
    grid.cell_width = kGuessedCellWidth;
    grid.cell_height = kGuessedCellHeight;
  }
  return grid;
}

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
  // A picture reaching the last row could scroll the screen (sixel, iTerm2).
  bool spare_last_row = false;
  // A picture's height is a multiple of this: sixel draws 6 rows at a time.
  int height_step = 1;
};

// The frame goes in the largest 4:3 area that fits the grid, centred. With
// pixels, the box is the whole cells under that area and the picture is the
// box's size in pixels (its height down to the step: the frame moves up, or
// at worst shrinks, to stay in it). With symbols, the box is the cells
// nearest that area and the picture is the frame itself.
CellLayout LayOutFrame(int frame_width, int frame_height, const TerminalGrid& grid,
                       const LayoutRules& rules);

// The area pictures may take, in pixels; false when the cell size is unknown.
bool GridPixelArea(const TerminalGrid& grid, const LayoutRules& rules, int* width, int* height);

}  // namespace softboard
