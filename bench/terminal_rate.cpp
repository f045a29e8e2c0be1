// How many frames a second reach a terminal, per protocol, and how many swaps
// the game loop makes meanwhile: the demo runs under a pseudo-terminal that
// is read at full speed or at a set number of bytes a second (a slow link),
// with a key typed every 20 ms so that the scene keeps changing.
//
//   terminal_rate kitty|iterm|sixel|symbols [--seconds N] [--rate BYTES_PER_SECOND]
//                 [--size COLUMNSxROWS@WIDTHxHEIGHT] [--demo PATH]
//
// Run it where the demo finds tex.3df (build/release/bin). It prints the
// frames begun on the terminal, the swaps in the trace and the demo's CPU
// time, each per second of the measured span.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mode = "symbols";
  double seconds = 5;
  double rate = 0;  // bytes a second; 0: as fast as the terminal reads
  winsize size{40, 100, 1000, 800};
  std::string demo = "./transdemo";
};

bool Parse(int argc, char** argv, Options* o) {
  if (argc < 2) return false;
  o->mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
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

// What begins (or, for symbols, ends) each frame in the stream.
const char* FrameMark(const std::string& mode) {
  if (mode == "kitty") return "\x1b_Ga=T";
  if (mode == "iterm") return "\x1b]1337;File=";
  if (mode == "sixel") return "\x1bP";
  return "\x1b[0m\x1b[0m";  // chafa's last reset, then the display's
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

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: terminal_rate kitty|iterm|sixel|symbols [--seconds N] "
                 "[--rate BYTES_PER_SECOND] [--size COLUMNSxROWS@WIDTHxHEIGHT] [--demo PATH]\n");
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

  // What came, kept only as far as needed to find marks that span two reads.
  std::string out;
  size_t marks = 0;
  const std::string mark = FrameMark(o.mode);
  char buffer[1 << 16];
  const auto read_some = [&](size_t most) {
    const ssize_t n = read(master, buffer, std::min(most, sizeof buffer));
    if (n <= 0) return size_t(0);
    out.append(buffer, size_t(n));
    marks += Count(out, mark);
    if (out.size() >= mark.size()) out.erase(0, out.size() - mark.size() + 1);
    return size_t(n);
  };
  std::string seen;  // the start-up text, searched whole
  const auto wait_for_prompt = [&] {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (seen.find("continue") == std::string::npos && Clock::now() < end) {
      pollfd in{master, POLLIN, 0};
      if (poll(&in, 1, 20) <= 0) continue;
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, size_t(n));
    }
    return seen.find("continue") != std::string::npos;
  };
  const auto swaps = [&] {
    std::ifstream in(trace_path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    return Count(text, "grBufferSwap(");
  };

  if (!wait_for_prompt()) return 1;
  [[maybe_unused]] ssize_t typed = write(master, " ", 1);
  const auto first_deadline = Clock::now() + std::chrono::seconds(10);
  while (marks == 0 && Clock::now() < first_deadline) {
    pollfd in{master, POLLIN, 0};
    if (poll(&in, 1, 20) > 0) read_some(sizeof buffer);
  }
  if (marks == 0) {
    std::fprintf(stderr, "no frame came\n");
    kill(pid, SIGKILL);
    return 1;
  }
  // Measured from here: the demo is up, its first frame under way.
  const auto start = Clock::now();
  const size_t marks_before = marks;
  const size_t swaps_before = swaps();
  const double cpu_before = CpuSeconds(pid);
  size_t read_total = 0, keys = 0;
  const auto end = start + std::chrono::duration<double>(o.seconds);
  auto next_key = start;
  while (Clock::now() < end) {
    auto now = Clock::now();
    if (now >= next_key) {
      typed = write(master, keys++ % 2 ? "f" : "h", 1);
      next_key += std::chrono::milliseconds(20);
    }
    if (o.rate > 0) {
      const double due = o.rate * std::chrono::duration<double>(now - start).count();
      if (due > double(read_total)) read_total += read_some(size_t(due - double(read_total)));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    pollfd in{master, POLLIN, 0};
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next_key - now).count();
    if (poll(&in, 1, int(std::max<long>(0, wait))) <= 0) continue;
    while (size_t n = read_some(sizeof buffer)) read_total += n;
  }
  const double span = std::chrono::duration<double>(Clock::now() - start).count();
  const size_t frames = marks - marks_before;
  const size_t swapped = swaps() - swaps_before;
  const double cpu = CpuSeconds(pid) - cpu_before;

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
      "%s, %ux%u cells, %ux%u px, %s: %.1f frames/s, %.1f swaps/s, demo CPU %.0f %%, %.0f KB/s "
      "read\n",
      o.mode.c_str(), o.size.ws_col, o.size.ws_row, o.size.ws_xpixel, o.size.ws_ypixel,
      o.rate > 0 ? ("read at " + std::to_string(int(o.rate / 1000)) + " KB/s").c_str()
                 : "read at full speed",
      double(frames) / span, double(swapped) / span, 100 * cpu / span,
      double(read_total) / span / 1000);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
