#include "display.h"

namespace softboard {
namespace {

// Frames stay in the board's buffers; nothing is shown and nothing waits.
class HeadlessDisplay final : public Display {
 public:
  void Show(const uint32_t*, int) override {}
  bool WaitsForRetrace() const override { return false; }
  DisplayEvents PumpEvents() override { return {}; }
};

}  // namespace

std::unique_ptr<Display> OpenHeadlessDisplay() {
  return std::make_unique<HeadlessDisplay>();
}

}  // namespace softboard
