// Helpers shared by the texture tests: scratch directories, files, textures.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "texel_formats.h"
#include "texture_3df.h"

namespace texture_test {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "texture-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  // Names of the entries, to see that nothing was left behind.
  std::vector<std::string> Entries() const { return EntriesOf(path_); }
  static std::vector<std::string> EntriesOf(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

inline std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// A texture whose texel bytes follow a pattern, with non-trivial tables.
inline texfile::Texture3df MakeTexture(int format, int small_lod, int large_lod, int aspect) {
  texfile::Texture3df tex;
  tex.format = format;
  tex.small_lod = small_lod;
  tex.large_lod = large_lod;
  tex.aspect = aspect;
  tex.texels.resize(texfile::MipMapBytes(small_lod, large_lod, aspect, format));
  for (size_t i = 0; i < tex.texels.size(); ++i) tex.texels[i] = uint8_t(i * 29 + 3);
  for (int k = 0; k < 16; ++k) tex.ncc.yRGB[k] = uint8_t(255 - 13 * k);
  for (int e = 0; e < 4; ++e) {
    for (int c = 0; c < 3; ++c) {
      tex.ncc.iRGB[e][c] = int16_t(-256 + 100 * e + c);
      tex.ncc.qRGB[e][c] = int16_t(255 - 90 * e - c);
    }
  }
  for (uint32_t i = 0; i < 256; ++i) tex.palette[i] = 0x11000000u | (i * 0x00010203u);
  return tex;
}

inline std::vector<uint8_t> FileBytes(const texfile::Texture3df& tex) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(texfile::Serialize3df(tex, &bytes, &error)) << error;
  return bytes;
}

}  // namespace texture_test
