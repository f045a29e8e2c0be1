#include "output/terminal_encoder.h"

#include <chafa.h>

#include <algorithm>
#include <bit>
#include <new>

#include "output/terminal_images.h"

namespace softboard {
namespace {

constexpr char kKittyDeleteAll[] = "\x1b_Ga=d,d=A,q=2\x1b\\";

std::string KittyDelete(int id) {
  return "\x1b_Ga=d,d=I,q=2,i=" + std::to_string(id) + "\x1b\\";
}

std::string CursorTo(int row, int column) {
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

ChafaCanvasMode SymbolCanvasMode(CellColors colors) {
  switch (colors) {
    case CellColors::kTruecolor: return CHAFA_CANVAS_MODE_TRUECOLOR;
    case CellColors::k256: return CHAFA_CANVAS_MODE_INDEXED_240;
    case CellColors::k16: return CHAFA_CANVAS_MODE_INDEXED_16;
  }
  return CHAFA_CANVAS_MODE_INDEXED_16;
}

// Sixel's qualities: chafa's own palette for each picture, then fixed
// palettes, which are several times quicker to encode and, with fewer
// colours, smaller.
constexpr ChafaCanvasMode kSixelModes[] = {
    CHAFA_CANVAS_MODE_TRUECOLOR, CHAFA_CANVAS_MODE_INDEXED_240, CHAFA_CANVAS_MODE_INDEXED_16,
    CHAFA_CANVAS_MODE_INDEXED_8};
// Symbols' qualities above chafa's (0): half-block cells at these bits a channel.
constexpr int kCellBits[] = {8, 8, 6, 5, 4};

// 0xFFRRGGBB in memory, as chafa names byte orders.
constexpr ChafaPixelType kPixelType = std::endian::native == std::endian::little
                                          ? CHAFA_PIXEL_BGRA8_UNASSOCIATED
                                          : CHAFA_PIXEL_ARGB8_UNASSOCIATED;

}  // namespace

// chafa's objects: the output sequences, the symbols, and canvases for the
// few shapes in use (a band, the last band, the box), made again as those change.
struct FrameEncoder::Chafa {
  struct Canvas {
    int columns, rows, cell_width, cell_height;
    ChafaCanvasMode mode;
    ChafaCanvas* canvas;
  };
  ChafaTermInfo* term = nullptr;
  ChafaSymbolMap* symbols = nullptr;
  std::vector<Canvas> canvases;  // newest last

  ~Chafa() {
    for (Canvas& c : canvases) chafa_canvas_unref(c.canvas);
    if (symbols) chafa_symbol_map_unref(symbols);
    if (term) chafa_term_info_unref(term);
  }

