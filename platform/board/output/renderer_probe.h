// Which rasterizer SDL's renderer would draw with, asked in a short-lived
// child process, so that this process never loads a GL library to find out.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace softboard {

struct RendererProbe {
  bool answered = false;
  std::string renderer;     // SDL's name for it: "opengl", "software", ...
  std::string gl_renderer;  // for a GL renderer, GL's own name of the rasterizer
};

// Opens a hidden window on the first of `drivers` that starts and makes the
// renderer a window would make; unanswered when that fails or takes longer
// than `limit`.
RendererProbe ProbeRenderer(const std::vector<std::string>& drivers,
                            std::chrono::milliseconds limit);

// Starts SDL's video on the first of `drivers` that has its server.
bool StartSdlVideo(const std::vector<std::string>& drivers);

// SDL's software renderer, or GL drawn by a rasterizer on the CPU (llvmpipe,
// softpipe, swrast and the like).
bool DrawsInSoftware(const RendererProbe& probe);

}  // namespace softboard
