#include "output/terminal_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

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

TerminalGrid SaneGrid(TerminalGrid grid) {
  grid.columns = std::clamp(grid.columns, 1, kMaxColumns);
  grid.rows = std::clamp(grid.rows, 1, kMaxRows);
  if (grid.cell_width <= 0 || grid.cell_height <= 0 || grid.cell_width > kMaxCellWidth ||
      grid.cell_height > kMaxCellHeight)
    grid.cell_width = grid.cell_height = 0;
  return grid;
}

void FitUnderCeiling(int* width, int* height) {
  if (*width <= 0 || *height <= 0) return;
  double scale = std::min({1.0, double(kMaxPictureSide) / *width, double(kMaxPictureSide) / *height,
                           std::sqrt(double(kMaxPicturePixels) / (double(*width) * *height))});
  if (scale >= 1) return;
  *width = std::max(1, int(*width * scale));
  *height = std::max(1, int(*height * scale));
}

bool GridPixelArea(const TerminalGrid& grid, const LayoutRules& rules, int* width, int* height) {
  if (grid.cell_width <= 0 || grid.cell_height <= 0 || grid.columns <= 0 || grid.rows <= 0)
    return false;
  int w = grid.columns * grid.cell_width;
  int h = StepDown(UsableRows(grid, rules) * grid.cell_height, rules);
  FitUnderCeiling(&w, &h);
  *width = w;
  *height = h;
  return true;
}

CellLayout LayOutFrame(int frame_width, int frame_height, const TerminalGrid& grid,
                       const LayoutRules& rules) {
  TerminalGrid cells = WithCellSize(SaneGrid(grid));
  const int cw = cells.cell_width, ch = cells.cell_height;
  const int area_width = cells.columns * cw;
  const int area_height = StepDown(UsableRows(cells, rules) * ch, rules);
  // No picture larger than the frame, nor than the ceiling.
  int most_width = frame_width, most_height = frame_height;
  FitUnderCeiling(&most_width, &most_height);

  CellLayout layout;
  if (rules.pixels) {
    Placement at;
    if (rules.scales) {
      at = PlaceFrame(frame_width, frame_height, area_width, area_height);
    } else {
      const int w = std::min(area_width, most_width), h = std::min(area_height, most_height);
      at = PlaceFrame(frame_width, frame_height, w, h);
      at.x += (area_width - w) / 2;
      at.y += (area_height - h) / 2;
    }
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
    // The terminal scales the picture to its box: it need hold no more
    // pixels than the frame has.
    const double shrink =
        std::min({1.0, double(most_width) / at.width, double(most_height) / at.height});
    if (rules.scales && shrink < 1) {
      const auto scaled = [shrink](int v) { return std::max(1, int(std::lround(v * shrink))); };
      layout.width = scaled(layout.width);
      layout.height = scaled(layout.height);
      layout.frame_x = std::min(int(std::lround(layout.frame_x * shrink)), layout.width - 1);
      layout.frame_y = std::min(int(std::lround(layout.frame_y * shrink)), layout.height - 1);
      layout.frame_width = std::min(scaled(layout.frame_width), layout.width - layout.frame_x);
      layout.frame_height = std::min(scaled(layout.frame_height), layout.height - layout.frame_y);
    }
    return layout;
  }
  Placement at = PlaceFrame(frame_width, frame_height, area_width, area_height);
  const auto nearest = [](int pixels, int cell) { return int(std::lround(double(pixels) / cell)); };
  layout.column = nearest(at.x, cw);
  layout.row = nearest(at.y, ch);
  layout.columns = std::max(1, nearest(at.x + at.width, cw) - layout.column);
  layout.rows = std::max(1, nearest(at.y + at.height, ch) - layout.row);
  layout.width = layout.frame_width = frame_width;
  layout.height = layout.frame_height = frame_height;
  return layout;
}

std::vector<Band> SplitIntoBands(const CellLayout& layout, int cell_height,
                                 const LayoutRules& rules, int count) {
  std::vector<Band> bands;
  if (layout.rows <= 0 || layout.height <= 0 || cell_height <= 0) return bands;
  const int step = std::max(1, rules.height_step);
  // A band holds a multiple of this many rows, so that its picture starts on the step.
  const int unit = step / std::gcd(cell_height, step);
  int rows = (layout.rows + std::max(1, count) - 1) / std::max(1, count);
  rows = (rows + unit - 1) / unit * unit;
  // Where cell row r starts in the picture: shown pixel for pixel, r cells
  // down; scaled by the terminal, in proportion.
  const auto start = [&](int r) {
    if (r >= layout.rows) return layout.height;
    if (!rules.scales) return std::min(layout.height, r * cell_height);
    return int(int64_t(layout.height) * r / layout.rows);
  };
  for (int row = 0; row < layout.rows; row += rows) {
    Band band;
    band.row = row;
    band.rows = std::min(rows, layout.rows - row);
    band.y = start(row);
    band.height = start(row + band.rows) - band.y;
    if (band.height > 0) bands.push_back(band);
  }
  return bands;
}

}  // namespace softboard
