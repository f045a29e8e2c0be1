#include "tex3df_codec.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "texel_formats.h"

namespace tex3df {
namespace {

using namespace texfile;

// kNearest[n][v]: the n-bit field whose widening is nearest to v.
const auto kNearest = [] {
  std::array<std::array<uint8_t, 256>, 9> table{};
  for (int bits = 1; bits <= 8; ++bits) {
    for (int v = 0; v < 256; ++v) {
      int best = 0;
      for (int f = 1; f < (1 << bits); ++f)
        if (std::abs(WidenBits(f, bits) - v) < std::abs(WidenBits(best, bits) - v)) best = f;
      table[bits][v] = uint8_t(best);
    }
  }
  return table;
}();

uint32_t Q(uint32_t channel, int bits) {
  return kNearest[bits][channel & 0xFF];
}

uint32_t Intensity(uint32_t r, uint32_t g, uint32_t b) {
  if (r == g && g == b) return r;
  return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

Image Halve(const Image& in) {
  Image out;
  out.width = std::max(1, in.width / 2);
  out.height = std::max(1, in.height / 2);
  out.pixels.resize(size_t(out.width) * out.height);
  const int dx = in.width > 1 ? 1 : 0;
  const int dy = in.height > 1 ? 1 : 0;
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const int sx = x * (1 + dx), sy = y * (1 + dy);
      const uint32_t p[4] = {in.pixels[size_t(sy) * in.width + sx],
                             in.pixels[size_t(sy) * in.width + sx + dx],
                             in.pixels[size_t(sy + dy) * in.width + sx],
                             in.pixels[size_t(sy + dy) * in.width + sx + dx]};
      uint32_t result = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sum = 2;
        for (uint32_t v : p) sum += (v >> shift) & 0xFF;
        result |= (sum / 4) << shift;
      }
      out.pixels[size_t(y) * out.width + x] = result;
    }
  }
  return out;
}

}  // namespace

bool IsEncodableFormat(int format) {
  return IsValidFormat(format) && !HasNccTable(format) && !HasPalette(format);
}

bool CheckTextureSize(int width, int height, std::string* error) {
  const bool ok =
      LodOfSide(width) >= 0 && LodOfSide(height) >= 0 && AspectOfSize(width, height) >= 0;
  if (!ok && error) {
    *error = "image is " + std::to_string(width) + "x" + std::to_string(height) +
             "; a texture needs sides that are powers of two from 1 to 256, at most 8 times "
             "longer one way than the other (for example 256x256, 256x128, 128x16, 1x8)";
  }
  return ok;
}

std::vector<Image> BuildMipChain(const Image& image, bool mipmaps) {
  std::vector<Image> chain{image};
  while (mipmaps && std::max(chain.back().width, chain.back().height) > 1)
    chain.push_back(Halve(chain.back()));
  return chain;
}

uint32_t EncodeTexel(int format, uint32_t argb) {
  const uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  const uint32_t rgb332 = Q(r, 3) << 5 | Q(g, 3) << 2 | Q(b, 2);
  switch (format) {
    case GR_TEXFMT_RGB_332: return rgb332;
    case GR_TEXFMT_ARGB_8332: return a << 8 | rgb332;
    case GR_TEXFMT_RGB_565: return Q(r, 5) << 11 | Q(g, 6) << 5 | Q(b, 5);
    case GR_TEXFMT_ARGB_1555: return Q(a, 1) << 15 | Q(r, 5) << 10 | Q(g, 5) << 5 | Q(b, 5);
    case GR_TEXFMT_ARGB_4444: return Q(a, 4) << 12 | Q(r, 4) << 8 | Q(g, 4) << 4 | Q(b, 4);
    case GR_TEXFMT_ALPHA_8: return a;
    case GR_TEXFMT_INTENSITY_8: return Intensity(r, g, b);
    case GR_TEXFMT_ALPHA_INTENSITY_44: return Q(a, 4) << 4 | Q(Intensity(r, g, b), 4);
    case GR_TEXFMT_ALPHA_INTENSITY_88: return a << 8 | Intensity(r, g, b);
    default: return 0;
  }
}

bool EncodeTexture(const Image& image, int format, bool mipmaps, Texture3df* tex,
                   std::string* error) {
  if (!IsEncodableFormat(format)) {
    if (error) *error = "the encoder cannot write this texel format";
    return false;
  }
  if (!CheckTextureSize(image.width, image.height, error)) return false;
  Texture3df out;
  out.format = format;
  out.large_lod = LodOfSide(std::max(image.width, image.height));
  out.small_lod = mipmaps ? GR_LOD_1 : out.large_lod;
  out.aspect = AspectOfSize(image.width, image.height);
  const int bytes = TexelBytes(format);
  for (const Image& level : BuildMipChain(image, mipmaps)) {
    for (uint32_t pixel : level.pixels) {
      const uint32_t texel = EncodeTexel(format, pixel);
      if (bytes == 1) {
        out.texels.push_back(uint8_t(texel));
      } else {
        const uint16_t t = uint16_t(texel);
        const auto* p = reinterpret_cast<const uint8_t*>(&t);
        out.texels.insert(out.texels.end(), p, p + 2);
      }
    }
  }
  *tex = std::move(out);
  return true;
}

Image DecodeLevel(const Texture3df& tex, int level) {
  const int lod = tex.large_lod + level;
  if (level < 0 || level >= LevelCount(tex) ||
      tex.texels.size() < LevelOffset(tex, level) + LevelBytes(lod, tex.aspect, tex.format))
    return {};
  const LevelSize size = LevelDimensions(lod, tex.aspect);
  Image image{size.width, size.height, {}};
  image.pixels.resize(size_t(size.width) * size.height);
  DecodeTexels(tex.format, tex.texels.data() + LevelOffset(tex, level), size.width, size.height,
               tex.palette, tex.ncc, image.pixels.data());
  return image;
}

}  // namespace tex3df
