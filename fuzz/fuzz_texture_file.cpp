// libFuzzer target: the 3DF reader's header check and load, from memory, then
// decoding every level with the file's table.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "texel_formats.h"
#include "texture_file.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void DecodeAll(const Gu3dfInfo& info) {
  std::array<uint32_t, 256> palette;
  std::copy(std::begin(info.table.palette.data), std::end(info.table.palette.data),
            palette.begin());
  const auto* texels = static_cast<const uint8_t*>(info.data);
  const Gu3dfHeader& h = info.header;
  for (int lod = h.large_lod; lod <= h.small_lod; ++lod) {
    const texfile::LevelSize size = texfile::LevelDimensions(lod, h.aspect_ratio);
    std::vector<uint32_t> out(size_t(size.width) * size.height);
    texfile::DecodeTexels(h.format, texels, size.width, size.height, palette, info.table.nccTable,
                          out.data());
    texels += texfile::LevelBytes(lod, h.aspect_ratio, h.format);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Gu3dfInfo info{};
  std::string error;
  const bool readable = texfile::ReadTextureInfo(data, size, &info, &error);
  std::vector<uint8_t> texels(readable ? info.mem_required : 16);
  info.data = texels.data();
  if (!readable) info.mem_required = uint32_t(texels.size());
  const bool loaded = texfile::LoadTexture(data, size, &info, &error);
  // The header check and the load accept the same files.
  Require(readable == loaded);
  if (!loaded) return 0;
  const Gu3dfHeader& h = info.header;
  Require(info.mem_required ==
          texfile::MipMapBytes(h.small_lod, h.large_lod, h.aspect_ratio, h.format));
  Require(info.mem_required <= texfile::kMaxTextureFileBytes);
  DecodeAll(info);
  return 0;
}
