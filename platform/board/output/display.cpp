#include "output/display.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "conio.h"
#include "key_codes.h"

namespace softboard {

std::unique_ptr<Display> OpenDisplay(const DisplaySettings& settings, std::string* error) {
  switch (settings.display) {
    case DisplayMode::kHeadless: return OpenHeadlessDisplay();
    case DisplayMode::kFullscreen: return OpenWindowDisplay(true, settings.present, error);
    case DisplayMode::kTerminal: return OpenTerminalDisplay(settings, error);
    case DisplayMode::kWindow: break;
  }
  return OpenWindowDisplay(false, settings.present, error);
}

std::string TerminalHint(const DisplaySettings& settings) {
  if (settings.display_named || settings.display != DisplayMode::kWindow || DisplayServerNamed() ||
      !isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))
    return "";
  return "no display server here; to see the picture in this terminal, run with "
         "SOFTBOARD_DISPLAY=terminal";
}

void EscWhenInputEnded(bool key_waiting) {
  if (!key_waiting && console_input_ended()) console_queue_key(keys::kEsc);
}

Placement PlaceFrame(int frame_width, int frame_height, int area_width, int area_height) {
  if (frame_width <= 0 || frame_height <= 0 || area_width <= 0 || area_height <= 0) return {};
  const double scale =
      std::min(double(area_width) / frame_width, double(area_height) / frame_height);
  Placement p;
  p.width = std::clamp(int(std::lround(frame_width * scale)), 1, area_width);
  p.height = std::clamp(int(std::lround(frame_height * scale)), 1, area_height);
  p.exact = scale >= 1 && p.width - frame_width <= 1 && p.height - frame_height <= 1;
  if (p.exact) {
    p.width = frame_width;
    p.height = frame_height;
  }
  p.x = (area_width - p.width) / 2;
  p.y = (area_height - p.height) / 2;
  return p;
}

void DrawImage(const PixelRows& image, const PixelRows& out) {
  const int width = out.width, height = out.height;
  if (width == image.width && height == image.height) {
    for (int y = 0; y < height; y++) CopyImageRow(image, y, out.Argb(y));
    return;
  }
  // Each pixel takes the source pixel under its centre.
  std::vector<int> column(size_t(std::max(width, 0)));
  for (int x = 0; x < width; x++)
    column[size_t(x)] = int((2 * int64_t(x) + 1) * image.width / (2 * int64_t(width)));
  std::vector<uint32_t> row(size_t(image.width));
  int loaded = -1;
  for (int y = 0; y < height; y++) {
    const int source = int((2 * int64_t(y) + 1) * image.height / (2 * int64_t(height)));
    if (source != loaded) CopyImageRow(image, loaded = source, row.data());
    uint32_t* line = out.Argb(y);
    for (int x = 0; x < width; x++) line[x] = row[size_t(column[size_t(x)])];
  }
}

void Display::Present(const PixelRows& frame, const FrameDamage& damage, int retraces, bool vsync,
                      int refresh_hz) {
  if (!vsync || retraces < 0) retraces = 0;
  Show(frame, damage, retraces);
  if (retraces > 0 && !WaitsForRetrace()) {
    timer_.SetRate(refresh_hz);
    timer_.Wait(retraces);
  }
}

RetraceTimer::RetraceTimer(int refresh_hz) {
  SetRate(refresh_hz);
}

void RetraceTimer::SetRate(int refresh_hz) {
  period_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / (refresh_hz > 0 ? refresh_hz : 60)));
}

void RetraceTimer::Wait(int retraces) {
  const auto now = std::chrono::steady_clock::now();
  if (next_ == std::chrono::steady_clock::time_point{} || now > next_ + period_) next_ = now;
  next_ += period_ * retraces;
  std::this_thread::sleep_until(next_);
}

}  // namespace softboard
