// Turns pictures into what a terminal shows: kitty's images (zlib) or
// iTerm2's (PNG), sixels or symbols (chafa), and half-block cells for
// symbols in motion; each at a quality, full (0) or coarser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output/display.h"
#include "output/terminal_cells.h"
#include "output/terminal_layout.h"
#include "output/terminal_pacing.h"
#include "output/terminal_query.h"

namespace softboard {

class FrameEncoder {
 public:
  // `mode`: kitty, iterm, sixel or symbols; `colors`: for symbols.
  FrameEncoder(TerminalMode mode, CellColors colors);
  ~FrameEncoder();
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  TerminalMode mode() const { return mode_; }
  // The qualities this mode has, what each is guessed to cost, and the
  // finest one a frame in motion takes: kitty's and iTerm2's images at any
  // (zlib and PNG are quick), sixel and symbols never at chafa's full one.
  QualityLadder Ladder() const;

  // Appends to `pieces` the bytes that show `band` (number `index`) of the
  // layout's box, from `picture` (layout.width x layout.height, 0xFFRRGGBB),
  // at `quality`, cells being `cell_width` x `cell_height` pixels. Symbols
  // take the whole box as one band. Each piece is whole, so that a writer
  // may stop between pieces. False when memory ran out.
  bool Encode(const uint32_t* picture, const CellLayout& layout, const Band& band, int index,
              int cell_width, int cell_height, int quality, std::vector<std::string>* pieces);

  // What clears the screen, of pictures too, as after a resize.
  std::string Clear();

 private:
  struct Chafa;
  bool EncodeImage(const uint32_t* picture, const CellLayout& layout, const Band& band, int index,
                   int quality, std::string* out);
  void EncodeChafa(const uint32_t* picture, const CellLayout& layout, const Band& band,
                   int cell_width, int cell_height, int quality, std::vector<std::string>* pieces);

  TerminalMode mode_;
  CellColors colors_;
  std::unique_ptr<Chafa> chafa_;
  HalfBlockCells cells_;
  std::vector<int> kitty_ids_;     // kitty: the image each band shows, 0: none
  std::vector<uint32_t> reduced_;  // a band at its quality
};

// Pixel protocols show pixels as they are sent; symbols are drawn by cells.
inline bool ShowsPixels(TerminalMode mode) {
  return mode == TerminalMode::kKitty || mode == TerminalMode::kIterm ||
         mode == TerminalMode::kSixel;
}
// How each mode's pictures are laid out: kitty and iTerm2 scale a picture to
// its cells; a sixel or iTerm2 image reaching the last row would scroll the
// screen, and sixel images are cut to whole bands of 6 rows of pixels (the
// encoder would rescale a picture that is not).
inline LayoutRules LayoutRulesFor(TerminalMode mode) {
  LayoutRules rules;
  rules.pixels = ShowsPixels(mode);
  rules.scales = mode == TerminalMode::kKitty || mode == TerminalMode::kIterm;
  rules.spare_last_row = mode == TerminalMode::kSixel || mode == TerminalMode::kIterm;
  rules.height_step = mode == TerminalMode::kSixel ? 6 : 1;
  return rules;
}

// What takes the screen over: the alternate screen, cleared, the cursor
// hidden, no wrapping at the right margin.
std::string EnterScreenBytes();
// What gives it back: ends any picture cut short, deletes the images kitty
// keeps, resets the colours, clears the alternate screen (where there is
// none, the picture), restores wrapping and the cursor, leaves the alternate
// screen.
std::string LeaveScreenBytes(TerminalMode mode);

}  // namespace softboard
