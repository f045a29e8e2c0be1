#include "output/terminal_layout.h"

#include <algorithm>
#include <cmath>

#include "output/display.h"

namespace softboard {
namespace {

int UsableRows(const TerminalGrid& grid, const LayoutRules& rules) {
  return std::max(1, grid.rows - (rules.spare_last_row && grid.rows > 1 ? 1 : 0));
}

int StepDown(int pixels, const LayoutRules& rules) {
  const int step = std::max(1, rules.height_step);
  return std::max(step, pixels / step * step);
}

}  // namespace

bool GridPixelArea(const TerminalGrid& grid, const LayoutRules& rules, int* width, int* height) {
  if (grid.cell_width <= 0 || grid.cell_height <= 0 || grid.columns <= 0 || grid.rows <= 0)
    return false;
  *width = grid.columns * grid.cell_width;
  *height = StepDown(UsableRows(grid, rules) * grid.cell_height, rules);
  return true;
}

CellLayout LayOutFrame(int frame_width, int frame_height, const TerminalGrid& grid,
                       const LayoutRules& rules) {
  TerminalGrid cells = WithCellSize(grid);
  cells.columns = std::max(1, grid.columns);
  cells.rows = std::max(1, grid.rows);
  const int cw = cells.cell_width, ch = cells.cell_height;
  int area_width = 0, area_height = 0;
  GridPixelArea(cells, rules, &area_width, &area_height);
  Placement at = PlaceFrame(frame_width, frame_height, area_width, area_height);

  CellLayout layout;
  if (rules.pixels) {
    layout.column = at.x / cw;
    layout.row = at.y / ch;
    layout.columns = (at.x + at.width + cw - 1) / cw - layout.column;
    layout.rows = (at.y + at.height + ch - 1) / ch - layout.row;
    layout.width = layout.columns * cw;
    layout.height = StepDown(layout.rows * ch, rules);
    if (at.height > layout.height) {
      const int width = std::max(1, int(std::lround(double(at.width) * layout.height / at.height)));
      at.x += (at.width - width) / 2;
      at.width = width;
      at.height = layout.height;
    }
    layout.frame_x = at.x - layout.column * cw;
    layout.frame_y = std::min(at.y - layout.row * ch, layout.height - at.height);
    layout.frame_width = at.width;
    layout.frame_height = at.height;
    return layout;
  }
  const auto nearest = [](int pixels, int cell) { return int(std::lround(double(pixels) / cell)); };
  layout.column = nearest(at.x, cw);
  layout.row = nearest(at.y, ch);
  layout.columns = std::max(1, nearest(at.x + at.width, cw) - layout.column);
  layout.rows = std::max(1, nearest(at.y + at.height, ch) - layout.row);
  layout.width = layout.frame_width = frame_width;
  layout.height = layout.frame_height = frame_height;
  return layout;
}

}  // namespace softboard
