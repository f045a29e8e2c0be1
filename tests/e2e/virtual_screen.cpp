#include "virtual_screen.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "demo_run.h"

namespace e2e {

bool HaveXvfb() {
  return std::system("command -v Xvfb > /dev/null 2>&1") == 0;
}

VirtualScreen::VirtualScreen(int width, int height) {
  // Xvfb picks a free display itself and writes its number to the pipe:
  // tests running side by side never share one.
  int number[2];
  if (pipe(number) != 0) return;
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_ = fork();
  if (pid_ == 0) {
    close(number[0]);
    freopen("/dev/null", "w", stderr);
    const std::string fd = std::to_string(number[1]);
    // -noreset: a run that ends would otherwise reset the server, and the
    // next run's connection could come while it is resetting.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
           "tcp", "-noreset", nullptr);
    _exit(127);
  }
  close(number[1]);
  std::string digits;
  char c;
  while (read(number[0], &c, 1) == 1 && c != '\n') digits += c;  // ends if Xvfb fails
  close(number[0]);
  if (!digits.empty()) {
    display_ = ":" + digits;
  } else {
    Stop();
  }
}

VirtualScreen::~VirtualScreen() {
  Stop();
}

void VirtualScreen::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

namespace {

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; i++) v = v << 8 | uint8_t(bytes[at + i]);
  return v;
}

int Shift(uint32_t mask) {
  int shift = 0;
  while (mask && !(mask & 1)) mask >>= 1, shift++;
  return shift;
}

// An XWD file of a 24- or 32-bit true-colour window: its header (big-endian
// 32-bit fields), the window's name, the colour map, then the pixels in the
// byte order the header gives.
bool ParseXwd(const std::string& file, WindowImage* out) {
  if (file.size() < 100) return false;
  const auto field = [&](int i) { return BigEndian32(file, size_t(i) * 4); };
  const uint32_t header_size = field(0), version = field(1), format = field(2);
  const uint32_t width = field(4), height = field(5), byte_order = field(7);
  const uint32_t bits_per_pixel = field(11), bytes_per_line = field(12);
  const uint32_t red = field(14), green = field(15), blue = field(16), colors = field(19);
  if (version != 7 || format != 2 || bits_per_pixel != 32) return false;
  const size_t start = header_size + size_t(colors) * 12;
  if (file.size() < start + size_t(bytes_per_line) * height) return false;
  out->width = int(width);
  out->height = int(height);
  out->pixels.assign(size_t(width) * height, 0);
  for (uint32_t y = 0; y < height; y++) {
    for (uint32_t x = 0; x < width; x++) {
      const size_t at = start + size_t(y) * bytes_per_line + size_t(x) * 4;
      uint32_t p = 0;
      for (int i = 0; i < 4; i++) {
        const uint32_t byte = uint8_t(file[at + size_t(i)]);
        p |= byte_order == 0 ? byte << (8 * i) : byte << (8 * (3 - i));
      }
      const auto channel = [&](uint32_t mask) { return (p & mask) >> Shift(mask); };
      out->pixels[size_t(y) * width + x] = channel(red) << 16 | channel(green) << 8 | channel(blue);
    }
  }
  return true;
}

Window FindWindow(Display* x, Window under, const std::string& name) {
  char* title = nullptr;
  if (XFetchName(x, under, &title) && title) {
    const bool found = name == title;
    XFree(title);
    if (found) return under;
  }
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(x, under, &root, &parent, &children, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; i++) found = FindWindow(x, children[i], name);
  if (children) XFree(children);
  return found;
}

}  // namespace

bool ReadWindow(const std::string& display, const std::string& name, WindowImage* out) {
  const std::string dir = MakeTempDir(), file = dir + "/window.xwd";
  const std::string command =
      "xwd -silent -display " + display + " -name '" + name + "' > " + file + " 2> /dev/null";
  const bool read = std::system(command.c_str()) == 0 && ParseXwd(ReadFile(file), out);
  std::filesystem::remove_all(dir);
  return read;
}

bool ResizeWindow(const std::string& display, const std::string& name, int width, int height) {
  Display* x = XOpenDisplay(display.c_str());
  if (x == nullptr) return false;
  const Window window = FindWindow(x, DefaultRootWindow(x), name);
  if (window) XResizeWindow(x, window, unsigned(width), unsigned(height));
  XCloseDisplay(x);
  return window != 0;
}

}  // namespace e2e
