// The board's whole state: one plain struct with a part per unit. The entry
// points hold the one instance; units and tests are handed a reference.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "grlib.h"
#include "pixel.h"
#include "render_state.h"

namespace softboard {

constexpr uint32_t kTextureMemoryBytes = 2u << 20;

enum class DisplayMode { kWindow, kFullscreen, kTerminal, kHeadless };
// How a window shows a frame: a texture drawn by SDL's renderer (worth it on a
// GPU), or the window's own surface, which costs a copy at most (where the
// renderer would be a software rasterizer). kAuto asks which it would be.
enum class PresentMode { kAuto, kGpu, kSurface };
// How the terminal display draws: a pixel protocol, or coloured character
// cells; kAuto takes the best the terminal is found to offer.
enum class TerminalMode { kAuto, kKitty, kIterm, kSixel, kSymbols };

struct Settings {
  DisplayMode display = DisplayMode::kWindow;
  PresentMode present = PresentMode::kAuto;
  TerminalMode terminal = TerminalMode::kAuto;
  bool display_named = false;  // SOFTBOARD_DISPLAY named a display (not left to the default)
  bool vsync = true;
  int boards = 1;
  std::string screenshot_path;  // empty: none
  std::string trace_path;       // empty: no trace
  double scale = 0;             // 1..8; 0: auto, to fit the window (1 headless)
  int ssaa = 1;                 // 1, 2 or 4 samples a side
  int threads = 0;              // 1 up; 0: auto, the cores the process may use
  int color_bits = 32;          // 32: 8 bits a channel; 16: 5-6-5
  int dither = 4;               // 16-bit colour's ordered dither: 4 (4x4), 2 (2x2) or 0 (off)
};

constexpr double kMaxScale = 8;
constexpr int kMaxThreads = 256;

// Pixels from a cache-line boundary: rows a multiple of 16 pixels long then
// all start on one, and no 64-byte store of a span loop straddles two lines.
template <class T>
struct CacheLineAllocator {
  using value_type = T;
  CacheLineAllocator() = default;
  template <class U>
  CacheLineAllocator(const CacheLineAllocator<U>&) {}
  T* allocate(size_t n) {
    return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{64}));
  }
  void deallocate(T* p, size_t) { ::operator delete (p, std::align_val_t{64}); }
  template <class U>
  bool operator==(const CacheLineAllocator<U>&) const {
    return true;
  }
};
using PixelBuffer = std::vector<uint32_t, CacheLineAllocator<uint32_t>>;

// Rows of 0xAARRGGBB pixels, `stride` pixels apart, in memory that a display
// shows as it is (a window's own surface): a frame drawn or averaged there
// needs no copy to be seen.
struct DisplayRows {
  uint32_t* pixels = nullptr;
  size_t stride = 0;
  friend bool operator==(const DisplayRows&, const DisplayRows&) = default;
};

// The colour buffers are drawn at `ssaa` times the shown size each way; the
// 640x480 scene is mapped onto them whole.
struct FrameBuffers {
  std::array<PixelBuffer, 3> color;  // `height` rows of `width` pixels, when open
  int width = 0, height = 0;
  int ssaa = 1;       // samples a side
  PixelBuffer shown;  // with ssaa > 1: the front buffer averaged down
  // Supersampled and drawn in bands: no buffer of the drawn size exists; each
  // band is drawn in rows of its own and averaged into `shown` at once.
  bool banded = false;
  // With 16-bit colour: every written pixel is quantised to 5-6-5 through
  // these thresholds: for each of the 4 scene rows of the dither matrix, one
  // per column, DitherOffset of the threshold in 16ths in both 16-bit halves.
  bool color16 = false;
  int dither_matrix = 4;  // 4 (4x4), 2 (2x2) or 0 (none: the nearest value)
  std::array<std::vector<uint32_t>, 4> dither;
  // 16-bit colour at one sample a pixel: a buffer holds the frame's 5-6-5
  // pixels, row by row, then its alpha plane, a byte a pixel (three bytes a
  // pixel in all). Supersampled, the samples are kept 8 bits a channel, as
  // 5-6-5 values widened by repeating their top bits, and the frame shown is
  // their average.
  bool rgb565 = false;
  int count = 0;  // colour buffers the program asked for
  int drawn = 0;  // of them, buffers of the drawn size that exist
  int front = 0;  // shown
  int back = 1;   // drawn into
  // Where the display lets the frame as shown live in its own memory: then
  // the frame is drawn there (one sample a pixel, 8 bits a channel; no colour
  // buffer of the board's own), or averaged there (supersampled; no `shown`).
  DisplayRows direct;
  // The auxiliary (depth) buffer. Nothing on this board tests or writes depth
  // per pixel, so it is everywhere the value of its last clear: no plane of
  // memory to fill each frame.
  uint16_t depth = 0;
};

// One decoded texture level, texels packed 0xAARRGGBB, row by row from the top.
struct TextureLevel {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> texels;
  // Each texel's wrapped 2x2 neighbourhood (itself, right, below,
  // below-right), made from `texels` when the span loops first need it.
  std::vector<uint32_t> footprint;
};

// The texture the unit samples: where it lies and how it is laid out.
struct TextureSource {
  bool valid = false;
  uint32_t address = 0;
  uint32_t level_mask = 0;
  int small_lod = 0;
  int large_lod = 0;
  int aspect = 0;
  int format = 0;
};

struct TextureUnitState {
  std::vector<uint8_t> memory;  // kTextureMemoryBytes
  TextureSource source;
  // The largest level of the source, decoded to 8-bit RGBA; rebuilt when the
  // source, its texels or the table change.
  TextureLevel decoded;
  bool decoded_valid = false;
  // Table of the palette and NCC formats; starts as a grey ramp.
  std::array<uint32_t, 256> palette{};
  GuNccTable ncc{};
  TexCombineState combine;
  bool bilinear = true;
  bool wrap_s = true;
  bool wrap_t = true;
};

class Display;        // window or headless; see display.h
class FrameRecorder;  // a frame's drawing; see frame_recorder.h

struct TraceState {
  std::FILE* file = nullptr;
  std::string path;
  bool pipe = false;  // a pipe or socket: its reader may go away
};

struct BoardState {
  bool initialized = false;
  bool failure_reported = false;  // a call that ran out of memory has said so
  int ssaa_reported = 0;          // the reduced supersampling last said on standard error
  bool shut_down = false;
  int selected = -1;  // board chosen by grSstSelect
  bool open = false;  // display open
  Settings settings;
  int color_format = GR_COLORFORMAT_ARGB;
  int origin = GR_ORIGIN_UPPER_LEFT;
  int refresh_hz = 60;
  RenderState render;
  FrameBuffers frame;
  TextureUnitState tmu0;
  TraceState trace;
  std::unique_ptr<Display> display;
  // Made with the display: a frame's drawing is recorded and drawn in bands.
  // Null (a board a test builds): drawing happens at once.
  std::unique_ptr<FrameRecorder> recorder;

  BoardState();
  ~BoardState();
  BoardState(const BoardState&) = delete;
  BoardState& operator=(const BoardState&) = delete;
};

}  // namespace softboard
