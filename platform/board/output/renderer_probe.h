// Which rasterizer SDL's renderer would draw with, asked of a helper program
// (softboard-probe, installed beside the library), so that this process never
// loads a GL library to find out, and starts no child that does not exec.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace softboard {

struct RendererProbe {
  bool answered = false;
  std::string renderer;     // SDL's name for it: "opengl", "software", ...
  std::string gl_renderer;  // for a GL renderer, GL's own name of the rasterizer
  // Why there is no answer, where that is worth a line: the helper is
  // missing, cannot start, or said nothing in time. Empty otherwise.
  std::string problem;
};

// Starts the helper, which opens a hidden window on the first of `drivers`
// that starts and makes the renderer a window would make; unanswered when
// that fails or takes longer than `limit`.
RendererProbe ProbeRenderer(const std::vector<std::string>& drivers,
                            std::chrono::milliseconds limit);

// Where the helper is: beside the library (or the program it is linked
// into), as the build tree and an installed tree both lay it out.
std::string ProbeHelperPath();

// The helper's answer: two lines, SDL's renderer and GL's name of it (empty
// for another renderer); unanswered when the second line has not ended.
RendererProbe ReadProbeAnswer(const std::string& answer);

// Starts SDL's video on the first of `drivers` that has its server.
bool StartSdlVideo(const std::vector<std::string>& drivers);

// SDL's software renderer, or GL drawn by a rasterizer on the CPU (llvmpipe,
// softpipe, swrast and the like).
bool DrawsInSoftware(const RendererProbe& probe);

}  // namespace softboard
