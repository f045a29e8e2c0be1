#include "output/renderer_probe.h"

#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "quote.h"

extern char** environ;

namespace softboard {
namespace {

// The directory of the file our code was loaded from: the shared library,
// or the program itself where the board is linked into it.
std::string OwnDirectory() {
  Dl_info info{};
  std::string file = "/proc/self/exe";
  // The main program's name is as it was started (perhaps found on PATH).
  if (dladdr(reinterpret_cast<void*>(&ProbeHelperPath), &info) != 0 && info.dli_fname &&
      std::strchr(info.dli_fname, '/') != nullptr)
    file = info.dli_fname;
  char resolved[PATH_MAX];
  if (realpath(file.c_str(), resolved) == nullptr) return "";
  std::string dir = resolved;
  return dir.substr(0, dir.rfind('/'));
}

std::string Because(const std::string& path, const char* what) {
  return "the renderer probe " + quote::Escape(path) + " " + what;
}

}  // namespace

std::string ProbeHelperPath() {
  const std::string dir = OwnDirectory();
  if (dir.empty()) return SOFTBOARD_PROBE_FROM_LIBRARY;
  // From a library's directory, or from a program's where the board is linked in.
  namespace fs = std::filesystem;
  const std::string from_library =
      (fs::path(dir) / SOFTBOARD_PROBE_FROM_LIBRARY).lexically_normal();
  const std::string from_program =
      (fs::path(dir) / SOFTBOARD_PROBE_FROM_PROGRAM).lexically_normal();
  if (access(from_library.c_str(), F_OK) != 0 && access(from_program.c_str(), F_OK) == 0)
    return from_program;
  return from_library;
}

RendererProbe ReadProbeAnswer(const std::string& answer) {
  RendererProbe probe;
  const size_t first = answer.find('\n');
  const size_t second = first == std::string::npos ? first : answer.find('\n', first + 1);
  if (second == std::string::npos) return probe;
  probe.answered = true;
  probe.renderer = answer.substr(0, first);
  probe.gl_renderer = answer.substr(first + 1, second - first - 1);
  return probe;
}

RendererProbe ProbeRenderer(const std::vector<std::string>& drivers,
                            std::chrono::milliseconds limit) {
  RendererProbe probe;
  const std::string path = ProbeHelperPath();
  if (access(path.c_str(), X_OK) != 0) {
    probe.problem = Because(path, "cannot be run: ") + std::strerror(errno);
    return probe;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return probe;
  // Standard output is the pipe; nothing else of ours goes over, and nothing
  // the helper's libraries say reaches the program's console.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
  // The program's signal mask and handlers are its own, not the helper's.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& driver : drivers) argv.push_back(const_cast<char*>(driver.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  const int failed = posix_spawn(&child, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipe_fds[1]);
  if (failed != 0) {
    close(pipe_fds[0]);
    probe.problem = Because(path, "cannot start: ") + std::strerror(failed);
    return probe;
  }
  std::string answer;
  bool timed_out = false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd = {pipe_fds[0], POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&fd, 1, int(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) timed_out = true;
    if (ready <= 0) break;
    char buffer[256];
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answer.append(buffer, size_t(n));
  }
  close(pipe_fds[0]);
  kill(child, SIGKILL);  // gone already, unless it hangs
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  probe = ReadProbeAnswer(answer);
  if (!probe.answered && timed_out)
    probe.problem = Because(path, "gave no answer in ") + std::to_string(limit.count()) + " ms";
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
