#include "output/terminal_encoder.h"

#include <chafa.h>

#include <bit>
#include <cstring>
#include <utility>
#include <vector>

namespace softboard {
namespace {

// Kitty answers nothing (q=2), keeps the cursor where it is (C=1, so a
// picture on the last row does not scroll) and knows each picture by its id,
// so the one before can be deleted once the next is up, with no blank between.
std::string KittyImageStart(int id) {
  return "\x1b_Ga=T,q=2,C=1,i=" + std::to_string(id) + ",f=%1,s=%2,v=%3,c=%4,r=%5,m=1\x1b\\";
}
std::string KittyDelete(int id) {
  return "\x1b_Ga=d,d=I,q=2,i=" + std::to_string(id) + "\x1b\\";
}
constexpr char kKittyDeleteAll[] = "\x1b_Ga=d,d=A,q=2\x1b\\";

std::string CursorTo(int row, int column) {
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

ChafaPixelMode PixelMode(TerminalMode mode) {
  switch (mode) {
    case TerminalMode::kKitty: return CHAFA_PIXEL_MODE_KITTY;
    case TerminalMode::kIterm: return CHAFA_PIXEL_MODE_ITERM2;
    case TerminalMode::kSixel: return CHAFA_PIXEL_MODE_SIXELS;
    default: return CHAFA_PIXEL_MODE_SYMBOLS;
  }
}

ChafaCanvasMode CanvasMode(CellColors colors) {
  switch (colors) {
    case CellColors::kTruecolor: return CHAFA_CANVAS_MODE_TRUECOLOR;
    case CellColors::k256: return CHAFA_CANVAS_MODE_INDEXED_240;
    case CellColors::k16: return CHAFA_CANVAS_MODE_INDEXED_16;
  }
  return CHAFA_CANVAS_MODE_INDEXED_16;
}

// 0xFFRRGGBB in memory, as chafa names byte orders.
constexpr ChafaPixelType kPixelType = std::endian::native == std::endian::little
                                          ? CHAFA_PIXEL_BGRA8_UNASSOCIATED
                                          : CHAFA_PIXEL_ARGB8_UNASSOCIATED;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  const char* at = std::strchr(kBase64, c);
  return c != '\0' && at ? int(at - kBase64) : -1;
}

// The payloads of kitty's image chunks in `out` from `from` on, as
// [begin, end) offsets.
std::vector<std::pair<size_t, size_t>> KittyPayloads(const std::string& out, size_t from) {
  std::vector<std::pair<size_t, size_t>> payloads;
  for (size_t at = out.find("\x1b_G", from); at != std::string::npos;
       at = out.find("\x1b_G", at + 1)) {
    const size_t end = out.find("\x1b\\", at);
    if (end == std::string::npos) break;
    const size_t semicolon = out.find(';', at);
    if (semicolon < end) payloads.push_back({semicolon + 1, end});
  }
  return payloads;
}

// chafa 1.12 ends a base64 chunk of a kitty image that holds two bytes past
// a whole group wrongly: the third character carries the second byte's low
// four bits unshifted, where base64 puts them two bits up (so an opaque
// pixel in every 128 came out 95 % opaque). Each such chunk is mended.
void MendKittyChunks(std::string* out, size_t from) {
  for (const auto& [begin, end] : KittyPayloads(*out, from)) {
    if (end - begin < 4 || (*out)[end - 1] != '=' || (*out)[end - 2] == '=') continue;
    const int value = Base64Value((*out)[end - 2]);
    if (value >= 0 && value < 16) (*out)[end - 2] = kBase64[value << 2];
  }
}

// Whether this chafa has that fault: two opaque pixels (8 bytes) must end
// in "8=" (0xFF's low bits, shifted), not "P=".
bool KittyChunksNeedMending(ChafaTermInfo* term) {
  ChafaCanvasConfig* config = chafa_canvas_config_new();
  chafa_canvas_config_set_pixel_mode(config, CHAFA_PIXEL_MODE_KITTY);
  chafa_canvas_config_set_geometry(config, 1, 1);
  chafa_canvas_config_set_cell_geometry(config, 2, 1);
  ChafaCanvas* canvas = chafa_canvas_new(config);
  const uint32_t pixels[2] = {0xFF102030u, 0xFF102030u};
  chafa_canvas_draw_all_pixels(canvas, kPixelType, reinterpret_cast<const guint8*>(pixels), 2, 1,
                               8);
  GString* printed = chafa_canvas_print(canvas, term);
  const std::string out(printed->str, printed->len);
  g_string_free(printed, TRUE);
  chafa_canvas_unref(canvas);
  chafa_canvas_config_unref(config);
  for (const auto& [begin, end] : KittyPayloads(out, 0)) {
    if (end - begin >= 4 && out[end - 1] == '=') return out[end - 2] != '8';
  }
  return false;
}

}  // namespace

// chafa's objects: the output sequences, the configuration and a canvas for
// the current box, made again when the box changes.
struct FrameEncoder::Chafa {
  ChafaTermInfo* term = nullptr;
  ChafaCanvasConfig* config = nullptr;
  ChafaSymbolMap* symbols = nullptr;
  ChafaCanvas* canvas = nullptr;
  int columns = 0, rows = 0, cell_width = 0, cell_height = 0;

