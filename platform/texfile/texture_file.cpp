#include "texture_file.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "decimal.h"
#include "file_io.h"
#include "quote.h"
#include "texel_formats.h"

namespace texfile {
namespace {

constexpr size_t kNccTableBytes = 40 * 2;
constexpr size_t kPaletteBytes = 256 * 4;

bool Fail(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

// Header text from a damaged file, made safe to print.
std::string Quote(std::string_view text) {
  return quote::Quote(text, 32);
}

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t pos = 0;
  while (pos < line.size()) {
    if (line[pos] == ' ' || line[pos] == '\t') {
      ++pos;
      continue;
    }
    const size_t end = line.find_first_of(" \t", pos);
    const size_t stop = end == std::string_view::npos ? line.size() : end;
    tokens.push_back(line.substr(pos, stop - pos));
    pos = stop;
  }
  return tokens;
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal of at most 9 digits; -1 otherwise.
int Number(std::string_view s) {
  uint64_t v = 0;
  return s.size() <= 9 && quote::ParseDigits(s, 999999999, &v) ? int(v) : -1;
}

bool IsVersion(std::string_view s) {
  if (s.size() < 4 || s[0] != 'v') return false;
  const size_t dot = s.find('.');
  return dot != std::string_view::npos && IsDigits(s.substr(1, dot - 1)) &&
         IsDigits(s.substr(dot + 1));
}

// Splits the four header lines (LF or CR LF) off the start of the file.
bool SplitHeader(const uint8_t* bytes, size_t size, std::string_view lines[4], size_t* header_bytes,
                 std::string* error) {
  const std::string_view text(reinterpret_cast<const char*>(bytes),
                              std::min(size, kMaxTextureHeaderBytes));
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      return Fail(error, size < kMaxTextureHeaderBytes
                             ? "file ends inside the header"
                             : "header is not four lines within " +
                                   std::to_string(kMaxTextureHeaderBytes) + " bytes");
    }
    lines[i] = text.substr(pos, end - pos);
    if (!lines[i].empty() && lines[i].back() == '\r') lines[i].remove_suffix(1);
    pos = end + 1;
  }
  *header_bytes = pos;
  return true;
}

bool ParseHeader(const std::string_view lines[4], Gu3dfHeader* header, std::string* error) {
  const auto magic = Tokens(lines[0]);
  if (magic.size() != 2 || magic[0] != "3df" || !IsVersion(magic[1]))
    return Fail(error, "not a 3DF file: first line " + Quote(lines[0]) + " is not \"3df vN.N\"");

  const auto format = Tokens(lines[1]);
  const int fmt = format.size() == 1 ? TextureFormatFromName(format[0]) : -1;
  if (fmt < 0) return Fail(error, "unknown texel format " + Quote(lines[1]));

  const auto range = Tokens(lines[2]);
  if (range.size() != 4 || range[0] != "lod" || range[1] != "range:")
    return Fail(error, "third line " + Quote(lines[2]) + " is not \"lod range: SMALL LARGE\"");
  const int small = LodOfSide(Number(range[2]));
  const int large = LodOfSide(Number(range[3]));
  if (small < 0 || large < 0)
    return Fail(error, "lod range " + Quote(lines[2]) + ": sizes must be powers of two 1..256");
  if (small < large) return Fail(error, "lod range " + Quote(lines[2]) + ": SMALL exceeds LARGE");

  const auto ratio = Tokens(lines[3]);
  if (ratio.size() != 4 || ratio[0] != "aspect" || ratio[1] != "ratio:")
    return Fail(error, "fourth line " + Quote(lines[3]) + " is not \"aspect ratio: W H\"");
  const int aspect = AspectOfRatio(Number(ratio[2]), Number(ratio[3]));
  if (aspect < 0)
    return Fail(error, "aspect ratio " + Quote(lines[3]) + " is not one of 8:1 ... 1:8");

  const LevelSize largest = LevelDimensions(large, aspect);
  *header = {uint32_t(largest.width), uint32_t(largest.height), small, large, aspect, fmt};
  return true;
}

int ReadBe16(const uint8_t* p) {
  return int16_t(uint16_t(p[0] << 8 | p[1]));
}
uint32_t ReadBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Y entries are 8-bit, I and Q entries 9-bit signed; anything else is damage.
bool CheckNccTable(const uint8_t* table, std::string* error) {
  for (int k = 0; k < 40; ++k) {
    const int v = ReadBe16(table + 2 * k);
    const bool ok = k < 16 ? v >= 0 && v <= 255 : v >= -256 && v <= 255;
    if (!ok) {
      return Fail(error, "NCC table entry " + std::to_string(k) + " is " + std::to_string(v) +
                             (k < 16 ? ", outside 0..255" : ", outside -256..255"));
    }
  }
  return true;
}

GuNccTable ReadNccTable(const uint8_t* table) {
  GuNccTable ncc{};
  for (int k = 0; k < 16; ++k) ncc.yRGB[k] = FxU8(ReadBe16(table + 2 * k));
  for (int e = 0; e < 4; ++e) {
    for (int c = 0; c < 3; ++c) {
      ncc.iRGB[e][c] = FxI16(ReadBe16(table + 2 * (16 + 3 * e + c)));
      ncc.qRGB[e][c] = FxI16(ReadBe16(table + 2 * (28 + 3 * e + c)));
    }
  }
  PackNccTable(ncc);
  return ncc;
}

// Reads the whole (bounded) file, then runs `parse` on it; errors name the path.
template <typename Parse>
bool WithFile(const char* path, std::string* error, Parse parse) {
  if (!path) return Fail(error, "no file name");
  std::vector<uint8_t> bytes;
  if (!ReadRegularFile(path, kMaxTextureFileBytes, &bytes, error)) return false;
  std::string reason;
  if (parse(bytes.data(), bytes.size(), &reason)) return true;
  return Fail(error, quote::Escape(path) + ": " + reason);
}

}  // namespace

