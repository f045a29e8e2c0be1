// What the rest of the program that shares the console's terminal (the
// board, whose displays read it too) may ask of the console. The first two
// on POSIX only.
#pragma once

#include <string_view>

// Bytes someone else read from the terminal (a display, while it waited for
// the answers to its questions: keys typed meanwhile), decoded as if the
// console had read them.
void ConsoleFeedInput(std::string_view bytes);

// Shown every two-code key (prefix, scan) decoded from the terminal before it
// is queued; a key the watcher returns true for is not queued (a display
// acting on F12 itself). One watcher at a time; null: none.
using ConsoleKeyWatcher = bool (*)(int prefix, int scan, void* context);
void ConsoleWatchKeys(ConsoleKeyWatcher watcher, void* context);

// Puts the terminal's settings back if the console took them, as the library
// does at shutdown; the next key read takes them again.
void ConsoleGiveBackTerminal();
