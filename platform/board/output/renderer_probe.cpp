#include "output/renderer_probe.h"

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace softboard {
namespace {

constexpr unsigned kGlRenderer = 0x1F01;  // GL_RENDERER

// In the child: one line each, the renderer's name and GL's.
[[noreturn]] void Probe(const std::vector<std::string>& drivers, int out) {
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {  // a GL library's chatter must not reach the program's console
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (!StartSdlVideo(drivers)) _exit(1);
  SDL_Window* window = SDL_CreateWindow("", 0, 0, 64, 48, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer =
      window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC) : nullptr;
  SDL_RendererInfo info;
  if (renderer == nullptr || SDL_GetRendererInfo(renderer, &info) != 0) _exit(1);
  std::string answer = std::string(info.name) + "\n";
  if (std::string(info.name).rfind("opengl", 0) == 0) {
    using GetString = const unsigned char* (*)(unsigned);
    const auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    const unsigned char* name = get ? get(kGlRenderer) : nullptr;
    if (name) answer += reinterpret_cast<const char*>(name);
  }
  answer += "\n";
  [[maybe_unused]] const ssize_t written = write(out, answer.data(), answer.size());
  _exit(0);  // no exit handlers: they belong to the parent (its terminal, say)
}

}  // namespace

RendererProbe ProbeRenderer(const std::vector<std::string>& drivers,
                            std::chrono::milliseconds limit) {
  RendererProbe probe;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return probe;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    Probe(drivers, pipe_fds[1]);
  }
  close(pipe_fds[1]);
  if (child < 0) {
    close(pipe_fds[0]);
    return probe;
  }
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd = {pipe_fds[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0) break;
    char buffer[256];
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, size_t(n));
  }
  close(pipe_fds[0]);
  kill(child, SIGKILL);  // gone already, unless it hangs
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  const size_t first = answer.find('\n');
  const size_t second = first == std::string::npos ? first : answer.find('\n', first + 1);
  if (second == std::string::npos) return probe;
  probe.answered = true;
  probe.renderer = answer.substr(0, first);
  probe.gl_renderer = answer.substr(first + 1, second - first - 1);
  return probe;
}

bool StartSdlVideo(const std::vector<std::string>& drivers) {
  for (const std::string& driver : drivers) {
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, driver.c_str(), SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
  }
  return false;
}

bool DrawsInSoftware(const RendererProbe& probe) {
  if (probe.renderer == "software") return true;
  std::string name = probe.gl_renderer;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  for (const char* cpu : {"llvmpipe", "softpipe", "swrast", "software"}) {
    if (name.find(cpu) != std::string::npos) return true;
  }
  return false;
}

}  // namespace softboard
