#include "pixel/blend.h"

#include <algorithm>

#include "pixel/span.h"

namespace softboard {
namespace {

// A factor for channel c (3 is alpha) of one pixel, 0..255: a colour factor on
// the alpha channel is that colour's alpha.
int SourceFactor(int factor, int c, const int (&s)[4], const int (&d)[4]) {
  switch (factor) {
    case GR_BLEND_ZERO: return 0;
    case GR_BLEND_SRC_ALPHA: return s[3];
    case GR_BLEND_DST_COLOR: return d[c];  // SRC_COLOR names it as a source factor
    case GR_BLEND_DST_ALPHA: return d[3];
    case GR_BLEND_ONE: return 255;
    case GR_BLEND_ONE_MINUS_SRC_ALPHA: return 255 - s[3];
    case GR_BLEND_ONE_MINUS_DST_COLOR: return 255 - d[c];
    case GR_BLEND_ONE_MINUS_DST_ALPHA: return 255 - d[3];
    case GR_BLEND_ALPHA_SATURATE:  // min(As, 1 - Ad) for colour, 1 for alpha
      return c < 3 ? std::min(s[3], 255 - d[3]) : 255;
    default: return 0;  // values naming no factor weigh 0
  }
}

int DestFactor(int factor, int c, const int (&s)[4], const int (&d)[4]) {
  switch (factor) {
    case GR_BLEND_ZERO: return 0;
    case GR_BLEND_SRC_ALPHA: return s[3];
    case GR_BLEND_SRC_COLOR: return s[c];
    case GR_BLEND_DST_ALPHA: return d[3];
    case GR_BLEND_ONE: return 255;
    case GR_BLEND_ONE_MINUS_SRC_ALPHA: return 255 - s[3];
    case GR_BLEND_ONE_MINUS_SRC_COLOR: return 255 - s[c];
    case GR_BLEND_ONE_MINUS_DST_ALPHA: return 255 - d[3];
    default: return 0;  // ALPHA_SATURATE is a source factor only; others weigh 0
  }
}

}  // namespace

void BlendPixels(const BlendState& state, const Chunk& src, int n, uint32_t* dst) {
  for (int i = 0; i < n; i++) {
    const uint32_t p = dst[i];
    const int s[4] = {src.c[0][i], src.c[1][i], src.c[2][i], src.c[3][i]};
    const int d[4] = {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255), int(p >> 24)};
    int out[4];
    for (int c = 0; c < 4; c++) {
      const int fs = SourceFactor(c < 3 ? state.rgb_src : state.alpha_src, c, s, d);
      const int fd = DestFactor(c < 3 ? state.rgb_dst : state.alpha_dst, c, s, d);
      out[c] = std::min(255, Div255(s[c] * fs + d[c] * fd));
    }
    dst[i] = PackArgb({uint8_t(out[0]), uint8_t(out[1]), uint8_t(out[2]), uint8_t(out[3])});
  }
}

}  // namespace softboard