  ChafaCanvas* Get(ChafaPixelMode pixel_mode, ChafaCanvasMode mode, int columns, int rows,
                   int cell_width, int cell_height) {
    for (Canvas& c : canvases) {
      if (c.columns == columns && c.rows == rows && c.cell_width == cell_width &&
          c.cell_height == cell_height && c.mode == mode)
        return c.canvas;
    }
    if (canvases.size() >= 4) {
      chafa_canvas_unref(canvases.front().canvas);
      canvases.erase(canvases.begin());
    }
    ChafaCanvasConfig* config = chafa_canvas_config_new();
    chafa_canvas_config_set_pixel_mode(config, pixel_mode);
    chafa_canvas_config_set_canvas_mode(config, mode);
    chafa_canvas_config_set_symbol_map(config, symbols);
    chafa_canvas_config_set_geometry(config, columns, rows);
    if (pixel_mode != CHAFA_PIXEL_MODE_SYMBOLS)
      chafa_canvas_config_set_cell_geometry(config, cell_width, cell_height);
    ChafaCanvas* canvas = chafa_canvas_new(config);
    chafa_canvas_config_unref(config);
    canvases.push_back({columns, rows, cell_width, cell_height, mode, canvas});
    return canvas;
  }
};

FrameEncoder::FrameEncoder(TerminalMode mode, CellColors colors)
    : mode_(mode), colors_(colors), chafa_(std::make_unique<Chafa>()), cells_(colors) {
  // Every sequence of an xterm-like terminal; which of them are used is the
  // mode's and the colours' choice, made here.
  chafa_->term = chafa_term_db_get_fallback_info(chafa_term_db_get_default());
  // Block elements (halves, quarters, eighths) and the space: drawn by every
  // font a terminal uses, and sharp edges for the scene's triangles.
  chafa_->symbols = chafa_symbol_map_new();
  chafa_symbol_map_add_by_tags(chafa_->symbols,
                               ChafaSymbolTags(CHAFA_SYMBOL_TAG_BLOCK | CHAFA_SYMBOL_TAG_SPACE));
}

FrameEncoder::~FrameEncoder() = default;

QualityLadder FrameEncoder::Ladder() const {
  // Bytes a picture pixel each quality took on the demo's scene: a start,
  // until the real ones are learnt.
  switch (mode_) {
    case TerminalMode::kKitty: return MakeLadder({0.38, 0.13, 0.074, 0.032, 0.02, 0.012, 0.009}, 0);
    case TerminalMode::kIterm:
      return MakeLadder({0.19, 0.11, 0.081, 0.036, 0.025, 0.016, 0.011}, 0);
    case TerminalMode::kSixel: return MakeLadder({0.077, 0.064, 0.028, 0.025}, 1);
    default: return MakeLadder({0.12, 0.12, 0.09, 0.07, 0.05}, 1);
  }
}

std::string FrameEncoder::Clear() {
  std::string bytes = "\x1b[0m\x1b[H\x1b[2J";
  if (mode_ == TerminalMode::kKitty) bytes += kKittyDeleteAll;
  kitty_ids_.clear();
  cells_.Forget();
  return bytes;
}

bool FrameEncoder::EncodeImage(const uint32_t* picture, const CellLayout& layout, const Band& band,
                               int index, int quality, std::string* out) {
  const ImageQuality q = kImageQualities[std::clamp(quality, 0, kImageQualityCount - 1)];
  int width = 0, height = 0;
  ReducePicture(picture, layout.width, band.y, band.height, q, &reduced_, &width, &height);
  *out += CursorTo(layout.row + band.row, layout.column);
  if (mode_ == TerminalMode::kIterm) {
    // The full picture, sent where the link is fast or the picture still, is
    // compressed quickly; the coarser ones, for slow links, hard.
    return AppendItermImage(reduced_.data(), width, height, layout.columns, band.rows,
                            quality == 0 ? 3 : 6, out);
  }
  // Each band is an image of its own, known by an id; the next one goes up
  // before the one it replaces is deleted, so nothing blinks.
  if (kitty_ids_.size() <= size_t(index)) kitty_ids_.resize(size_t(index) + 1, 0);
  const int shown = kitty_ids_[size_t(index)];
  const int id = shown == 2 * index + 1 ? 2 * index + 2 : 2 * index + 1;
  if (!AppendKittyImage(reduced_.data(), width, height, layout.columns, band.rows, id, out))
    return false;
  if (shown != 0) *out += KittyDelete(shown);
  kitty_ids_[size_t(index)] = id;
  return true;
}

void FrameEncoder::EncodeChafa(const uint32_t* picture, const CellLayout& layout, const Band& band,
                               int cell_width, int cell_height, int quality,
                               std::vector<std::string>* pieces) {
  const bool sixel = mode_ == TerminalMode::kSixel;
  ChafaCanvas* canvas =
      chafa_->Get(sixel ? CHAFA_PIXEL_MODE_SIXELS : CHAFA_PIXEL_MODE_SYMBOLS,
                  sixel ? kSixelModes[std::clamp(quality, 0, 3)] : SymbolCanvasMode(colors_),
                  layout.columns, band.rows, cell_width, cell_height);
  chafa_canvas_draw_all_pixels(
      canvas, kPixelType,
      reinterpret_cast<const guint8*>(picture + size_t(band.y) * size_t(layout.width)),
      layout.width, band.height, layout.width * 4);
  GString* shown = chafa_canvas_print(canvas, chafa_->term);
  if (sixel) {
    pieces->push_back(CursorTo(layout.row + band.row, layout.column));
    pieces->back().append(shown->str, shown->len);
    pieces->back() += "\x1b[0m";
  } else {
    // Row by row, each from the box's left edge: a line feed would go to column 1.
    int row = layout.row + band.row;
    pieces->push_back(CursorTo(row, layout.column));
    for (const char* p = shown->str; p < shown->str + shown->len; p++) {
      if (*p == '\n')
        pieces->push_back(CursorTo(++row, layout.column));
      else
        pieces->back() += *p;
    }
    pieces->back() += "\x1b[0m";
    cells_.Forget();  // the screen shows chafa's symbols now
  }
  g_string_free(shown, TRUE);
}

bool FrameEncoder::Encode(const uint32_t* picture, const CellLayout& layout, const Band& band,
                          int index, int cell_width, int cell_height, int quality,
                          std::vector<std::string>* pieces) {
  try {
    if (mode_ == TerminalMode::kKitty || mode_ == TerminalMode::kIterm) {
      pieces->emplace_back();
      return EncodeImage(picture, layout, band, index, quality, &pieces->back());
    }
    if (mode_ == TerminalMode::kSymbols && quality > 0) {
      pieces->emplace_back();
      cells_.Draw(picture, layout, kCellBits[std::clamp(quality, 0, 4)], &pieces->back());
      return true;
    }
    EncodeChafa(picture, layout, band, cell_width, cell_height, quality, pieces);
    return true;
  } catch (const std::bad_alloc&) {
    cells_.Forget();
    return false;
  }
}

std::string EnterScreenBytes() {
  return "\x1b[?1049h\x1b[0m\x1b[H\x1b[2J\x1b[?25l\x1b[?7l";
}

std::string LeaveScreenBytes(TerminalMode mode) {
  // A string (sixel, an image chunk) cut short ends at ST; a kitty
  // transmission cut between chunks ends at its last chunk.
  std::string bytes = "\x1b\\";
  if (mode == TerminalMode::kKitty) bytes += std::string("\x1b_Gq=2,m=0;\x1b\\") + kKittyDeleteAll;
  bytes += "\x1b[0m\x1b[H\x1b[2J\x1b[?7h\x1b[?1049l\x1b[?25h";
  return bytes;
}

}  // namespace softboard
