#include "texture_3df.h"

#include <cstring>

#include "file_io.h"
#include "quote.h"
#include "texel_formats.h"
#include "texture_file.h"

namespace texfile {
namespace {

void PutBe16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  PutBe16(out, v >> 16);
  PutBe16(out, v & 0xFFFF);
}

}  // namespace

int LevelCount(const Texture3df& tex) {
  return tex.small_lod - tex.large_lod + 1;
}

uint32_t LevelOffset(const Texture3df& tex, int level) {
  uint32_t offset = 0;
  for (int lod = tex.large_lod; lod < tex.large_lod + level; ++lod)
    offset += LevelBytes(lod, tex.aspect, tex.format);
  return offset;
}

bool Serialize3df(const Texture3df& tex, std::vector<uint8_t>* bytes, std::string* error) {
  const char* name = TextureFormatName(tex.format);
  const uint32_t texel_bytes = MipMapBytes(tex.small_lod, tex.large_lod, tex.aspect, tex.format);
  if (!name || !IsValidAspect(tex.aspect) || texel_bytes == 0) {
    if (error) *error = "invalid texture format, level range or aspect";
    return false;
  }
  if (tex.texels.size() != texel_bytes) {
    if (error)
      *error = "texel data is " + std::to_string(tex.texels.size()) + " bytes, the levels need " +
               std::to_string(texel_bytes);
    return false;
  }
  const LevelSize ratio = AspectRatio(tex.aspect);
  const std::string header = std::string("3df v1.1\n") + name +
                             "\nlod range: " + std::to_string(SideOfLod(tex.small_lod)) + " " +
                             std::to_string(SideOfLod(tex.large_lod)) +
                             "\naspect ratio: " + std::to_string(ratio.width) + " " +
                             std::to_string(ratio.height) + "\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  if (HasNccTable(tex.format)) {
    for (int k = 0; k < 16; ++k) PutBe16(out, tex.ncc.yRGB[k]);
    for (const auto* entries : {tex.ncc.iRGB, tex.ncc.qRGB})
      for (int e = 0; e < 4; ++e)
        for (int c = 0; c < 3; ++c) PutBe16(out, uint16_t(entries[e][c]));
  }
  if (HasPalette(tex.format))
    for (uint32_t entry : tex.palette) PutBe32(out, entry);
  if (TexelBytes(tex.format) == 1) {
    out.insert(out.end(), tex.texels.begin(), tex.texels.end());
  } else {
    for (size_t k = 0; k < tex.texels.size(); k += 2) {
      uint16_t t;
      std::memcpy(&t, &tex.texels[k], 2);
      PutBe16(out, t);
    }
  }
  *bytes = std::move(out);
  return true;
}

bool Write3dfFile(const std::string& path, const Texture3df& tex, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!Serialize3df(tex, &bytes, error)) {
    if (error) *error = quote::Escape(path) + ": " + *error;
    return false;
  }
  return WriteFileAtomically(
      path,
      [&](std::FILE* file, std::string* reason) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()) return true;
        *reason = std::string("cannot write: ") + std::strerror(errno);
        return false;
      },
      error);
}

bool Read3dfFile(const std::string& path, Texture3df* tex, std::string* error) {
  Gu3dfInfo info{};
  if (!ReadTextureFileInfo(path.c_str(), &info, error)) return false;
  std::vector<uint8_t> texels(info.mem_required);
  info.data = texels.data();
  if (!LoadTextureFile(path.c_str(), &info, error)) return false;
  Texture3df out;
  out.format = info.header.format;
  out.small_lod = info.header.small_lod;
  out.large_lod = info.header.large_lod;
  out.aspect = info.header.aspect_ratio;
  if (HasNccTable(out.format)) out.ncc = info.table.nccTable;
  if (HasPalette(out.format))
    std::memcpy(out.palette.data(), info.table.palette.data, sizeof out.palette);
  texels.resize(info.mem_required);
  out.texels = std::move(texels);
  *tex = std::move(out);
  return true;
}

}  // namespace texfile
