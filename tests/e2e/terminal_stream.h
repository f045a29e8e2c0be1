// What a terminal was sent, taken apart: kitty's images, sixel images, and the
// cells tmux shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// One image sent whole with kitty's graphics protocol: its keys, its pixels
// as kitty reads them (the chunks joined, base64 decoded and, with o=z,
// inflated: RGB or RGBA as `format` says), the cell it was put at (the
// cursor moved there just before; -1 if not), and where it lies in the stream.
struct KittyImage {
  int id = 0, format = 0, width = 0, height = 0, columns = 0, rows = 0;
  bool compressed = false;
  bool decoded = false;  // the payload inflated to width x height pixels exactly
  size_t sent = 0;       // payload bytes, as base64
  std::string pixels;
  int row = -1, column = -1;
  size_t start = 0, end = 0;
};
std::vector<KittyImage> KittyImages(std::string_view stream);

// Kitty commands that delete images (a=d), with where each lies.
struct KittyDelete {
  std::string keys;
  size_t start = 0;
};
std::vector<KittyDelete> KittyDeletes(std::string_view stream);

// Every whole sixel image (from ESC P to ST), as sent, with the cell it was
// put at (-1 if the cursor was not moved there just before).
struct SixelImage {
  std::string data;
  int row = -1, column = -1;
  size_t start = 0;
};
std::vector<SixelImage> SixelImages(std::string_view stream);

// Every whole iTerm2 inline image: the file it carries (base64 decoded), the
// cells it is stretched to, and the cell it was put at.
struct ItermImage {
  std::string file;
  int width = 0, height = 0;  // in cells
  int size = 0;               // the size it says the file has
  int row = -1, column = -1;
  size_t start = 0;
};
std::vector<ItermImage> ItermImages(std::string_view stream);

std::string Base64Decode(std::string_view text);

// A cell of tmux's `capture-pane -e`: its character and the colours it shows
// (0xRRGGBB; -1 for the terminal's default), reverse video applied.
struct Cell {
  std::string text = " ";
  int fg = -1, bg = -1;
};
std::vector<std::vector<Cell>> ParseCapture(std::string_view capture);

}  // namespace e2e
