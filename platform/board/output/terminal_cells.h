// Character cells drawn fast, for frames in motion: each cell the upper half
// block (or a space) in the colours of its two halves, each half the mean of
// the picture's pixels under it, and only the cells that differ from what
// the screen shows are sent. (chafa's symbols, sharper, take tens of
// milliseconds a frame on a large grid; this takes one.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/terminal_layout.h"
#include "output/terminal_query.h"

namespace softboard {

class HalfBlockCells {
 public:
  explicit HalfBlockCells(CellColors colors) : colors_(colors) {}

  // Appends the bytes that bring the layout's box of cells to `picture`
  // (layout.width x layout.height pixels, 0xFFRRGGBB), each channel at
  // `bits` (8: as it is): the cells that differ from those drawn last, or
  // all of them when what the screen shows is not known.
  void Draw(const uint32_t* picture, const CellLayout& layout, int bits, std::string* out);
  // What the screen shows is no longer known (cleared, or drawn by other means).
  void Forget() { known_ = false; }

 private:
  // A cell's colour as the terminal is told it: 0xRRGGBB, or an index of
  // the 256 or 16 colours with kIndexed set.
  uint32_t Colour(uint32_t sum_r, uint32_t sum_g, uint32_t sum_b, uint32_t n, int bits) const;

  CellColors colors_;
  bool known_ = false;
  CellLayout layout_;
  std::vector<uint32_t> top_, bottom_;  // what the screen shows, cell by cell
};

}  // namespace softboard
