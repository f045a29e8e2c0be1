// softboard-probe DRIVER...: the renderer SDL makes for a window on the first
// of the video drivers that starts, and for a GL renderer GL's name of its
// rasterizer, one line each on standard output. The board starts it (see
// renderer_probe.h) so that its own process never loads a GL library; where
// no window or renderer can be made it says nothing and exits with 1.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "output/renderer_probe.h"

namespace {

constexpr unsigned kGlRenderer = 0x1F01;  // GL_RENDERER

}  // namespace

int main(int argc, char** argv) {
  // The answer alone goes out: a GL library's chatter on standard output
  // goes nowhere.
  const int out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  const int null = open("/dev/null", O_WRONLY);
  if (out < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) return 1;
  const std::vector<std::string> drivers(argv + 1, argv + argc);
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (!softboard::StartSdlVideo(drivers)) return 1;
  SDL_Window* window = SDL_CreateWindow("", 0, 0, 64, 48, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer =
      window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC) : nullptr;
  SDL_RendererInfo info;
  if (renderer == nullptr || SDL_GetRendererInfo(renderer, &info) != 0) return 1;
  std::string answer = std::string(info.name) + "\n";
  if (std::string(info.name).rfind("opengl", 0) == 0) {
    using GetString = const unsigned char* (*)(unsigned);
    const auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    const unsigned char* name = get ? get(kGlRenderer) : nullptr;
    if (name) answer += reinterpret_cast<const char*>(name);
  }
  answer += "\n";
  [[maybe_unused]] const ssize_t written = write(out, answer.data(), answer.size());
  _exit(0);  // the answer is all that was asked: no slow tearing down of GL
}
