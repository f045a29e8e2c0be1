// The examples' scenes (pixel_scenes.h) through Mesa's off-screen GL with
// fixed-function state as near the board's as GL has: depth test, fog by w
// (a fog coordinate, GL_EXP), alpha test (the ships' key as alpha 0, GL
// having no chroma key), scissor, culling, lines and points.
#pragma once

#include <memory>
#include <string>

#include "pixel_scenes.h"

namespace bench {

class MesaPixelScene {
 public:
  static std::unique_ptr<MesaPixelScene> Open(PixelScene scene, std::string* why);
  ~MesaPixelScene();
  void Run();

 private:
  struct State;
  explicit MesaPixelScene(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace bench
