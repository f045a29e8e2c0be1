// Turns pictures into what a terminal shows (chafa's encoders): kitty's or
// iTerm2's images, sixels, or coloured character cells.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output/display.h"
#include "output/terminal_layout.h"
#include "output/terminal_query.h"

namespace softboard {

class FrameEncoder {
 public:
  // `mode`: kitty, iterm, sixel or symbols; `colors`: for symbols.
  FrameEncoder(TerminalMode mode, CellColors colors);
  ~FrameEncoder();
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  // Appends to `out` the bytes that show `picture` (layout.width x
  // layout.height pixels, 0xFFRRGGBB, packed) in the layout's box of cells,
  // each `cell_width` x `cell_height` pixels. `clear`: the screen is cleared
  // first (of pictures too), as after a resize.
  void Encode(const uint32_t* picture, const CellLayout& layout, int cell_width, int cell_height,
              bool clear, std::string* out);

 private:
  struct Chafa;
  std::unique_ptr<Chafa> chafa_;
  TerminalMode mode_;
  int image_id_ = 1;         // kitty: the image shown, replaced by the next one
  bool mend_kitty_ = false;  // this chafa's kitty chunks need mending (see the .cpp)
};

// Pixel protocols show pixels as they are sent; symbols are drawn by cells.
inline bool ShowsPixels(TerminalMode mode) {
  return mode == TerminalMode::kKitty || mode == TerminalMode::kIterm ||
         mode == TerminalMode::kSixel;
}
// How each mode's pictures are laid out: a sixel or iTerm2 image reaching
// the last row would scroll the screen, and sixel images are cut to whole
// bands of 6 rows of pixels (the encoder would rescale a picture that is not).
inline LayoutRules LayoutRulesFor(TerminalMode mode) {
  LayoutRules rules;
  rules.pixels = ShowsPixels(mode);
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
