// Gamma correction of what is shown: the frame goes to the display (and to
// screenshots, which are what is shown) through a table, each colour channel
// c becoming round(255 * (c / 255)^(1 / g)); the buffers are untouched.
#pragma once

#include <array>
#include <cstdint>

#include "frame/framebuffer.h"

namespace softboard {

struct ShownGamma {
  float value = 1;
  std::array<uint8_t, 256> table{};
  // The last frame shown, through the table (8 bits a channel), while the
  // gamma is not 1; `valid`: it holds that frame.
  PixelMemory rows;
  int width = 0, height = 0;
  bool valid = false;
};

// Sets the gamma (0 < g <= 20) and its table; the next frame is corrected whole.
void SetGamma(ShownGamma& gamma, float g);
inline bool GammaActive(const ShownGamma& gamma) {
  return gamma.value != 1;
}

// `shown` through the gamma: its rows that `damage` names are corrected into
// gamma.rows (every row when they held no frame of this size, and `damage`
// then says all). Throws std::bad_alloc.
PixelRows CorrectShown(ShownGamma& gamma, const PixelRows& shown, FrameDamage* damage);

// The last frame CorrectShown made; none when there is none.
PixelRows CorrectedRows(const ShownGamma& gamma);

}  // namespace softboard
