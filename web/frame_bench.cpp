// The demo's frame in WebAssembly, drawn whole again and again (the scene
// the native benchmark's BM_DemoFrame draws): microseconds a frame, in the
// browser (bench.html) or under Node.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "board_scenes.h"

namespace {

// The best of several runs of `frames` frames, in microseconds a frame.
double MicrosecondsPerFrame(bench::BoardDemoFrame& frame, int frames) {
  double best = 1e30;
  for (int run = 0; run < 7; run++) {
    const double start = emscripten_get_now();
    for (int i = 0; i < frames; i++) frame.Run();
    best = std::min(best, (emscripten_get_now() - start) * 1000 / frames);
  }
  return best;
}

}  // namespace

int main() {
  for (const char* color : {"32", "16"}) {
    bench::BoardDemoFrame frame("1", "1", "1", color);
    if (!frame.ok()) {
      std::printf("no board\n");
      return 1;
    }
    for (int i = 0; i < 50; i++) frame.Run();  // warm up
    std::printf("demo frame, %s-bit colour: %.1f us\n", color, MicrosecondsPerFrame(frame, 300));
  }
  return 0;
}
