// PNG files: the board's screenshots and the texture converter's images.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace texfile {

// ReadPng refuses images larger than this on a side or in all.
constexpr int kMaxPngSide = 16384;
constexpr uint32_t kMaxPngPixels = 1u << 24;

// Writes 0xAARRGGBB pixels as an 8-bit RGB (or RGBA) PNG. The file is written
// beside `path` and renamed into place, so a failure never leaves a partial file.
bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height,
              bool with_alpha, std::string* error);

// Row y of an image, `width` 0xAARRGGBB pixels: where it lies, or made in
// `scratch` (room for `width` pixels) and that.
using PngRowSource = std::function<const uint32_t*(int y, uint32_t* scratch)>;
// The same, asking for each row as it is written: an image kept in another
// form (5-6-5, say) is converted a row at a time, never copied whole.
bool WritePngRows(const std::string& path, int width, int height, bool with_alpha,
                  const PngRowSource& row, std::string* error);

// The same, into memory: the PNG's bytes are appended to `out`. `level`:
// zlib's compression level, 1 (fastest) to 9.
bool EncodePngInMemory(int width, int height, bool with_alpha, const PngRowSource& row, int level,
                       std::string* out, std::string* error);

// Judges an image by the size in its header, before any pixel is decoded;
// false with a reason refuses it.
using PngSizeCheck = std::function<bool(int width, int height, std::string* reason)>;

// Reads any PNG as 0xAARRGGBB pixels (opaque where the image has no alpha).
// Damaged files, and sizes that `accept` refuses, are refused with a reason;
// outputs are untouched on failure.
bool ReadPng(const std::string& path, std::vector<uint32_t>* pixels, int* width, int* height,
             std::string* error, const PngSizeCheck& accept = {});

}  // namespace texfile
