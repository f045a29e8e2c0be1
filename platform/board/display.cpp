#include "display.h"

#include <thread>

namespace softboard {

std::unique_ptr<Display> OpenDisplay(const Settings& settings, std::string* error) {
  switch (settings.display) {
    case DisplayMode::kHeadless: return OpenHeadlessDisplay();
    case DisplayMode::kFullscreen: return OpenWindowDisplay(true, error);
    case DisplayMode::kWindow: break;
  }
  return OpenWindowDisplay(false, error);
}

void Display::Present(const Image& frame, int retraces, bool vsync, int refresh_hz) {
  if (!vsync || retraces < 0) retraces = 0;
  Show(frame, retraces);
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
