// The same scenes through Mesa's off-screen GL, as a peer to measure against.
// Only built where Mesa's OSMesa is installed.
#pragma once

#include <memory>
#include <string>

namespace bench {

class MesaPeer {
 public:
  // The Gallium driver is the one GALLIUM_DRIVER names (llvmpipe by default);
  // it is chosen once a process. Null, with the reason, when there is no context.
  static std::unique_ptr<MesaPeer> Open(std::string* why);
  ~MesaPeer();

  void DemoFrame();
  // With a depth buffer attached and tested, so no covered work is skipped.
  void TexturedFill(float far_w);
  void GouraudBlendFill();
  // What the driver calls itself.
  std::string Renderer() const;

 private:
  struct State;
  explicit MesaPeer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace bench
