#include "conio.h"

#if defined(_WIN32)
#include <windows.h>

#include "console_keys.h"

// Window keys go into the console's own input buffer, so the runtime's _getch returns them.
// A two-code key is written as one key event once its scan code arrives.
void console_queue_key(int code) {
  static int prefix = -1;  // 0 or 0xE0 waiting for its scan code
  if (code < 0 || code > 255) return;
  if (prefix < 0 && (code == 0 || code == 0xE0)) {
    prefix = code;
    return;
  }
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  key.bKeyDown = TRUE;
  key.wRepeatCount = 1;
  if (prefix >= 0) {
    WORD scan = code == 0x85 ? 0x57 : code == 0x86 ? 0x58 : WORD(code);  // F11, F12
    key.wVirtualScanCode = scan;
    key.wVirtualKeyCode = WORD(MapVirtualKeyW(scan, MAPVK_VSC_TO_VK));
    if (prefix == 0xE0) key.dwControlKeyState = ENHANCED_KEY;
    prefix = -1;
  } else {
    key.uChar.AsciiChar = CHAR(code);
  }
  DWORD written = 0;
  WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &written);
}

int console_input_ended(void) {
  return 0;
}

// The runtime's console needs no settings of ours.
void ConsoleGiveBackTerminal() {}

#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <utility>

#include "console_internal.h"
#include "console_keys.h"
#include "key_decoder.h"
#include "terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
using Lock = std::unique_lock<std::mutex>;
// How long a lone Esc waits for the rest of a sequence: terminals send a key's sequence in one
// write, so anything slower is a person pressing keys.
constexpr auto kEscWait = std::chrono::milliseconds(50);
// Codes the queue holds, as the old console's buffer held a few dozen keys: a flood (a terminal
// answering with garbage, a pasted page) cannot put Esc seconds behind it.
constexpr size_t kQueueBound = 64;

// Nothing here runs before the program first asks for a key: until then the
// terminal is the program's own, as it left it. Every call takes `mutex`: a
// host may read keys on one thread while another draws (a window's keys are
// queued from the swap).
struct Console {
  std::mutex mutex;
  std::deque<int> queue;  // decoded codes, terminal and window keys alike, oldest first
  KeyDecoder decoder;
  bool input_checked = false;      // standard input looked at
  bool input_open = false;         // false once standard input ended or failed
  bool keys_tried = false;         // the terminal was asked for key-at-a-time input
  int terminal_hold = -1;          // ... and is held (see terminal.h)
  Clock::time_point esc_deadline;  // when a pending sequence is given up on
  int held_prefix = -1;            // a window key's prefix, waiting for its scan code
};

bool IsPrefix(int code) {
  return code == 0 || code == 0xE0;
}

// Queues one key (a code, or a prefix and its scan code). Past the bound keys are dropped, but
// an Esc always gets in, in place of the newest key that is not one.
void Admit(Console& c, const int* codes, size_t n) {
  if (c.queue.size() + n <= kQueueBound) {
    c.queue.insert(c.queue.end(), codes, codes + n);
    return;
  }
  if (n != 1 || codes[0] != 27) return;
  for (size_t end = c.queue.size(); end > 0;) {
    const bool pair = end >= 2 && IsPrefix(c.queue[end - 2]);
    const size_t begin = end - (pair ? 2 : 1);
    if (pair || c.queue[begin] != 27) {
      c.queue.erase(c.queue.begin() + ptrdiff_t(begin), c.queue.begin() + ptrdiff_t(end));
      c.queue.push_back(27);
      return;
    }
    end = begin;
  }
}

// Queues what the decoder made, key by key.
void AdmitDecoded(Console& c, const std::deque<int>& codes) {
  for (size_t i = 0; i < codes.size();) {
    const size_t n = IsPrefix(codes[i]) && i + 1 < codes.size() ? 2 : 1;
    const int key[2] = {codes[i], n == 2 ? codes[i + 1] : 0};
    Admit(c, key, n);
    i += n;
  }
}

void Flush(Console& c) {
  std::deque<int> codes;
  c.decoder.Flush(codes);
  AdmitDecoded(c, codes);
}

Console& TheConsole() {
  static Console state;
  return state;
}

Console& Input() {
  Console& c = TheConsole();
  if (!c.input_checked) {
    c.input_checked = true;
    c.input_open = fcntl(STDIN_FILENO, F_GETFL) != -1;
  }
  return c;
}

// The console proper: standard input, its terminal taking keys one at a time.
Console& Keys() {
  Console& c = Input();
  if (!c.keys_tried && c.input_open) {
    c.keys_tried = true;
    c.terminal_hold = TerminalTakeKeys(STDIN_FILENO);
  }
  return c;
}

