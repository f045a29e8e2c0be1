// The scenes drawn by the software board; each object sets up once and draws
// one frame a Run().
#pragma once

#include <memory>

namespace bench {

// The demo's own DrawFrame through the library, headless, swaps not waiting.
class BoardDemoFrame {
 public:
  BoardDemoFrame();
  ~BoardDemoFrame();
  bool ok() const { return ok_; }
  void Run();

 private:
  bool ok_ = false;
};

// Full-screen fills straight into the board's rasterizer.
class BoardFill {
 public:
  enum Kind { kGouraudBlend, kTexturedBilinear };
  BoardFill(Kind kind, float far_w);
  ~BoardFill();
  void Run();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace bench
