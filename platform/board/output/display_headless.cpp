#include "conio.h"
#include "key_codes.h"
#include "output/display.h"

namespace softboard {
namespace {

// Frames stay in the board's buffers; nothing is shown and nothing waits.
class HeadlessDisplay final : public Display {
 public:
  void Show(const PixelRows&, const FrameDamage&, int) override {}
  bool WaitsForRetrace() const override { return false; }
  // Only the console sends keys here. Once its input has ended (a script
  // without Esc, /dev/null) no key can ever come, so the program is told Esc,
  // as a closed window would tell it, rather than left running forever.
  bool DrawableSize(int*, int*) const override { return false; }
  DisplayEvents PumpEvents() override {
    if (!_kbhit() && console_input_ended()) console_queue_key(keys::kEsc);
    return {};
  }
};

}  // namespace

std::unique_ptr<Display> OpenHeadlessDisplay() {
  return std::make_unique<HeadlessDisplay>();
}

}  // namespace softboard
