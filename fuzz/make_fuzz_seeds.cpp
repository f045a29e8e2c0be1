// Writes the fuzz target's seed corpus: valid files of several formats and
// shapes, and a few broken ones, all made here.
#include <cstdio>
#include <string>
#include <vector>

#include "texel_formats.h"
#include "texture_3df.h"

namespace {

texfile::Texture3df Make(int format, int small_lod, int large_lod, int aspect) {
  texfile::Texture3df tex;
  tex.format = format;
  tex.small_lod = small_lod;
  tex.large_lod = large_lod;
  tex.aspect = aspect;
  tex.texels.resize(texfile::MipMapBytes(small_lod, large_lod, aspect, format));
  for (size_t i = 0; i < tex.texels.size(); ++i) tex.texels[i] = uint8_t(i * 37 + 11);
  for (int k = 0; k < 16; ++k) tex.ncc.yRGB[k] = uint8_t(k * 16);
  for (int e = 0; e < 4; ++e)
    for (int c = 0; c < 3; ++c) {
      tex.ncc.iRGB[e][c] = int16_t(e * 60 - 100 + c);
      tex.ncc.qRGB[e][c] = int16_t(90 - e * 50 - c);
    }
  for (uint32_t i = 0; i < 256; ++i) tex.palette[i] = i * 0x010307u;
  return tex;
}

std::vector<uint8_t> Bytes(const texfile::Texture3df& tex) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!texfile::Serialize3df(tex, &bytes, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  return bytes;
}

bool Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> Text(const std::string& s) {
  return {s.begin(), s.end()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const auto rgb565 = Bytes(Make(GR_TEXFMT_RGB_565, GR_LOD_1, GR_LOD_8, GR_ASPECT_2x1));
  std::vector<uint8_t> crlf =
      Text("3df v1.0\r\nrgb332\r\nlod range:\t1  4\r\naspect ratio: 1 4\r\n");
  crlf.resize(
      crlf.size() + texfile::MipMapBytes(GR_LOD_1, GR_LOD_4, GR_ASPECT_1x4, GR_TEXFMT_RGB_332),
      0x5A);
  std::vector<uint8_t> truncated = rgb565;
  truncated.resize(truncated.size() - 7);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds = {
      {"rgb565_8x4_chain.3df", rgb565},
      {"yiq_4x4_chain.3df", Bytes(Make(GR_TEXFMT_YIQ_422, GR_LOD_1, GR_LOD_4, GR_ASPECT_1x1))},
      {"ayiq8422_8x1.3df", Bytes(Make(GR_TEXFMT_AYIQ_8422, GR_LOD_8, GR_LOD_8, GR_ASPECT_8x1))},
      {"p8_2x2.3df", Bytes(Make(GR_TEXFMT_P_8, GR_LOD_2, GR_LOD_2, GR_ASPECT_1x1))},
      {"ap88_1x8_chain.3df", Bytes(Make(GR_TEXFMT_AP_88, GR_LOD_1, GR_LOD_8, GR_ASPECT_1x8))},
      {"argb4444_16x4.3df", Bytes(Make(GR_TEXFMT_ARGB_4444, GR_LOD_16, GR_LOD_16, GR_ASPECT_4x1))},
      {"a8_1x1.3df", Bytes(Make(GR_TEXFMT_ALPHA_8, GR_LOD_1, GR_LOD_1, GR_ASPECT_1x1))},
      {"rgb332_crlf_tabs.3df", crlf},
      {"broken_truncated.3df", truncated},
      {"broken_magic.3df", Text("3dx v1.0\nrgb565\nlod range: 1 1\naspect ratio: 1 1\nxx")},
      {"broken_sizes.3df", Text("3df v1.1\nai88\nlod range: 256 3\naspect ratio: 3 1\n")},
      {"broken_long_header.3df", Text("3df v1.1\n" + std::string(600, ' ') + "rgb565\n")},
  };
  for (const auto& [name, bytes] : seeds) {
    if (!Write(dir, name, bytes)) {
      std::fprintf(stderr, "make_fuzz_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
      return 1;
    }
  }
  return 0;
}
