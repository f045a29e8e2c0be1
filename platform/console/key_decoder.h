#pragma once

#include <deque>
#include <string_view>

// Turns the bytes a terminal sends into the key codes of the old console: characters as typed,
// Enter 13, Backspace 8, and for cursor and function keys two codes (0xE0 or 0, then the key's
// scan code). Holds no I/O: time is told to it through flush().
class KeyDecoder {
 public:
  // Decodes bytes, carrying an unfinished sequence over to the next call; codes go to out.
  void Feed(std::string_view bytes, std::deque<int>& out);
  // No further byte came in time (or will ever come): a lone Esc becomes the Esc key, Esc and
  // '[' or 'O' become Alt+[ and Alt+O; a longer unfinished sequence is dropped.
  void Flush(std::deque<int>& out);
  // True while a sequence is started but not finished.
  bool Pending() const { return state_ != State::kGround; }
  // Shown each two-code key (prefix, scan) as it is decoded; one it returns
  // true for is left out of the codes. Null: none.
  using Watcher = bool (*)(int prefix, int scan, void* context);
  void Watch(Watcher watcher, void* context) {
    watcher_ = watcher;
    watcher_context_ = context;
  }

 private:
  // kApc: inside an application program command (ESC _ ... ESC \), which
  // only a terminal's answer (to a graphics query) sends.
  enum class State { kGround, kEscape, kAltEscape, kCsi, kSs3, kLinuxFn, kApc, kApcEscape };
  void FeedByte(unsigned char byte, std::deque<int>& out);
  void Finish(unsigned char final_byte, std::deque<int>& out);
  void Emit(int prefix, int scan, std::deque<int>& out);

  State state_ = State::kGround;
  int length_ = 0;       // parameter and intermediate bytes seen after the introducer
  int first_param_ = 0;  // number before the first ';', capped
  bool in_first_param_ = true;
  bool unknown_ = false;  // private marker, intermediate or too long: dropped at its end
  Watcher watcher_ = nullptr;
  void* watcher_context_ = nullptr;
};
