// The web page's display: an HTML canvas. Frames are put into it as RGBA
// pixels, only the rows that changed; a swap gives the browser its thread
// back until its next animation frame, which is the page's retrace. Keys come
// through the console (the page queues them); resizes from the page.
#include <emscripten.h>

#include <vector>

#include "output/display.h"

namespace softboard {
namespace {

// The page's side of the canvas is web/page.js. (JavaScript: not C++ to format.)
// clang-format off
EM_JS(void, PutCanvasRows, (const uint8_t* rgba, int width, int height, int first_row, int rows), {
  Module.softboardPutRows(HEAPU8, rgba, width, height, first_row, rows);
});
EM_JS(int, CanvasDeviceWidth, (), { return Module.softboardCanvasSize()[0]; });
EM_JS(int, CanvasDeviceHeight, (), { return Module.softboardCanvasSize()[1]; });
EM_JS(int, TakeCanvasResized, (), { return Module.softboardTakeResized() ? 1 : 0; });
EM_ASYNC_JS(void, WaitForAnimationFrame, (), {
  await new Promise(resolve => requestAnimationFrame(() => resolve()));
});
EM_ASYNC_JS(void, YieldToPage, (), { await new Promise(resolve => setTimeout(resolve, 0)); });
// clang-format on

// 0xAARRGGBB to the canvas's bytes R, G, B, A, opaque.
void ToCanvasRow(const uint32_t* argb, int n, uint32_t* rgba) {
  for (int i = 0; i < n; i++) {
    const uint32_t p = argb[i];
    rgba[i] = 0xFF000000u | (p & 0xFF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
  }
}

class CanvasDisplay final : public Display {
 public:
  void Show(const PixelRows& frame, const FrameDamage& damage, int retraces) override {
    const bool resized = frame.width != width_ || frame.height != height_;
    if (resized) {
      width_ = frame.width;
      height_ = frame.height;
      rgba_.assign(size_t(width_) * size_t(height_), 0);
      row_.resize(size_t(width_));
    }
    if (resized || damage.all) {
      Put(frame, 0, frame.height);
    } else {
      for (const auto& [first, last] : damage.rows) Put(frame, first, last);
    }
    // Vsync off still lets the page breathe: a swap always yields once.
    if (retraces <= 0) YieldToPage();
    for (int i = 0; i < retraces; i++) WaitForAnimationFrame();
  }

  bool WaitsForRetrace() const override { return true; }

  DisplayEvents PumpEvents() override {
    DisplayEvents events;
    events.resized = TakeCanvasResized() != 0;
    return events;
  }

  bool DrawableSize(int* width, int* height) const override {
    *width = CanvasDeviceWidth();
    *height = CanvasDeviceHeight();
    return *width > 0 && *height > 0;
  }

 private:
  void Put(const PixelRows& frame, int first, int last) {
    for (int y = first; y < last; y++) {
      // 8-bit rows are read where they are; 5-6-5 ones widened first.
      const uint32_t* row = frame.Argb(y);
      if (frame.layout != PixelLayout::kArgb8888) {
        CopyImageRow(frame, y, row_.data());
        row = row_.data();
      }
      ToCanvasRow(row, frame.width, rgba_.data() + size_t(y) * size_t(frame.width));
    }
    PutCanvasRows(reinterpret_cast<const uint8_t*>(rgba_.data() + size_t(first) * size_t(width_)),
                  width_, height_, first, last - first);
  }

  int width_ = 0, height_ = 0;
  std::vector<uint32_t> rgba_;  // what the canvas holds
  std::vector<uint32_t> row_;
};

}  // namespace

// In the page the window is the canvas; full screen is the browser's to give.
std::unique_ptr<Display> OpenWindowDisplay(bool, PresentMode, std::string*) {
  return std::make_unique<CanvasDisplay>();
}

// The page is where its frames are shown.
bool DisplayServerNamed() {
  return true;
}

std::unique_ptr<Display> OpenTerminalDisplay(const DisplaySettings&, std::string* error) {
  *error = "no terminal: a web page shows its frames on its canvas";
  return nullptr;
}

}  // namespace softboard
