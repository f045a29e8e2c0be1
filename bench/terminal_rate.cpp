// What frames in a terminal cost and how they arrive, per protocol and link
// speed: the demo runs under a pseudo-terminal that is read at full speed or
// at a set number of bytes a second (a slow link: what is not read in time
// waits, none of it banked), moving (a key typed every 20 ms, ten to the
// right then ten back, so that the scene keeps changing) or still.
//
//   terminal_rate kitty|iterm|sixel|symbols [--seconds N] [--rate BYTES_PER_SECOND]
//                 [--size COLUMNSxROWS@WIDTHxHEIGHT] [--still] [--demo PATH]
//
// Run it where the demo finds tex.3df (build/release/bin); SOFTBOARD_ settings
// in the environment reach the demo. It prints, per second of the measured
// span, the frames that arrived (a frame ends where the next one's pictures
// or cells start again from an upper row), the swaps in the trace and the
// demo's share of a core; the demo's peak memory; and, moving, the latency:
// from the last key to the end of the last frame that began within 120 ms of
// it (the full-quality frame that follows once the picture is still begins
// 150 ms after the frame that shows the key), and to the last byte.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mode = "symbols";
  double seconds = 5;
  double rate = 0;  // bytes a second; 0: as fast as the terminal reads
  winsize size{40, 100, 1000, 800};
  bool still = false;
  std::string demo = "./transdemo";
};

