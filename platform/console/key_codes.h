// The old console's key codes, as _getch returns them: a character, or for a
// key with none of its own two codes, a prefix (0, or 0xE0 for the keys of
// the separate cursor block) then the key's scan code. One list for the
// console's decoder, the window and the displays that queue keys.
#pragma once

namespace keys {

constexpr int kEsc = 27;
constexpr int kEnter = 13;
constexpr int kBackspace = 8;
constexpr int kTab = 9;

struct Key {
  int prefix;
  int scan;  // 0: no key
};
constexpr int kPlain = 0;        // the prefix of F1-F10 and Shift+Tab
constexpr int kExtended = 0xE0;  // the prefix of the cursor block, F11 and F12
constexpr Key kNone{kPlain, 0};
constexpr Key kUp{kExtended, 0x48}, kDown{kExtended, 0x50};
constexpr Key kLeft{kExtended, 0x4B}, kRight{kExtended, 0x4D};
constexpr Key kHome{kExtended, 0x47}, kEnd{kExtended, 0x4F};
constexpr Key kPageUp{kExtended, 0x49}, kPageDown{kExtended, 0x51};
constexpr Key kInsert{kExtended, 0x52}, kDelete{kExtended, 0x53};
constexpr Key kF11{kExtended, 0x85}, kF12{kExtended, 0x86};
constexpr Key kShiftTab{kPlain, 0x0F};
// F1..F10: scan codes 0x3B..0x44.
constexpr Key FunctionKey(int n) {
  return {kPlain, 0x3A + n};
}

}  // namespace keys
