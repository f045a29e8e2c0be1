#include "conio.h"
#include "output/display.h"

namespace softboard {
namespace {

// Frames stay in the board's buffers; nothing is shown and nothing waits.
class HeadlessDisplay final : public Display {
 public:
  void Show(const PixelRows&, const FrameDamage&, int) override {}
  bool WaitsForRetrace() const override { return false; }
  bool DrawableSize(int*, int*) const override { return false; }
  DisplayEvents PumpEvents() override {
    EscWhenInputEnded(_kbhit());  // only the console sends keys here
    return {};
  }
};

}  // namespace

std::unique_ptr<Display> OpenHeadlessDisplay() {
  return std::make_unique<HeadlessDisplay>();
}

}  // namespace softboard
