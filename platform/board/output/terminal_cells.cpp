#include "output/terminal_cells.h"

#include <algorithm>
#include <cstdlib>

namespace softboard {
namespace {

constexpr uint32_t kIndexed = 1u << 24;

// The xterm palette's 16 colours, which terminals mostly keep.
constexpr uint32_t kBasic[16] = {0x000000, 0xcd0000, 0x00cd00, 0xcdcd00, 0x0000ee, 0xcd00cd,
                                 0x00cdcd, 0xe5e5e5, 0x7f7f7f, 0xff0000, 0x00ff00, 0xffff00,
                                 0x5c5cff, 0xff00ff, 0x00ffff, 0xffffff};
constexpr int kCubeLevels[6] = {0, 95, 135, 175, 215, 255};

int Distance(int r, int g, int b, uint32_t rgb) {
  const int dr = r - int(rgb >> 16), dg = g - int((rgb >> 8) & 255), db = b - int(rgb & 255);
  return dr * dr + dg * dg + db * db;
}

int NearestCubeLevel(int v) {
  int best = 0;
  for (int i = 1; i < 6; i++)
    if (std::abs(kCubeLevels[i] - v) < std::abs(kCubeLevels[best] - v)) best = i;
  return best;
}

// The nearest of the 6x6x6 cube and the 24 greys of the 256 colours.
uint32_t Nearest256(int r, int g, int b) {
  const int cr = NearestCubeLevel(r), cg = NearestCubeLevel(g), cb = NearestCubeLevel(b);
  const uint32_t cube = uint32_t(kCubeLevels[cr] << 16 | kCubeLevels[cg] << 8 | kCubeLevels[cb]);
  const int grey_step = std::clamp(((r + g + b) / 3 - 8 + 5) / 10, 0, 23);
  const int grey = 8 + 10 * grey_step;
  const uint32_t grey_rgb = uint32_t(grey << 16 | grey << 8 | grey);
  if (Distance(r, g, b, grey_rgb) < Distance(r, g, b, cube)) return uint32_t(232 + grey_step);
  return uint32_t(16 + 36 * cr + 6 * cg + cb);
}

uint32_t Nearest16(int r, int g, int b) {
  uint32_t best = 0;
  for (uint32_t i = 1; i < 16; i++)
    if (Distance(r, g, b, kBasic[i]) < Distance(r, g, b, kBasic[best])) best = i;
  return best;
}

uint32_t Quantise(uint32_t v, int bits) {
  if (bits >= 8) return v;
  const uint32_t top = (1u << bits) - 1;
  return ((v * top + 127) / 255 * 255 + top / 2) / top;
}

// The SGR parameters that make `colour` the foreground (or the background).
void AppendColour(uint32_t colour, bool background, CellColors colors, std::string* out) {
  if (!(colour & kIndexed)) {
    *out += background ? "48;2;" : "38;2;";
    *out += std::to_string(colour >> 16) + ";" + std::to_string((colour >> 8) & 255) + ";" +
            std::to_string(colour & 255);
  } else if (colors == CellColors::k256) {
    *out += (background ? "48;5;" : "38;5;") + std::to_string(colour & 255);
  } else {
    const uint32_t i = colour & 15;
    *out += std::to_string((i < 8 ? 30 : 90) + (background ? 10 : 0) + int(i & 7));
  }
}

void AppendCursorTo(int row, int column, std::string* out) {
  *out += "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

}  // namespace

uint32_t HalfBlockCells::Colour(uint32_t sum_r, uint32_t sum_g, uint32_t sum_b, uint32_t n,
                                int bits) const {
  const int r = int(Quantise((sum_r + n / 2) / n, bits));
  const int g = int(Quantise((sum_g + n / 2) / n, bits));
  const int b = int(Quantise((sum_b + n / 2) / n, bits));
  switch (colors_) {
    case CellColors::kTruecolor: return uint32_t(r << 16 | g << 8 | b);
    case CellColors::k256: return kIndexed | Nearest256(r, g, b);
    case CellColors::k16: return kIndexed | Nearest16(r, g, b);
  }
  return 0;
}

void HalfBlockCells::Draw(const uint32_t* picture, const CellLayout& layout, int bits,
                          std::string* out) {
  const int columns = layout.columns, rows = layout.rows;
  const int width = layout.width, height = layout.height;
  if (columns <= 0 || rows <= 0 || width <= 0 || height <= 0) return;
  if (!(layout == layout_)) known_ = false;
  layout_ = layout;
  const size_t cells = size_t(columns) * size_t(rows);
  if (!known_) {
    top_.assign(cells, ~0u);
    bottom_.assign(cells, ~0u);
  }
  // The picture's columns under each cell: at least one.
  std::vector<int> left(size_t(columns) + 1);
  for (int c = 0; c <= columns; c++) left[size_t(c)] = int(int64_t(c) * width / columns);
  std::vector<uint32_t> sums(size_t(columns) * 3);
  std::vector<uint32_t> halves[2] = {std::vector<uint32_t>(size_t(columns)),
                                     std::vector<uint32_t>(size_t(columns))};

  uint32_t fg = ~0u, bg = ~0u;  // the colours in force; none yet
  int cursor_row = -1, cursor_column = -1;
  for (int r = 0; r < rows; r++) {
    const int y0 = int(int64_t(r) * height / rows);
    const int y1 = std::max(y0 + 1, int(int64_t(r + 1) * height / rows));
    const int middle = y1 - y0 >= 2 ? (y0 + y1) / 2 : y1;
    for (int half = 0; half < 2; half++) {
      const int from = half == 0 ? y0 : (middle < y1 ? middle : y0);
      const int to = half == 0 ? middle : y1;
      std::fill(sums.begin(), sums.end(), 0u);
      for (int y = from; y < to; y++) {
        const uint32_t* row = picture + size_t(std::min(y, height - 1)) * size_t(width);
        for (int c = 0; c < columns; c++) {
          uint32_t* s = &sums[size_t(c) * 3];
          const int x1 = std::max(left[size_t(c)] + 1, left[size_t(c) + 1]);
          for (int x = left[size_t(c)]; x < std::min(x1, width); x++) {
            s[0] += (row[x] >> 16) & 255;
            s[1] += (row[x] >> 8) & 255;
            s[2] += row[x] & 255;
          }
        }
      }
      for (int c = 0; c < columns; c++) {
        const int x1 = std::min(width, std::max(left[size_t(c)] + 1, left[size_t(c) + 1]));
        const uint32_t n = uint32_t((x1 - left[size_t(c)]) * (to - from));
        const uint32_t* s = &sums[size_t(c) * 3];
        halves[half][size_t(c)] = Colour(s[0], s[1], s[2], std::max(n, 1u), bits);
      }
    }
    for (int c = 0; c < columns; c++) {
      const size_t at = size_t(r) * size_t(columns) + size_t(c);
      const uint32_t top = halves[0][size_t(c)], bottom = halves[1][size_t(c)];
      if (known_ && top_[at] == top && bottom_[at] == bottom) continue;
      top_[at] = top;
      bottom_[at] = bottom;
      if (cursor_row != r || cursor_column != c)
        AppendCursorTo(layout.row + r, layout.column + c, out);
      // A space where both halves agree: one colour to set, and no glyph a
      // font could draw with a seam.
      const bool space = top == bottom;
      const bool set_fg = !space && fg != top, set_bg = bg != (space ? top : bottom);
      if (set_fg || set_bg) {
        *out += "\x1b[";
        if (set_fg) AppendColour(fg = top, false, colors_, out);
        if (set_fg && set_bg) *out += ";";
        if (set_bg) AppendColour(bg = space ? top : bottom, true, colors_, out);
        *out += "m";
      }
      *out += space ? " " : "\xE2\x96\x80";  // U+2580, the upper half block
      cursor_row = r;
      cursor_column = c + 1;
    }
  }
  *out += "\x1b[0m";
  known_ = true;
}

}  // namespace softboard
