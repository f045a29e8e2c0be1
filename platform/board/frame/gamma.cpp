#include "frame/gamma.h"

#include <algorithm>
#include <cmath>

namespace softboard {

void SetGamma(ShownGamma& gamma, float g) {
  gamma.value = g;
  for (int c = 0; c < 256; c++)
    gamma.table[size_t(c)] = uint8_t(std::lround(255.0 * std::pow(c / 255.0, 1.0 / double(g))));
  gamma.valid = false;
}

PixelRows CorrectedRows(const ShownGamma& gamma) {
  if (!gamma.valid) return {};
  return ArgbRows(static_cast<uint32_t*>(gamma.rows.data()), gamma.width, gamma.height);
}

PixelRows CorrectShown(ShownGamma& gamma, const PixelRows& shown, FrameDamage* damage) {
  if (shown.pixels == nullptr) return shown;
  if (!gamma.valid || gamma.width != shown.width || gamma.height != shown.height) {
    const size_t bytes = BufferBytes(shown.width, shown.height, PixelLayout::kArgb8888);
    if (gamma.rows.bytes() != bytes) {
      gamma.rows = PixelMemory();
      gamma.rows = PixelMemory(bytes);
    }
    gamma.width = shown.width;
    gamma.height = shown.height;
    *damage = FrameDamage{};  // all
  }
  gamma.valid = true;
  const PixelRows out = CorrectedRows(gamma);
  const auto correct = [&](int first, int last) {
    for (int y = std::max(first, 0); y < std::min(last, shown.height); y++) {
      uint32_t* row = out.Argb(y);
      CopyImageRow(shown, y, row);
      for (int x = 0; x < shown.width; x++) {
        const uint32_t p = row[x];
        row[x] = (p & 0xFF000000u) | uint32_t(gamma.table[p >> 16 & 255]) << 16 |
                 uint32_t(gamma.table[p >> 8 & 255]) << 8 | gamma.table[p & 255];
      }
    }
  };
  if (damage->all) {
    correct(0, shown.height);
  } else {
    for (const auto& [first, last] : damage->rows) correct(first, last);
  }
  return out;
}

}  // namespace softboard
