#include "frame/band_commands.h"

#include <algorithm>
#include <cstddef>

#include "frame/framebuffer.h"
#include "pixel/average_down.h"

namespace softboard {
namespace {

// Overloads a visitor of the three commands from lambdas.
template <class... F>
struct Visit : F... {
  using F::operator()...;
};
template <class... F>
Visit(F...) -> Visit<F...>;

bool InBand(const Destination& d) {
  return d.where == Destination::Where::kBandRows;
}

// The rows a band from `top` to `bottom` draws in: the destination's, or the
// band's own, `band_memory`, which then hold its row `top` first.
PixelRows BandRows(const Destination& d, int top, int bottom, void* band_memory) {
  if (!InBand(d)) return d.rows;
  PixelRows rows = d.rows;
  rows.pixels = band_memory;
  rows.height = bottom - top;
  return rows;
}

}  // namespace

int RowEnd(const BandCommand& command) {
  return std::visit(Visit{[](const ClearCommand& c) { return c.to.rows.height; },
                          [](const TriangleCommand& t) { return t.triangle->setup.row_end; },
                          [](const AverageDownCommand& a) { return a.from.rows.height; }},
                    command);
}

int FirstRow(const BandCommand& command) {
  const auto* t = std::get_if<TriangleCommand>(&command);
  return t ? t->triangle->setup.row_begin : 0;
}

bool Touches(const BandCommand& command, int top, int bottom) {
  if (const auto* t = std::get_if<TriangleCommand>(&command))
    return t->triangle->setup.row_begin < bottom && t->triangle->setup.row_end > top;
  return top < RowEnd(command);
}

bool IsClear(const BandCommand& command) {
  return std::holds_alternative<ClearCommand>(command);
}

bool ClearsAll(const BandCommand& command, int top, int bottom, bool depth) {
  const auto* c = std::get_if<ClearCommand>(&command);
  if (c == nullptr || !c->rgb || !c->alpha || (depth && !c->depth)) return false;
  const ClipRect& r = c->rect;
  return r.x0 <= 0 && r.x1 >= c->to.rows.width && r.y0 <= top && r.y1 >= bottom;
}

bool ReadsDepth(const BandCommand& command) {
  const auto* t = std::get_if<TriangleCommand>(&command);
  return t && UsesDepth(t->triangle->Inputs().state.pipeline);
}

bool SameCommand(const BandCommand& a, const BandCommand& b) {
  if (a.index() != b.index()) return false;
  return std::visit(Visit{[&](const ClearCommand& c) {
                            const auto& d = std::get<ClearCommand>(b);
                            const auto same_rect = [](const ClipRect& x, const ClipRect& y) {
                              return x.x0 == y.x0 && x.y0 == y.y0 && x.x1 == y.x1 && x.y1 == y.y1;
                            };
                            return c.to == d.to && c.pixel == d.pixel &&
                                   same_rect(c.rect, d.rect) && c.rgb == d.rgb &&
                                   c.alpha == d.alpha && c.depth == d.depth &&
                                   c.depth_value == d.depth_value;
                          },
                          [&](const TriangleCommand& t) {
                            const auto& u = std::get<TriangleCommand>(b);
                            return t.to == u.to && SameTriangle(*t.triangle, *u.triangle);
                          },
                          [&](const AverageDownCommand& x) {
                            const auto& y = std::get<AverageDownCommand>(b);
                            return x.from == y.from && x.ssaa == y.ssaa && x.to == y.to;
                          }},
                    a);
}

size_t BandRowBytes(const BandCommand& command, int band_rows) {
  const Destination& d =
      std::visit(Visit{[](const ClearCommand& c) -> const Destination& { return c.to; },
                       [](const TriangleCommand& t) -> const Destination& { return t.to; },
                       [](const AverageDownCommand& a) -> const Destination& { return a.from; }},
                 command);
  // Rows of their own are 8 bits a channel.
  return InBand(d) ? size_t(band_rows) * std::max(size_t(d.rows.width), d.rows.stride) * 4 : 0;
}

void PrefetchCommand(const BandCommand& command) {
  const auto* t = std::get_if<TriangleCommand>(&command);
  if (t == nullptr) return;
  const char* at = reinterpret_cast<const char*>(t->triangle);
  for (size_t i = 0; i < offsetof(PreparedTriangle, line); i += 64) __builtin_prefetch(at + i);
}

void WorkAhead(const BandCommand& command, int top, int bottom, SpansAhead* ahead) {
  if (const auto* t = std::get_if<TriangleCommand>(&command))
    return WorkOutSpansAhead(*t->triangle, top, bottom, ahead);
  ahead->triangle = nullptr;
}

void DrawInBand(const BandCommand& command, int top, int bottom, void* band_memory,
                const SpansAhead* ahead) {
  std::visit(Visit{[&](const TriangleCommand& t) {
                     const Destination& d = t.to;
                     const int first_row = InBand(d) ? top : 0;
                     DrawRows(*t.triangle, BandRows(d, top, bottom, band_memory), top, bottom,
                              first_row, d.depth, ahead);
                   },
                   [&](const ClearCommand& c) {
                     const Destination& d = c.to;
                     const int end = std::min(bottom, d.rows.height);
                     if (top >= end) return;
                     const int y0 = std::max(top, c.rect.y0), y1 = std::min(end, c.rect.y1);
                     const int x0 = std::max(0, c.rect.x0), x1 = std::min(d.rows.width, c.rect.x1);
                     if (c.depth && d.depth.plane)
                       FillDepth(d.depth, y0, y1, x0, x1, c.depth_value);
                     const PixelRows rows = BandRows(d, top, end, band_memory);
                     const int first = InBand(d) ? top : 0;  // the rows' first row
                     if (ClearsAll(command, top, end, false))
                       FillRows(rows, top - first, end - first, c.pixel);
                     else
                       FillRect(rows, y0 - first, y1 - first, x0, x1, c.pixel, c.rgb, c.alpha);
                   },
                   [&](const AverageDownCommand& a) {
                     const int end = std::min(bottom, a.from.rows.height);
                     if (top >= end) return;
                     const PixelRows from = BandRows(a.from, top, end, band_memory);
                     // Bands are whole blocks: their height is a multiple of every ssaa.
                     AverageDown(InBand(a.from) ? from.Argb() : from.Argb(top), from.width,
                                 end - top, a.ssaa, a.to.Argb(top / a.ssaa), a.to.stride);
                   }},
             command);
}

}  // namespace softboard