  ~Chafa() {
    if (canvas) chafa_canvas_unref(canvas);
    if (symbols) chafa_symbol_map_unref(symbols);
    if (config) chafa_canvas_config_unref(config);
    if (term) chafa_term_info_unref(term);
  }
};

FrameEncoder::FrameEncoder(TerminalMode mode, CellColors colors)
    : chafa_(std::make_unique<Chafa>()), mode_(mode) {
  // Every sequence of an xterm-like terminal; which of them are used is the
  // mode's and the colours' choice, made here.
  chafa_->term = chafa_term_db_get_fallback_info(chafa_term_db_get_default());
  chafa_->config = chafa_canvas_config_new();
  chafa_canvas_config_set_pixel_mode(chafa_->config, PixelMode(mode));
  chafa_canvas_config_set_canvas_mode(
      chafa_->config, ShowsPixels(mode) ? CHAFA_CANVAS_MODE_TRUECOLOR : CanvasMode(colors));
  // Block elements (halves, quarters, eighths) and the space: drawn by every
  // font a terminal uses, and sharp edges for the scene's triangles.
  chafa_->symbols = chafa_symbol_map_new();
  chafa_symbol_map_add_by_tags(chafa_->symbols,
                               ChafaSymbolTags(CHAFA_SYMBOL_TAG_BLOCK | CHAFA_SYMBOL_TAG_SPACE));
  chafa_canvas_config_set_symbol_map(chafa_->config, chafa_->symbols);
  mend_kitty_ = mode == TerminalMode::kKitty && KittyChunksNeedMending(chafa_->term);
}

FrameEncoder::~FrameEncoder() = default;

void FrameEncoder::Encode(const uint32_t* picture, const CellLayout& layout, int cell_width,
                          int cell_height, bool clear, std::string* out) {
  Chafa& c = *chafa_;
  if (!c.canvas || c.columns != layout.columns || c.rows != layout.rows ||
      c.cell_width != cell_width || c.cell_height != cell_height) {
    if (c.canvas) chafa_canvas_unref(c.canvas);
    chafa_canvas_config_set_geometry(c.config, layout.columns, layout.rows);
    if (ShowsPixels(mode_))
      chafa_canvas_config_set_cell_geometry(c.config, cell_width, cell_height);
    c.canvas = chafa_canvas_new(c.config);
    c.columns = layout.columns;
    c.rows = layout.rows;
    c.cell_width = cell_width;
    c.cell_height = cell_height;
  }
  const int previous_id = image_id_;
  if (mode_ == TerminalMode::kKitty) {
    image_id_ = 3 - image_id_;
    chafa_term_info_set_seq(c.term, CHAFA_TERM_SEQ_BEGIN_KITTY_IMMEDIATE_IMAGE_V1,
                            KittyImageStart(image_id_).c_str(), nullptr);
  }
  chafa_canvas_draw_all_pixels(c.canvas, kPixelType, reinterpret_cast<const guint8*>(picture),
                               layout.width, layout.height, layout.width * 4);
  GString* shown = chafa_canvas_print(c.canvas, c.term);

  if (clear) {
    *out += "\x1b[0m\x1b[H\x1b[2J";
    if (mode_ == TerminalMode::kKitty) *out += kKittyDeleteAll;
  }
  *out += CursorTo(layout.row, layout.column);
  if (mode_ == TerminalMode::kSymbols) {
    // Row by row, each from the box's left edge.
    int row = layout.row;
    for (const char* p = shown->str; p < shown->str + shown->len; p++) {
      if (*p == '\n')
        *out += CursorTo(++row, layout.column);
      else
        *out += *p;
    }
  } else {
    const size_t start = out->size();
    out->append(shown->str, shown->len);
    if (mend_kitty_) MendKittyChunks(out, start);
  }
  g_string_free(shown, TRUE);
  if (mode_ == TerminalMode::kKitty && !clear) *out += KittyDelete(previous_id);
  *out += "\x1b[0m";
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