void EndInput(Console& c) {
  c.input_open = false;
  Flush(c);  // a script ending in Esc still ends the demo
}

// Decodes bytes of input; an Esc that may begin a sequence waits for the rest.
void Feed(Console& c, std::string_view bytes) {
  std::deque<int> codes;
  c.decoder.Feed(bytes, codes);
  AdmitDecoded(c, codes);
  if (c.decoder.Pending()) c.esc_deadline = Clock::now() + kEscWait;
}

// Waits up to timeout_ms (-1: no limit) for standard input and decodes one read of it. The
// console is unlocked while it waits and reads, so other threads' calls go on meanwhile.
void ReadInput(Console& c, int timeout_ms, Lock& lock) {
  // No more than the queue has room for: the rest waits in the terminal's own
  // buffer, not dropped. (A byte makes two codes at most, and a sequence
  // begun in the last read may end in this one.)
  const size_t room = c.queue.size() < kQueueBound ? (kQueueBound - c.queue.size()) / 2 : 0;
  if (room < 2) return;
  char bytes[256];
  pollfd fd{STDIN_FILENO, POLLIN, 0};
  lock.unlock();
  int ready = poll(&fd, 1, timeout_ms);
  const int poll_error = errno;
  ssize_t n = 0;
  if (ready > 0 && !(fd.revents & POLLNVAL))
    n = read(STDIN_FILENO, bytes, std::min(sizeof bytes, room - 1));
  const int read_error = errno;
  lock.lock();
  if (ready < 0 && poll_error != EINTR && poll_error != EAGAIN) EndInput(c);
  if (ready <= 0) return;
  if (fd.revents & POLLNVAL) return EndInput(c);
  if (n < 0 && (read_error == EINTR || read_error == EAGAIN)) return;
  if (n <= 0) return EndInput(c);
  Feed(c, {bytes, static_cast<size_t>(n)});
}

void FlushIfDue(Console& c) {
  if (c.decoder.Pending() && Clock::now() >= c.esc_deadline) Flush(c);
}

int MsUntil(Clock::time_point t) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

void ConsoleReset() {
  Console& c = TheConsole();
  Lock lock(c.mutex);
  c.queue.clear();
  c.decoder = KeyDecoder{};
  c.held_prefix = -1;
  c.input_checked = false;
}

extern "C" int _kbhit(void) {
  Lock lock(TheConsole().mutex);
  Console& c = Keys();
  if (c.input_open && c.queue.size() + 4 <= kQueueBound) {
    // Read while there is room, so that an Esc is not left behind keys already queued. And
    // read before giving up on a pending Esc: the rest of its sequence may have come in while
    // the program was busy, and an arrow must not turn into Esc.
    ReadInput(c, 0, lock);
    FlushIfDue(c);
  }
  return !c.queue.empty();
}

extern "C" int _getch(void) {
  Lock lock(TheConsole().mutex);
  Console& c = Keys();
  while (c.queue.empty()) {
    if (!c.input_open) return -1;
    ReadInput(c, c.decoder.Pending() ? MsUntil(c.esc_deadline) : -1, lock);
    FlushIfDue(c);
  }
  int code = c.queue.front();
  c.queue.pop_front();
  return code;
}

extern "C" void console_queue_key(int code) {
  if (code < 0 || code > 255) return;
  Console& c = TheConsole();
  Lock lock(c.mutex);
  // A prefix comes alone, its scan code in the next call: it is held until
  // then, so that a reader on another thread never finds half a key, and both
  // get in, or neither.
  if (c.held_prefix < 0 && IsPrefix(code)) {
    c.held_prefix = code;
    return;
  }
  if (c.held_prefix >= 0) {
    const int key[2] = {std::exchange(c.held_prefix, -1), code};
    return Admit(c, key, 2);
  }
  Admit(c, &code, 1);
}

extern "C" int console_input_ended(void) {
  Lock lock(TheConsole().mutex);
  return !Input().input_open;
}

void ConsoleFeedInput(std::string_view bytes) {
  Lock lock(TheConsole().mutex);
  Feed(TheConsole(), bytes);
}

void ConsoleWatchKeys(ConsoleKeyWatcher watcher, void* context) {
  Lock lock(TheConsole().mutex);
  TheConsole().decoder.Watch(watcher, context);
}

void ConsoleGiveBackTerminal() {
  Console& c = TheConsole();
  Lock lock(c.mutex);
  TerminalGiveKeysBack(c.terminal_hold);
  c.terminal_hold = -1;
  c.keys_tried = false;
}
#endif
