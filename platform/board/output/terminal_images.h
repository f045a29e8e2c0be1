// Pictures for the terminals that take whole images: kitty's graphics
// protocol (RGB, zlib-compressed) and iTerm2's inline images (PNG), at full
// quality or reduced for a frame that must cross a slow link quickly.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace softboard {

// What a picture keeps: every `shrink` x `shrink` pixels averaged into one
// (the terminal scales it back to its cells), `bits` a channel.
struct ImageQuality {
  int shrink = 1;
  int bits = 8;
};

// From the full picture (first) to the coarsest: each about half the bytes
// of the one before on the demo's scene, or less.
inline constexpr ImageQuality kImageQualities[] = {{1, 8}, {1, 6}, {1, 5}, {2, 5},
                                                   {2, 4}, {3, 4}, {4, 4}};
inline constexpr int kImageQualityCount = int(std::size(kImageQualities));

// Rows [y, y + height) of a `width`-wide picture of 0xFFRRGGBB pixels, at
// `quality`: `out` gets ceil(width / shrink) x ceil(height / shrink) pixels,
// each the rounded mean of the pixels it stands for, each channel at the
// nearest of 2^bits levels spread over 0..255.
void ReducePicture(const uint32_t* picture, int width, int y, int height, ImageQuality quality,
                   std::vector<uint32_t>* out, int* out_width, int* out_height);

// Appends base64 (with padding) of `data`.
void AppendBase64(const uint8_t* data, size_t size, std::string* out);

// Appends the commands that show `pixels` (width x height, 0xFFRRGGBB) as
// kitty image `id` at the cursor, scaled to `columns` x `rows` cells: RGB,
// compressed with zlib (o=z), in chunks of at most 4096 base64 characters;
// kitty answers nothing (q=2) and the cursor stays (C=1). False when zlib
// or memory failed; `out` is then as it was.
bool AppendKittyImage(const uint32_t* pixels, int width, int height, int columns, int rows, int id,
                      std::string* out);

// Appends an iTerm2 inline image of `pixels` as a PNG (zlib level `level`),
// stretched to `columns` x `rows` cells. False on failure, `out` as it was.
bool AppendItermImage(const uint32_t* pixels, int width, int height, int columns, int rows,
                      int level, std::string* out);

}  // namespace softboard
