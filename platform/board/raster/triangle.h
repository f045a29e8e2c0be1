// A triangle, prepared once and then drawn a range of rows at a time: its
// setup, a copy of every input its pixels need, and the span loop its state
// takes, chosen once.
#pragma once

#include <memory>

#include "grlib.h"
#include "pixel/fused_loops.h"
#include "pixel/pixel_rows.h"
#include "pixel/pixel_state.h"
#include "pixel/render_state.h"
#include "pixel/span.h"
#include "pixel/span_start.h"
#include "raster/line.h"
#include "raster/row_spans.h"
#include "raster/setup.h"
#include "raster/setup_lanes.h"
#include "raster/texture_memory.h"

namespace softboard {

// What a triangle is drawn into: its size, how it keeps its pixels, and
// with 16-bit colour the dither thresholds of each scene row of the matrix
// (null: 8 bits a channel).
struct TriangleTarget {
  int width = 0, height = 0;
  PixelLayout layout = PixelLayout::kArgb8888;
  const uint32_t* dither[4] = {};
  // The LOD dither values of each scene row of the matrix, a byte a pixel
  // (null: 0).
  const uint8_t* lod_dither[4] = {};
  int ssaa = 1;  // samples a side of a shown pixel (lines and points are shown pixels)
};

// A triangle ready to draw: it can be drawn later, row range by row range, on
// any thread; it keeps the texture it samples.
struct alignas(64) PreparedTriangle {
  // What a frame of thousands writes and reads back for each triangle comes
  // first, together: those records overflow the cache, and each line costs.
  // What it holds on to first, in the line a store's clear reads.
  std::shared_ptr<const TriangleInputs> shared;
  const TriangleInputs& Inputs() const { return shared ? *shared : inputs; }
  SharedTexture texture;   // what inputs.texture points into; null when unread
  SharedTexture texture1;  // unit 1's, where it takes part
  TriangleSetup setup;
  SpanLoop loop = nullptr;
  // Where there is one, a loop over its rows that draws them as `loop` does.
  RowsLoop rows_loop = nullptr;
  bool fused = false;  // `loop` is a fused loop, not the general one
  enum class Shape : uint8_t { kTriangle, kLine, kPoint } shape = Shape::kTriangle;
  // What every row's span shares: its steps along the row (the units' own
  // path: and each unit's).
  SpanInputs steps;
  TriangleTarget target;
  // A line's or a point's spans; a triangle's are not read.
  LineSpans line;
  UnitSpan unit_steps[2];
  // Its inputs: its own, or where a run of triangles in one untextured state
  // shares the first one's, those (each then neither writes nor reads a
  // copy of its own).
  TriangleInputs inputs;
};

// Whether two triangles draw the same pixels, the target being as it was:
// what drawing reads is made from the setup (the same bits whatever corners
// gave them), the line's spans, the state and the textures.
bool SameTriangle(const PreparedTriangle& a, const PreparedTriangle& b);

// Which span loops may draw: the fused loop for the state where there is one,
// or only the general loop (which must give the same pixels: tests compare).
enum class SpanLoops { kBest, kGeneralOnly };

// Prepares the triangle abc, drawn with `render` and texture unit `tmu` (and
// `tmu1`, where unit 1 takes part), for `target`. False when it draws nothing
// there. Any vertex values are safe; both windings are drawn.
bool PrepareTriangle(const TriangleTarget& target, const RenderState& render,
                     const TextureUnitState& tmu, const GrVertex& a, const GrVertex& b,
                     const GrVertex& c, SpanLoops loops, PreparedTriangle* out,
                     const TextureUnitState* tmu1 = nullptr);

// The first `count` triangles of `corners` prepared as PrepareTriangle
// prepares each, in two steps: their setups made together (batch->ok[i]: triangle i may draw
// anything), then each prepared from its setup, with the same state. `same_state`: a triangle
// before it was prepared (true returned) on this thread with this state, unchanged since.
void SetUpTriangles(const TriangleTarget& target, const RenderState& render,
                    const TextureUnitState& tmu, const TriangleCorners& corners, int count,
                    SetupBatch* batch, const TextureUnitState* tmu1 = nullptr);
bool PrepareSetUpTriangle(const TriangleTarget& target, const RenderState& render,
                          const TextureUnitState& tmu, const SetupBatch& batch, int i,
                          SpanLoops loops, bool same_state, PreparedTriangle* out,
                          const TextureUnitState* tmu1 = nullptr);

// The line ab and the point p, prepared as PrepareTriangle prepares a
// triangle (see SetupLine and SetupPoint).
bool PrepareLine(const TriangleTarget& target, const RenderState& render,
                 const TextureUnitState& tmu, const GrVertex& a, const GrVertex& b, SpanLoops loops,
                 PreparedTriangle* out, const TextureUnitState* tmu1 = nullptr);
bool PreparePoint(const TriangleTarget& target, const RenderState& render,
                  const TextureUnitState& tmu, const GrVertex& p, SpanLoops loops,
                  PreparedTriangle* out, const TextureUnitState* tmu1 = nullptr);

// The clip window's pixels in a target: its edges at round(edge * scale).
struct ClipRect {
  int x0, y0, x1, y1;
};
ClipRect TargetClip(const ClipWindow& clip, int width, int height);

// A triangle's first rows in a band, worked out before the command ahead of
// it is drawn: its drawing then need not wait on the divisions that make
// them, which overlap the drawing before.
struct SpansAhead {
  const PreparedTriangle* triangle = nullptr;  // null: none worked out
  int row = 0, count = 0;                      // rows [row, row + count)
  int32_t x0[kRowSpansRoom], x1[kRowSpansRoom];
  RowsSummary summary;
};

// Works out the first rows DrawRows(t, ..., row_begin, row_end) draws, where
// it can in lanes; else leaves `ahead` empty.
void WorkOutSpansAhead(const PreparedTriangle& t, int row_begin, int row_end, SpansAhead* ahead);

// Draws the triangle's rows [row_begin, row_end) into `rows`, whose first row
// is row `first_row` of the target (a 5-6-5 buffer is always passed whole),
// and `depth`, the target's depth buffer (rows of the whole target). Takes
// its first rows from `ahead` where that holds them.
void DrawRows(const PreparedTriangle& t, const PixelRows& rows, int row_begin, int row_end,
              int first_row = 0, const DepthRows& depth = {}, const SpansAhead* ahead = nullptr);

}  // namespace softboard
