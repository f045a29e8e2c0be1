// The texture units' scenes (texture_scenes.h) through Mesa's off-screen GL:
// the same textures with the same levels, GL_LINEAR_MIPMAP_LINEAR (or
// GL_LINEAR_MIPMAP_NEAREST for the nearest-level floor), and for the wall a
// second texture unit modulating the bricks by the light map.
#pragma once

#include <memory>
#include <string>

#include "texture_scenes.h"

namespace bench {

class MesaTextureScene {
 public:
  static std::unique_ptr<MesaTextureScene> Open(TextureScene scene, std::string* why);
  ~MesaTextureScene();
  void Run();

 private:
  struct State;
  explicit MesaTextureScene(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace bench
