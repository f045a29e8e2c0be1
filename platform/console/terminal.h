#pragma once

// Puts the terminal on fd into key-at-a-time input without echo (signal keys still work,
// output is untouched) and puts the user's settings back on every way out of the program:
// exit, a terminating signal, and while stopped by Ctrl+Z. Does nothing if fd is no terminal.
void TerminalTakeKeys(int fd);
