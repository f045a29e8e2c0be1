#include "key_decoder.h"

#include "key_codes.h"

#include <algorithm>

namespace {

using namespace keys;

constexpr int kMaxSequenceLength = 16;  // longer parameter runs are not keys

// Keys named by their final letter (CSI or SS3); a-d are rxvt's modified arrows.
Key LetterKey(unsigned char c) {
  switch (c) {
    case 'A':
    case 'a': return kUp;
    case 'B':
    case 'b': return kDown;
    case 'C':
    case 'c': return kRight;
    case 'D':
    case 'd': return kLeft;
    case 'H': return kHome;
    case 'F': return kEnd;
    case 'P':
    case 'Q':
    case 'R':
    case 'S': return FunctionKey(c - 'P' + 1);
    case 'Z': return kShiftTab;
    default: return kNone;
  }
}

// Keys of the form CSI n ~ (and rxvt's modified forms ending in ^, @ or $).
Key NumberedKey(int n) {
  switch (n) {
    case 1:
    case 7: return kHome;
    case 4:
    case 8: return kEnd;
    case 2: return kInsert;
    case 3: return kDelete;
    case 5: return kPageUp;
    case 6: return kPageDown;
    case 23: return kF11;
    case 24: return kF12;
    default:
      if (n >= 11 && n <= 15) return FunctionKey(n - 10);
      if (n >= 17 && n <= 21) return FunctionKey(n - 11);
      return kNone;
  }
}

// Alt+key: the old console gave 0 and the key's scan code, never Esc. Letters in
// either case, digits, and the punctuation of the main block; 0: no code.
int AltScanCode(unsigned char c) {
  static constexpr char kRows[][14] = {"qwertyuiop[]", "asdfghjkl;'`", "\\zxcvbnm,./"};
  static constexpr int kRowStarts[] = {0x10, 0x1E, 0x2B};
  if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
  if (c >= '1' && c <= '9') return 0x78 + (c - '1');
  switch (c) {
    case '0': return 0x81;
    case '-': return 0x82;
    case '=': return 0x83;
    case kEsc: return 0x01;
    case 0x7F:
    case 0x08: return 0x0E;  // Backspace
    case '\r':
    case '\n': return 0x1C;  // Enter
    case '\t': return 0xA5;
    default: break;
  }
  for (int row = 0; row < 3; ++row) {
    for (int i = 0; kRows[row][i]; ++i)
      if (kRows[row][i] == char(c)) return kRowStarts[row] + i;
  }
  return 0;
}

bool IsNumberedFinal(unsigned char c) {
  return c == '~' || c == '^' || c == '@' || c == '$';
}

}  // namespace

void KeyDecoder::Emit(int prefix, int scan, std::deque<int>& out) {
  if (scan == 0) return;
  if (watcher_ != nullptr && watcher_(prefix, scan, watcher_context_)) return;
  out.push_back(prefix);
  out.push_back(scan);
}

void KeyDecoder::Feed(std::string_view bytes, std::deque<int>& out) {
  for (char c : bytes) FeedByte(static_cast<unsigned char>(c), out);
}

void KeyDecoder::Flush(std::deque<int>& out) {
  if (state_ == State::kEscape) {
    out.push_back(kEsc);
  } else if (state_ == State::kAltEscape) {
    Emit(0, AltScanCode(kEsc), out);
  } else if ((state_ == State::kCsi || state_ == State::kSs3) && length_ == 0) {
    Emit(0, AltScanCode(state_ == State::kCsi ? '[' : 'O'), out);  // Alt+[, Alt+Shift+O
  }
  state_ = State::kGround;
}