bool Parse(int argc, char** argv, Options* o) {
  if (argc < 2) return false;
  o->mode = argv[1];
  for (int i = 2; i < argc; i++) {
    const std::string name = argv[i];
    if (name == "--still") {
      o->still = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    unsigned columns = 0, rows = 0, width = 0, height = 0;
    if (name == "--seconds") {
      o->seconds = std::atof(value.c_str());
    } else if (name == "--rate") {
      o->rate = std::atof(value.c_str());
    } else if (name == "--demo") {
      o->demo = value;
    } else if (name == "--size" &&
               std::sscanf(value.c_str(), "%ux%u@%ux%u", &columns, &rows, &width, &height) == 4) {
      o->size = {static_cast<unsigned short>(rows), static_cast<unsigned short>(columns),
                 static_cast<unsigned short>(width), static_cast<unsigned short>(height)};
    } else {
      return false;
    }
  }
  return o->seconds > 0;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; i++) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) stime = std::stoul(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long PeakKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// Frames in the stream: each puts its pictures (or, for symbols, its cells)
// from the top down, so a frame begins where the cursor goes to a row above
// the last one (or, for pictures, the same row again).
class FrameCounter {
 public:
  explicit FrameCounter(bool pictures) : pictures_(pictures) {}
  void Feed(const char* bytes, size_t n) {
    for (size_t i = 0; i < n; i++) Byte(bytes[i]);
  }
  size_t frames() const { return frames_; }

 private:
  void Byte(char c) {
    switch (state_) {
      case 0: state_ = c == '\x1b' ? 1 : 0; return;
      case 1:
        state_ = c == '[' ? 2 : 0;
        row_ = 0;
        return;
      case 2:
        if (c >= '0' && c <= '9') {
          row_ = row_ * 10 + (c - '0');
          if (row_ > 100000) state_ = 0;
        } else {
          state_ = c == ';' && row_ > 0 ? 3 : 0;
        }
        return;
      case 3:
        if (c >= '0' && c <= '9') return;
        if (c == 'H' && (row_ < last_row_ || (pictures_ && row_ == last_row_) || last_row_ < 0))
          frames_++;
        if (c == 'H') last_row_ = row_;
        state_ = 0;
        return;
    }
  }
  bool pictures_;
  int state_ = 0, row_ = 0, last_row_ = -1;
  size_t frames_ = 0;
};

// Bursts of bytes, apart by more than this: frames, or the gaps between.
constexpr auto kQuiet = std::chrono::milliseconds(20);

struct Burst {
  Clock::time_point start, end;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: terminal_rate kitty|iterm|sixel|symbols [--seconds N] "
                 "[--rate BYTES_PER_SECOND] [--size COLUMNSxROWS@WIDTHxHEIGHT] [--still] "
                 "[--demo PATH]\n");
    return 2;
  }
  char trace_path[] = "/tmp/terminal-rate-XXXXXX";
  const int trace_fd = mkstemp(trace_path);
  if (trace_fd < 0) return 1;
  close(trace_fd);

  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, &o.size) != 0) return 1;
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, 0);
    dup2(slave, 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(master);
    setenv("SOFTBOARD_DISPLAY", "terminal", 1);
    setenv("SOFTBOARD_TERMINAL", o.mode.c_str(), 1);
    setenv("SOFTBOARD_TRACE", trace_path, 1);
    setenv("TERM", "xterm-256color", 1);
    setenv("COLORTERM", "truecolor", 1);
    execl(o.demo.c_str(), "transdemo", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(slave);
  fcntl(master, F_SETFL, O_NONBLOCK);

  FrameCounter counter(o.mode != "symbols");
  std::vector<Burst> bursts;
  size_t read_total = 0;
  static char buffer[1 << 16];
  const auto read_some = [&](size_t most) {
    const ssize_t n = read(master, buffer, std::min(most, sizeof buffer));
    if (n <= 0) return size_t(0);
    counter.Feed(buffer, size_t(n));
    const auto now = Clock::now();
    if (bursts.empty() || now - bursts.back().end > kQuiet)
      bursts.push_back({now, now});
    else
      bursts.back().end = now;
    read_total += size_t(n);
    return size_t(n);
  };
  // Reads as the link would until `until`: all there is, or at its rate
  // (what it could have carried while there was nothing to read is lost).
  double credit = 0;
  auto last_tick = Clock::now();
  const auto read_for = [&](Clock::time_point until, auto&& between) {
    while (Clock::now() < until) {
      between();
      if (o.rate > 0) {
        const auto now = Clock::now();
        credit += o.rate * std::chrono::duration<double>(now - last_tick).count();
        last_tick = now;
        credit = std::min(credit, std::max(o.rate * 0.004, 4096.0));
        if (credit >= 1) credit -= double(read_some(size_t(credit)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      pollfd in{master, POLLIN, 0};
      if (poll(&in, 1, 2) <= 0) continue;
      while (read_some(sizeof buffer) > 0) {
      }
    }
  };
  const auto nothing = [] {};

  std::string seen;  // the start-up text, searched whole
  const auto end_of_prompt = Clock::now() + std::chrono::seconds(10);
  while (seen.find("continue") == std::string::npos && Clock::now() < end_of_prompt) {
    pollfd in{master, POLLIN, 0};
    if (poll(&in, 1, 20) <= 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) seen.append(buffer, size_t(n));
  }
  if (seen.find("continue") == std::string::npos) return 1;
  const auto swaps = [&] {
    std::ifstream in(trace_path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    return Count(text, "grBufferSwap(");
  };
  [[maybe_unused]] ssize_t typed = write(master, " ", 1);
  // The first frame, and for a still run its full-quality one, before the span.
  read_for(Clock::now() + std::chrono::milliseconds(1500), nothing);
  if (counter.frames() == 0) {
    std::fprintf(stderr, "no frame came\n");
    kill(pid, SIGKILL);
    return 1;
  }

  const auto start = Clock::now();
  const size_t frames_before = counter.frames(), swaps_before = swaps(), read_before = read_total;
  const double cpu_before = CpuSeconds(pid);
  size_t keys = 0;
  auto next_key = start;
  Clock::time_point last_key{};
  read_for(
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds)),
      [&] {
        if (o.still || Clock::now() < next_key) return;
        // Ten steps right, ten back: each frame differs from the last few.
        typed = write(master, keys++ % 20 < 10 ? "h" : "f", 1);
        last_key = Clock::now();
        next_key += std::chrono::milliseconds(20);
      });
  const double span = std::chrono::duration<double>(Clock::now() - start).count();
  const size_t frames = counter.frames() - frames_before;
  const size_t swapped = swaps() - swaps_before;
  const double cpu = CpuSeconds(pid) - cpu_before;
  const size_t bytes = read_total - read_before;
  const long peak = PeakKib(pid);

  // After the last key: what arrives until all is quiet.
  double latency = -1, settled = -1;
  if (!o.still) {
    read_for(Clock::now() + std::chrono::milliseconds(1500), nothing);
    for (const Burst& burst : bursts) {
      if (burst.end < last_key) continue;
      const double since = std::chrono::duration<double>(burst.end - last_key).count();
      if (burst.start < last_key + std::chrono::milliseconds(120)) latency = since;
      settled = since;
    }
  }

  typed = write(master, "\x1b", 1);
  int status = 0;
  const auto give_up = Clock::now() + std::chrono::seconds(20);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > give_up) kill(pid, SIGKILL);
    pollfd in{master, POLLIN, 0};
    if (poll(&in, 1, 20) > 0) read_some(sizeof buffer);
  }
  unlink(trace_path);
  std::printf(
      "%s, %ux%u cells, %ux%u px, %s, %s: %.1f frames/s, %.1f swaps/s, demo CPU %.1f %%, "
      "peak RSS %.0f MB, %.0f KB/s read",
      o.mode.c_str(), o.size.ws_col, o.size.ws_row, o.size.ws_xpixel, o.size.ws_ypixel,
      o.rate > 0 ? ("read at " + std::to_string(int(o.rate / 1000)) + " KB/s").c_str()
                 : "read at full speed",
      o.still ? "still" : "moving", double(frames) / span, double(swapped) / span, 100 * cpu / span,
      double(peak) / 1024, double(bytes) / span / 1000);
  if (!o.still) std::printf(", latency %.0f ms (all in %.0f ms)", latency * 1000, settled * 1000);
  std::printf("\n");
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
