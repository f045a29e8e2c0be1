// A virtual X server of a test's own (Xvfb), and what its windows show.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

bool HaveXvfb();

// An X server on a display of its own; display() is empty when it could
// not start.
class VirtualScreen {
 public:
  VirtualScreen(int width, int height);
  ~VirtualScreen();
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;
  const std::string& display() const { return display_; }

 private:
  void Stop();
  pid_t pid_ = -1;
  std::string display_;
};

// What a window shows, read back from the X server with xwd.
struct WindowImage {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB
  uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// The contents of the window named `name`; false when there is none (yet).
bool ReadWindow(const std::string& display, const std::string& name, WindowImage* out);

// Asks the X server to resize the window named `name` (no window manager
// runs on a test's server, so it takes effect at once).
bool ResizeWindow(const std::string& display, const std::string& name, int width, int height);

}  // namespace e2e
