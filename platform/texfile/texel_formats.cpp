#include "texel_formats.h"

#include <algorithm>
#include <cstring>

namespace texfile {
namespace {

struct FormatInfo {
  int format;
  const char* name;
  int bytes;
  bool alpha;
};

constexpr FormatInfo kFormats[] = {
    {GR_TEXFMT_RGB_332, "rgb332", 1, false},
    {GR_TEXFMT_YIQ_422, "yiq", 1, false},
    {GR_TEXFMT_ALPHA_8, "a8", 1, true},
    {GR_TEXFMT_INTENSITY_8, "i8", 1, false},
    {GR_TEXFMT_ALPHA_INTENSITY_44, "ai44", 1, true},
    {GR_TEXFMT_P_8, "p8", 1, false},
    {GR_TEXFMT_ARGB_8332, "argb8332", 2, true},
    {GR_TEXFMT_AYIQ_8422, "ayiq8422", 2, true},
    {GR_TEXFMT_RGB_565, "rgb565", 2, false},
    {GR_TEXFMT_ARGB_1555, "argb1555", 2, true},
    {GR_TEXFMT_ARGB_4444, "argb4444", 2, true},
    {GR_TEXFMT_ALPHA_INTENSITY_88, "ai88", 2, true},
    {GR_TEXFMT_AP_88, "ap88", 2, true},
};

const FormatInfo* Find(int format) {
  for (const FormatInfo& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}

constexpr uint32_t Rgb332(uint32_t t) {
  return Argb(255, WidenBits(t >> 5, 3), WidenBits(t >> 2, 3), WidenBits(t, 2));
}

uint32_t Yiq(uint32_t t, const GuNccTable& ncc) {
  const int y = ncc.yRGB[(t >> 4) & 15];
  const FxI16* i = ncc.iRGB[(t >> 2) & 3];
  const FxI16* q = ncc.qRGB[t & 3];
  auto channel = [&](int c) { return uint32_t(std::clamp(y + i[c] + q[c], 0, 255)); };
  return Argb(255, channel(0), channel(1), channel(2));
}

template <typename Texel, typename Fn>
void DecodeEach(const uint8_t* in, size_t count, uint32_t* out, Fn fn) {
  for (size_t n = 0; n < count; ++n) {
    Texel t;
    std::memcpy(&t, in + n * sizeof(Texel), sizeof(Texel));
    out[n] = fn(uint32_t(t));
  }
}

}  // namespace

bool IsValidFormat(int format) {
  return Find(format) != nullptr;
}
bool IsValidLod(int lod) {
  return lod >= GR_LOD_256 && lod <= GR_LOD_1;
}
bool IsValidAspect(int aspect) {
  return aspect >= GR_ASPECT_8x1 && aspect <= GR_ASPECT_1x8;
}

int TexelBytes(int format) {
  const FormatInfo* f = Find(format);
  return f ? f->bytes : 0;
}

bool HasNccTable(int format) {
  return format == GR_TEXFMT_YIQ_422 || format == GR_TEXFMT_AYIQ_8422;
}
bool HasPalette(int format) {
  return format == GR_TEXFMT_P_8 || format == GR_TEXFMT_AP_88;
}
bool HasAlpha(int format) {
  const FormatInfo* f = Find(format);
  return f && f->alpha;
}

const char* TextureFormatName(int format) {
  const FormatInfo* f = Find(format);
  return f ? f->name : nullptr;
}

int TextureFormatFromName(std::string_view name) {
  for (const FormatInfo& f : kFormats)
    if (name == f.name) return f.format;
  return -1;
}

int SideOfLod(int lod) {
  return IsValidLod(lod) ? 256 >> lod : 0;
}

int LodOfSide(int side) {
  for (int lod = GR_LOD_256; lod <= GR_LOD_1; ++lod)
    if (side == 256 >> lod) return lod;
  return -1;
}

namespace {
constexpr LevelSize kAspectRatios[] = {{8, 1}, {4, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 4}, {1, 8}};
}  // namespace

LevelSize AspectRatio(int aspect) {
  return IsValidAspect(aspect) ? kAspectRatios[aspect - GR_ASPECT_8x1] : LevelSize{0, 0};
}

int AspectOfRatio(int width, int height) {
  for (int a = GR_ASPECT_8x1; a <= GR_ASPECT_1x8; ++a) {
    const LevelSize r = kAspectRatios[a - GR_ASPECT_8x1];
    if (r.width == width && r.height == height) return a;
  }
  return -1;
}

int AspectOfSize(int width, int height) {
  if (width <= 0 || height <= 0) return -1;
  if (width >= height) return width % height ? -1 : AspectOfRatio(width / height, 1);
  return height % width ? -1 : AspectOfRatio(1, height / width);
}

LevelSize LevelDimensions(int lod, int aspect) {
  if (!IsValidLod(lod) || !IsValidAspect(aspect)) return {0, 0};
  const int longer = 256 >> lod;
  const int shorter = std::max(1, longer >> std::abs(aspect - GR_ASPECT_1x1));
  return aspect <= GR_ASPECT_1x1 ? LevelSize{longer, shorter} : LevelSize{shorter, longer};
}

uint32_t LevelBytes(int lod, int aspect, int format) {
  const LevelSize size = LevelDimensions(lod, aspect);
  return uint32_t(size.width) * uint32_t(size.height) * uint32_t(TexelBytes(format));
}

uint32_t MipMapBytes(int small_lod, int large_lod, int aspect, int format) {
  if (!IsValidLod(small_lod) || !IsValidLod(large_lod) || large_lod > small_lod) return 0;
  uint32_t total = 0;
  for (int lod = large_lod; lod <= small_lod; ++lod) total += LevelBytes(lod, aspect, format);
  return total;
}

void PackNccTable(GuNccTable& ncc) {
  for (int w = 0; w < 4; ++w) {
    const FxU8* y = &ncc.yRGB[4 * w];
    ncc.packed_data[w] =
        uint32_t(y[0]) | uint32_t(y[1]) << 8 | uint32_t(y[2]) << 16 | uint32_t(y[3]) << 24;
  }
  auto pack = [](const FxI16* e) {
    return (uint32_t(e[0]) & 0x1FF) << 18 | (uint32_t(e[1]) & 0x1FF) << 9 |
           (uint32_t(e[2]) & 0x1FF);
  };
  for (int k = 0; k < 4; ++k) {
    ncc.packed_data[4 + k] = pack(ncc.iRGB[k]);
    ncc.packed_data[8 + k] = pack(ncc.qRGB[k]);
  }
}

void DecodeTexels(int format, const uint8_t* in, int width, int height,
                  const std::array<uint32_t, 256>& palette, const GuNccTable& ncc, uint32_t* out) {
  if (width <= 0 || height <= 0) return;
  const size_t n = size_t(width) * size_t(height);
  switch (format) {
    case GR_TEXFMT_RGB_332: DecodeEach<uint8_t>(in, n, out, Rgb332); break;
    case GR_TEXFMT_YIQ_422:
      DecodeEach<uint8_t>(in, n, out, [&](uint32_t t) { return Yiq(t, ncc); });
      break;
    case GR_TEXFMT_ALPHA_8:
      DecodeEach<uint8_t>(in, n, out, [](uint32_t t) { return Argb(t, t, t, t); });
      break;
    case GR_TEXFMT_INTENSITY_8:
      DecodeEach<uint8_t>(in, n, out, [](uint32_t t) { return Argb(255, t, t, t); });
      break;
    case GR_TEXFMT_ALPHA_INTENSITY_44:
      DecodeEach<uint8_t>(in, n, out, [](uint32_t t) {
        const uint32_t i = WidenBits(t, 4);
        return Argb(WidenBits(t >> 4, 4), i, i, i);
      });
      break;
    case GR_TEXFMT_P_8:
      DecodeEach<uint8_t>(in, n, out, [&](uint32_t t) { return palette[t] | 0xFF000000u; });
      break;
    case GR_TEXFMT_ARGB_8332:
      DecodeEach<uint16_t>(
          in, n, out, [](uint32_t t) { return (Rgb332(t & 0xFF) & 0xFFFFFFu) | (t >> 8) << 24; });
      break;
    case GR_TEXFMT_AYIQ_8422:
      DecodeEach<uint16_t>(in, n, out, [&](uint32_t t) {
        return (Yiq(t & 0xFF, ncc) & 0xFFFFFFu) | (t >> 8) << 24;
      });
      break;
    case GR_TEXFMT_RGB_565:
      DecodeEach<uint16_t>(in, n, out, [](uint32_t t) {
        return Argb(255, WidenBits(t >> 11, 5), WidenBits(t >> 5, 6), WidenBits(t, 5));
      });
      break;
    case GR_TEXFMT_ARGB_1555:
      DecodeEach<uint16_t>(in, n, out, [](uint32_t t) {
        return Argb(WidenBits(t >> 15, 1), WidenBits(t >> 10, 5), WidenBits(t >> 5, 5),
                    WidenBits(t, 5));
      });
      break;
    case GR_TEXFMT_ARGB_4444:
      DecodeEach<uint16_t>(in, n, out, [](uint32_t t) {
        return Argb(WidenBits(t >> 12, 4), WidenBits(t >> 8, 4), WidenBits(t >> 4, 4),
                    WidenBits(t, 4));
      });
      break;
    case GR_TEXFMT_ALPHA_INTENSITY_88:
      DecodeEach<uint16_t>(in, n, out, [](uint32_t t) {
        const uint32_t i = t & 0xFF;
        return Argb(t >> 8, i, i, i);
      });
      break;
    case GR_TEXFMT_AP_88:
      DecodeEach<uint16_t>(
          in, n, out, [&](uint32_t t) { return (palette[t & 0xFF] & 0xFFFFFFu) | (t >> 8) << 24; });
      break;
    default: std::fill(out, out + n, 0xFFFFFFFFu); break;
  }
}

}  // namespace texfile
