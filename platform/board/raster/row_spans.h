// A triangle's spans, many rows at once: what RowWalker gives row after row,
// worked out in vector lanes.
#pragma once

#include <cstdint>

#include "raster/setup.h"

namespace softboard {

constexpr int kRowSpansAtOnce = 16;
// What x0 and x1 must hold: whole vectors are written, up to 16 lanes
// (a vector of any size, 6 lanes say, from any row below 16).
constexpr int kRowSpansRoom = 2 * kRowSpansAtOnce;

// What drawing a batch of rows asks of their spans before it draws: which
// rows have pixels (bit i: the batch's row i) and how many the widest has.
struct RowsSummary {
  uint32_t nonempty = 0;
  int widest = 0;
};

// The spans of rows [first_row, first_row + count) of `tri`, count at most
// kRowSpansAtOnce: row first_row + i covers [x0[i], x1[i]), none when
// x1[i] <= x0[i]; entries past count hold anything. Each edge's bound is
// divided in floats where its values stay below 2^23 (a small triangle's),
// else in doubles, exact while they stay below 2^51 (any triangle near the
// screen); false, with nothing written, where neither would be (or lanes
// hold no doubles). `summary`, where given, is made alongside.
bool RowSpans(const TriangleSetup& tri, int first_row, int count, int32_t* x0, int32_t* x1,
              RowsSummary* summary = nullptr);

// The same from spans already worked out, one row at a time.
RowsSummary SummarizeRows(const int32_t* x0, const int32_t* x1, int count);

}  // namespace softboard
