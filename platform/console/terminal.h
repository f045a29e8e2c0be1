// A terminal's keys taken one at a time, and its settings always put back.
#pragma once

// Puts the terminal on fd into key-at-a-time input without echo (signal keys
// still work, output is untouched), for as long as someone holds it: each
// call returns a hold, ended by TerminalGiveKeysBack, and the user's settings
// come back with the last. They also come
// back at exit, on every signal that ends the process and while it is stopped
// (Ctrl+Z), and are taken again when it goes on. Holds are counted per
// terminal, so the console (on standard input) and a display (on /dev/tty)
// may hold the same one. -1, and nothing held, when fd is no terminal. fd may
// be closed afterwards.
int TerminalTakeKeys(int fd);

// Ends a hold (-1: none).
void TerminalGiveKeysBack(int hold);