bool ParseTextureFile(const uint8_t* bytes, size_t size, TextureFileLayout* layout,
                      std::string* error) {
  if (!bytes) size = 0;
  std::string_view lines[4];
  size_t header_bytes = 0;
  Gu3dfHeader header;
  if (!SplitHeader(bytes, size, lines, &header_bytes, error) || !ParseHeader(lines, &header, error))
    return false;

  const size_t table_bytes = HasNccTable(header.format)  ? kNccTableBytes
                             : HasPalette(header.format) ? kPaletteBytes
                                                         : 0;
  const uint32_t texel_bytes =
      MipMapBytes(header.small_lod, header.large_lod, header.aspect_ratio, header.format);
  const size_t needed = header_bytes + table_bytes + texel_bytes;
  if (size < header_bytes + table_bytes)
    return Fail(error, "file ends inside the table (" + std::to_string(size) + " of " +
                           std::to_string(needed) + " bytes)");
  if (size < needed)
    return Fail(error, "file ends inside the texels (" + std::to_string(size) + " of " +
                           std::to_string(needed) + " bytes)");
  if (HasNccTable(header.format) && !CheckNccTable(bytes + header_bytes, error)) return false;

  *layout = {header, texel_bytes, header_bytes, table_bytes, header_bytes + table_bytes};
  return true;
}

bool ReadTextureInfo(const uint8_t* bytes, size_t size, Gu3dfInfo* info, std::string* error) {
  if (!info) return Fail(error, "no info record");
  TextureFileLayout layout;
  if (!ParseTextureFile(bytes, size, &layout, error)) return false;
  info->header = layout.header;
  info->mem_required = layout.mem_required;
  return true;
}

bool LoadTexture(const uint8_t* bytes, size_t size, Gu3dfInfo* info, std::string* error) {
  if (!info) return Fail(error, "no info record");
  if (!info->data) return Fail(error, "no buffer for the texels");
  TextureFileLayout layout;
  if (!ParseTextureFile(bytes, size, &layout, error)) return false;
  if (layout.mem_required > info->mem_required) {
    return Fail(error, "the texels need " + std::to_string(layout.mem_required) +
                           " bytes, the buffer holds " + std::to_string(info->mem_required));
  }

  const int format = layout.header.format;
  const uint8_t* table = bytes + layout.table_offset;
  std::memset(&info->table, 0, sizeof info->table);
  if (HasNccTable(format)) info->table.nccTable = ReadNccTable(table);
  if (HasPalette(format))
    for (int k = 0; k < 256; ++k) info->table.palette.data[k] = ReadBe32(table + 4 * k);

  const uint8_t* texels = bytes + layout.texel_offset;
  auto* out = static_cast<uint8_t*>(info->data);
  if (TexelBytes(format) == 1) {
    std::memcpy(out, texels, layout.mem_required);
  } else {
    for (size_t k = 0; k < layout.mem_required; k += 2) {
      const uint16_t t = uint16_t(texels[k] << 8 | texels[k + 1]);
      std::memcpy(out + k, &t, 2);
    }
  }
  info->header = layout.header;
  info->mem_required = layout.mem_required;
  return true;
}

bool ReadTextureFileInfo(const char* path, Gu3dfInfo* info, std::string* error) {
  if (!info) return Fail(error, "no info record");
  return WithFile(path, error, [&](const uint8_t* bytes, size_t size, std::string* reason) {
    return ReadTextureInfo(bytes, size, info, reason);
  });
}

bool LoadTextureFile(const char* path, Gu3dfInfo* info, std::string* error) {
  if (!info) return Fail(error, "no info record");
  if (!info->data) return Fail(error, "no buffer for the texels");
  return WithFile(path, error, [&](const uint8_t* bytes, size_t size, std::string* reason) {
    return LoadTexture(bytes, size, info, reason);
  });
}

}  // namespace texfile
