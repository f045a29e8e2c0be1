// The scenes drawn by the software board; each object sets up once and draws
// one frame a Run().
#pragma once

#include <memory>

namespace bench {

// The demo's own DrawFrame through the library, headless, swaps not waiting.
class BoardDemoFrame {
 public:
  // `scale`, `threads` and `ssaa` as the board's settings take them; empty:
  // one thread at the scene's own size.
  explicit BoardDemoFrame(const char* scale = "1", const char* threads = "1",
                          const char* ssaa = "1", const char* color = "32");
  ~BoardDemoFrame();
  bool ok() const { return ok_; }
  // One frame, drawn whole as when the scene moves; `still`: the same frame
  // as the last, which the board does not draw again.
  void Run(bool still = false);

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
