// What a frame is drawn with, command by command, in bands of rows: each
// command says what it is and where it draws. A band's rows depend on nothing
// outside it, so bands can be drawn in any order, on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>

#include "raster/triangle.h"

namespace softboard {

// Where a command draws: a buffer's rows, or the rows of the band being
// drawn, kept by the thread drawing it (a supersampled frame drawn in bands
// only has no buffer of its drawn size). Of those, `rows` gives all but where
// they are: the size, stride and layout of the whole.
struct Destination {
  enum class Where : uint8_t { kBuffer, kBandRows };
  Where where = Where::kBuffer;
  DepthRows depth = {};  // the whole depth buffer, always a buffer's; none: not made
  PixelRows rows;
  friend bool operator==(const Destination&, const Destination&) = default;
};

// The destination's pixels within `rect` to `pixel` (0xAARRGGBB; see
// FillRows), colour and alpha plane as the masks say, and its depths to
// `depth_value` when `depth`.
struct ClearCommand {
  Destination to;
  uint32_t pixel = 0;
  ClipRect rect{0, 0, 1 << 30, 1 << 30};
  bool rgb = true, alpha = true;
  bool depth = false;
  uint16_t depth_value = 0;
};

// The triangle is kept by the recorder (see TriangleStore) for as long as
// the command is.
struct TriangleCommand {
  Destination to;
  const PreparedTriangle* triangle = nullptr;
};

// Each `ssaa` x `ssaa` block of what was drawn in `from` averaged into a
// pixel of `to` (0xAARRGGBB rows), right after the band is drawn, while its
// rows are still in cache.
struct AverageDownCommand {
  Destination from;
  int ssaa = 2;
  PixelRows to;
};

using BandCommand = std::variant<ClearCommand, TriangleCommand, AverageDownCommand>;

// The first row below what the command touches, and the first it touches.
int RowEnd(const BandCommand& command);
int FirstRow(const BandCommand& command);
// Asks for what drawing the command reads first (a triangle's record, which a
// frame of thousands leaves out of the cache), ahead of drawing it.
void PrefetchCommand(const BandCommand& command);
// Whether it touches rows [top, bottom).
bool Touches(const BandCommand& command, int top, int bottom);
// Whether two commands draw the same pixels, the texture and the buffers being
// as they were.
bool SameCommand(const BandCommand& a, const BandCommand& b);
bool IsClear(const BandCommand& command);
// Whether a command is a clear that leaves nothing of what was drawn before in
// rows [top, bottom) of colour and alpha (and of depth, when `depth`).
bool ClearsAll(const BandCommand& command, int top, int bottom, bool depth);
// Whether a command reads the depth buffer.
bool ReadsDepth(const BandCommand& command);
// The bytes a band of `band_rows` rows needs of its own to draw the command
// there (0: none).
size_t BandRowBytes(const BandCommand& command, int band_rows);

// Works out what of a triangle command's part in rows [top, bottom) its
// drawing would wait on first (see SpansAhead); for any other command, none.
void WorkAhead(const BandCommand& command, int top, int bottom, SpansAhead* ahead);

// Draws the command's part in rows [top, bottom); `band_memory` holds the
// band's own rows, from row `top`. `ahead`: what WorkAhead made for it, if
// anything.
void DrawInBand(const BandCommand& command, int top, int bottom, void* band_memory,
                const SpansAhead* ahead = nullptr);

}  // namespace softboard