void KeyDecoder::FeedByte(unsigned char b, std::deque<int>& out) {
  switch (state_) {
    case State::kGround:
      if (b == kEsc) {
        state_ = State::kEscape;
      } else if (b == '\r' || b == '\n') {
        out.push_back(kEnter);
      } else if (b == 0x7F || b == 0x08) {
        out.push_back(kBackspace);
      } else if (b == 0) {
        out.insert(out.end(), {0, 3});  // Ctrl+@, as the old console gives it
      } else {
        out.push_back(b);
      }
      return;
    case State::kEscape:
      // ESC _ opens a terminal's answer (to a graphics query), not Alt+_,
      // which has no code of its own.
      if (b == '_') {
        state_ = State::kApc;
        return;
      }
      if (b == '[' || b == 'O') {
        state_ = b == '[' ? State::kCsi : State::kSs3;
        length_ = first_param_ = 0;
        in_first_param_ = true;
        unknown_ = false;
        return;
      }
      // Esc and then at once another key is that key with Alt; a key with no Alt
      // code of its own comes as itself. A second Esc may be Alt+Esc or begin an
      // Alt+arrow (rxvt sends Esc Esc [ A): the next byte tells.
      if (b == kEsc) {
        state_ = State::kAltEscape;
        return;
      }
      state_ = State::kGround;
      if (const int scan = AltScanCode(b)) return Emit(0, scan, out);
      FeedByte(b, out);
      return;
    case State::kAltEscape:
      if (b == '[' || b == 'O') {
        state_ = State::kEscape;  // the key itself, Alt aside
        return FeedByte(b, out);
      }
      Emit(0, AltScanCode(kEsc), out);
      state_ = State::kGround;
      return FeedByte(b, out);
    case State::kApc:
      // Swallowed to its end: BEL, or ST (ESC and a backslash). ESC and any
      // other byte starts a new sequence.
      if (b == kEsc) state_ = State::kApcEscape;
      if (b == 0x07) state_ = State::kGround;
      return;
    case State::kApcEscape:
      state_ = b == '\\' ? State::kGround : State::kEscape;
      if (b != '\\') FeedByte(b, out);
      return;
    case State::kLinuxFn:
      if (b >= 0x40 && b <= 0x7E) {
        state_ = State::kGround;
        if (b >= 'A' && b <= 'E') Emit(0, FunctionKey(b - 'A' + 1).scan, out);
        return;
      }
      break;
    case State::kCsi:
    case State::kSs3:
      if (state_ == State::kCsi && b == '[' && length_ == 0) {
        state_ = State::kLinuxFn;
        return;
      }
      if (b >= 0x30 && b <= 0x3F) {
        if (++length_ > kMaxSequenceLength) unknown_ = true;
        if (b >= '0' && b <= '9') {
          if (in_first_param_) first_param_ = std::min(first_param_ * 10 + (b - '0'), 100000);
        } else if (b == ';' || b == ':') {
          in_first_param_ = false;
        } else {
          unknown_ = true;  // private marker: a report, not a key
        }
        return;
      }
      if (b == '$' && state_ == State::kCsi && length_ > 0) {
        Finish(b, out);
        return;
      }
      if (b >= 0x20 && b <= 0x2F) {
        ++length_;
        unknown_ = true;
        return;
      }
      if (b >= 0x40 && b <= 0x7E) {
        Finish(b, out);
        return;
      }
      break;
  }
  // A byte that cannot continue the sequence: give up on it and read the byte afresh.
  Flush(out);
  FeedByte(b, out);
}

void KeyDecoder::Finish(unsigned char final_byte, std::deque<int>& out) {
  State state = state_;
  bool numbered = state == State::kCsi && IsNumberedFinal(final_byte);
  state_ = State::kGround;
  if (unknown_) return;
  const Key key = numbered ? NumberedKey(first_param_) : LetterKey(final_byte);
  if (numbered) return Emit(key.prefix, key.scan, out);
  // CSI 1;m X is key X with modifiers m; another first number is a report (cursor position).
  if (state == State::kSs3 || first_param_ <= 1) Emit(key.prefix, key.scan, out);
}
