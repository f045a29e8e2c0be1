// Supersampling's average: a frame drawn ssaa times as large each way,
// averaged down to the size it is shown at. A Highway unit: one source,
// compiled for every SIMD target, the best one the CPU runs chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace softboard {

// Averages each `ssaa` x `ssaa` block of a width x height buffer (ssaa 2 or 4)
// into one pixel of `out`, every channel rounded to nearest: a box filter.
// Rows of `out` are `out_stride` pixels apart (0: width / ssaa, packed).
void AverageDown(const uint32_t* pixels, int width, int height, int ssaa, uint32_t* out,
                 size_t out_stride = 0);

}  // namespace softboard
