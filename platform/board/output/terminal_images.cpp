#include "output/terminal_images.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "png_file.h"

namespace softboard {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// kitty takes a chunk of at most this many base64 characters.
constexpr size_t kKittyChunk = 4096;

// The nearest of 2^bits levels, spread evenly over 0..255.
uint32_t Level(uint32_t value, int bits) {
  if (bits >= 8) return value;
  const uint32_t top = (1u << bits) - 1;
  const uint32_t level = (value * top + 127) / 255;
  return (level * 255 + top / 2) / top;
}

}  // namespace

void ReducePicture(const uint32_t* picture, int width, int y, int height, ImageQuality quality,
                   std::vector<uint32_t>* out, int* out_width, int* out_height) {
  const int f = std::max(1, quality.shrink), bits = quality.bits;
  const int w = (width + f - 1) / f, h = (height + f - 1) / f;
  out->resize(size_t(w) * size_t(h));
  *out_width = w;
  *out_height = h;
  if (f == 1) {
    const uint32_t* from = picture + size_t(y) * size_t(width);
    for (size_t i = 0; i < out->size(); i++) {
      const uint32_t p = from[i];
      (*out)[i] = 0xFF000000u | Level((p >> 16) & 255, bits) << 16 |
                  Level((p >> 8) & 255, bits) << 8 | Level(p & 255, bits);
    }
    return;
  }
  std::vector<uint32_t> sums(size_t(w) * 3);
  for (int oy = 0; oy < h; oy++) {
    std::fill(sums.begin(), sums.end(), 0u);
    const int y0 = y + oy * f, y1 = std::min(y + height, y0 + f);
    for (int sy = y0; sy < y1; sy++) {
      const uint32_t* row = picture + size_t(sy) * size_t(width);
      for (int ox = 0; ox < w; ox++) {
        uint32_t* s = &sums[size_t(ox) * 3];
        for (int x = ox * f; x < std::min(width, ox * f + f); x++) {
          s[0] += (row[x] >> 16) & 255;
          s[1] += (row[x] >> 8) & 255;
          s[2] += row[x] & 255;
        }
      }
    }
    uint32_t* line = out->data() + size_t(oy) * size_t(w);
    for (int ox = 0; ox < w; ox++) {
      const uint32_t* s = &sums[size_t(ox) * 3];
      const uint32_t n = uint32_t((std::min(width, ox * f + f) - ox * f) * (y1 - y0));
      line[ox] = 0xFF000000u | Level((s[0] + n / 2) / n, bits) << 16 |
                 Level((s[1] + n / 2) / n, bits) << 8 | Level((s[2] + n / 2) / n, bits);
    }
  }
}

void AppendBase64(const uint8_t* data, size_t size, std::string* out) {
  const size_t start = out->size();
  out->resize(start + (size + 2) / 3 * 4);
  char* p = out->data() + start;
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    *p++ = kBase64[v >> 18];
    *p++ = kBase64[(v >> 12) & 63];
    *p++ = kBase64[(v >> 6) & 63];
    *p++ = kBase64[v & 63];
  }
  if (i < size) {
    const uint32_t v = uint32_t(data[i]) << 16 | (i + 1 < size ? uint32_t(data[i + 1]) << 8 : 0);
    *p++ = kBase64[v >> 18];
    *p++ = kBase64[(v >> 12) & 63];
    *p++ = i + 1 < size ? kBase64[(v >> 6) & 63] : '=';
    *p++ = '=';
  }
}

bool AppendKittyImage(const uint32_t* pixels, int width, int height, int columns, int rows, int id,
                      std::string* out) {
  const size_t start = out->size();
  try {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    for (size_t i = 0; i < size_t(width) * size_t(height); i++) {
      rgb[i * 3] = uint8_t(pixels[i] >> 16);
      rgb[i * 3 + 1] = uint8_t(pixels[i] >> 8);
      rgb[i * 3 + 2] = uint8_t(pixels[i]);
    }
    uLongf packed_size = compressBound(uLong(rgb.size()));
    std::vector<uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, rgb.data(), uLong(rgb.size()), 6) != Z_OK)
      return false;
    std::string base64;
    AppendBase64(packed.data(), packed_size, &base64);
    // Keys go with the first chunk; every chunk but the last says more follow.
    for (size_t at = 0; at < base64.size() || at == 0; at += kKittyChunk) {
      const bool last = at + kKittyChunk >= base64.size();
      *out += "\x1b_G";
      if (at == 0) {
        *out += "a=T,q=2,C=1,f=24,o=z,i=" + std::to_string(id) + ",s=" + std::to_string(width) +
                ",v=" + std::to_string(height) + ",c=" + std::to_string(columns) +
                ",r=" + std::to_string(rows) + ",";
      }
      *out += last ? "m=0;" : "m=1;";
      out->append(base64, at, kKittyChunk);
      *out += "\x1b\\";
    }
    return true;
  } catch (const std::bad_alloc&) {
    out->resize(start);
    return false;
  }
}

bool AppendItermImage(const uint32_t* pixels, int width, int height, int columns, int rows,
                      int level, std::string* out) {
  const size_t start = out->size();
  try {
    std::string png;
    const auto row = [&](int y, uint32_t*) { return pixels + size_t(y) * size_t(width); };
    if (!texfile::EncodePngInMemory(width, height, false, row, level, &png, nullptr)) return false;
    *out += "\x1b]1337;File=inline=1;width=" + std::to_string(columns) +
            ";height=" + std::to_string(rows) +
            ";preserveAspectRatio=0;size=" + std::to_string(png.size()) + ":";
    AppendBase64(reinterpret_cast<const uint8_t*>(png.data()), png.size(), out);
    *out += "\a";
    return true;
  } catch (const std::bad_alloc&) {
    out->resize(start);
    return false;
  }
}

}  // namespace softboard
