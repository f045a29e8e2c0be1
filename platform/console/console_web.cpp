// The console's keys in a web page: the page hands each key's codes to
// console_queue_key, and _getch, which must wait as it does on a terminal,
// gives the browser back its thread until one comes (the program's blocking
// calls are turned into waits by the compiler's Asyncify pass).
#include <emscripten.h>

#include <deque>

#include "conio.h"
#include "console_keys.h"

namespace {

std::deque<int>& Queue() {
  static std::deque<int> queue;
  return queue;
}

}  // namespace

// Returns once the page has queued a key (see web/page.js).
// clang-format off
EM_ASYNC_JS(void, WaitForPageKey, (), { await Module.softboardNextKey(); });
// clang-format on

extern "C" int _getch(void) {
  while (Queue().empty()) WaitForPageKey();
  const int code = Queue().front();
  Queue().pop_front();
  return code;
}

extern "C" int _kbhit(void) {
  return !Queue().empty();
}

extern "C" EMSCRIPTEN_KEEPALIVE void console_queue_key(int code) {
  if (code >= 0 && code <= 255) Queue().push_back(code);
}

// A page always may send keys.
extern "C" int console_input_ended(void) {
  return 0;
}

// A page has no terminal settings to give back.
void ConsoleGiveBackTerminal() {}
