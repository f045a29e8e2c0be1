#include "frame/band_commands.h"

#include <algorithm>

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

// Where the destination's row `top` lies when a band from `top` is drawn.
uint32_t* RowsFrom(const Destination& d, int top, uint32_t* band_rows) {
  return InBand(d) ? band_rows : d.pixels + size_t(top) * d.stride;
}

}  // namespace

int RowEnd(const BandCommand& command) {
  return std::visit(Visit{[](const ClearCommand& c) { return c.to.height; },
                          [](const TriangleCommand& t) { return t.triangle.setup.row_end; },
                          [](const AverageDownCommand& a) { return a.from.height; }},
                    command);
}

bool Touches(const BandCommand& command, int top, int bottom) {
  if (const auto* t = std::get_if<TriangleCommand>(&command))
    return t->triangle.setup.row_begin < bottom && t->triangle.setup.row_end > top;
  return top < RowEnd(command);
}

bool IsClear(const BandCommand& command) {
  return std::holds_alternative<ClearCommand>(command);
}

bool SameCommand(const BandCommand& a, const BandCommand& b) {
  if (a.index() != b.index()) return false;
  return std::visit(Visit{[&](const ClearCommand& c) {
                            const auto& d = std::get<ClearCommand>(b);
                            return c.to == d.to && c.pixel == d.pixel;
                          },
                          [&](const TriangleCommand& t) {
                            const auto& u = std::get<TriangleCommand>(b);
                            return t.to == u.to && SameTriangle(t.triangle, u.triangle);
                          },
                          [&](const AverageDownCommand& x) {
                            const auto& y = std::get<AverageDownCommand>(b);
                            return x.from == y.from && x.ssaa == y.ssaa && x.to == y.to &&
                                   x.to_stride == y.to_stride;
                          }},
                    a);
}

size_t BandRowPixels(const BandCommand& command, int band_rows) {
  const Destination& d =
      std::visit(Visit{[](const ClearCommand& c) -> const Destination& { return c.to; },
                       [](const TriangleCommand& t) -> const Destination& { return t.to; },
                       [](const AverageDownCommand& a) -> const Destination& { return a.from; }},
                 command);
  return InBand(d) ? size_t(band_rows) * std::max(size_t(d.width), d.stride) : 0;
}

void DrawInBand(const BandCommand& command, int top, int bottom, uint32_t* band_rows) {
  std::visit(Visit{[&](const TriangleCommand& t) {
                     const Destination& d = t.to;
                     if (InBand(d))
                       DrawRows(t.triangle, band_rows, d.stride, top, bottom, top);
                     else
                       DrawRows(t.triangle, d.pixels, d.stride, top, bottom);
                   },
                   [&](const ClearCommand& c) {
                     const Destination& d = c.to;
                     const int end = std::min(bottom, d.height);
                     if (top >= end) return;
                     if (InBand(d))
                       FillRows(band_rows, d.width, end - top, d.stride, 0, end - top, c.pixel,
                                PixelLayout::kArgb8888);
                     else
                       FillRows(d.pixels, d.width, d.height, d.stride, top, end, c.pixel, d.layout);
                   },
                   [&](const AverageDownCommand& a) {
                     const int end = std::min(bottom, a.from.height);
                     if (top >= end) return;
                     // Bands are whole blocks: their height is a multiple of every ssaa.
                     AverageDown(RowsFrom(a.from, top, band_rows), a.from.width, end - top, a.ssaa,
                                 a.to + size_t(top / a.ssaa) * a.to_stride, a.to_stride);
                   }},
             command);
}

}  // namespace softboard
