// What a terminal was sent, taken apart: kitty's images, sixel images, and the
// cells tmux shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// One image sent whole with kitty's graphics protocol: its keys and its
// decoded pixels (RGBA, 4 bytes a pixel), and where it lies in the stream.
struct KittyImage {
  int id = 0, format = 0, width = 0, height = 0, columns = 0, rows = 0;
  std::string pixels;
  size_t start = 0, end = 0;
};
std::vector<KittyImage> KittyImages(std::string_view stream);

// Kitty commands that delete images (a=d), with where each lies.
struct KittyDelete {
  std::string keys;
  size_t start = 0;
};
std::vector<KittyDelete> KittyDeletes(std::string_view stream);

// Every whole sixel image (from ESC P to ST), as sent.
std::vector<std::string> SixelImages(std::string_view stream);

std::string Base64Decode(std::string_view text);

// A cell of tmux's `capture-pane -e`: its character and the colours it shows
// (0xRRGGBB; -1 for the terminal's default), reverse video applied.
struct Cell {
  std::string text = " ";
  int fg = -1, bg = -1;
};
std::vector<std::vector<Cell>> ParseCapture(std::string_view capture);

}  // namespace e2e
