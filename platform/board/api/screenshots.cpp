#include "api/screenshots.h"

#include <cstdio>
#include <filesystem>
#include <new>

#include "api/display_frames.h"
#include "api/process_output.h"
#include "png_file.h"
#include "quote.h"

namespace softboard {
namespace {

PixelRows LastShown(const BoardState& board) {
  const KeptFrame& kept = board.kept_frame;
  if (kept.pixels.empty()) return ShownRows(board);
  return ArgbRows(const_cast<uint32_t*>(kept.pixels.data()), kept.width, kept.height);
}

}  // namespace

void SaveScreenshot(const BoardState& board, const std::string& path) {
  // Made first: without memory, the message must still be said.
  const std::string shown_path = quote::Escape(path);
  std::string error;
  try {
    // Rows go to the file as they are: converted one at a time, if at all.
    const PixelRows shown = LastShown(board);
    const auto row = [&](int y, uint32_t* scratch) -> const uint32_t* {
      if (shown.layout == PixelLayout::kArgb8888) return shown.Argb(y);
      CopyImageRow(shown, y, scratch);
      return scratch;
    };
    if (shown.pixels == nullptr)
      error = shown_path + ": no frame to save";
    else if (texfile::WritePngRows(path, shown.width, shown.height, false, row, &error))
      return;
    Complain("screenshot not saved: " + error);
  } catch (const std::bad_alloc&) {
    const SigpipeBlocked quiet;
    std::fprintf(stderr, "softboard: screenshot not saved: %s: out of memory\n",
                 shown_path.c_str());
  }
}

void SaveNumberedScreenshot(const BoardState& board) {
  for (int n = 1; n < 10000; n++) {
    char name[32];
    std::snprintf(name, sizeof name, "screenshot-%04d.png", n);
    std::error_code ignored;
    if (!std::filesystem::exists(std::filesystem::symlink_status(name, ignored)))
      return SaveScreenshot(board, name);
  }
}

void KeepShownFrame(BoardState& board) {
  // Kept already: what the buffers hold now was never shown.
  if (board.settings.screenshot_path.empty() || !board.kept_frame.pixels.empty()) return;
  const PixelRows shown = ShownRows(board);
  if (shown.pixels == nullptr) return;
  KeptFrame& kept = board.kept_frame;
  try {
    kept.pixels.resize(size_t(shown.width) * size_t(shown.height));
  } catch (const std::bad_alloc&) {
    return ForgetKeptFrame(board);  // the screenshot is then of the frame after
  }
  kept.width = shown.width;
  kept.height = shown.height;
  for (int y = 0; y < shown.height; y++)
    CopyImageRow(shown, y, kept.pixels.data() + size_t(y) * size_t(shown.width));
}

void ForgetKeptFrame(BoardState& board) {
  board.kept_frame = KeptFrame{};
}

}  // namespace softboard
